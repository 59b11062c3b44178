#pragma once
// A pass's view of its range: sectors handed out one at a time from large blocks read straight
// into one buffer (a single copy from the medium), with the bytes just before and just after
// the current sector at hand, so a header found in a sector can be checked against what
// follows it and what precedes it without another read.
#include "engine/sectorreader.h"

#include <cstdint>
#include <vector>

namespace lumafind {

class SectorFeed {
public:
    static constexpr size_t kBehind = 2048;  // bytes kept before the current sector
    static constexpr size_t kAhead = 2048;   // bytes kept after it (within the range)

    // pinCapacity: room for pinned bytes (see pin()) besides the blocks.
    SectorFeed(SectorReader &reader, uint64_t start, uint64_t end, uint64_t blockSectors = 8192, size_t pinCapacity = 0);
    ~SectorFeed();
    SectorFeed(const SectorFeed &) = delete;
    SectorFeed &operator=(const SectorFeed &) = delete;

    enum Result { Sector, End, Lost };
    // The next sector of the range: its number, its bytes (valid until the next call) and
    // whether it could not be read (then it is zeros).
    Result next(uint64_t *sector, const unsigned char **bytes, bool *unreadable);
    // The bytes in memory around the current sector: before it (up to kBehind, never before the
    // range) and from its start on (at least the sector, up to 512 + kAhead within the range).
    const unsigned char *window() const { return buf_ + windowStart_; }
    // The next call of next() gives `sector` (at or after the current one); nothing between is
    // read.
    void skipTo(uint64_t sector);
    // Reads need not reach beyond `sector` for now: a block read stops there (the range stays
    // the same; a later next() past it reads on).
    void readUpTo(uint64_t sector) { readUpTo_ = sector; }
    // The sectors after the current one that are in memory and were read (up to the next
    // unreadable one): how many, and their bytes in one run. The pass looks at them in place and
    // steps over the ones it has nothing to do with by advance(), without next()'s bookkeeping
    // for each.
    size_t upcoming(const unsigned char **first) const;
    // Steps over n of the upcoming sectors: the last of them becomes the current sector.
    void advance(size_t n)
    {
        pos_ += n * kSectorSize;
        posSector_ += n;
        windowStart_ = pos_ > kBehind ? pos_ - kBehind : 0;
    }
    size_t behind() const { return pos_ - windowStart_; }
    size_t ahead() const { return fill_ - pos_; }

    // A file being collected: from the current sector on, its first bytes (as many as
    // setPinned() says, at most the pin capacity) stay in one run in the buffer while later
    // sectors are read, so they need no copy of their own. pinned() is valid until the next
    // call of next().
    void pin();
    void setPinned(size_t bytes) { pinBytes_ = bytes; }
    const unsigned char *pinned() const { return buf_ + pinStart_; }
    void unpin() { pinnedNow_ = false, pinStart_ = 0, pinBytes_ = 0; }

private:
    static constexpr size_t kPrefetchAhead = 16 * kSectorSize;
    bool refill();

    SectorReader &reader_;
    uint64_t nextRead_, end_;
    uint64_t blockSectors_;
    unsigned char *buf_ = nullptr;
    size_t capacity_ = 0;
    size_t pos_ = 0, fill_ = 0, windowStart_ = 0;
    uint64_t posSector_ = 0;       // sector number at pos_
    bool started_ = false, lost_ = false;
    bool pinnedNow_ = false;
    size_t pinStart_ = 0, pinBytes_ = 0, pinCapacity_ = 0;
    uint64_t readUpTo_ = UINT64_MAX;
    std::vector<uint64_t> unreadable_;
    size_t unreadableNext_ = 0;
};

} // namespace lumafind
