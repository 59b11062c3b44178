// TIFF and the TIFF-based raw files: the furthest byte that the image directories reference
// (directories, their values, strips, tiles, embedded JPEG previews, sub-directories).
#include "extent.h"

#include <QSet>
#include <QtEndian>
#include <vector>

namespace lumafind {

namespace {
struct Tiff {
    ByteSource &s;
    bool big;
    std::optional<uint16_t> u16(uint64_t o) { return big ? s.be16(o) : s.le16(o); }
    std::optional<uint32_t> u32(uint64_t o) { return big ? s.be32(o) : s.le32(o); }
};

int typeSize(uint16_t type)
{
    switch (type) {
    case 1: case 2: case 6: case 7: return 1;
    case 3: case 8: return 2;
    case 4: case 9: case 11: case 13: return 4;
    case 5: case 10: case 12: return 8;
    default: return 0;
    }
}
} // namespace

std::optional<uint64_t> tiffEnd(ByteSource &s)
{
    char order[2];
    if (!s.get(0, order, 2) || order[0] != order[1] || (order[0] != 'I' && order[0] != 'M'))
        return std::nullopt;
    Tiff t{s, order[0] == 'M'};
    const auto magic = t.u16(2);
    // 42 for TIFF; Olympus and Panasonic raw files use their own numbers.
    if (!magic || (*magic != 42 && *magic != 0x4F52 && *magic != 0x5352 && *magic != 0x55))
        return std::nullopt;
    const auto first = t.u32(4);
    if (!first)
        return std::nullopt;
    uint64_t extent = 8;
    std::vector<uint32_t> todo{*first};
    QSet<uint32_t> seen;
    while (!todo.empty() && seen.size() < 256) {
        const uint32_t ifd = todo.back();
        todo.pop_back();
        if (ifd < 8 || seen.contains(ifd))
            continue;
        seen.insert(ifd);
        const auto count = t.u16(ifd);
        if (!count || *count == 0 || *count > 4096)
            return std::nullopt;
        const uint64_t ifdEnd = ifd + 2 + 12ull * *count + 4;
        if (ifdEnd > s.size())
            return std::nullopt;
        extent = std::max(extent, ifdEnd);
        std::vector<uint32_t> stripOffsets, stripCounts;
        std::optional<uint32_t> jpegOffset, jpegLength;
        for (uint32_t i = 0; i < *count; ++i) {
            const uint64_t e = ifd + 2 + 12ull * i;
            const auto tag = t.u16(e), type = t.u16(e + 2);
            const auto n = t.u32(e + 4);
            if (!tag || !type || !n)
                return std::nullopt;
            const int size = typeSize(*type);
            const uint64_t bytes = uint64_t(size) * *n;
            const uint64_t valueAt = bytes <= 4 ? e + 8 : uint64_t(*t.u32(e + 8));
            if (size == 0)
                continue;
            if (bytes > 4) {
                if (valueAt + bytes > s.size())
                    return std::nullopt;
                extent = std::max(extent, valueAt + bytes);
            }
            auto values = [&](std::vector<uint32_t> &out) {
                for (uint32_t k = 0; k < *n && k < 65536; ++k) {
                    const auto v = size == 2 ? std::optional<uint32_t>(t.u16(valueAt + 2ull * k).value_or(0))
                                             : t.u32(valueAt + 4ull * k);
                    out.push_back(v.value_or(0));
                }
            };
            switch (*tag) {
            case 273: case 324: values(stripOffsets); break;   // strip or tile offsets
            case 279: case 325: values(stripCounts); break;    // their byte counts
            case 513: jpegOffset = t.u32(valueAt); break;      // embedded JPEG preview
            case 514: jpegLength = t.u32(valueAt); break;
            case 330: case 34665: case 34853: {               // sub-directories, Exif, GPS
                std::vector<uint32_t> subs;
                values(subs);
                todo.insert(todo.end(), subs.begin(), subs.end());
                break;
            }
            default: break;
            }
        }
        for (size_t k = 0; k < std::min(stripOffsets.size(), stripCounts.size()); ++k) {
            const uint64_t end = uint64_t(stripOffsets[k]) + stripCounts[k];
            if (end > s.size())
                return std::nullopt;
            extent = std::max(extent, end);
        }
        if (jpegOffset && jpegLength) {
            const uint64_t end = uint64_t(*jpegOffset) + *jpegLength;
            if (end > s.size())
                return std::nullopt;
            extent = std::max(extent, end);
        }
        const auto next = t.u32(ifdEnd - 4);
        if (next && *next)
            todo.push_back(*next);
    }
    return extent;
}

} // namespace lumafind
