#pragma once
// What a scan pass tells its front end. The worker calls these on its own thread; a front end
// with widgets forwards each call to its GUI thread in order (blocking for alerts and the end
// of the scan), the CLI writes to the terminal, tests record them.
#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <cstdint>

namespace lumafind {

// What a photo pass keeps in memory of a file for its thumbnail; the rest goes only to a saver
// that streams it, so memory stays flat whatever the size limits of the databases say.
constexpr uint64_t kPhotoPrefixBytes = 24u << 20;

struct PassStart {
    QString tag;         // "GEN" or "THD"
    QString modeLabel;   // "( Currently performing Search based on: … )"
    QString helpText;
    uint64_t startSector = 0, endSector = 0, totalSector = 0;
};

// A file whose first sector a pass has just matched.
struct FileStart {
    uint64_t serial = 0;     // ties the file's data and its FoundFile together (unique per scan)
    QString name, extension, tag;
    uint64_t startSector = 0;
};

struct FoundFile {
    uint64_t serial = 0;
    QString name, uid, extension, tag;
    uint64_t startSector = 0;
    uint64_t endSector = 0;  // exclusive; a photo's is its start plus its whole sectors
    // The bytes the scan gave the file: its sectors, without the next file's first sector.
    uint64_t carvedBytes = 0;
    // Its carve ended where another file found by the same pass starts.
    bool endsAtNextFile = false;
    // Photo mode: the first bytes of the file (up to kPhotoPrefixBytes), for its thumbnail.
    // They live in the pass's reused buffer and stay valid only during the call: a front end
    // that keeps them copies them (bytes.toByteArray()).
    QByteArrayView bytes;
    QString plannedPath;     // video and raw-file mode: output folder / type / name
    // Video and raw-file mode: the file was ended by the next header, so its last sector is
    // the next file's first.
    bool lastSectorIsNextHeader = false;
};

struct ScanSummary {
    uint64_t found = 0;
    uint64_t unreadable = 0;  // sectors, each counted once whoever read it
    bool stopped = false;
    bool failed = false;     // the device was lost or nothing could be read
};

class ScanObserver {
public:
    virtual ~ScanObserver() = default;
    virtual void passStarted(const PassStart &) {}
    // Streaming: a front end that saves as the scan reads asks for every file's sectors. Each
    // fileStarted is followed by its sectors in order (fileData) and then by exactly one
    // fileFound or fileDropped with the same serial.
    virtual bool wantsFileData() const { return false; }
    virtual void fileStarted(const FileStart &) {}
    virtual void fileData(uint64_t /*serial*/, const unsigned char * /*bytes*/, size_t /*length*/) {}
    virtual void fileDropped(uint64_t /*serial*/) {}
    virtual void fileFound(FoundFile &&) {}
    virtual void unreadableSectors(uint64_t /*first*/, uint64_t /*count*/) {}
    // A modal alert; the worker waits until it is closed.
    virtual void alert(const QString &message, const QString &informative) = 0;
    // The device could not be opened: the wizard goes back one screen.
    virtual void openFailed() {}
    // The progress display may stop (Stop or a failed open).
    virtual void endTimer() {}
    // The end-of-scan step; the worker waits until it is done. Called once per scan.
    virtual void endOfScan(const ScanSummary &) = 0;
};

} // namespace lumafind
