#pragma once
// How the readers of one scan reach its medium. A path the program may read is opened as it
// is. A device the user may not read is asked of the system's storage service, which asks the
// user for their password and hands back a descriptor: that happens once, and every reader
// after it (the next pass, the retry stream, saving, thumbnails, the preview) reads through a
// duplicate of that descriptor at a position of its own, so there is one password prompt per
// scan and the path is never opened again behind the service's back.
#include "engine/sectorreader.h"

#include <QString>
#include <memory>
#include <mutex>

namespace lumafind {

// Opens a device on the user's behalf (the system's storage service; tests give a stand-in).
class DeviceBroker {
public:
    struct Grant {
        enum Outcome {
            Opened,       // fd is the device, open for reading, now the caller's
            Refused,      // the service said no (the user cancelled, or may not): reason says why
            Unavailable,  // there is no such service here, or it does not know the device
        };
        Outcome outcome = Unavailable;
        int fd = -1;
        QString reason;
    };
    virtual ~DeviceBroker() = default;
    // Blocks while the user is asked for their password: never call it on the GUI thread.
    virtual Grant openForReading(const QString &devicePath) = 0;
};

class MediumAccess : public std::enable_shared_from_this<MediumAccess> {
public:
    // direct: how a path is opened by the program itself; broker: who is asked when that is
    // refused (EACCES, EPERM); null means nobody.
    explicit MediumAccess(DeviceOpener direct = openDeviceFile, std::shared_ptr<DeviceBroker> broker = {});
    ~MediumAccess();
    MediumAccess(const MediumAccess &) = delete;
    MediumAccess &operator=(const MediumAccess &) = delete;

    // A stream over the medium (a DeviceOpener); null with errno set, and when the service
    // refused, its reason left with setOpenRefusal().
    FILE *open(const QString &path);
    // A descriptor of the medium for looking at it (its size, its identity), which the caller
    // closes; not for reading: one from the service shares its position with the kept one.
    int descriptor(const QString &path);
    // An opener for SectorReader and MediumRef; it keeps this access alive.
    DeviceOpener opener();
    // Closes the service's descriptor (streams already open keep their duplicates); a later
    // open asks again.
    void release();
    // The medium is read through the service's descriptor.
    bool throughService() const;

private:
    // The kept descriptor for path, asking the service when there is none; -1 with errno set
    // (and the refusal left) when it cannot be had. Called with mutex_ held.
    int serviceDescriptor(const QString &path, int directError);

    DeviceOpener direct_;
    std::shared_ptr<DeviceBroker> broker_;
    mutable std::mutex mutex_;
    QString path_;       // what was asked of the service
    int kept_ = -1;      // its descriptor
    bool asked_ = false; // asked already (granted or not): the user is asked once
    QString refusal_;
};

} // namespace lumafind
