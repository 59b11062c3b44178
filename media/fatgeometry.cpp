#include "fatgeometry.h"

#include <QtEndian>
#include <cstring>

namespace lumafind {

namespace {
constexpr uint64_t kSector = 512;
// Volumes kept at most: every sector of the pass is looked up among them.
constexpr size_t kMaxVolumes = 128;

uint16_t le16(const unsigned char *p) { return qFromLittleEndian<quint16>(p); }
uint32_t le32(const unsigned char *p) { return qFromLittleEndian<quint32>(p); }
uint64_t le64(const unsigned char *p) { return qFromLittleEndian<quint64>(p); }

bool powerOfTwo(uint64_t v) { return v != 0 && (v & (v - 1)) == 0; }

std::optional<FatVolume> exfatBoot(const unsigned char *b, uint64_t firstByte)
{
    if (std::memcmp(b + 3, "EXFAT   ", 8) != 0)
        return std::nullopt;
    for (int i = 11; i < 64; ++i)
        if (b[i] != 0)
            return std::nullopt;
    const unsigned bpsShift = b[108], spcShift = b[109];
    if (bpsShift < 9 || bpsShift > 12 || bpsShift + spcShift > 25 || (b[110] != 1 && b[110] != 2))
        return std::nullopt;
    const uint64_t sectorBytes = uint64_t(1) << bpsShift;
    const uint64_t volumeSectors = le64(b + 72);
    const uint64_t fatOffset = le32(b + 80), fatLength = le32(b + 84);
    const uint64_t heapOffset = le32(b + 88), clusterCount = le32(b + 92);
    const uint64_t root = le32(b + 96);
    const uint64_t spc = uint64_t(1) << spcShift;
    // Every region inside the volume, in order; the counts are 32-bit, so no sum below wraps,
    // and under 2^52 sectors of at most 2^12 bytes its length fits 64 bits.
    if (volumeSectors == 0 || volumeSectors >= (uint64_t(1) << 52) || fatOffset < 24 || fatLength == 0
        || heapOffset < fatOffset + fatLength * b[110] || clusterCount == 0 || heapOffset + clusterCount * spc > volumeSectors
        || root < 2 || root - 2 >= clusterCount)
        return std::nullopt;
    FatVolume v;
    v.kind = FatVolume::ExFat;
    v.firstByte = firstByte;
    v.bytes = volumeSectors * sectorBytes;
    v.sectorBytes = uint32_t(sectorBytes);
    v.clusterBytes = spc * sectorBytes;
    v.heapByte = firstByte + heapOffset * sectorBytes;
    v.fatByte = firstByte + fatOffset * sectorBytes;
    v.clusterCount = clusterCount;
    v.rootCluster = uint32_t(root);
    return v;
}

std::optional<FatVolume> fatBoot(const unsigned char *b, uint64_t firstByte)
{
    if (!(b[0] == 0xEB && b[2] == 0x90) && b[0] != 0xE9)
        return std::nullopt;
    const uint64_t bps = le16(b + 11), spc = b[13], reserved = le16(b + 14), fats = b[16];
    const uint64_t rootEntries = le16(b + 17), media = b[21];
    const uint64_t total = le16(b + 19) ? le16(b + 19) : le32(b + 32);
    const uint64_t fatSize = le16(b + 22) ? le16(b + 22) : le32(b + 36);
    if ((bps != 512 && bps != 1024 && bps != 2048 && bps != 4096) || !powerOfTwo(spc) || spc > 128 || reserved == 0
        || fats == 0 || fats > 4 || (media != 0xF0 && media < 0xF8) || total == 0 || fatSize == 0)
        return std::nullopt;
    const uint64_t rootSectors = (rootEntries * 32 + bps - 1) / bps;
    const uint64_t meta = reserved + fats * fatSize + rootSectors;  // at most 2^16 + 4 × 2^32 + 2^11: no wrap
    if (meta >= total)
        return std::nullopt;
    const uint64_t clusters = (total - meta) / spc;
    FatVolume v;
    v.kind = clusters < 4085 ? FatVolume::Fat12 : clusters < 65525 ? FatVolume::Fat16 : FatVolume::Fat32;
    if (v.kind == FatVolume::Fat32) {
        // FAT32 keeps its root in the heap and has no 16-bit sizes.
        if (rootEntries != 0 || le16(b + 22) != 0 || le16(b + 19) != 0)
            return std::nullopt;
        v.rootCluster = le32(b + 44);
        if (v.rootCluster < 2 || v.rootCluster - 2 >= clusters)
            return std::nullopt;
    } else if (rootEntries == 0) {
        return std::nullopt;
    }
    // The FAT must be able to hold every cluster.
    const uint64_t fatBits = v.kind == FatVolume::Fat12 ? 12 : v.kind == FatVolume::Fat16 ? 16 : 32;
    if (fatSize * bps * 8 < (clusters + 2) * fatBits)
        return std::nullopt;
    v.firstByte = firstByte;
    v.bytes = total * bps;
    v.sectorBytes = uint32_t(bps);
    v.clusterBytes = spc * bps;
    v.heapByte = firstByte + meta * bps;
    v.fatByte = firstByte + reserved * bps;
    v.clusterCount = clusters;
    if (rootSectors) {
        v.rootDirByte = firstByte + (reserved + fats * fatSize) * bps;
        v.rootDirBytes = rootSectors * bps;
    }
    return v;
}
} // namespace

const char *FatVolume::kindName() const
{
    switch (kind) {
    case Fat12: return "FAT12";
    case Fat16: return "FAT16";
    case Fat32: return "FAT32";
    case ExFat: return "exFAT";
    }
    return "";
}

std::optional<FatVolume> parseBootSector(const unsigned char *sector, size_t size, uint64_t firstByte, uint64_t mediumBytes)
{
    if (size < kSector || sector[510] != 0x55 || sector[511] != 0xAA)
        return std::nullopt;
    std::optional<FatVolume> v = exfatBoot(sector, firstByte);
    if (!v)
        v = fatBoot(sector, firstByte);
    // A volume whose heap would start beyond the medium describes some other disk.
    if (v && mediumBytes != UINT64_MAX && v->heapByte >= mediumBytes)
        return std::nullopt;
    return v;
}

std::vector<PartitionSpan> parseMbr(const unsigned char *sector, bool *gpt)
{
    *gpt = false;
    std::vector<PartitionSpan> out;
    if (sector[510] != 0x55 || sector[511] != 0xAA)
        return out;
    for (int i = 0; i < 4; ++i) {
        const unsigned char *e = sector + 446 + 16 * i;
        if (e[0] != 0x00 && e[0] != 0x80)
            return {};  // no partition table: a status byte is 0 or 0x80
    }
    for (int i = 0; i < 4; ++i) {
        const unsigned char *e = sector + 446 + 16 * i;
        const unsigned type = e[4];
        const uint64_t first = le32(e + 8), count = le32(e + 12);
        if (type == 0 || count == 0)
            continue;
        if (type == 0xEE) {
            *gpt = true;
            continue;
        }
        if (type == 0x05 || type == 0x0F || type == 0x85)
            continue;  // extended partitions: their logical volumes are not followed
        if (first == 0)
            continue;
        out.push_back({first, count});
    }
    return out;
}

VolumeFinder::VolumeFinder(uint64_t firstSector, uint64_t endSector, uint64_t mediumBytes)
    : first_(firstSector), end_(endSector), mediumBytes_(mediumBytes)
{
    expectVolume(firstSector);
}

void VolumeFinder::expectVolume(uint64_t sector)
{
    if (sector < first_ || sector >= end_ || volumes_.size() >= kMaxVolumes)
        return;
    // The boot sector, then FAT32's backup (sector 6) and exFAT's (sector 12), in 512- and
    // 4096-byte sectors.
    for (uint64_t at : {uint64_t(0), uint64_t(6), uint64_t(12), uint64_t(48), uint64_t(96)})
        if (sector + at < end_)
            expected_.emplace(sector + at, sector);
}

const FatVolume *VolumeFinder::volumeAt(uint64_t b) const
{
    for (const FatVolume &v : volumes_)
        if (b >= v.directoriesFrom() && b < v.heapEnd())
            return &v;
    return nullptr;
}

void VolumeFinder::gptEntries(uint64_t s, const unsigned char *bytes)
{
    for (uint64_t off = 0; off + gptEntrySize_ <= kSector && off + 48 <= kSector; off += gptEntrySize_) {
        const unsigned char *e = bytes + off;
        bool used = false;
        for (int i = 0; i < 16; ++i)
            used = used || e[i] != 0;
        const uint64_t first = le64(e + 32), last = le64(e + 40);
        if (used && first > 0 && last >= first)
            expectVolume(first);
    }
    (void)s;
}

uint64_t VolumeFinder::nextWanted() const
{
    uint64_t n = expected_.empty() ? UINT64_MAX : std::max(seen_, expected_.begin()->first);
    if (gptEntriesEnd_ > seen_)
        n = std::min(n, std::max(seen_, gptEntriesFrom_));
    if (first_ == 0 && seen_ <= 1)
        n = std::min<uint64_t>(n, 1);  // a GPT header
    return n;
}

void VolumeFinder::sector(uint64_t s, const unsigned char *bytes)
{
    seen_ = std::max(seen_, s + 1);
    // Sectors are handed over in order: a boot sector expected before this one was blank.
    while (!expected_.empty() && expected_.begin()->first < s)
        expected_.erase(expected_.begin());
    if (s >= gptEntriesFrom_ && s < gptEntriesEnd_) {
        gptEntries(s, bytes);
        return;
    }
    if (s == first_ + 1 && first_ == 0 && std::memcmp(bytes, "EFI PART", 8) == 0) {
        // A GPT header: its entries follow (in 512-byte sectors only).
        const uint64_t entriesAt = le64(bytes + 72);
        const uint64_t count = le32(bytes + 80), size = le32(bytes + 84);
        if (entriesAt >= 2 && entriesAt < end_ && size >= 128 && size <= kSector && powerOfTwo(size) && count > 0 && count <= 1024) {
            gptEntriesFrom_ = entriesAt;
            gptEntriesEnd_ = entriesAt + (count * size + kSector - 1) / kSector;
            gptEntrySize_ = uint32_t(size);
        }
        return;
    }
    const auto it = expected_.find(s);
    if (it == expected_.end())
        return;
    const uint64_t start = it->second;
    expected_.erase(it);
    // A partition table may name more partitions than are kept, all expected before any is found.
    if (volumes_.size() >= kMaxVolumes)
        return;
    if (std::optional<FatVolume> v = parseBootSector(bytes, kSector, start * kSector, mediumBytes_)) {
        v->fromBackup = s != start;
        volumes_.push_back(*v);
        // Found: the backups of this volume are not needed.
        for (auto e = expected_.begin(); e != expected_.end();)
            e = e->second == start ? expected_.erase(e) : std::next(e);
        return;
    }
    if (s == first_ && s == start) {
        bool gpt = false;
        const std::vector<PartitionSpan> parts = parseMbr(bytes, &gpt);
        if (!parts.empty() || gpt) {
            // A partition table: no volume starts here.
            for (auto e = expected_.begin(); e != expected_.end();)
                e = e->second == start ? expected_.erase(e) : std::next(e);
            for (const PartitionSpan &p : parts)
                if (p.firstSector <= UINT64_MAX - first_)
                    expectVolume(first_ + p.firstSector);
        }
    }
}

} // namespace lumafind
