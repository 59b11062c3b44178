#include "sectorfeed.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <sys/mman.h>

namespace lumafind {

SectorFeed::SectorFeed(SectorReader &reader, uint64_t start, uint64_t end, uint64_t blockSectors, size_t pinCapacity)
    : reader_(reader), nextRead_(start), end_(end), blockSectors_(std::max<uint64_t>(blockSectors, 8)), posSector_(start),
      pinCapacity_(pinCapacity / kSectorSize * kSectorSize)
{
    capacity_ = kBehind + kSectorSize + kAhead + size_t(blockSectors_) * kSectorSize + pinCapacity_;
    // Aligned to large pages and asking for them: the kernel copies whole pages into it, and a
    // buffer of tens of MiB costs a handful of page faults and TLB entries instead of thousands.
    constexpr size_t kLarge = size_t(2) << 20;
    const size_t bytes = (capacity_ + kLarge - 1) / kLarge * kLarge;
    buf_ = static_cast<unsigned char *>(std::aligned_alloc(kLarge, bytes));
    if (buf_)
        ::madvise(buf_, bytes, MADV_HUGEPAGE);
}

SectorFeed::~SectorFeed()
{
    std::free(buf_);
}

bool SectorFeed::refill()
{
    if (!buf_ || lost_ || nextRead_ >= end_)
        return false;
    // Keep what lies before the current sector (for the checks) and what is not used yet, and
    // what is pinned: in one run with it while the file is being collected, else before it.
    size_t keepFrom = pos_ > kBehind ? pos_ - kBehind : 0;
    size_t to = 0;
    if (pinnedNow_) {
        pinBytes_ = std::min(pinBytes_, pinCapacity_);
        if (pinStart_ + pinBytes_ >= keepFrom) {
            keepFrom = std::min(keepFrom, pinStart_);
            pinStart_ -= keepFrom;
        } else {
            // The pinned bytes are complete and the pass has gone on past them.
            if (pinStart_ > 0)
                std::memmove(buf_, buf_ + pinStart_, pinBytes_);
            pinStart_ = 0;
            to = pinBytes_;
        }
    }
    if (keepFrom > to) {
        std::memmove(buf_ + to, buf_ + keepFrom, fill_ - keepFrom);
        const size_t shift = keepFrom - to;
        pos_ -= shift;
        fill_ -= shift;
        windowStart_ = windowStart_ > shift ? windowStart_ - shift : to;
    }
    const uint64_t room = std::min<uint64_t>((capacity_ - fill_) / kSectorSize, blockSectors_);
    // Up to what is needed now (at least the sector asked for and what a check looks at).
    const uint64_t wanted = std::max(readUpTo_, posSector_ + 1 + kAhead / kSectorSize);
    const uint64_t until = std::min(end_, std::max(wanted, nextRead_ + 1));
    const uint64_t count = std::min(room, until - nextRead_);
    if (count == 0)
        return false;
    // Unreadable sectors already handed out are no longer needed.
    unreadable_.erase(unreadable_.begin(), unreadable_.begin() + std::ptrdiff_t(unreadableNext_));
    unreadableNext_ = 0;
    const uint64_t got = reader_.readBlock(nextRead_, count, buf_ + fill_, &unreadable_);
    fill_ += size_t(got) * kSectorSize;
    nextRead_ += got;
    if (got < count)
        lost_ = true;  // the medium ended or stopped answering
    return got > 0;
}

void SectorFeed::pin()
{
    pinnedNow_ = pinCapacity_ > 0;
    pinStart_ = pos_;
    pinBytes_ = 0;
}

void SectorFeed::skipTo(uint64_t sector)
{
    const uint64_t current = started_ ? posSector_ + 1 : posSector_;
    if (sector <= current)
        return;
    const uint64_t buffered = started_ ? (fill_ - pos_) / kSectorSize : 0;  // from the current sector on
    if (started_ && sector - posSector_ < buffered) {
        // Inside what is in memory: step over it.
        pos_ += size_t(sector - 1 - posSector_) * kSectorSize;
        posSector_ = sector - 1;
        return;
    }
    // Beyond it: read on from there, with nothing before it at hand.
    unpin();
    pos_ = fill_ = windowStart_ = 0;
    started_ = false;
    posSector_ = nextRead_ = sector;
    unreadable_.clear();
    unreadableNext_ = 0;
}

size_t SectorFeed::upcoming(const unsigned char **first) const
{
    if (!started_ || fill_ < pos_ + kSectorSize)
        return 0;
    uint64_t n = (fill_ - pos_) / kSectorSize - 1;
    size_t u = unreadableNext_;
    while (u < unreadable_.size() && unreadable_[u] <= posSector_)
        ++u;
    if (u < unreadable_.size())
        n = std::min(n, unreadable_[u] - posSector_ - 1);
    *first = buf_ + pos_ + kSectorSize;
    return size_t(n);
}

SectorFeed::Result SectorFeed::next(uint64_t *sector, const unsigned char **bytes, bool *unreadable)
{
    if (started_) {
        pos_ += kSectorSize;
        ++posSector_;
    }
    started_ = true;
    if (posSector_ >= end_)
        return End;
    // Keep the lookahead filled while the range goes on.
    if (fill_ - pos_ < kSectorSize + kAhead && nextRead_ < end_)
        refill();
    if (fill_ < pos_ + kSectorSize)
        return lost_ ? Lost : End;
    windowStart_ = pos_ > kBehind ? pos_ - kBehind : 0;
    *sector = posSector_;
    *bytes = buf_ + pos_;
    // The pass looks at the first bytes of nearly every sector and little else: ask for the
    // line a few sectors on before it is needed (one line in eight is no stream the hardware sees).
    if (pos_ + kPrefetchAhead < fill_)
        __builtin_prefetch(buf_ + pos_ + kPrefetchAhead);
    while (unreadableNext_ < unreadable_.size() && unreadable_[unreadableNext_] < posSector_)
        ++unreadableNext_;  // stepped over
    *unreadable = unreadableNext_ < unreadable_.size() && unreadable_[unreadableNext_] == posSector_;
    if (*unreadable)
        ++unreadableNext_;
    return Sector;
}

} // namespace lumafind
