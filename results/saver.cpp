#include "saver.h"

#include "results/metadata.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace lumafind {

namespace {
constexpr size_t kMaxQueued = 64;                 // files waiting for the saving thread
constexpr size_t kStreamBuffer = 1 << 20;         // a file's sectors gathered before a write
// Suffixes tried for a name the card remembers: a card can name any number of files alike,
// and each try is a rename; past them the generated name is used.
constexpr int kRememberedNameTries = 100;
} // namespace

SaveRecord recordOf(const FoundFile &f)
{
    SaveRecord rec;
    rec.name = f.name;
    rec.type = f.extension;
    rec.pass = f.tag;
    rec.startSector = f.startSector;
    rec.endSector = f.endSector;
    rec.bytes = f.carvedBytes ? f.carvedBytes : (f.endSector - f.startSector) * kSectorSize;
    return rec;
}

SaveRecord rememberedRecord(const RememberedFile &f)
{
    SaveRecord rec;
    rec.type = f.extension();
    rec.startSector = f.firstByte / kSectorSize;
    rec.endSector = rec.startSector + sectorsFor(f.size);
    rec.bytes = f.size;
    rec.originalName = f.name;
    rec.modified = f.modifiedIso();
    rec.lengthFrom = QStringLiteral("directory");
    rec.remembered = true;
    rec.note = f.deleted ? QStringLiteral("remembered by a deleted directory entry, not found")
                         : QStringLiteral("remembered by a directory entry, not found");
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
    // A card's name may be 255 characters of up to three bytes each; a file system takes 255
    // bytes, and the temporary name and a namesake's suffix add to it. A short extension stays.
    constexpr qsizetype kMaxBytes = 200;
    if (QFile::encodeName(out).size() > kMaxBytes) {
        const qsizetype dot = out.lastIndexOf(QLatin1Char('.'));
        const QString ext = dot > 0 && out.size() - dot <= 16 ? out.mid(dot) : QString();
        QString base = out.left(out.size() - ext.size());
        while (QFile::encodeName(base + ext).size() > kMaxBytes)
            base.chop(1);
        out = base + ext;
    }
    return out;
}

FileSaver::FileSaver(const QString &outDir, MediumRef medium)
    : dir_(QDir(outDir).absolutePath()), medium_(std::move(medium)), user_(InvokingUser::fromEnvironment())
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
    std::lock_guard<std::mutex> lock(foldersMutex_);
    for (auto &[serial, s] : streams_)
        discard(*s);
    streams_.clear();
}

bool FileSaver::prepare(QString *error)
{
    QString why;
    root_ = openFolder(dir_, &why, user_);
    if (!root_.valid()) {
        *error = QStringLiteral("The output folder %1 cannot be used: %2").arg(dir_, why);
        return false;
    }
    if (::faccessat(root_.get(), ".", W_OK | X_OK, AT_EACCESS) != 0) {
        *error = QStringLiteral("The output folder %1 cannot be written: %2.").arg(dir_, errnoText(errno));
        return false;
    }
    if (!thread_.joinable())
        thread_ = std::thread([this] { run(); });
    return true;
}

int FileSaver::typeFolder(const QString &type, QString *error)
{
    std::lock_guard<std::mutex> lock(foldersMutex_);
    const QString name = safeComponent(type.isEmpty() ? QStringLiteral("FILES") : type);
    auto it = folders_.find(name);
    if (it != folders_.end())
        return it->second.get();
    QString why;
    Fd sub = openSubfolder(root_.get(), name, &why, user_);
    if (!sub.valid()) {
        *error = QStringLiteral("%1/%2: %3").arg(dir_, name, why);
        return -1;
    }
    if (const int removed = removeStaleTemporaries(sub.get())) {
        std::lock_guard<std::mutex> l(mutex_);
        notices_ << QStringLiteral("Removed %1 partial file(s) that an interrupted run left in %2/%3.").arg(removed).arg(dir_, name);
    }
    const int fd = sub.get();
    folders_.emplace(name, std::move(sub));
    return fd;
}

// ---- Streaming, on the scan's thread ----

void FileSaver::started(const FileStart &f)
{
    if (cancelled_ || !root_.valid())
        return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!stopReason_.isEmpty())
            return;
    }
    QString error;
    const int dir = typeFolder(f.extension, &error);
    if (dir < 0)
        return;  // the file is saved from the medium when it is found, and fails there with the reason
    auto s = std::make_unique<Stream>();
    s->file = createTemporary(dir, safeComponent(f.name), &s->tempName, &error);
    if (!s->file.valid())
        return;
    s->dir = dir;
    std::lock_guard<std::mutex> lock(foldersMutex_);
    streams_[f.serial] = std::move(s);
}

bool FileSaver::flush(Stream &s)
{
    size_t off = 0;
    while (off < s.buffer.size() && s.error == 0) {
        const ssize_t n = ::write(s.file.get(), s.buffer.data() + off, s.buffer.size() - off);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            s.error = n < 0 ? errno : ENOSPC;
        else
            off += size_t(n);
    }
    s.written += off;
    s.buffer.clear();
    return s.error == 0;
}

void FileSaver::data(uint64_t serial, const unsigned char *bytes, size_t length)
{
    std::lock_guard<std::mutex> lock(foldersMutex_);
    const auto it = streams_.find(serial);
    if (it == streams_.end() || it->second->error != 0)
        return;
    Stream &s = *it->second;
    try {
        if (s.buffer.capacity() < kStreamBuffer)
            s.buffer.reserve(kStreamBuffer);
        s.buffer.insert(s.buffer.end(), bytes, bytes + length);
    } catch (const std::bad_alloc &) {
        s.error = ENOMEM;  // saved from the medium instead, when it is found
        return;
    }
    if (s.buffer.size() >= kStreamBuffer)
        flush(s);
}

void FileSaver::discard(Stream &s)
{
    s.file.reset();
    if (s.dir >= 0 && !s.tempName.isEmpty())
        ::unlinkat(s.dir, QFile::encodeName(s.tempName).constData(), 0);
    s.tempName.clear();
}

void FileSaver::dropped(uint64_t serial)
{
    std::lock_guard<std::mutex> lock(foldersMutex_);
    const auto it = streams_.find(serial);
    if (it == streams_.end())
        return;
    discard(*it->second);
    streams_.erase(it);
}

void FileSaver::add(const FoundFile &f)
{
    Job job;
    job.item = ExportItem::of(f);
    {
        std::lock_guard<std::mutex> lock(foldersMutex_);
        const auto it = streams_.find(f.serial);
        if (it != streams_.end()) {
            job.stream = std::move(it->second);
            streams_.erase(it);
            if (job.stream->error == 0)
                flush(*job.stream);
        }
    }
    queue(std::move(job), recordOf(f));
}

void FileSaver::add(const ExportItem &item, uint64_t endSector)
{
    Job job;
    job.item = item;
    SaveRecord rec;
    rec.name = item.name;
    rec.type = item.extension;
    rec.pass = item.pass;
    rec.startSector = item.startSector;
    rec.endSector = endSector;
    rec.bytes = item.carvedBytes;
    queue(std::move(job), rec);
}

void FileSaver::setRemnants(std::shared_ptr<const Remnants> remnants, bool originalNames)
{
    std::lock_guard<std::mutex> lock(mutex_);
    remnants_ = std::move(remnants);
    originalNames_ = originalNames;
}

void FileSaver::reconcile()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (!remnants_ || cancelled_ || !thread_.joinable())
        return;
    Job job;
    job.reconcile = true;
    ++pending_;
    jobs_.push_back(std::move(job));
    changed_.notify_all();
}

void FileSaver::queue(Job &&job, const SaveRecord &rec)
{
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return jobs_.size() < kMaxQueued || cancelled_; });
    job.index = int(records_.size());
    records_.append(rec);
    items_.push_back(job.item);
    if (cancelled_ || !thread_.joinable()) {
        records_.last().error = QStringLiteral("not saved: %1").arg(cancelled_ ? cancelReason_ : QStringLiteral("no output folder"));
        ++failed_;
        if (job.stream)
            discard(*job.stream);
        return;
    }
    ++pending_;
    jobs_.push_back(std::move(job));
    changed_.notify_all();
}

void FileSaver::finish()
{
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return pending_ == 0; });
}

void FileSaver::cancel(const QString &why)
{
    requestCancel(why);
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return pending_ == 0; });
}

void FileSaver::requestCancel(const QString &why)
{
    std::unique_lock<std::mutex> lock(mutex_);
    if (!cancelled_)
        cancelReason_ = why;
    cancelled_ = true;
    for (Job &job : jobs_) {
        if (job.reconcile) {
            --pending_;
            continue;
        }
        records_[job.index].error = QStringLiteral("not saved: %1").arg(cancelReason_);
        ++failed_;
        --pending_;
        if (job.stream)
            discard(*job.stream);
    }
    jobs_.clear();
    changed_.notify_all();
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
uint64_t FileSaver::pendingCount() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return uint64_t(pending_);
}
QString FileSaver::stopReason() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return stopReason_;
}
QStringList FileSaver::notices() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return notices_;
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
        changed_.notify_all();  // room in the queue
        if (job.reconcile) {
            lock.unlock();
            try {
                reconcileNow();
            } catch (const std::bad_alloc &) {
                // What was saved stays as it was.
            }
            lock.lock();
            --pending_;
            changed_.notify_all();
            continue;
        }
        SaveRecord rec = records_.at(job.index);
        const bool stopped = !stopReason_.isEmpty();
        lock.unlock();
        bool ok = false, fatal = false;
        if (stopped) {
            rec.error = QStringLiteral("not saved: saving had stopped");
            if (job.stream)
                discard(*job.stream);
        } else {
            try {
                ok = write(job, rec);
                fatal = !ok && !cancelled_;
            } catch (const std::bad_alloc &) {
                // Memory ran out for this file: it is given up, the others go on.
                rec.error = QStringLiteral("not saved: there was not enough memory for it");
                if (job.stream)
                    discard(*job.stream);
            }
        }
        if (cancelled_ && !ok && rec.error.isEmpty())
            rec.error = QStringLiteral("not saved: %1").arg(cancelReason_);
        lock.lock();
        if (ok && !rec.savedPath.isEmpty())
            ++saved_;
        else if (!ok)
            ++failed_;
        if (fatal && stopReason_.isEmpty())
            stopReason_ = rec.error;
        records_[job.index] = rec;
        --pending_;
        if (onSaved) {
            lock.unlock();
            onSaved(rec);
            lock.lock();
        }
        changed_.notify_all();
    }
}

QString FileSaver::savedName(const ExportItem &item) const
{
    if (originalNames_ && item.remembered && !item.remembered->name.isEmpty())
        return safeComponent(item.remembered->name);
    return safeComponent(item.name);
}

FileSaver::Applied FileSaver::appliedOf(const ExportItem &item) const
{
    Applied a;
    if (item.remembered) {
        a.entry = true;
        a.size = item.remembered->size;
        if (originalNames_) {
            a.name = item.remembered->name;
            a.modified = item.remembered->modifiedWall;
        }
    }
    a.pieces = item.pieces;
    return a;
}

// On the saving thread, after the files queued before it.
void FileSaver::reconcileNow()
{
    std::vector<std::pair<int, ExportItem>> todo;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto &[index, applied] : applied_) {
            ExportItem item = items_[size_t(index)];
            joinRemembered(item, remnants_.get());
            if (!(appliedOf(item) == applied))
                todo.emplace_back(index, std::move(item));
        }
    }
    for (auto &[index, item] : todo) {
        if (cancelled_)
            return;
        SaveRecord rec;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            rec = records_[index];
        }
        const Applied was = applied_[index];
        const Applied now = appliedOf(item);
        const uint64_t startByte = item.startByte();
        std::optional<ExportLedger::Entry> old = ledger_.take(startByte);
        if (!old)
            continue;
        if (rec.extent == QLatin1String("declared") && was.pieces == now.pieces && now.pieces.size() < 2) {
            // Its format declared its length, so its bytes stay: only what is said of it, its
            // name and its time change.
            rec.originalName = item.remembered ? item.remembered->name : QString();
            rec.modified = item.remembered ? item.remembered->modifiedIso() : QString();
            rec.lengthFrom = item.remembered && rec.bytes == item.remembered->size ? QStringLiteral("directory") : QStringLiteral("declared");
            if (originalNames_ && item.remembered) {
                Fd fd(::openat(old->dir, QFile::encodeName(old->name).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
                struct stat st {};
                QString used, error;
                if (fd.valid() && ::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode) && uint64_t(st.st_ino) == old->inode) {
                    if (item.remembered->modifiedWall) {
                        const struct timespec times[2] = {{0, UTIME_OMIT}, {time_t(item.remembered->modifiedUtc()), 0}};
                        ::futimens(fd.get(), times);
                    }
                    const QString wanted = savedName(item);
                    if (wanted != old->name && publishTemporary(old->dir, old->name, wanted, &used, &error, kRememberedNameTries)) {
                        old->name = used;
                        rec.savedPath = QStringLiteral("%1/%2/%3").arg(dir_, safeComponent(item.extension), used);
                    }
                }
            }
            ledger_.add(*old);
            applied_[index] = now;
        } else {
            // Saved again from the medium with what is known now; the first copy goes once the
            // new one is complete.
            Job job;
            job.index = index;
            job.item = item;
            job.replaces = old;
            SaveRecord again = rec;
            again.error.clear();
            again.note.clear();
            if (!write(job, again)) {
                ledger_.add(*old);  // the first copy stays
                if (again.error.isEmpty())
                    continue;
                rec.note = QStringLiteral("could not be saved again with what the card remembers: %1").arg(again.error);
            } else {
                rec = again;
            }
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            records_[index] = rec;
        }
        if (onSaved)
            onSaved(rec);
    }
}

bool FileSaver::write(Job &job, SaveRecord &rec)
{
    ExportItem &item = job.item;
    joinRemembered(item, remnants_.get());
    const uint64_t startByte = item.startByte();
    // One file, one copy, decided before anything is measured or read (a file saved again
    // keeps the decision made the first time).
    if (const ExportLedger::Entry *holder = job.replaces ? nullptr : ledger_.containing(startByte)) {
        rec.containedIn = holder->name;
        if (job.stream)
            discard(*job.stream);
        return true;
    }
    QString error;
    const int dir = typeFolder(item.extension, &error);
    if (dir < 0) {
        rec.error = QStringLiteral("Saving stopped: %1").arg(error);
        if (job.stream)
            discard(*job.stream);
        return false;
    }
    const QString name = savedName(item);
    Fd file;
    QString temp;
    uint64_t written = 0;
    if (job.stream && job.stream->error == 0) {
        file = std::move(job.stream->file);
        temp = job.stream->tempName;
        written = job.stream->written;
        job.stream->tempName.clear();
    } else {
        if (job.stream)
            discard(*job.stream);  // its write failed: the medium is read instead
        file = createTemporary(dir, name, &temp, &error);
        if (!file.valid()) {
            rec.error = QStringLiteral("Saving stopped: %1/%2: %3").arg(dir_, safeComponent(item.extension), error);
            return false;
        }
    }
    return place(job, rec, dir, std::move(file), temp, written);
}

bool FileSaver::place(Job &job, SaveRecord &rec, int dir, Fd file, const QString &tempName, uint64_t written)
{
    ExportItem item = job.item;
    const uint64_t startByte = item.startByte();
    const QString name = savedName(item);
    const QByteArray temp = QFile::encodeName(tempName);
    auto fail = [&](const QString &why) {
        file.reset();
        ::unlinkat(dir, temp.constData(), 0);
        rec.error = cancelled_ ? QStringLiteral("not saved: %1").arg(cancelReason_) : QStringLiteral("Saving stopped at %1: %2.").arg(name, why);
        return false;
    };
    // A carved-only file never reaches into the next saved file.
    const uint64_t next = ledger_.nextStartAfter(startByte);
    if (next != kNoBarrier)
        item.cutAt = std::min(item.cutAt, next - startByte);
    if (!readerTried_) {
        readerTried_ = true;
        reader_ = std::make_unique<SectorReader>(medium_.opener);
        reader_->setBadSectors(medium_.bad);
        if (!reader_->open(medium_.path)) {
            readerProblem_ = reader_->failureReason();
            reader_.reset();
        }
    }
    const uint64_t mediumBytes = medium_.bytes != UINT64_MAX ? medium_.bytes : reader_ ? reader_->mediumBytes() : UINT64_MAX;
    FoundFileSource src(reader_.get(), item.startSector, mediumBytes);
    if (item.remembered && item.pieces.size() > 1) {
        // Put back together: what was streamed counts only up to the end of the first piece.
        if (written > item.pieces.front().bytes) {
            if (::ftruncate(file.get(), off_t(item.pieces.front().bytes)) != 0)
                return fail(errnoText(errno));
            written = item.pieces.front().bytes;
        }
        src.setPieces(item.pieces);
    }
    src.setFile(file.get(), written);
    src.setCancel([this] { return cancelled_.load(std::memory_order_relaxed); });
    const Extent extent = measure(item, src);
    rec.extent = extent.declared ? QStringLiteral("declared") : QStringLiteral("carved");
    rec.lengthFrom = lengthFrom(extent);
    rec.pieces = int(std::max<size_t>(1, extent.pieces.size()));
    rec.originalName = item.remembered ? item.remembered->name : QString();
    rec.modified = item.remembered ? item.remembered->modifiedIso() : QString();
    rec.bytes = extent.bytes;
    if (extent.outOfBounds)
        rec.note = QStringLiteral("its format's end could not be read within its bounds; saved as carved");
    QString error;
    if (src.fileBytes() < extent.bytes) {
        if (!reader_)
            return fail(QStringLiteral("the medium cannot be opened: %1").arg(readerProblem_));
        if (!fillFile(src, extent.bytes, &error))
            return fail(error);
    }
    if (src.fileBytes() > extent.bytes && ::ftruncate(file.get(), off_t(extent.bytes)) != 0)
        return fail(errnoText(errno));
    user_.give(file.get());
    // Its modification time is when it was captured, where it says so: photo managers sort by it.
    // Set on the open file, before anyone can see it under its name.
    FoundFileSource saved(nullptr, 0, extent.bytes);
    saved.setFile(file.get(), extent.bytes);
    const bool rememberedTime = originalNames_ && item.remembered && item.remembered->modifiedWall != 0;
    if (const std::optional<CaptureTime> t = captureTime(item.extension, saved)) {
        const struct timespec times[2] = {{0, UTIME_OMIT}, {time_t(t->utc), 0}};
        if (rememberedTime || ::futimens(file.get(), times) == 0)
            rec.captured = t->iso();
    }
    // Named as the card remembers it: with the time it remembers too.
    if (rememberedTime) {
        const struct timespec times[2] = {{0, UTIME_OMIT}, {time_t(item.remembered->modifiedUtc()), 0}};
        ::futimens(file.get(), times);
    }
    struct stat st {};
    ::fstat(file.get(), &st);
    const int fd = file.release();
    if (::close(fd) != 0)
        return fail(errnoText(errno));
    if (cancelled_)
        return fail(cancelReason_);
    if (job.replaces) {
        // The copy saved before goes, if it is still the file we wrote.
        const ExportLedger::Entry &old = *job.replaces;
        struct stat was {};
        const QByteArray oldName = QFile::encodeName(old.name);
        if (::fstatat(old.dir, oldName.constData(), &was, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(was.st_mode)
            && uint64_t(was.st_ino) == old.inode)
            ::unlinkat(old.dir, oldName.constData(), 0);
    }
    QString used;
    const bool remembered = name != safeComponent(item.name);
    bool published = remembered && publishTemporary(dir, tempName, name, &used, &error, kRememberedNameTries);
    if (!published)
        published = publishTemporary(dir, tempName, safeComponent(item.name), &used, &error);
    if (!published) {
        ::unlinkat(dir, temp.constData(), 0);
        rec.error = QStringLiteral("Saving stopped: %1").arg(error);
        return false;
    }
    rec.savedPath = QStringLiteral("%1/%2/%3").arg(dir_, safeComponent(item.extension), used);
    if (const std::optional<ExportLedger::Entry> cut = ledger_.cutAt(startByte))
        shorten(*cut);
    // The ledger knows stretches of the medium: a file put back together holds its first piece there.
    const uint64_t here = extent.pieces.size() > 1 ? extent.pieces.front().bytes : extent.bytes;
    ExportLedger::Entry entry{startByte, startByte + here, extent.declared, used, job.index, dir, uint64_t(st.st_ino),
                              startByte + std::min(here, extent.verified), {}};
    for (uint64_t a : extent.anchors)
        entry.anchors.push_back(startByte + a);
    ledger_.add(entry);
    applied_[job.index] = appliedOf(item);
    return true;
}

// A carved-only file saved before holds the start of one saved now: it ends there.
void FileSaver::shorten(const ExportLedger::Entry &cut)
{
    Fd fd(::openat(cut.dir, QFile::encodeName(cut.name).constData(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || uint64_t(st.st_ino) != cut.inode)
        return;  // it was moved or replaced since: leave whatever stands there
    if (::ftruncate(fd.get(), off_t(cut.end - cut.start)) != 0)
        return;
    // Truncating stamps it with now: it keeps the time it was given.
    const struct timespec times[2] = {{0, UTIME_OMIT}, st.st_mtim};
    ::futimens(fd.get(), times);
    SaveRecord updated;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (cut.record < 0 || cut.record >= records_.size())
            return;
        records_[cut.record].bytes = cut.end - cut.start;
        updated = records_[cut.record];
    }
    if (onSaved)
        onSaved(updated);
}

} // namespace lumafind
