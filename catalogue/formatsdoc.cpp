#include "formatsdoc.h"

#include "catalogue/signatures.h"
#include "results/extents/extent.h"

namespace lumafind {

QList<FormatLine> formatLines(const QString &databaseName, const QStringList &records)
{
    QList<FormatLine> lines;
    for (qsizetype r = 0; r < recordCount(records); ++r) {
        const QString pos = field(records, r, Header_Pos);
        lines.append({field(records, r, Ext_Name), field(records, r, Header_Hex),
                      pos == QLatin1String("1")    ? QStringLiteral("byte 1")
                      : pos == QLatin1String("nn") ? QStringLiteral("anywhere")
                                                   : QStringLiteral("byte ") + pos,
                      field(records, r, Max_File_Size), field(records, r, Ext_Descp), databaseName});
    }
    return lines;
}

QString formatsMarkdown(const QString &resourceDir)
{
    QString out;
    out += QStringLiteral("# Supported formats\n\n"
                          "Generated from the six signature databases by `lumafind-formats`; do not edit by hand.\n"
                          "A header is given in hexadecimal and stands at the given byte of a 512-byte sector.\n"
                          "Photo mode keeps a file up to its limit; video and other-file mode carve at most\n"
                          "18874368 bytes per found file, and saving follows the format's own length where it has one.\n"
                          "\"End found by\" says where a saved file ends: where its format's structure says, or, for a\n"
                          "format whose end cannot be read, the range the scan carved (cut where the next found file starts).\n");
    SignatureReader reader;
    for (const DatabaseFile &db : kDatabaseFiles) {
        QStringList records;
        reader.load(resourceDir, QString::fromLatin1(db.name), records);
        const QString name = QString::fromLatin1(db.name).mid(1);
        out += QStringLiteral("\n## %1 (%2, %3 records)\n\n").arg(name, QString::fromLatin1(db.title)).arg(recordCount(records));
        out += QStringLiteral("| Type | Header | Position | Limit (bytes) | Description | End found by |\n|---|---|---|---:|---|---|\n");
        for (const FormatLine &l : formatLines(name, records))
            out += QStringLiteral("| %1 | `%2` | %3 | %4 | %5 | %6 |\n")
                       .arg(l.extension, l.header, l.position, l.limit, l.description, endFoundBy(l.extension));
    }
    return out;
}

} // namespace lumafind
