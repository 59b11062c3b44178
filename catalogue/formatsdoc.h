#pragma once
#include <QString>
#include <QStringList>

namespace lumafind {

// One line per record of a database, for resources/FORMATS.md and `lumafind-cli formats`.
struct FormatLine {
    QString extension, header, position, limit, description, database;
};
QList<FormatLine> formatLines(const QString &databaseName, const QStringList &records);

// The whole FORMATS.md text for the six databases found in resourceDir.
QString formatsMarkdown(const QString &resourceDir);

} // namespace lumafind
