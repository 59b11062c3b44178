#pragma once
// A real file system (ext4, or exFAT through its FUSE driver) in an image file, attached to a
// loop device and mounted. Needs root, losetup and mount; whatever was set up is undone when it
// goes out of scope, whatever happened in between.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <unistd.h>

class LoopMount {
public:
    QString image;       // the image file
    QString device;      // /dev/loopN
    QString mountPoint;  // where it is mounted
    QString problem;     // why it could not be set up

    // Makes dir/card.img (sizeMiB), formats, attaches and mounts it on dir/card.
    bool setUp(const QString &dir, int sizeMiB = 16, const QString &fs = QStringLiteral("ext4"))
    {
        const bool exfat = fs == QLatin1String("exfat");
        if (::geteuid() != 0) {
            problem = QStringLiteral("needs root to attach a loop device and mount it");
            return false;
        }
        QDir().mkpath(dir);
        image = dir + QStringLiteral("/card.img");
        QFile f(image);
        if (!f.open(QIODevice::WriteOnly) || !f.resize(qint64(sizeMiB) << 20)) {
            problem = QStringLiteral("cannot make ") + image;
            return false;
        }
        f.close();
        QString out;
        if (!(exfat ? run(QStringLiteral("mkfs.exfat"), {image}) : run(QStringLiteral("mkfs.ext4"), {"-q", "-F", image})))
            return false;
        if (!run(QStringLiteral("losetup"), {"-f", "--show", image}, &out))
            return false;
        device = out.trimmed();
        const QString point = dir + QStringLiteral("/card");
        QDir().mkpath(point);
        if (!(exfat ? run(QStringLiteral("mount.exfat-fuse"), {device, point}) : run(QStringLiteral("mount"), {device, point})))
            return false;
        mountPoint = point;
        return true;
    }

    // The same, and folders of the card (relative to it, made when missing; empty: all of it)
    // bound at targets as well.
    bool setUp(const QString &dir, const QList<QPair<QString, QString>> &binds)
    {
        if (!setUp(dir))
            return false;
        for (const auto &[folder, target] : binds) {
            QDir().mkpath(mountPoint + folder);
            QDir().mkpath(target);
            if (!run(QStringLiteral("mount"), {"--bind", mountPoint + folder, target}))
                return false;
            binds_.prepend(target);
        }
        return true;
    }

    ~LoopMount()
    {
        for (const QString &b : binds_)
            unmount(b);
        if (!mountPoint.isEmpty())
            unmount(mountPoint);
        if (!device.isEmpty())
            run(QStringLiteral("losetup"), {"-d", device});
    }

    bool run(const QString &program, const QStringList &args, QString *out = nullptr)
    {
        QProcess p;
        p.start(program, args);
        if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
            problem = QStringLiteral("%1 %2 failed: %3")
                          .arg(program, args.join(QLatin1Char(' ')),
                               p.error() == QProcess::FailedToStart ? QStringLiteral("not installed")
                                                                    : QString::fromLocal8Bit(p.readAllStandardError()).trimmed());
            return false;
        }
        if (out)
            *out = QString::fromLocal8Bit(p.readAllStandardOutput());
        return true;
    }

private:
    QStringList binds_;

    void unmount(const QString &point)
    {
        if (!run(QStringLiteral("umount"), {point}))
            run(QStringLiteral("umount"), {"-l", point});  // still busy: detach it all the same
    }
};
