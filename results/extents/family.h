#pragma once
// The format families: for each, its end finder and its header check, in one table entry
// (extent.cpp). Adding a format means an entry here, its database lines and its tests.
#include "check.h"
#include "extent.h"

namespace lumafind {

using HeaderChecker = HeaderCheck (*)(const HitView &);

struct Family {
    const char *name;
    EndFinder end;           // null: the type is carved-only (reason says why)
    HeaderChecker check;     // null: every hit passes
    const char *reason = nullptr;  // carved-only: why; with a finder: what its structure leaves out, if anything
    // The finder walks every byte up to the end it answers (a JPEG's segments and entropy data,
    // a transport stream's packets): whatever starts inside belongs to the file. Otherwise only
    // the anchors the finder notes do.
    bool walksAll = false;
};

// The family of a database type (case-insensitive); null when the type has none.
const Family *familyOf(const QString &ext);
// Every type the table knows, for the formats document.
QStringList knownTypes();

HeaderCheck jpegCheck(const HitView &v);
HeaderCheck tiffCheck(const HitView &v);
HeaderCheck isoMediaCheck(const HitView &v);
HeaderCheck m2tsCheck(const HitView &v);
HeaderCheck tsCheck(const HitView &v);
HeaderCheck mp3Check(const HitView &v);
HeaderCheck bmpCheck(const HitView &v);
HeaderCheck riffCheck(const HitView &v);
HeaderCheck gzipCheck(const HitView &v);
HeaderCheck psdCheck(const HitView &v);
// Four bytes of text, as formats name their boxes and chunks.
inline bool printable4(const unsigned char *p)
{
    for (int i = 0; i < 4; ++i)
        if (p[i] < 0x20 || p[i] > 0x7E)
            return false;
    return true;
}

// The length of an MPEG audio frame from its four header bytes; 0 when they are no header.
size_t mpegAudioFrame(const unsigned char *header);

} // namespace lumafind
