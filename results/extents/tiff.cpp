// TIFF and the TIFF-based raw files: the furthest byte that the image directories reference
// (directories, their values, strips, tiles, embedded JPEG previews, sub-directories).
// Arrays of offsets and byte counts are read in blocks, never stored whole, and their length
// is checked against the bytes that hold them; the directories visited and the values read in
// all are capped, so a crafted count costs at most a bounded read.
#include "extent.h"

#include <QtEndian>
#include <cstring>
#include <set>
#include <vector>

namespace lumafind {

namespace {
constexpr int kMaxDirectories = 256;
constexpr uint64_t kMaxArrayValues = uint64_t(1) << 22;  // strips or tiles of every directory together

struct Tiff {
    ByteSource &s;
    bool big;
    std::optional<uint16_t> u16(uint64_t o) { return big ? s.be16(o) : s.le16(o); }
    std::optional<uint32_t> u32(uint64_t o) { return big ? s.be32(o) : s.le32(o); }
    uint32_t value(const unsigned char *p, int size) const
    {
        if (size == 2)
            return big ? qFromBigEndian<quint16>(p) : qFromLittleEndian<quint16>(p);
        return big ? qFromBigEndian<quint32>(p) : qFromLittleEndian<quint32>(p);
    }
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

// One array value field of a directory entry.
struct Array {
    uint64_t at = 0;
    uint32_t count = 0;
    int size = 0;  // 2 or 4
    bool valid() const { return count > 0 && (size == 2 || size == 4); }
};

// Reads `count` values of a and b in step, in blocks, calling f(a[k], b[k]).
template <typename F>
bool pairwise(Tiff &t, const Array &a, const Array &b, uint64_t count, F f)
{
    constexpr uint64_t kBlock = 4096;
    std::vector<unsigned char> ba(kBlock * 4), bb(kBlock * 4);
    for (uint64_t k = 0; k < count; k += kBlock) {
        const uint64_t n = std::min(kBlock, count - k);
        if (!t.s.get(a.at + k * uint64_t(a.size), ba.data(), int64_t(n * uint64_t(a.size)))
            || !t.s.get(b.at + k * uint64_t(b.size), bb.data(), int64_t(n * uint64_t(b.size))))
            return false;
        for (uint64_t i = 0; i < n; ++i)
            if (!f(t.value(ba.data() + i * uint64_t(a.size), a.size), t.value(bb.data() + i * uint64_t(b.size), b.size)))
                return false;
    }
    return true;
}
} // namespace

std::optional<uint64_t> tiffEnd(ByteSource &s, const ExtentContext &)
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
    const uint64_t size = s.size();
    uint64_t extent = 8;
    uint64_t valuesLeft = kMaxArrayValues;
    std::vector<uint32_t> todo{*first};
    std::set<uint32_t> seen;
    while (!todo.empty()) {
        const uint32_t ifd = todo.back();
        todo.pop_back();
        if (ifd < 8 || seen.count(ifd))
            continue;  // a directory is read once, whatever points at it again
        if (int(seen.size()) >= kMaxDirectories)
            return std::nullopt;
        seen.insert(ifd);
        const auto count = t.u16(ifd);
        if (!count || *count == 0 || *count > 4096)
            return std::nullopt;
        const uint64_t ifdEnd = uint64_t(ifd) + 2 + 12ull * *count + 4;
        if (ifdEnd > size)
            return std::nullopt;
        extent = std::max(extent, ifdEnd);
        std::vector<unsigned char> entries(size_t(12) * *count);
        if (!s.get(uint64_t(ifd) + 2, entries.data(), int64_t(entries.size())))
            return std::nullopt;
        Array offsets, counts;
        std::optional<uint32_t> jpegOffset, jpegLength;
        for (uint32_t i = 0; i < *count; ++i) {
            const unsigned char *e = entries.data() + 12 * i;
            const uint16_t tag = uint16_t(t.value(e, 2)), type = uint16_t(t.value(e + 2, 2));
            const uint32_t n = t.value(e + 4, 4);
            const int tsize = typeSize(type);
            if (tsize == 0 || n == 0)
                continue;
            const uint64_t bytes = uint64_t(tsize) * n;
            const uint64_t valueAt = bytes <= 4 ? uint64_t(ifd) + 2 + 12ull * i + 8 : uint64_t(t.value(e + 8, 4));
            if (bytes > size || valueAt > size - bytes)
                return std::nullopt;  // a count larger than the bytes that could hold it
            if (bytes > 4)
                extent = std::max(extent, valueAt + bytes);
            const Array array{valueAt, n, tsize};
            switch (tag) {
            case 273: case 324: offsets = array; break;    // strip or tile offsets
            case 279: case 325: counts = array; break;     // their byte counts
            case 513: jpegOffset = bytes <= 4 ? t.value(e + 8, 4) : t.u32(valueAt); break;  // embedded JPEG preview
            case 514: jpegLength = bytes <= 4 ? t.value(e + 8, 4) : t.u32(valueAt); break;
            case 330: case 34665: case 34853: {            // sub-directories, Exif, GPS
                if (tsize != 4 && tsize != 2)
                    break;
                if (n > kMaxDirectories)
                    return std::nullopt;
                std::vector<unsigned char> subs(static_cast<size_t>(bytes));
                if (bytes <= 4)
                    std::memcpy(subs.data(), e + 8, size_t(bytes));
                else if (!s.get(valueAt, subs.data(), int64_t(bytes)))
                    return std::nullopt;
                for (uint32_t k = 0; k < n; ++k)
                    todo.push_back(t.value(subs.data() + uint64_t(k) * uint64_t(tsize), tsize == 2 ? 2 : 4));
                break;
            }
            default: break;
            }
        }
        if (offsets.valid() && counts.valid()) {
            const uint64_t pairs = std::min(offsets.count, counts.count);
            if (pairs > valuesLeft)
                return std::nullopt;
            valuesLeft -= pairs;
            // Values inline in the entry (a single strip) are read from where the entry holds them.
            bool inside = true;
            if (!pairwise(t, offsets, counts, pairs, [&](uint32_t off, uint32_t len) {
                    const uint64_t end = uint64_t(off) + len;
                    inside = end <= size;
                    extent = std::max(extent, end);
                    return inside;
                }))
                return std::nullopt;
        }
        if (jpegOffset && jpegLength) {
            const uint64_t end = uint64_t(*jpegOffset) + *jpegLength;
            if (end > size)
                return std::nullopt;
            extent = std::max(extent, end);
        }
        const auto next = t.u32(ifdEnd - 4);
        if (next && *next)
            todo.push_back(*next);
        if (todo.size() > size_t(kMaxDirectories) * 4)
            return std::nullopt;
    }
    return extent;
}

} // namespace lumafind
