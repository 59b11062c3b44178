// Which finder and which header check serve which type, and the read budget.
#include "family.h"

#include <QHash>

namespace lumafind {

namespace {
const Family kJpeg{"JPEG", jpegEnd, jpegCheck, nullptr, true}, kPng{"PNG", pngEnd, nullptr, nullptr, true},
    kGif{"GIF", gifEnd, nullptr, nullptr, true}, kBmp{"BMP", bmpEnd, bmpCheck, nullptr, true},
    kTiff{"TIFF", tiffEnd, tiffCheck}, kIso{"ISO media", isoMediaEnd, isoMediaCheck}, kRiff{"RIFF", riffEnd, riffCheck},
    kAsf{"ASF", asfEnd, nullptr}, kEbml{"EBML", ebmlEnd, nullptr},
    kM2ts{"MPEG transport stream (192-byte packets)", m2tsEnd, m2tsCheck, nullptr, true},
    kTs{"MPEG transport stream", tsEnd, tsCheck, nullptr, true},
    kPs{"MPEG program stream", programStreamEnd, nullptr, nullptr, true}, kPdf{"PDF", pdfEnd, nullptr, nullptr, true},
    kZip{"ZIP", zipEnd, nullptr}, kOle{"OLE compound file", oleEnd, nullptr, nullptr, true},
    kMp3{"MPEG audio", nullptr, mp3Check, "its frames state no length for the whole stream"},
    kGz{"gzip", nullptr, gzipCheck, "its end is known only by inflating it"},
    kPsd{"Photoshop", psdEnd, psdCheck}, kCrw{"Canon CIFF", crwEnd, nullptr}, kMrw{"Minolta MRW", mrwEnd, nullptr},
    kRaf{"Fujifilm RAF", rafEnd, nullptr}, kX3f{"Sigma X3F", x3fEnd, nullptr}, kJp2{"JPEG 2000 and JPEG XL box", jp2End, nullptr},
    kCarved{"", nullptr, nullptr, "its format states no length that is read yet"},
    kText{"", nullptr, nullptr, "plain text states no length"};

const QHash<QString, const Family *> &families()
{
    static const QHash<QString, const Family *> table = {
        {"JPG", &kJpeg},  {"PNG", &kPng},  {"GIF", &kGif},   {"BMP", &kBmp},   {"TIF", &kTiff},  {"CR2", &kTiff},
        {"ORF", &kTiff},  {"RW2", &kTiff}, {"IIQ", &kTiff},  {"NEF", &kTiff},  {"DNG", &kTiff},  {"ARW", &kTiff},
        {"PEF", &kTiff},  {"SRW", &kTiff}, {"ERF", &kTiff},  {"3FR", &kTiff},  {"DCR", &kTiff},  {"KDC", &kTiff},
        {"MOS", &kTiff},  {"MEF", &kTiff}, {"MP4", &kIso},   {"MOV", &kIso},   {"M4V", &kIso},   {"3GP", &kIso},
        {"HEIC", &kIso},  {"CR3", &kIso},  {"M4A", &kIso},   {"AVIF", &kIso},  {"AVI", &kRiff},  {"WAV", &kRiff},
        {"WEBP", &kRiff}, {"WMV", &kAsf},  {"MKV", &kEbml},  {"MTS", &kM2ts},  {"TS", &kTs},     {"MPG", &kPs},
        {"PDF", &kPdf},   {"ZIP", &kZip},  {"DOC", &kOle},   {"MP3", &kMp3},   {"GZ", &kGz},     {"PSD", &kPsd},
        {"PSB", &kPsd},   {"CRW", &kCrw},  {"X3F", &kX3f},   {"MRW", &kMrw},   {"RAF", &kRaf},   {"JP2", &kJp2},
        {"JXL", &kJp2}, {"FLV", &kCarved}, {"MXF", &kCarved}, {"RM", &kCarved}, {"RTF", &kText},  {"RAR", &kCarved},
        {"7Z", &kCarved}, {"BZ2", &kCarved}, {"XZ", &kCarved}, {"FLAC", &kCarved}, {"OGG", &kCarved}, {"SQLITE", &kCarved},
        {"EXE", &kCarved}, {"ELF", &kCarved}, {"AAC", &kCarved}, {"AMR", &kCarved}, {"AIF", &kCarved}, {"MID", &kCarved},
        {"PS", &kCarved}, {"EPS", &kCarved}, {"XML", &kText},  {"DJVU", &kCarved}, {"CAB", &kCarved}, {"VCF", &kText},
        {"ICS", &kText},  {"KDBX", &kCarved},
    };
    return table;
}
} // namespace

const Family *familyOf(const QString &ext)
{
    return families().value(ext.toUpper(), nullptr);
}

QStringList knownTypes()
{
    QStringList types = families().keys();
    types.sort();
    return types;
}

bool hasExtentFinder(const QString &ext)
{
    const Family *f = familyOf(ext);
    return f && f->end;
}

QString extentFamily(const QString &ext)
{
    const Family *f = familyOf(ext);
    return f && f->end ? QString::fromLatin1(f->name) : QString();
}

QString endFoundBy(const QString &ext)
{
    const Family *f = familyOf(ext);
    if (!f)
        return QString();
    if (f->end)
        return QStringLiteral("%1 structure").arg(QString::fromLatin1(f->name));
    return QStringLiteral("carved: %1").arg(QString::fromLatin1(f->reason));
}

HeaderCheck checkHeader(const QString &ext, const HitView &view)
{
    const Family *f = familyOf(ext);
    if (!f || !f->check)
        return {};
    HeaderCheck c = f->check(view);
    // Only the generic TIFF record is named by what its directory says.
    if (ext.compare(QLatin1String("TIF"), Qt::CaseInsensitive) != 0)
        c.type.clear();
    return c;
}

static Extent carvedExtent(uint64_t bytes, bool outOfBounds)
{
    Extent e;
    e.bytes = bytes;
    e.outOfBounds = outOfBounds;
    return e;
}

Extent findExtent(const QString &ext, ByteSource &s, const ExtentContext &c)
{
    const uint64_t carved = std::min(c.carved, s.size());
    const Family *family = familyOf(ext);
    if (!family || !family->end)
        return carvedExtent(carved, false);
    // A last guard: no finder reads more than twice what the file may claim. The finders are
    // linear on their own; this catches what a future one might get wrong.
    s.setReadBudget(2 * std::max(s.size(), carved) + (16u << 20));
    std::vector<uint64_t> anchors;
    ExtentContext context = c;
    context.anchors = &anchors;
    const std::optional<uint64_t> end = family->end(s, context);
    if (!end || *end == 0 || *end > s.size())
        return carvedExtent(carved, s.budgetSpent());
    Extent e;
    e.bytes = std::min(*end, kMaxSavedFile);
    e.declared = true;
    e.verified = family->walksAll ? e.bytes : 0;
    e.anchors = std::move(anchors);
    return e;
}

} // namespace lumafind
