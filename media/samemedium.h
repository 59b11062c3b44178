#pragma once
// Is a folder or file on the medium being searched? Writing there would overwrite what is
// being recovered. Decided by identity, never by path text, so a symlink, a hard link or a
// bind mount does not get around it: an image file is known by its device and inode, a block
// device by its device number. Both sides are followed down to what holds their sectors (a
// partition to its whole disk, device-mapper layers such as LUKS and LVM to their slaves, a
// loop device to its backing file, by device and inode) and compared there.
#include <QHash>
#include <QString>
#include <QStringList>
#include <sys/stat.h>
#include <sys/types.h>

namespace lumafind {

// Where the block-device layout is read from; tests point it at a recorded machine.
struct BlockLayout {
    QString mountinfo = QStringLiteral("/proc/self/mountinfo");
    QString sysClassBlock = QStringLiteral("/sys/class/block");
    QString sysDevBlock = QStringLiteral("/sys/dev/block");
    // Where loop devices are opened to ask the kernel for their backing file's device and
    // inode; empty: trust sysfs's backing_file path alone.
    QString devDir = QStringLiteral("/dev");
};

// The medium being searched, made once from the source.
class MediumIdentity {
public:
    MediumIdentity() = default;  // no medium: nothing is on it

    // source: a disk image file or a block device (followed through links). Anything else
    // (missing, a FIFO, a character device) gives an identity with nothing on it.
    static MediumIdentity ofPath(const QString &source, const BlockLayout &layout = BlockLayout());
    // The medium already opened as fd; name is what messages call it.
    static MediumIdentity ofFd(int fd, const QString &name, const BlockLayout &layout = BlockLayout());
    static MediumIdentity ofBlockDevice(dev_t rdev, const QString &name, const BlockLayout &layout = BlockLayout());
    static MediumIdentity ofImage(dev_t dev, ino_t ino, const QString &name, const BlockLayout &layout = BlockLayout());

    bool isValid() const { return !roots_.isEmpty(); }
    const QString &name() const { return name_; }
    const BlockLayout &layout() const { return layout_; }
    // What holds the medium's sectors, sorted: "disk sdb" for whole disks, "file DEV:INO"
    // for image files (a loop device's backing file among them).
    QStringList roots() const;

private:
    friend class MediumCheck;
    QString name_;
    BlockLayout layout_;
    QHash<QString, QString> roots_;  // key -> label for messages
};

// An output folder or a preview cache folder (or, when it does not exist yet, its nearest
// existing parent; a dangling link is followed to where it points). True, with the reason in
// *why, when it lies on the medium or is the medium itself.
bool onMedium(const QString &folder, const MediumIdentity &medium, QString *why = nullptr);
// The same for a folder (or file) already opened, e.g. an O_PATH or O_DIRECTORY handle.
bool onMedium(int fd, const QString &shownName, const MediumIdentity &medium, QString *why = nullptr);
// A file about to be written (a report): true when it is the medium itself (the image under
// any name, a device node of the medium), when it exists on the medium, or when its folder
// is on the medium.
bool fileOnMedium(const QString &file, const MediumIdentity &medium, QString *why = nullptr);
// Whether a file system on device fsDevice (a folder's st_dev) shares sectors with the medium;
// *shared names what they share ("disk sdb", "the image /x/card.img"). A device that is not
// a block device (btrfs subvolumes, FUSE) is looked up by its mount source in mountinfo.
bool deviceOnMedium(dev_t fsDevice, const MediumIdentity &medium, QString *shared = nullptr);

// The same as onMedium() for a medium given as a path.
bool folderOnMedium(const QString &folder, const QString &medium, QString *why = nullptr,
                    const BlockLayout &layout = BlockLayout());

} // namespace lumafind
