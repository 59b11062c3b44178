#pragma once
// Is a folder on the medium being searched? Writing there would overwrite what is being
// recovered. Decided from the folder's mount source and the block-device layout: the
// medium's partitions and whole disk, device-mapper layers (LUKS, LVM) through their slaves,
// and loop devices backed by a disk image file.
#include <QString>
#include <QStringList>

namespace lumafind {

struct BlockLayout {
    QString mountinfo = QStringLiteral("/proc/self/mountinfo");
    QString sysClassBlock = QStringLiteral("/sys/class/block");
};

// medium: a device path (/dev/sdb1, /dev/mapper/x) or a disk image file. Returns true, with a
// reason in *why, when the folder (or, if it does not exist yet, its nearest existing parent)
// lies on that medium.
bool folderOnMedium(const QString &folder, const QString &medium, QString *why = nullptr,
                    const BlockLayout &layout = BlockLayout());

// The whole disks and image files a block device (by sysfs name) stands on.
QStringList physicalBacking(const QString &blockName, const BlockLayout &layout = BlockLayout());

} // namespace lumafind
