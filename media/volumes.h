#pragma once
// Storage media discovery: which block devices a user can search, from lsblk's JSON.
#include "media/MyDataObject.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <cstdint>
#include <functional>

namespace lumafind {

// Capacity text: single-precision value with two decimals and a blank-led unit above 1024.
QString getMPSize(const QString &bytesText);

// "%llu" of the size read as a signed 64-bit number divided by 512.
QString sectorsText(const QString &bytesText);

// Readable name for lsblk's FSTYPE (vfat -> "MS-DOS (FAT32)").
QString fileSystemName(const QString &fstype);

// What an optical drive holds: returns a media type text such as "CD" or "DVD", or empty
// when unknown. The default asks udev's database about the device.
using OpticalMediaProbe = std::function<QString(const QString &devicePath)>;
QString udevOpticalMedia(const QString &devicePath);

// Rows of the media table from lsblk's --json --bytes output, in lsblk's order: mounted
// volumes of removable disks (and of DVDs), plus the removable partitions that are not
// mounted and each removable whole disk. Loop devices, CDs and fixed disks are left out.
QList<MyDataObject> mediaRowsFromLsblk(const QByteArray &json, const OpticalMediaProbe &probe = udevOpticalMedia);

// One device of lsblk's output as a media row (identifier, volume name, file system, capacity,
// parent whole disk, sectors); false when it has no identifier.
bool find_disk_info(const QJsonObject &device, const QString &parent, MyDataObject *row);

// Runs lsblk (or $LUMAFIND_LSBLK) and returns its standard output; empty on failure.
QByteArray runLsblk();

// The full rebuild: lsblk's rows. The caller appends opened disk images.
QList<MyDataObject> getVolumeToFSGetInfo();

// A row for a disk image file; an invalid row (empty identifier) when it cannot be read.
// A relative path is made absolute first.
MyDataObject diskImageRow(const QString &path, QString *error = nullptr);

} // namespace lumafind
