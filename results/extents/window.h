#pragma once
// Helpers of the walking finders: a forward window over a source, read in blocks (walks over
// small records would otherwise make one read per field), and the checksums formats use.
#include "extent.h"

#include <cstring>
#include <vector>

namespace lumafind {

// Bytes of a source in blocks of at least 64 KiB. A walk that moves forward in small steps reads
// each byte once; one that jumps reads one block per jump, which is never more than the jump
// itself once jumps are larger than a block.
class Window {
public:
    explicit Window(ByteSource &s, size_t block = 64 << 10) : s_(s), block_(block) {}

    // n bytes at offset o, or null when the source does not hold them all. Valid until the
    // next call.
    const unsigned char *at(uint64_t o, size_t n)
    {
        if (o >= base_ && n <= len_ && o - base_ <= len_ - n)
            return buf_.data() + (o - base_);
        const size_t want = std::max(n, block_);
        if (buf_.size() < want)
            buf_.resize(want);
        const int64_t got = s_.read(o, buf_.data(), int64_t(want));
        base_ = o;
        len_ = got > 0 ? size_t(got) : 0;
        return len_ >= n ? buf_.data() : nullptr;
    }
    // The bytes at hand from o on (at least n of them), for a scan: its length in *avail.
    const unsigned char *span(uint64_t o, size_t n, size_t *avail)
    {
        const unsigned char *p = at(o, n);
        *avail = p ? len_ - size_t(o - base_) : 0;
        return p;
    }
    std::optional<uint8_t> u8(uint64_t o)
    {
        const unsigned char *p = at(o, 1);
        return p ? std::optional<uint8_t>(*p) : std::nullopt;
    }

    ByteSource &source() { return s_; }

private:
    ByteSource &s_;
    size_t block_;
    std::vector<unsigned char> buf_;
    uint64_t base_ = 0;
    size_t len_ = 0;
};

inline uint16_t rdLe16(const unsigned char *p) { return uint16_t(p[0] | p[1] << 8); }
inline uint32_t rdLe32(const unsigned char *p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
inline uint64_t rdLe64(const unsigned char *p) { return uint64_t(rdLe32(p)) | uint64_t(rdLe32(p + 4)) << 32; }
inline uint16_t rdBe16(const unsigned char *p) { return uint16_t(p[0] << 8 | p[1]); }
inline uint32_t rdBe24(const unsigned char *p) { return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2]; }
inline uint32_t rdBe32(const unsigned char *p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }
inline uint64_t rdBe64(const unsigned char *p) { return uint64_t(rdBe32(p)) << 32 | rdBe32(p + 4); }

// a + b, or nullopt when it wraps.
inline std::optional<uint64_t> addSize(uint64_t a, uint64_t b)
{
    return b > UINT64_MAX - a ? std::nullopt : std::optional<uint64_t>(a + b);
}

// CRC-32 (zlib's) of len bytes of a source at offset, read in blocks; nullopt when cut.
std::optional<uint32_t> crc32Of(ByteSource &s, uint64_t offset, uint64_t len);
uint32_t crc32Bytes(const unsigned char *p, size_t n);

} // namespace lumafind
