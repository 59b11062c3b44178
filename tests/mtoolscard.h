#pragma once
// A FAT16 card image written by the system's own tools (mkfs.fat and mtools), for the tests of
// what a card's directories remember.
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QList>
#include <QPair>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

const qint64 kTime = 1620123630;  // 2021-05-04 10:20:30 UTC: even seconds, as FAT keeps them

inline QString tool(const char *name)
{
    return QStandardPaths::findExecutable(QString::fromLatin1(name), {"/usr/sbin", "/sbin", "/usr/bin", "/bin"});
}

// A FAT16 card image written with mtools (first-fit, 2 KiB clusters), files dated kTime.
class MtoolsCard {
public:
    QString image, problem;

    // FAT16 of 16 MiB in 2 KiB clusters, or FAT32 of 40 MiB in 512-byte clusters.
    bool make(const QString &dir, bool fat32 = false)
    {
        QDir().mkpath(dir);
        image = dir + QStringLiteral("/fat.img");
        stage_ = dir + QStringLiteral("/stage");
        QDir().mkpath(stage_);
        if (tool("mkfs.fat").isEmpty() || tool("mcopy").isEmpty()) {
            problem = QStringLiteral("needs mkfs.fat (dosfstools) and mtools");
            return false;
        }
        return fat32 ? run(tool("mkfs.fat"), {"-C", "-F", "32", "-s", "1", image, "40960"})
                     : run(tool("mkfs.fat"), {"-C", "-F", "16", "-s", "4", image, "16384"});
    }
    bool mkdir(const QString &path) { return run(tool("mmd"), {"-i", image, "::" + path}); }
    bool write(const QString &path, const QByteArray &bytes, qint64 when = kTime)
    {
        const QString f = stage_ + QStringLiteral("/file");
        QFile out(f);
        if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size() || !out.flush())
            return false;
        out.setFileTime(QDateTime::fromSecsSinceEpoch(when, Qt::UTC), QFileDevice::FileModificationTime);
        out.close();
        return run(tool("mcopy"), {"-m", "-i", image, f, "::" + path});
    }
    bool remove(const QString &path) { return run(tool("mdel"), {"-i", image, "::" + path}); }
    // Its clusters as mtools allocated them: one pair (first, last) per run.
    QList<QPair<int, int>> runs(const QString &path)
    {
        QString out;
        QList<QPair<int, int>> r;
        if (!run(tool("mshowfat"), {"-i", image, "::" + path}, &out))
            return r;
        static const QRegularExpression re(QStringLiteral("<(\\d+)(?:-(\\d+))?>"));
        for (auto m = re.globalMatch(out); m.hasNext();) {
            const auto x = m.next();
            r.append({x.captured(1).toInt(), x.captured(2).isEmpty() ? x.captured(1).toInt() : x.captured(2).toInt()});
        }
        return r;
    }

    bool run(const QString &program, const QStringList &args, QString *out = nullptr)
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("MTOOLS_SKIP_CHECK"), QStringLiteral("1"));
        env.insert(QStringLiteral("TZ"), QStringLiteral("UTC"));  // the times written are the ones given
        p.setProcessEnvironment(env);
        p.start(program, args);
        if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
            problem = QStringLiteral("%1 %2: %3").arg(program, args.join(' '), QString::fromLocal8Bit(p.readAllStandardError()));
            return false;
        }
        if (out)
            *out = QString::fromLocal8Bit(p.readAllStandardOutput());
        return true;
    }

private:
    QString stage_;
};
