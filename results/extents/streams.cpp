// Audio and video streams: FLV (tags whose trailing sizes agree), MXF (KLV packets to the
// footer partition and the random index pack), RealMedia (its chunks, up to every chunk its
// header points at), MP3 (an ID3v2 tag, frames while they chain, then APE and ID3v1 tags), Ogg
// (pages with valid checksums until every logical stream has ended), AMR (frames by their
// mode's size), FLAC (frames parsed for their lengths, each checked by its checksum), and the
// IFF forms of AIFF and DjVu and the chunks of MIDI.
//
// Streams state no length for the whole: their end is where their structure stops, as for
// the transport streams. Such a walk never stops inside a record; a record that the medium
// cuts gives no answer.
#include "family.h"
#include "others.h"
#include "window.h"

#include <array>
#include <map>
#include <set>

namespace lumafind {

namespace {
} // namespace

// ---- FLV ----

std::optional<uint64_t> flvEnd(ByteSource &s, const ExtentContext &)
{
    Window w(s);
    const unsigned char *h = w.at(0, 9);
    if (!h || std::memcmp(h, "FLV\x01", 4) != 0 || (h[4] & 0xFA))
        return std::nullopt;
    const uint64_t dataOffset = rdBe32(h + 5);
    const unsigned char *first = w.at(dataOffset, 4);
    if (dataOffset < 9 || !first || rdBe32(first) != 0)
        return std::nullopt;
    uint64_t p = dataOffset + 4, tags = 0;
    for (;;) {
        const unsigned char *t = w.at(p, 11);
        if (!t)
            break;
        const unsigned type = t[0] & 0x1F;
        if ((t[0] & 0xC0) || (type != 8 && type != 9 && type != 18) || rdBe24(t + 8) != 0)
            break;  // no tag: the stream ends here
        const uint64_t size = rdBe24(t + 1);
        if (p + 15 + size > s.size())
            return std::nullopt;  // a tag the medium cuts
        const unsigned char *back = w.at(p + 11 + size, 4);
        if (!back || rdBe32(back) != 11 + size)
            break;  // its trailing size disagrees: not a tag of this stream
        p += 15 + size;
        ++tags;
    }
    return tags > 0 ? std::optional<uint64_t>(p) : std::nullopt;
}

// ---- MXF ----

namespace {
const unsigned char kPartitionKey[13] = {0x06, 0x0E, 0x2B, 0x34, 0x02, 0x05, 0x01, 0x01, 0x0D, 0x01, 0x02, 0x01, 0x01};

struct Klv {
    unsigned char key[16];
    uint64_t value = 0, length = 0;
};

// The KLV packet at p: a universal label key and a BER length.
std::optional<Klv> klvAt(Window &w, uint64_t p)
{
    const unsigned char *k = w.at(p, 17);
    if (!k || std::memcmp(k, kPartitionKey, 4) != 0)
        return std::nullopt;
    Klv klv;
    std::memcpy(klv.key, k, 16);
    const unsigned b = k[16];
    if (b < 0x80) {
        klv.length = b;
        klv.value = p + 17;
        return klv;
    }
    const unsigned n = b & 0x7F;
    const unsigned char *l = n >= 1 && n <= 8 ? w.at(p + 17, n) : nullptr;
    if (!l)
        return std::nullopt;
    for (unsigned i = 0; i < n; ++i)
        klv.length = klv.length << 8 | l[i];
    klv.value = p + 17 + n;
    return klv;
}

// 2: header, 3: body, 4: footer partition; 0: no partition pack.
int partitionKind(const Klv &k)
{
    if (std::memcmp(k.key, kPartitionKey, 13) != 0 || k.key[15] != 0 || k.key[14] < 1 || k.key[14] > 4)
        return 0;
    return k.key[13] >= 2 && k.key[13] <= 4 ? k.key[13] : 0;
}

bool randomIndexPack(const Klv &k)
{
    return std::memcmp(k.key, kPartitionKey, 13) == 0 && k.key[13] == 0x11 && k.key[14] == 0x01 && k.key[15] == 0;
}
} // namespace

// KLV packets from the header partition on, each partition pack at the offset it states, to
// the footer partition and what follows it in KLV form (its metadata and index), ending with
// the random index pack when there is one. A file without a footer (a recording that was cut)
// gives no answer.
std::optional<uint64_t> mxfEnd(ByteSource &s, const ExtentContext &)
{
    Window w(s);
    auto first = klvAt(w, 0);
    if (!first || partitionKind(*first) != 2 || first->length < 88)
        return std::nullopt;
    const unsigned char *v = w.at(first->value, 32);
    if (!v || rdBe64(v + 8) != 0)
        return std::nullopt;
    const uint64_t declaredFooter = rdBe64(v + 24);
    std::optional<uint64_t> footer;
    uint64_t p = 0;
    for (;;) {
        const auto k = klvAt(w, p);
        if (!k)
            break;
        const int kind = partitionKind(*k);
        if (kind != 0) {
            const unsigned char *pack = k->length >= 88 ? w.at(k->value, 16) : nullptr;
            if ((kind == 2 && p != 0) || !pack || rdBe64(pack + 8) != p || (footer && kind != 4))
                break;  // another file's header, or a partition pack not of this file
            if (kind == 4)
                footer = p;
        }
        const auto next = addSize(k->value, k->length);
        if (!next || *next > s.size())
            return std::nullopt;  // a packet the medium cuts
        if (randomIndexPack(*k)) {
            const unsigned char *tail = k->length >= 4 ? w.at(*next - 4, 4) : nullptr;
            if (!footer || !tail || rdBe32(tail) != *next - p)
                return std::nullopt;
            p = *next;
            break;
        }
        p = *next;
    }
    if (!footer || (declaredFooter != 0 && declaredFooter != *footer))
        return std::nullopt;
    return p;
}

// ---- RealMedia ----

// Chunks from the file header on, while their ids are RealMedia's; the data chunk must have
// been met, and every offset the properties and index chunks point at must be a chunk start
// the walk reached.
std::optional<uint64_t> realMediaEnd(ByteSource &s, const ExtentContext &)
{
    Window w(s);
    const unsigned char *h = w.at(0, 10);
    if (!h || std::memcmp(h, ".RMF", 4) != 0 || rdBe32(h + 4) < 10 || rdBe16(h + 8) > 1)
        return std::nullopt;
    static const char *const ids[] = {"PROP", "MDPR", "CONT", "DATA", "INDX", "RMMD"};
    std::set<uint64_t> wanted;
    bool data = false;
    uint64_t p = rdBe32(h + 4);
    for (;;) {
        const unsigned char *c = w.at(p, 10);
        if (!c)
            break;
        bool known = false;
        for (const char *id : ids)
            known = known || std::memcmp(c, id, 4) == 0;
        const uint64_t size = rdBe32(c + 4);
        if (!known || size < 10)
            break;
        if (std::memcmp(c, "PROP", 4) == 0) {
            const unsigned char *prop = size >= 50 ? w.at(p, 50) : nullptr;
            if (!prop)
                return std::nullopt;
            for (const uint64_t at : {uint64_t(rdBe32(prop + 38)), uint64_t(rdBe32(prop + 42))})
                if (at != 0)
                    wanted.insert(at);
        } else if (std::memcmp(c, "INDX", 4) == 0) {
            const unsigned char *index = size >= 20 ? w.at(p, 20) : nullptr;
            if (!index)
                return std::nullopt;
            if (const uint64_t next = rdBe32(index + 16))
                wanted.insert(next);
        } else if (std::memcmp(c, "DATA", 4) == 0) {
            data = true;
        }
        wanted.erase(p);
        if (p + size > s.size())
            return std::nullopt;  // a chunk the medium cuts
        p += size;
    }
    if (!data || !wanted.empty())
        return std::nullopt;
    return p;
}

// ---- MP3 ----

// An ID3v2 tag (its size, and its footer when it has one), a little zero padding some taggers
// leave beyond it, MPEG audio frames of one version, layer and sample rate while each header
// follows the last frame, then an APE tag with a header and an ID3v1 tag, when present.
std::optional<uint64_t> mp3End(ByteSource &s, const ExtentContext &c)
{
    Window w(s);
    uint64_t p = 0;
    const unsigned char *h = w.at(0, 10);
    if (!h)
        return std::nullopt;
    const bool tagged = std::memcmp(h, "ID3", 3) == 0;
    if (tagged) {
        if (h[3] < 2 || h[3] > 4 || ((h[6] | h[7] | h[8] | h[9]) & 0x80))
            return std::nullopt;
        const uint64_t size = uint64_t(h[6]) << 21 | uint64_t(h[7]) << 14 | uint64_t(h[8]) << 7 | h[9];
        p = 10 + size + (h[3] == 4 && (h[5] & 0x10) ? 10 : 0);
        const uint64_t limit = std::min(c.searchLimit(s, p), p + 65536);
        while (p < limit) {
            const auto b = w.u8(p);
            if (!b || *b != 0)
                break;
            ++p;
        }
    }
    const unsigned char *f = w.at(p, 4);
    if (!f || mpegAudioFrame(f) == 0)
        return std::nullopt;
    const unsigned stream = f[1] & 0xFE, rate = (f[2] >> 2) & 3;
    uint64_t frames = 0;
    for (;;) {
        f = w.at(p, 4);
        const size_t len = f ? mpegAudioFrame(f) : 0;
        if (len == 0 || (f[1] & 0xFE) != stream || ((f[2] >> 2) & 3) != rate)
            break;
        if (p + len > s.size())
            return std::nullopt;  // a frame the medium cuts
        p += len;
        ++frames;
    }
    if (frames < (tagged ? 1u : 2u))
        return std::nullopt;
    const unsigned char *ape = w.at(p, 32);
    if (ape && std::memcmp(ape, "APETAGEX", 8) == 0 && (rdLe32(ape + 20) & 0x20000000u)) {
        const uint64_t end = p + 32 + rdLe32(ape + 12);
        const unsigned char *footer = end >= 32 ? w.at(end - 32, 32) : nullptr;
        if (footer && std::memcmp(footer, "APETAGEX", 8) == 0)
            p = end;
    }
    const unsigned char *v1 = w.at(p, 128);
    if (v1 && std::memcmp(v1, "TAG", 3) == 0)
        p += 128;
    return p;
}

// ---- Ogg ----

uint32_t oggCrc(const unsigned char *p, size_t n, uint32_t crc)
{
    static const auto table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t r = i << 24;
            for (int k = 0; k < 8; ++k)
                r = r & 0x80000000u ? (r << 1) ^ 0x04C11DB7u : r << 1;
            t[i] = r;
        }
        return t;
    }();
    for (size_t i = 0; i < n; ++i)
        crc = (crc << 8) ^ table[((crc >> 24) ^ p[i]) & 0xFF];
    return crc;
}

namespace {
// The length of the Ogg page at p when its header, segment table and checksum are valid; 0
// otherwise (also when the medium cuts it).
size_t oggPage(Window &w, uint64_t p)
{
    const unsigned char *h = w.at(p, 27);
    if (!h || std::memcmp(h, "OggS", 4) != 0 || h[4] != 0 || (h[5] & 0xF8))
        return 0;
    const size_t segments = h[26];
    const unsigned char *table = w.at(p, 27 + segments);
    if (!table)
        return 0;
    size_t size = 27 + segments;
    for (size_t i = 0; i < segments; ++i)
        size += table[27 + i];
    const unsigned char *page = w.at(p, size);
    if (!page)
        return 0;
    static const unsigned char zero[4] = {};
    uint32_t crc = oggCrc(page, 22);
    crc = oggCrc(zero, 4, crc);
    crc = oggCrc(page + 26, size - 26, crc);
    return crc == rdLe32(page + 22) ? size : 0;
}
} // namespace

// Pages while they are valid: a link of a file opens its logical streams with their first
// pages, each stream's pages count up one by one, and the link ends when every stream has
// had its last page. Another link may follow (a chained file) unless it starts where the next
// found file does. A file whose last link is cut gives no answer.
std::optional<uint64_t> oggEnd(ByteSource &s, const ExtentContext &c)
{
    Window w(s);
    struct Stream {
        uint32_t sequence;
        bool ended;
    };
    std::map<uint32_t, Stream> streams;
    size_t open = 0;
    bool dataPages = false;
    uint64_t p = 0;
    for (;;) {
        const size_t size = oggPage(w, p);
        if (size == 0)
            break;
        const unsigned char *h = w.at(p, 27);
        const unsigned flags = h[5];
        const uint32_t serial = rdLe32(h + 14), sequence = rdLe32(h + 18);
        if (flags & 2) {
            if (!streams.empty() && open == 0) {  // a new link
                if (p >= c.searchLimit(s, p))
                    break;
                streams.clear();
                dataPages = false;
            }
            if (dataPages || streams.count(serial) || streams.size() >= 256)
                break;
            streams[serial] = {sequence, false};
            ++open;
        } else {
            const auto it = streams.find(serial);
            if (it == streams.end() || it->second.ended || sequence != it->second.sequence + 1)
                break;
            it->second.sequence = sequence;
            dataPages = true;
        }
        if (flags & 4) {
            streams[serial].ended = true;
            --open;
        }
        p += size;
    }
    if (streams.empty() || open != 0)
        return std::nullopt;
    return p;
}

// ---- AMR ----

// Frames after the "#!AMR" line, each a header byte (padding bits zero, a mode that exists)
// and the speech bits of its mode. A run of zeros is an erased medium, not silence: a frame
// that is all zero ends the walk.
std::optional<uint64_t> amrEnd(ByteSource &s, const ExtentContext &)
{
    static const int sizes[16] = {12, 13, 15, 17, 19, 20, 26, 31, 5, 6, 5, 5, -1, -1, -1, 0};
    Window w(s);
    const unsigned char *h = w.at(0, 6);
    if (!h || std::memcmp(h, "#!AMR\n", 6) != 0)
        return std::nullopt;
    uint64_t p = 6, frames = 0;
    for (;;) {
        const auto b = w.u8(p);
        if (!b || (*b & 0x83))
            break;
        const int size = sizes[(*b >> 3) & 0x0F];
        if (size < 0)
            break;
        const unsigned char *frame = w.at(p, size_t(size) + 1);
        if (!frame)
            return std::nullopt;  // a frame the medium cuts
        bool zero = true;
        for (int i = 0; i <= size && zero; ++i)
            zero = frame[i] == 0;
        if (zero)
            break;
        p += uint64_t(size) + 1;
        ++frames;
    }
    return frames > 0 ? std::optional<uint64_t>(p) : std::nullopt;
}

// ---- IFF forms: AIFF, DjVu ----

namespace {
// A form at `at`: "FORM", a big-endian size, a form type, then chunks padded to even lengths
// that fill it exactly.
std::optional<uint64_t> iffForm(ByteSource &s, uint64_t at)
{
    Window w(s);
    const unsigned char *h = w.at(at, 12);
    if (!h || std::memcmp(h, "FORM", 4) != 0)
        return std::nullopt;
    const uint64_t end = at + 8 + rdBe32(h + 4);
    if (end < at + 12 || end > s.size())
        return std::nullopt;
    uint64_t p = at + 12;
    while (p < end) {
        const unsigned char *c = w.at(p, 8);
        if (!c || !printable4(c))
            return std::nullopt;
        const uint64_t size = rdBe32(c + 4);
        p += 8 + size + (size & 1);
    }
    // Some writers leave the last chunk's pad byte out of the form's size, and out of the file.
    if (p != end && p != end + 1)
        return std::nullopt;
    return end;
}
} // namespace

std::optional<uint64_t> aiffEnd(ByteSource &s, const ExtentContext &)
{
    unsigned char h[12];
    if (!s.get(0, h, 12) || (std::memcmp(h + 8, "AIFF", 4) != 0 && std::memcmp(h + 8, "AIFC", 4) != 0))
        return std::nullopt;
    return iffForm(s, 0);
}

std::optional<uint64_t> djvuEnd(ByteSource &s, const ExtentContext &)
{
    unsigned char h[16];
    if (!s.get(0, h, 16) || std::memcmp(h, "AT&T", 4) != 0)
        return std::nullopt;
    static const char *const types[] = {"DJVU", "DJVM", "DJVI", "THUM"};
    bool known = false;
    for (const char *t : types)
        known = known || std::memcmp(h + 12, t, 4) == 0;
    return known ? iffForm(s, 4) : std::nullopt;
}

// ---- MIDI ----

// The header chunk, then chunks until as many track chunks as the header declares have been
// read, each ending with its end-of-track event; chunks of other types between them are kept.
std::optional<uint64_t> midiEnd(ByteSource &s, const ExtentContext &)
{
    Window w(s);
    const unsigned char *h = w.at(0, 14);
    if (!h || std::memcmp(h, "MThd\0\0\0\x06", 8) != 0)
        return std::nullopt;
    const unsigned format = rdBe16(h + 8), tracks = rdBe16(h + 10), division = rdBe16(h + 12);
    if (format > 2 || tracks == 0 || (format == 0 && tracks != 1) || division == 0)
        return std::nullopt;
    uint64_t p = 14;
    for (unsigned found = 0; found < tracks;) {
        const unsigned char *c = w.at(p, 8);
        if (!c || !printable4(c))
            return std::nullopt;
        const bool track = std::memcmp(c, "MTrk", 4) == 0;
        const uint64_t size = rdBe32(c + 4), end = p + 8 + size;
        if (end > s.size())
            return std::nullopt;
        if (track) {
            const unsigned char *last = size >= 4 ? w.at(end - 3, 3) : nullptr;
            if (!last || last[0] != 0xFF || last[1] != 0x2F || last[2] != 0)
                return std::nullopt;
            ++found;
        }
        p = end;
    }
    return p;
}

// ---- FLAC ----

namespace {
// Bits of a source from a byte offset on, the most significant first, read through a window.
class BitStream {
public:
    BitStream(Window &w, uint64_t at) : w_(w), next_(at) {}

    std::optional<uint32_t> read(int n)  // n <= 32
    {
        if (n == 0)
            return 0;
        if (!fill(n))
            return std::nullopt;
        bits_ -= n;
        return uint32_t((cache_ >> bits_) & ((uint64_t(1) << n) - 1));
    }
    // The number of zero bits before the next one bit (which is consumed).
    std::optional<uint64_t> unary()
    {
        uint64_t zeros = 0;
        for (;;) {
            if (!fill(1))
                return std::nullopt;
            const uint64_t left = cache_ << (64 - bits_);
            if (left == 0) {
                zeros += uint64_t(bits_);
                bits_ = 0;
                continue;
            }
            const int lz = __builtin_clzll(left);
            zeros += uint64_t(lz);
            bits_ -= lz + 1;
            return zeros;
        }
    }
    // count Rice codes with a parameter of k bits: a unary quotient, then k bits.
    bool rice(uint32_t count, int k)
    {
        for (uint32_t i = 0; i < count; ++i) {
            if (bits_ < 40)
                fill(40);
            const uint64_t left = bits_ > 0 ? cache_ << (64 - bits_) : 0;
            if (left != 0) {
                const int used = __builtin_clzll(left) + 1 + k;
                if (used <= bits_) {  // the whole code is in the cache
                    bits_ -= used;
                    continue;
                }
            }
            if (!unary() || !read(k))
                return false;
        }
        return true;
    }
    bool skip(uint64_t n)
    {
        if (n <= uint64_t(bits_)) {
            bits_ -= int(n);
            return true;
        }
        n -= uint64_t(bits_);
        bits_ = 0;
        next_ += n / 8;
        return read(int(n % 8)).has_value() && fill(0);
    }
    void align() { bits_ -= bits_ % 8; }
    uint64_t byteOffset() const { return next_ - uint64_t(bits_ / 8); }  // when aligned
    bool ranOut() const { return ranOut_; }  // the source ended before the bits did

private:
    // At least n bits in the cache (and as many as fit); false at the end of the source.
    bool fill(int n)
    {
        while (bits_ <= 56) {
            if (next_ - spanAt_ >= spanLength_ || !span_) {
                span_ = w_.span(next_, 1, &spanLength_);
                spanAt_ = next_;
                if (!span_) {
                    spanLength_ = 0;
                    ranOut_ = true;
                    break;
                }
            }
            cache_ = cache_ << 8 | span_[next_ - spanAt_];
            ++next_;
            bits_ += 8;
        }
        if (n == 0 && next_ - uint64_t(bits_ / 8) > w_.source().size())
            ranOut_ = true;
        return bits_ >= n && !(n == 0 && ranOut_);
    }

    Window &w_;
    uint64_t next_;  // the next byte to load into the cache
    uint64_t cache_ = 0;
    int bits_ = 0;
    bool ranOut_ = false;
    const unsigned char *span_ = nullptr;
    size_t spanLength_ = 0;
    uint64_t spanAt_ = 0;
};

uint8_t crc8(const unsigned char *p, size_t n)
{
    uint8_t crc = 0;
    for (size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int k = 0; k < 8; ++k)
            crc = uint8_t(crc & 0x80 ? (crc << 1) ^ 0x07 : crc << 1);
    }
    return crc;
}

uint16_t crc16(const unsigned char *p, size_t n)
{
    static const auto table = [] {
        std::array<uint16_t, 256> t{};
        for (unsigned i = 0; i < 256; ++i) {
            uint16_t r = uint16_t(i << 8);
            for (int k = 0; k < 8; ++k)
                r = uint16_t(r & 0x8000 ? (r << 1) ^ 0x8005 : r << 1);
            t[i] = r;
        }
        return t;
    }();
    uint16_t crc = 0;
    for (size_t i = 0; i < n; ++i)
        crc = uint16_t(crc << 8 ^ table[(crc >> 8) ^ p[i]]);
    return crc;
}

struct FlacFrame {
    size_t headerLength = 0;
    uint32_t blockSize = 0;
    int channels = 0;
    int assignment = 0;
    int bits = 0;
};

// A frame header at h (n bytes at hand): sync code, valid codes, its UTF-8 coded number and
// its checksum.
std::optional<FlacFrame> flacFrameHeader(const unsigned char *h, size_t n, int streamBits, bool variable)
{
    if (n < 6 || h[0] != 0xFF || (h[1] & 0xFE) != 0xF8 || bool(h[1] & 1) != variable)
        return std::nullopt;
    const int sizeCode = h[2] >> 4, rateCode = h[2] & 15, assignment = h[3] >> 4, bitsCode = (h[3] >> 1) & 7;
    if (sizeCode == 0 || rateCode == 15 || assignment > 10 || bitsCode == 3 || (h[3] & 1))
        return std::nullopt;
    size_t p = 4;
    int extra = h[p] < 0x80 ? 0 : h[p] < 0xC0 ? -1 : h[p] < 0xE0 ? 1 : h[p] < 0xF0 ? 2 : h[p] < 0xF8 ? 3 : h[p] < 0xFC ? 4 : h[p] < 0xFE ? 5 : 6;
    if (extra < 0 || (extra == 6 && !variable))
        return std::nullopt;
    ++p;
    for (int i = 0; i < extra; ++i, ++p)
        if (p >= n || (h[p] & 0xC0) != 0x80)
            return std::nullopt;
    FlacFrame f;
    if (sizeCode == 1)
        f.blockSize = 192;
    else if (sizeCode <= 5)
        f.blockSize = 576u << (sizeCode - 2);
    else if (sizeCode >= 8)
        f.blockSize = 256u << (sizeCode - 8);
    const size_t sizeBytes = sizeCode == 6 ? 1 : sizeCode == 7 ? 2 : 0, rateBytes = rateCode == 12 ? 1 : rateCode >= 13 ? 2 : 0;
    if (p + sizeBytes + rateBytes + 1 > n)
        return std::nullopt;
    if (sizeBytes)
        f.blockSize = (sizeBytes == 1 ? h[p] : rdBe16(h + p)) + 1u;
    p += sizeBytes + rateBytes;
    if (crc8(h, p) != h[p])
        return std::nullopt;
    static const int bitsOf[8] = {0, 8, 12, 0, 16, 20, 24, 32};
    f.bits = bitsCode == 0 ? streamBits : bitsOf[bitsCode];
    f.headerLength = p + 1;
    f.assignment = assignment;
    f.channels = assignment < 8 ? assignment + 1 : 2;
    return f;
}

// One subframe: its kind, warm-up samples, coefficients and Rice-coded residual are parsed
// for their lengths only; no sample is computed.
bool flacSubframe(BitStream &b, uint32_t blockSize, int bits)
{
    const auto head = b.read(8);
    if (!head || (*head & 0x80))
        return false;
    const unsigned type = (*head >> 1) & 0x3F;
    if (*head & 1) {  // wasted bits per sample
        const auto k = b.unary();
        if (!k || *k + 1 >= uint64_t(bits))
            return false;
        bits -= int(*k) + 1;
    }
    if (type == 0)
        return b.skip(uint64_t(bits));
    if (type == 1)
        return b.skip(uint64_t(bits) * blockSize);
    unsigned order = 0;
    if (type >= 8 && type <= 12) {
        order = type - 8;
        if (!b.skip(uint64_t(bits) * order))
            return false;
    } else if (type >= 32) {
        order = type - 31;
        const auto precision = b.skip(uint64_t(bits) * order) ? b.read(4) : std::nullopt;
        if (!precision || *precision == 15 || !b.skip(5 + uint64_t(*precision + 1) * order))
            return false;
    } else {
        return false;
    }
    if (order > blockSize)
        return false;
    const auto method = b.read(2), partitionOrder = b.read(4);
    if (!method || *method > 1 || !partitionOrder)
        return false;
    const int paramBits = *method == 0 ? 4 : 5;
    const uint32_t escape = *method == 0 ? 15 : 31;
    const uint32_t partitions = 1u << *partitionOrder, perPartition = blockSize >> *partitionOrder;
    if ((*partitionOrder > 0 && perPartition << *partitionOrder != blockSize) || perPartition < order)
        return false;
    for (uint32_t part = 0; part < partitions; ++part) {
        const uint32_t samples = part == 0 ? perPartition - order : perPartition;
        const auto param = b.read(paramBits);
        if (!param)
            return false;
        if (*param == escape) {
            const auto raw = b.read(5);
            if (!raw || !b.skip(uint64_t(*raw) * samples))
                return false;
            continue;
        }
        if (!b.rice(samples, int(*param)))
            return false;
    }
    return true;
}
} // namespace

// The metadata blocks (stream information first), then frames: each frame's header checksum
// holds, its subframes are parsed for their length, and its closing checksum covers exactly
// the bytes up to there. The stream ends with the frame that completes the sample count the
// stream information states (or, when it states none, with the last valid frame); an ID3v1
// tag that some taggers append is kept.
std::optional<uint64_t> flacEnd(ByteSource &s, const ExtentContext &)
{
    Window w(s), frames(s);
    const unsigned char *h = w.at(0, 42);
    if (!h || std::memcmp(h, "fLaC", 4) != 0 || (h[4] & 0x7F) != 0 || rdBe24(h + 5) != 34)
        return std::nullopt;
    const int streamBits = ((h[20] & 1) << 4 | h[21] >> 4) + 1;
    const uint64_t total = uint64_t(h[21] & 0x0F) << 32 | rdBe32(h + 22);
    uint64_t p = 4;
    for (bool last = false; !last;) {
        const unsigned char *block = w.at(p, 4);
        if (!block || (block[0] & 0x7F) == 127)
            return std::nullopt;
        last = block[0] & 0x80;
        p += 4 + rdBe24(block + 1);
    }
    const unsigned char *first = w.at(p, 2);
    if (!first)
        return std::nullopt;
    const bool variable = first[1] & 1;
    uint64_t samples = 0, count = 0;
    while (total == 0 || samples < total) {
        size_t avail = 0;
        const unsigned char *fh = frames.span(p, 1, &avail);
        const auto frame = fh ? flacFrameHeader(fh, std::min<size_t>(avail, 16), streamBits, variable) : std::nullopt;
        if (!frame)
            break;
        BitStream b(w, p + frame->headerLength);
        bool ok = frame->bits != 0;
        for (int ch = 0; ok && ch < frame->channels; ++ch) {
            // The side channel of a stereo pair has one bit more.
            const bool side = (frame->assignment == 8 && ch == 1) || (frame->assignment == 9 && ch == 0)
                              || (frame->assignment == 10 && ch == 1);
            ok = flacSubframe(b, frame->blockSize, frame->bits + (side ? 1 : 0));
        }
        b.align();
        ok = ok && b.read(16).has_value();
        const uint64_t end = b.byteOffset();
        const unsigned char *bytes = ok ? frames.at(p, size_t(end - p)) : nullptr;
        if (!bytes || crc16(bytes, size_t(end - p)) != 0) {
            // A stream that states its length must have all of it; one that does not ends at
            // the first thing that is not a frame, unless the medium cut that.
            if (total != 0 || b.ranOut())
                return std::nullopt;
            break;
        }
        samples += frame->blockSize;
        p = end;
        ++count;
    }
    if (count == 0 || (total != 0 && samples != total))
        return std::nullopt;
    const unsigned char *tag = w.at(p, 128);
    if (tag && std::memcmp(tag, "TAG", 3) == 0)
        p += 128;
    return p;
}

} // namespace lumafind
