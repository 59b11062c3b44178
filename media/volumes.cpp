#include "volumes.h"

#include "common/hex.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace lumafind {

QString getMPSize(const QString &bytesText)
{
    float f = bytesText.toFloat();
    const char *unit = "bytes";
    // Strictly greater: 1024 bytes stay "bytes". All divisions in single precision.
    if (f > 1024.0f) {
        f /= 1024.0f;
        unit = " KB";
        if (f > 1024.0f) {
            f /= 1024.0f;
            unit = " MB";
        }
        if (f > 1024.0f) {
            f /= 1024.0f;
            unit = " GB";
        }
        if (f > 1024.0f) {
            f /= 1024.0f;
            unit = " TB";
        }
    }
    return QString::asprintf("%.2f %s ", static_cast<double>(f), unit);
}

QString sectorsText(const QString &bytesText)
{
    const int64_t bytes = leadingInt64(bytesText);
    return QString::number(static_cast<unsigned long long>(bytes / 512));
}

QString fileSystemName(const QString &fstype)
{
    static const QHash<QString, QString> names = {
        {"vfat", "MS-DOS (FAT32)"}, {"msdos", "MS-DOS (FAT)"}, {"exfat", "ExFAT"}, {"ntfs", "NTFS"},
        {"ntfs3", "NTFS"}, {"ext2", "ext2"}, {"ext3", "ext3"}, {"ext4", "ext4"}, {"hfsplus", "Mac OS Extended"},
        {"hfs", "Mac OS Standard"}, {"apfs", "APFS"}, {"btrfs", "Btrfs"}, {"xfs", "XFS"}, {"f2fs", "F2FS"},
        {"iso9660", "ISO 9660"}, {"udf", "UDF"}, {"crypto_LUKS", "Encrypted (LUKS)"},
    };
    return names.value(fstype, fstype);
}

QString udevOpticalMedia(const QString &devicePath)
{
    struct stat st {};
    if (::stat(QFile::encodeName(devicePath).constData(), &st) != 0 || !S_ISBLK(st.st_mode))
        return QString();
    QFile db(QStringLiteral("/run/udev/data/b%1:%2").arg(major(st.st_rdev)).arg(minor(st.st_rdev)));
    if (!db.open(QIODevice::ReadOnly))
        return QString();
    const QByteArray text = db.readAll();
    if (text.contains("E:ID_CDROM_MEDIA_BD"))
        return QStringLiteral("BD");
    if (text.contains("E:ID_CDROM_MEDIA_DVD"))
        return QStringLiteral("DVD");
    if (text.contains("E:ID_CDROM_MEDIA_CD"))
        return QStringLiteral("CD");
    return QString();
}

namespace {

bool flag(const QJsonValue &v)
{
    if (v.isBool())
        return v.toBool();
    if (v.isDouble())
        return v.toInt() != 0;
    const QString s = v.toString();
    return s == QLatin1String("1") || s == QLatin1String("true");
}

QString sizeText(const QJsonValue &v)
{
    if (v.isDouble())
        return QString::number(static_cast<qulonglong>(v.toDouble()));
    return v.toString();
}

} // namespace

bool find_disk_info(const QJsonObject &d, const QString &parent, MyDataObject *row)
{
    const QString name = d.value(QLatin1String("name")).toString();
    if (name.isEmpty())
        return false;  // a missing or empty identifier adds no row
    QString volume = d.value(QLatin1String("label")).toString();
    if (volume.isEmpty())
        volume = QStringLiteral("Untitled");
    const QString fstype = d.value(QLatin1String("fstype")).toString();
    const QString size = sizeText(d.value(QLatin1String("size")));
    const QString path = d.value(QLatin1String("path")).toString();
    const QString type = d.value(QLatin1String("type")).toString();
    const QString fs = !fstype.isEmpty() ? fileSystemName(fstype)
                       : (type == QLatin1String("disk") || type == QLatin1String("rom")) ? QStringLiteral("Whole disk")
                                                                                          : QStringLiteral("Unknown");
    *row = MyDataObject(name, volume, fs, getMPSize(size), parent, sectorsText(size), path);
    return true;
}

namespace {

struct Walker {
    const OpticalMediaProbe &probe;
    QList<MyDataObject> rows;

    void addRow(const QJsonObject &d, const QString &parent)
    {
        MyDataObject row;
        if (find_disk_info(d, parent, &row))
            rows.append(row);
    }

    // A disk (or optical drive) with its partitions and what is stacked on them.
    void visitDisk(const QJsonObject &d)
    {
        const QString type = d.value(QLatin1String("type")).toString();
        if (type == QLatin1String("loop"))
            return;  // disk images mounted through a loop device are not media
        bool removable = flag(d.value(QLatin1String("rm"))) || flag(d.value(QLatin1String("hotplug")));
        if (type == QLatin1String("rom")) {
            const QString path = d.value(QLatin1String("path")).toString();
            QString media = probe ? probe(path.isEmpty() ? QStringLiteral("/dev/") + d.value(QLatin1String("name")).toString() : path)
                                  : QString();
            // Without udev's word, a disc that fits on a CD (at most 900 MB) is taken for one.
            if (media.isEmpty() && leadingInt64(sizeText(d.value(QLatin1String("size")))) <= 900000000)
                media = QStringLiteral("CD");
            if (media.contains(QLatin1String("CD")))
                return;
            removable = true;
        }
        if (!removable)
            return;
        const QString diskName = d.value(QLatin1String("name")).toString();
        const QJsonArray children = d.value(QLatin1String("children")).toArray();
        for (const QJsonValue &c : children)
            visitVolume(c.toObject(), diskName);
        addRow(d, diskName);
    }

    // A partition of a removable disk: listed mounted or not; a mapped device stacked on it
    // (LUKS, LVM) is listed when it is mounted.
    void visitVolume(const QJsonObject &v, const QString &diskName)
    {
        const QString type = v.value(QLatin1String("type")).toString();
        const bool mounted = !v.value(QLatin1String("mountpoint")).toString().isEmpty();
        if (type == QLatin1String("part") || mounted) {
            QString parent = v.value(QLatin1String("pkname")).toString();
            if (parent.isEmpty())
                parent = diskName;
            addRow(v, type == QLatin1String("part") ? parent : diskName);
        }
        for (const QJsonValue &c : v.value(QLatin1String("children")).toArray())
            visitVolume(c.toObject(), diskName);
    }
};

} // namespace

QList<MyDataObject> mediaRowsFromLsblk(const QByteArray &json, const OpticalMediaProbe &probe)
{
    Walker w{probe, {}};
    const QJsonArray devices = QJsonDocument::fromJson(json).object().value(QLatin1String("blockdevices")).toArray();
    for (const QJsonValue &d : devices)
        w.visitDisk(d.toObject());
    return w.rows;
}

QByteArray runLsblk()
{
    QString program = qEnvironmentVariable("LUMAFIND_LSBLK");
    if (program.isEmpty())
        program = QStringLiteral("/usr/bin/lsblk");
    QProcess p;
    p.start(program, {QStringLiteral("--json"), QStringLiteral("--bytes"), QStringLiteral("-o"),
                      QStringLiteral("NAME,PATH,SIZE,LABEL,FSTYPE,PKNAME,RM,HOTPLUG,TRAN,TYPE,MOUNTPOINT")});
    if (!p.waitForFinished(15000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return QByteArray();
    return p.readAllStandardOutput();
}

QList<MyDataObject> getVolumeToFSGetInfo()
{
    return mediaRowsFromLsblk(runLsblk());
}

MyDataObject diskImageRow(const QString &path, QString *error)
{
    const QFileInfo info(path);
    const QString absolute = info.absoluteFilePath();
    QString problem;
    if (!info.exists())
        problem = QStringLiteral("%1 does not exist.").arg(absolute);
    else if (!info.isFile())
        problem = QStringLiteral("%1 is not a disk image file.").arg(absolute);
    else if (!info.isReadable())
        problem = QStringLiteral("%1 cannot be read (permission denied).").arg(absolute);
    else if (info.size() == 0)
        problem = QStringLiteral("%1: the image is empty.").arg(absolute);
    if (!problem.isEmpty()) {
        if (error)
            *error = problem;
        return MyDataObject();
    }
    const QString size = QString::number(info.size());
    return MyDataObject(absolute, info.fileName(), QStringLiteral("Disk Image"), getMPSize(size), QString(),
                        sectorsText(size), absolute);
}

} // namespace lumafind
