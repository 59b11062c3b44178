#pragma once
// What a found file says about itself besides its bytes: when it was captured, and the picture
// it carries for showing it small. Each format family has a reader (a small table in
// metadata.cpp, by database type): Exiv2 for Exif dates and embedded previews, LibRaw for the
// raw previews Exiv2 does not reach, libheif for HEIF pictures, and our own few lines for
// the plain structures (the ISO media movie header, PNG's tIME, AVCHD's recording date).
//
// The libraries only ever see bytes in memory, already bounded by the file's extent, and every
// call into them is guarded: a file that makes one fail or throw has no date or no preview.
#include "results/extents/extent.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QImage>
#include <QString>
#include <optional>

namespace lumafind {

// The bytes a date or a preview is looked for in: the start of the file, up to this much.
constexpr uint64_t kMetadataHeadBytes = uint64_t(24) << 20;
// No embedded preview larger than this is extracted.
constexpr uint64_t kMaxPreviewBytes = uint64_t(32) << 20;

struct CaptureTime {
    qint64 utc = 0;       // seconds since 1970-01-01T00:00:00Z
    int offset = 0;       // seconds east of UTC: the zone the camera wrote, else the local zone then
    // 2021-07-04T15:30:12+02:00
    QString iso() const;
    bool operator==(const CaptureTime &o) const { return utc == o.utc && offset == o.offset; }
};

// When the file was captured, as it records it; nothing when its family records no date, the
// date is missing or unset, or the bytes do not hold it. Reads at most kMetadataHeadBytes of
// the file, plus the box headers of an ISO media file.
std::optional<CaptureTime> captureTime(const QString &type, ByteSource &file);
std::optional<CaptureTime> captureTime(const QString &type, QByteArrayView bytes);

// The picture a file carries for showing it, at most maxPixels on the longer side, upright: its
// largest embedded preview of at most kMaxPreviewBytes that decodes, or (HEIF) its thumbnail
// or primary picture decoded by libheif. Null when it carries none.
QImage embeddedPicture(const QString &type, QByteArrayView bytes, int maxPixels);

// Encoded picture bytes that Qt reads, decoded at most maxPixels on the longer side and turned
// upright; null when Qt cannot, or the picture would take more than 256 MiB to decode.
QImage decodePicture(QByteArrayView bytes, int maxPixels);

// Whether the type's own picture is best shown through its embedded preview (raw files and
// HEIF: what Qt might read of them is a tiny thumbnail, or nothing).
bool previewFirst(const QString &type);
// Whether the type has a metadata reader at all, and its name ("" when none).
QString metadataFamily(const QString &type);

// LibRaw's reading of a raw file's preview (what rawPicture falls back on), for its test.
QImage librawPicture(QByteArrayView bytes, int maxPixels);

// The plain structures, exposed for their tests.
std::optional<CaptureTime> isoMediaCaptureTime(ByteSource &file);
std::optional<CaptureTime> pngCaptureTime(ByteSource &file);
std::optional<CaptureTime> avchdCaptureTime(QByteArrayView head, int packetSize);
// An Exif date and time ("2021:07:04 15:30:12") with its offset ("+02:00", or empty: the
// local zone at that time).
std::optional<CaptureTime> exifCaptureTime(const QString &dateTime, const QString &offset);

} // namespace lumafind
