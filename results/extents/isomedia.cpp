// ISO base media (MP4, MOV, M4V, 3GP, HEIC, CR3): top-level boxes while they are valid,
// ending after the last valid one. 64-bit sizes are followed; a box that would reach beyond the
// medium gives no answer, and neither does a walk that ends before the movie's own chunk
// offsets, so a damaged size field never cuts a file short. Chunk-offset tables are read in
// blocks, their entry count checked against the size of the box that holds them.
#include "extent.h"

#include <QtEndian>
#include <cstring>
#include <vector>

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

// A box header at p inside [p, to): its size (64-bit sizes followed) and the header's length.
// nullopt when it does not fit.
struct Box {
    uint64_t size = 0;
    int header = 8;
    char type[4] = {};
};
std::optional<Box> boxAt(ByteSource &s, uint64_t p, uint64_t to)
{
    if (p > to || to - p < 8)
        return std::nullopt;
    Box b;
    const auto size32 = s.be32(p);
    if (!size32 || !s.get(p + 4, b.type, 4))
        return std::nullopt;
    b.size = *size32;
    if (*size32 == 1) {
        const auto large = s.be64(p + 8);
        if (!large || *large < 16)
            return std::nullopt;
        b.size = *large;
        b.header = 16;
    } else if (*size32 < 8) {
        return std::nullopt;  // 0 ("to the end of the file") is not known here either
    }
    if (b.size > to - p)
        return std::nullopt;
    return b;
}

// The furthest chunk offset of a movie: every sample lies at or after its chunk's offset, so a
// movie whose data reaches past the end found by the walk was cut by a damaged size field.
void chunkOffsets(ByteSource &s, uint64_t from, uint64_t to, int depth, uint64_t *furthest)
{
    static const char *containers[] = {"moov", "trak", "mdia", "minf", "stbl", "edts", "dinf", "moof", "traf"};
    uint64_t p = from;
    while (depth < 12) {
        const std::optional<Box> b = boxAt(s, p, to);
        if (!b)
            return;
        bool container = false;
        for (const char *k : containers)
            container = container || std::memcmp(k, b->type, 4) == 0;
        if (container) {
            chunkOffsets(s, p + uint64_t(b->header), p + b->size, depth + 1, furthest);
        } else if (std::memcmp(b->type, "stco", 4) == 0 || std::memcmp(b->type, "co64", 4) == 0) {
            const uint64_t width = b->type[0] == 'c' ? 8 : 4;
            const uint64_t table = p + uint64_t(b->header) + 8;  // version, flags, entry count
            const auto count = s.be32(table - 4);
            const uint64_t room = b->size > uint64_t(b->header) + 8 ? (b->size - uint64_t(b->header) - 8) / width : 0;
            const uint64_t n = count ? std::min<uint64_t>(*count, room) : 0;
            unsigned char buf[8 * 1024];
            for (uint64_t k = 0; k < n;) {
                const uint64_t step = std::min<uint64_t>(n - k, sizeof buf / width);
                if (!s.get(table + k * width, buf, int64_t(step * width)))
                    return;
                for (uint64_t i = 0; i < step; ++i) {
                    const uint64_t off = width == 8 ? qFromBigEndian<quint64>(buf + i * 8) : qFromBigEndian<quint32>(buf + i * 4);
                    *furthest = std::max(*furthest, off);
                }
                k += step;
            }
        }
        p += b->size;
    }
}
} // namespace

std::optional<uint64_t> isoMediaEnd(ByteSource &s, const ExtentContext &)
{
    uint64_t p = 0;
    bool index = false;  // a movie box or an image's meta box: the file can be used
    uint64_t furthestChunk = 0;
    for (;;) {  // every box is at least 8 bytes: the walk always moves on
        char type[4];
        const auto size32 = s.be32(p);
        if (!size32 || !s.get(p + 4, type, 4))
            break;  // the end of the medium
        if (!knownTopLevel(type) || (p > 0 && std::memcmp(type, "ftyp", 4) == 0))
            break;  // the next file, erased space or other data: the walk ends here
        const std::optional<Box> b = boxAt(s, p, s.size());
        if (!b)
            return std::nullopt;  // a size that is damaged, wraps, or reaches beyond the medium
        if (std::memcmp(type, "moov", 4) == 0 || std::memcmp(type, "moof", 4) == 0 || std::memcmp(type, "meta", 4) == 0)
            index = true;
        if (std::memcmp(type, "moov", 4) == 0 || std::memcmp(type, "moof", 4) == 0)
            chunkOffsets(s, p + uint64_t(b->header), p + b->size, 0, &furthestChunk);
        p += b->size;
    }
    if (!index || p == 0 || furthestChunk >= p)
        return std::nullopt;
    return p;
}

} // namespace lumafind
