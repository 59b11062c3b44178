#include "matcher.h"

#include <algorithm>
#include <climits>

namespace lumafind {

PassMatcher::PassMatcher(const QStringList &records)
{
    const qsizetype n = recordCount(records);
    headers_.reserve(static_cast<size_t>(n));
    for (qsizetype r = 0; r < n; ++r) {
        headers_.push_back(decodeHeader(records, r));
        const DecodedHeader &h = headers_.back();
        // A record whose first byte value is out of byte range can never pass the test.
        if (h.kind == DecodedHeader::Never || h.firstByte < 0 || h.firstByte > 255)
            continue;
        auto slot = std::find_if(slots_.begin(), slots_.end(), [&](const Slot &s) { return s.offset == h.offset; });
        if (slot == slots_.end()) {
            slots_.push_back(Slot{h.offset, {}});
            slot = slots_.end() - 1;
        }
        slot->buckets[static_cast<size_t>(h.firstByte)].push_back(static_cast<int>(r));
        // The second byte is the header's, or for a header of one byte anything; a header looked
        // for anywhere may also start later, after a run of its first byte.
        const auto first = static_cast<unsigned>(h.firstByte);
        auto allow = [&](unsigned second) { slot->possible[(first | second << 8) >> 6] |= uint64_t(1) << ((first | second << 8) & 63); };
        if (h.bytes.size() < 2) {
            for (unsigned second = 0; second < 256; ++second)
                allow(second);
        } else {
            allow(static_cast<unsigned char>(h.bytes[1]));
            if (h.kind == DecodedHeader::Anywhere)
                allow(first);
        }
    }
}

int PassMatcher::first(const unsigned char *b) const
{
    int best = INT_MAX;
    for (const Slot &s : slots_) {
        for (int r : s.buckets[b[s.offset]]) {
            if (r >= best)
                break;
            if (headerMatches(headers_[static_cast<size_t>(r)], b)) {
                best = r;
                break;
            }
        }
    }
    return best == INT_MAX ? -1 : best;
}

void PassMatcher::matchingFrom(const unsigned char *b, int from, std::vector<int> &out) const
{
    out.clear();
    for (const Slot &s : slots_)
        for (int r : s.buckets[b[s.offset]])
            if (r >= from && headerMatches(headers_[static_cast<size_t>(r)], b))
                out.push_back(r);
    std::sort(out.begin(), out.end());
}

} // namespace lumafind
