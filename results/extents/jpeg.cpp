// JPEG: markers from SOI to the EOI of the main image. Segments are skipped by their length,
// so the EOI of a thumbnail inside an APP segment does not end the file (and a segment may
// carry the file over the start of a header found inside it); entropy-coded data is skipped
// by its byte-stuffing (FF 00) and restart-marker rules. Entropy-coded data declares nothing:
// it is searched only up to the next found file, and beyond the carved range an erased sector
// (all 00 or all FF) ends the search: the file was cut there.
#include "extent.h"

#include <cstring>
#include <vector>

namespace lumafind {

namespace {
constexpr uint64_t kSector = 512;

// Sequential byte access over a source, a megabyte at a time.
class Bytes {
public:
    explicit Bytes(ByteSource &s) : s_(s), buf_(1 << 20) {}
    int at(uint64_t o)
    {
        if (o < base_ || o >= base_ + len_) {
            base_ = o;
            len_ = uint64_t(std::max<int64_t>(0, s_.read(o, buf_.data(), int64_t(buf_.size()))));
            if (len_ == 0)
                return -1;
        }
        return buf_[size_t(o - base_)];
    }
    // The next FF at or after o and before limit; nullopt at the limit, the end of the source,
    // or an erased sector at or after `erasedFrom`.
    std::optional<uint64_t> nextFF(uint64_t o, uint64_t limit, uint64_t erasedFrom)
    {
        for (;;) {
            if (o >= limit || at(o) < 0)
                return std::nullopt;
            const unsigned char *start = buf_.data() + (o - base_);
            const size_t n = size_t(std::min(base_ + len_, limit) - o);
            const void *hit = std::memchr(start, 0xFF, n);
            const uint64_t spanEnd = hit ? o + uint64_t(static_cast<const unsigned char *>(hit) - start) : o + n;
            if (spanEnd > erasedFrom && zeroSectorIn(std::max(o, erasedFrom), spanEnd))
                return std::nullopt;
            if (hit)
                return spanEnd;
            o = spanEnd;
        }
    }

private:
    // Whether a whole sector (aligned to the file's start) of zeros lies in [from, to), all
    // of which is in the buffer.
    bool zeroSectorIn(uint64_t from, uint64_t to)
    {
        static const unsigned char zeros[kSector] = {};
        for (uint64_t sector = (from + kSector - 1) / kSector * kSector; sector + kSector <= to; sector += kSector)
            if (std::memcmp(buf_.data() + (sector - base_), zeros, kSector) == 0)
                return true;
        return false;
    }

    ByteSource &s_;
    std::vector<unsigned char> buf_;
    uint64_t base_ = 0, len_ = 0;
};
} // namespace

std::optional<uint64_t> jpegEnd(ByteSource &s, const ExtentContext &c)
{
    Bytes b(s);
    if (b.at(0) != 0xFF || b.at(1) != 0xD8)
        return std::nullopt;
    const uint64_t erasedFrom = c.carved;
    uint64_t p = 2;
    bool sawFrame = false;
    for (;;) {
        if (b.at(p) != 0xFF)
            return std::nullopt;
        for (uint64_t fill = 0; b.at(p) == 0xFF; ++p)
            if (++fill > kSector)
                return std::nullopt;  // erased space, not fill bytes before a marker
        const int m = b.at(p++);
        if (m < 0 || m == 0x00 || m == 0xD8)
            return std::nullopt;
        if (m == 0xD9)
            return sawFrame ? std::optional<uint64_t>(p) : std::nullopt;
        if (m == 0x01 || (m >= 0xD0 && m <= 0xD7))
            continue;  // markers without a length
        const int hi = b.at(p), lo = b.at(p + 1);
        if (hi < 0 || lo < 0)
            return std::nullopt;
        const int len = (hi << 8) | lo;
        if (len < 2)
            return std::nullopt;
        if ((m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC))
            sawFrame = true;
        p += uint64_t(len);
        if (m != 0xDA)
            continue;
        // Entropy-coded data: up to the first FF that is neither stuffing nor a restart marker.
        const uint64_t limit = c.searchLimit(s, p);
        for (uint64_t fillRun = 0;;) {
            const auto ff = b.nextFF(p, limit, erasedFrom);
            if (!ff)
                return std::nullopt;
            const int next = b.at(*ff + 1);
            if (next < 0)
                return std::nullopt;
            if (next == 0x00 || (next >= 0xD0 && next <= 0xD7)) {
                p = *ff + 2;
                fillRun = 0;
            } else if (next == 0xFF) {
                p = *ff + 1;
                if (++fillRun >= kSector && p > erasedFrom)
                    return std::nullopt;  // a sector of FF: erased space
            } else {
                p = *ff;
                break;
            }
        }
    }
}

} // namespace lumafind
