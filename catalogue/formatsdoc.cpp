#include "formatsdoc.h"

#include "catalogue/signatures.h"

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
                          "18874368 bytes per found file, and saving follows the format's own length where it has one.\n");
    SignatureReader reader;
    for (const DatabaseFile &db : kDatabaseFiles) {
        QStringList records;
        reader.load(resourceDir, QString::fromLatin1(db.name), records);
        const QString name = QString::fromLatin1(db.name).mid(1);
        out += QStringLiteral("\n## %1 (%2, %3 records)\n\n").arg(name, QString::fromLatin1(db.title)).arg(recordCount(records));
        out += QStringLiteral("| Type | Header | Position | Limit (bytes) | Description |\n|---|---|---|---:|---|\n");
        for (const FormatLine &l : formatLines(name, records))
            out += QStringLiteral("| %1 | `%2` | %3 | %4 | %5 |\n").arg(l.extension, l.header, l.position, l.limit, l.description);
    }
    return out;
}

} // namespace lumafind
