#include "extent.h"

#include "engine/sectorreader.h"

#include <QtEndian>
#include <cstring>
#include <vector>

namespace lumafind {

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

std::optional<uint64_t> ByteSource::find(uint64_t from, uint64_t limit, QByteArrayView needle)
{
    const int64_t chunk = 1 << 20;
    const int64_t overlap = needle.size() - 1;
    std::vector<char> buf(size_t(chunk + overlap));
    limit = std::min(limit, size());
    for (uint64_t at = from; at < limit; at += uint64_t(chunk)) {
        const int64_t want = int64_t(std::min<uint64_t>(uint64_t(chunk + overlap), limit - at));
        const int64_t got = read(at, buf.data(), want);
        if (got < needle.size())
            return std::nullopt;
        const QByteArrayView hay(buf.data(), got);
        const qsizetype i = hay.indexOf(needle);
        if (i >= 0)
            return at + uint64_t(i);
        if (got < want)
            return std::nullopt;
    }
    return std::nullopt;
}

int64_t MemorySource::read(uint64_t offset, void *buf, int64_t len)
{
    if (offset >= uint64_t(bytes_.size()) || len <= 0)
        return 0;
    const int64_t n = std::min<int64_t>(len, int64_t(uint64_t(bytes_.size()) - offset));
    std::memcpy(buf, bytes_.data() + offset, size_t(n));
    return n;
}

MediumSource::MediumSource(SectorReader &reader, uint64_t startSector, uint64_t mediumSectors, QByteArrayView prefix)
    : reader_(reader), start_(startSector), prefix_(prefix)
{
    const uint64_t available = mediumSectors > startSector ? (mediumSectors - startSector) * kSectorSize : 0;
    size_ = std::min(std::max<uint64_t>(available, uint64_t(prefix.size())), kMaxSavedFile);
}

int64_t MediumSource::read(uint64_t offset, void *buf, int64_t len)
{
    auto *out = static_cast<unsigned char *>(buf);
    int64_t done = 0;
    while (done < len && offset < size_) {
        if (offset < uint64_t(prefix_.size())) {
            const int64_t n = std::min<int64_t>(len - done, int64_t(uint64_t(prefix_.size()) - offset));
            std::memcpy(out + done, prefix_.data() + offset, size_t(n));
            done += n;
            offset += uint64_t(n);
            continue;
        }
        const uint64_t sector = start_ + offset / kSectorSize;
        if (sector != cachedSector_) {
            if (reader_.read(sector, cache_) == SectorReader::Lost)
                break;
            cachedSector_ = sector;
        }
        const uint64_t in = offset % kSectorSize;
        const int64_t n = std::min<int64_t>(len - done, int64_t(std::min<uint64_t>(kSectorSize - in, size_ - offset)));
        std::memcpy(out + done, cache_ + in, size_t(n));
        done += n;
        offset += uint64_t(n);
    }
    return done;
}

} // namespace lumafind
