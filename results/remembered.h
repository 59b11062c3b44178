#pragma once
// What a card's file system still remembers of a file (from a directory entry, live or
// deleted), and the pieces a file is put back together from when it was split on the card.
#include <QString>
#include <cstdint>
#include <vector>

namespace lumafind {

struct RememberedFile {
    // The long name, or the short one; a deleted short name whose first letter no long name
    // gives back starts with '_'.
    QString name;
    uint64_t firstByte = 0;      // the medium byte its first cluster starts at
    uint64_t size = 0;           // its exact length
    uint32_t firstCluster = 0;
    // When it was last modified: the date and time fields as written (seconds since 1970 when
    // read as UTC), with the zone when the card recorded one (exFAT), else local time.
    qint64 modifiedWall = 0;     // 0: unknown
    int offsetMinutes = 0;
    bool offsetKnown = false;
    bool deleted = false;
    bool exfat = false;
    bool contiguous = false;     // exFAT: the file's clusters are known to follow each other
    bool lostFirstLetter = false;
    uint64_t entrySector = 0;    // the sector the entry was read from, and its slot there
    int entrySlot = 0;

    // Seconds since 1970 (UTC) of the modification time.
    qint64 modifiedUtc() const;
    // ISO 8601 with the offset (the recorded one, else the local one then); empty when unknown.
    QString modifiedIso() const;
    // The name's extension in capitals ("" when none).
    QString extension() const;
};

// A stretch of a file on the medium: the file's bytes follow its pieces in order.
struct Piece {
    uint64_t mediumByte = 0;
    uint64_t bytes = 0;
    bool operator==(const Piece &o) const { return mediumByte == o.mediumByte && bytes == o.bytes; }
};

} // namespace lumafind
