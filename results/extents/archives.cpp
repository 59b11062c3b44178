// Archives and compressed files: RAR (its blocks to the end-of-archive block), 7-Zip (the
// signature header's pointer to the header at the end, both checksums verified), gzip (each
// member inflated to its end and trailer), bzip2 (the end-of-stream marker at any bit offset,
// with the stream checksum built from the block checksums), xz (the stream footer whose index
// accounts for every block), cabinets (their stated size), SQLite (page size times page count)
// and KeePass 4 databases (their plain block framing).
#include "others.h"
#include "window.h"

#include <QCryptographicHash>
#include <zlib.h>

namespace lumafind {

uint32_t crc32Bytes(const unsigned char *p, size_t n)
{
    uLong crc = crc32(0L, Z_NULL, 0);
    while (n > 0) {
        const uInt chunk = uInt(std::min<size_t>(n, 1u << 30));
        crc = crc32(crc, p, chunk);
        p += chunk;
        n -= chunk;
    }
    return uint32_t(crc);
}

std::optional<uint32_t> crc32Of(ByteSource &s, uint64_t offset, uint64_t len)
{
    std::vector<unsigned char> buf(size_t(std::min<uint64_t>(len, 1 << 20)));
    uLong crc = crc32(0L, Z_NULL, 0);
    while (len > 0) {
        const int64_t want = int64_t(std::min<uint64_t>(len, buf.size()));
        if (!s.get(offset, buf.data(), want))
            return std::nullopt;
        crc = crc32(crc, buf.data(), uInt(want));
        offset += uint64_t(want);
        len -= uint64_t(want);
    }
    return uint32_t(crc);
}

// ---- RAR ----

namespace {
// A RAR 5 variable-length number (7 bits a byte, at most 10 bytes); its length in *len.
std::optional<uint64_t> rarVint(const unsigned char *p, size_t avail, size_t *len)
{
    uint64_t v = 0;
    for (size_t i = 0; i < 10 && i < avail; ++i) {
        if (i == 9 && (p[i] & 0xFE))
            return std::nullopt;  // beyond 64 bits
        v |= uint64_t(p[i] & 0x7F) << (7 * i);
        if (!(p[i] & 0x80)) {
            *len = i + 1;
            return v;
        }
    }
    return std::nullopt;
}

// RAR 1.5 to 4: blocks of a 7-byte header (checksum, type, flags, size), some followed by data
// whose size the header gives; the archive ends with its end-of-archive block. Archives
// without one (written by versions before 3.0) are not bounded here.
std::optional<uint64_t> rar4End(ByteSource &s, Window &w)
{
    uint64_t p = 7;
    for (int blocks = 0;; ++blocks) {
        const unsigned char *h = w.at(p, 7);
        if (!h)
            return std::nullopt;
        const unsigned type = h[2], flags = rdLe16(h + 3), size = rdLe16(h + 5);
        if (type < 0x73 || type > 0x7B || size < 7 || (blocks == 0 && type != 0x73))
            return std::nullopt;
        uint64_t data = 0;
        if (type == 0x74 || type == 0x7A) {  // file and service headers: packed size, maybe 64-bit
            h = w.at(p, size);
            if (!h || size < 32)
                return std::nullopt;
            data = rdLe32(h + 7);
            if (flags & 0x100) {
                if (size < 40)
                    return std::nullopt;
                data |= uint64_t(rdLe32(h + 32)) << 32;
            }
        } else if (flags & 0x8000) {
            h = w.at(p, 11);
            if (!h || size < 11)
                return std::nullopt;
            data = rdLe32(h + 7);
        }
        if (type == 0x73 || type == 0x74 || type == 0x7A || type == 0x7B) {
            h = w.at(p, size);
            if (!h || (crc32Bytes(h + 2, size - 2) & 0xFFFF) != rdLe16(h))
                return std::nullopt;
        }
        if (type == 0x7B)
            return p + size;
        const auto next = addSize(p + size, data);
        if (!next || *next > s.size())
            return std::nullopt;
        p = *next;
    }
}

// RAR 5: headers of a checksum, a size and a type, each maybe followed by data; the archive
// ends with its end-of-archive header. An archive whose headers are encrypted cannot be
// walked without its password.
std::optional<uint64_t> rar5End(ByteSource &s, Window &w)
{
    uint64_t p = 8;
    for (int headers = 0;; ++headers) {
        const unsigned char *h = w.at(p, 7);
        if (!h)
            return std::nullopt;
        size_t sizeLen = 0;
        const auto headerSize = rarVint(h + 4, 3, &sizeLen);
        if (!headerSize || *headerSize == 0 || *headerSize > (2u << 20))
            return std::nullopt;
        const size_t whole = 4 + sizeLen + size_t(*headerSize);
        h = w.at(p, whole);
        if (!h || crc32Bytes(h + 4, whole - 4) != rdLe32(h))
            return std::nullopt;
        const unsigned char *f = h + 4 + sizeLen;
        size_t left = size_t(*headerSize), n = 0;
        const auto type = rarVint(f, left, &n);
        if (!type || *type < 1 || *type > 5 || (headers == 0 && *type != 1 && *type != 4))
            return std::nullopt;
        f += n;
        left -= n;
        const auto flags = rarVint(f, left, &n);
        if (!flags)
            return std::nullopt;
        f += n;
        left -= n;
        uint64_t data = 0;
        if (*flags & 1) {  // extra area size
            if (!rarVint(f, left, &n))
                return std::nullopt;
            f += n;
            left -= n;
        }
        if (*flags & 2) {
            const auto d = rarVint(f, left, &n);
            if (!d)
                return std::nullopt;
            data = *d;
        }
        if (*type == 4)
            return std::nullopt;  // encrypted headers follow
        if (*type == 5)
            return p + whole;
        const auto next = addSize(p + whole, data);
        if (!next || *next > s.size())
            return std::nullopt;
        p = *next;
    }
}
} // namespace

std::optional<uint64_t> rarEnd(ByteSource &s, const ExtentContext &)
{
    Window w(s);
    const unsigned char *h = w.at(0, 8);
    if (!h || std::memcmp(h, "Rar!\x1A\x07", 6) != 0)
        return std::nullopt;
    if (h[6] == 0)
        return rar4End(s, w);
    if (h[6] == 1 && h[7] == 0)
        return rar5End(s, w);
    return std::nullopt;
}

// ---- 7-Zip ----

// The signature header points at the archive's header, which is written last: the archive
// ends where that header does. Both checksums must hold.
std::optional<uint64_t> sevenZipEnd(ByteSource &s, const ExtentContext &)
{
    unsigned char h[32];
    if (!s.get(0, h, 32) || std::memcmp(h, "7z\xBC\xAF\x27\x1C", 6) != 0 || h[6] != 0)
        return std::nullopt;
    if (crc32Bytes(h + 12, 20) != rdLe32(h + 8))
        return std::nullopt;
    const uint64_t offset = rdLe64(h + 12), size = rdLe64(h + 20);
    const auto at = addSize(32, offset);
    const auto end = at ? addSize(*at, size) : std::nullopt;
    if (!end || *end > s.size())
        return std::nullopt;
    if (size == 0)
        return offset == 0 ? std::optional<uint64_t>(32) : std::nullopt;  // an empty archive
    const auto first = s.u8(*at);
    if (!first || (*first != 0x01 && *first != 0x17))  // a header, or an encoded (packed) one
        return std::nullopt;
    const auto crc = crc32Of(s, *at, size);
    if (!crc || *crc != rdLe32(h + 28))
        return std::nullopt;
    return end;
}

// ---- gzip ----

namespace {
// Inflating costs work in the bytes it writes, not the bytes it reads: a crafted member can
// inflate a thousandfold. Members that would pass this (a file of zeros, say) stay carved.
constexpr uint64_t kInflateSlack = uint64_t(256) << 20;
constexpr uint64_t kInflateRatio = 64;

// The offset of a member's deflate data, or nullopt when p holds no valid member header.
std::optional<uint64_t> gzipMemberData(ByteSource &s, Window &w, uint64_t p)
{
    const unsigned char *h = w.at(p, 10);
    if (!h || h[0] != 0x1F || h[1] != 0x8B || h[2] != 8 || (h[3] & 0xE0))
        return std::nullopt;
    const unsigned flags = h[3];
    uint64_t q = p + 10;
    if (flags & 4) {
        const unsigned char *x = w.at(q, 2);
        if (!x)
            return std::nullopt;
        q += 2 + rdLe16(x);
    }
    for (const unsigned flag : {8u, 16u}) {  // name and comment: zero-terminated, not endless
        if (!(flags & flag))
            continue;
        bool found = false;
        for (uint64_t scanned = 0; !found && scanned < 65536;) {
            size_t avail = 0;
            const unsigned char *b = w.span(q, 1, &avail);
            if (!b)
                return std::nullopt;
            const size_t n = size_t(std::min<uint64_t>(avail, 65536 - scanned));
            const void *zero = std::memchr(b, 0, n);
            const size_t step = zero ? size_t(static_cast<const unsigned char *>(zero) - b) + 1 : n;
            q += step;
            scanned += step;
            found = zero != nullptr;
        }
        if (!found)
            return std::nullopt;
    }
    if (flags & 2) {
        const auto crc = crc32Of(s, p, q - p);
        const auto stored = s.le16(q);
        if (!crc || !stored || (*crc & 0xFFFF) != *stored)
            return std::nullopt;
        q += 2;
    }
    return q;
}

// Inflates the deflate data at `at`: the offset just past it, its checksum and length, or
// nullopt when it is not valid, is cut, or would inflate beyond the work bound.
std::optional<uint64_t> inflateMember(ByteSource &s, uint64_t at, uint32_t *crc, uint64_t *length, uint64_t *written)
{
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK)
        return std::nullopt;
    std::vector<unsigned char> in(1 << 18), out(1 << 16);
    uint64_t next = at;
    uLong sum = crc32(0L, Z_NULL, 0);
    std::optional<uint64_t> end;
    for (;;) {
        if (z.avail_in == 0) {
            const int64_t got = s.read(next, in.data(), int64_t(in.size()));
            if (got <= 0)
                break;  // cut
            z.next_in = in.data();
            z.avail_in = uInt(got);
            next += uint64_t(got);
        }
        z.next_out = out.data();
        z.avail_out = uInt(out.size());
        const int rc = inflate(&z, Z_NO_FLUSH);
        const size_t produced = out.size() - z.avail_out;
        sum = crc32(sum, out.data(), uInt(produced));
        *length += produced;
        *written += produced;
        const uint64_t consumed = next - z.avail_in;
        if (*written > kInflateSlack + kInflateRatio * consumed)
            break;
        if (rc == Z_STREAM_END) {
            end = consumed;
            break;
        }
        if (rc != Z_OK && !(rc == Z_BUF_ERROR && z.avail_in == 0))
            break;
    }
    inflateEnd(&z);
    *crc = uint32_t(sum);
    return end;
}
} // namespace

// Each member inflated to its end, its trailer's checksum and length verified; members that
// follow are the same file, unless one starts where the next found file does (then it is that
// file). A member that follows and is broken or cut leaves the whole file carved.
std::optional<uint64_t> gzipEnd(ByteSource &s, const ExtentContext &c)
{
    Window w(s);
    std::optional<uint64_t> end;
    uint64_t written = 0;
    for (uint64_t p = 0;;) {
        const auto data = gzipMemberData(s, w, p);
        if (!data)
            return end;
        uint32_t crc = 0;
        uint64_t length = 0;
        const auto after = inflateMember(s, *data, &crc, &length, &written);
        const auto storedCrc = after ? s.le32(*after) : std::nullopt;
        const auto storedLength = after ? s.le32(*after + 4) : std::nullopt;
        if (!storedCrc || !storedLength || *storedCrc != crc || *storedLength != uint32_t(length))
            return std::nullopt;  // a member broken or cut: the file is
        end = *after + 8;
        p = *end;
        if (p >= c.searchLimit(s, p))
            return end;
    }
}

// ---- bzip2 ----

namespace {
constexpr uint64_t kBlockMagic = 0x314159265359ull, kStreamEndMagic = 0x177245385090ull;
constexpr uint64_t kMask48 = (uint64_t(1) << 48) - 1;

bool bzip2Header(const unsigned char *h)
{
    if (h[0] != 'B' || h[1] != 'Z' || h[2] != 'h' || h[3] < '1' || h[3] > '9')
        return false;
    uint64_t m = 0;
    for (int i = 4; i < 10; ++i)
        m = m << 8 | h[i];
    return m == kBlockMagic || m == kStreamEndMagic;
}

// One stream from `start`: the block and end-of-stream markers are 48-bit patterns at any bit
// offset, each followed by a 32-bit checksum; the stream's checksum combines the blocks'. The
// stream ends at the byte that holds its checksum's last bit. No marker may be further from
// the last one than the largest block the stream's level allows.
std::optional<uint64_t> bzip2Stream(ByteSource &s, Window &w, const ExtentContext &c, uint64_t start)
{
    const unsigned char *h = w.at(start, 10);
    if (!h || !bzip2Header(h))
        return std::nullopt;
    const uint64_t maxGap = uint64_t(h[3] - '0') * 400000 + 4096;
    // The byte three before the newest one is fixed for each bit offset of each marker: a
    // table of those values lets most bytes pass with one look.
    bool candidate[256] = {};
    for (const uint64_t m : {kBlockMagic, kStreamEndMagic})
        for (int k = 0; k < 8; ++k)
            candidate[(m >> (24 - k)) & 0xFF] = true;
    const uint64_t limit = c.searchLimit(s, start);
    uint64_t reg = 0, q = start + 4, lastMarker = q, crcEnd = 0;
    uint32_t combined = 0;
    bool pending = false, pendingEnd = false;
    while (q < limit) {
        size_t avail = 0;
        const unsigned char *b = w.span(q, 1, &avail);
        if (!b)
            return std::nullopt;
        const size_t n = size_t(std::min<uint64_t>(avail, limit - q));
        for (size_t i = 0; i < n; ++i, ++q) {
            reg = reg << 8 | b[i];
            const uint64_t bitEnd = 8 * (q + 1);  // bits up to and including this byte
            if (pending) {
                if (bitEnd < crcEnd)
                    continue;
                const uint32_t crc = uint32_t(reg >> (bitEnd - crcEnd));
                pending = false;
                if (!pendingEnd) {
                    combined = (combined << 1 | combined >> 31) ^ crc;
                } else if (crc == combined) {
                    return (crcEnd + 7) / 8;
                }
                continue;
            }
            if (q - lastMarker > maxGap)
                return std::nullopt;
            if (!candidate[(reg >> 24) & 0xFF] || q < start + 9)
                continue;
            for (int k = 0; k < 8; ++k) {
                const uint64_t m = (reg >> k) & kMask48;
                if (m != kBlockMagic && m != kStreamEndMagic)
                    continue;
                if (bitEnd - uint64_t(k) < 8 * (start + 4) + 48)
                    continue;  // not all of it lies after the stream header
                pending = true;
                pendingEnd = m == kStreamEndMagic;
                crcEnd = bitEnd - uint64_t(k) + 32;
                lastMarker = q;
                break;
            }
        }
    }
    return std::nullopt;
}
} // namespace

// Streams that follow one another (parallel compressors write several) are one file, unless
// one starts where the next found file does. One that follows and has no end leaves the whole
// file carved.
std::optional<uint64_t> bzip2End(ByteSource &s, const ExtentContext &c)
{
    Window w(s, 1 << 20);
    for (uint64_t p = 0;;) {
        const auto end = bzip2Stream(s, w, c, p);
        if (!end)
            return std::nullopt;
        p = *end;
        const unsigned char *h = w.at(p, 10);
        if (!h || !bzip2Header(h) || p >= c.searchLimit(s, p))
            return end;
    }
}

// ---- xz ----

namespace {
// An xz variable-length number (7 bits a byte, at most 9 bytes, no needless zero byte).
std::optional<uint64_t> xzVint(const unsigned char *p, size_t avail, size_t *len)
{
    uint64_t v = 0;
    for (size_t i = 0; i < 9 && i < avail; ++i) {
        v |= uint64_t(p[i] & 0x7F) << (7 * i);
        if (!(p[i] & 0x80)) {
            if (i > 0 && p[i] == 0)
                return std::nullopt;
            *len = i + 1;
            return v;
        }
    }
    return std::nullopt;
}

bool xzStreamHeader(const unsigned char *h)
{
    return std::memcmp(h, "\xFD" "7zXZ\0", 6) == 0 && h[6] == 0 && (h[7] & 0xF0) == 0 && crc32Bytes(h + 6, 2) == rdLe32(h + 8);
}

// Whether the index at `at`, `size` bytes long, is valid and accounts for exactly the blocks
// between the stream header (at streamStart) and itself.
bool xzIndexFits(ByteSource &s, uint64_t streamStart, uint64_t at, uint64_t size)
{
    if (size < 8 || size > (16u << 20))
        return false;
    const auto indicator = s.u8(at);
    if (!indicator || *indicator != 0)
        return false;
    std::vector<unsigned char> index(size);
    if (!s.get(at, index.data(), int64_t(size)))
        return false;
    if (crc32Bytes(index.data(), size - 4) != rdLe32(index.data() + size - 4))
        return false;
    size_t p = 1, n = 0;
    const auto records = xzVint(index.data() + p, size - 4 - p, &n);
    if (!records || *records > size / 2)
        return false;
    p += n;
    uint64_t blocks = 0;
    for (uint64_t r = 0; r < *records; ++r) {
        const auto unpadded = xzVint(index.data() + p, size - 4 - p, &n);
        if (!unpadded || *unpadded < 5)
            return false;
        p += n;
        if (!xzVint(index.data() + p, size - 4 - p, &n))
            return false;
        p += n;
        const auto sum = addSize(blocks, (*unpadded + 3) & ~uint64_t(3));
        if (!sum)
            return false;
        blocks = *sum;
    }
    while (p % 4 != 0 && p < size - 4)
        if (index[p++] != 0)
            return false;
    return p == size - 4 && streamStart + 12 + blocks == at;
}

// One stream from `start`: the first footer after it whose checksum holds, whose flags equal
// the header's, and whose index accounts for every block before it. Its end.
std::optional<uint64_t> xzStream(ByteSource &s, const ExtentContext &c, uint64_t start)
{
    unsigned char h[12];
    if (!s.get(start, h, 12) || !xzStreamHeader(h))
        return std::nullopt;
    Searcher search(s, QByteArrayView("YZ"));
    const uint64_t limit = c.searchLimit(s, start);
    int misses = 0;  // footers that look right but whose index does not: only crafted data has many
    for (uint64_t from = start + 12 + 10; const auto hit = search.next(from, limit);) {
        from = *hit + 1;
        if (*hit < start + 12 + 10)
            continue;
        const uint64_t footer = *hit - 10;
        unsigned char f[12];
        if (!s.get(footer, f, 12) || f[8] != h[6] || f[9] != h[7] || crc32Bytes(f + 4, 6) != rdLe32(f))
            continue;
        const uint64_t indexSize = (uint64_t(rdLe32(f + 4)) + 1) * 4;
        if (indexSize > footer - start - 12)
            continue;
        if (xzIndexFits(s, start, footer - indexSize, indexSize))
            return *hit + 2;
        if (++misses > 4)
            return std::nullopt;
    }
    return std::nullopt;
}
} // namespace

// Streams may follow one another, with zero padding in fours between them; padding after the
// last stream cannot be told from an erased medium and is left out. A stream that follows and
// has no valid end leaves the whole file carved.
std::optional<uint64_t> xzEnd(ByteSource &s, const ExtentContext &c)
{
    for (uint64_t p = 0;;) {
        const auto end = xzStream(s, c, p);
        if (!end)
            return std::nullopt;
        uint64_t q = *end;
        unsigned char h[12];
        for (int words = 0; words < 4096 && s.get(q, h, 4) && rdLe32(h) == 0; ++words)
            q += 4;
        if (!s.get(q, h, 12) || !xzStreamHeader(h) || q >= c.searchLimit(s, q))
            return end;
        p = q;
    }
}

// ---- cabinets ----

// A cabinet states its size; its folders' data blocks must lie inside it.
std::optional<uint64_t> cabEnd(ByteSource &s, const ExtentContext &)
{
    Window w(s);
    const unsigned char *h = w.at(0, 36);
    if (!h || std::memcmp(h, "MSCF", 4) != 0 || rdLe32(h + 4) != 0 || rdLe32(h + 12) != 0 || h[25] != 1)
        return std::nullopt;
    const uint64_t size = rdLe32(h + 8), files = rdLe32(h + 16);
    const unsigned folders = rdLe16(h + 26), flags = rdLe16(h + 30);
    if (size < 36 || size > s.size() || files >= size || (flags & ~7u))
        return std::nullopt;
    uint64_t p = 36;
    unsigned folderReserve = 0, dataReserve = 0;
    if (flags & 4) {
        h = w.at(36, 4);
        if (!h)
            return std::nullopt;
        folderReserve = h[2];
        dataReserve = h[3];
        p = 40 + rdLe16(h);
    }
    for (unsigned flag : {1u, 2u}) {  // previous and next cabinet names and disks
        if (!(flags & flag))
            continue;
        for (int strings = 0; strings < 2; ++strings) {
            size_t avail = 0;
            const unsigned char *b = w.span(p, 1, &avail);
            const void *zero = b ? std::memchr(b, 0, std::min<size_t>(avail, 256)) : nullptr;
            if (!zero)
                return std::nullopt;
            p += uint64_t(static_cast<const unsigned char *>(zero) - b) + 1;
        }
    }
    // Each folder's data blocks, walked: they follow one another, folder after folder, and a
    // block outside the stated size is damage.
    uint64_t dataEnd = 0;
    for (unsigned f = 0; f < folders; ++f, p += 8 + folderReserve) {
        unsigned char folder[8];
        if (p + 8 > size || !s.get(p, folder, 8))
            return std::nullopt;
        uint64_t d = rdLe32(folder);
        const unsigned blocks = rdLe16(folder + 4);
        if (d < dataEnd)
            return std::nullopt;
        for (unsigned b = 0; b < blocks; ++b) {
            const unsigned char *block = w.at(d, 8);
            if (!block)
                return std::nullopt;
            d += 8 + dataReserve + rdLe16(block + 4);
            if (d > size)
                return std::nullopt;
        }
        dataEnd = d;
    }
    return size;
}

// ---- SQLite ----

// The header's page count is valid when the change counter beside it matches the one it was
// written with; the file is that many pages.
std::optional<uint64_t> sqliteEnd(ByteSource &s, const ExtentContext &)
{
    unsigned char h[100];
    if (!s.get(0, h, 100) || std::memcmp(h, "SQLite format 3\0", 16) != 0)
        return std::nullopt;
    const unsigned raw = rdBe16(h + 16);
    const uint64_t page = raw == 1 ? 65536 : raw;
    if (page < 512 || page > 65536 || (page & (page - 1)) || h[18] < 1 || h[18] > 2 || h[19] < 1 || h[19] > 2
        || h[21] != 64 || h[22] != 32 || h[23] != 32)
        return std::nullopt;
    const uint64_t pages = rdBe32(h + 28);
    if (pages == 0 || rdBe32(h + 24) != rdBe32(h + 92))
        return std::nullopt;  // an old writer's header: the count is not kept
    const uint64_t end = pages * page;
    return end <= s.size() ? std::optional<uint64_t>(end) : std::nullopt;
}

// ---- KeePass ----

// KDBX 4: header fields, the header's SHA-256 (verified) and HMAC, then blocks of an HMAC, a
// length and the encrypted data, ending with an empty block. KDBX 3 encrypts its whole payload
// as one stream whose end nothing outside the cipher marks: not bounded here.
std::optional<uint64_t> kdbxEnd(ByteSource &s, const ExtentContext &)
{
    Window w(s);
    const unsigned char *h = w.at(0, 12);
    if (!h || rdLe32(h) != 0x9AA2D903u || rdLe32(h + 4) != 0xB54BFB67u || rdLe16(h + 10) != 4)
        return std::nullopt;
    uint64_t p = 12;
    for (;;) {
        const unsigned char *field = w.at(p, 5);
        if (!field)
            return std::nullopt;
        const unsigned id = field[0];
        const uint64_t size = rdLe32(field + 1);
        if (id > 12 || size > s.size())
            return std::nullopt;
        p += 5 + size;
        if (id == 0)
            break;
    }
    if (p > (16u << 20))
        return std::nullopt;  // no real header is this long
    std::vector<char> header(p);
    unsigned char digest[32];
    if (!s.get(0, header.data(), int64_t(p)) || !s.get(p, digest, 32))
        return std::nullopt;
    const QByteArray sha = QCryptographicHash::hash(QByteArrayView(header.data(), qsizetype(p)), QCryptographicHash::Sha256);
    if (std::memcmp(sha.constData(), digest, 32) != 0)
        return std::nullopt;
    p += 64;
    for (;;) {
        const unsigned char *block = w.at(p, 36);
        if (!block)
            return std::nullopt;
        const uint32_t size = rdLe32(block + 32);
        if (size > 0x7FFFFFFFu)
            return std::nullopt;
        p += 36 + uint64_t(size);
        if (p > s.size())
            return std::nullopt;
        if (size == 0)
            return p;
    }
}

} // namespace lumafind
