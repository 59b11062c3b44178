#pragma once
// Saving found files into the output folder. During a scan each file is written to a
// temporary file as the pass reads its sectors (the medium is read once); a thread of its own
// then gives it its true extent (reading on from the medium only where its format says the
// file goes on), and renames it into place, never over an existing file. After a scan the same
// code saves listed files by reading them from the medium. Everything is written through
// directory handles that follow no link. A failed write stops saving with a message while the
// list of what was found stays complete; a file that cannot get memory is given up alone.
#include "engine/observer.h"
#include "results/export.h"
#include "results/outputfolder.h"
#include "results/remnants.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <atomic>
#include <condition_variable>
#include <deque>
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
    QString note;              // e.g. that the format's end could not be read within its bounds
    // When it was captured, as the file records it (ISO 8601 with the offset; the saved file's
    // modification time); empty when it records none.
    QString captured;
    // What the card's directory remembers of it (results/remnants.h): its name and when it was
    // last modified; empty when no entry was joined to it.
    QString originalName, modified;
    QString lengthFrom;        // "directory", "declared" or "carved"
    int pieces = 0;            // the pieces it was saved from (1: one run); 0 when not saved
    bool remembered = false;   // a row for an entry that matches no found file
};

// The row of a file the card remembers but the scan did not find.
SaveRecord rememberedRecord(const RememberedFile &f);

// The record of a found file before it is saved: the bytes the scan gave it.
SaveRecord recordOf(const FoundFile &f);

// A name that is safe as one path component: printable, no separator, not "." or "..".
QString safeComponent(const QString &name);

class FileSaver {
public:
    FileSaver(const QString &outDir, MediumRef medium);
    ~FileSaver();
    FileSaver(const FileSaver &) = delete;
    FileSaver &operator=(const FileSaver &) = delete;

    // Opens the folder (made if missing, through handles) and starts the saving thread.
    bool prepare(QString *error);

    // Streaming, from the scan's thread: a file's temporary file is made when its first sector
    // is matched and grows with each sector read.
    void started(const FileStart &f);
    void data(uint64_t serial, const unsigned char *bytes, size_t length);
    void dropped(uint64_t serial);
    // A found file: streamed or not, it is queued to be given its extent and put in place.
    // Waits only while too many files are queued.
    void add(const FoundFile &f);
    // A listed file, saved after the scan from the medium.
    void add(const ExportItem &item, uint64_t endSector);
    // What the card's file systems remember (joined to each file as it is saved); with
    // originalNames, files are saved under the names the card remembers and with their times.
    void setRemnants(std::shared_ptr<const Remnants> remnants, bool originalNames);
    // After the scan: a file saved before what the card remembers of it was known (its entry
    // lies further on the card, or the fragment stage put it together) is saved again with it,
    // in place of the first copy. Queued behind the files already queued.
    void reconcile();
    // Waits until every queued file is written or refused.
    void finish();
    // Drops what is queued and abandons the file being written (its partial file is removed);
    // their records say why. Returns within a block's time.
    void cancel(const QString &why = QStringLiteral("saving was cancelled"));
    // The same without waiting: the file being written is abandoned at its next block, and
    // pendingCount() reaches 0 when it is.
    void requestCancel(const QString &why = QStringLiteral("saving was cancelled"));

    // One record per file added, in order.
    QList<SaveRecord> records() const;
    uint64_t savedCount() const;
    uint64_t failedCount() const;
    uint64_t pendingCount() const;
    QString stopReason() const;    // why saving stopped, empty when it did not
    QStringList notices() const;   // things worth saying that are not failures
    const QString &folder() const { return dir_; }
    // The output folder's handle, once prepared (-1 before).
    int folderHandle() const { return root_.get(); }

    // Called on the saving thread after each file, and again for a file cut short by a later
    // one (for progress and the browser's tooltips).
    std::function<void(const SaveRecord &)> onSaved;

private:
    struct Stream {
        Fd file;
        QString tempName;
        int dir = -1;
        std::vector<unsigned char> buffer;
        uint64_t written = 0;
        int error = 0;
    };
    struct Job {
        int index = -1;
        ExportItem item;
        std::unique_ptr<Stream> stream;
        bool reconcile = false;  // not a file: the reconciling pass
        std::optional<ExportLedger::Entry> replaces;  // saved before: this copy goes
    };
    // What a file was saved with of the card's memory, to tell whether it changed since.
    struct Applied {
        bool entry = false;
        uint64_t size = 0;
        QString name;
        qint64 modified = 0;
        std::vector<Piece> pieces;
        bool operator==(const Applied &o) const
        {
            return entry == o.entry && size == o.size && name == o.name && modified == o.modified && pieces == o.pieces;
        }
    };
    Applied appliedOf(const ExportItem &item) const;
    void reconcileNow();
    QString savedName(const ExportItem &item) const;
    void run();
    bool write(Job &job, SaveRecord &rec);
    bool place(Job &job, SaveRecord &rec, int dir, Fd file, const QString &tempName, uint64_t written);
    int typeFolder(const QString &type, QString *error);
    bool flush(Stream &s);
    void discard(Stream &s);
    void queue(Job &&job, const SaveRecord &rec);
    void shorten(const ExportLedger::Entry &cut);

    QString dir_;
    MediumRef medium_;
    InvokingUser user_;
    Fd root_;
    std::mutex foldersMutex_;
    std::map<QString, Fd> folders_;   // type folders, opened once
    std::map<uint64_t, std::unique_ptr<Stream>> streams_;  // the scan's files being carved
    ExportLedger ledger_;             // the saving thread's
    std::unique_ptr<SectorReader> reader_;
    bool readerTried_ = false;
    QString readerProblem_;  // why the medium could not be opened

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Job> jobs_;
    QList<SaveRecord> records_;
    std::vector<ExportItem> items_;       // per record: the item as queued
    std::map<int, Applied> applied_;      // per saved record: what it was saved with
    std::shared_ptr<const Remnants> remnants_;
    bool originalNames_ = false;
    std::thread thread_;
    bool quit_ = false;
    std::atomic<bool> cancelled_{false};
    QString cancelReason_;
    int pending_ = 0;
    uint64_t saved_ = 0, failed_ = 0;
    QString stopReason_;
    QStringList notices_;
};

} // namespace lumafind
