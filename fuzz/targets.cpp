#include "targets.h"

#include "catalogue/signatures.h"
#include "engine/matcher.h"
#include "results/extents/check.h"
#include "results/extents/extent.h"

#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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
