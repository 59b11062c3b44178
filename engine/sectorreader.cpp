#include "sectorreader.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lumafind {

namespace {
constexpr size_t kStreamBuffer = 1 << 20;
constexpr uint64_t kRetryWindow = kStreamBuffer / kSectorSize;  // the stretch one buffered read covers

bool deviceGone(int err)
{
    return err == ENODEV || err == ENXIO || err == ENOMEDIUM || err == ESHUTDOWN;
}
} // namespace

int openDeviceFd(const QString &path)
{
    const QByteArray native = QFile::encodeName(path);
    auto diskOrImage = [](const struct stat &st) { return S_ISREG(st.st_mode) || S_ISBLK(st.st_mode); };
    struct stat st {};
    // Anything else is refused unopened: opening a terminal or a tape can act on it.
    if (::stat(native.constData(), &st) == 0 && !diskOrImage(st)) {
        errno = ENOTBLK;
        return -1;
    }
    // O_NONBLOCK: should the name turn into a FIFO meanwhile, open() must not wait for a writer.
    const int fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    if (fstat(fd, &st) != 0) {
        const int e = errno;
        ::close(fd);
        errno = e;
        return -1;
    }
    if (!diskOrImage(st)) {
        ::close(fd);
        errno = ENOTBLK;
        return -1;
    }
    if (S_ISBLK(st.st_mode)) {
        // Opened again, blocking, through the handle itself (the same device whatever the name
        // now names): a drive without a medium opens with O_NONBLOCK but must fail here.
        char self[32];
        std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
        const int again = ::open(self, O_RDONLY | O_CLOEXEC);
        if (again >= 0 || errno != ENOENT) {
            const int e = errno;
            ::close(fd);
            errno = e;
            return again;
        }
        // No /proc: clear the flag instead.
    }
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        const int e = errno;
        ::close(fd);
        errno = e;
        return -1;
    }
    return fd;
}

FILE *openDeviceFile(const QString &path)
{
    const int fd = openDeviceFd(path);
    if (fd < 0)
        return nullptr;
    FILE *f = fdopen(fd, "rb");
    if (!f) {
        const int e = errno;
        ::close(fd);
        errno = e;
    }
    return f;
}

SectorReader::SectorReader(DeviceOpener opener) : opener_(std::move(opener)) {}

SectorReader::~SectorReader()
{
    close();
}

bool SectorReader::open(const QString &path)
{
    close();
    path_ = path;
    errno = 0;
    main_ = opener_(path);
    if (!main_) {
        lastErrno_ = errno ? errno : EIO;
        return false;
    }
    buffer_ = static_cast<char *>(std::malloc(kStreamBuffer));
    if (buffer_)
        std::setvbuf(main_, buffer_, _IOFBF, kStreamBuffer);
    next_ = 0;
    retryEnd_ = 0;
    unreadable_ = 0;
    return true;
}

void SectorReader::close()
{
    if (main_) {
        std::fclose(main_);
        main_ = nullptr;
    }
    if (retry_) {
        std::fclose(retry_);
        retry_ = nullptr;
    }
    std::free(buffer_);
    buffer_ = nullptr;
}

bool SectorReader::seekMain(uint64_t sector)
{
    std::clearerr(main_);
    if (fseeko(main_, static_cast<off_t>(sector * kSectorSize), SEEK_SET) != 0) {
        lastErrno_ = errno;
        return false;
    }
    next_ = sector;
    return true;
}

SectorReader::Status SectorReader::retryRead(uint64_t sector, unsigned char *buf)
{
    if (!retry_) {
        errno = 0;
        retry_ = opener_(path_);
        if (!retry_) {
            lastErrno_ = errno ? errno : EIO;
            return Lost;  // the medium cannot be opened again: it is gone
        }
        std::setvbuf(retry_, nullptr, _IONBF, 0);
        retryNext_ = UINT64_MAX;
    }
    if (retryNext_ != sector) {
        std::clearerr(retry_);
        if (fseeko(retry_, static_cast<off_t>(sector * kSectorSize), SEEK_SET) != 0) {
            lastErrno_ = errno;
            return Lost;
        }
    }
    errno = 0;
    if (std::fread(buf, kSectorSize, 1, retry_) == 1) {
        retryNext_ = sector + 1;
        ++windowGood_;
        return Ok;
    }
    lastErrno_ = errno;
    std::clearerr(retry_);
    retryNext_ = UINT64_MAX;
    std::memset(buf, 0, kSectorSize);
    ++unreadable_;
    if (deviceGone(lastErrno_))
        return Lost;
    return Unreadable;
}

SectorReader::Status SectorReader::read(uint64_t sector, unsigned char *buf)
{
    if (!main_)
        return Lost;
    if (sector < retryEnd_) {
        const Status s = retryRead(sector, buf);
        if (s != Lost && sector + 1 == retryEnd_) {
            // Leaving the stretch: back to buffered reads, unless the whole stretch failed and
            // the medium cannot be opened again.
            if (windowGood_ == 0) {
                FILE *probe = opener_(path_);
                if (!probe)
                    return Lost;
                std::fclose(probe);
            }
            if (!seekMain(retryEnd_))
                return Lost;
        }
        return s;
    }
    // A short step forward is read through the buffer: a seek would throw the buffer away.
    if (sector > next_ && sector - next_ <= 64) {
        unsigned char skip[kSectorSize];
        while (next_ < sector && fread_unlocked(skip, kSectorSize, 1, main_) == 1)
            ++next_;
    }
    if (sector != next_ && !seekMain(sector))
        return Lost;
    errno = 0;
    // The stream is the pass's own: the unlocked read spares a lock per sector.
    if (fread_unlocked(buf, kSectorSize, 1, main_) == 1) {
        ++next_;
        return Ok;
    }
    // The buffered request failed (a kernel fails it whole for one bad sector): retry its
    // stretch one sector at a time without the buffer.
    lastErrno_ = errno;
    if (!seekMain(sector))
        return Lost;
    retryEnd_ = sector + kRetryWindow;
    windowGood_ = 0;
    return read(sector, buf);
}

QString openFailureReason(int err, const QString &path)
{
    if (err == ENOTBLK)
        return QStringLiteral("%1 is not a disk, partition or disk image.").arg(path);
    QString reason = QStringLiteral("%1: %2.").arg(path, QString::fromLocal8Bit(std::strerror(err)));
    if (err == EACCES || err == EPERM)
        reason += QStringLiteral(" Reading a device needs administrator rights or membership of the "
                                 "\u2018disk\u2019 group: start Lumafind with sudo, or add your account to the disk group.");
    return reason;
}

} // namespace lumafind
