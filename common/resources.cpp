#include "resources.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#ifndef LUMAFIND_INSTALL_DATADIR
#define LUMAFIND_INSTALL_DATADIR "/usr/local/share/lumafind"
#endif

namespace lumafind {

QString resourceDir()
{
    const QString env = qEnvironmentVariable("LUMAFIND_RESOURCES");
    if (!env.isEmpty())
        return QDir::cleanPath(QDir(env).absolutePath());
    if (QCoreApplication::instance()) {
        const QString beside = QDir::cleanPath(QCoreApplication::applicationDirPath()
                                               + QStringLiteral("/../share/lumafind"));
        if (QFileInfo(beside).isDir())
            return beside;
    }
    return QStringLiteral(LUMAFIND_INSTALL_DATADIR);
}

} // namespace lumafind
