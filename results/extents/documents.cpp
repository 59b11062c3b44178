// Documents and archives: PDF (the last %%EOF in the carved range), ZIP (its records up to the
// end of the central directory) and OLE compound files (the sectors their allocation table uses).
#include "extent.h"

#include <cstring>
#include <vector>

namespace lumafind {

std::optional<uint64_t> pdfEnd(ByteSource &s, const ExtentContext &c)
{
    const QByteArrayView marker("%%EOF");
    std::optional<uint64_t> last;
    uint64_t from = 0;
    while (const auto hit = s.find(from, c.carved, marker)) {
        last = *hit;
        from = *hit + 1;
    }
    if (!last)
        return std::nullopt;
    uint64_t end = *last + 5;
    char eol[2] = {0, 0};
    const int64_t n = s.read(end, eol, 2);
    if (n >= 1 && eol[0] == '\r')
        end += (n == 2 && eol[1] == '\n') ? 2 : 1;
    else if (n >= 1 && eol[0] == '\n')
        ++end;
    return end;
}

std::optional<uint64_t> zipEnd(ByteSource &s)
{
    uint64_t p = 0;
    bool central = false;
    for (int records = 0; records < 1000000; ++records) {
        const auto sig = s.le32(p);
        if (!sig)
            return std::nullopt;
        if (*sig == 0x04034b50 && !central) {  // local file header
            const auto flags = s.le16(p + 6), nameLen = s.le16(p + 26), extraLen = s.le16(p + 28);
            auto compSize = s.le32(p + 18);
            if (!flags || !nameLen || !extraLen || !compSize)
                return std::nullopt;
            const uint64_t data = p + 30 + *nameLen + *extraLen;
            if (*flags & 0x08) {
                // Sizes follow the data: the next record's signature tells where it ends.
                std::optional<uint64_t> found;
                uint64_t at = data;
                while (!found) {
                    const std::optional<uint64_t> hit = s.find(at, s.size(), QByteArrayView("PK"));
                    if (!hit)
                        break;
                    const auto v = s.le32(*hit);
                    if (v && (*v == 0x04034b50 || *v == 0x02014b50))
                        found = hit;
                    at = *hit + 1;
                }
                if (!found)
                    return std::nullopt;
                p = *found;
                continue;
            }
            p = data + *compSize;
        } else if (*sig == 0x02014b50) {  // central directory entry
            central = true;
            const auto n = s.le16(p + 28), m = s.le16(p + 30), k = s.le16(p + 32);
            if (!n || !m || !k)
                return std::nullopt;
            p += 46 + *n + *m + *k;
        } else if (*sig == 0x06064b50) {  // zip64 end record
            const auto size = s.le64(p + 4);
            if (!size)
                return std::nullopt;
            p += 12 + *size;
        } else if (*sig == 0x07064b50) {  // zip64 locator
            p += 20;
        } else if (*sig == 0x06054b50) {  // end of central directory
            const auto comment = s.le16(p + 20);
            if (!comment || p + 22 + *comment > s.size())
                return std::nullopt;
            return p + 22 + *comment;
        } else {
            return std::nullopt;
        }
        if (p > s.size())
            return std::nullopt;
    }
    return std::nullopt;
}

std::optional<uint64_t> oleEnd(ByteSource &s)
{
    static const unsigned char sig[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    unsigned char head[8];
    const auto shift = s.le16(0x1E);
    const auto fatCount = s.le32(0x2C), difatStart = s.le32(0x44), difatCount = s.le32(0x48);
    if (!s.get(0, head, 8) || std::memcmp(head, sig, 8) != 0 || !shift || (*shift != 9 && *shift != 12) || !fatCount
        || !difatStart || !difatCount || *fatCount == 0 || *fatCount > 1000000)
        return std::nullopt;
    const uint64_t sector = uint64_t(1) << *shift;
    auto at = [&](uint32_t id) { return sector + uint64_t(id) * sector; };  // the header takes the first sector
    std::vector<uint32_t> fat;
    for (uint32_t i = 0; i < 109 && fat.size() < *fatCount; ++i) {
        const auto id = s.le32(0x4C + 4ull * i);
        if (!id)
            return std::nullopt;
        fat.push_back(*id);
    }
    uint32_t difat = *difatStart;
    for (uint32_t d = 0; d < *difatCount && fat.size() < *fatCount; ++d) {
        for (uint64_t i = 0; i + 1 < sector / 4 && fat.size() < *fatCount; ++i) {
            const auto id = s.le32(at(difat) + 4 * i);
            if (!id)
                return std::nullopt;
            fat.push_back(*id);
        }
        const auto next = s.le32(at(difat) + sector - 4);
        if (!next)
            return std::nullopt;
        difat = *next;
    }
    // The last sector that the allocation table does not mark free.
    int64_t last = -1;
    const uint64_t perSector = sector / 4;
    for (size_t f = 0; f < fat.size(); ++f) {
        std::vector<uint32_t> entries(perSector);
        if (!s.get(at(fat[f]), entries.data(), int64_t(sector)))
            return std::nullopt;
        for (uint64_t e = 0; e < perSector; ++e)
            if (entries[e] != 0xFFFFFFFFu)
                last = int64_t(f * perSector + e);
    }
    if (last < 0)
        return std::nullopt;
    const uint64_t end = at(uint32_t(last)) + sector;
    if (end > s.size())
        return std::nullopt;
    return end;
}

} // namespace lumafind
