#include "MyDataObject.h"

namespace lumafind {

QString MyDataObject::devicePath() const
{
    if (!devicePath_.isEmpty())
        return devicePath_;
    if (nsStrDiskIdentifier_.startsWith(QLatin1Char('/')))
        return nsStrDiskIdentifier_;
    return QStringLiteral("/dev/") + nsStrDiskIdentifier_;
}

QString MyDataObject::column(const QString &identifier) const
{
    if (identifier == QLatin1String("Collumn1")) return nsStrDiskIdentifier_;
    if (identifier == QLatin1String("Collumn2")) return nsStrVolName_;
    if (identifier == QLatin1String("Collumn3")) return nsStrFileSystem_;
    if (identifier == QLatin1String("Collumn4")) return nsStrSize_;
    if (identifier == QLatin1String("Collumn5")) return nsStrParentDisk_;
    if (identifier == QLatin1String("Collumn6")) return nsStrSectors_;
    return QString();
}

} // namespace lumafind
