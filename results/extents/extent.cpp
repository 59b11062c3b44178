// Which finder serves which type, and the rule that a file is never saved shorter than its
// carved range unless its format says where it ends.
#include "extent.h"

#include <QHash>

namespace lumafind {

namespace {
enum class Family { None, Jpeg, Png, Gif, Bmp, Tiff, IsoMedia, Riff, Asf, Ebml, M2ts, Ts, Mpeg, Pdf, Zip, Ole };

Family familyOf(const QString &ext)
{
    static const QHash<QString, Family> families = {
        {"JPG", Family::Jpeg},     {"PNG", Family::Png},       {"GIF", Family::Gif},       {"BMP", Family::Bmp},
        {"TIF", Family::Tiff},     {"CR2", Family::Tiff},      {"ORF", Family::Tiff},      {"RW2", Family::Tiff},
        {"IIQ", Family::Tiff},     {"MP4", Family::IsoMedia},  {"MOV", Family::IsoMedia},  {"M4V", Family::IsoMedia},
        {"3GP", Family::IsoMedia}, {"HEIC", Family::IsoMedia}, {"CR3", Family::IsoMedia},  {"M4A", Family::IsoMedia},
        {"AVIF", Family::IsoMedia}, {"AVI", Family::Riff},     {"WAV", Family::Riff},      {"WEBP", Family::Riff},
        {"WMV", Family::Asf},      {"MKV", Family::Ebml},      {"MTS", Family::M2ts},      {"TS", Family::Ts},
        {"MPG", Family::Mpeg},     {"PDF", Family::Pdf},       {"ZIP", Family::Zip},       {"DOC", Family::Ole},
    };
    return families.value(ext.toUpper(), Family::None);
}
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
    return familyOf(ext) != Family::None;
}

Extent findExtent(const QString &ext, ByteSource &s, uint64_t carvedBytes)
{
    const ExtentContext c{carvedBytes};
    std::optional<uint64_t> end;
    switch (familyOf(ext)) {
    case Family::Jpeg: end = jpegEnd(s); break;
    case Family::Png: end = pngEnd(s); break;
    case Family::Gif: end = gifEnd(s); break;
    case Family::Bmp: end = bmpEnd(s); break;
    case Family::Tiff: end = tiffEnd(s); break;
    case Family::IsoMedia: end = isoMediaEnd(s, c); break;
    case Family::Riff: end = riffEnd(s); break;
    case Family::Asf: end = asfEnd(s); break;
    case Family::Ebml: end = ebmlEnd(s); break;
    case Family::M2ts: end = transportStreamEnd(s, 192, 4); break;
    case Family::Ts: end = transportStreamEnd(s, 188, 0); break;
    case Family::Mpeg: end = programStreamEnd(s); break;
    case Family::Pdf: end = pdfEnd(s, c); break;
    case Family::Zip: end = zipEnd(s); break;
    case Family::Ole: end = oleEnd(s); break;
    case Family::None: break;
    }
    if (!end || *end == 0)
        return {carvedBytes, false};
    // Raw files keep vendor data that their directories do not point at: their directories
    // make a file longer than carved, or shorter only when what they leave out is blank.
    if (familyOf(ext) == Family::Tiff && *end < carvedBytes && !blank(s, *end, carvedBytes))
        return {carvedBytes, false};
    return {std::min(*end, kMaxSavedFile), true};
}

} // namespace lumafind
