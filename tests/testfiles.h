#pragma once
// Files the tests make or read: pictures from Qt's writers, the committed sample clip, a PDF,
// numbers as files store them, and reading and writing a file.
#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QPdfWriter>
#include <QRandomGenerator>
#include <QtEndian>
#include <zlib.h>

// A picture as Qt's writer of the format encodes it, turned by t (as a camera held on its side
// records it).
inline QByteArray encoded(const QImage &img, const char *format, int quality = -1,
                          QImageIOHandler::Transformations t = QImageIOHandler::TransformationNone)
{
    QByteArray out;
    QBuffer b(&out);
    QImageWriter writer(&b, format);
    writer.setQuality(quality);
    writer.setTransformation(t);
    writer.write(img);
    return out;
}

// A picture with some structure (so it compresses like a photo), encoded by Qt.
inline QByteArray picture(const char *format, int w, int h)
{
    QImage img(w, h, QImage::Format_RGB32);
    QPainter p(&img);
    for (int y = 0; y < h; y += 8)
        for (int x = 0; x < w; x += 8)
            p.fillRect(x, y, 8, 8, QColor::fromHsv((x * 3 + y) % 360, 200, 200));
    p.end();
    return encoded(img, format);
}

// A picture of one colour.
inline QByteArray solidPicture(const char *format, int w, int h, QColor colour, int quality = -1,
                               QImageIOHandler::Transformations t = QImageIOHandler::TransformationNone)
{
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(colour);
    return encoded(img, format, quality, t);
}

// A picture of noise: it does not compress, so its file is large, and a JPEG's data decodes
// only as itself.
inline QByteArray noisePicture(const char *format, int w, int h, quint32 seed, int quality = -1)
{
    QImage img(w, h, QImage::Format_RGB32);
    QRandomGenerator g(seed);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.setPixel(x, y, g.generate() | 0xFF000000u);
    return encoded(img, format, quality);
}

inline QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// A one-page PDF by Qt's writer (made in folder).
inline QByteArray pdfDocument(const QString &folder)
{
    const QString path = folder + QStringLiteral("/doc.pdf");
    {
        QPdfWriter w(path);
        QPainter p(&w);
        p.drawText(200, 200, QStringLiteral("a page"));
    }
    return readAll(path);
}

// The three-second H.264 clip we made for the sample card.
inline QByteArray clip()
{
    return readAll(QStringLiteral(LUMAFIND_SOURCE_DIR "/resources/sample/clip.mp4"));
}

// A stand-in lsblk in folder that prints the JSON file at jsonPath; returns its path. Given a
// gatePath, it is slow: it prints nothing until that file exists (or ten seconds passed).
inline QString standInLsblk(const QString &folder, const QString &jsonPath, const QString &gatePath = QString())
{
    const QString path = folder + QStringLiteral("/lsblk");
    const QByteArray wait = gatePath.isEmpty() ? QByteArray()
        : "i=0\nwhile [ ! -e '" + QFile::encodeName(gatePath) + "' ] && [ $i -lt 200 ]; do sleep 0.05; i=$((i+1)); done\n";
    if (!writeFile(path, "#!/bin/sh\n" + wait + "cat '" + QFile::encodeName(jsonPath) + "'\n"))
        return QString();
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

inline QString laptopFixture()
{
    return QStringLiteral(LUMAFIND_SOURCE_DIR "/tests/fixtures/lsblk-laptop.json");
}

// Random bytes, the same for the same seed.
inline QByteArray noise(int n, quint32 seed = 7)
{
    QByteArray b(n, 0);
    QRandomGenerator g(seed);
    for (char &c : b)
        c = char(g.bounded(256));
    return b;
}

// Numbers as a file stores them.
inline QByteArray le16(quint16 v) { QByteArray b(2, 0); qToLittleEndian(v, b.data()); return b; }
inline QByteArray le32(quint32 v) { QByteArray b(4, 0); qToLittleEndian(v, b.data()); return b; }
inline QByteArray le64(quint64 v) { QByteArray b(8, 0); qToLittleEndian(v, b.data()); return b; }
inline QByteArray be16(quint16 v) { QByteArray b(2, 0); qToBigEndian(v, b.data()); return b; }
inline QByteArray be32(quint32 v) { QByteArray b(4, 0); qToBigEndian(v, b.data()); return b; }
inline QByteArray be64(quint64 v) { QByteArray b(8, 0); qToBigEndian(v, b.data()); return b; }

// gzip, by zlib's own writer.
inline QByteArray gzipOf(const QByteArray &data, int level = 9)
{
    z_stream z{};
    deflateInit2(&z, level, Z_DEFLATED, 31, 9, Z_DEFAULT_STRATEGY);
    QByteArray out(int(deflateBound(&z, uLong(data.size()))) + 64, 0);
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
    z.avail_in = uInt(data.size());
    z.next_out = reinterpret_cast<Bytef *>(out.data());
    z.avail_out = uInt(out.size());
    deflate(&z, Z_FINISH);
    out.resize(int(z.total_out));
    deflateEnd(&z);
    return out;
}

// A camera JPEG whose colour-profile segment holds its preview (another JPEG) from byte 512 on:
// placed at a sector start, the preview's header starts a sector, so a pass takes it for a file
// of its own and cuts the outer one there.
inline QByteArray jpegWithPreviewAtSector()
{
    const QByteArray preview = picture("jpeg", 64, 48), main = picture("jpeg", 320, 240);
    const QByteArray app = QByteArray("ICC_PROFILE", 12) + QByteArray(512 - 6 - 12, 'p') + preview + QByteArray(300, 'q');
    return main.left(2) + QByteArray::fromHex("FFE2") + be16(quint16(app.size() + 2)) + app + main.mid(2);
}
