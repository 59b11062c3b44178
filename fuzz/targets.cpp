#include "targets.h"

#include "catalogue/signatures.h"
#include "engine/matcher.h"
#include "engine/sectorreader.h"
#include "media/fatgeometry.h"
#include "results/extents/check.h"
#include "results/extents/extent.h"
#include "results/fragments.h"
#include "results/remnants.h"
#include "results/saver.h"

#include <QByteArrayView>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QtEndian>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits.h>
#include <vector>

namespace lumafind::fuzz {

namespace {

[[noreturn]] void fail(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    std::fputs("fuzz rule broken: ", stderr);
    std::vfprintf(stderr, format, args);
    std::fputc('\n', stderr);
    va_end(args);
    std::abort();
}

// The one call into the end finders; when their interface changes, only this changes.
Extent extentOf(const QString &ext, QByteArrayView bytes, uint64_t carved)
{
    MemorySource source(bytes);
    return findExtent(ext, source, carved);
}

// What every answer must satisfy whatever the bytes: the saver copies `bytes` from the source,
// so a declared end is never 0 and never past what the source holds (nor the per-file limit);
// without a declared end the file is exactly its carved range.
void checkExtent(const char *ext, QByteArrayView bytes, uint64_t carved)
{
    const Extent e = extentOf(QString::fromLatin1(ext), bytes, carved);
    const uint64_t size = uint64_t(bytes.size());
    if (e.declared) {
        if (e.bytes == 0)
            fail("%s: a declared extent of 0 bytes", ext);
        if (e.bytes > size || e.bytes > kMaxSavedFile)
            fail("%s: declared %llu bytes of a %llu-byte source", ext, (unsigned long long)e.bytes,
                 (unsigned long long)size);
    } else if (e.bytes != carved) {
        fail("%s: carved %llu bytes but answered %llu", ext, (unsigned long long)carved,
             (unsigned long long)e.bytes);
    }
}

// Each type of a family on the same bytes, carved to the end of the input. Types whose answer
// depends on the carved range (the PDF search, the TIFF blank-tail rule) are also tried carved
// shorter, as when the scan found the next file's header inside.
struct Type {
    const char *ext;
    bool carvedMatters = false;
};

void finders(std::initializer_list<Type> types, const uint8_t *data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    for (const Type &t : types) {
        checkExtent(t.ext, bytes, size);
        if (t.carvedMatters)
            checkExtent(t.ext, bytes, size - size / 4);
    }
}

void jpeg(const uint8_t *d, size_t n) { finders({{"JPG"}}, d, n); }
void images(const uint8_t *d, size_t n) { finders({{"PNG"}, {"GIF"}, {"BMP"}}, d, n); }
void tiff(const uint8_t *d, size_t n) { finders({{"TIF", true}}, d, n); }
void isoMedia(const uint8_t *d, size_t n) { finders({{"MP4"}}, d, n); }
void containers(const uint8_t *d, size_t n) { finders({{"AVI"}, {"WMV"}, {"MKV"}}, d, n); }
void mpeg(const uint8_t *d, size_t n) { finders({{"TS"}, {"MTS"}, {"MPG"}}, d, n); }
void documents(const uint8_t *d, size_t n) { finders({{"PDF", true}, {"ZIP"}, {"DOC"}}, d, n); }
void cameras(const uint8_t *d, size_t n)
{
    finders({{"CRW"}, {"MRW"}, {"RAF"}, {"X3F"}, {"PSD"}, {"JP2"}, {"RW2"}, {"IIQ"}, {"NEF"}}, d, n);
}
void archives(const uint8_t *d, size_t n) { finders({{"RAR"}, {"7Z"}, {"GZ"}, {"BZ2"}, {"XZ"}, {"CAB"}}, d, n); }
void streams(const uint8_t *d, size_t n)
{
    finders({{"FLV"}, {"MXF"}, {"RM"}, {"MP3"}, {"FLAC"}, {"OGG"}, {"AMR"}, {"MID"}, {"AIF"}, {"DJVU"}}, d, n);
}
void programs(const uint8_t *d, size_t n)
{
    finders({{"EXE"}, {"ELF"}, {"SQLITE"}, {"KDBX"}, {"EPS"}, {"PS", true}, {"RTF", true}, {"VCF", true}, {"ICS", true}}, d, n);
}

// The header checks: the input's first two bytes say where the hit's sector starts in it; every
// type's check runs on the bytes around it, reading nothing outside them.
void checks(const uint8_t *d, size_t n)
{
    if (n < 2)
        return;
    const size_t at = std::min<size_t>((size_t(d[0]) << 8 | d[1]) % 2048, n - 2);
    if (n < 3)
        return;
    std::vector<unsigned char> bytes(n - 2);  // exactly the input: a read past it is caught
    std::memcpy(bytes.data(), d + 2, n - 2);
    const HitView view{bytes.data(), bytes.size(), std::min(at, bytes.size() - 1)};
    for (const QString &type : QStringList{"JPG", "TIF", "MP4", "MTS", "TS", "MP3", "BMP", "WAV", "GZ", "PSD", "FLV", "MXF",
                                           "RM", "RTF", "RAR", "7Z", "BZ2", "XZ", "OGG", "FLAC", "SQLITE", "EXE", "ELF",
                                           "AMR", "AIF", "MID", "PS", "EPS", "DJVU", "CAB", "KDBX"})
        checkHeader(type, view);
}

// The sector is a heap block of exactly 512 bytes, so a read past it is caught.
std::vector<unsigned char> sectorOf(const uint8_t *d, size_t n)
{
    std::vector<unsigned char> sector(512, 0);
    std::memcpy(sector.data(), d, std::min<size_t>(n, 512));
    return sector;
}

uint32_t le32(const uint8_t *p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

// The volumes of a medium whose first sectors are the input, handed over in order as a pass
// does; a tail of 8 bytes or more after the whole sectors gives the medium's size. Every
// volume kept must lie where it says: its heap inside itself and starting on the medium.
void volumes(const uint8_t *d, size_t n)
{
    const size_t sectors = n / 512;
    uint64_t mediumBytes = UINT64_MAX;
    if (n % 512 >= 8) {
        std::memcpy(&mediumBytes, d + sectors * 512, 8);
        mediumBytes = qFromLittleEndian(mediumBytes);
    }
    VolumeFinder finder(0, sectors, mediumBytes);
    for (size_t s = 0; s < sectors; ++s) {
        const std::vector<unsigned char> sector = sectorOf(d + 512 * s, 512);
        bool gpt = false;
        for (const PartitionSpan &p : parseMbr(sector.data(), &gpt))
            if (p.firstSector == 0 || p.sectors == 0)
                fail("sector %zu: an empty partition", s);
        finder.sector(s, sector.data());
    }
    for (const FatVolume &v : finder.volumes()) {
        const bool fat16 = v.kind == FatVolume::Fat12 || v.kind == FatVolume::Fat16;
        if (v.sectorBytes < 512 || v.sectorBytes > 4096 || v.clusterBytes < v.sectorBytes || v.clusterBytes > (uint64_t(32) << 20)
            || (v.clusterBytes & (v.clusterBytes - 1)) != 0 || v.clusterCount == 0)
            fail("%s: sectors of %u bytes, clusters of %llu, %llu of them", v.kindName(), v.sectorBytes,
                 (unsigned long long)v.clusterBytes, (unsigned long long)v.clusterCount);
        if (v.heapByte < v.firstByte || v.clusterCount > (UINT64_MAX - v.heapByte) / v.clusterBytes
            || (mediumBytes != UINT64_MAX && v.heapByte >= mediumBytes))
            fail("%s: a heap at %llu of a volume at %llu", v.kindName(), (unsigned long long)v.heapByte,
                 (unsigned long long)v.firstByte);
        if (v.heapEnd() - v.firstByte > v.bytes)
            fail("%s: a heap to %llu past the volume's %llu bytes", v.kindName(), (unsigned long long)v.heapEnd(),
                 (unsigned long long)v.bytes);
        if (fat16 ? v.rootDirBytes == 0 || v.rootDirByte < v.firstByte || v.rootDirByte + v.rootDirBytes > v.heapByte
                  : !v.hasCluster(v.rootCluster))
            fail("%s: its root directory lies outside it", v.kindName());
        if (finder.volumeAt(v.directoriesFrom()) == nullptr)
            fail("%s: no volume where its directories start", v.kindName());
    }
}

// Directory entries read from the input's sectors, in a volume its first 8 bytes describe:
// the kind, the cluster size, the cluster count and where the heap starts. Every entry kept
// names clusters of the volume, and its name, made safe, is one path component the saver can
// create (with the temporary name's additions) under any output folder.
void directories(const uint8_t *d, size_t n)
{
    if (n < 8 + 512)
        return;
    FatVolume v;
    v.kind = FatVolume::Kind(d[0] % 4);
    v.clusterBytes = uint64_t(512) << (d[1] % 17);
    v.clusterCount = std::max<uint32_t>(1, le32(d + 2));
    v.heapByte = uint64_t(d[6] | d[7] << 8) * 512;
    if (v.kind == FatVolume::Fat12 || v.kind == FatVolume::Fat16) {
        v.rootDirByte = 0;
        v.rootDirBytes = 16384;
        v.heapByte += v.rootDirBytes;
    } else {
        v.rootCluster = 2;
    }
    v.bytes = v.heapEnd();
    const std::vector<unsigned char> bytes(d + 8, d + n);  // exactly the input: a read past it is caught
    for (size_t at = 0; at + 512 <= bytes.size(); at += 512) {
        std::vector<uint32_t> dirs;
        const std::vector<RememberedFile> found
            = v.kind == FatVolume::ExFat ? exfatDirectoryEntries(v, bytes.data() + at, bytes.size() - at, at / 512, &dirs)
                                         : fatDirectoryEntries(v, bytes.data() + at, at, at / 512, &dirs);
        for (uint32_t c : dirs)
            if (!v.hasCluster(c))
                fail("a directory at cluster %u of %llu", c, (unsigned long long)v.clusterCount);
        for (const RememberedFile &f : found) {
            if (f.size == 0 || f.size > v.clusterCount * v.clusterBytes || !v.hasCluster(f.firstCluster)
                || f.firstByte != v.clusterByte(f.firstCluster))
                fail("a file of %llu bytes at cluster %u of %llu", (unsigned long long)f.size, f.firstCluster,
                     (unsigned long long)v.clusterCount);
            if (f.name.isEmpty())
                fail("a file without a name");
            for (QChar c : f.name)
                if (c.unicode() < 0x20 || c == u'/' || c == u'\\')
                    fail("a name holding U+%04X", unsigned(c.unicode()));
            (void)f.modifiedIso();
            const QString safe = safeComponent(f.name);
            // ".NAME.PID-N.part" while written, "NAME_N.EXT" beside a namesake.
            const QByteArray temporary = QFile::encodeName(QStringLiteral(".%1.4194304-99.part").arg(safe));
            if (safe.isEmpty() || safe == QLatin1String(".") || safe == QLatin1String("..") || safe.contains(u'/')
                || safe.startsWith(u'.') || safe.contains(QChar(0)) || temporary.size() > NAME_MAX)
                fail("an unsafe saved name (%lld bytes)", (long long)QFile::encodeName(safe).size());
        }
    }
}

// A file put back together from a medium held in memory: the input's first 16 bytes say its
// type, the cluster size, its first cluster, the clusters up to the next found file, its
// remembered size and up to four stretches of clusters other files hold; the rest is the
// medium, all of it the volume's heap. The pieces found hold exactly the file, start where it
// starts, lie in the heap clear of each other and of what other files hold.
void fragments(const uint8_t *d, size_t n)
{
    if (n < 16 + 512)
        return;
    static const char *const types[] = {"JPG", "MP4", "MOV", "AVI", "WAV"};
    std::vector<unsigned char> medium(d + 16, d + n);
    SectorReader reader([&](const QString &) { return fmemopen(medium.data(), medium.size(), "rb"); });
    if (!reader.open(QStringLiteral("memory")))
        return;
    FragmentQuery q;
    q.type = QLatin1String(types[d[0] % 5]);
    q.volume.clusterBytes = uint64_t(512) << (d[1] % 4);
    q.volume.clusterCount = medium.size() / q.volume.clusterBytes;
    q.volume.bytes = q.volume.heapEnd();
    q.startByte = d[2] * q.volume.clusterBytes;
    if (q.volume.clusterCount == 0 || q.startByte >= q.volume.heapEnd())
        return;
    q.contiguousRoom = std::min<uint64_t>(q.volume.heapEnd() - q.startByte, (d[3] + 1) * q.volume.clusterBytes);
    q.size = le32(d + 4);
    HeldMap held;
    held.add(q.startByte, q.startByte + std::min(q.size, q.contiguousRoom));
    for (int i = 0; i < 4; ++i)
        if (d[8 + 2 * i + 1])
            held.add(d[8 + 2 * i] * q.volume.clusterBytes, (d[8 + 2 * i] + d[9 + 2 * i]) * q.volume.clusterBytes, i % 2);
    FragmentReader m(reader, medium.size());
    const std::optional<std::vector<Piece>> pieces = findPieces(q, held, m);
    if (!pieces)
        return;
    if (pieces->empty() || pieces->front().mediumByte != q.startByte)
        fail("the pieces do not start where the file does");
    uint64_t total = 0;
    for (size_t i = 0; i < pieces->size(); ++i) {
        const Piece &p = (*pieces)[i];
        if (p.bytes == 0 || p.mediumByte + p.bytes > q.volume.heapEnd() || p.bytes > UINT64_MAX - total)
            fail("piece %zu: %llu bytes at %llu", i, (unsigned long long)p.bytes, (unsigned long long)p.mediumByte);
        total += p.bytes;
        for (size_t j = 0; j < i; ++j)
            if (p.mediumByte < (*pieces)[j].mediumByte + (*pieces)[j].bytes && (*pieces)[j].mediumByte < p.mediumByte + p.bytes)
                fail("pieces %zu and %zu overlap", j, i);
        for (uint64_t c = p.mediumByte; i > 0 && c < p.mediumByte + p.bytes; c += q.volume.clusterBytes)
            if (held.held(c, q.startByte))
                fail("piece %zu takes the held cluster at %llu", i, (unsigned long long)c);
    }
    if (total != q.size)
        fail("pieces of %llu bytes for a file of %llu", (unsigned long long)total, (unsigned long long)q.size);
}

// A card image: its sectors handed to the remnants as the General pass hands them over (with
// the bytes around each), every remembered file taken as found where its entry says it starts,
// then the fragment stage over the same bytes. The entries kept stay within the bound, and a
// file put back together holds exactly its entry's size, on the card.
void card(const uint8_t *d, size_t n)
{
    constexpr size_t kMaxEntries = 64;
    std::vector<unsigned char> medium(d, d + n / 512 * 512);
    if (medium.empty())
        return;
    Remnants remnants(kMaxEntries);
    remnants.beginScan(0, medium.size() / 512, medium.size());
    for (size_t at = 0; at < medium.size(); at += 512)
        remnants.sector(at / 512, medium.data() + at, at, medium.size() - at);
    remnants.endDirectories();
    if (remnants.entryCount() > kMaxEntries)
        fail("%zu entries kept of at most %zu", remnants.entryCount(), kMaxEntries);
    const QList<RememberedFile> entries = remnants.unmatched();
    for (const RememberedFile &f : entries)
        remnants.noteFound(f.firstByte, f.size, f.extension());
    SectorReader reader([&](const QString &) { return fmemopen(medium.data(), medium.size(), "rb"); });
    if (!reader.open(QStringLiteral("card")))
        return;
    remnants.resolveFragments(reader, medium.size());
    for (const RememberedFile &f : entries) {
        const std::vector<Piece> pieces = remnants.piecesFor(f.firstByte);
        if (pieces.empty())
            continue;
        const std::optional<RememberedFile> e = remnants.entryFor(f.firstByte, f.extension());
        uint64_t total = 0;
        for (const Piece &p : pieces) {
            if (p.bytes == 0 || p.mediumByte > medium.size() || p.bytes > medium.size() - p.mediumByte)
                fail("a piece of %llu bytes at %llu", (unsigned long long)p.bytes, (unsigned long long)p.mediumByte);
            total += p.bytes;
        }
        if (!e || pieces.front().mediumByte != f.firstByte || total != e->size)
            fail("%zu pieces of %llu bytes for an entry of %llu", pieces.size(), (unsigned long long)total,
                 (unsigned long long)(e ? e->size : 0));
    }
}

// The header checks: a 512-byte sector, then records as raw lines (seven fields each, any
// text in any field). The pass index must agree with checking every record in order.
void headers(const uint8_t *d, size_t n)
{
    const std::vector<unsigned char> sector = sectorOf(d, n);
    QStringList list;
    if (n > 512)
        list = QString::fromUtf8(reinterpret_cast<const char *>(d) + 512, qsizetype(n - 512)).split(QLatin1Char('\n'));
    list.resize(list.size() - list.size() % kRecordStrings);
    std::vector<int> matching;
    for (qsizetype r = 0; r < recordCount(list); ++r)
        if (headerMatches(decodeHeader(list, r), sector.data()))
            matching.push_back(int(r));
    const PassMatcher matcher(list);
    const int first = matcher.first(sector.data());
    if (first != (matching.empty() ? -1 : matching.front()))
        fail("the pass index finds record %d first, the records in order %d", first,
             matching.empty() ? -1 : matching.front());
    const int from = int(recordCount(list) / 2);
    std::vector<int> found;
    matcher.matchingFrom(sector.data(), from, found);
    std::vector<int> expected;
    for (int r : matching)
        if (r >= from)
            expected.push_back(r);
    if (found != expected)
        fail("the pass index finds %zu records from %d, the records in order %zu", found.size(), from, expected.size());
}

// The database reader: NUL bytes split the input into files, read in order by one reader as
// the six databases are. Every list holds whole records, and a record the reader calls usable
// is found by the carving loops in a sector that holds its header.
void database(const uint8_t *d, size_t n)
{
    SignatureReader reader;
    const QByteArrayView all(reinterpret_cast<const char *>(d), qsizetype(n));
    qsizetype start = 0;
    while (start <= all.size()) {
        qsizetype end = all.indexOf('\0', start);
        if (end < 0)
            end = all.size();
        QStringList list;
        reader.parse(QString::fromUtf8(all.sliced(start, end - start)), list);
        start = end + 1;
        if (list.size() % kRecordStrings != 0)
            fail("a list of %lld strings is not whole records", (long long)list.size());
        const PassMatcher matcher(list);
        for (qsizetype r = 0; r < recordCount(list); ++r) {
            if (!recordProblem(list, r).isEmpty())
                continue;
            const DecodedHeader h = decodeHeader(list, r);
            if (h.offset < 0 || h.offset + h.bytes.size() > 512)
                fail("record %lld is usable but its header does not fit in a sector", (long long)r);
            std::vector<unsigned char> sector(512, 0);
            std::memcpy(sector.data() + h.offset, h.bytes.constData(), size_t(h.bytes.size()));
            if (!headerMatches(h, sector.data()))
                fail("record %lld is usable but does not match its own header", (long long)r);
            const int first = matcher.first(sector.data());
            if (first < 0 || first > r)
                fail("record %lld matches its own header but the pass index finds %d", (long long)r, first);
        }
    }
}

} // namespace

const Target kTargets[] = {
    {"extent_jpeg", jpeg},
    {"extent_images", images},
    {"extent_tiff", tiff},
    {"extent_isomedia", isoMedia},
    {"extent_containers", containers},
    {"extent_mpeg", mpeg},
    {"extent_documents", documents},
    {"extent_cameras", cameras},
    {"extent_archives", archives},
    {"extent_streams", streams},
    {"extent_programs", programs},
    {"checks", checks},
    {"headers", headers},
    {"database", database},
    {"volumes", volumes},
    {"directories", directories},
    {"fragments", fragments},
    {"card", card},
};
const size_t kTargetCount = sizeof kTargets / sizeof kTargets[0];

const Target *findTarget(const char *name)
{
    for (const Target &t : kTargets)
        if (std::strcmp(t.name, name) == 0)
            return &t;
    return nullptr;
}

} // namespace lumafind::fuzz
