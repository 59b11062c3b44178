#include "signatures.h"

#include "common/hex.h"

#include <QFile>
#include <QStringDecoder>

namespace lumafind {

const DatabaseFile kDatabaseFiles[6] = {
    {"/KovExt2.dll", "photos, General"},      {"/KovExt2Adv.dll", "photos, Thorough"},
    {"/KovVideo.dll", "videos, General"},     {"/KovVideoAdv.dll", "videos, Thorough"},
    {"/KovRaw.dll", "other files, General"},  {"/KovRawAdv.dll", "other files, Thorough"},
};

LoadStatus SignatureReader::load(const QString &resourceDir, const QString &fileName, QStringList &list)
{
    QFile file(resourceDir + fileName);
    if (!file.exists())
        return LoadStatus::Missing;
    if (!file.open(QIODevice::ReadOnly))
        return LoadStatus::Unreadable;
    const QByteArray raw = file.readAll();
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder.decode(raw);
    if (decoder.hasError())
        return LoadStatus::NotUtf8;
    const qsizetype before = list.size();
    parse(text, list);
    return list.size() > before ? LoadStatus::Loaded : LoadStatus::NoRecords;
}

void SignatureReader::parse(const QString &text, QStringList &list)
{
    const qsizetype recordStart = list.size();
    int count = 0;
    qsizetype currentRecordStart = recordStart;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        const qsizetype colon = line.indexOf(QLatin1Char(':'));
        if (colon < 0)
            continue;
        const QString label = line.left(colon + 1);
        QString value = line.mid(colon + 1).trimmed();
        if (label == QLatin1String("Header :"))
            pending_ = QString::asprintf("%d", hex2int(value.left(2)));
        const qsizetype dot = value.indexOf(QLatin1Char('.'));
        if (dot >= 0)
            value = value.mid(dot + 1).toUpper();
        if (count == 0)
            currentRecordStart = list.size();
        list.append(value);
        if (++count == 6) {
            list.append(pending_);
            pending_.clear();
            count = 0;
        }
    }
    if (count != 0) {
        // A file that ends inside a record: drop the partial record (and the header text it
        // set) so that every list holds whole seven-string records.
        list.erase(list.begin() + currentRecordStart, list.end());
        pending_.clear();
    }
}

DecodedHeader decodeHeader(const QStringList &list, qsizetype record)
{
    DecodedHeader h;
    const QString &hex = field(list, record, Header_Hex);
    const qsizetype len = hex.size() / 2;
    h.bytes.resize(len);
    for (qsizetype j = 0; j < len; ++j)
        h.bytes[j] = static_cast<char>(hex2int(hex.mid(2 * j, 2)));
    h.firstByte = static_cast<int>(leadingInt64(field(list, record, First_Byte)));
    const QString &pos = field(list, record, Header_Pos);
    if (len == 0) {
        h.kind = DecodedHeader::Never;
    } else if (pos == QLatin1String("1")) {
        h.kind = DecodedHeader::AtStart;
        h.offset = 0;
    } else if (pos == QLatin1String("nn")) {
        h.kind = DecodedHeader::Anywhere;
        h.offset = 0;
    } else {
        // Positions 1..507 (1-based) are tried; anything else, however large or negative,
        // is refused before arithmetic on it.
        const int64_t n = leadingInt64(pos);
        if (n < 1 || n > 507) {
            h.kind = DecodedHeader::Never;
        } else {
            h.kind = DecodedHeader::AtOffset;
            h.offset = static_cast<int>(n - 1);
        }
    }
    return h;
}

// Number of header bytes that agree with the sector from position p (stops at byte 512).
static int agreeing(const DecodedHeader &h, const unsigned char *b, int p)
{
    const int L = static_cast<int>(h.bytes.size());
    int m = 0;
    while (m < L && p + m < 512 && b[p + m] == static_cast<unsigned char>(h.bytes[m]))
        ++m;
    return m;
}

bool headerMatches(const DecodedHeader &h, const unsigned char *b)
{
    const int L = static_cast<int>(h.bytes.size());
    switch (h.kind) {
    case DecodedHeader::Never:
        return false;
    case DecodedHeader::AtStart:
    case DecodedHeader::AtOffset:
        return b[h.offset] == h.firstByte && agreeing(h, b, h.offset) == L;
    case DecodedHeader::Anywhere: {
        int p = 0;
        while (p < 512) {
            if (b[p] != h.firstByte)
                return false;
            const int m = agreeing(h, b, p);
            if (m == L)
                return true;
            p += m >= 1 ? m : 1;
        }
        return false;
    }
    }
    return false;
}

QString recordProblem(const QStringList &list, qsizetype record)
{
    const QString &hex = field(list, record, Header_Hex);
    if (hex.size() < 2)
        return QStringLiteral("header shorter than one byte");
    for (QChar c : hex)
        if (!c.isDigit() && !(c >= u'A' && c <= u'F') && !(c >= u'a' && c <= u'f'))
            return QStringLiteral("header holds a non-hex character");
    if (hex.size() % 2 != 0)
        return QStringLiteral("header has an odd number of digits");
    const DecodedHeader h = decodeHeader(list, record);
    if (field(list, record, First_Byte).isEmpty())
        return QStringLiteral("no \"Header :\" line");
    if (h.kind == DecodedHeader::Never)
        return QStringLiteral("position is not one the carving loops try");
    if (h.offset + h.bytes.size() > 512)  // at its position, or from the first byte for "nn"
        return QStringLiteral("header does not fit in the sector at its position");
    if (h.firstByte != static_cast<unsigned char>(h.bytes.at(0)))
        return QStringLiteral("first byte does not match the header");
    bool ok = false;
    const qlonglong size = field(list, record, Max_File_Size).toLongLong(&ok);
    if (!ok || size <= 512)
        return QStringLiteral("size limit is not a number above one sector");
    if (field(list, record, Ext_Name).isEmpty())
        return QStringLiteral("no extension");
    return QString();
}

} // namespace lumafind
