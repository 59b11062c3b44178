// ISO base media (MP4, MOV, M4V, 3GP, HEIC, CR3): top-level boxes while they are valid,
// ending after the last valid one. 64-bit sizes are followed; a box that would reach beyond the
// medium gives no answer, and neither does a walk that ends before the movie's own chunk
// offsets, so a damaged size field never cuts a file short.
#include "extent.h"

#include <cstring>

namespace lumafind {

namespace {
bool knownTopLevel(const char *t)
{
    static const char *known[] = {"ftyp", "moov", "mdat", "free", "skip", "wide", "uuid", "meta", "moof", "mfra",
                                  "pdin", "styp", "sidx", "ssix", "prft", "emsg", "pnot", "udta", "junk", "PICT"};
    for (const char *k : known)
        if (std::memcmp(k, t, 4) == 0)
            return true;
    return false;
}
// The furthest chunk offset of a movie: every sample lies at or after its chunk's offset, so a
// movie whose data reaches past the end found by the walk was cut by a damaged size field.
void chunkOffsets(ByteSource &s, uint64_t from, uint64_t to, int depth, uint64_t *furthest)
{
    static const char *containers[] = {"moov", "trak", "mdia", "minf", "stbl", "edts", "dinf", "moof", "traf"};
    uint64_t p = from;
    while (p + 8 <= to && depth < 12) {
        const auto size = s.be32(p);
        char type[4];
        if (!size || *size < 8 || p + *size > to || !s.get(p + 4, type, 4))
            return;
        bool container = false;
        for (const char *k : containers)
            container = container || std::memcmp(k, type, 4) == 0;
        if (container) {
            chunkOffsets(s, p + 8, p + *size, depth + 1, furthest);
        } else if (std::memcmp(type, "stco", 4) == 0 || std::memcmp(type, "co64", 4) == 0) {
            const bool wide = type[0] == 'c';
            const auto count = s.be32(p + 12);
            for (uint32_t i = 0; count && i < *count && i < 4000000; ++i) {
                const auto off = wide ? s.be64(p + 16 + 8ull * i) : std::optional<uint64_t>(s.be32(p + 16 + 4ull * i).value_or(0));
                if (!off)
                    break;
                *furthest = std::max(*furthest, *off);
            }
        }
        p += *size;
    }
}
} // namespace

std::optional<uint64_t> isoMediaEnd(ByteSource &s, const ExtentContext &c)
{
    uint64_t p = 0;
    bool index = false;  // a movie box or an image's meta box: the file can be used
    uint64_t furthestChunk = 0;
    for (int boxes = 0; boxes < 100000; ++boxes) {
        const auto size32 = s.be32(p);
        char type[4];
        if (!size32 || !s.get(p + 4, type, 4))
            break;  // the end of the medium
        if (!knownTopLevel(type) || (p > 0 && std::memcmp(type, "ftyp", 4) == 0))
            break;  // the next file, erased space or other data: the walk ends here
        uint64_t size = *size32;
        if (size == 1) {
            const auto large = s.be64(p + 8);
            if (!large || *large < 16)
                return std::nullopt;
            size = *large;
        } else if (size == 0) {
            return std::nullopt;  // "to the end of the file": not known here
        } else if (size < 8) {
            return std::nullopt;
        }
        if (p + size > s.size())
            return std::nullopt;
        if (std::memcmp(type, "moov", 4) == 0 || std::memcmp(type, "moof", 4) == 0 || std::memcmp(type, "meta", 4) == 0)
            index = true;
        if (std::memcmp(type, "moov", 4) == 0 || std::memcmp(type, "moof", 4) == 0)
            chunkOffsets(s, p + (size == *size32 ? 8 : 16), p + size, 0, &furthestChunk);
        p += size;
    }
    if (!index || p == 0 || furthestChunk >= p)
        return std::nullopt;
    (void)c;
    return p;
}

} // namespace lumafind
