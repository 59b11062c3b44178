#pragma once
// Header checks: a signature hit starts a file only when the bytes after it make sense for its
// format (and, for streams whose first packet recurs, when it is not the next packet of the
// stream just before it). Each check reads a few hundred bytes at most, all already in memory;
// a check may also name the real type of a hit (a TIFF whose directory says NIKON is a NEF).
#include <QString>
#include <cstddef>

namespace lumafind {

// The bytes around a hit: the hit's sector starts at data + at; what precedes it (the medium
// just before, up to a few KiB) and what follows it (within the scan's range) are in data too.
struct HitView {
    const unsigned char *data = nullptr;
    size_t size = 0;
    size_t at = 0;
    const unsigned char *sector() const { return data + at; }
    size_t after() const { return size - at; }   // bytes from the sector's start on
    size_t before() const { return at; }
};

struct HeaderCheck {
    bool ok = true;     // the hit starts a file
    QString type;       // a finer type named by the structure ("" keeps the record's)
};

// The check of the family that type `ext` belongs to; a type without one passes.
HeaderCheck checkHeader(const QString &ext, const HitView &view);

} // namespace lumafind
