#pragma once
// Writing files as root without being led astray: every file is created relative to a
// directory handle, never through a link (O_NOFOLLOW), never over something already there
// (O_EXCL), renamed into place without replacing (RENAME_NOREPLACE), and given to the user who
// ran the program through sudo or pkexec by handle (fchown), not by name.
#include <QString>
#include <sys/types.h>

namespace lumafind {

// An open file or directory descriptor, closed when it goes.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(Fd &&o) noexcept : fd_(o.release()) {}
    Fd &operator=(Fd &&o) noexcept
    {
        if (this != &o)
            reset(o.release());
        return *this;
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release()
    {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset(int fd = -1);

private:
    int fd_ = -1;
};

// The user a program started through sudo or pkexec acts for: files it writes belong to them.
struct InvokingUser {
    uid_t uid = 0;
    gid_t gid = 0;
    bool valid = false;  // false when not root, or run by root itself
    static InvokingUser fromEnvironment();
    // Gives the open file or directory to the user (a courtesy: the file is kept either way).
    void give(int fd) const;
};

QString errnoText(int err);

// Opens the folder at path as a directory handle, creating the components that are missing
// one at a time (each created and opened relative to its parent, following no link). The
// components that exist are the user's choice and are resolved once. Folders made are given
// to the invoking user.
Fd openFolder(const QString &path, QString *error, const InvokingUser &user = InvokingUser::fromEnvironment());

// A folder inside dir, made if missing; a link or anything but a folder standing at the name
// is refused.
Fd openSubfolder(int dir, const QString &name, QString *error, const InvokingUser &user);

// Creates a new empty file for `finalName` under a hidden temporary name of ours in dir
// (".NAME.PID.part", another number when something stands there). Returns the handle and
// sets *tempName.
Fd createTemporary(int dir, const QString &finalName, QString *tempName, QString *error);

// Creates `name` in dir afresh for reading and writing: whatever stood there (a file, or a
// link, which is removed and never followed) goes first. For our own files, such as the preview.
Fd createAfresh(int dir, const QString &name, QString *error);

// Renames the temporary file to finalName, or to NAME_1.EXT, NAME_2.EXT… when the name is in
// use (tries names in all); never replaces anything. Sets *usedName.
bool publishTemporary(int dir, const QString &tempName, const QString &finalName, QString *usedName, QString *error,
                      int tries = 10000);

// Removes the temporary files of ours that an interrupted run left in dir (their process is
// gone). Returns how many were removed.
int removeStaleTemporaries(int dir);

// Creates a file that replaces what stands at a path only when it is complete: the report.
// create() checks the place at once (only a plain file standing at the name is replaced) so
// that a scan never runs for hours only to find that its report cannot be written.
class ReplacingFile {
public:
    ~ReplacingFile() { abandon(); }
    bool create(const QString &path, QString *error, const InvokingUser &user = InvokingUser::fromEnvironment());
    int fd() const { return file_.get(); }
    // Writes all of bytes, then puts the file in place.
    bool commit(const QByteArray &bytes, QString *error);
    void abandon();
    const QString &path() const { return path_; }

private:
    Fd dir_, file_;
    QString path_, name_, temp_;
};

} // namespace lumafind
