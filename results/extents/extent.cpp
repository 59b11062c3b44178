// Which finder and which header check serve which type, and the read budget.
#include "family.h"
#include "others.h"

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
    kMp3{"MPEG audio", mp3End, mp3Check, nullptr, true},
    kGz{"gzip", gzipEnd, gzipCheck, "a member that inflates to more than 64 times its size is carved", true},
    kPsd{"Photoshop", psdEnd, psdCheck}, kCrw{"Canon CIFF", crwEnd, nullptr}, kMrw{"Minolta MRW", mrwEnd, nullptr},
    kRaf{"Fujifilm RAF", rafEnd, nullptr}, kX3f{"Sigma X3F", x3fEnd, nullptr}, kJp2{"JPEG 2000 and JPEG XL box", jp2End, nullptr},
    kText{"", nullptr, nullptr, "plain text states no length"};
// Video and other files.
const Family kFlv{"FLV", flvEnd, flvCheck}, kMxf{"MXF", mxfEnd, mxfCheck}, kRealMedia{"RealMedia", realMediaEnd, realMediaCheck},
    kRtf{"RTF", rtfEnd, rtfCheck, nullptr, true}, kRar{"RAR", rarEnd, rarCheck}, kSevenZip{"7-Zip", sevenZipEnd, sevenZipCheck},
    kBzip2{"bzip2", bzip2End, bzip2Check, nullptr, true}, kXz{"xz", xzEnd, xzCheck}, kOgg{"Ogg", oggEnd, oggCheck, nullptr, true},
    kFlac{"FLAC", flacEnd, flacCheck, nullptr, true},
    kSqlite{"SQLite", sqliteEnd, sqliteCheck},
    kPe{"PE", peEnd, peCheck, "data appended after what its headers point at (an installer's payload) is not kept"},
    kElf{"ELF", elfEnd, elfCheck},
    kAdif{"", nullptr, nullptr, "its raw data blocks carry no length and no sync word: only decoding them finds the end"},
    kAmr{"AMR", amrEnd, amrCheck, nullptr, true}, kAiff{"AIFF", aiffEnd, aiffCheck}, kMidi{"MIDI", midiEnd, midiCheck},
    kPostScript{"PostScript", postScriptEnd, postScriptCheck, nullptr, true}, kEps{"EPS binary header", epsEnd, epsCheck},
    kDjvu{"DjVu", djvuEnd, djvuCheck}, kCab{"cabinet", cabEnd, cabCheck}, kVcard{"vCard", vcardEnd, nullptr, nullptr, true},
    kIcalendar{"iCalendar", icalendarEnd, nullptr, nullptr, true},
    kKdbx{"KeePass", kdbxEnd, kdbxCheck, "KDBX 4 only; a KDBX 3 file's payload is one encrypted stream, carved"};

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
        {"JXL", &kJp2},
        // Video and other files.
        {"FLV", &kFlv},   {"MXF", &kMxf},   {"RM", &kRealMedia}, {"RTF", &kRtf},  {"RAR", &kRar},    {"7Z", &kSevenZip},
        {"BZ2", &kBzip2}, {"XZ", &kXz},     {"FLAC", &kFlac},    {"OGG", &kOgg},  {"SQLITE", &kSqlite}, {"EXE", &kPe},
        {"ELF", &kElf},   {"AAC", &kAdif},  {"AMR", &kAmr},      {"AIF", &kAiff}, {"MID", &kMidi},   {"PS", &kPostScript},
        {"EPS", &kEps},   {"XML", &kText},  {"DJVU", &kDjvu},    {"CAB", &kCab},  {"VCF", &kVcard},  {"ICS", &kIcalendar},
        {"KDBX", &kKdbx},
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
    if (f->end && f->reason)  // what the structure leaves out
        return QStringLiteral("%1 structure; %2").arg(QString::fromLatin1(f->name), QString::fromLatin1(f->reason));
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
