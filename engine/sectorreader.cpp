#include "sectorreader.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>
#include <unordered_map>

namespace lumafind {

namespace {
constexpr size_t kStreamBuffer = 1 << 20;
constexpr uint64_t kRetryWindow = kStreamBuffer / kSectorSize;  // the stretch one buffered read covers

bool deviceGone(int err)
{
    return err == ENODEV || err == ENXIO || err == ENOMEDIUM || err == ESHUTDOWN;
}

thread_local QString tlsRefusal;

// A shared descriptor read at a position of the stream's own.
struct SharedFd {
    int fd;
    off64_t pos = 0;
    FILE *stream = nullptr;
};

// Such streams have no fileno(); their descriptor is found here (for the medium's size).
std::mutex sharedMutex;
std::unordered_map<FILE *, int> sharedStreams;

int sharedDescriptorOf(FILE *f)
{
    std::lock_guard<std::mutex> lock(sharedMutex);
    const auto it = sharedStreams.find(f);
    return it == sharedStreams.end() ? -1 : it->second;
}

ssize_t sharedRead(void *cookie, char *buf, size_t size)
{
    auto *k = static_cast<SharedFd *>(cookie);
    for (;;) {
        const ssize_t n = ::pread(k->fd, buf, size, k->pos);
        if (n < 0 && errno == EINTR)
            continue;
        if (n > 0)
            k->pos += n;
        return n;
    }
}

int sharedSeek(void *cookie, off64_t *offset, int whence)
{
    auto *k = static_cast<SharedFd *>(cookie);
    off64_t base = 0;
    if (whence == SEEK_CUR) {
        base = k->pos;
    } else if (whence == SEEK_END) {
        struct stat st {};
        if (fstat(k->fd, &st) != 0)
            return -1;
        uint64_t bytes = uint64_t(st.st_size);
        if (S_ISBLK(st.st_mode) && ioctl(k->fd, BLKGETSIZE64, &bytes) != 0)
            return -1;
        if (bytes > uint64_t(INT64_MAX)) {
            errno = EOVERFLOW;
            return -1;
        }
        base = off64_t(bytes);
    } else if (whence != SEEK_SET) {
        errno = EINVAL;
        return -1;
    }
    if ((*offset > 0 && base > INT64_MAX - *offset) || base + *offset < 0) {
        errno = EINVAL;
        return -1;
    }
    k->pos = base + *offset;
    *offset = k->pos;
    return 0;
}

int sharedClose(void *cookie)
{
    auto *k = static_cast<SharedFd *>(cookie);
    {
        std::lock_guard<std::mutex> lock(sharedMutex);
        sharedStreams.erase(k->stream);
    }
    const int r = ::close(k->fd);
    delete k;
    return r;
}
} // namespace

void setOpenRefusal(const QString &reason)
{
    tlsRefusal = reason;
}

QString takeOpenRefusal()
{
    QString r;
    r.swap(tlsRefusal);
    return r;
}

FILE *openSharedDescriptor(int fd)
{
    const int own = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (own < 0)
        return nullptr;
    auto *cookie = new SharedFd{own};
    const cookie_io_functions_t io{sharedRead, nullptr, sharedSeek, sharedClose};
    FILE *f = fopencookie(cookie, "rb", io);
    if (!f) {
        const int e = errno;
        ::close(own);
        delete cookie;
        errno = e;
        return nullptr;
    }
    cookie->stream = f;
    std::lock_guard<std::mutex> lock(sharedMutex);
    sharedStreams[f] = own;
    return f;
}

std::atomic<uint64_t> SectorReader::totalRead_{0};

bool BadSectors::add(uint64_t sector)
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto next = runs_.upper_bound(sector);
    if (next != runs_.begin()) {
        auto prev = std::prev(next);
        if (sector < prev->second)
            return false;  // known already
        if (sector == prev->second) {
            prev->second = sector + 1;
            if (next != runs_.end() && next->first == prev->second) {
                prev->second = next->second;
                runs_.erase(next);
            }
            ++count_;
            return true;
        }
    }
    if (next != runs_.end() && next->first == sector + 1) {
        const uint64_t end = next->second;
        runs_.erase(next);
        runs_[sector] = end;
    } else {
        runs_[sector] = sector + 1;
    }
    ++count_;
    return true;
}

void BadSectors::clear()
{
    std::lock_guard<std::mutex> lock(mutex_);
    runs_.clear();
    count_ = 0;
}

uint64_t BadSectors::count() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return count_;
}

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
    refusal_.clear();
    takeOpenRefusal();  // nothing left over from an earlier opener on this thread
    errno = 0;
    main_ = opener_(path);
    if (!main_) {
        lastErrno_ = errno ? errno : EIO;
        refusal_ = takeOpenRefusal();
        return false;
    }
    buffer_ = static_cast<char *>(std::malloc(kStreamBuffer));
    if (buffer_)
        std::setvbuf(main_, buffer_, _IOFBF, kStreamBuffer);
    // The exact size: a disk image need not end on a sector boundary.
    mediumBytes_ = UINT64_MAX;
    struct stat st {};
    const int own = fileno(main_);
    const int fd = own >= 0 ? own : sharedDescriptorOf(main_);
    if (fd >= 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        mediumBytes_ = uint64_t(st.st_size);
    } else if (fd >= 0 && S_ISBLK(st.st_mode)) {
        uint64_t bytes = 0;
        if (ioctl(fd, BLKGETSIZE64, &bytes) == 0)
            mediumBytes_ = bytes;
    }
    // Read front to back: the kernel may read ahead generously. A device's pages are dropped
    // behind the pass (readBlock), so a scan of a large card does not push the desktop's files
    // out of memory; an image's stay, it may well be scanned again.
    cacheFd_ = fd;
    dropDevicePages_ = fd >= 0 && S_ISBLK(st.st_mode);
    droppedTo_ = 0;
    if (fd >= 0)
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
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
    const size_t got = std::fread(buf, 1, kSectorSize, retry_);
    if (got == kSectorSize || partialAtEnd(retry_, got, buf)) {
        retryNext_ = sector + 1;
        ++windowGood_;
        totalRead_.fetch_add(got, std::memory_order_relaxed);
        return Ok;
    }
    lastErrno_ = errno;
    const bool atEnd = std::feof(retry_) && !std::ferror(retry_);
    std::clearerr(retry_);
    retryNext_ = UINT64_MAX;
    std::memset(buf, 0, kSectorSize);
    if (atEnd)
        return Lost;  // beyond the end: the medium is smaller than it was
    markUnreadable(sector);
    if (deviceGone(lastErrno_))
        return Lost;
    return Unreadable;
}

void SectorReader::markUnreadable(uint64_t sector)
{
    ++unreadable_;
    if (bad_)
        bad_->add(sector);
}

bool SectorReader::partialAtEnd(FILE *f, size_t got, unsigned char *buf)
{
    if (got == 0 || got >= size_t(kSectorSize) || !std::feof(f) || std::ferror(f))
        return false;
    std::memset(buf + got, 0, kSectorSize - got);
    return true;
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
    const size_t got = fread_unlocked(buf, 1, kSectorSize, main_);
    if (got == kSectorSize || partialAtEnd(main_, got, buf)) {
        ++next_;
        totalRead_.fetch_add(got, std::memory_order_relaxed);
        return Ok;
    }
    if (got == 0 && std::feof(main_) && !std::ferror(main_))
        return Lost;  // beyond the end: the medium is smaller than it was
    // The buffered request failed (a kernel fails it whole for one bad sector): retry its
    // stretch one sector at a time without the buffer.
    lastErrno_ = errno;
    if (!seekMain(sector))
        return Lost;
    retryEnd_ = sector + kRetryWindow;
    windowGood_ = 0;
    return read(sector, buf);
}

uint64_t SectorReader::readBlock(uint64_t first, uint64_t count, unsigned char *buf, std::vector<uint64_t> *unreadable)
{
    if (!main_ || count == 0)
        return 0;
    auto oneByOne = [&]() -> uint64_t {
        for (uint64_t i = 0; i < count; ++i) {
            const Status st = read(first + i, buf + i * kSectorSize);
            if (st == Lost)
                return i;
            if (st == Unreadable && unreadable)
                unreadable->push_back(first + i);
        }
        return count;
    };
    if (first < retryEnd_)
        return oneByOne();  // inside a stretch that is being retried
    if (first != next_ && !seekMain(first))
        return 0;
    errno = 0;
    // A request this large bypasses the stream's buffer: the bytes land in buf directly.
    const size_t want = size_t(count) * kSectorSize;
    const size_t got = fread_unlocked(buf, 1, want, main_);
    if (got == want) {
        next_ += count;
        totalRead_.fetch_add(got, std::memory_order_relaxed);
        dropBehind(first * kSectorSize);
        return count;
    }
    if (std::feof(main_) && !std::ferror(main_)) {
        // The medium ends inside the block.
        uint64_t whole = got / kSectorSize;
        if (const size_t rest = got % kSectorSize) {
            std::memset(buf + got, 0, kSectorSize - rest);
            ++whole;
        }
        next_ += whole;
        totalRead_.fetch_add(got, std::memory_order_relaxed);
        return whole;
    }
    // The request failed somewhere: read it again one sector at a time.
    lastErrno_ = errno;
    if (!seekMain(first))
        return 0;
    return oneByOne();
}

uint64_t SectorReader::readScattered(uint64_t first, uint64_t count, unsigned char *buf)
{
    if (!main_ || count == 0)
        return 0;
    const size_t want = size_t(count) * kSectorSize;
    if (cacheFd_ >= 0 && first >= retryEnd_) {
        size_t got = 0;
        while (got < want) {
            const ssize_t n = ::pread(cacheFd_, buf + got, want - got, off_t(first * kSectorSize + got));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            got += size_t(n);
        }
        totalRead_.fetch_add(got, std::memory_order_relaxed);
        if (got == want)
            return count;
        if (mediumBytes_ != UINT64_MAX && first * kSectorSize + got >= mediumBytes_) {
            // The medium ends inside the request (a partial last sector counts).
            uint64_t whole = got / kSectorSize;
            if (const size_t rest = got % kSectorSize) {
                std::memset(buf + got, 0, kSectorSize - rest);
                ++whole;
            }
            return whole;
        }
    }
    std::vector<uint64_t> unreadable;
    return readBlock(first, count, buf, &unreadable);
}

QString SectorReader::failureReason() const
{
    return refusal_.isEmpty() ? openFailureReason(lastErrno_ ? lastErrno_ : EIO, path_) : openRefusalReason(refusal_, path_);
}

QString openRefusalReason(const QString &reason, const QString &path)
{
    QString why = reason.trimmed();
    if (!why.isEmpty() && !why.endsWith(QLatin1Char('.')) && !why.endsWith(QLatin1Char('!')))
        why += QLatin1Char('.');
    return QStringLiteral("The system's storage service did not open %1: %2").arg(path, why);
}

void SectorReader::dropBehind(uint64_t before)
{
    constexpr uint64_t kStep = 64u << 20;
    if (!dropDevicePages_ || before < droppedTo_ + kStep)
        return;
    ::posix_fadvise(cacheFd_, off_t(droppedTo_), off_t(before - droppedTo_), POSIX_FADV_DONTNEED);
    droppedTo_ = before;
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
