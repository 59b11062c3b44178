// MPEG streams, which state no length: a transport stream goes on while its packets keep their
// sync byte; a program stream goes on while pack headers and packets follow, to its end code.
#include "extent.h"

#include <vector>

namespace lumafind {

static std::optional<uint64_t> transportStreamEnd(ByteSource &s, int packetSize, int syncOffset)
{
    std::vector<unsigned char> buf(size_t(packetSize) * 4096);
    uint64_t packets = 0;
    for (uint64_t at = 0;; at += buf.size()) {
        const int64_t got = s.read(at, buf.data(), int64_t(buf.size()));
        const int64_t whole = got / packetSize;
        for (int64_t k = 0; k < whole; ++k) {
            if (buf[size_t(k * packetSize + syncOffset)] != 0x47)
                return packets >= 2 ? std::optional<uint64_t>(packets * uint64_t(packetSize)) : std::nullopt;
            ++packets;
        }
        if (got < int64_t(buf.size()))
            break;
    }
    return packets >= 2 ? std::optional<uint64_t>(packets * uint64_t(packetSize)) : std::nullopt;
}

std::optional<uint64_t> m2tsEnd(ByteSource &s, const ExtentContext &)
{
    return transportStreamEnd(s, 192, 4);
}

std::optional<uint64_t> tsEnd(ByteSource &s, const ExtentContext &)
{
    return transportStreamEnd(s, 188, 0);
}

std::optional<uint64_t> programStreamEnd(ByteSource &s, const ExtentContext &)
{
    uint64_t p = 0;
    int packs = 0;
    for (;;) {
        const auto code = s.be32(p);
        if (!code || (*code >> 8) != 0x000001)
            break;  // the structure stops here
        const uint32_t id = *code & 0xFF;
        if (id == 0xB9)
            return p + 4;  // program end code
        if (id == 0xBA) {
            const auto b4 = s.u8(p + 4);
            if (!b4)
                break;
            uint64_t next;
            if ((*b4 & 0xC0) == 0x40) {  // MPEG-2 pack header and its stuffing
                const auto b13 = s.u8(p + 13);
                if (!b13)
                    break;
                next = p + 14 + (*b13 & 7);
            } else if ((*b4 & 0xF0) == 0x20) {  // MPEG-1
                next = p + 12;
            } else {
                break;
            }
            if (next > s.size())
                break;
            p = next;
            ++packs;
        } else if (id >= 0xBB) {  // system header or a packet with its length
            const auto len = s.be16(p + 4);
            if (!len || p + 6 + *len > s.size())
                break;
            p += 6 + *len;
        } else {
            break;
        }
    }
    return packs >= 1 && p > 0 ? std::optional<uint64_t>(p) : std::nullopt;
}

} // namespace lumafind
