#pragma once
// One scan from start to end, the same for every front end: the request (mode included), the
// worker thread that runs the passes, Stop, and the counts at the end with the rule that turns
// them into the command line's exit status.
#include "engine/recoverycore.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace lumafind {

// The outcome of a scan and what saving made of it.
enum ExitStatus { kExitDone = 0, kExitMedium = 1, kExitUsage = 2, kExitIncomplete = 3, kExitStopped = 130 };

struct ScanResult {
    ScanSummary summary;
    bool openFailed = false;     // the medium could not be opened at all
    bool interrupted = false;    // stopped by the user (Stop, Ctrl-C)
    uint64_t saveFailures = 0;   // files found but not saved
    int exitStatus() const;
};

// Applies a type selection for a video or raw-file scan: the records of the named types (all
// when `types` is empty) go to the working lists and a found-files row is made per type.
// Returns false with *error when a name is unknown or when the selection leaves the scan
// nothing to search (only Thorough types with Thorough off).
bool selectTypes(RecoveryCore &core, int mode, const QStringList &types, bool thorough, QString *error);

class ScanSession {
public:
    explicit ScanSession(RecoveryCore &core);
    ~ScanSession();
    ScanSession(const ScanSession &) = delete;
    ScanSession &operator=(const ScanSession &) = delete;

    // Starts the worker thread on the request's mode. `onFinished` runs on the worker after the
    // end of the scan was signalled (a front end wakes its own thread from there).
    void start(const ScanRequest &request, ScanObserver *observer, std::function<void()> onFinished = {});
    // The Stop button: the pass ends at its next sector and keeps what it was carving.
    void stop() { core_.stop_usb_disk(); }
    bool running() const { return thread_.joinable() && !done_; }
    bool started() const { return thread_.joinable(); }
    // Waits for the worker up to ms milliseconds (-1: for ever); true when it has ended.
    bool wait(int ms = -1);
    // Joins an ended worker (no wait when it has not ended).
    void reap();

    ScanResult result() const;

private:
    struct OpenWatch;
    RecoveryCore &core_;
    std::unique_ptr<OpenWatch> watch_;
    std::thread thread_;
    std::atomic<bool> done_{false};
    mutable std::mutex mutex_;
    std::condition_variable finished_;
    ScanSummary summary_;
    bool openFailed_ = false;
};

} // namespace lumafind
