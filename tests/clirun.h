#pragma once
// lumafind-cli run as a user runs it: its status and what it printed.
#include <QProcess>
#include <QString>
#include <QStringList>

inline const QString kCli = QStringLiteral(LUMAFIND_BUILD_DIR "/bin/lumafind-cli");

struct Run {
    int code = -1;
    QString out, err;
};

// A run that has not ended within timeoutMs is killed and counts as a failure (code -1).
inline Run cli(const QStringList &args, const QString &cwd = QString(), int timeoutMs = 60000)
{
    QProcess p;
    if (!cwd.isEmpty())
        p.setWorkingDirectory(cwd);
    p.start(kCli, args);
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        return {-1, QString(), QStringLiteral("no answer within %1 ms").arg(timeoutMs)};
    }
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}
