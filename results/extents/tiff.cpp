// TIFF and the TIFF-based raw files: the furthest byte that the image directories reference
// (directories, their values, strips, tiles, embedded JPEG previews, sub-directories, the Exif
// directory and the maker notes whose layout is known), and what the vendors' own structures
// add (Panasonic's raw data offset, Phase One's directory). Nothing is taken from what follows.
// Arrays of offsets and byte counts are read in blocks, never stored whole, and their length is
// checked against the bytes that hold them; the directories visited and the values read in all
// are capped, so a crafted count costs at most a bounded read.
#include "extent.h"

#include <QtEndian>
#include <cstring>
#include <set>
#include <vector>

namespace lumafind {

namespace {
constexpr int kMaxDirectories = 256;
constexpr uint64_t kMaxArrayValues = uint64_t(1) << 22;  // strips or tiles of every directory together

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

class Walker {
public:
    Walker(ByteSource &s, const ExtentContext &c) : s_(s), c_(c), size_(s.size()) {}
    uint64_t extent = 8;

    // Walks the chain of directories from `first` (an offset from `base`). Strict: a directory
    // or value that is damaged or reaches beyond the medium gives no answer. Lenient (maker
    // notes, whose layouts vary): what does not make sense is passed over.
    bool walk(bool big, uint64_t base, uint64_t first, bool strict)
    {
        big_ = big;
        std::vector<uint64_t> todo{first};
        while (!todo.empty()) {
            const uint64_t ifd = todo.back();
            todo.pop_back();
            if (ifd < base + 8 || !seen_.insert(ifd).second)
                continue;  // a directory is read once, whatever points at it again
            if (int(seen_.size()) > kMaxDirectories)
                return !strict;
            if (!directory(ifd, base, strict, todo))
                return false;
            if (todo.size() > size_t(kMaxDirectories) * 4)
                return !strict;
        }
        return true;
    }

    // Phase One's directory at 8: "IIII", a magic, its offset from 8; sixteen bytes an entry.
    bool phaseOne()
    {
        const auto offset = s_.le32(16);
        if (!offset)
            return false;
        const uint64_t dir = 8 + uint64_t(*offset);
        const auto n = s_.le32(dir);
        if (!n || *n == 0 || *n > 4096 || dir + 8 + 16ull * *n > size_)
            return false;
        std::vector<unsigned char> entries(size_t(16) * *n);
        if (!s_.get(dir + 8, entries.data(), int64_t(entries.size())))
            return false;
        extent = std::max<uint64_t>(extent, dir + 8 + entries.size());
        for (uint32_t i = 0; i < *n; ++i) {
            const unsigned char *e = entries.data() + 16 * i;
            const uint32_t bytes = qFromLittleEndian<quint32>(e + 8), data = qFromLittleEndian<quint32>(e + 12);
            if (bytes <= 4)
                continue;
            const uint64_t end = 8 + uint64_t(data) + bytes;
            if (end > size_)
                return false;
            extent = std::max(extent, end);
        }
        return true;
    }

private:
    uint32_t value(const unsigned char *p, int size) const
    {
        if (size == 2)
            return big_ ? qFromBigEndian<quint16>(p) : qFromLittleEndian<quint16>(p);
        return big_ ? qFromBigEndian<quint32>(p) : qFromLittleEndian<quint32>(p);
    }
    std::optional<uint32_t> u32(uint64_t o) { return big_ ? s_.be32(o) : s_.le32(o); }
    std::optional<uint16_t> u16(uint64_t o) { return big_ ? s_.be16(o) : s_.le16(o); }

    bool directory(uint64_t ifd, uint64_t base, bool strict, std::vector<uint64_t> &todo)
    {
        const auto count = u16(ifd);
        if (!count || *count == 0 || *count > 4096)
            return !strict;
        const uint64_t ifdEnd = ifd + 2 + 12ull * *count + 4;
        if (ifdEnd > size_)
            return !strict;
        std::vector<unsigned char> entries(size_t(12) * *count);
        if (!s_.get(ifd + 2, entries.data(), int64_t(entries.size())))
            return !strict;
        uint64_t found = ifdEnd;
        Array offsets, counts;
        std::optional<uint32_t> jpegOffset, jpegLength, rawDataOffset;
        for (uint32_t i = 0; i < *count; ++i) {
            const unsigned char *e = entries.data() + 12 * i;
            const uint16_t tag = uint16_t(value(e, 2)), type = uint16_t(value(e + 2, 2));
            const uint32_t n = value(e + 4, 4);
            const int tsize = typeSize(type);
            if (tsize == 0 || n == 0) {
                if (!strict && (type == 0 || type > 13))
                    return true;  // not a directory after all
                continue;
            }
            const uint64_t bytes = uint64_t(tsize) * n;
            const uint64_t valueAt = bytes <= 4 ? ifd + 2 + 12ull * i + 8 : base + uint64_t(value(e + 8, 4));
            if (bytes > size_ || valueAt > size_ - bytes) {
                if (strict)
                    return false;  // a count larger than the bytes that could hold it
                continue;
            }
            if (bytes > 4)
                found = std::max(found, valueAt + bytes);
            const Array array{valueAt, n, tsize};
            switch (tag) {
            case 273: case 324: offsets = array; break;    // strip or tile offsets
            case 279: case 325: counts = array; break;     // their byte counts
            case 280: if (tsize == 4) rawDataOffset = value(e + 8, 4); break;  // Panasonic raw data
            case 513: jpegOffset = bytes <= 4 ? value(e + 8, 4) : u32(valueAt); break;  // embedded JPEG preview
            case 0x2E: if (type == 7 && n > 4) c_.anchor(valueAt); break;               // Panasonic's preview JPEG
            case 514: jpegLength = bytes <= 4 ? value(e + 8, 4) : u32(valueAt); break;
            case 37500: if (bytes > 4) makerNote(valueAt, bytes); break;
            case 330: case 34665: case 34853: case 40965: {  // sub-directories, Exif, GPS, interoperability
                if (tsize != 4 && tsize != 2 && type != 13)
                    break;
                if (n > kMaxDirectories)
                    return !strict;
                std::vector<unsigned char> subs(static_cast<size_t>(bytes));
                if (bytes <= 4)
                    std::memcpy(subs.data(), e + 8, size_t(bytes));
                else if (!s_.get(valueAt, subs.data(), int64_t(bytes)))
                    return !strict;
                for (uint32_t k = 0; k < n; ++k)
                    todo.push_back(base + value(subs.data() + uint64_t(k) * uint64_t(tsize), tsize == 2 ? 2 : 4));
                break;
            }
            default: break;
            }
        }
        if (rawDataOffset) {
            // Panasonic: the raw data starts here and its length is the strips' byte count
            // (the strip offset itself may be a placeholder).
            const uint64_t length = counts.valid() && counts.count == 1 ? stripCount(counts) : 0;
            const uint64_t end = base + uint64_t(*rawDataOffset) + length;
            if (end > size_)
                return !strict;
            found = std::max(found, end);
        } else if (offsets.valid() && counts.valid()) {
            const uint64_t pairs = std::min(offsets.count, counts.count);
            if (pairs > valuesLeft_)
                return !strict;
            valuesLeft_ -= pairs;
            if (!strips(offsets, counts, pairs, base, &found) && strict)
                return false;
        }
        if (jpegOffset && jpegLength) {
            const uint64_t end = base + uint64_t(*jpegOffset) + *jpegLength;
            if (end > size_)
                return !strict;
            found = std::max(found, end);
            c_.anchor(base + *jpegOffset);
        }
        extent = std::max(extent, found);
        const auto next = u32(ifdEnd - 4);
        if (next && *next)
            todo.push_back(base + *next);
        return true;
    }

    uint64_t stripCount(const Array &counts)
    {
        if (counts.at + uint64_t(counts.size) > size_)
            return 0;
        unsigned char b[4];
        return s_.get(counts.at, b, counts.size) ? value(b, counts.size) : 0;
    }

    // Strips (or tiles) and their byte counts, read in step in blocks.
    bool strips(const Array &a, const Array &b, uint64_t count, uint64_t base, uint64_t *found)
    {
        constexpr uint64_t kBlock = 4096;
        std::vector<unsigned char> ba(kBlock * 4), bb(kBlock * 4);
        for (uint64_t k = 0; k < count; k += kBlock) {
            const uint64_t n = std::min(kBlock, count - k);
            if (!s_.get(a.at + k * uint64_t(a.size), ba.data(), int64_t(n * uint64_t(a.size)))
                || !s_.get(b.at + k * uint64_t(b.size), bb.data(), int64_t(n * uint64_t(b.size))))
                return false;
            for (uint64_t i = 0; i < n; ++i) {
                const uint64_t end = base + uint64_t(value(ba.data() + i * uint64_t(a.size), a.size))
                                     + value(bb.data() + i * uint64_t(b.size), b.size);
                if (end > size_)
                    return false;
                *found = std::max(*found, end);
                if (k + i < 64)
                    c_.anchor(base + uint64_t(value(ba.data() + i * uint64_t(a.size), a.size)));  // a strip may be a JPEG
            }
        }
        return true;
    }

    // A maker note: for the vendors whose layout is known, its directory and what it points at.
    void makerNote(uint64_t at, uint64_t length)
    {
        unsigned char h[20] = {};
        if (length < 20 || !s_.get(at, h, 20))
            return;
        const bool outer = big_;
        auto order = [](const unsigned char *p) { return p[0] == 'M' && p[1] == 'M'; };
        auto known = [&](const char *prefix) { return std::memcmp(h, prefix, std::strlen(prefix) + 1) == 0; };
        Walker inner(s_, c_);
        inner.seen_ = seen_;
        inner.valuesLeft_ = valuesLeft_;
        bool walked = false;
        if (std::memcmp(h, "Nikon\0\2", 7) == 0 && (h[10] == 'I' || h[10] == 'M')) {
            // A TIFF of its own after ten bytes; offsets from its header.
            const bool b = order(h + 10);
            const uint32_t first = b ? qFromBigEndian<quint32>(h + 14) : qFromLittleEndian<quint32>(h + 14);
            walked = inner.walk(b, at + 10, at + 10 + first, false);
        } else if (std::memcmp(h, "OLYMPUS\0", 8) == 0) {
            walked = inner.walk(order(h + 8), at, at + 12, false);  // offsets from the note's start
        } else if (known("OLYMP") || known("EPSON") || known("MINOL")) {
            walked = inner.walk(outer, 0, at + 8, false);
        } else if (std::memcmp(h, "FUJIFILM", 8) == 0) {
            walked = inner.walk(false, at, at + qFromLittleEndian<quint32>(h + 8), false);
        } else if (std::memcmp(h, "Panasonic\0\0\0", 12) == 0 || std::memcmp(h, "SONY DSC \0\0\0", 12) == 0
                   || std::memcmp(h, "SONY CAM \0\0\0", 12) == 0) {
            walked = inner.walk(outer, 0, at + 12, false);
        } else if (std::memcmp(h, "AOC\0", 4) == 0) {
            walked = inner.walk(order(h + 4), 0, at + 6, false);
        } else if (std::memcmp(h, "PENTAX \0", 8) == 0) {
            walked = inner.walk(order(h + 8), at, at + 10, false);
        } else if (std::memcmp(h, "SAMSUNG", 7) != 0 && h[0] < 0x80) {
            // No header (Canon and others): a directory right at the start, offsets from the file's.
            walked = inner.walk(outer, 0, at, false);
        }
        if (walked)
            extent = std::max(extent, inner.extent);
        big_ = outer;
    }

    ByteSource &s_;
    const ExtentContext &c_;
    uint64_t size_;
    bool big_ = false;
    std::set<uint64_t> seen_;
    uint64_t valuesLeft_ = kMaxArrayValues;
};
} // namespace

std::optional<uint64_t> tiffEnd(ByteSource &s, const ExtentContext &c)
{
    char order[2];
    if (!s.get(0, order, 2) || order[0] != order[1] || (order[0] != 'I' && order[0] != 'M'))
        return std::nullopt;
    const bool big = order[0] == 'M';
    const auto magic = big ? s.be16(2) : s.le16(2);
    // 42 for TIFF; Olympus and Panasonic raw files use their own numbers.
    if (!magic || (*magic != 42 && *magic != 0x4F52 && *magic != 0x5352 && *magic != 0x55))
        return std::nullopt;
    const auto first = big ? s.be32(4) : s.le32(4);
    if (!first)
        return std::nullopt;
    Walker w(s, c);
    if (!w.walk(big, 0, *first, true))
        return std::nullopt;
    char phaseOne[4];
    if (s.get(8, phaseOne, 4) && std::memcmp(phaseOne, "IIII", 4) == 0) {
        // Phase One: its own directory holds the raw data, and the file is padded to an even length.
        if (!w.phaseOne())
            return std::nullopt;
        return (w.extent + 1) / 2 * 2;
    }
    return w.extent;
}

} // namespace lumafind
