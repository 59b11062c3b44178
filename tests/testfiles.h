#pragma once
// Files the tests make or read: pictures from Qt's writers, the committed sample clip, and
// reading a file back.
#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QPainter>

// A picture with some structure (so it compresses like a photo), encoded by Qt.
inline QByteArray picture(const char *format, int w, int h)
{
    QImage img(w, h, QImage::Format_RGB32);
    QPainter p(&img);
    for (int y = 0; y < h; y += 8)
        for (int x = 0; x < w; x += 8)
            p.fillRect(x, y, 8, 8, QColor::fromHsv((x * 3 + y) % 360, 200, 200));
    p.end();
    QByteArray out;
    QBuffer b(&out);
    b.open(QIODevice::WriteOnly);
    img.save(&b, format);
    return out;
}

inline QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The three-second H.264 clip we made for the sample card.
inline QByteArray clip()
{
    return readAll(QStringLiteral(LUMAFIND_SOURCE_DIR "/resources/sample/clip.mp4"));
}

// A stand-in lsblk in folder that prints the JSON file at jsonPath; returns its path.
inline QString standInLsblk(const QString &folder, const QString &jsonPath)
{
    QFile script(folder + QStringLiteral("/lsblk"));
    if (!script.open(QIODevice::WriteOnly))
        return QString();
    script.write("#!/bin/sh\ncat '" + QFile::encodeName(jsonPath) + "'\n");
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return script.fileName();
}

// The same, slow: it prints nothing until the file at gatePath exists (or ten seconds passed).
inline QString gatedLsblk(const QString &folder, const QString &jsonPath, const QString &gatePath)
{
    QFile script(folder + QStringLiteral("/lsblk"));
    if (!script.open(QIODevice::WriteOnly))
        return QString();
    script.write("#!/bin/sh\ni=0\nwhile [ ! -e '" + QFile::encodeName(gatePath) + "' ] && [ $i -lt 200 ]; do sleep 0.05; i=$((i+1)); done\n"
                 "cat '" + QFile::encodeName(jsonPath) + "'\n");
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return script.fileName();
}

inline QString laptopFixture()
{
    return QStringLiteral(LUMAFIND_SOURCE_DIR "/tests/fixtures/lsblk-laptop.json");
}
