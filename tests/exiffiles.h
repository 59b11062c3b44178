#pragma once
// Files with dates and previews that the tests build byte by byte: TIFF directories (a plain
// TIFF, a raw-like file with an embedded JPEG preview, the Exif block of a JPEG), movie
// headers, a PNG time chunk.
#include "testfiles.h"

#include <QByteArray>
#include <QList>
#include <zlib.h>

namespace exiffiles {

// One directory entry. Its value is given bytes, or the offset of another directory or of a
// blob, resolved when the file is laid out.
struct Entry {
    quint16 tag = 0, type = 0;
    quint32 count = 0;
    QByteArray data;  // little-endian value bytes
    int ifd = -1, blob = -1;
};

using ::be16;
using ::be32;
using ::be64;
using ::le16;
using ::le32;

inline Entry ascii(quint16 tag, const QByteArray &s) { return {tag, 2, quint32(s.size() + 1), s + '\0'}; }
inline Entry shortValue(quint16 tag, quint16 v) { return {tag, 3, 1, le16(v)}; }
inline Entry longValue(quint16 tag, quint32 v) { return {tag, 4, 1, le32(v)}; }
inline Entry ifdOffset(quint16 tag, int ifd) { return {tag, 4, 1, le32(0), ifd, -1}; }
inline Entry blobOffset(quint16 tag, int blob) { return {tag, 4, 1, le32(0), -1, blob}; }

// A little-endian TIFF: the directories in order (next[i] is the directory after directory i
// in the chain, or -1), then their values, then the blobs.
inline QByteArray tiff(const QList<QList<Entry>> &ifds, const QList<int> &next, const QList<QByteArray> &blobs)
{
    QList<quint32> ifdAt, blobAt;
    quint32 at = 8;
    for (const auto &ifd : ifds) {
        ifdAt << at;
        at += 2 + 12 * quint32(ifd.size()) + 4;
    }
    QList<QList<quint32>> valueAt;
    for (const auto &ifd : ifds) {
        valueAt << QList<quint32>();
        for (const Entry &e : ifd) {
            valueAt.last() << at;
            if (e.data.size() > 4)
                at += quint32(e.data.size() + (e.data.size() & 1));
        }
    }
    for (const QByteArray &b : blobs) {
        blobAt << at;
        at += quint32(b.size() + (b.size() & 1));
    }
    QByteArray out("II*\0", 4);
    out += le32(8);
    for (int i = 0; i < ifds.size(); ++i) {
        out += le16(quint16(ifds[i].size()));
        for (int k = 0; k < ifds[i].size(); ++k) {
            const Entry &e = ifds[i][k];
            out += le16(e.tag) + le16(e.type) + le32(e.count);
            if (e.ifd >= 0)
                out += le32(ifdAt[e.ifd]);
            else if (e.blob >= 0)
                out += le32(blobAt[e.blob]);
            else if (e.data.size() > 4)
                out += le32(valueAt[i][k]);
            else
                out += e.data + QByteArray(4 - e.data.size(), '\0');
        }
        out += le32(next.value(i, -1) >= 0 ? ifdAt[next[i]] : 0);
    }
    for (const auto &ifd : ifds)
        for (const Entry &e : ifd)
            if (e.data.size() > 4)
                out += e.data + QByteArray(e.data.size() & 1, '\0');
    for (const QByteArray &b : blobs)
        out += b + QByteArray(b.size() & 1, '\0');
    return out;
}

// The Exif directory of a photo taken at dateTime ("YYYY:MM:DD HH:MM:SS"), with its offset
// ("+02:00") when given.
inline QList<Entry> exifIfd(const QByteArray &dateTime, const QByteArray &offset = QByteArray())
{
    QList<Entry> e{ascii(0x9003, dateTime)};
    if (!offset.isEmpty())
        e << ascii(0x9011, offset);  // OffsetTimeOriginal
    return e;
}

// A plain TIFF (an 8 by 8 grey picture) taken at dateTime.
inline QByteArray datedTiff(const QByteArray &dateTime, const QByteArray &offset = QByteArray())
{
    const QList<Entry> ifd0{shortValue(256, 8), shortValue(257, 8), shortValue(258, 8), shortValue(259, 1),
                            shortValue(262, 1), ascii(271, "Norvo"), blobOffset(273, 0), shortValue(277, 1),
                            shortValue(278, 8), longValue(279, 64), ifdOffset(34665, 1)};
    return tiff({ifd0, exifIfd(dateTime, offset)}, {-1, -1}, {QByteArray(64, char(0x80))});
}

// A raw-like file: a 16-bit colour-filter-array first image (side by side pixels) Qt cannot
// show, and an embedded JPEG preview in the second directory. previewOffset/previewLength,
// when given, replace the preview's real place and length (a hostile file).
inline QByteArray rawLikeTiff(const QByteArray &jpeg, const QByteArray &dateTime, qint64 previewOffset = -1,
                              qint64 previewLength = -1, int side = 16)
{
    const quint32 rawBytes = quint32(side * side * 2);
    const QList<Entry> ifd0{longValue(254, 0), shortValue(256, quint16(side)), shortValue(257, quint16(side)),
                            shortValue(258, 16), shortValue(259, 1), shortValue(262, 32803),
                            ascii(271, "NIKON CORPORATION"), ascii(272, "NIKON D-TEST"), blobOffset(273, 0),
                            shortValue(277, 1), shortValue(278, quint16(side)), longValue(279, rawBytes),
                            {33421, 3, 2, le16(2) + le16(2)}, {33422, 1, 4, QByteArray("\0\1\1\2", 4)},
                            ifdOffset(34665, 2)};
    QList<Entry> ifd1{longValue(254, 1), shortValue(259, 6)};
    ifd1 << (previewOffset >= 0 ? longValue(513, quint32(previewOffset)) : blobOffset(513, 1));
    ifd1 << longValue(514, quint32(previewLength >= 0 ? previewLength : jpeg.size()));
    return tiff({ifd0, ifd1, exifIfd(dateTime)}, {1, -1, -1}, {QByteArray(int(rawBytes), char(0x40)), jpeg});
}

// A JPEG with an Exif block (APP1) right after its start marker.
inline QByteArray withExif(const QByteArray &jpeg, const QByteArray &tiffBytes)
{
    const QByteArray payload = QByteArray("Exif\0\0", 6) + tiffBytes;
    return jpeg.left(2) + "\xFF\xE1" + be16(quint16(payload.size() + 2)) + payload + jpeg.mid(2);
}

inline QByteArray exifJpeg(const QByteArray &jpeg, const QByteArray &dateTime, const QByteArray &offset = QByteArray())
{
    return withExif(jpeg, tiff({{ifdOffset(34665, 1)}, exifIfd(dateTime, offset)}, {-1, -1}, {}));
}

inline QByteArray box(const char *type, const QByteArray &body)
{
    return be32(quint32(8 + body.size())) + QByteArray(type, 4) + body;
}

// A movie header created `created` seconds after 1904-01-01 UTC (version 1: 64-bit times).
inline QByteArray mvhd(quint64 created, int version = 0)
{
    QByteArray body(1, char(version));
    body += QByteArray(3, '\0');
    if (version == 1)
        body += be64(created) + be64(created) + be32(600) + be64(1800);
    else
        body += be32(quint32(created)) + be32(quint32(created)) + be32(600) + be32(1800);
    body += QByteArray(80, '\0');  // rate, volume, matrix, next track
    return box("mvhd", body);
}

// An MP4: its media data first (as cameras write it) and the movie box after.
inline QByteArray movie(quint64 created, int version = 0)
{
    return box("ftyp", QByteArray("isom\0\0\2\0isommp42", 16)) + box("mdat", QByteArray(3000, '\x11'))
        + box("moov", mvhd(created, version) + box("trak", QByteArray(40, '\0')));
}

// Inserts a tIME chunk (universal time) after a PNG's header chunk.
inline QByteArray withPngTime(const QByteArray &png, int year, int month, int day, int hour, int minute, int second)
{
    const QByteArray typed = "tIME" + be16(quint16(year)) + char(month) + char(day) + char(hour) + char(minute) + char(second);
    const quint32 crc = quint32(crc32(0, reinterpret_cast<const Bytef *>(typed.constData()), uInt(typed.size())));
    const int afterHeader = 8 + 8 + 13 + 4;
    return png.left(afterHeader) + be32(7) + typed + be32(crc) + png.mid(afterHeader);
}

constexpr quint64 kFrom1904 = 2082844800;

} // namespace exiffiles
