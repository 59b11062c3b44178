#pragma once
// Where the FAT and exFAT volumes of a scanned range lie, and how their clusters map to the
// medium: read from the boot sectors (or their backups) and the partition tables as a pass
// reads them, in order, so learning the geometry costs no read of its own. A range that starts
// with a boot sector is one volume; one that starts with an MBR or a GPT leads to the volumes
// of its partitions. Nothing found: plain carving.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <map>
#include <vector>

namespace lumafind {

struct FatVolume {
    enum Kind { Fat12, Fat16, Fat32, ExFat };
    Kind kind = Fat32;
    uint64_t firstByte = 0;       // the volume's first byte on the medium
    uint64_t bytes = 0;           // its length
    uint32_t sectorBytes = 512;   // its own sector size
    uint64_t clusterBytes = 0;
    uint64_t heapByte = 0;        // medium byte of cluster 2
    uint64_t fatByte = 0;         // medium byte of the (first) FAT
    uint64_t clusterCount = 0;    // clusters 2 .. clusterCount + 1 exist
    uint64_t rootDirByte = 0;     // FAT12/16: the fixed root directory on the medium
    uint64_t rootDirBytes = 0;
    uint32_t rootCluster = 0;     // FAT32 and exFAT
    bool fromBackup = false;      // the main boot sector was damaged

    bool hasCluster(uint64_t c) const { return c >= 2 && c - 2 < clusterCount; }
    uint64_t clusterByte(uint64_t c) const { return heapByte + (c - 2) * clusterBytes; }
    uint64_t heapEnd() const { return heapByte + clusterCount * clusterBytes; }
    // Where a directory may lie: the fixed root (FAT12/16) and the cluster heap.
    uint64_t directoriesFrom() const { return rootDirBytes ? rootDirByte : heapByte; }
    const char *kindName() const;
};

// A boot sector's volume, when the bytes are a valid FAT12/16/32 or exFAT boot sector; the
// volume starts at firstByte on the medium and the medium holds mediumBytes.
std::optional<FatVolume> parseBootSector(const unsigned char *sector, size_t size, uint64_t firstByte, uint64_t mediumBytes);

// The partitions an MBR names (first sector and sector count, 512-byte sectors); empty when
// the sector is no MBR. *gpt is set when it is a protective MBR.
struct PartitionSpan {
    uint64_t firstSector = 0, sectors = 0;
};
std::vector<PartitionSpan> parseMbr(const unsigned char *sector, bool *gpt);

// Learns the volumes of a range from its sectors as a pass hands them over, in order.
class VolumeFinder {
public:
    VolumeFinder(uint64_t firstSector, uint64_t endSector, uint64_t mediumBytes);
    // A sector of the range (blank sectors may be left out). Cheap for every other sector.
    void sector(uint64_t s, const unsigned char *bytes);
    // The first sector after the last one seen that could still teach it something (a boot
    // sector, a backup, a partition table or its entries); sectors before it may be left out.
    uint64_t nextWanted() const;
    const std::vector<FatVolume> &volumes() const { return volumes_; }
    // The volume whose directories may lie at medium byte b, or null.
    const FatVolume *volumeAt(uint64_t b) const;

private:
    void expectVolume(uint64_t sector);
    void gptEntries(uint64_t s, const unsigned char *bytes);

    uint64_t first_, end_, mediumBytes_;
    uint64_t seen_ = 0;  // one past the last sector seen
    // Sectors where a boot sector (or its backup) may stand, and the volume start each serves.
    std::map<uint64_t, uint64_t> expected_;
    uint64_t gptEntriesFrom_ = UINT64_MAX, gptEntriesEnd_ = 0;
    uint32_t gptEntrySize_ = 0;
    std::vector<FatVolume> volumes_;
};

} // namespace lumafind
