#include "outputfolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lumafind {

namespace {
QByteArray native(const QString &s)
{
    return QFile::encodeName(s);
}

bool validComponent(const QString &name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") && !name.contains(QLatin1Char('/'));
}

// ".NAME.PID.part" or ".NAME.PID-N.part"
QString temporaryName(const QString &finalName, int attempt)
{
    QString t = QStringLiteral(".%1.%2").arg(finalName).arg(::getpid());
    if (attempt > 0)
        t += QStringLiteral("-%1").arg(attempt);
    return t + QStringLiteral(".part");
}
} // namespace

void Fd::reset(int fd)
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = fd;
}

QString errnoText(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

InvokingUser InvokingUser::fromEnvironment()
{
    InvokingUser u;
    if (::geteuid() != 0)
        return u;
    QByteArray uidText = qgetenv("SUDO_UID");
    if (uidText.isEmpty())
        uidText = qgetenv("PKEXEC_UID");
    bool ok = false;
    const uint uid = uidText.toUInt(&ok);
    if (!ok || uid == 0)
        return u;
    u.uid = uid_t(uid);
    const uint gid = qgetenv("SUDO_GID").toUInt(&ok);
    if (ok) {
        u.gid = gid_t(gid);
    } else {
        const passwd *pw = ::getpwuid(u.uid);
        u.gid = pw ? pw->pw_gid : gid_t(-1);
    }
    u.valid = true;
    return u;
}

void InvokingUser::give(int fd) const
{
    if (valid && fd >= 0 && ::fchown(fd, uid, gid) != 0) {
        // Ownership is a courtesy; the file is kept either way.
    }
}

Fd openSubfolder(int dir, const QString &name, QString *error, const InvokingUser &user)
{
    if (!validComponent(name)) {
        *error = QStringLiteral("%1 is not a usable folder name.").arg(name);
        return Fd();
    }
    const QByteArray n = native(name);
    bool made = false;
    if (::mkdirat(dir, n.constData(), 0755) == 0)
        made = true;
    else if (errno != EEXIST) {
        *error = QStringLiteral("%1 cannot be created: %2.").arg(name, errnoText(errno));
        return Fd();
    }
    Fd sub(::openat(dir, n.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!sub.valid()) {
        const int e = errno;
        *error = (e == ELOOP || e == ENOTDIR)
                     ? QStringLiteral("%1 is not a folder (a link or a file stands there); nothing is written through it.").arg(name)
                     : QStringLiteral("%1 cannot be opened: %2.").arg(name, errnoText(e));
        return Fd();
    }
    if (made)
        user.give(sub.get());
    return sub;
}

Fd openFolder(const QString &path, QString *error, const InvokingUser &user)
{
    if (path.isEmpty()) {
        *error = QStringLiteral("No folder was given.");
        return Fd();
    }
    // The nearest existing folder, resolved once; what is missing below it is made by handle.
    QString existing = QDir(path).absolutePath();
    QStringList missing;
    while (!QFileInfo::exists(existing)) {
        const QFileInfo fi(existing);
        if (fi.isSymLink()) {  // a dangling link is not a place to create things
            *error = QStringLiteral("%1 is a link to nothing.").arg(existing);
            return Fd();
        }
        missing.prepend(fi.fileName());
        const QString parent = fi.absolutePath();
        if (parent == existing)
            break;
        existing = parent;
    }
    const QString canonical = QFileInfo(existing).canonicalFilePath();
    Fd dir(::open(native(canonical.isEmpty() ? existing : canonical).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!dir.valid()) {
        *error = QStringLiteral("%1 cannot be opened as a folder: %2.").arg(existing, errnoText(errno));
        return Fd();
    }
    for (const QString &component : missing) {
        QString why;
        Fd sub = openSubfolder(dir.get(), component, &why, user);
        if (!sub.valid()) {
            *error = QStringLiteral("The folder %1 cannot be made: %2").arg(path, why);
            return Fd();
        }
        dir = std::move(sub);
    }
    return dir;
}

Fd createTemporary(int dir, const QString &finalName, QString *tempName, QString *error)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString name = temporaryName(finalName, attempt);
        // Read and write: the saver reads back what it streamed. O_NONBLOCK: a FIFO planted at
        // the name could otherwise hold the open for ever.
        Fd fd(::openat(dir, native(name).constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644));
        if (fd.valid()) {
            *tempName = name;
            return fd;
        }
        if (errno != EEXIST && errno != ELOOP) {
            *error = QStringLiteral("%1 cannot be created: %2.").arg(name, errnoText(errno));
            return Fd();
        }
        // Something stands at the name (not ours, or a link): leave it, use another one.
    }
    *error = QStringLiteral("no free temporary name for %1.").arg(finalName);
    return Fd();
}

Fd createAfresh(int dir, const QString &name, QString *error)
{
    if (!validComponent(name)) {
        *error = QStringLiteral("%1 is not a file name.").arg(name);
        return Fd();
    }
    const QByteArray n = native(name);
    if (::unlinkat(dir, n.constData(), 0) != 0 && errno != ENOENT) {
        *error = QStringLiteral("%1 cannot be replaced: %2.").arg(name, errnoText(errno));
        return Fd();
    }
    Fd fd(::openat(dir, n.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
    if (!fd.valid())
        *error = QStringLiteral("%1 cannot be created: %2.").arg(name, errnoText(errno));
    return fd;
}

bool publishTemporary(int dir, const QString &tempName, const QString &finalName, QString *usedName, QString *error, int tries)
{
    const QByteArray temp = native(tempName);
    const QFileInfo fi(finalName);
    const QString base = fi.completeBaseName(), suffix = fi.suffix();
    for (int n = 0; n < tries; ++n) {
        const QString candidate = n == 0 ? finalName
                                         : QStringLiteral("%1_%2%3").arg(base).arg(n).arg(suffix.isEmpty() ? QString() : QLatin1Char('.') + suffix);
        const QByteArray target = native(candidate);
        int r = ::renameat2(dir, temp.constData(), dir, target.constData(), RENAME_NOREPLACE);
        if (r != 0 && (errno == EINVAL || errno == ENOSYS)) {
            // File systems without the no-replace rename: a hard link fails just the same on a name in use.
            r = ::linkat(dir, temp.constData(), dir, target.constData(), 0);
            if (r == 0)
                ::unlinkat(dir, temp.constData(), 0);
        }
        if (r == 0) {
            *usedName = candidate;
            return true;
        }
        if (errno != EEXIST) {
            *error = QStringLiteral("%1 cannot be written: %2.").arg(candidate, errnoText(errno));
            return false;
        }
    }
    *error = QStringLiteral("too many files named %1.").arg(finalName);
    return false;
}

int removeStaleTemporaries(int dir)
{
    const int copy = ::openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (copy < 0)
        return 0;
    DIR *d = ::fdopendir(copy);
    if (!d) {
        ::close(copy);
        return 0;
    }
    int removed = 0;
    while (const dirent *e = ::readdir(d)) {
        const QString name = QFile::decodeName(e->d_name);
        if (!name.startsWith(QLatin1Char('.')) || !name.endsWith(QLatin1String(".part")))
            continue;
        // ".NAME.PID[-N].part": the process that wrote it must be gone.
        const QString stem = name.chopped(5);
        const QString pidText = stem.section(QLatin1Char('.'), -1).section(QLatin1Char('-'), 0, 0);
        bool ok = false;
        const int pid = pidText.toInt(&ok);
        if (!ok || pid <= 0 || pid == ::getpid())
            continue;  // not of our naming, or ours and being written
        if (::kill(pid, 0) == 0 || errno == EPERM)
            continue;  // its process still runs
        struct stat st {};
        if (::fstatat(dir, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode))
            continue;  // only plain files of ours; anything else is left where it is
        if (::unlinkat(dir, e->d_name, 0) == 0)
            ++removed;
    }
    ::closedir(d);
    return removed;
}

bool ReplacingFile::create(const QString &path, QString *error, const InvokingUser &user)
{
    abandon();
    const QFileInfo fi(QDir(path).absolutePath());
    name_ = fi.fileName();
    if (!validComponent(name_)) {
        *error = QStringLiteral("%1 is not a file name.").arg(path);
        return false;
    }
    QString why;
    dir_ = openFolder(fi.absolutePath(), &why, user);
    if (!dir_.valid()) {
        *error = why;
        return false;
    }
    // Only a plain file is replaced: a device (/dev/full), a FIFO or a folder standing at the
    // name is refused, and so is a link, which would otherwise be replaced instead of followed
    // (think of /dev/stdout).
    struct stat st {};
    if (::fstatat(dir_.get(), native(name_).constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISREG(st.st_mode)) {
        *error = S_ISLNK(st.st_mode) ? QStringLiteral("%1 is a link; name the file itself.").arg(path)
                                     : QStringLiteral("%1 is not a plain file.").arg(path);
        return false;
    }
    file_ = createTemporary(dir_.get(), name_, &temp_, &why);
    if (!file_.valid()) {
        *error = QStringLiteral("%1 cannot be written: %2").arg(path, why);
        return false;
    }
    user.give(file_.get());
    path_ = fi.absoluteFilePath();
    return true;
}

bool ReplacingFile::commit(const QByteArray &bytes, QString *error)
{
    if (!file_.valid()) {
        *error = QStringLiteral("the file was not created");
        return false;
    }
    for (qsizetype off = 0; off < bytes.size();) {
        const ssize_t n = ::write(file_.get(), bytes.constData() + off, size_t(bytes.size() - off));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            *error = errnoText(n < 0 ? errno : ENOSPC);
            abandon();
            return false;
        }
        off += n;
    }
    if (::fsync(file_.get()) != 0 && errno != EINVAL && errno != EROFS) {
        *error = errnoText(errno);
        abandon();
        return false;
    }
    file_.reset();
    // Replacing is what was asked: a link standing at the name is replaced, never followed.
    if (::renameat(dir_.get(), native(temp_).constData(), dir_.get(), native(name_).constData()) != 0) {
        *error = errnoText(errno);
        abandon();
        return false;
    }
    temp_.clear();
    return true;
}

void ReplacingFile::abandon()
{
    file_.reset();
    if (dir_.valid() && !temp_.isEmpty())
        ::unlinkat(dir_.get(), native(temp_).constData(), 0);
    temp_.clear();
}

} // namespace lumafind
