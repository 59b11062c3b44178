#include "naming.h"

#include "common/hex.h"

namespace lumafind {

QString zeroFilled(uint64_t n)
{
    const QString digits = QString::number(static_cast<qulonglong>(n));
    return digits.size() < 5 ? QString(5 - digits.size(), QLatin1Char('0')) + digits : digits;
}

QString Generate_File_Name(uint64_t n, const QString &prefix, const QString &extension, int mode,
                           const FoundFilesList &found)
{
    if (mode != 0) {
        for (const FoundFilesRow &row : found) {
            if (row.FileTypes_Hidden == prefix) {
                n = static_cast<uint64_t>(leadingInt64(row.NoOfFile)) + 1;
                break;
            }
        }
    }
    return prefix + zeroFilled(n) + QLatin1Char('.') + extension;
}

QString Generate_File_UID_Num(uint64_t n, bool thorough, const QString &extension)
{
    return (thorough ? QStringLiteral("THD") : QStringLiteral("GND")) + zeroFilled(n) + QLatin1Char('.') + extension;
}

} // namespace lumafind
