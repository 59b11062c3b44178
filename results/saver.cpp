#include "saver.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lumafind {

namespace {
constexpr qint64 kQueueBudget = 32 * 1024 * 1024;  // photo bytes waiting for the disk

// Run through sudo or pkexec, files belong to the user who asked, not to root.
void giveToInvokingUser(const QString &path)
{
    if (geteuid() != 0)
        return;
    QByteArray uidText = qgetenv("SUDO_UID");
    if (uidText.isEmpty())
        uidText = qgetenv("PKEXEC_UID");
    bool ok = false;
    const uid_t uid = uidText.toUInt(&ok);
    if (!ok || uid == 0)
        return;
    gid_t gid = static_cast<gid_t>(qgetenv("SUDO_GID").toUInt(&ok));
    if (!ok) {
        const passwd *pw = getpwuid(uid);
        gid = pw ? pw->pw_gid : static_cast<gid_t>(-1);
    }
    if (::chown(QFile::encodeName(path).constData(), uid, gid) != 0) {
        // Ownership is a courtesy; the file is saved either way.
    }
}

bool makeFolder(const QString &path)
{
    QStringList made;
    QFileInfo at(path);
    while (!at.exists()) {
        made.prepend(at.absoluteFilePath());
        at = QFileInfo(at.absolutePath());
    }
    if (!QDir().mkpath(path))
        return false;
    for (const QString &p : made)
        giveToInvokingUser(p);
    return true;
}
} // namespace

SaveRecord recordOf(const FoundFile &f)
{
    SaveRecord rec;
    rec.name = f.name;
    rec.type = f.extension;
    rec.pass = f.tag;
    rec.startSector = f.startSector;
    rec.endSector = f.endSector;
    rec.bytes = f.bytes.isNull() ? (f.endSector - f.startSector) * kSectorSize : uint64_t(f.bytes.size());
    return rec;
}

QString safeComponent(const QString &name)
{
    QString out;
    for (QChar c : name)
        out += (c.isPrint() && c != u'/' && c != u'\\' && c != u':') ? c : QChar(u'_');
    out = out.trimmed();
    if (out.isEmpty() || out == QLatin1String(".") || out == QLatin1String(".."))
        return QStringLiteral("_");
    if (out.startsWith(QLatin1Char('.')))
        out.prepend(QLatin1Char('_'));
    return out.left(200);
}

FileSaver::FileSaver(const QString &outDir, const QString &source, uint64_t mediumSectors, DeviceOpener opener)
    : dir_(QDir(outDir).absolutePath()), source_(source), mediumSectors_(mediumSectors), opener_(opener), reader_(opener)
{
}

FileSaver::~FileSaver()
{
    finish();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

bool FileSaver::prepare(QString *error)
{
    if (!makeFolder(dir_)) {
        *error = QStringLiteral("The output folder %1 cannot be created: %2.").arg(dir_, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    if (::access(QFile::encodeName(dir_).constData(), W_OK | X_OK) != 0) {
        *error = QStringLiteral("The output folder %1 cannot be written: %2.").arg(dir_, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    if (!thread_.joinable())
        thread_ = std::thread([this] { run(); });
    return true;
}

void FileSaver::add(const FoundFile &f)
{
    Job job{0, f, f.bytes.toByteArray()};
    job.file.bytes = QByteArrayView();
    const SaveRecord rec = recordOf(f);
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return queuedBytes_ == 0 || queuedBytes_ + job.bytes.size() <= kQueueBudget; });
    job.index = int(records_.size());
    records_.append(rec);
    queuedBytes_ += job.bytes.size();
    ++pending_;
    jobs_.push_back(std::move(job));
    changed_.notify_all();
}

void FileSaver::finish()
{
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return pending_ == 0; });
}

void FileSaver::cancel()
{
    cancelled_ = true;
    std::unique_lock<std::mutex> lock(mutex_);
    for (const Job &job : jobs_) {
        records_[job.index].error = QStringLiteral("not saved: the program was closed");
        ++failed_;
        queuedBytes_ -= job.bytes.size();
        --pending_;
    }
    jobs_.clear();
    changed_.notify_all();
    changed_.wait(lock, [&] { return pending_ == 0; });
}

QList<SaveRecord> FileSaver::records() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return records_;
}
uint64_t FileSaver::savedCount() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return saved_;
}
uint64_t FileSaver::failedCount() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return failed_;
}
uint64_t FileSaver::unreadableSectors() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return unreadable_;
}
QString FileSaver::stopReason() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return stopReason_;
}

void FileSaver::run()
{
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return quit_ || !jobs_.empty(); });
        if (jobs_.empty())
            return;
        Job job = std::move(jobs_.front());
        jobs_.pop_front();
        SaveRecord rec = records_.at(job.index);
        const bool stopped = !stopReason_.isEmpty();
        lock.unlock();
        if (stopped)
            rec.error = QStringLiteral("not saved: saving had stopped");
        const bool ok = !stopped && write(job, rec);
        lock.lock();
        if (ok && !rec.savedPath.isEmpty())
            ++saved_;
        else if (!ok)
            ++failed_;
        if (!ok && !stopped && stopReason_.isEmpty())
            stopReason_ = rec.error;
        records_[job.index] = rec;
        queuedBytes_ -= job.bytes.size();
        --pending_;
        if (onSaved) {
            lock.unlock();
            onSaved(rec);
            lock.lock();
        }
        changed_.notify_all();
    }
}

bool FileSaver::copyOut(ByteSource &src, uint64_t bytes, int fd, QString *error)
{
    const uint64_t before = reader_.unreadable();
    std::vector<char> buf(1 << 20);
    for (uint64_t at = 0; at < bytes;) {
        if (cancelled_) {
            *error = QStringLiteral("the program was closed");
            return false;
        }
        const int64_t want = int64_t(std::min<uint64_t>(buf.size(), bytes - at));
        const int64_t got = src.read(at, buf.data(), want);
        if (got <= 0) {
            *error = QStringLiteral("the medium stopped answering");
            return false;
        }
        for (int64_t off = 0; off < got;) {
            const ssize_t n = ::write(fd, buf.data() + off, size_t(got - off));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                *error = QString::fromLocal8Bit(std::strerror(errno));
                return false;
            }
            off += n;
        }
        at += uint64_t(got);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    unreadable_ += reader_.unreadable() - before;
    return true;
}

bool FileSaver::write(Job &job, SaveRecord &rec)
{
    // Where the file really ends: its format's own length, else the carved range (without the
    // next file's header sector).
    const bool photo = !job.bytes.isEmpty();
    if (!readerOpen_)
        readerOpen_ = reader_.open(source_);
    if (!photo && !readerOpen_) {
        rec.error = QStringLiteral("Saving stopped: the medium cannot be opened: %1").arg(openFailureReason(reader_.lastError(), source_));
        return false;
    }
    MemorySource memory(job.bytes);
    std::unique_ptr<MediumSource> medium;
    if (readerOpen_)
        medium = std::make_unique<MediumSource>(reader_, job.file.startSector, mediumSectors_, job.bytes);
    ByteSource *src = medium ? static_cast<ByteSource *>(medium.get()) : &memory;
    uint64_t carved = photo ? uint64_t(job.bytes.size()) : (job.file.endSector - job.file.startSector) * kSectorSize;
    if (!photo && job.file.lastSectorIsNextHeader && carved >= kSectorSize)
        carved -= kSectorSize;
    Extent extent = findExtent(job.file.extension, *src, carved);
    if (!extent.declared)
        extent.bytes = std::min<uint64_t>(carved, src->size());
    rec.extent = extent.declared ? QStringLiteral("declared") : QStringLiteral("carved");
    rec.bytes = extent.bytes;
    // One file, one copy: a file that starts inside one already saved is part of it.
    const uint64_t startByte = job.file.startSector * kSectorSize;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = savedExtents_.upper_bound(startByte);
        if (it != savedExtents_.begin()) {
            --it;
            if (startByte < it->second.first) {
                rec.containedIn = it->second.second;
                return true;
            }
        }
    }
    const QString type = safeComponent(job.file.extension.isEmpty() ? QStringLiteral("FILES") : job.file.extension);
    const QString folder = dir_ + QLatin1Char('/') + type;
    const QString name = safeComponent(job.file.name);
    if (!makeFolder(folder)) {
        rec.error = QStringLiteral("Saving stopped: %1 cannot be created: %2.").arg(folder, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    const QString temp = folder + QStringLiteral("/.") + name + QStringLiteral(".part");
    const QByteArray tempPath = QFile::encodeName(temp);
    const int fd = ::open(tempPath.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        rec.error = QStringLiteral("Saving stopped: %1: %2.").arg(temp, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    QString error;
    bool ok = copyOut(*src, extent.bytes, fd, &error);
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = QString::fromLocal8Bit(std::strerror(errno));
    }
    if (!ok) {
        ::unlink(tempPath.constData());
        rec.error = QStringLiteral("Saving stopped at %1: %2.").arg(name, error);
        return false;
    }
    // Rename without ever replacing an existing file: a suffix is added instead.
    const QString base = QFileInfo(name).completeBaseName(), suffix = QFileInfo(name).suffix();
    for (int n = 0; n < 10000; ++n) {
        const QString candidate = n == 0 ? name
                                         : QStringLiteral("%1_%2%3").arg(base).arg(n).arg(suffix.isEmpty() ? QString() : QLatin1Char('.') + suffix);
        const QString final = folder + QLatin1Char('/') + candidate;
        const QByteArray finalPath = QFile::encodeName(final);
        int r = ::renameat2(AT_FDCWD, tempPath.constData(), AT_FDCWD, finalPath.constData(), RENAME_NOREPLACE);
        if (r != 0 && errno == EINVAL) {
            // File systems without the no-replace rename: a hard link fails just the same on a name in use.
            r = ::link(tempPath.constData(), finalPath.constData());
            if (r == 0)
                ::unlink(tempPath.constData());
        }
        if (r == 0) {
            giveToInvokingUser(final);
            rec.savedPath = final;
            std::lock_guard<std::mutex> lock(mutex_);
            savedExtents_[startByte] = {startByte + extent.bytes, candidate};
            return true;
        }
        if (errno != EEXIST) {
            rec.error = QStringLiteral("Saving stopped: %1: %2.").arg(final, QString::fromLocal8Bit(std::strerror(errno)));
            ::unlink(tempPath.constData());
            return false;
        }
    }
    ::unlink(tempPath.constData());
    rec.error = QStringLiteral("too many files named %1").arg(name);
    return false;
}

} // namespace lumafind
