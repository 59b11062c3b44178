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

// A run that has not ended within timeoutMs is killed and counts as a failure (code -1). With
// fileBlocks, it may write no file larger than that many 512-byte blocks (ulimit -f).
inline Run cli(const QStringList &args, const QString &cwd = QString(), int timeoutMs = 60000, int fileBlocks = 0)
{
    QProcess p;
    if (!cwd.isEmpty())
        p.setWorkingDirectory(cwd);
    if (fileBlocks)
        p.start(QStringLiteral("/bin/sh"), QStringList{"-c", QStringLiteral("ulimit -f %1; exec \"$0\" \"$@\"").arg(fileBlocks), kCli} + args);
    else
        p.start(kCli, args);
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        return {-1, QString(), QStringLiteral("no answer within %1 ms").arg(timeoutMs)};
    }
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}
