#include "mediumaccess.h"

#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lumafind {

namespace {
bool refusedByPermission(int err)
{
    return err == EACCES || err == EPERM;
}

bool isRegularFile(const QString &path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISREG(st.st_mode);
}
} // namespace

MediumAccess::MediumAccess(DeviceOpener direct, std::shared_ptr<DeviceBroker> broker)
    : direct_(direct ? std::move(direct) : DeviceOpener(openDeviceFile)), broker_(std::move(broker))
{
}

MediumAccess::~MediumAccess()
{
    if (kept_ >= 0)
        ::close(kept_);
}

DeviceOpener MediumAccess::opener()
{
    return [self = shared_from_this()](const QString &path) { return self->open(path); };
}

bool MediumAccess::throughService() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return kept_ >= 0;
}

void MediumAccess::release()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (kept_ >= 0)
        ::close(kept_);
    kept_ = -1;
    asked_ = false;
    refusal_.clear();
    path_.clear();
}

FILE *MediumAccess::open(const QString &path)
{
    // One at a time: a reader that comes while the user is being asked waits for that answer
    // instead of asking again.
    std::lock_guard<std::mutex> lock(mutex_);
    if (kept_ < 0 || path != path_) {
        errno = 0;
        FILE *f = direct_(path);
        if (f || !refusedByPermission(errno))
            return f;
    }
    const int fd = serviceDescriptor(path, errno);
    return fd < 0 ? nullptr : openSharedDescriptor(fd);
}

int MediumAccess::descriptor(const QString &path)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (kept_ < 0 || path != path_) {
        const int fd = openDeviceFd(path);
        if (fd >= 0 || !refusedByPermission(errno))
            return fd;
    }
    const int fd = serviceDescriptor(path, errno);
    return fd < 0 ? -1 : fcntl(fd, F_DUPFD_CLOEXEC, 0);
}

int MediumAccess::serviceDescriptor(const QString &path, int directError)
{
    if (kept_ >= 0 && path == path_)
        return kept_;
    // A disk image the user may not read is theirs to fix; only devices go to the service.
    if (!broker_ || isRegularFile(path)) {
        errno = directError;
        return -1;
    }
    if (asked_ && path == path_) {
        if (!refusal_.isEmpty())
            setOpenRefusal(refusal_);
        errno = directError;
        return -1;
    }
    if (kept_ >= 0)
        ::close(kept_);
    kept_ = -1;
    path_ = path;
    asked_ = true;
    refusal_.clear();
    DeviceBroker::Grant g = broker_->openForReading(path);
    if (g.outcome == DeviceBroker::Grant::Opened && g.fd >= 0) {
        // What came back must be a disk (or, from a stand-in, an image), and when the path
        // names a device, that very device.
        struct stat got {}, want {};
        const QByteArray native = QFile::encodeName(path);
        if (fstat(g.fd, &got) != 0 || !(S_ISBLK(got.st_mode) || S_ISREG(got.st_mode))) {
            g.outcome = DeviceBroker::Grant::Refused;
            g.reason = QStringLiteral("what it handed over is not a disk");
        } else if (::stat(native.constData(), &want) == 0 && S_ISBLK(want.st_mode)
                   && (!S_ISBLK(got.st_mode) || got.st_rdev != want.st_rdev)) {
            g.outcome = DeviceBroker::Grant::Refused;
            g.reason = QStringLiteral("it handed over a different device");
        } else {
            kept_ = g.fd;
            return kept_;
        }
        ::close(g.fd);
    } else if (g.fd >= 0) {
        ::close(g.fd);
    }
    if (g.outcome == DeviceBroker::Grant::Refused) {
        refusal_ = g.reason.isEmpty() ? QStringLiteral("it refused") : g.reason;
        setOpenRefusal(refusal_);
    }
    // No service: the program's own reason stands (and its hint about administrator rights).
    errno = directError;
    return -1;
}

} // namespace lumafind
