#pragma once
// One row of the media table.
#include <QString>

namespace lumafind {

class MyDataObject {
public:
    MyDataObject() = default;
    // Identifier, volume name, file system, capacity text, parent whole disk, sector count.
    MyDataObject(const QString &s1, const QString &s2, const QString &s3, const QString &s4,
                 const QString &s5, const QString &s6, const QString &devicePath = QString())
        : nsStrDiskIdentifier_(s1), nsStrVolName_(s2), nsStrFileSystem_(s3), nsStrSize_(s4),
          nsStrParentDisk_(s5), nsStrSectors_(s6), devicePath_(devicePath)
    {
    }

    const QString &nsStrDiskIdentifier() const { return nsStrDiskIdentifier_; }
    const QString &nsStrVolName() const { return nsStrVolName_; }
    const QString &nsStrFileSystem() const { return nsStrFileSystem_; }
    const QString &nsStrSize() const { return nsStrSize_; }
    const QString &nsStrParentDisk() const { return nsStrParentDisk_; }
    const QString &nsStrSectors() const { return nsStrSectors_; }
    void setNsStrDiskIdentifier(const QString &v) { nsStrDiskIdentifier_ = v; }
    void setNsStrVolName(const QString &v) { nsStrVolName_ = v; }
    void setNsStrFileSystem(const QString &v) { nsStrFileSystem_ = v; }
    void setNsStrSize(const QString &v) { nsStrSize_ = v; }
    void setNsStrParentDisk(const QString &v) { nsStrParentDisk_ = v; }
    void setNsStrSectors(const QString &v) { nsStrSectors_ = v; }

    // The file opened to read this medium: lsblk's PATH, or a disk image's absolute path.
    QString devicePath() const;

    // The cell under a column identifier "Collumn1".."Collumn6"; empty for any other.
    QString column(const QString &identifier) const;

private:
    QString nsStrDiskIdentifier_, nsStrVolName_, nsStrFileSystem_, nsStrSize_, nsStrParentDisk_, nsStrSectors_;
    QString devicePath_;
};

} // namespace lumafind
