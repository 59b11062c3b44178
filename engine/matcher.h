#pragma once
// The header search of one pass: each record's header decoded once, and an index from the
// byte at each record's first position to the records that can start there, so a sector is
// rejected after a handful of table lookups.
#include "catalogue/signatures.h"

#include <array>
#include <vector>

namespace lumafind {

class PassMatcher {
public:
    explicit PassMatcher(const QStringList &records);
    // Whether any record could match the sector: a few table lookups, enough to pass over
    // nearly every sector of a card.
    bool mayMatch(const unsigned char *sector) const
    {
        for (const Slot &s : slots_) {
            const unsigned pair = sector[s.offset] | unsigned(sector[s.offset + 1]) << 8;
            if (s.possible[pair >> 6] >> (pair & 63) & 1)
                return true;
        }
        return false;
    }
    // The first record, in list order, whose header matches the sector; -1 when none does.
    int first(const unsigned char *sector) const;
    // Every record from `from` on, in list order, whose header matches the sector.
    void matchingFrom(const unsigned char *sector, int from, std::vector<int> &out) const;

private:
    struct Slot {
        int offset;
        std::array<std::vector<int>, 256> buckets;
        // The pairs of bytes at the offset that some record's header can start with (the
        // offset is at most 506, so the pair lies in the sector).
        std::array<uint64_t, 65536 / 64> possible{};
    };
    std::vector<DecodedHeader> headers_;
    std::vector<Slot> slots_;
};

} // namespace lumafind
