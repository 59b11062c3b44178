// Which finder serves which type, the read budget, and the rule that a file is never saved
// shorter than its carved range unless its format says where it ends.
#include "extent.h"

#include <QHash>

namespace lumafind {

namespace {
struct Family {
    const char *name;
    EndFinder end;
    bool tiffLike;  // raw files keep vendor data their directories do not point at
};

const Family kJpeg{"JPEG", jpegEnd, false}, kPng{"PNG", pngEnd, false}, kGif{"GIF", gifEnd, false},
    kBmp{"BMP", bmpEnd, false}, kTiff{"TIFF", tiffEnd, true}, kIso{"ISO media", isoMediaEnd, false},
    kRiff{"RIFF", riffEnd, false}, kAsf{"ASF", asfEnd, false}, kEbml{"EBML", ebmlEnd, false},
    kM2ts{"MPEG transport stream (192-byte packets)", m2tsEnd, false}, kTs{"MPEG transport stream", tsEnd, false},
    kPs{"MPEG program stream", programStreamEnd, false}, kPdf{"PDF", pdfEnd, false}, kZip{"ZIP", zipEnd, false},
    kOle{"OLE compound file", oleEnd, false};

const Family *familyOf(const QString &ext)
{
    static const QHash<QString, const Family *> families = {
        {"JPG", &kJpeg},  {"PNG", &kPng},  {"GIF", &kGif},   {"BMP", &kBmp},   {"TIF", &kTiff},  {"CR2", &kTiff},
        {"ORF", &kTiff},  {"RW2", &kTiff}, {"IIQ", &kTiff},  {"MP4", &kIso},   {"MOV", &kIso},   {"M4V", &kIso},
        {"3GP", &kIso},   {"HEIC", &kIso}, {"CR3", &kIso},   {"M4A", &kIso},   {"AVIF", &kIso},  {"AVI", &kRiff},
        {"WAV", &kRiff},  {"WEBP", &kRiff}, {"WMV", &kAsf},  {"MKV", &kEbml},  {"MTS", &kM2ts},  {"TS", &kTs},
        {"MPG", &kPs},    {"PDF", &kPdf},  {"ZIP", &kZip},   {"DOC", &kOle},
    };
    return families.value(ext.toUpper(), nullptr);
}

// Is [from, to) erased (zeros)? Reads at most the carved range.
bool blank(ByteSource &s, uint64_t from, uint64_t to)
{
    char buf[65536];
    while (from < to) {
        const int64_t n = s.read(from, buf, int64_t(std::min<uint64_t>(sizeof buf, to - from)));
        if (n <= 0)
            return true;
        for (int64_t i = 0; i < n; ++i)
            if (buf[i] != 0)
                return false;
        from += uint64_t(n);
    }
    return true;
}
} // namespace

bool hasExtentFinder(const QString &ext)
{
    return familyOf(ext) != nullptr;
}

QString extentFamily(const QString &ext)
{
    const Family *f = familyOf(ext);
    return f ? QString::fromLatin1(f->name) : QString();
}

Extent findExtent(const QString &ext, ByteSource &s, const ExtentContext &c)
{
    const uint64_t carved = std::min(c.carved, s.size());
    const Family *family = familyOf(ext);
    if (!family)
        return {carved, false, false};
    // A last guard: no finder reads more than twice what the file may claim. The finders are
    // linear on their own; this catches what a future one might get wrong.
    s.setReadBudget(2 * std::max(s.size(), carved) + (16u << 20));
    const std::optional<uint64_t> end = family->end(s, c);
    if (!end || *end == 0 || *end > s.size())
        return {carved, false, s.budgetSpent()};
    // Raw files keep vendor data that their directories do not point at: their directories
    // make a file longer than carved, or shorter only when what they leave out is blank.
    if (family->tiffLike && *end < carved && !blank(s, *end, carved))
        return {carved, false, false};
    return {std::min(*end, kMaxSavedFile), true, false};
}

} // namespace lumafind
