#pragma once
// Saving found files into the output folder, on a thread of its own so the scan never waits
// on a disk unless too much is queued. Each file is written under a temporary name and renamed
// when complete, never over an existing file; a write that fails stops saving with a message
// while the list of what was found stays complete.
#include "engine/observer.h"
#include "engine/sectorreader.h"
#include "results/extents/extent.h"

#include <QList>
#include <QString>
#include <condition_variable>
#include <deque>
#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

namespace lumafind {

struct SaveRecord {
    QString name, type, pass;
    uint64_t startSector = 0, endSector = 0;
    uint64_t bytes = 0;        // bytes saved (or carved, when not saved)
    QString savedPath;         // empty when not saved
    QString error;             // why it was not saved
    QString extent;            // "declared": the format's own end; "carved": the range the scan found
    QString containedIn;       // the saved file that already holds this one
};

// The record of a found file before it is saved: its bytes are the photo's carved bytes or
// the carved sector range.
SaveRecord recordOf(const FoundFile &f);

// A name that is safe as one path component: printable, no separator, not "." or "..".
QString safeComponent(const QString &name);

class FileSaver {
public:
    // outDir: the output folder; source: the medium that files are read from (all of a video or
    // raw file, and whatever of a photo lies beyond its carved bytes); mediumSectors: its size.
    FileSaver(const QString &outDir, const QString &source, uint64_t mediumSectors, DeviceOpener opener = openDeviceFile);
    ~FileSaver();
    FileSaver(const FileSaver &) = delete;
    FileSaver &operator=(const FileSaver &) = delete;

    // Creates the folder if missing and checks that it can be written.
    bool prepare(QString *error);
    // Queues a found file (photo bytes are copied). Waits only while too much is queued.
    void add(const FoundFile &f);
    // Waits until every queued file is written or refused.
    void finish();
    // Drops what is queued and abandons the file being written (its partial file is removed).
    void cancel();

    // After finish(): one record per file added, in order.
    QList<SaveRecord> records() const;
    uint64_t savedCount() const;
    uint64_t failedCount() const;
    uint64_t unreadableSectors() const;
    QString stopReason() const;  // why saving stopped, empty when it did not
    const QString &folder() const { return dir_; }

    // Called on the saving thread after each file (for progress).
    std::function<void(const SaveRecord &)> onSaved;

private:
    struct Job {
        int index;
        FoundFile file;
        QByteArray bytes;
    };
    void run();
    bool write(Job &job, SaveRecord &rec);
    bool copyOut(ByteSource &src, uint64_t bytes, int fd, QString *error);

    QString dir_, source_;
    uint64_t mediumSectors_;
    std::map<uint64_t, std::pair<uint64_t, QString>> savedExtents_;  // start byte -> end byte, name
    DeviceOpener opener_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Job> jobs_;
    QList<SaveRecord> records_;
    std::thread thread_;
    bool quit_ = false;
    std::atomic<bool> cancelled_{false};
    int pending_ = 0;
    qint64 queuedBytes_ = 0;
    uint64_t saved_ = 0, failed_ = 0, unreadable_ = 0;
    QString stopReason_;
    SectorReader reader_;
    bool readerOpen_ = false;
};

} // namespace lumafind
