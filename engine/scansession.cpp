#include "scansession.h"

#include "catalogue/checklist.h"

namespace lumafind {

int ScanResult::exitStatus() const
{
    if (interrupted)
        return kExitStopped;
    if (openFailed || summary.failed)
        return kExitMedium;
    if (summary.unreadable > 0 || saveFailures > 0)
        return kExitIncomplete;
    return kExitDone;
}

bool selectTypes(RecoveryCore &core, int mode, const QStringList &types, bool thorough, QString *error)
{
    CheckList rows;
    Fill_Check_List(rows, core.basicFor(mode), core.advancedFor(mode));
    QStringList valid;
    for (const CheckListRow &r : rows)
        valid << r.Extension;
    if (!types.isEmpty()) {
        for (const QString &t : types) {
            const QString wanted = t.trimmed().toUpper();
            const QString bare = wanted.startsWith(QLatin1Char('.')) ? wanted.mid(1) : wanted;
            if (!valid.contains(bare, Qt::CaseInsensitive)) {
                *error = QStringLiteral("unknown type %1; valid types: %2").arg(t, valid.join(QLatin1Char(',')));
                return false;
            }
        }
        for (CheckListRow &r : rows) {
            r.State = false;
            for (const QString &t : types) {
                const QString wanted = t.trimmed().toUpper();
                if ((wanted.startsWith(QLatin1Char('.')) ? wanted.mid(1) : wanted).compare(r.Extension, Qt::CaseInsensitive) == 0)
                    r.State = true;
            }
        }
    }
    FoundFilesList found;
    if (!Apply_Check_List(rows, core.basicFor(mode), core.advancedFor(mode), core.CheckListHeader_Array,
                          core.CheckListHeader_Adv_Array, found)) {
        *error = QStringLiteral("Please select atleast one extension type. Valid types: %1").arg(valid.join(QLatin1Char(',')));
        return false;
    }
    if (!thorough && core.CheckListHeader_Array.isEmpty()) {
        *error = QStringLiteral("the types chosen are searched only by the Thorough pass, which is off: nothing would be searched");
        return false;
    }
    core.setNsSIGFileInfoDataObject(found);
    return true;
}

// Notes whether the passes could open the medium: the observer hears it first.
struct ScanSession::OpenWatch : ScanObserver {
    ScanObserver *inner;
    ScanSession *session;
    void passStarted(const PassStart &p) override { inner->passStarted(p); }
    bool wantsFileData() const override { return inner->wantsFileData(); }
    void fileStarted(const FileStart &f) override { inner->fileStarted(f); }
    void fileData(uint64_t serial, const unsigned char *b, size_t n) override { inner->fileData(serial, b, n); }
    void fileDropped(uint64_t serial) override { inner->fileDropped(serial); }
    void fileFound(FoundFile &&f) override { inner->fileFound(std::move(f)); }
    void unreadableSectors(uint64_t first, uint64_t count) override { inner->unreadableSectors(first, count); }
    void alert(const QString &m, const QString &i) override { inner->alert(m, i); }
    void openFailed() override
    {
        {
            std::lock_guard<std::mutex> lock(session->mutex_);
            session->openFailed_ = true;
        }
        inner->openFailed();
    }
    void endTimer() override { inner->endTimer(); }
    void endOfScan(const ScanSummary &s) override
    {
        {
            std::lock_guard<std::mutex> lock(session->mutex_);
            session->summary_ = s;
        }
        inner->endOfScan(s);
    }
};

ScanSession::ScanSession(RecoveryCore &core) : core_(core) {}

ScanSession::~ScanSession()
{
    if (thread_.joinable()) {
        stop();
        thread_.join();
    }
}

void ScanSession::start(const ScanRequest &request, ScanObserver *observer, std::function<void()> onFinished)
{
    reap();
    if (thread_.joinable())
        return;  // one scan at a time
    {
        std::lock_guard<std::mutex> lock(mutex_);
        summary_ = {};
        openFailed_ = false;
    }
    done_ = false;
    watch_ = std::make_unique<OpenWatch>();
    watch_->inner = observer;
    watch_->session = this;
    Recovery_MODE = request.mode;
    core_.prepareScan(request, watch_.get());
    core_.stop_now = 0;
    const int mode = request.mode;
    thread_ = std::thread([this, mode, onFinished = std::move(onFinished)] {
        if (mode == 0)
            core_.Photo_Rec_Thread();
        else
            core_.Raw_File_Rec_Thread();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        finished_.notify_all();
        if (onFinished)
            onFinished();
    });
}

bool ScanSession::wait(int ms)
{
    if (!thread_.joinable())
        return true;
    std::unique_lock<std::mutex> lock(mutex_);
    if (ms < 0)
        finished_.wait(lock, [&] { return done_.load(); });
    else
        finished_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return done_.load(); });
    const bool ended = done_;
    lock.unlock();
    if (ended)
        reap();
    return ended;
}

void ScanSession::reap()
{
    if (thread_.joinable() && done_)
        thread_.join();
}

ScanResult ScanSession::result() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    ScanResult r;
    r.summary = summary_;
    r.summary.unreadable = core_.unreadableSectors();
    r.openFailed = openFailed_;
    return r;
}

} // namespace lumafind
