#include "samemedium.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <cerrno>
#include <fcntl.h>
#include <linux/loop.h>
#include <sys/ioctl.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace lumafind {

namespace {

constexpr int kMaxDepth = 16;  // device stacks deeper than this are not real

QString readLine(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromLocal8Bit(f.read(4096)).trimmed();
}

QString majMin(dev_t d)
{
    return QStringLiteral("%1:%2").arg(major(d)).arg(minor(d));
}

bool parseMajMin(const QString &text, dev_t *out)
{
    const int colon = int(text.indexOf(QLatin1Char(':')));
    if (colon <= 0)
        return false;
    bool okMaj = false, okMin = false;
    const uint maj = text.left(colon).toUInt(&okMaj);
    const uint min = text.mid(colon + 1).toUInt(&okMin);
    if (!okMaj || !okMin)
        return false;
    *out = makedev(maj, min);
    return true;
}

QString diskKey(dev_t d)
{
    return QStringLiteral("disk ") + majMin(d);
}

QString fileKey(dev_t dev, ino_t ino)
{
    return QStringLiteral("file %1/%2").arg(majMin(dev)).arg(qulonglong(ino));
}

struct FileId {
    dev_t dev = 0;
    ino_t ino = 0;
    QString path;
};

} // namespace

// Walks the block-device layout from one device down to what holds its sectors.
class MediumCheck {
public:
    explicit MediumCheck(const BlockLayout &layout) : l(layout) {}

    // What a file system on fsDevice stands on (key -> label); a device node's own stack with
    // blockRoots().
    QHash<QString, QString> fileSystemRoots(dev_t fsDevice)
    {
        QHash<QString, QString> out;
        visited_.clear();
        addFileSystem(fsDevice, true, out, 0);
        return out;
    }
    QHash<QString, QString> blockRoots(dev_t rdev, bool followBacking)
    {
        QHash<QString, QString> out;
        visited_.clear();
        addBlock(rdev, followBacking, out, 0);
        return out;
    }

    // The label of a root the medium shares with one side, or empty.
    static QString shared(const QHash<QString, QString> &side, const MediumIdentity &m)
    {
        for (auto it = side.cbegin(); it != side.cend(); ++it)
            if (m.roots_.contains(it.key()))
                return m.roots_.value(it.key());
        return QString();
    }

    // What a stat of an existing folder or file says: "itself" when it is the medium (the image
    // by its inode, or a device node sharing its sectors), "on" when its file system is on it.
    enum Verdict { Off, On, Itself };
    Verdict judge(const struct stat &st, const MediumIdentity &m, QString *label)
    {
        // The image, or the file behind a loop device being searched.
        if (S_ISREG(st.st_mode) && m.roots_.contains(fileKey(st.st_dev, st.st_ino))) {
            *label = m.roots_.value(fileKey(st.st_dev, st.st_ino));
            return Itself;
        }
        if (S_ISBLK(st.st_mode)) {
            *label = shared(blockRoots(st.st_rdev, true), m);
            if (!label->isEmpty())
                return Itself;
        }
        *label = shared(fileSystemRoots(st.st_dev), m);
        return label->isEmpty() ? Off : On;
    }

private:
    const BlockLayout &l;
    QSet<QString> visited_;

    // The sysfs folder of a block device by number: /sys/dev/block/MAJ:MIN, else a search of
    // /sys/class/block for it. Empty when the number is not a block device.
    QString sysDir(dev_t d)
    {
        const QString mm = majMin(d);
        if (!l.sysDevBlock.isEmpty()) {
            const QString c = QFileInfo(l.sysDevBlock + QLatin1Char('/') + mm).canonicalFilePath();
            if (!c.isEmpty() && readLine(c + QStringLiteral("/dev")) == mm)
                return c;
        }
        const QDir dir(l.sysClassBlock);
        for (const QString &name : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System))
            if (readLine(dir.filePath(name + QStringLiteral("/dev"))) == mm)
                return QFileInfo(dir.filePath(name)).canonicalFilePath();
        return QString();
    }

    // The device number a mount source names (/dev/sda3, /dev/mapper/x): by its device node,
    // else by its name in sysfs.
    bool sourceDevice(const QString &source, dev_t *out)
    {
        if (!source.startsWith(QLatin1Char('/')))
            return false;
        struct stat st {};
        if (::stat(QFile::encodeName(source).constData(), &st) == 0) {
            if (!S_ISBLK(st.st_mode))
                return false;
            *out = st.st_rdev;
            return true;
        }
        if (!source.startsWith(QLatin1String("/dev/")))
            return false;
        const QString name = QFileInfo(source).fileName();
        return parseMajMin(readLine(l.sysClassBlock + QLatin1Char('/') + name + QStringLiteral("/dev")), out);
    }

    // A file system's device: a block device, or an anonymous one (btrfs, FUSE) whose mount
    // source in mountinfo names the block device.
    void addFileSystem(dev_t fsDevice, bool followBacking, QHash<QString, QString> &out, int depth)
    {
        if (!sysDir(fsDevice).isEmpty()) {
            addBlock(fsDevice, followBacking, out, depth);
            return;
        }
        bool any = false;
        QFile f(l.mountinfo);
        if (f.open(QIODevice::ReadOnly)) {
            const QString mm = majMin(fsDevice);
            QSet<QString> sources;
            for (const QByteArray &line : f.readAll().split('\n')) {
                const QList<QByteArray> fields = line.split(' ');
                const int dash = int(fields.indexOf("-"));
                if (fields.size() < 10 || dash < 6 || dash + 2 >= fields.size() || QString::fromLatin1(fields.at(2)) != mm)
                    continue;
                sources.insert(QString::fromLocal8Bit(fields.at(dash + 2)).replace(QStringLiteral("\\040"), QStringLiteral(" ")));
            }
            for (const QString &s : sources) {
                dev_t d = 0;
                if (sourceDevice(s, &d)) {
                    addBlock(d, followBacking, out, depth);
                    any = true;
                }
            }
        }
        if (!any && major(fsDevice) != 0)
            out.insert(diskKey(fsDevice), QStringLiteral("device ") + majMin(fsDevice));
    }

    // A loop device's backing file by device and inode: asked of the kernel when the loop
    // device can be opened, else the path sysfs gives, looked up.
    bool loopBacking(const QString &dir, dev_t dev, FileId *out)
    {
        const QString sysPath = readLine(dir + QStringLiteral("/loop/backing_file"));
        if (!l.devDir.isEmpty()) {
            for (const QString &node : {l.devDir + QLatin1Char('/') + QFileInfo(dir).fileName(),
                                        l.devDir + QStringLiteral("/block/") + majMin(dev)}) {
                const int fd = ::open(QFile::encodeName(node).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
                if (fd < 0)
                    continue;
                struct stat st {};
                loop_info64 info {};
                const bool ok = fstat(fd, &st) == 0 && S_ISBLK(st.st_mode) && st.st_rdev == dev
                                && ioctl(fd, LOOP_GET_STATUS64, &info) == 0;
                ::close(fd);
                if (ok) {
                    *out = {dev_t(info.lo_device), ino_t(info.lo_inode), sysPath};
                    return true;
                }
            }
        }
        // A deleted backing file's path now names nothing, or something else.
        if (sysPath.isEmpty() || sysPath.endsWith(QLatin1String(" (deleted)")))
            return false;
        struct stat st {};
        if (::stat(QFile::encodeName(sysPath).constData(), &st) != 0 || !S_ISREG(st.st_mode))
            return false;
        *out = {st.st_dev, st.st_ino, sysPath};
        return true;
    }

    // followBacking: a loop device also stands on the disk that holds its backing file. Writing
    // into a file system on a loop device writes into that disk; but the medium a loop device
    // is, is the image alone (the rest of that disk is not being searched).
    void addBlock(dev_t dev, bool followBacking, QHash<QString, QString> &out, int depth)
    {
        const QString dir = sysDir(dev);
        if (dir.isEmpty()) {
            out.insert(diskKey(dev), QStringLiteral("device ") + majMin(dev));
            return;
        }
        addSysDir(dir, dev, followBacking, out, depth);
    }

    void addSysDir(const QString &dir, dev_t dev, bool followBacking, QHash<QString, QString> &out, int depth)
    {
        if (depth > kMaxDepth || visited_.contains(dir))
            return;
        visited_.insert(dir);
        const QString name = QFileInfo(dir).fileName();
        if (QFileInfo::exists(dir + QStringLiteral("/loop"))) {
            FileId backing;
            if (loopBacking(dir, dev, &backing)) {
                out.insert(fileKey(backing.dev, backing.ino),
                           backing.path.isEmpty() ? QStringLiteral("the image behind %1").arg(name) : QStringLiteral("the image ") + backing.path);
                if (followBacking)
                    addFileSystem(backing.dev, true, out, depth + 1);
                return;
            }
        }
        // A mapped device (LUKS, LVM, RAID) stands on its slaves.
        const QDir slavesDir(dir + QStringLiteral("/slaves"));
        const QStringList slaves = slavesDir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System);
        bool anySlave = false;
        for (const QString &s : slaves) {
            const QString sd = QFileInfo(slavesDir.filePath(s)).canonicalFilePath();
            dev_t sdev = 0;
            if (!sd.isEmpty() && parseMajMin(readLine(sd + QStringLiteral("/dev")), &sdev)) {
                addSysDir(sd, sdev, followBacking, out, depth + 1);
                anySlave = true;
            }
        }
        if (anySlave)
            return;
        // A partition stands on its whole disk: the folder that holds it in sysfs.
        if (QFile::exists(dir + QStringLiteral("/partition"))) {
            const QString parent = QFileInfo(dir).absolutePath();
            dev_t pdev = 0;
            if (parseMajMin(readLine(parent + QStringLiteral("/dev")), &pdev)) {
                addSysDir(parent, pdev, followBacking, out, depth + 1);
                return;
            }
        }
        out.insert(diskKey(dev), QStringLiteral("disk ") + name);
    }
};

QStringList MediumIdentity::roots() const
{
    QStringList list = roots_.keys();
    for (QString &k : list)
        if (k.startsWith(QLatin1String("disk ")))
            k = roots_.value(k);  // "disk sdb" reads better than the number
    list.sort();
    return list;
}

MediumIdentity MediumIdentity::ofImage(dev_t dev, ino_t ino, const QString &name, const BlockLayout &layout)
{
    MediumIdentity m;
    m.name_ = name;
    m.layout_ = layout;
    m.roots_.insert(fileKey(dev, ino), QStringLiteral("the image ") + name);
    return m;
}

MediumIdentity MediumIdentity::ofBlockDevice(dev_t rdev, const QString &name, const BlockLayout &layout)
{
    MediumIdentity m;
    m.name_ = name;
    m.layout_ = layout;
    m.roots_ = MediumCheck(m.layout_).blockRoots(rdev, false);
    return m;
}

namespace {
MediumIdentity ofStat(const struct stat &st, const QString &name, const BlockLayout &layout)
{
    if (S_ISREG(st.st_mode))
        return MediumIdentity::ofImage(st.st_dev, st.st_ino, name, layout);
    if (S_ISBLK(st.st_mode))
        return MediumIdentity::ofBlockDevice(st.st_rdev, name, layout);
    return MediumIdentity();
}
} // namespace

MediumIdentity MediumIdentity::ofPath(const QString &source, const BlockLayout &layout)
{
    struct stat st {};
    if (::stat(QFile::encodeName(source).constData(), &st) != 0)
        return MediumIdentity();
    return ofStat(st, source, layout);
}

MediumIdentity MediumIdentity::ofFd(int fd, const QString &name, const BlockLayout &layout)
{
    struct stat st {};
    if (fstat(fd, &st) != 0)
        return MediumIdentity();
    return ofStat(st, name, layout);
}

namespace {

// Paths are only walked here, never cleaned (a/link/.. is not a/): what counts is what the
// kernel says about where they lead.
QByteArray absoluteText(const QString &path)
{
    QByteArray p = QFile::encodeName(path);
    if (!p.startsWith('/'))
        p = QFile::encodeName(QDir::currentPath()) + '/' + p;
    return p;
}

QByteArray parentText(QByteArray p)
{
    while (p.size() > 1 && p.endsWith('/'))
        p.chop(1);
    const int slash = int(p.lastIndexOf('/'));
    return slash <= 0 ? QByteArray("/") : p.left(slash);
}

// The nearest existing thing a path leads to: the path itself, where a dangling link points,
// or the nearest existing parent.
bool nearestExisting(const QByteArray &start, struct stat *st)
{
    QByteArray at = start;
    for (int step = 0; step < 256; ++step) {
        if (::stat(at.constData(), st) == 0)
            return true;
        char target[4096];
        const ssize_t n = ::readlink(at.constData(), target, sizeof target);
        if (n > 0 && size_t(n) < sizeof target) {
            const QByteArray t(target, int(n));
            at = t.startsWith('/') ? t : parentText(at) + '/' + t;
            continue;
        }
        if (at == "/")
            return false;
        at = parentText(at);
    }
    return false;
}

QString explain(MediumCheck::Verdict v, const QString &shown, const MediumIdentity &m, const QString &label, bool file)
{
    const QString choice = file ? QStringLiteral("file") : QStringLiteral("folder");
    if (v == MediumCheck::Itself)
        return QStringLiteral("%1 is the medium being searched (%2). Writing it would destroy the files you want back: "
                              "choose a %3 on another disk.")
            .arg(shown, label, choice);
    const QString where = label.startsWith(QLatin1String("the image")) ? QStringLiteral("a file system inside the image") : label;
    return QStringLiteral("%1 is on %2, the medium being searched (%3). Writing there could overwrite the files you want "
                          "back: choose a %4 on another disk.")
        .arg(shown, m.name(), where, choice);
}

bool verdict(const struct stat &st, const QString &shown, const MediumIdentity &medium, QString *why, bool file)
{
    QString label;
    const MediumCheck::Verdict v = MediumCheck(medium.layout()).judge(st, medium, &label);
    if (v == MediumCheck::Off)
        return false;
    if (why)
        *why = explain(v, shown, medium, label, file);
    return true;
}

} // namespace

bool deviceOnMedium(dev_t fsDevice, const MediumIdentity &medium, QString *shared)
{
    if (!medium.isValid())
        return false;
    const QString label = MediumCheck::shared(MediumCheck(medium.layout()).fileSystemRoots(fsDevice), medium);
    if (shared)
        *shared = label;
    return !label.isEmpty();
}

bool onMedium(const QString &folder, const MediumIdentity &medium, QString *why)
{
    if (!medium.isValid())
        return false;
    struct stat st {};
    if (!nearestExisting(absoluteText(folder.isEmpty() ? QStringLiteral(".") : folder), &st))
        return false;
    return verdict(st, folder, medium, why, false);
}

bool onMedium(int fd, const QString &shownName, const MediumIdentity &medium, QString *why)
{
    struct stat st {};
    if (!medium.isValid() || fstat(fd, &st) != 0)
        return false;
    return verdict(st, shownName, medium, why, false);
}

bool fileOnMedium(const QString &file, const MediumIdentity &medium, QString *why)
{
    if (!medium.isValid())
        return false;
    struct stat st {};
    // The file itself, or where a link at its name leads.
    const QByteArray path = absoluteText(file);
    if (nearestExisting(path, &st) && verdict(st, file, medium, why, true))
        return true;
    // Its folder: where a new file of that name is made.
    return nearestExisting(parentText(path), &st) && verdict(st, file, medium, why, true);
}

bool folderOnMedium(const QString &folder, const QString &medium, QString *why, const BlockLayout &layout)
{
    return onMedium(folder, MediumIdentity::ofPath(medium, layout), why);
}

} // namespace lumafind
