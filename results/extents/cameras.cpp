// Camera raw formats that are not TIFF underneath, and layered picture formats, whose own
// layout says where they end: Canon CRW (a CIFF heap whose table sits at its end), Minolta MRW
// (its blocks, then the sensor's raw data), Fujifilm RAF (the offsets and lengths in its
// header), Sigma X3F (its directory, pointed at by the file's last bytes), Photoshop PSD/PSB
// (its sections and image data) and JPEG 2000 (its boxes, or its codestream's tile-parts).
#include "extent.h"

#include <QtEndian>
#include <cstring>
#include <vector>

namespace lumafind {

namespace {
uint16_t le16(const unsigned char *p) { return qFromLittleEndian<quint16>(p); }
uint32_t le32(const unsigned char *p) { return qFromLittleEndian<quint32>(p); }
} // namespace

// CRW: "II", the header length, "HEAPCCDR"; then a heap whose last four bytes give the offset
// of its table (from the heap's start), and the table: a count, ten bytes per record, then
// those four bytes. The heap's end is found where that holds: its table lies right before the
// word that points at it, and every record's data lies before the table. Some cameras add a
// "CANON OPTIONAL DATA" block of 560 bytes after the heap.
std::optional<uint64_t> crwEnd(ByteSource &s, const ExtentContext &)
{
    unsigned char head[14];
    if (!s.get(0, head, 14) || head[0] != 'I' || head[1] != 'I' || std::memcmp(head + 6, "HEAPCCDR", 8) != 0)
        return std::nullopt;
    const uint64_t heap = le32(head + 2);
    if (heap < 14 || heap > 512)
        return std::nullopt;
    // Candidate table starts X, scanned in windows that also hold the largest table after X.
    // The table is found only at the end, past whatever the heap holds (its preview JPEG is
    // found as a file of its own), so the search is bounded by the largest CRW a camera writes.
    constexpr uint64_t kStep = 1 << 20, kTable = 2 + 10 * 65535 + 4, kLargest = 64u << 20;
    std::vector<unsigned char> buf(kStep + kTable);
    const uint64_t size = std::min(s.size(), kLargest);
    for (uint64_t base = heap; base < size; base += kStep) {
        const int64_t got = s.read(base, buf.data(), int64_t(buf.size()));
        if (got < 6)
            return std::nullopt;
        const uint64_t limit = std::min<uint64_t>(kStep, uint64_t(got) - 6);
        for (uint64_t i = 0; i <= limit; ++i) {
            const uint64_t x = base + i;  // a table at x
            const uint32_t n = le16(buf.data() + i);
            if (n == 0 || n > 1000)
                continue;
            const uint64_t wordAt = i + 2 + 10ull * n;
            if (wordAt + 4 > uint64_t(got) || le32(buf.data() + wordAt) != x - heap)
                continue;
            bool valid = true;
            for (uint32_t r = 0; r < n && valid; ++r) {
                const unsigned char *rec = buf.data() + i + 2 + 10 * r;
                const uint16_t tag = le16(rec);
                const uint32_t length = le32(rec + 2), offset = le32(rec + 6);
                // Data stored in the record itself (0x4000) has no place in the heap.
                if (!(tag & 0x4000) && (uint64_t(offset) + length > x - heap))
                    valid = false;
            }
            if (!valid)
                continue;
            uint64_t end = x + wordAt - i + 4;
            unsigned char optional[20];
            if (s.get(end, optional, 20) && std::memcmp(optional, "CANON OPTIONAL DATA", 20) == 0 && end + 560 <= size)
                end += 560;
            return end;
        }
        if (got < int64_t(buf.size()))
            return std::nullopt;
    }
    return std::nullopt;
}

// MRW: "\0MRM" and the length of its blocks; the PRD block gives the sensor's size, its bit
// depth and how pixels are stored; the raw data follows the blocks.
std::optional<uint64_t> mrwEnd(ByteSource &s, const ExtentContext &)
{
    const auto magic = s.be32(0), blocks = s.be32(4);
    if (!magic || *magic != 0x004D524D || !blocks)
        return std::nullopt;
    const uint64_t dataAt = 8 + uint64_t(*blocks);
    uint64_t p = 8;
    while (p + 8 <= dataAt) {
        const auto id = s.be32(p), length = s.be32(p + 4);
        if (!id || !length || p + 8 + *length > dataAt)
            return std::nullopt;
        if (*id == 0x00505244) {  // "\0PRD"
            unsigned char prd[24];
            if (*length < 24 || !s.get(p + 8, prd, 24))
                return std::nullopt;
            const uint64_t height = qFromBigEndian<quint16>(prd + 8), width = qFromBigEndian<quint16>(prd + 10);
            const int storage = prd[18];
            uint64_t bytes;
            if (storage == 0x52)
                bytes = width * height * 2;          // unpacked, two bytes a pixel
            else if (storage == 0x59)
                bytes = width * height * 12 / 8;     // packed 12-bit
            else
                return std::nullopt;
            if (width == 0 || height == 0)
                return std::nullopt;
            return dataAt + bytes;
        }
        p += 8 + *length;
    }
    return std::nullopt;
}

// RAF: its header gives offset and length of the JPEG preview, the raw header and the raw data.
std::optional<uint64_t> rafEnd(ByteSource &s, const ExtentContext &c)
{
    char magic[16];
    if (!s.get(0, magic, 16) || std::memcmp(magic, "FUJIFILMCCD-RAW ", 16) != 0)
        return std::nullopt;
    uint64_t end = 108;
    for (uint64_t at : {84, 92, 100}) {
        const auto offset = s.be32(at), length = s.be32(at + 4);
        if (!offset || !length)
            return std::nullopt;
        if (*length == 0)
            continue;
        if (*offset < 100)
            return std::nullopt;
        end = std::max<uint64_t>(end, uint64_t(*offset) + *length);
        c.anchor(*offset);
    }
    return end > 108 ? std::optional<uint64_t>(end) : std::nullopt;
}

// X3F: "FOVb"; its last four bytes point at its directory ("SECd", a version, a count and
// twelve bytes per entry), which ends right before them. Directories are searched from the
// start; each must agree with the word after it and list sections that lie before it.
std::optional<uint64_t> x3fEnd(ByteSource &s, const ExtentContext &)
{
    const auto magic = s.be32(0);
    if (!magic || *magic != 0x464F5662)
        return std::nullopt;
    // The directory is at the end, past the preview found as a file of its own: the search is
    // bounded by the largest X3F a camera writes.
    constexpr uint64_t kLargest = 192u << 20;
    Searcher search(s, QByteArrayView("SECd"));
    for (uint64_t from = 8; const auto dir = search.next(from, std::min(s.size(), kLargest));) {
        from = *dir + 1;
        const auto count = s.le32(*dir + 8);
        if (!count || *count == 0 || *count > 4096)
            continue;
        const uint64_t end = *dir + 12 + 12ull * *count + 4;
        const auto back = s.le32(end - 4);
        if (!back || *back != *dir)
            continue;
        bool valid = true;
        for (uint32_t i = 0; i < *count && valid; ++i) {
            const auto offset = s.le32(*dir + 12 + 12ull * i), length = s.le32(*dir + 16 + 12ull * i);
            valid = offset && length && uint64_t(*offset) + *length <= *dir;
        }
        if (valid)
            return end;
    }
    return std::nullopt;
}

// PSD and PSB: the header, then colour mode data, image resources and layer and mask
// information, each with its length, then the merged image: raw (its size follows from the
// header) or run-length coded (a table of byte counts, then the rows).
std::optional<uint64_t> psdEnd(ByteSource &s, const ExtentContext &)
{
    unsigned char h[26];
    if (!s.get(0, h, 26) || std::memcmp(h, "8BPS", 4) != 0)
        return std::nullopt;
    const uint16_t version = qFromBigEndian<quint16>(h + 4);
    if (version != 1 && version != 2)
        return std::nullopt;
    const bool big = version == 2;
    const uint64_t channels = qFromBigEndian<quint16>(h + 12), height = qFromBigEndian<quint32>(h + 14),
                   width = qFromBigEndian<quint32>(h + 18), depth = qFromBigEndian<quint16>(h + 22);
    if (channels == 0 || channels > 56 || height == 0 || width == 0 || height > 300000 || width > 300000
        || (depth != 1 && depth != 8 && depth != 16 && depth != 32))
        return std::nullopt;
    const uint64_t size = s.size();
    uint64_t p = 26;
    for (int section = 0; section < 3; ++section) {
        uint64_t length;
        if (section == 2 && big) {
            const auto l = s.be64(p);
            if (!l)
                return std::nullopt;
            length = *l;
            p += 8;
        } else {
            const auto l = s.be32(p);
            if (!l)
                return std::nullopt;
            length = *l;
            p += 4;
        }
        if (length > size || p > size - length)
            return std::nullopt;
        p += length;
    }
    const auto compression = s.be16(p);
    if (!compression)
        return std::nullopt;
    p += 2;
    const uint64_t rowBytes = depth == 1 ? (width + 7) / 8 : width * (depth / 8);
    const uint64_t rows = channels * height;
    if (*compression == 0) {
        const uint64_t bytes = rowBytes * rows;
        if (bytes > size || p > size - bytes)
            return std::nullopt;
        return p + bytes;
    }
    if (*compression != 1)
        return std::nullopt;  // zip-coded data states no length
    // Run-length coded: one byte count per row of every channel.
    const uint64_t width_ = big ? 4 : 2;
    if (rows * width_ > size || p > size - rows * width_)
        return std::nullopt;
    uint64_t data = 0;
    unsigned char buf[8192];
    for (uint64_t k = 0; k < rows;) {
        const uint64_t step = std::min<uint64_t>(rows - k, sizeof buf / width_);
        if (!s.get(p + k * width_, buf, int64_t(step * width_)))
            return std::nullopt;
        for (uint64_t i = 0; i < step; ++i)
            data += big ? qFromBigEndian<quint32>(buf + 4 * i) : qFromBigEndian<quint16>(buf + 2 * i);
        k += step;
    }
    const uint64_t end = p + rows * width_ + data;
    return end <= size ? std::optional<uint64_t>(end) : std::nullopt;
}

namespace {
// A JPEG 2000 codestream from its SOC: marker segments, then tile-parts whose SOT gives their
// length, to the EOC marker.
std::optional<uint64_t> codestreamEnd(ByteSource &s, uint64_t p, uint64_t limit)
{
    const auto soc = s.be16(p);
    if (!soc || *soc != 0xFF4F)
        return std::nullopt;
    p += 2;
    while (p + 2 <= limit) {
        const auto marker = s.be16(p);
        if (!marker || (*marker >> 8) != 0xFF)
            return std::nullopt;
        if (*marker == 0xFFD9)
            return p + 2;
        if (*marker == 0xFF90) {  // SOT: the tile-part's whole length, from the SOT on
            const auto length = s.be32(p + 6);
            if (!length || *length < 14)
                return std::nullopt;
            p += *length;
            continue;
        }
        const auto length = s.be16(p + 2);
        if (!length || *length < 2)
            return std::nullopt;
        p += 2 + uint64_t(*length);
    }
    return std::nullopt;
}
} // namespace

// JPEG 2000 (JP2) and JPEG XL containers: boxes with their lengths; a last box "to the end of
// the file" is a JP2 codestream, walked to its end marker.
std::optional<uint64_t> jp2End(ByteSource &s, const ExtentContext &)
{
    const uint64_t size = s.size();
    uint64_t p = 0;
    bool codestream = false;
    for (;;) {
        const auto length = s.be32(p);
        char type[4];
        if (!length || !s.get(p + 4, type, 4))
            break;
        bool text = true;
        for (char ch : type)
            text = text && ((ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9') || ch == ' ');
        if (!text)
            break;  // the next file or other data: the boxes end here
        uint64_t box = *length;
        if (*length == 1) {
            const auto large = s.be64(p + 8);
            if (!large || *large < 16)
                return std::nullopt;
            box = *large;
        } else if (*length == 0) {
            if (std::memcmp(type, "jp2c", 4) != 0)
                return std::nullopt;  // a JPEG XL codestream states no length
            return codestreamEnd(s, p + 8, size);
        } else if (*length < 8) {
            return std::nullopt;
        }
        if (box > size || p > size - box)
            return std::nullopt;
        codestream = codestream || std::memcmp(type, "jp2c", 4) == 0 || std::memcmp(type, "jxlc", 4) == 0
                     || std::memcmp(type, "jxlp", 4) == 0;
        p += box;
    }
    return codestream && p > 0 ? std::optional<uint64_t>(p) : std::nullopt;
}

} // namespace lumafind
