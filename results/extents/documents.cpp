// Documents and archives: PDF (the last %%EOF in the carved range), ZIP (its records up to the
// end of the central directory, which must agree with what was walked) and OLE compound files
// (the sectors their allocation table uses).
#include "extent.h"

#include <cstring>
#include <set>
#include <vector>

namespace lumafind {

std::optional<uint64_t> pdfEnd(ByteSource &s, const ExtentContext &c)
{
    // One pass over the carved range: every %%EOF is found once, the last one counts (an
    // incremental update appends another).
    Searcher search(s, QByteArrayView("%%EOF"));
    std::optional<uint64_t> last;
    for (uint64_t from = 0; const auto hit = search.next(from, std::min(c.carved, s.size()));) {
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

namespace {
constexpr uint32_t kLocal = 0x04034b50, kCentral = 0x02014b50, kDescriptor = 0x08074b50, kEnd = 0x06054b50,
                   kEnd64 = 0x06064b50, kLocator64 = 0x07064b50;

// The data of an entry whose sizes follow it: the next local or central header, accepted
// only where a data descriptor right before it gives the compressed size that leads there.
std::optional<uint64_t> afterDescriptor(ByteSource &s, const ExtentContext &c, Searcher &search, uint64_t data)
{
    const uint64_t limit = c.searchLimit(s, data, 4);
    for (uint64_t from = data; const auto hit = search.next(from, limit);) {
        from = *hit + 1;
        const auto sig = s.le32(*hit);
        if (!sig || (*sig != kLocal && *sig != kCentral))
            continue;
        // Descriptor forms: [signature] crc, compressed, uncompressed (4 or 8 bytes each).
        for (const uint64_t width : {uint64_t(4), uint64_t(8)}) {
            for (const bool signature : {true, false}) {
                const uint64_t len = (signature ? 4 : 0) + 4 + 2 * width;
                if (*hit < data + len)
                    continue;
                const uint64_t at = *hit - len;
                if (signature && s.le32(at) != kDescriptor)
                    continue;
                const uint64_t sizeAt = at + (signature ? 8 : 4);
                const std::optional<uint64_t> compressed = width == 8 ? s.le64(sizeAt) : std::optional<uint64_t>(s.le32(sizeAt));
                if (compressed && *compressed == at - data)
                    return *hit;
            }
        }
    }
    return std::nullopt;
}
} // namespace

std::optional<uint64_t> zipEnd(ByteSource &s, const ExtentContext &c)
{
    const uint64_t size = s.size();
    Searcher search(s, QByteArrayView("PK"));
    uint64_t p = 0, centralStart = 0, centralEntries = 0, localEntries = 0;
    bool central = false;
    for (;;) {
        const auto sig = s.le32(p);
        if (!sig)
            return std::nullopt;
        uint64_t next = 0;
        if (*sig == kLocal && !central) {
            const auto flags = s.le16(p + 6), nameLen = s.le16(p + 26), extraLen = s.le16(p + 28);
            const auto compSize = s.le32(p + 18);
            if (!flags || !nameLen || !extraLen || !compSize)
                return std::nullopt;
            ++localEntries;
            c.anchor(p);  // a member found on its own belongs to the archive
            const uint64_t data = p + 30 + *nameLen + *extraLen;
            if (*flags & 0x08) {
                const auto after = afterDescriptor(s, c, search, data);
                if (!after)
                    return std::nullopt;
                p = *after;
                continue;
            }
            next = data + *compSize;  // a ZIP64 entry's 0xFFFFFFFF is not followed: no answer then
        } else if (*sig == kCentral) {
            if (!central) {
                central = true;
                centralStart = p;
            }
            ++centralEntries;
            const auto n = s.le16(p + 28), m = s.le16(p + 30), k = s.le16(p + 32);
            const auto localAt = s.le32(p + 42);
            if (!n || !m || !k || !localAt || (*localAt != 0xFFFFFFFFu && *localAt >= centralStart))
                return std::nullopt;  // an entry must point back before the directory
            next = p + 46 + *n + *m + *k;
        } else if (*sig == kEnd64 && central) {
            const auto recordSize = s.le64(p + 4), entries = s.le64(p + 32), cdSize = s.le64(p + 40), cdAt = s.le64(p + 48);
            if (!recordSize || *recordSize < 44 || size - p < 12 || *recordSize > size - p - 12 || !entries || !cdSize || !cdAt
                || *cdAt != centralStart || *cdSize != p - centralStart || *entries != centralEntries)
                return std::nullopt;
            next = p + 12 + *recordSize;
        } else if (*sig == kLocator64 && central) {
            next = p + 20;
        } else if (*sig == kEnd) {
            const auto entries = s.le16(p + 10), comment = s.le16(p + 20);
            const auto cdSize = s.le32(p + 12), cdAt = s.le32(p + 16);
            if (!entries || !cdSize || !cdAt || !comment || p + 22 + *comment > size)
                return std::nullopt;
            // The end record must describe the directory that was walked: otherwise it is
            // another archive's, reached by running over the end of a cut one.
            if (!central && localEntries == 0 && *entries == 0)
                return p + 22 + *comment;  // an empty archive
            if (!central)
                return std::nullopt;
            const bool cdAtOk = *cdAt == 0xFFFFFFFFu || *cdAt == centralStart;
            const bool entriesOk = *entries == 0xFFFFu || *entries == (centralEntries & 0xFFFF);
            const bool sizeOk = *cdSize == 0xFFFFFFFFu || centralStart + *cdSize <= p;
            if (!cdAtOk || !entriesOk || !sizeOk || localEntries < centralEntries)
                return std::nullopt;
            return p + 22 + *comment;
        } else {
            return std::nullopt;
        }
        if (next <= p || next > size)
            return std::nullopt;
        p = next;
    }
}

std::optional<uint64_t> oleEnd(ByteSource &s, const ExtentContext &)
{
    static const unsigned char sig[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    unsigned char head[8];
    const auto shift = s.le16(0x1E);
    const auto fatCount = s.le32(0x2C), difatStart = s.le32(0x44), difatCount = s.le32(0x48);
    if (!s.get(0, head, 8) || std::memcmp(head, sig, 8) != 0 || !shift || (*shift != 9 && *shift != 12) || !fatCount
        || !difatStart || !difatCount || *fatCount == 0)
        return std::nullopt;
    const uint64_t sector = uint64_t(1) << *shift;
    // Every allocation-table sector lies in the file: their number is bounded by its size.
    if (*fatCount > s.size() / sector || *difatCount > *fatCount)
        return std::nullopt;
    auto at = [&](uint32_t id) { return sector + uint64_t(id) * sector; };  // the header takes the first sector
    std::vector<uint32_t> fat;
    for (uint32_t i = 0; i < 109 && fat.size() < *fatCount; ++i) {
        const auto id = s.le32(0x4C + 4ull * i);
        if (!id)
            return std::nullopt;
        fat.push_back(*id);
    }
    uint32_t difat = *difatStart;
    std::set<uint32_t> visited;
    for (uint32_t d = 0; d < *difatCount && fat.size() < *fatCount; ++d) {
        if (!visited.insert(difat).second)
            return std::nullopt;  // a chain that loops
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
    std::vector<uint32_t> entries(perSector);
    for (size_t f = 0; f < fat.size(); ++f) {
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
