#include "fragments.h"

#include "engine/sectorreader.h"

#include <QtEndian>
#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <deque>

namespace lumafind {

// ---- HeldMap ----

void HeldMap::merge(Stretches &into, uint64_t start, uint64_t end)
{
    auto it = into.upper_bound(start);
    if (it != into.begin() && std::prev(it)->second >= start) {
        --it;
        start = it->first;
        end = std::max(end, it->second);
        it = into.erase(it);
    }
    while (it != into.end() && it->first <= end) {
        end = std::max(end, it->second);
        it = into.erase(it);
    }
    into.emplace(start, end);
}

uint64_t HeldMap::firstIn(const Stretches &s, uint64_t from, uint64_t to)
{
    auto it = s.upper_bound(from);
    if (it != s.begin() && std::prev(it)->second > from)
        return from;
    return it != s.end() && it->first < to ? it->first : UINT64_MAX;
}

void HeldMap::add(uint64_t start, uint64_t end, bool foundFile)
{
    if (end <= start)
        return;
    auto &owned = owners_[start];
    owned = std::max(owned, end);
    merge(merged_, start, end);
    if (!foundFile)
        merge(others_, start, end);
}

bool HeldMap::held(uint64_t b, uint64_t own) const
{
    const auto mine = owners_.find(own);
    // Inside its own stretch only what is no found file can hold it.
    if (mine != owners_.end() && b >= own && b < mine->second)
        return firstIn(others_, b, b + 1) != UINT64_MAX;
    return firstIn(merged_, b, b + 1) != UINT64_MAX;
}

uint64_t HeldMap::nextHeld(uint64_t b, uint64_t own) const
{
    const auto mine = owners_.find(own);
    const uint64_t ownEnd = mine != owners_.end() ? mine->second : own;
    auto it = merged_.upper_bound(b);
    if (it != merged_.begin() && std::prev(it)->second > b)
        --it;
    for (; it != merged_.end(); ++it) {
        uint64_t at = std::max(b, it->first);
        if (at >= own && at < ownEnd) {
            const uint64_t other = firstIn(others_, at, std::min(ownEnd, it->second));
            if (other != UINT64_MAX)
                return other;
            at = ownEnd;
        }
        if (at < it->second)
            return at;
    }
    return UINT64_MAX;
}

uint64_t HeldMap::nextFree(uint64_t b, uint64_t own) const
{
    const auto mine = owners_.find(own);
    const uint64_t ownEnd = mine != owners_.end() ? mine->second : own;
    // A stretch at a time: inside its own stretch only the others hold, and a stretch of the
    // union ends for it where its own begins.
    while (b != UINT64_MAX && held(b, own)) {
        const bool inOwn = b >= own && b < ownEnd;
        const Stretches &s = inOwn ? others_ : merged_;
        const uint64_t end = std::prev(s.upper_bound(b))->second;
        b = !inOwn && own > b ? std::min(end, own) : end;
    }
    return b;
}

// ---- FragmentReader ----

FragmentReader::FragmentReader(SectorReader &medium, uint64_t mediumBytes) : medium_(medium), size_(mediumBytes)
{
    cache_.resize(kBlocks);
}

int64_t FragmentReader::peek(uint64_t at, unsigned char *out, int64_t len)
{
    if (len <= 0 || at >= size_)
        return 0;
    len = std::min<int64_t>(len, int64_t(size_ - at));
    const uint64_t first = at / kSectorSize, last = (at + uint64_t(len) - 1) / kSectorSize;
    if (last - first >= 8)
        return read(at, out, len);
    unsigned char buf[8 * kSectorSize];
    const uint64_t got = medium_.readScattered(first, last - first + 1, buf);
    bytesRead_ += got * kSectorSize;
    if (got < last - first + 1)
        return 0;
    std::memcpy(out, buf + (at - first * kSectorSize), size_t(len));
    return len;
}

int64_t FragmentReader::read(uint64_t at, unsigned char *out, int64_t len)
{
    int64_t done = 0;
    while (done < len && at + uint64_t(done) < size_) {
        const uint64_t o = at + uint64_t(done);
        const uint64_t blockAt = o / kBlock * kBlock;
        Block *b = nullptr;
        for (Block &c : cache_)
            if (c.at == blockAt)
                b = &c;
        if (!b) {
            b = &*std::min_element(cache_.begin(), cache_.end(), [](const Block &x, const Block &y) { return x.used < y.used; });
            b->bytes.resize(kBlock);
            const uint64_t first = blockAt / kSectorSize;
            const uint64_t count = std::min<uint64_t>(kBlock, size_ - blockAt + kSectorSize - 1) / kSectorSize;
            const uint64_t got = medium_.readScattered(first, count, b->bytes.data());
            bytesRead_ += got * kSectorSize;
            if (got < count) {
                b->at = UINT64_MAX;
                return done;  // the medium ended or was lost
            }
            b->at = blockAt;
        }
        b->used = ++tick_;
        const uint64_t in = o - blockAt;
        const int64_t n = std::min<int64_t>(len - done, int64_t(std::min<uint64_t>(kBlock - in, size_ - o)));
        std::memcpy(out + done, b->bytes.data() + in, size_t(n));
        done += n;
    }
    return done;
}

// ---- JPEG ----

namespace {
struct Huffman {
    bool present = false;
    uint8_t lookLen[512] = {};
    uint8_t lookSym[512] = {};
    int32_t maxcode[18] = {};
    int32_t mincode[17] = {};
    int32_t valptr[17] = {};
    uint8_t vals[256] = {};
};

// A canonical Huffman table from its counts and values; false when the codes over-fill their
// lengths (or would use the all-ones code, which JPEG reserves).
bool buildHuffman(Huffman &h, const uint8_t *counts, const uint8_t *vals, int n)
{
    h = Huffman();
    std::memcpy(h.vals, vals, size_t(n));
    int32_t code = 0;
    int k = 0;
    for (int l = 1; l <= 16; ++l) {
        h.valptr[l] = k;
        h.mincode[l] = code;
        for (int i = 0; i < counts[l - 1]; ++i) {
            // Before its entries are written: a count can run the codes past their length.
            if (code >= (1 << l) - 1)
                return false;
            if (l <= 9) {
                const int prefix = code << (9 - l);
                for (int j = 0; j < (1 << (9 - l)); ++j) {
                    h.lookLen[prefix | j] = uint8_t(l);
                    h.lookSym[prefix | j] = vals[k];
                }
            }
            ++code;
            ++k;
        }
        h.maxcode[l] = counts[l - 1] ? code - 1 : -1;
        code <<= 1;
    }
    h.maxcode[17] = INT32_MAX;
    h.present = true;
    return true;
}

struct JpegTables {
    Huffman dc[4], ac[4];
};

class JpegWalker final : public StructureWalker {
public:
    explicit JpegWalker(uint64_t size) : size_(size), tables_(std::make_shared<JpegTables>()) {}
    std::unique_ptr<StructureWalker> clone() const override { return std::make_unique<JpegWalker>(*this); }
    uint64_t confirmed() const override { return confirmed_; }

    Step feed(uint64_t offset, const unsigned char *bytes, size_t n) override
    {
        if (mode_ == Mode::Failed)
            return {Step::Fault, failedAt_};
        for (size_t i = 0; i < n; ++i) {
            const uint64_t at = offset + i;
            if (mode_ == Mode::Entropy) {
                // The hot loop: plain data bytes straight into the bit buffer.
                size_t j = i;
                while (j < n && !pendingFF_ && bytes[j] != 0xFF) {
                    if (!push(bytes[j]))
                        return fail(offset + j);
                    ++j;
                }
                if (j == n)
                    break;
                i = j;
                if (!entropyByte(bytes[i], offset + i))
                    return fail(offset + i);
            } else if (!headerByte(bytes[i], at)) {
                return mode_ == Mode::Unsupported ? Step{Step::Unsupported, at} : fail(at);
            }
            if (mode_ == Mode::Done)
                return {Step::Done, at + 1};
        }
        if (offset + n >= size_ && mode_ != Mode::Done)
            return fail(size_);
        return {};
    }

private:
    enum class Mode { Soi0, Soi1, ExpectFF, MarkerCode, LenHi, LenLo, Body, Entropy, AfterEoi, Done, Failed, Unsupported };

    Step fail(uint64_t at)
    {
        mode_ = Mode::Failed;
        failedAt_ = at;
        return {Step::Fault, at};
    }

    // ---- Marker segments ----
    bool headerByte(unsigned char b, uint64_t at)
    {
        switch (mode_) {
        case Mode::Soi0:
            if (b != 0xFF)
                return false;
            mode_ = Mode::Soi1;
            return true;
        case Mode::Soi1:
            if (b != 0xD8)
                return false;
            newImage();
            mode_ = Mode::ExpectFF;
            return true;
        case Mode::ExpectFF:
            if (b != 0xFF)
                return false;
            mode_ = Mode::MarkerCode;
            return true;
        case Mode::MarkerCode:
            if (b == 0xFF)
                return true;  // fill bytes before a marker
            return marker(b, at);
        case Mode::LenHi:
            length_ = int(b) << 8;
            mode_ = Mode::LenLo;
            return true;
        case Mode::LenLo:
            length_ |= b;
            if (length_ < 2)
                return false;
            remaining_ = length_ - 2;
            body_.clear();
            if (remaining_ == 0)
                return segmentDone(at);
            mode_ = Mode::Body;
            return true;
        case Mode::Body:
            if (keepBody_)
                body_.push_back(b);
            if (--remaining_ == 0)
                return segmentDone(at);
            return true;
        case Mode::AfterEoi:
            // After an image: another one (a camera's second picture), zeros to the end, or a
            // few bytes more in the same sector (what the directory counts is the file's).
            if ((eoiEnd_ - 1) / kSectorSize == (size_ - 1) / kSectorSize) {
                if (at + 1 == size_)
                    mode_ = Mode::Done;
                return true;
            }
            if (b == 0x00 && !afterNonZero_) {
                zeroTail_ = true;
                if (at + 1 == size_)
                    mode_ = Mode::Done;
                return true;
            }
            if (b == 0xFF && !zeroTail_) {
                mode_ = Mode::Soi1;
                return true;
            }
            return false;
        default:
            return false;
        }
    }

    bool marker(unsigned char m, uint64_t at)
    {
        if (m == 0xD9) {
            if (scans_ == 0)
                return false;
            if (at + 1 == size_) {
                mode_ = Mode::Done;
                return true;
            }
            mode_ = Mode::AfterEoi;
            eoiEnd_ = at + 1;
            zeroTail_ = afterNonZero_ = false;
            return true;
        }
        if (m == 0x01)
            return (mode_ = Mode::ExpectFF), true;
        if (m == 0x00 || m == 0xD8 || (m >= 0xD0 && m <= 0xD7) || (m >= 0x02 && m <= 0xBF))
            return false;
        if (m == 0xC2 || m == 0xC3 || (m >= 0xC5 && m <= 0xC7) || (m >= 0xC9 && m <= 0xCB) || (m >= 0xCD && m <= 0xCF)
            || m == 0xDC) {
            mode_ = Mode::Unsupported;  // progressive, lossless, arithmetic, hierarchical, DNL
            return false;
        }
        marker_ = m;
        keepBody_ = m == 0xC0 || m == 0xC1 || m == 0xC4 || m == 0xDA || m == 0xDD;
        mode_ = Mode::LenHi;
        return true;
    }

    bool segmentDone(uint64_t at)
    {
        mode_ = Mode::ExpectFF;
        const unsigned char *p = body_.data();
        const size_t n = body_.size();
        switch (marker_) {
        case 0xC0:
        case 0xC1: {
            if (n < 6 || frame_)
                return false;
            precision_ = p[0];
            const unsigned height = (p[1] << 8) | p[2], width = (p[3] << 8) | p[4];
            const unsigned count = p[5];
            if ((precision_ != 8 && precision_ != 12) || width == 0 || count == 0 || count > 4 || n != 6 + 3 * count) {
                if (height == 0)
                    mode_ = Mode::Unsupported;  // the height comes in a DNL marker
                return false;
            }
            if (height == 0) {
                mode_ = Mode::Unsupported;
                return false;
            }
            hmax_ = vmax_ = 1;
            components_ = int(count);
            for (unsigned c = 0; c < count; ++c) {
                comp_[c].id = p[6 + 3 * c];
                comp_[c].h = p[7 + 3 * c] >> 4;
                comp_[c].v = p[7 + 3 * c] & 15;
                if (comp_[c].h < 1 || comp_[c].h > 4 || comp_[c].v < 1 || comp_[c].v > 4 || p[8 + 3 * c] > 3)
                    return false;
                hmax_ = std::max(hmax_, comp_[c].h);
                vmax_ = std::max(vmax_, comp_[c].v);
            }
            width_ = width;
            height_ = height;
            frame_ = true;
            return true;
        }
        case 0xC4: {
            size_t o = 0;
            while (o < n) {
                if (n - o < 17)
                    return false;
                const unsigned tc = p[o] >> 4, th = p[o] & 15;
                if (tc > 1 || th > 3)
                    return false;
                int total = 0;
                for (int i = 0; i < 16; ++i)
                    total += p[o + 1 + i];
                if (total > 256 || n - o - 17 < size_t(total))
                    return false;
                auto fresh = std::make_shared<JpegTables>(*tables_);
                if (!buildHuffman(tc ? fresh->ac[th] : fresh->dc[th], p + o + 1, p + o + 17, total))
                    return false;
                tables_ = fresh;
                o += 17 + size_t(total);
            }
            return true;
        }
        case 0xDD:
            if (n != 2)
                return false;
            restartInterval_ = (p[0] << 8) | p[1];
            return true;
        case 0xDA:
            return startScan(p, n, at);
        default:
            return true;
        }
    }

    // ---- Entropy-coded data ----
    bool startScan(const unsigned char *p, size_t n, uint64_t at)
    {
        if (!frame_ || n < 1)
            return false;
        const unsigned ns = p[0];
        if (ns < 1 || ns > 4 || n != 4 + 2 * ns)
            return false;
        const unsigned char *tail = p + 1 + 2 * ns;
        if (tail[0] != 0 || tail[1] != 63 || tail[2] != 0) {
            mode_ = Mode::Unsupported;  // not sequential
            return false;
        }
        mcuBlocks_.clear();
        for (unsigned s = 0; s < ns; ++s) {
            int idx = -1;
            for (int c = 0; c < components_; ++c)
                if (comp_[c].id == p[1 + 2 * s])
                    idx = c;
            if (idx < 0)
                return false;
            const unsigned td = p[2 + 2 * s] >> 4, ta = p[2 + 2 * s] & 15;
            if (td > 3 || ta > 3 || !tables_->dc[td].present || !tables_->ac[ta].present)
                return false;
            scanComp_[s] = {idx, int(td), int(ta)};
            const int blocks = ns == 1 ? 1 : comp_[idx].h * comp_[idx].v;
            for (int b = 0; b < blocks; ++b)
                mcuBlocks_.push_back(uint8_t(s));
        }
        if (mcuBlocks_.size() > 10)
            return false;
        if (ns == 1) {
            const Component &c = comp_[scanComp_[0].comp];
            const uint64_t cw = (uint64_t(width_) * c.h + hmax_ - 1) / hmax_, ch = (uint64_t(height_) * c.v + vmax_ - 1) / vmax_;
            totalMcus_ = ((cw + 7) / 8) * ((ch + 7) / 8);
        } else {
            totalMcus_ = ((uint64_t(width_) + 8 * hmax_ - 1) / (8 * hmax_)) * ((uint64_t(height_) + 8 * vmax_ - 1) / (8 * vmax_));
        }
        mcusDone_ = sinceRestart_ = 0;
        block_ = 0;
        k_ = 0;
        acc_ = 0;
        nbits_ = 0;
        awaiting_ = false;
        pendingFF_ = false;
        nextRst_ = 0;
        std::fill(std::begin(pred_), std::end(pred_), 0);
        dcMax_ = precision_ == 8 ? 11 : 15;
        acMax_ = precision_ == 8 ? 10 : 14;
        dcLimit_ = precision_ == 8 ? 2048 : 32768;
        confirmed_ = at + 1;
        mode_ = Mode::Entropy;
        return true;
    }

    bool push(unsigned char b)
    {
        if (awaiting_)
            return false;  // data where only a marker may come
        acc_ = (acc_ << 8) | b;
        nbits_ += 8;
        while (nbits_ >= 32 && !awaiting_)
            if (decodeStep(false) != 1)
                return false;
        return !(awaiting_ && nbits_ >= 8);
    }

    // The byte after an FF in entropy-coded data, or an FF itself.
    bool entropyByte(unsigned char b, uint64_t at)
    {
        if (!pendingFF_) {
            pendingFF_ = true;  // b is FF
            return true;
        }
        if (b == 0x00) {
            pendingFF_ = false;
            return push(0xFF);
        }
        if (b == 0xFF)
            return true;  // fill
        pendingFF_ = false;
        // A marker: the data before it must end exactly where the MCUs it owes end.
        while (!awaiting_) {
            const int r = decodeStep(true);
            if (r != 1)
                return false;
        }
        if (nbits_ >= 8)
            return false;
        acc_ = 0;
        nbits_ = 0;
        awaiting_ = false;
        if (b >= 0xD0 && b <= 0xD7) {
            if (mcusDone_ >= totalMcus_ || restartInterval_ == 0 || sinceRestart_ != restartInterval_ || (b & 7) != nextRst_)
                return false;
            nextRst_ = (nextRst_ + 1) & 7;
            sinceRestart_ = 0;
            std::fill(std::begin(pred_), std::end(pred_), 0);
            confirmed_ = at + 1;
            return true;
        }
        if (mcusDone_ != totalMcus_)
            return false;
        ++scans_;
        confirmed_ = at;
        mode_ = Mode::MarkerCode;
        return marker(b, at);
    }

    // One Huffman symbol; -1 for an invalid code, -2 when the bits run out.
    int decode(const Huffman &h)
    {
        const uint32_t peek = nbits_ >= 9 ? uint32_t(acc_ >> (nbits_ - 9)) & 511
                                          : uint32_t((acc_ << (9 - nbits_)) | ((1u << (9 - nbits_)) - 1)) & 511;
        const int len = h.lookLen[peek];
        if (len) {
            if (len > nbits_)
                return -2;
            nbits_ -= len;
            return h.lookSym[peek];
        }
        for (int l = 10; l <= 16; ++l) {
            if (l > nbits_)
                return -2;
            const int32_t code = int32_t((acc_ >> (nbits_ - l)) & ((1u << l) - 1));
            if (h.maxcode[l] >= 0 && code <= h.maxcode[l]) {
                nbits_ -= l;
                return h.vals[h.valptr[l] + code - h.mincode[l]];
            }
        }
        return -1;
    }

    bool receive(int s, int *v)
    {
        if (s > nbits_)
            return false;
        const int raw = int((acc_ >> (nbits_ - s)) & ((1u << s) - 1));
        nbits_ -= s;
        *v = raw < (1 << (s - 1)) ? raw - (1 << s) + 1 : raw;
        return true;
    }

    // Decodes one coefficient (or run); 1 when it went well, else a fault.
    int decodeStep(bool flushing)
    {
        (void)flushing;
        const ScanComponent &sc = scanComp_[mcuBlocks_[block_]];
        if (k_ == 0) {
            const int s = decode(tables_->dc[sc.dc]);
            if (s < 0 || s > dcMax_)
                return 0;
            int diff = 0;
            if (s && !receive(s, &diff))
                return 0;
            int &pred = pred_[sc.comp];
            pred += diff;
            if (pred > dcLimit_ || pred < -dcLimit_)
                return 0;
            k_ = 1;
            return 1;
        }
        const int rs = decode(tables_->ac[sc.ac]);
        if (rs < 0)
            return 0;
        const int r = rs >> 4, s = rs & 15;
        if (s == 0) {
            if (r == 15) {
                k_ += 16;
                if (k_ > 63)
                    return 0;
                return 1;
            }
            if (r != 0)
                return 0;
            blockDone();
            return 1;
        }
        if (s > acMax_)
            return 0;
        k_ += r;
        if (k_ > 63)
            return 0;
        int v = 0;
        if (!receive(s, &v))
            return 0;
        if (++k_ == 64)
            blockDone();
        return 1;
    }

    void blockDone()
    {
        k_ = 0;
        if (++block_ < mcuBlocks_.size())
            return;
        block_ = 0;
        ++mcusDone_;
        ++sinceRestart_;
        if (mcusDone_ == totalMcus_ || (restartInterval_ && sinceRestart_ == restartInterval_))
            awaiting_ = true;
    }

    void newImage()
    {
        tables_ = std::make_shared<JpegTables>();
        frame_ = false;
        restartInterval_ = 0;
        scans_ = 0;
    }

    struct Component {
        int id = 0, h = 1, v = 1;
    };
    struct ScanComponent {
        int comp = 0, dc = 0, ac = 0;
    };

    uint64_t size_;
    Mode mode_ = Mode::Soi0;
    uint64_t failedAt_ = 0, confirmed_ = 0;
    int length_ = 0, remaining_ = 0;
    unsigned char marker_ = 0;
    bool keepBody_ = false;
    std::vector<unsigned char> body_;
    bool zeroTail_ = false, afterNonZero_ = false;
    uint64_t eoiEnd_ = 0;
    std::shared_ptr<const JpegTables> tables_;
    bool frame_ = false;
    int precision_ = 8, components_ = 0, hmax_ = 1, vmax_ = 1;
    unsigned width_ = 0, height_ = 0;
    Component comp_[4];
    ScanComponent scanComp_[4];
    std::vector<uint8_t> mcuBlocks_;
    uint64_t totalMcus_ = 0, mcusDone_ = 0;
    unsigned restartInterval_ = 0, sinceRestart_ = 0, nextRst_ = 0;
    size_t block_ = 0;
    int k_ = 0;
    int pred_[4] = {};
    int dcMax_ = 11, acMax_ = 10, dcLimit_ = 2048;
    uint64_t acc_ = 0;
    int nbits_ = 0;
    bool awaiting_ = false, pendingFF_ = false;
    int scans_ = 0;
};

// ---- RIFF ----

// Bytes of the file at hand: the last few of the previous feed and the current one.
class Carry {
public:
    void fed(uint64_t offset, const unsigned char *bytes, size_t n)
    {
        cur_ = bytes;
        curAt_ = offset;
        curLen_ = n;
    }
    // Keeps the tail of the current feed for the next one.
    void keepTail()
    {
        const size_t keep = std::min<size_t>(curLen_, sizeof tail_);
        if (curLen_ >= sizeof tail_) {
            std::memcpy(tail_, cur_ + curLen_ - keep, keep);
            tailAt_ = curAt_ + curLen_ - keep;
            tailLen_ = keep;
        } else {
            // Shift in the few new bytes.
            unsigned char merged[sizeof tail_ * 2];
            size_t m = 0;
            uint64_t mergedAt = curAt_;
            if (tailLen_ && tailAt_ + tailLen_ == curAt_) {
                std::memcpy(merged, tail_, tailLen_);
                m = tailLen_;
                mergedAt = tailAt_;
            }
            std::memcpy(merged + m, cur_, curLen_);
            m += curLen_;
            const size_t k = std::min<size_t>(m, sizeof tail_);
            std::memcpy(tail_, merged + m - k, k);
            tailAt_ = mergedAt + m - k;
            tailLen_ = k;
        }
        cur_ = nullptr;
        curLen_ = 0;
    }
    // n bytes at file offset p, when at hand.
    bool get(uint64_t p, unsigned char *out, size_t n) const
    {
        for (size_t i = 0; i < n; ++i) {
            const uint64_t q = p + i;
            if (q >= curAt_ && q < curAt_ + curLen_)
                out[i] = cur_[q - curAt_];
            else if (q >= tailAt_ && q < tailAt_ + tailLen_)
                out[i] = tail_[q - tailAt_];
            else
                return false;
        }
        return true;
    }
    uint64_t end() const { return curAt_ + curLen_; }

private:
    const unsigned char *cur_ = nullptr;
    uint64_t curAt_ = 0;
    size_t curLen_ = 0;
    unsigned char tail_[32] = {};
    uint64_t tailAt_ = 0;
    size_t tailLen_ = 0;
};

bool fourcc(const unsigned char *p)
{
    for (int i = 0; i < 4; ++i)
        if (p[i] < 0x20 || p[i] > 0x7E)
            return false;
    return true;
}

class RiffWalker final : public StructureWalker {
public:
    explicit RiffWalker(uint64_t size) : size_(size) {}
    std::unique_ptr<StructureWalker> clone() const override { return std::make_unique<RiffWalker>(*this); }
    uint64_t confirmed() const override { return confirmed_; }

    Step feed(uint64_t offset, const unsigned char *bytes, size_t n) override
    {
        carry_.fed(offset, bytes, n);
        Step st = walk();
        carry_.keepTail();
        if (st.kind == Step::Going && offset + n >= size_)
            st = {Step::Fault, size_};
        return st;
    }

private:
    Step walk()
    {
        for (;;) {
            while (!ends_.empty() && p_ >= ends_.back()) {
                if (p_ > ends_.back() + 1)
                    return {Step::Fault, p_};
                p_ = ends_.back();
                ends_.pop_back();
            }
            if (ends_.empty() && p_ == size_ && started_)
                return {Step::Done, size_};
            unsigned char h[12];
            const bool container = true;
            (void)container;
            if (!carry_.get(p_, h, 12)) {
                if (p_ + 12 > size_ && carry_.get(p_, h, 8) && !ends_.empty()) {
                    // A last chunk too short to be a list.
                } else {
                    return {};
                }
            }
            const uint32_t size = qFromLittleEndian<quint32>(h + 4);
            const uint64_t limit = ends_.empty() ? size_ : ends_.back();
            if (!fourcc(h) || p_ + 8 + uint64_t(size) > limit)
                return {Step::Fault, p_};
            const bool riff = std::memcmp(h, "RIFF", 4) == 0, list = std::memcmp(h, "LIST", 4) == 0;
            if (ends_.empty()) {
                // The top level: RIFF at the start, an AVIX continuation after it.
                if (!riff || size < 4 || !fourcc(h + 8) || (started_ && std::memcmp(h + 8, "AVIX", 4) != 0))
                    return {Step::Fault, p_};
                started_ = true;
            }
            confirmed_ = p_ + 8;
            if (riff || list) {
                if (size < 4 || !fourcc(h + 8) || ends_.size() >= 8)
                    return {Step::Fault, p_};
                ends_.push_back(p_ + 8 + size);
                p_ += 12;
            } else {
                p_ += 8 + uint64_t(size) + (size & 1);
            }
        }
    }

    uint64_t size_;
    uint64_t p_ = 0, confirmed_ = 0;
    bool started_ = false;
    std::vector<uint64_t> ends_;
    Carry carry_;
};

// ---- ISO media ----

constexpr uint64_t kMaxMoovBytes = uint64_t(64) << 20;

struct SampleStart {
    uint64_t at = 0;
    uint32_t size = 0;
    uint8_t kind = 0;     // 1 AVC, 2 HEVC, 3 JPEG frame
    uint8_t lengthBytes = 4;
};

// Whether a NAL unit (or a JPEG frame) may start at p of the sample: h holds its first bytes.
bool sampleUnitValid(const SampleStart &s, const unsigned char *h, uint64_t p, uint64_t *len)
{
    if (s.kind == 3)
        return h[0] == 0xFF && h[1] == 0xD8 && h[2] == 0xFF;
    *len = 0;
    for (int b = 0; b < s.lengthBytes; ++b)
        *len = (*len << 8) | h[b];
    const unsigned char nal = h[s.lengthBytes];
    const uint64_t end = s.at + s.size;
    bool ok = *len > 0 && p + s.lengthBytes <= end && *len <= end - p - s.lengthBytes && !(nal & 0x80);
    if (ok && s.kind == 1)
        ok = (nal & 0x1F) >= 1 && (nal & 0x1F) <= 23;
    if (ok && s.kind == 2)
        ok = ((nal >> 1) & 0x3F) <= 47 && (h[s.lengthBytes + 1] & 7) != 0;
    return ok;
}

size_t sampleHeadBytes(const SampleStart &s) { return s.kind == 3 ? 3 : s.lengthBytes + (s.kind == 2 ? 2 : 1); }

class SampleWalker final : public StructureWalker {
public:
    SampleWalker(std::shared_ptr<const std::vector<SampleStart>> samples, uint64_t size) : samples_(std::move(samples)), size_(size) {}
    std::unique_ptr<StructureWalker> clone() const override { return std::make_unique<SampleWalker>(*this); }
    uint64_t confirmed() const override { return confirmed_; }

    Step feed(uint64_t offset, const unsigned char *bytes, size_t n) override
    {
        carry_.fed(offset, bytes, n);
        const std::vector<SampleStart> &s = *samples_;
        while (i_ < s.size()) {
            const SampleStart &cur = s[i_];
            const uint64_t p = inSample_ ? inSample_ : cur.at;
            unsigned char h[8];
            const size_t need = sampleHeadBytes(cur);
            if (!carry_.get(p, h, need)) {
                if (p + need <= offset + n || p < offset) {
                    carry_.keepTail();
                    return {Step::Fault, p};  // passed over: should not happen
                }
                break;
            }
            uint64_t len = 0;
            if (!sampleUnitValid(cur, h, p, &len)) {
                carry_.keepTail();
                return {Step::Fault, p};
            }
            confirmed_ = p + need;
            if (cur.kind == 3) {
                ++i_;
                continue;
            }
            const uint64_t end = cur.at + cur.size;
            const uint64_t next = p + cur.lengthBytes + len;
            if (next == end) {
                inSample_ = 0;
                ++i_;
            } else {
                inSample_ = next;
            }
        }
        carry_.keepTail();
        if (offset + n >= size_)
            return i_ == s.size() ? Step{Step::Done, size_} : Step{Step::Fault, size_};
        return {};
    }

private:
    std::shared_ptr<const std::vector<SampleStart>> samples_;
    uint64_t size_;
    size_t i_ = 0;
    uint64_t inSample_ = 0;
    uint64_t confirmed_ = 0;
    Carry carry_;
};

// Boxes inside a movie box held in memory.
struct BoxView {
    const unsigned char *p;
    uint64_t size;
    char type[5];
    uint64_t header;
};
std::vector<BoxView> children(const unsigned char *p, uint64_t n)
{
    std::vector<BoxView> out;
    uint64_t o = 0;
    while (n - o >= 8 && out.size() < 4096) {
        uint64_t size = qFromBigEndian<quint32>(p + o);
        uint64_t header = 8;
        if (size == 1) {
            if (n - o < 16)
                break;
            size = qFromBigEndian<quint64>(p + o + 8);
            header = 16;
        }
        if (size < header || size > n - o)
            break;
        BoxView b{p + o, size, {}, header};
        std::memcpy(b.type, p + o + 4, 4);
        b.type[4] = 0;
        out.push_back(b);
        o += size;
    }
    return out;
}
const BoxView *child(const std::vector<BoxView> &boxes, const char *type)
{
    for (const BoxView &b : boxes)
        if (std::memcmp(b.type, type, 4) == 0)
            return &b;
    return nullptr;
}

// The video samples of a movie whose starts can be checked, sorted; false when the movie box
// does not hold together (or names data beyond the file).
bool movieSamples(const unsigned char *moov, uint64_t moovSize, uint64_t fileSize, std::vector<SampleStart> *out)
{
    constexpr size_t kMaxSamples = 4u << 20;
    const std::vector<BoxView> tracks = children(moov, moovSize);
    for (const BoxView &trak : tracks) {
        if (std::memcmp(trak.type, "trak", 4) != 0)
            continue;
        const auto t = children(trak.p + trak.header, trak.size - trak.header);
        const BoxView *mdia = child(t, "mdia");
        if (!mdia)
            continue;
        const auto m = children(mdia->p + mdia->header, mdia->size - mdia->header);
        const BoxView *minf = child(m, "minf");
        if (!minf)
            continue;
        const auto mi = children(minf->p + minf->header, minf->size - minf->header);
        const BoxView *stbl = child(mi, "stbl");
        if (!stbl)
            continue;
        const auto st = children(stbl->p + stbl->header, stbl->size - stbl->header);
        const BoxView *stsd = child(st, "stsd"), *stsc = child(st, "stsc"), *stsz = child(st, "stsz");
        const BoxView *stco = child(st, "stco"), *co64 = child(st, "co64");
        if (!stsd || !stsc || !stsz || (!stco && !co64))
            continue;
        // The first sample description: what the samples are.
        if (stsd->size - stsd->header < 16)
            continue;
        const unsigned char *entry = stsd->p + stsd->header + 8;
        const uint64_t entryRoom = stsd->size - stsd->header - 8;
        const uint64_t entrySize = qFromBigEndian<quint32>(entry);
        if (entrySize < 8 || entrySize > entryRoom)
            continue;
        uint8_t kind = 0, lengthBytes = 4;
        const char *fmt = reinterpret_cast<const char *>(entry + 4);
        auto is = [&](const char *f) { return std::memcmp(fmt, f, 4) == 0; };
        if (is("avc1") || is("avc3") || is("hvc1") || is("hev1")) {
            const bool hevc = fmt[0] == 'h';
            if (entrySize < 86)
                continue;
            const auto inner = children(entry + 86, entrySize - 86);
            const BoxView *cfg = child(inner, hevc ? "hvcC" : "avcC");
            if (!cfg)
                continue;
            const uint64_t at = hevc ? 21 : 4;
            if (cfg->size - cfg->header <= at)
                continue;
            lengthBytes = uint8_t((cfg->p[cfg->header + at] & 3) + 1);
            if (lengthBytes == 3)
                continue;
            kind = hevc ? 2 : 1;
        } else if (is("jpeg") || is("mjpa") || is("mjpb")) {
            kind = 3;
        } else {
            continue;
        }
        // Sample sizes.
        const unsigned char *z = stsz->p + stsz->header;
        const uint64_t zRoom = stsz->size - stsz->header;
        if (zRoom < 12)
            return false;
        const uint32_t uniform = qFromBigEndian<quint32>(z + 4);
        const uint64_t samples = qFromBigEndian<quint32>(z + 8);
        if (samples > kMaxSamples || (uniform == 0 && samples > (zRoom - 12) / 4))
            return false;
        auto sampleSize = [&](uint64_t i) { return uniform ? uniform : qFromBigEndian<quint32>(z + 12 + 4 * i); };
        // Chunk offsets.
        const BoxView *co = stco ? stco : co64;
        const uint64_t width = stco ? 4 : 8;
        const unsigned char *c = co->p + co->header;
        const uint64_t cRoom = co->size - co->header;
        if (cRoom < 8)
            return false;
        const uint64_t chunks = qFromBigEndian<quint32>(c + 4);
        if (chunks > (cRoom - 8) / width)
            return false;
        auto chunkOffset = [&](uint64_t i) {
            return width == 4 ? uint64_t(qFromBigEndian<quint32>(c + 8 + 4 * i)) : qFromBigEndian<quint64>(c + 8 + 8 * i);
        };
        // Samples per chunk.
        const unsigned char *s = stsc->p + stsc->header;
        const uint64_t sRoom = stsc->size - stsc->header;
        if (sRoom < 8)
            return false;
        const uint64_t runs = qFromBigEndian<quint32>(s + 4);
        if (runs == 0 || runs > (sRoom - 8) / 12)
            return false;
        uint64_t sample = 0;
        for (uint64_t r = 0; r < runs; ++r) {
            const uint64_t first = qFromBigEndian<quint32>(s + 8 + 12 * r);
            const uint64_t perChunk = qFromBigEndian<quint32>(s + 12 + 12 * r);
            const uint64_t last = r + 1 < runs ? qFromBigEndian<quint32>(s + 8 + 12 * (r + 1)) : chunks + 1;
            if (first == 0 || last < first || last > chunks + 1)
                return false;
            for (uint64_t ch = first; ch < last; ++ch) {
                uint64_t at = chunkOffset(ch - 1);
                for (uint64_t k = 0; k < perChunk; ++k) {
                    if (sample >= samples || out->size() >= kMaxSamples)
                        return false;
                    const uint64_t sz = sampleSize(sample++);
                    if (at > fileSize || sz > fileSize - at)
                        return false;
                    if (sz > 0)
                        out->push_back({at, uint32_t(sz), kind, lengthBytes});
                    at += sz;
                }
            }
        }
    }
    std::sort(out->begin(), out->end(), [](const SampleStart &a, const SampleStart &b) { return a.at < b.at; });
    for (size_t i = 1; i < out->size(); ++i)
        if ((*out)[i - 1].at + (*out)[i - 1].size > (*out)[i].at)
            return false;  // samples may not overlap
    return !out->empty();
}

bool isoType(const QString &t)
{
    const QString u = t.toUpper();
    return u == QLatin1String("MP4") || u == QLatin1String("MOV") || u == QLatin1String("M4V") || u == QLatin1String("3GP");
}
bool jpegType(const QString &t)
{
    return t.compare(QLatin1String("JPG"), Qt::CaseInsensitive) == 0;
}
bool riffType(const QString &t)
{
    const QString u = t.toUpper();
    return u == QLatin1String("AVI") || u == QLatin1String("WAV") || u == QLatin1String("WEBP");
}

// ---- The search ----

class Search {
public:
    Search(const FragmentQuery &q, const HeldMap &held, FragmentReader &medium, const std::function<bool()> &cancel)
        : q_(q), held_(held), medium_(medium), cancel_(cancel), cs_(q.volume.clusterBytes)
    {
        // Every byte of the file may be walked a few times over while joins are tried.
        budget_ = std::min<uint64_t>(q.size, uint64_t(1) << 32) * 16 + (uint64_t(256) << 20);
    }

    std::map<uint64_t, uint64_t> pins;  // file cluster -> the medium byte it must come from

    std::optional<std::vector<Piece>> run(std::unique_ptr<StructureWalker> walker)
    {
        pieces_.push_back({q_.startByte, 0});
        if (extend(*walker, 0, 0))
            return std::vector<Piece>(pieces_.begin(), pieces_.end());
        return std::nullopt;
    }

    bool usable(uint64_t m) const
    {
        if (m < q_.volume.heapByte || m + cs_ > q_.volume.heapEnd() || held_.held(m, q_.startByte))
            return false;
        for (const Piece &p : pieces_)
            if (m + cs_ > p.mediumByte && m < p.mediumByte + p.bytes)
                return false;
        return true;
    }

    bool readCluster(uint64_t m, size_t n, std::vector<unsigned char> &buf)
    {
        buf.resize(n);
        return medium_.read(m, buf.data(), int64_t(n)) == int64_t(n);
    }

private:
    struct Snapshot {
        uint64_t f;
        std::unique_ptr<StructureWalker> walker;
    };

    bool spent()
    {
        return fed_ > budget_ || tried_ > kMaxCandidates || (cancel_ && cancel_()) || aborted_;
    }

    // Walks the current (last) piece on from file offset f, and when it cannot go on, tries
    // the joins from its cluster boundaries back, latest first.
    bool extend(StructureWalker &walker, uint64_t f, int depth)
    {
        Piece &cur = pieces_.back();
        const uint64_t pieceFileStart = f - cur.bytes;
        std::deque<Snapshot> snaps;
        uint64_t faultAt = UINT64_MAX;
        std::vector<unsigned char> buf;
        bool firstCluster = cur.bytes == 0;
        while (f < q_.size) {
            if (spent())
                return false;
            const uint64_t m = cur.mediumByte + cur.bytes;
            const auto pin = pins.find(f / cs_);
            if ((pin != pins.end() && pin->second != m) || !usable(m))
                break;
            const size_t n = size_t(std::min<uint64_t>(cs_, q_.size - f));
            if (!readCluster(m, n, buf)) {
                aborted_ = true;
                return false;
            }
            // A new piece's first cluster is walked a sector at a time: most wrong candidates
            // show it within the first bytes.
            StructureWalker::Step st;
            const size_t step = firstCluster ? std::min<size_t>(512, n) : n;
            for (size_t o = 0; o < n && st.kind == StructureWalker::Step::Going; o += step)
                st = walker.feed(f + o, buf.data() + o, std::min(step, n - o));
            fed_ += n;
            firstCluster = false;
            if (st.kind == StructureWalker::Step::Unsupported) {
                aborted_ = true;
                return false;
            }
            if (st.kind == StructureWalker::Step::Fault) {
                faultAt = st.at;
                break;
            }
            cur.bytes += n;
            f += n;
            // A JPEG piece after the first must show some of its structure: bytes after the end
            // marker alone (zeros a camera pads with) would accept any blank cluster.
            if (st.kind == StructureWalker::Step::Done)
                return f == q_.size && st.at == q_.size
                       && (depth == 0 || !jpegType(q_.type) || walker.confirmed() > pieceFileStart);
            snaps.push_back({f, walker.clone()});
            if (snaps.size() > kSnapshots)
                snaps.pop_front();
        }
        if (cur.bytes == 0 || depth + 1 >= kMaxPieces)
            return false;
        // Where the join may be: after what the structure confirmed, at or before the fault.
        const uint64_t confirmedAt = walker.confirmed();
        const uint64_t lowest = std::max(pieceFileStart + cs_, (confirmedAt + cs_ - 1) / cs_ * cs_);
        const uint64_t highest = faultAt == UINT64_MAX ? f : std::min(f, faultAt / cs_ * cs_);
        int boundaries = 0;
        for (auto s = snaps.rbegin(); s != snaps.rend() && boundaries < kBoundaries; ++s) {
            if (s->f > highest)
                continue;
            if (s->f < lowest && boundaries > 0)
                break;
            if (s->f <= pieceFileStart)
                break;
            ++boundaries;
            cur.bytes = s->f - pieceFileStart;
            const uint64_t after = cur.mediumByte + cur.bytes;
            const auto pin = pins.find(s->f / cs_);
            std::vector<uint64_t> candidates;
            if (pin != pins.end()) {
                candidates.push_back(pin->second);
            } else {
                // Clusters after this piece that no known file holds, in order, within the gap.
                const uint64_t from = after + cs_;
                const uint64_t to = std::min(q_.volume.heapEnd(), from > UINT64_MAX - kMaxGap ? UINT64_MAX : from + kMaxGap);
                for (uint64_t m = from; m < to && candidates.size() < kCandidatesPerJoin;) {
                    const uint64_t h = held_.nextHeld(m, q_.startByte);
                    if (h == m) {
                        // Past the held stretches in one step (not a cluster at a time: held
                        // gigabytes lie between the few free clusters of a full card), on to
                        // the next cluster boundary after them.
                        const uint64_t e = held_.nextFree(m, q_.startByte);
                        m = e >= to ? to : m + (e - m + cs_ - 1) / cs_ * cs_;
                        continue;
                    }
                    const uint64_t free = std::min(h, to);
                    for (; m < free && candidates.size() < kCandidatesPerJoin; m += cs_)
                        if (usable(m))
                            candidates.push_back(m);
                }
            }
            const bool lastPiece = depth + 2 >= kMaxPieces;
            for (uint64_t c : candidates) {
                if (spent())
                    return false;
                // The last piece allowed must hold all the rest in one run.
                if (lastPiece && pin == pins.end()) {
                    const uint64_t rest = q_.size - s->f;
                    const uint64_t h = held_.nextHeld(c, q_.startByte);
                    if ((h != UINT64_MAX && h - c < rest) || q_.volume.heapEnd() - c < rest)
                        continue;
                }
                ++tried_;
                pieces_.push_back({c, 0});
                std::unique_ptr<StructureWalker> w = s->walker->clone();
                if (extend(*w, s->f, depth + 1))
                    return true;
                pieces_.pop_back();
                if (aborted_)
                    return false;
            }
        }
        return false;
    }

    static constexpr size_t kSnapshots = 64;
    static constexpr int kBoundaries = 32;
    static constexpr size_t kCandidatesPerJoin = 8192;
    static constexpr uint64_t kMaxCandidates = 100000;

    const FragmentQuery &q_;
    const HeldMap &held_;
    FragmentReader &medium_;
    const std::function<bool()> &cancel_;
    uint64_t cs_;
    uint64_t budget_ = 0, fed_ = 0, tried_ = 0;
    bool aborted_ = false;
    // A deque: each extend() keeps its own piece by reference while deeper ones are added.
    std::deque<Piece> pieces_;
};

// The header of the top-level box at file offset p (its first 16 bytes in h) and its size,
// when the size is one and the box lies within the file.
bool topLevelBox(const FragmentQuery &q, FragmentReader &m, uint64_t p, unsigned char *h, uint64_t *size)
{
    if (m.read(q.startByte + p, h, 16) != 16)
        return false;
    *size = qFromBigEndian<quint32>(h);
    if (*size == 1)
        *size = qFromBigEndian<quint64>(h + 8);
    return *size >= 8 && *size <= q.size - p && fourcc(h + 4);
}

// Whether the file, read as one run, ends the way its format ends (a few sectors read).
bool looksWhole(const FragmentQuery &q, FragmentReader &m)
{
    if (jpegType(q.type)) {
        // An end marker in the last sector (a camera may write a byte or two after it).
        unsigned char end[kSectorSize + 1];
        const uint64_t from = q.size > kSectorSize ? (q.size - 1) / kSectorSize * kSectorSize : 0;
        const int64_t n = int64_t(q.size - from);
        if (q.size < 4 || m.read(q.startByte + from, end, n) != n)
            return false;
        for (int64_t i = n - 2; i >= 0; --i)
            if (end[i] == 0xFF && end[i + 1] == 0xD9)
                return true;
        return false;
    }
    if (isoType(q.type)) {
        // Its top-level boxes, one after another, end exactly at its size.
        uint64_t p = 0, moovAt = UINT64_MAX, moovSize = 0;
        for (int boxes = 0; p < q.size && boxes < 64; ++boxes) {
            unsigned char h[16];
            uint64_t size = 0;
            if (!topLevelBox(q, m, p, h, &size))
                return false;
            if (std::memcmp(h + 4, "moov", 4) == 0) {
                moovAt = p;
                moovSize = size;
            }
            p += size;
        }
        if (p != q.size || moovAt == UINT64_MAX || moovSize > kMaxMoovBytes)
            return false;
        // With the movie box first, the chain above was read from the first piece alone: the
        // samples must also start where it says, in one run. Checked on samples spread over
        // the file, a few bytes each.
        std::vector<unsigned char> moov(moovSize);
        std::vector<SampleStart> samples;
        if (m.read(q.startByte + moovAt, moov.data(), int64_t(moovSize)) != int64_t(moovSize) || moovSize < 8
            || !movieSamples(moov.data() + 8, moovSize - 8, q.size, &samples))
            return false;
        constexpr size_t kChecks = 1024;
        const size_t step = std::max<size_t>(1, samples.size() / kChecks);
        for (size_t k = 0; !samples.empty() && k <= samples.size() / step; ++k) {
            const SampleStart &s = samples[std::min(k * step, samples.size() - 1)];  // the last one too
            unsigned char h[8];
            const int64_t need = int64_t(sampleHeadBytes(s));
            uint64_t len = 0;
            if (m.peek(q.startByte + s.at, h, need) != need || !sampleUnitValid(s, h, s.at, &len))
                return false;
        }
        return true;
    }
    if (riffType(q.type)) {
        // The chunks inside the RIFF follow each other to its end.
        unsigned char h[12];
        if (m.read(q.startByte, h, 12) != 12 || std::memcmp(h, "RIFF", 4) != 0)
            return false;
        const uint64_t end = 8 + uint64_t(qFromLittleEndian<quint32>(h + 4));
        if (end != q.size && end + (end & 1) != q.size)
            return false;
        uint64_t p = 12;
        for (int chunks = 0; p + 8 <= end && chunks < 256; ++chunks) {
            if (m.read(q.startByte + p, h, 8) != 8 || !fourcc(h))
                return false;
            const uint64_t size = qFromLittleEndian<quint32>(h + 4);
            p += 8 + size + (size & 1);
        }
        return p == end || p == end + 1;
    }
    return true;
}

// MP4/MOV: the walker from the movie box, and where that box lies when the file ends with it.
std::unique_ptr<StructureWalker> isoMediaWalker(const FragmentQuery &q, const HeldMap &held, FragmentReader &m, Search &search)
{
    const uint64_t cs = q.volume.clusterBytes;
    const uint64_t room = std::min(q.contiguousRoom, q.size);
    uint64_t p = 0, mdatEnd = 0, moovAt = UINT64_MAX, moovSize = 0;
    for (int boxes = 0; p + 16 <= room && boxes < 64; ++boxes) {
        unsigned char h[16];
        uint64_t size = 0;
        if (!topLevelBox(q, m, p, h, &size))
            return nullptr;
        if (std::memcmp(h + 4, "moov", 4) == 0) {
            moovAt = p;
            moovSize = size;
        }
        if (std::memcmp(h + 4, "mdat", 4) == 0) {
            mdatEnd = p + size;
            break;
        }
        p += size;
    }
    constexpr uint64_t kMaxMoov = kMaxMoovBytes;
    std::vector<unsigned char> moov;
    if (moovAt != UINT64_MAX) {
        // Before the media data, in the first piece.
        if (moovSize > kMaxMoov || moovAt + moovSize > room)
            return nullptr;
        moov.resize(moovSize);
        if (m.read(q.startByte + moovAt, moov.data(), int64_t(moovSize)) != int64_t(moovSize))
            return nullptr;
    } else {
        // After the media data: a movie box that ends the file exactly, at the same place in
        // its cluster as the media data ends, on a cluster no known file holds.
        if (mdatEnd == 0 || mdatEnd + 8 > q.size || q.size - mdatEnd > kMaxMoov)
            return nullptr;
        const uint64_t tail = q.size - mdatEnd;
        const uint64_t within = mdatEnd % cs;
        // Pieces only go forward: its place on the medium is at least its place in the file.
        const uint64_t from = q.startByte + mdatEnd / cs * cs;
        const uint64_t to = std::min(q.volume.heapEnd(), from + kMaxGap);
        for (uint64_t c = from; c + cs <= to; c += cs) {
            if (held.held(c, q.startByte))
                continue;
            unsigned char h[8];
            if (m.peek(c + within, h, 8) != 8)
                break;
            if (qFromBigEndian<quint32>(h) != tail || std::memcmp(h + 4, "moov", 4) != 0)
                continue;
            // The rest of the file lies on from there, clear of other files: its last cluster
            // in the heap, and none held (looked for a held stretch at a time: every cluster
            // of the window may be a candidate, and the rest may be 64 MiB of clusters).
            const uint64_t end = c + within + tail;
            bool clear = c + (within + tail - 1) / cs * cs + cs <= q.volume.heapEnd();
            for (uint64_t k = c; k < end && clear;) {
                const uint64_t h = held.nextHeld(k, q.startByte);
                if (h >= end)
                    break;
                k += (h - k + cs - 1) / cs * cs;  // the first cluster at or after the held byte
                clear = k >= end || !held.held(k, q.startByte);
            }
            if (!clear)
                continue;
            moov.resize(tail);
            if (m.read(c + within, moov.data(), int64_t(tail)) != int64_t(tail))
                continue;
            for (uint64_t k = mdatEnd / cs * cs, at = c; k < q.size; k += cs, at += cs)
                search.pins[k / cs] = at;
            moovAt = mdatEnd;
            moovSize = tail;
            break;
        }
        if (moovAt == UINT64_MAX)
            return nullptr;
    }
    auto samples = std::make_shared<std::vector<SampleStart>>();
    if (moov.size() < 8 || !movieSamples(moov.data() + 8, moov.size() - 8, q.size, samples.get()))
        return nullptr;
    return std::make_unique<SampleWalker>(samples, q.size);
}
} // namespace

std::unique_ptr<StructureWalker> walkerFor(const QString &type, uint64_t size)
{
    if (jpegType(type))
        return std::make_unique<JpegWalker>(size);
    if (riffType(type))
        return std::make_unique<RiffWalker>(size);
    return nullptr;
}

bool walkerRefusesForeignBytes(const QString &type)
{
    return jpegType(type);
}

bool hasFragmentWalker(const QString &type)
{
    return jpegType(type) || riffType(type) || isoType(type);
}

StructureWalker::Step walkJpeg(const unsigned char *bytes, size_t n, uint64_t size)
{
    JpegWalker w(size);
    return w.feed(0, bytes, n);
}

std::optional<std::vector<Piece>> findPieces(const FragmentQuery &q, const HeldMap &held, FragmentReader &medium,
                                             const std::function<bool()> &cancel)
{
    const uint64_t cs = q.volume.clusterBytes;
    if (cs == 0 || q.size == 0 || q.startByte < q.volume.heapByte || q.startByte >= q.volume.heapEnd()
        || (q.startByte - q.volume.heapByte) % cs != 0)
        return std::nullopt;
    if (q.size <= q.contiguousRoom && looksWhole(q, medium))
        return std::vector<Piece>{{q.startByte, q.size}};
    if (!hasFragmentWalker(q.type))
        return std::nullopt;
    Search search(q, held, medium, cancel);
    std::unique_ptr<StructureWalker> walker = isoType(q.type) ? isoMediaWalker(q, held, medium, search) : walkerFor(q.type, q.size);
    if (!walker)
        return std::nullopt;
    std::optional<std::vector<Piece>> pieces = search.run(std::move(walker));
    if (!pieces)
        return std::nullopt;
    // Neighbouring clusters are one piece.
    std::vector<Piece> merged;
    for (const Piece &p : *pieces) {
        if (!merged.empty() && merged.back().mediumByte + merged.back().bytes == p.mediumByte)
            merged.back().bytes += p.bytes;
        else
            merged.push_back(p);
    }
    return merged;
}

} // namespace lumafind
