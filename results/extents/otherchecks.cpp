// The header checks of the video and other-file types: fields right after each signature that
// a real file always has (versions, reserved bits, sizes that agree, a checksum over the first
// header). Each looks only at the bytes in the hit's view.
#include "family.h"
#include "others.h"
#include "window.h"

namespace lumafind {

namespace {
const HeaderCheck kYes{true, {}};
const HeaderCheck kNo{false, {}};

HeaderCheck when(bool ok)
{
    return ok ? kYes : kNo;
}

} // namespace

// FLV: version 1, only the audio and video flag bits, a short header, an empty first back
// pointer and a first tag of a known type on stream 0.
HeaderCheck flvCheck(const HitView &v)
{
    const unsigned char *b = v.sector();
    const size_t n = v.after();
    if (n < 9 || std::memcmp(b, "FLV\x01", 4) != 0 || (b[4] & 0xFA))
        return kNo;
    const uint32_t offset = rdBe32(b + 5);
    if (offset < 9 || offset > 1024)
        return kNo;
    if (offset + 15 > n)
        return kYes;
    const unsigned type = b[offset + 4];
    return when(rdBe32(b + offset) == 0 && !(type & 0xC0) && ((type & 0x1F) == 8 || (type & 0x1F) == 9 || (type & 0x1F) == 18)
                && rdBe24(b + offset + 12) == 0);
}

// MXF: a header partition pack of version 1 that says it is the first partition.
HeaderCheck mxfCheck(const HitView &v)
{
    const unsigned char *b = v.sector();
    const size_t n = v.after();
    static const unsigned char key[13] = {0x06, 0x0E, 0x2B, 0x34, 0x02, 0x05, 0x01, 0x01, 0x0D, 0x01, 0x02, 0x01, 0x01};
    if (n < 17 + 8 + 32 || std::memcmp(b, key, 13) != 0 || b[13] != 2 || b[14] < 1 || b[14] > 4 || b[15] != 0)
        return kNo;
    size_t value = 17;
    uint64_t length = b[16];
    if (b[16] >= 0x80) {
        const unsigned bytes = b[16] & 0x7F;
        if (bytes == 0 || bytes > 8)
            return kNo;
        length = 0;
        for (unsigned i = 0; i < bytes; ++i)
            length = length << 8 | b[17 + i];
        value += bytes;
    }
    const unsigned char *pack = b + value;
    const uint32_t kag = rdBe32(pack + 4);
    return when(length >= 88 && rdBe16(pack) == 1 && kag <= (1u << 20) && rdBe64(pack + 8) == 0
                && rdBe64(pack + 16) == 0);
}

// RealMedia: a file header of version 0 or 1 followed by a chunk.
HeaderCheck realMediaCheck(const HitView &v)
{
    const unsigned char *b = v.sector();
    const size_t n = v.after();
    if (n < 10 || std::memcmp(b, ".RMF", 4) != 0 || rdBe16(b + 8) > 1)
        return kNo;
    const uint32_t size = rdBe32(b + 4);
    if (size < 10 || size > 1024)
        return kNo;
    if (size + 10 > n)
        return kYes;
    return when(printable4(b + size) && rdBe32(b + size + 4) >= 10);
}

// RAR: the main archive header right after the marker, with its checksum.
HeaderCheck rarCheck(const HitView &v)
{
    const unsigned char *b = v.sector();
    const size_t n = v.after();
    if (n < 32 || std::memcmp(b, "Rar!\x1A\x07", 6) != 0)
        return kNo;
    if (b[6] == 0) {
        const unsigned char *h = b + 7;
        const unsigned size = rdLe16(h + 5);
        if (h[2] != 0x73 || size < 13 || 7 + size > n)
            return kNo;
        return when((crc32Bytes(h + 2, size - 2) & 0xFFFF) == rdLe16(h));
    }
    if (b[6] != 1 || b[7] != 0)
        return kNo;
    const unsigned char *h = b + 8;
    uint64_t size = 0;
    size_t len = 0;
    for (; len < 3; ++len) {
        size |= uint64_t(h[4 + len] & 0x7F) << (7 * len);
        if (!(h[4 + len] & 0x80))
            break;
    }
    if (len == 3 || size == 0 || 8 + 4 + len + 1 + size > n)
        return kNo;
    const unsigned type = h[4 + len + 1];
    return when((type == 1 || type == 4) && crc32Bytes(h + 4, len + 1 + size_t(size)) == rdLe32(h));
}

// 7-Zip: format version 0.x and the signature header's checksum.
HeaderCheck sevenZipCheck(const HitView &v)
{
    const unsigned char *b = v.sector();
    if (v.after() < 32 || std::memcmp(b, "7z\xBC\xAF\x27\x1C", 6) != 0 || b[6] != 0 || b[7] > 4)
        return kNo;
    return when(crc32Bytes(b + 12, 20) == rdLe32(b + 8));
}

namespace {
// Bits from the most significant on; reading past the end gives nullopt.
class Bits {
public:
    Bits(const unsigned char *p, size_t n, size_t bit) : p_(p), n_(n), bit_(bit) {}
    std::optional<uint32_t> get(int count)
    {
        uint32_t v = 0;
        for (int i = 0; i < count; ++i, ++bit_) {
            if (bit_ / 8 >= n_)
                return std::nullopt;
            v = v << 1 | ((p_[bit_ / 8] >> (7 - bit_ % 8)) & 1);
        }
        return v;
    }

private:
    const unsigned char *p_;
    size_t n_, bit_;
};
} // namespace

// bzip2: the first block's header after its marker and checksum: not randomised (no writer
// since 0.9.5 sets it), a start pointer inside a block of the stream's level, a symbol map, a
// count of Huffman tables and selectors, and code lengths of 1 to 20 bits, as far as the view
// reaches.
HeaderCheck bzip2Check(const HitView &v)
{
    const unsigned char *b = v.sector();
    const size_t n = v.after();
    if (n < 18 || b[0] != 'B' || b[1] != 'Z' || b[2] != 'h' || b[3] < '1' || b[3] > '9')
        return kNo;
    if (std::memcmp(b + 4, "\x31\x41\x59\x26\x53\x59", 6) != 0)
        return kYes;  // an empty stream
    Bits bits(b, n, 14 * 8);
    const auto randomised = bits.get(1), origin = bits.get(24), ranges = bits.get(16);
    if (!randomised || !origin || !ranges)
        return kYes;
    if (*randomised || *origin >= uint32_t(b[3] - '0') * 100000 || *ranges == 0)
        return kNo;
    int symbols = 0;
    for (int i = 0; i < 16; ++i) {
        if (!(*ranges & (0x8000 >> i)))
            continue;
        const auto map = bits.get(16);
        if (!map)
            return kYes;
        symbols += __builtin_popcount(*map);
    }
    const auto groups = bits.get(3), selectors = bits.get(15);
    if (!groups || !selectors)
        return kYes;
    if (symbols == 0 || *groups < 2 || *groups > 6 || *selectors == 0)
        return kNo;
    for (uint32_t s = 0; s < *selectors; ++s) {
        uint32_t j = 0;
        for (;;) {
            const auto bit = bits.get(1);
            if (!bit)
                return kYes;
            if (!*bit)
                break;
            if (++j >= *groups)
                return kNo;
        }
    }
    for (uint32_t t = 0; t < *groups; ++t) {
        auto length = bits.get(5);
        if (!length)
            return kYes;
        int current = int(*length);
        for (int i = 0; i < symbols + 2; ++i) {
            for (;;) {
                if (current < 1 || current > 20)
                    return kNo;
                const auto more = bits.get(1);
                if (!more)
                    return kYes;
                if (!*more)
                    break;
                const auto down = bits.get(1);
                if (!down)
                    return kYes;
                current += *down ? -1 : 1;
            }
        }
    }
    return kYes;
}

// xz: the stream flags' checksum, and the first block header's (or an empty stream's index).
HeaderCheck xzCheck(const HitView &v)
{
    const unsigned char *b = v.sector();
    const size_t n = v.after();
    if (n < 24 || std::memcmp(b, "\xFD" "7zXZ\0", 6) != 0 || b[6] != 0 || (b[7] & 0xF0)
        || crc32Bytes(b + 6, 2) != rdLe32(b + 8))
        return kNo;
    if (b[12] == 0)
        return kYes;  // the index: a stream without blocks
    const size_t header = (size_t(b[12]) + 1) * 4;
    if (12 + header > n)
        return kYes;
    return when(crc32Bytes(b + 12, header - 4) == rdLe32(b + 12 + header - 4));
}

// Ogg: a stream's first page (sequence 0), which holds only its codec's small identification
// header: it fits in the sector, and its checksum holds.
HeaderCheck oggCheck(const HitView &v)
{
    const unsigned char *b = v.sector();
    const size_t n = std::min<size_t>(v.after(), 512);
    if (n < 28 || std::memcmp(b, "OggS", 4) != 0 || b[4] != 0 || (b[5] & 0xF8) || rdLe32(b + 18) != 0)
        return kNo;
    size_t size = 27 + b[26];
    if (size > n)
        return kNo;
    for (size_t i = 0; i < b[26]; ++i)
        size += b[27 + i];
    if (size > n)
        return kNo;
    static const unsigned char zero[4] = {};
    uint32_t crc = oggCrc(b, 22);
    crc = oggCrc(zero, 4, crc);
    crc = oggCrc(b + 26, size - 26, crc);
    return when(crc == rdLe32(b + 22));
}

// FLAC: the stream information block first, with its fixed length and sane block sizes,
// sample rate and bit depth.
HeaderCheck flacCheck(const HitView &v)
{
    const unsigned char *b = v.sector();
    if (v.after() < 42 || std::memcmp(b, "fLaC", 4) != 0 || (b[4] & 0x7F) != 0 || rdBe24(b + 5) != 34)
        return kNo;
    const unsigned minBlock = rdBe16(b + 8), maxBlock = rdBe16(b + 10);
    const uint32_t rate = rdBe24(b + 18) >> 4;
    const unsigned bits = ((b[20] & 1) << 4 | b[21] >> 4) + 1;
    return when(minBlock >= 16 && maxBlock >= minBlock && rate > 0 && rate <= 655350 && bits >= 4);
}

// SQLite: a page size that is a power of two, the fixed payload fractions and known versions.
HeaderCheck sqliteCheck(const HitView &v)
{
    const unsigned char *b = v.sector();
    if (v.after() < 100 || std::memcmp(b, "SQLite format 3\0", 16) != 0)
        return kNo;
    const unsigned raw = rdBe16(b + 16);
    const uint32_t page = raw == 1 ? 65536 : raw;
    return when(page >= 512 && !(page & (page - 1)) && b[18] >= 1 && b[18] <= 2 && b[19] >= 1 && b[19] <= 2 && b[21] == 64
                && b[22] == 32 && b[23] == 32);
}

// PE: the "PE" header where the DOS header points, with an optional header of a known kind.
HeaderCheck peCheck(const HitView &v)
{
    const unsigned char *b = v.sector();
    const size_t n = v.after();
    if (n < 64 || b[0] != 'M' || b[1] != 'Z')
        return kNo;
    const uint32_t pe = rdLe32(b + 0x3C);
    if (pe < 64 || pe > (1u << 24))
        return kNo;
    if (size_t(pe) + 26 > n)
        return kYes;
    const unsigned magic = rdLe16(b + pe + 24);
    return when(std::memcmp(b + pe, "PE\0\0", 4) == 0 && rdLe16(b + pe + 6) > 0 && (magic == 0x10B || magic == 0x20B));
}

// ELF: a known class, byte order and version, a file type, and the header size of its class.
HeaderCheck elfCheck(const HitView &v)
{
    const unsigned char *b = v.sector();
    if (v.after() < 64 || (b[4] != 1 && b[4] != 2) || (b[5] != 1 && b[5] != 2) || b[6] != 1)
        return kNo;
    const bool big = b[5] == 2, wide = b[4] == 2;
    auto u16 = [&](const unsigned char *p) { return big ? rdBe16(p) : rdLe16(p); };
    auto u32 = [&](const unsigned char *p) { return big ? rdBe32(p) : rdLe32(p); };
    const unsigned type = u16(b + 16);
    return when(type >= 1 && type <= 4 && u32(b + 20) == 1 && u16(b + (wide ? 52 : 40)) == (wide ? 64 : 52));
}

// AMR: frame headers with zero padding bits and an existing mode, chained by their sizes.
HeaderCheck amrCheck(const HitView &v)
{
    static const int sizes[16] = {12, 13, 15, 17, 19, 20, 26, 31, 5, 6, 5, 5, -1, -1, -1, 0};
    const unsigned char *b = v.sector();
    const size_t n = v.after();
    if (n < 7 || std::memcmp(b, "#!AMR\n", 6) != 0)
        return kNo;
    size_t p = 6;
    for (int frames = 0; frames < 8 && p < n; ++frames) {
        if (b[p] & 0x83)
            return kNo;
        const int size = sizes[(b[p] >> 3) & 0x0F];
        if (size < 0)
            return kNo;
        p += size_t(size) + 1;
    }
    return kYes;
}

namespace {
// An IFF form at b: its size holds at least its type and a first chunk, whose id is text and
// whose size fits in the form.
bool iffFormOk(const unsigned char *b, size_t n)
{
    if (n < 20 || std::memcmp(b, "FORM", 4) != 0)
        return false;
    const uint32_t form = rdBe32(b + 4), first = rdBe32(b + 16);
    return form >= 12 && printable4(b + 12) && uint64_t(first) + 8 <= form - 4;
}
} // namespace

HeaderCheck aiffCheck(const HitView &v)
{
    return when(iffFormOk(v.sector(), v.after()) && (std::memcmp(v.sector() + 8, "AIFF", 4) == 0 || std::memcmp(v.sector() + 8, "AIFC", 4) == 0));
}

HeaderCheck djvuCheck(const HitView &v)
{
    const unsigned char *b = v.sector();
    const size_t n = v.after();
    if (n < 24 || std::memcmp(b, "AT&T", 4) != 0 || !iffFormOk(b + 4, n - 4))
        return kNo;
    static const char *const types[] = {"DJVU", "DJVM", "DJVI", "THUM"};
    for (const char *t : types)
        if (std::memcmp(b + 12, t, 4) == 0)
            return kYes;
    return kNo;
}

// MIDI: a format of 0 to 2, a track count that the format allows, a time division, and a
// chunk after the header.
HeaderCheck midiCheck(const HitView &v)
{
    const unsigned char *b = v.sector();
    if (v.after() < 22 || std::memcmp(b, "MThd\0\0\0\x06", 8) != 0)
        return kNo;
    const unsigned format = rdBe16(b + 8), tracks = rdBe16(b + 10);
    return when(format <= 2 && tracks > 0 && (format != 0 || tracks == 1) && rdBe16(b + 12) != 0 && printable4(b + 14));
}

// PostScript: the comment names a language level such as 3.0.
HeaderCheck postScriptCheck(const HitView &v)
{
    const unsigned char *b = v.sector();
    if (v.after() < 14 || std::memcmp(b, "%!PS-Adobe-", 11) != 0)
        return kNo;
    return when(b[11] >= '1' && b[11] <= '9' && b[12] == '.' && b[13] >= '0' && b[13] <= '9');
}

// EPS with a binary header: the sections it lists lie after the 30-byte header, the first of
// them right there (writers leave no gap), and the PostScript section starts with "%!" where
// the view reaches it.
HeaderCheck epsCheck(const HitView &v)
{
    const unsigned char *b = v.sector();
    const size_t n = v.after();
    if (n < 30 || rdLe32(b) != 0xC6D3D0C5u)
        return kNo;
    const uint32_t ps = rdLe32(b + 4), psLength = rdLe32(b + 8);
    if (ps < 30 || psLength < 2)
        return kNo;
    uint32_t first = ps;
    for (const int field : {12, 20}) {
        const uint32_t at = rdLe32(b + field), length = rdLe32(b + field + 4);
        if (length == 0)
            continue;
        if (at < 30)
            return kNo;
        first = std::min(first, at);
    }
    if (first != 30 && first != 32)
        return kNo;
    if (size_t(ps) + 2 > n)
        return kYes;
    return when(b[ps] == '%' && b[ps + 1] == '!');
}

// Cabinet: reserved fields zero, format version 1.3, sizes that agree, known flags.
HeaderCheck cabCheck(const HitView &v)
{
    const unsigned char *b = v.sector();
    if (v.after() < 36 || std::memcmp(b, "MSCF", 4) != 0)
        return kNo;
    const uint32_t size = rdLe32(b + 8), files = rdLe32(b + 16);
    return when(rdLe32(b + 4) == 0 && rdLe32(b + 12) == 0 && rdLe32(b + 20) == 0 && b[24] == 3 && b[25] == 1 && size >= 36
                && files >= 36 && files < size && rdLe16(b + 26) > 0 && !(rdLe16(b + 30) & ~7u));
}

// KeePass: the second signature of a KDBX file, a format version 2 to 4, and a first header
// field of a known id.
HeaderCheck kdbxCheck(const HitView &v)
{
    const unsigned char *b = v.sector();
    if (v.after() < 20 || rdLe32(b) != 0x9AA2D903u || rdLe32(b + 4) != 0xB54BFB67u)
        return kNo;
    const unsigned major = rdLe16(b + 10);
    return when(major >= 2 && major <= 4 && b[12] >= 1 && b[12] <= 12);
}

// RTF: after "{\rtf1" comes a control word, a space, a group or a line end.
HeaderCheck rtfCheck(const HitView &v)
{
    const unsigned char *b = v.sector();
    if (v.after() < 7 || std::memcmp(b, "{\\rtf1", 6) != 0)
        return kNo;
    return when(b[6] == '\\' || b[6] == ' ' || b[6] == '{' || b[6] == '\r' || b[6] == '\n');
}

} // namespace lumafind
