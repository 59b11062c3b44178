#pragma once
// What the card's file systems still remember, gathered while the General pass reads: the
// volumes (media/fatgeometry.h) and, from every sector whose structure is that of a directory,
// its entries (FAT short and long names, live or deleted, with their checksums; exFAT entry
// sets with their set checksums). Nothing is read twice: the pass hands each sector over with
// the bytes around it. A found file whose first sector is the first sector of an entry's first
// cluster is joined to that entry (its exact size, name and time), and after the passes the
// fragment stage (results/fragments.h) puts files that the card had split back together.
//
// Every field is checked against the volume before an entry is kept: reserved bytes, attribute
// values, date and time ranges, checksums, cluster numbers and sizes within the volume. Memory
// is proportional to the entries kept, and bounded.
#include "media/fatgeometry.h"
#include "results/remembered.h"

#include <QList>
#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace lumafind {

class FragmentReader;
class SectorReader;
struct ExportItem;

// The entries of a directory sector of a FAT12/16/32 volume: all 16 slots must be entries
// (or unused) for the sector to count. `sector` is the sector's bytes; `before` bytes before
// it are at hand (a long name may begin in the sector before). Files only; directories go to
// *dirs when given (their first clusters).
std::vector<RememberedFile> fatDirectoryEntries(const FatVolume &v, const unsigned char *sector, size_t before,
                                                uint64_t sectorNumber, std::vector<uint32_t> *dirs = nullptr);
// The exFAT file entry sets that start in the sector; `after` bytes from the sector's start on
// are at hand (a set may run into the next sector).
std::vector<RememberedFile> exfatDirectoryEntries(const FatVolume &v, const unsigned char *sector, size_t after,
                                                  uint64_t sectorNumber, std::vector<uint32_t> *dirs = nullptr);
// The checksum a FAT long name carries of its short name.
uint8_t lfnChecksum(const unsigned char *shortName);
// The checksum of an exFAT entry set (its bytes, 32 per entry).
uint16_t exfatSetChecksum(const unsigned char *set, size_t entries);

class Remnants {
public:
    explicit Remnants(size_t maxEntries = size_t(1) << 20);

    // ---- The General pass, on the scan's thread ----
    void beginScan(uint64_t firstSector, uint64_t endSector, uint64_t mediumBytes);
    // A non-blank sector of the range in order, with `before` bytes before it and `after`
    // from its start on.
    void sector(uint64_t s, const unsigned char *bytes, size_t before, size_t after);
    // The first sector sector() must see whatever it holds; before it, a sector that
    // mayBeDirectory() turns away teaches it nothing and need not be handed over.
    uint64_t mustSee() const { return finder_ ? wanted_ : UINT64_MAX; }
    bool mayBeDirectory(const unsigned char *b) const
    {
        return (fatKnown_ && fatDirectoryLike(b)) || (exfatKnown_ && exfatDirectoryLike(b));
    }
    // The pass read its range: the entries are all known.
    void endDirectories();
    // A file the scan found (either pass).
    void noteFound(uint64_t startByte, uint64_t carvedBytes, const QString &type);

    // ---- After the passes: fragmented files put back together (results/fragments.h) ----
    // However many entries a card holds, the stage reads at most `readBound` bytes of the medium
    // (0: the medium's size and 1 GiB more, about one more read of the card); the files it did
    // not come to stay as the scan carved them.
    void resolveFragments(SectorReader &medium, uint64_t mediumBytes, const std::function<bool()> &cancel = {},
                          uint64_t readBound = 0);

    // ---- Anyone, any thread ----
    std::vector<FatVolume> volumes() const;
    size_t entryCount() const;
    bool directoriesComplete() const { return complete_; }
    bool fragmentsResolved() const { return resolved_; }
    // The entry a found file of `type` starting at startByte is joined to, if any: of several
    // that name the same cluster, the one of the file's own type, then the newest.
    std::optional<RememberedFile> entryFor(uint64_t startByte, const QString &type) const;
    // The pieces the fragment stage found for the file starting there (empty: none, it is
    // contiguous or stayed carved).
    std::vector<Piece> piecesFor(uint64_t startByte) const;
    // Entries whose first cluster is the start of no found file: remembered but not found.
    QList<RememberedFile> unmatched() const;
    // Entries given up because the bound was reached.
    uint64_t entriesDropped() const;

private:
    // A cheap look at a sector: its first slot is a FAT entry, or one of its slots opens an
    // exFAT entry set.
    static bool fatDirectoryLike(const unsigned char *b)
    {
        const unsigned attr = b[11];
        return b[0] != 0 && !(attr & 0xC0) && ((attr & 0x3F) == 0x0F || !(b[12] & ~0x18u));
    }
    static bool exfatDirectoryLike(const unsigned char *b)
    {
        for (size_t i = 0; i < 512; i += 32)
            if ((b[i] & 0x7F) == 0x05)
                return true;
        return false;
    }
    // Entries kept (under the lock), as far as the bound allows.
    void keep(std::vector<RememberedFile> &&found, const std::vector<uint32_t> &dirs, const FatVolume &v);
    // A directory's clusters need not follow each other on the medium: an exFAT entry set that
    // runs past the end of its cluster goes on in the next one the FAT names, and a FAT long
    // name at the start of a cluster may begin at the end of the previous one. Joined after
    // the pass.
    void joinCrossingSets(FragmentReader &reader);
    void joinLongNames(FragmentReader &reader);

    const size_t maxEntries_;
    std::unique_ptr<VolumeFinder> finder_;  // the scan thread's
    uint64_t wanted_ = 0;                   // the next sector the finder wants to see
    bool fatKnown_ = false, exfatKnown_ = false;  // volumes of the kind found so far
    mutable std::mutex mutex_;
    std::vector<RememberedFile> entries_;
    std::multimap<uint64_t, size_t> byFirstByte_;
    std::vector<uint64_t> dirClusterBytes_;  // first bytes of directory clusters seen
    struct Crossing {
        uint64_t sector;  // where the set starts, and its slot there
        size_t slot;
    };
    std::vector<Crossing> crossings_;  // the scan thread's
    std::vector<uint64_t> clusterStarts_;  // FAT16/32 directory sectors that start a cluster
    std::vector<FatVolume> volumes_;
    uint64_t dropped_ = 0;
    struct Found {
        uint64_t start = 0, carved = 0;
        QString type;
    };
    std::vector<Found> found_;
    std::map<uint64_t, std::vector<Piece>> pieces_;
    std::atomic<bool> complete_{false}, resolved_{false};
};

// Gives a found file what the card remembers of it: its entry and, after the fragment stage,
// its pieces. Without remnants (or none for it) the item is left as it is.
void joinRemembered(ExportItem &item, const Remnants *remnants);

} // namespace lumafind
