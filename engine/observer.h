#pragma once
// What a scan pass tells its front end. The worker calls these on its own thread; a front end
// with widgets forwards each call to its GUI thread in order (blocking for alerts and the end
// of the scan), the CLI writes to the terminal, tests record them.
#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <cstdint>

namespace lumafind {

struct PassStart {
    QString tag;         // "GEN" or "THD"
    QString modeLabel;   // "( Currently performing Search based on: … )"
    QString helpText;
    uint64_t startSector = 0, endSector = 0, totalSector = 0;
};

struct FoundFile {
    QString name, uid, extension, tag;
    uint64_t startSector = 0;
    uint64_t endSector = 0;  // exclusive; a photo's is its start plus its whole sectors
    // Photo mode: the carved bytes. They live in the pass's reused buffer and stay valid only
    // during the call: a front end that keeps them copies them (bytes.toByteArray()).
    QByteArrayView bytes;
    QString plannedPath;     // video and raw-file mode: output folder / type / name
    // Video and raw-file mode: the file was ended by the next header, so its last sector is
    // the next file's first.
    bool lastSectorIsNextHeader = false;
};

struct ScanSummary {
    uint64_t found = 0;
    uint64_t unreadable = 0;
    bool stopped = false;
    bool failed = false;     // the device was lost or nothing could be read
};

class ScanObserver {
public:
    virtual ~ScanObserver() = default;
    virtual void passStarted(const PassStart &) {}
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
