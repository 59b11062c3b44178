#pragma once
// The GUI side of a scan: every call of the worker becomes a change of the window made on the
// GUI thread, in the worker's order. The worker never waits on the GUI thread: alerts and the
// end of the scan are queued like the rest, so the window may hold them as long as it likes.
// Photo thumbnails are decoded in a small pool and reach the browser in the order found.
#include "engine/observer.h"
#include "results/export.h"
#include "results/thumbnails.h"

#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <atomic>
#include <memory>

namespace lumafind {

class MyTableController;

// Runs f on obj's thread: directly when already there, else queued (in order), never waiting.
template <typename F>
void onGuiThread(QObject *obj, F &&f)
{
    if (QThread::currentThread() == obj->thread())
        f();
    else
        QMetaObject::invokeMethod(obj, std::forward<F>(f), Qt::QueuedConnection);
}

class GuiScanObserver : public ScanObserver {
public:
    explicit GuiScanObserver(MyTableController *c) : c_(c) {}
    // A new scan: a fresh thumbnail pool; found files also go to saver when there is one.
    void begin(class FileSaver *saver, const MediumRef &medium);
    void passStarted(const PassStart &p) override;
    bool wantsFileData() const override { return saver_ != nullptr; }
    void fileStarted(const FileStart &f) override;
    void fileData(uint64_t serial, const unsigned char *bytes, size_t length) override;
    void fileDropped(uint64_t serial) override;
    void fileFound(FoundFile &&f) override;
    void unreadableSectors(uint64_t first, uint64_t count) override;
    void alert(const QString &message, const QString &informative) override;
    void openFailed() override;
    void endTimer() override;
    void endOfScan(const ScanSummary &s) override;

private:
    MyTableController *c_;
    std::unique_ptr<ThumbnailPipeline> thumbnails_;
    FileSaver *saver_ = nullptr;
};

} // namespace lumafind
