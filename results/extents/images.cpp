// PNG (chunks to IEND), GIF (blocks to the trailer) and BMP (its file-size field).
#include "extent.h"

#include <cstring>

namespace lumafind {

std::optional<uint64_t> pngEnd(ByteSource &s, const ExtentContext &)
{
    static const unsigned char sig[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    unsigned char head[8];
    if (!s.get(0, head, 8) || std::memcmp(head, sig, 8) != 0)
        return std::nullopt;
    uint64_t p = 8;
    for (;;) {  // every chunk is at least 12 bytes: the walk always moves on
        const auto len = s.be32(p);
        char type[4];
        if (!len || *len > 0x7FFFFFFFu || !s.get(p + 4, type, 4))
            return std::nullopt;
        for (char c : type)
            if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')))
                return std::nullopt;
        const uint64_t next = p + 12 + *len;
        if (next > s.size())
            return std::nullopt;
        if (std::memcmp(type, "IEND", 4) == 0)
            return next;
        p = next;
    }
}

// Sub-blocks: a length byte and that many bytes, until a zero length.
static std::optional<uint64_t> skipSubBlocks(ByteSource &s, uint64_t p)
{
    for (;;) {
        const auto n = s.u8(p);
        if (!n)
            return std::nullopt;
        p += 1 + *n;
        if (*n == 0)
            return p;
    }
}

std::optional<uint64_t> gifEnd(ByteSource &s, const ExtentContext &)
{
    char head[6];
    if (!s.get(0, head, 6) || (std::memcmp(head, "GIF87a", 6) != 0 && std::memcmp(head, "GIF89a", 6) != 0))
        return std::nullopt;
    const auto flags = s.u8(10);
    if (!flags)
        return std::nullopt;
    uint64_t p = 13 + ((*flags & 0x80) ? 3u * (2u << (*flags & 7)) : 0u);
    for (;;) {
        const auto b = s.u8(p);
        if (!b)
            return std::nullopt;
        if (*b == 0x3B)
            return p + 1;
        if (*b == 0x21) {
            const auto after = skipSubBlocks(s, p + 2);
            if (!after)
                return std::nullopt;
            p = *after;
        } else if (*b == 0x2C) {
            const auto f = s.u8(p + 9);
            if (!f)
                return std::nullopt;
            p += 10 + ((*f & 0x80) ? 3u * (2u << (*f & 7)) : 0u) + 1;  // descriptor, colour table, LZW size
            const auto after = skipSubBlocks(s, p);
            if (!after)
                return std::nullopt;
            p = *after;
        } else {
            return std::nullopt;
        }
    }
}

std::optional<uint64_t> bmpEnd(ByteSource &s, const ExtentContext &)
{
    char bm[2];
    const auto size = s.le32(2), offset = s.le32(10), header = s.le32(14);
    if (!s.get(0, bm, 2) || bm[0] != 'B' || bm[1] != 'M' || !size || !offset || !header)
        return std::nullopt;
    if (*size < 26 || *offset >= *size || *header < 12 || *size > s.size())
        return std::nullopt;
    return *size;
}

} // namespace lumafind
