// The header checks of the format families: is a signature hit the start of a file?
#include "family.h"

#include <QtEndian>
#include <cstring>
#include <zlib.h>

namespace lumafind {

namespace {
uint16_t be16(const unsigned char *p) { return qFromBigEndian<quint16>(p); }
uint32_t be32(const unsigned char *p) { return qFromBigEndian<quint32>(p); }
uint16_t le16(const unsigned char *p) { return qFromLittleEndian<quint16>(p); }
uint32_t le32(const unsigned char *p) { return qFromLittleEndian<quint32>(p); }

const HeaderCheck kYes{true, {}};
const HeaderCheck kNo{false, {}};
} // namespace

namespace {
// A marker segment's first bytes (from its length on) are what its marker says they are.
bool segmentLooksRight(unsigned marker, const unsigned char *p, unsigned len, size_t available)
{
    const size_t have = std::min<size_t>(available, len);
    if (marker >= 0xE0 && marker <= 0xEF) {
        // An application segment names itself: a short text ended by a zero byte.
        size_t i = 2;
        while (i < have && i < 34 && p[i] >= 0x20 && p[i] < 0x7F)
            ++i;
        return len == 2 || (i < have && i >= 4 && p[i] == 0) || i >= have;
    }
    if (have < 3)
        return true;
    switch (marker) {
    case 0xDB: return (p[2] >> 4) <= 1 && (p[2] & 0x0F) < 4;                 // quantisation table
    case 0xC4: return (p[2] >> 4) <= 1 && (p[2] & 0x0F) < 4;                 // Huffman table
    case 0xDD: return len == 4;                                                // restart interval
    case 0xFE: return true;                                                    // comment
    default: break;
    }
    if (marker >= 0xC0 && marker <= 0xCF)                                      // frame header
        return have < 8 || ((p[2] == 8 || p[2] == 12 || p[2] == 16) && p[7] >= 1 && p[7] <= 4);
    return true;
}
} // namespace

// JPEG: after SOI the marker segments chain as far as the bytes at hand reach, each one shaped
// as its marker says, and the first one is a segment that may open a file.
HeaderCheck jpegCheck(const HitView &v)
{
    const unsigned char *b = v.sector();
    const size_t n = v.after();
    size_t p = 2;
    for (int segments = 0; segments < 16; ++segments) {
        if (p >= n)
            return segments > 0 ? kYes : kNo;
        if (b[p] != 0xFF)
            return kNo;
        size_t fill = 0;
        while (p < n && b[p] == 0xFF && fill++ < 8)
            ++p;
        if (p >= n)
            return segments > 0 ? kYes : kNo;
        const unsigned m = b[p++];
        // Right after SOI, and between segments: no SOI, EOI, stuffing or restart markers.
        if (m == 0x00 || m == 0xD8 || m == 0xD9 || m == 0x01 || (m >= 0xD0 && m <= 0xD7) || m < 0xC0)
            return kNo;
        if (p + 2 > n)
            return segments > 0 ? kYes : kNo;
        const unsigned len = be16(b + p);
        // The first segment must look right: random bytes after a signature chain rarely fail the
        // length test alone. Later ones may carry anything (a vendor's binary APP data).
        if (len < 2 || (segments == 0 && !segmentLooksRight(m, b + p, len, n - p)))
            return kNo;
        if (m == 0xDA)
            return kYes;  // the scan starts: the headers before it held together
        p += len;
    }
    return kYes;
}

// TIFF and TIFF-based raw files: a byte order, a magic number and a first directory whose entry
// count and entries are sane. A TIFF's first directory also says which camera made it: its
// maker's raw format is the real type.
HeaderCheck tiffCheck(const HitView &v)
{
    const unsigned char *b = v.sector();
    const size_t n = v.after();
    if (n < 8 || b[0] != b[1] || (b[0] != 'I' && b[0] != 'M'))
        return kNo;
    const bool big = b[0] == 'M';
    auto u16 = [&](size_t o) { return big ? be16(b + o) : le16(b + o); };
    auto u32 = [&](size_t o) { return big ? be32(b + o) : le32(b + o); };
    const uint16_t magic = u16(2);
    if (magic == 43)  // BigTIFF: 8-byte offsets, a directory further on
        return u16(4) == 8 && u16(6) == 0 ? kYes : kNo;
    if (magic != 42 && magic != 0x4F52 && magic != 0x5352 && magic != 0x55)
        return kNo;
    const uint32_t ifd = u32(4);
    if (ifd < 8)
        return kNo;
    if (uint64_t(ifd) + 2 > n)
        return kYes;  // the directory lies further on: nothing more to check here
    const uint16_t count = u16(ifd);
    if (count == 0 || count > 1000)
        return kNo;
    HeaderCheck result = kYes;
    QByteArray make;
    bool dng = false, raw = false;
    for (uint32_t i = 0; i < count; ++i) {
        const size_t e = size_t(ifd) + 2 + 12 * size_t(i);
        if (e + 12 > n)
            break;
        const uint16_t tag = u16(e), type = u16(e + 2);
        if (type == 0 || type > 18)
            return kNo;
        const uint32_t length = u32(e + 4);
        const uint32_t inlineValue = type == 3 ? u16(e + 8) : u32(e + 8);
        if (tag == 0xC612)
            dng = true;
        // What a camera's raw file has and a plain TIFF does not: a first image that is only a
        // reduced one, sub-images, sensor data, or a vendor's own compression.
        if ((tag == 254 && inlineValue == 1) || tag == 330 || (tag == 262 && (inlineValue == 32803 || inlineValue == 34892))
            || (tag == 259 && inlineValue >= 32767))
            raw = true;
        if (tag == 0x010F && type == 2 && length > 0 && length < 64) {
            const size_t at = length <= 4 ? e + 8 : size_t(u32(e + 8));
            if (at + length <= n)
                make = QByteArray(reinterpret_cast<const char *>(b + at), int(length)).trimmed().toUpper();
        }
    }
    if (dng) {
        result.type = QStringLiteral("DNG");
        return result;
    }
    while (make.endsWith('\0'))
        make.chop(1);
    if (!raw)
        return result;  // a scanner's or an editor's TIFF, whoever made it
    static const struct {
        const char *make;
        const char *type;
    } makers[] = {{"NIKON", "NEF"},       {"SONY", "ARW"},       {"PENTAX", "PEF"},   {"ASAHI", "PEF"},
                  {"RICOH", "PEF"},       {"SAMSUNG", "SRW"},    {"SEIKO EPSON", "ERF"}, {"EPSON", "ERF"},
                  {"HASSELBLAD", "3FR"},  {"EASTMAN KODAK", "DCR"}, {"KODAK", "DCR"}, {"LEAF", "MOS"},
                  {"MAMIYA", "MEF"}};
    for (const auto &m : makers)
        if (make.startsWith(m.make)) {
            result.type = QString::fromLatin1(m.type);
            break;
        }
    return result;
}

// ISO base media: a file type box of a sane size whose brands are text, followed (where the
// bytes reach) by a box of a plausible size and type.
HeaderCheck isoMediaCheck(const HitView &v)
{
    const unsigned char *b = v.sector();
    const size_t n = v.after();
    if (n < 16)
        return kNo;
    const uint32_t size = be32(b);
    if (std::memcmp(b + 4, "ftyp", 4) == 0) {
        if (size < 16 || size > 4096 || size % 4 != 0 || !printable4(b + 8))
            return kNo;
        for (size_t p = 16; p + 4 <= size && p + 4 <= n; p += 4)
            if (!printable4(b + p) && be32(b + p) != 0)
                return kNo;
    } else if (size < 8 || !printable4(b + 4)) {
        return kNo;  // a movie without a file type box starts with another box
    }
    const size_t next = size == 1 ? 0 : size;
    if (next >= 8 && next + 8 <= n) {
        const uint32_t nextSize = be32(b + next);
        if ((nextSize != 0 && nextSize != 1 && nextSize < 8) || !printable4(b + next + 4))
            return kNo;
    }
    return kYes;
}

// MPEG transport streams: a sync byte at the start of every packet the bytes at hand hold, and
// not the next packet of a stream that runs on from the sectors before (a camera's first
// packet recurs inside its clip).
static HeaderCheck transportCheck(const HitView &v, size_t packet, size_t sync)
{
    const unsigned char *b = v.sector();
    const size_t n = v.after();
    int packets = 0;
    for (size_t p = sync; p < n && packets < 16; p += packet, ++packets)
        if (b[p] != 0x47)
            return kNo;
    if (packets < 3)
        return kNo;
    if (v.before() >= 2 * packet && v.data[v.at - packet + sync] == 0x47 && v.data[v.at - 2 * packet + sync] == 0x47)
        return kNo;  // the stream goes on through here
    return kYes;
}

HeaderCheck m2tsCheck(const HitView &v)
{
    return transportCheck(v, 192, 4);
}

HeaderCheck tsCheck(const HitView &v)
{
    return transportCheck(v, 188, 0);
}

// MPEG audio: the length of a frame from its header; 0 when the header is not valid.
size_t mpegAudioFrame(const unsigned char *h)
{
    if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0)
        return 0;
    const int version = (h[1] >> 3) & 3;  // 0: 2.5, 2: 2, 3: 1
    const int layer = (h[1] >> 1) & 3;    // 1: III, 2: II, 3: I
    const int bitrateIndex = h[2] >> 4, rateIndex = (h[2] >> 2) & 3, padding = (h[2] >> 1) & 1;
    if (version == 1 || layer == 0 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3)
        return 0;
    static const int rates[3] = {44100, 48000, 32000};
    static const int v1[3][15] = {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
                                  {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
                                  {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}};
    static const int v2[3][15] = {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
                                  {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
                                  {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}};
    const int layerRow = 3 - layer;  // 0: I, 1: II, 2: III
    const int kbps = version == 3 ? v1[layerRow][bitrateIndex] : v2[layerRow][bitrateIndex];
    const int rate = rates[rateIndex] >> (version == 3 ? 0 : version == 2 ? 1 : 2);
    if (layerRow == 0)
        return size_t((12 * kbps * 1000 / rate + padding) * 4);
    const int factor = (layerRow == 2 && version != 3) ? 72 : 144;
    return size_t(factor * kbps * 1000 / rate + padding);
}

// MP3: an ID3v2 tag of a valid version with a syncsafe size, or an MPEG audio frame followed by
// further frames of the same stream at the lengths they declare, not preceded by a frame that
// ends exactly here (the middle of a stream).
HeaderCheck mp3Check(const HitView &v)
{
    const unsigned char *b = v.sector();
    const size_t n = v.after();
    if (n >= 10 && std::memcmp(b, "ID3", 3) == 0) {
        if (b[3] < 2 || b[3] > 4 || b[4] == 0xFF)
            return kNo;
        for (int i = 6; i < 10; ++i)
            if (b[i] & 0x80)
                return kNo;
        return kYes;
    }
    if (n < 4)
        return kNo;
    const size_t first = mpegAudioFrame(b);
    if (first < 24)
        return kNo;
    for (size_t p = first; p + 4 <= n;) {
        const size_t len = mpegAudioFrame(b + p);
        if (len < 24 || (b[p + 1] & 0xFE) != (b[1] & 0xFE) || ((b[p + 2] >> 2) & 3) != ((b[2] >> 2) & 3))
            return kNo;
        p += len;
    }
    // A frame of the same stream that ends exactly at this sector: the stream runs on.
    const size_t back = std::min<size_t>(v.before(), 2000);
    for (size_t q = v.at - back; q + 24 <= v.at; ++q)
        if (v.data[q] == 0xFF && q + mpegAudioFrame(v.data + q) == v.at && (v.data[q + 1] & 0xFE) == (b[1] & 0xFE))
            return kNo;
    return kYes;
}

// BMP: "BM", a known header size, one plane, a real bit depth and compression, and sizes that
// agree: the pixels start after the headers and, uncompressed, fit in the file size.
HeaderCheck bmpCheck(const HitView &v)
{
    const unsigned char *b = v.sector();
    if (v.after() < 34 || b[0] != 'B' || b[1] != 'M')
        return kNo;
    const uint32_t fileSize = le32(b + 2), offset = le32(b + 10), header = le32(b + 14);
    if (header != 12 && header != 40 && header != 52 && header != 56 && header != 64 && header != 108 && header != 124)
        return kNo;
    if (header == 12)
        return offset >= 26 && offset < fileSize && le16(b + 22) == 1 ? kYes : kNo;
    const int32_t width = int32_t(le32(b + 18)), height = int32_t(le32(b + 22));
    const uint16_t planes = le16(b + 26), bits = le16(b + 28);
    const uint32_t compression = le32(b + 30);
    if (planes != 1 || width <= 0 || width > 100000 || height == 0 || height > 100000 || height < -100000)
        return kNo;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
        return kNo;
    if (compression > 6 || offset < 14 + header || offset >= fileSize)
        return kNo;
    if (compression == 0) {
        const uint64_t row = (uint64_t(width) * bits + 31) / 32 * 4;
        const uint64_t pixels = row * uint64_t(height < 0 ? -int64_t(height) : height);
        if (uint64_t(offset) + pixels > fileSize)
            return kNo;
    }
    return kYes;
}

// RIFF: the container's size covers its first chunk, whose id is text.
HeaderCheck riffCheck(const HitView &v)
{
    const unsigned char *b = v.sector();
    if (v.after() < 20 || (std::memcmp(b, "RIFF", 4) != 0 && std::memcmp(b, "RF64", 4) != 0))
        return kNo;
    const uint32_t size = le32(b + 4), chunk = le32(b + 16);
    if (!printable4(b + 8) || !printable4(b + 12))
        return kNo;
    if (std::memcmp(b, "RF64", 4) == 0)
        return kYes;  // sizes in its ds64 chunk
    if (size < 12 || uint64_t(chunk) + 8 + 4 > size)
        return kNo;
    if (std::memcmp(b + 12, "fmt ", 4) == 0 && (chunk < 14 || chunk > 64))
        return kNo;  // a wave format is a few dozen bytes
    if (std::memcmp(b + 12, "LIST", 4) == 0 && (v.after() < 24 || !printable4(b + 20)))
        return kNo;
    // The chunk after the first, where the bytes reach, is named in text too.
    const uint64_t next = 20 + uint64_t(chunk) + (chunk & 1);
    if (next + 4 <= v.after() && next + 8 <= uint64_t(size) + 8 && !printable4(b + next))
        return kNo;
    return kYes;
}

// gzip: deflate, no reserved flag bits, a known extra-flags value, and a deflate stream that
// inflates without error as far as the bytes at hand reach.
HeaderCheck gzipCheck(const HitView &v)
{
    const unsigned char *b = v.sector();
    const size_t n = v.after();
    if (n < 18 || b[0] != 0x1F || b[1] != 0x8B || b[2] != 8 || (b[3] & 0xE0) || (b[8] != 0 && b[8] != 2 && b[8] != 4)
        || (b[9] > 13 && b[9] != 255))
        return kNo;
    size_t p = 10;
    if (b[3] & 4) {  // extra field
        if (p + 2 > n)
            return kYes;
        p += 2 + le16(b + p);
    }
    for (int flag : {8, 16}) {  // name, comment: zero-terminated
        if (!(b[3] & flag))
            continue;
        while (p < n && b[p] != 0)
            ++p;
        ++p;
    }
    if (b[3] & 2)
        p += 2;
    if (p >= n)
        return kYes;
    z_stream z {};
    if (inflateInit2(&z, -15) != Z_OK)
        return kYes;
    unsigned char out[4096];
    z.next_in = const_cast<unsigned char *>(b + p);
    z.avail_in = uInt(n - p);
    int rc = Z_OK;
    while (rc == Z_OK && z.avail_in > 0) {
        z.next_out = out;
        z.avail_out = sizeof out;
        rc = inflate(&z, Z_NO_FLUSH);
    }
    inflateEnd(&z);
    return rc == Z_DATA_ERROR || rc == Z_NEED_DICT || rc == Z_MEM_ERROR ? kNo : kYes;
}

// Photoshop: version 1 (PSD) or 2 (PSB), reserved bytes zero, and sane channels, size, depth
// and colour mode.
HeaderCheck psdCheck(const HitView &v)
{
    const unsigned char *b = v.sector();
    if (v.after() < 26 || std::memcmp(b, "8BPS", 4) != 0)
        return kNo;
    const uint16_t version = be16(b + 4);
    for (int i = 6; i < 12; ++i)
        if (b[i] != 0)
            return kNo;
    const uint16_t channels = be16(b + 12), depth = be16(b + 22), mode = be16(b + 24);
    const uint32_t height = be32(b + 14), width = be32(b + 18);
    const uint32_t most = version == 1 ? 30000 : 300000;
    if ((version != 1 && version != 2) || channels == 0 || channels > 56 || height == 0 || height > most || width == 0
        || width > most)
        return kNo;
    if (depth != 1 && depth != 8 && depth != 16 && depth != 32)
        return kNo;
    return mode <= 9 && mode != 5 && mode != 6 ? kYes : kNo;
}

} // namespace lumafind
