#include "samemedium.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

namespace lumafind {

namespace {

QString readLine(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromLocal8Bit(f.readAll()).trimmed();
}

// The sysfs name of a block device given its "major:minor".
QString nameForDevNumber(const QString &majmin, const BlockLayout &layout)
{
    const QDir dir(layout.sysClassBlock);
    for (const QString &name : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System))
        if (readLine(dir.filePath(name + QStringLiteral("/dev"))) == majmin)
            return name;
    return QString();
}

// The sysfs name of a device path: /dev/sdb1 -> sdb1, /dev/mapper/x -> dm-0.
QString nameForDevicePath(const QString &path)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return QFileInfo(canonical.isEmpty() ? path : canonical).fileName();
}

void collect(const QString &name, const BlockLayout &layout, QSet<QString> &out, int depth)
{
    if (name.isEmpty() || depth > 16 || out.contains(name))
        return;
    const QString dir = layout.sysClassBlock + QLatin1Char('/') + name;
    // A loop device stands on its backing file.
    const QString backing = readLine(dir + QStringLiteral("/loop/backing_file"));
    if (!backing.isEmpty())
        out.insert(QStringLiteral("file:") + QFileInfo(backing).absoluteFilePath());
    // A mapped device (LUKS, LVM, RAID) stands on its slaves.
    const QStringList slaves = QDir(dir + QStringLiteral("/slaves")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System);
    for (const QString &s : slaves)
        collect(s, layout, out, depth + 1);
    // A partition stands on its whole disk: the folder that holds it in sysfs.
    if (QFile::exists(dir + QStringLiteral("/partition"))) {
        const QString real = QFileInfo(dir).canonicalFilePath();
        collect(QFileInfo(QFileInfo(real).absolutePath()).fileName(), layout, out, depth + 1);
        return;
    }
    if (slaves.isEmpty() && backing.isEmpty())
        out.insert(name);  // a whole disk
}

struct Mount {
    QString point, majmin, source;
};

// The mount that holds path: the longest mount point that is a prefix of it.
Mount mountOf(const QString &path, const BlockLayout &layout)
{
    QFile f(layout.mountinfo);
    Mount best;
    if (!f.open(QIODevice::ReadOnly))
        return best;
    for (const QByteArray &line : f.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        const int dash = int(fields.indexOf("-"));
        if (fields.size() < 10 || dash < 6 || dash + 2 >= fields.size())
            continue;
        // Mount points escape blanks as \040.
        const QString point = QString::fromLocal8Bit(fields.at(4)).replace(QStringLiteral("\\040"), QStringLiteral(" "));
        const bool inside = path == point || point == QLatin1String("/")
                            || path.startsWith(point.endsWith(QLatin1Char('/')) ? point : point + QLatin1Char('/'));
        if (inside && point.size() >= best.point.size())
            best = {point, QString::fromLatin1(fields.at(2)), QString::fromLocal8Bit(fields.at(dash + 2))};
    }
    return best;
}

} // namespace

QStringList physicalBacking(const QString &blockName, const BlockLayout &layout)
{
    QSet<QString> out;
    collect(blockName, layout, out, 0);
    QStringList list(out.begin(), out.end());
    list.sort();
    return list;
}

bool folderOnMedium(const QString &folder, const QString &medium, QString *why, const BlockLayout &layout)
{
    QFileInfo at(QDir(folder).absolutePath());
    while (!at.exists() && at.absoluteFilePath() != QLatin1String("/"))
        at = QFileInfo(at.absolutePath());
    const QString path = at.canonicalFilePath().isEmpty() ? at.absoluteFilePath() : at.canonicalFilePath();
    const Mount m = mountOf(path, layout);
    if (m.point.isEmpty())
        return false;
    QString folderDevice = m.source.startsWith(QLatin1String("/dev/")) ? nameForDevicePath(m.source) : QString();
    if (folderDevice.isEmpty() || !QFile::exists(layout.sysClassBlock + QLatin1Char('/') + folderDevice))
        folderDevice = nameForDevNumber(m.majmin, layout);
    if (folderDevice.isEmpty())
        return false;  // not on a block device (tmpfs, network): cannot be the medium
    const QSet<QString> under = [&] {
        const QStringList l = physicalBacking(folderDevice, layout);
        return QSet<QString>(l.begin(), l.end());
    }();

    QSet<QString> target;
    const QFileInfo mediumInfo(medium);
    if (mediumInfo.isFile()) {
        target.insert(QStringLiteral("file:") + mediumInfo.absoluteFilePath());
    } else {
        const QStringList l = physicalBacking(nameForDevicePath(medium), layout);
        target = QSet<QString>(l.begin(), l.end());
    }
    for (const QString &t : target) {
        if (under.contains(t)) {
            if (why)
                *why = QStringLiteral("%1 is on %2, the medium being searched (%3). Writing there could overwrite the files "
                                      "you want back: choose a folder on another disk.")
                           .arg(folder, medium, t.startsWith(QLatin1String("file:")) ? QStringLiteral("a file system inside the image")
                                                                                       : QStringLiteral("disk ") + t);
            return true;
        }
    }
    return false;
}

} // namespace lumafind
