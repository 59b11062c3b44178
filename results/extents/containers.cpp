// Containers that state their size: RIFF (AVI with its AVIX continuations, WAV, WEBP), ASF
// (the file size of its header) and Matroska/WebM (the EBML segment size, when known).
#include "extent.h"

#include <cstring>

namespace lumafind {

std::optional<uint64_t> riffEnd(ByteSource &s, const ExtentContext &)
{
    char head[12];
    const auto size = s.le32(4);
    if (!s.get(0, head, 12) || std::memcmp(head, "RIFF", 4) != 0 || !size || *size < 4)
        return std::nullopt;
    uint64_t end = 8 + uint64_t(*size) + (*size & 1);
    if (end > s.size())
        return std::nullopt;
    if (std::memcmp(head + 8, "AVI ", 4) == 0) {
        // OpenDML: a large AVI goes on in RIFF AVIX chunks.
        for (;;) {
            char next[12];
            const auto more = s.le32(end + 4);
            if (!s.get(end, next, 12) || std::memcmp(next, "RIFF", 4) != 0 || std::memcmp(next + 8, "AVIX", 4) != 0 || !more)
                break;
            const uint64_t after = end + 8 + uint64_t(*more) + (*more & 1);
            if (after > s.size())
                break;
            end = after;
        }
    }
    return end;
}

std::optional<uint64_t> asfEnd(ByteSource &s, const ExtentContext &)
{
    static const unsigned char header[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                             0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
    static const unsigned char fileProperties[16] = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                                     0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
    unsigned char guid[16];
    const auto headerSize = s.le64(16);
    if (!s.get(0, guid, 16) || std::memcmp(guid, header, 16) != 0 || !headerSize || *headerSize < 30)
        return std::nullopt;
    if (*headerSize > s.size())
        return std::nullopt;
    for (uint64_t p = 30; p + 24 <= *headerSize;) {
        const auto size = s.le64(p + 16);
        // Each object lies inside the header: sizes that would pass its end (or wrap) are damage.
        if (!s.get(p, guid, 16) || !size || *size < 24 || *size > *headerSize - p)
            return std::nullopt;
        if (std::memcmp(guid, fileProperties, 16) == 0) {
            const auto fileSize = s.le64(p + 40);
            if (!fileSize || *fileSize < *headerSize || *fileSize > s.size())
                return std::nullopt;  // 0 while broadcasting, or beyond the medium
            return *fileSize;
        }
        p += *size;
    }
    return std::nullopt;
}

namespace {
// An EBML variable-length number: its length and value; `unknown` when all value bits are 1.
bool vint(ByteSource &s, uint64_t at, int *length, uint64_t *value, bool *unknown)
{
    const auto first = s.u8(at);
    if (!first || *first == 0)
        return false;
    int len = 1;
    while (!(*first & (0x80 >> (len - 1))))
        ++len;
    uint64_t v = *first & (0xFF >> len);
    bool allOnes = v == uint64_t(0xFF >> len);
    for (int i = 1; i < len; ++i) {
        const auto b = s.u8(at + uint64_t(i));
        if (!b)
            return false;
        v = (v << 8) | *b;
        allOnes = allOnes && *b == 0xFF;
    }
    *length = len;
    *value = v;
    *unknown = allOnes;
    return true;
}
} // namespace

std::optional<uint64_t> ebmlEnd(ByteSource &s, const ExtentContext &)
{
    const auto id = s.be32(0);
    int len = 0;
    uint64_t size = 0;
    bool unknown = false;
    if (!id || *id != 0x1A45DFA3 || !vint(s, 4, &len, &size, &unknown) || unknown)
        return std::nullopt;
    const uint64_t segment = 4 + uint64_t(len) + size;
    const auto segId = s.be32(segment);
    if (!segId || *segId != 0x18538067 || !vint(s, segment + 4, &len, &size, &unknown) || unknown)
        return std::nullopt;
    const uint64_t end = segment + 4 + uint64_t(len) + size;
    if (end > s.size())
        return std::nullopt;
    return end;
}

} // namespace lumafind
