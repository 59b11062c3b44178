#pragma once
// A ZIP archive with stored (uncompressed) members, written by hand: the sample card's
// archive, and archives the tests build.
#include <QByteArray>
#include <QList>
#include <QPair>
#include <zlib.h>

inline QByteArray storedZip(const QList<QPair<QByteArray, QByteArray>> &members, const QByteArray &comment = QByteArray())
{
    QByteArray out, central;
    auto le16 = [](QByteArray &b, quint16 v) { b.append(char(v & 0xFF)).append(char(v >> 8)); };
    auto le32 = [&](QByteArray &b, quint32 v) {
        le16(b, quint16(v & 0xFFFF));
        le16(b, quint16(v >> 16));
    };
    for (const auto &[name, data] : members) {
        const quint32 crc = quint32(crc32(0, reinterpret_cast<const Bytef *>(data.constData()), uInt(data.size())));
        const quint32 offset = quint32(out.size());
        le32(out, 0x04034b50);
        for (quint16 v : {quint16(10), quint16(0), quint16(0), quint16(0), quint16(0x5A21)})
            le16(out, v);
        le32(out, crc);
        le32(out, quint32(data.size()));
        le32(out, quint32(data.size()));
        le16(out, quint16(name.size()));
        le16(out, 0);
        out += name;
        out += data;
        le32(central, 0x02014b50);
        for (quint16 v : {quint16(20), quint16(10), quint16(0), quint16(0), quint16(0), quint16(0x5A21)})
            le16(central, v);
        le32(central, crc);
        le32(central, quint32(data.size()));
        le32(central, quint32(data.size()));
        for (quint16 v : {quint16(name.size()), quint16(0), quint16(0), quint16(0), quint16(0)})
            le16(central, v);
        le32(central, 0);
        le32(central, offset);
        central += name;
    }
    const quint32 centralOffset = quint32(out.size());
    out += central;
    le32(out, 0x06054b50);
    for (quint16 v : {quint16(0), quint16(0), quint16(members.size()), quint16(members.size())})
        le16(out, v);
    le32(out, quint32(central.size()));
    le32(out, centralOffset);
    le16(out, quint16(comment.size()));
    out += comment;
    return out;
}
