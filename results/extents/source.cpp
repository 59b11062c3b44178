#include "extent.h"

#include <QtEndian>
#include <cstring>

namespace lumafind {

int64_t ByteSource::read(uint64_t offset, void *buf, int64_t len)
{
    const uint64_t end = size();
    if (len <= 0 || offset >= end)
        return 0;
    uint64_t want = std::min<uint64_t>(uint64_t(len), end - offset);
    if (bytesRead_ >= budget_) {
        spent_ = true;
        return 0;
    }
    want = std::min(want, budget_ - bytesRead_);
    ++readCalls_;
    const int64_t got = readAt(offset, buf, int64_t(want));
    if (got > 0)
        bytesRead_ += uint64_t(got);
    return got;
}

template <typename T, bool Big>
static std::optional<T> number(ByteSource &s, uint64_t o)
{
    unsigned char b[sizeof(T)];
    if (!s.get(o, b, sizeof(T)))
        return std::nullopt;
    return Big ? qFromBigEndian<T>(b) : qFromLittleEndian<T>(b);
}

std::optional<uint8_t> ByteSource::u8(uint64_t o) { return number<uint8_t, false>(*this, o); }
std::optional<uint16_t> ByteSource::le16(uint64_t o) { return number<uint16_t, false>(*this, o); }
std::optional<uint32_t> ByteSource::le32(uint64_t o) { return number<uint32_t, false>(*this, o); }
std::optional<uint64_t> ByteSource::le64(uint64_t o) { return number<uint64_t, false>(*this, o); }
std::optional<uint16_t> ByteSource::be16(uint64_t o) { return number<uint16_t, true>(*this, o); }
std::optional<uint32_t> ByteSource::be32(uint64_t o) { return number<uint32_t, true>(*this, o); }
std::optional<uint64_t> ByteSource::be64(uint64_t o) { return number<uint64_t, true>(*this, o); }

int64_t MemorySource::readAt(uint64_t offset, void *buf, int64_t len)
{
    const int64_t n = std::min<int64_t>(len, int64_t(uint64_t(bytes_.size()) - offset));
    std::memcpy(buf, bytes_.data() + offset, size_t(n));
    return n;
}

std::optional<uint64_t> Searcher::next(uint64_t from, uint64_t limit)
{
    constexpr uint64_t kWindow = 1 << 20;
    const uint64_t n = uint64_t(needle_.size());
    limit = std::min(limit, s_.size());
    for (;;) {
        if (n == 0 || from > limit || limit - from < n)
            return std::nullopt;
        const bool inWindow = from >= windowAt_ && from - windowAt_ + n <= uint64_t(window_.size());
        if (!inWindow) {
            const uint64_t want = std::min(kWindow, limit - from);
            window_.resize(qsizetype(want));
            const int64_t got = s_.read(from, window_.data(), int64_t(want));
            window_.resize(qsizetype(std::max<int64_t>(got, 0)));
            windowAt_ = from;
            if (uint64_t(window_.size()) < n)
                return std::nullopt;
        }
        const qsizetype hit = QByteArrayView(window_).indexOf(needle_, qsizetype(from - windowAt_));
        if (hit >= 0) {
            const uint64_t at = windowAt_ + uint64_t(hit);
            if (at + n > limit)
                return std::nullopt;
            return at;
        }
        // Not in this window: go on from its end, keeping the bytes a match could straddle.
        const uint64_t next = windowAt_ + uint64_t(window_.size()) - (n - 1);
        if (next <= from)
            return std::nullopt;
        from = next;
        window_.clear();
    }
}

} // namespace lumafind
