#pragma once
// The state every front end shares: the catalogue, the working record lists, the scan fields,
// the counters that decide names, and the carving passes with their thread entries.
#include "catalogue/catalogue.h"
#include "catalogue/checklist.h"
#include "engine/mediumaccess.h"
#include "engine/observer.h"
#include "engine/sectorreader.h"
#include "media/scanrange.h"
#include "results/extents/check.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace lumafind {

class PassMatcher;
class Remnants;
class SectorFeed;

// Recovery mode for the whole process: 0 photo, 1 video, 2 raw file. Written only by the
// front end's main thread before a scan starts; the worker reads it.
extern int32_t Recovery_MODE;

constexpr uint64_t kRawFileLimit = 18874368;  // every video or raw file carved holds at most this

// What the front end hands a scan: the state of its controls when the scan started.
struct ScanRequest {
    int mode = 0;              // 0 photo, 1 video, 2 raw file
    QString devicePath;
    RangeControls range;
    bool thorough = true;
    QString outputFolder;
    // How this scan's readers open the medium (the front end gives its savers and previews the
    // same one); empty: a fresh newMediumAccess() for the scan.
    DeviceOpener opener;
    // Where what the card's file systems remember is gathered (results/remnants.h); null: a
    // fresh one for the scan (remnants()).
    std::shared_ptr<Remnants> remnants;
};

class RecoveryCore : public Catalogue {
public:
    RecoveryCore();
    virtual ~RecoveryCore();
    RecoveryCore(const RecoveryCore &) = delete;
    RecoveryCore &operator=(const RecoveryCore &) = delete;

    // Creates the working lists empty, loads the six databases from resourceDir in order and
    // the placeholder picture. Returns the database files that could not be used.
    QStringList loadResources(const QString &resourceDir);

    // Scan fields, shared by the worker, the progress display and Stop.
    std::atomic<uint64_t> start_sector{0};
    std::atomic<uint64_t> end_sector{0};
    std::atomic<uint64_t> total_sector{0};
    std::atomic<uint64_t> for_index{0};
    std::atomic<int32_t> stop_now{0};
    std::atomic<int32_t> stop_screen_already_show{0};
    // The medium's stream while a pass reads it. The pass's reader owns and closes it; this is
    // only a view (closing it here too would close it twice).
    FILE *pFile_Disk = nullptr;

    // Files found by General and Thorough photo passes since start; never reset.
    uint64_t GND_Image_number = 0;
    uint64_t THD_Image_number = 0;

    QStringList CheckListHeader_Adv_Array;
    QStringList CheckListHeader_Array;
    QStringList MultiHeader_Array;
    QStringList REC_PROC_Array;
    // Found-files rows as the worker counts them (names continue these counts).
    FoundFilesList nsSIGFileInfoDataObject;
    void setNsSIGFileInfoDataObject(const FoundFilesList &rows) { nsSIGFileInfoDataObject = rows; }

    QByteArray Null_Image_Data;  // bytes of NoPreview.png

    // A scan: set the request and observer, then run a thread entry on a worker thread.
    void prepareScan(const ScanRequest &request, ScanObserver *observer);
    void Photo_Rec_Thread();
    void Raw_File_Rec_Thread();
    // One pass; YES when it read its range to the end.
    bool Photo_Recovey_Mode(const QString &tag);
    bool Raw_File_Recovey_Mode(const QString &tag);
    // The end of the scan: runs at most once per scan, whoever asks first.
    void Final_or_Stop_Screen();
    // The Stop button.
    void stop_usb_disk() { stop_now = 1; }

    // A preview copy is running: the worker then leaves the end of the scan to it.
    // Returns true when the worker already ended and the caller must end the scan.
    void beginPreview();
    bool endPreview();
    bool session() const;

    // Opens media the program may read itself (tests give failing streams).
    DeviceOpener deviceOpener = openDeviceFile;
    // Decides whether a signature hit starts a file (the format families' checks; tests of the
    // carving rules alone accept every hit).
    std::function<HeaderCheck(const QString &ext, const HitView &view)> headerCheck = checkHeader;
    // Opens a device the user may not read (the system's storage service); null: nobody.
    std::shared_ptr<DeviceBroker> deviceBroker;
    // The medium of one scan: deviceOpener first, then the broker, asked at most once.
    std::shared_ptr<MediumAccess> newMediumAccess() const { return std::make_shared<MediumAccess>(deviceOpener, deviceBroker); }
    // Unreadable sectors of the scan, each counted once whoever read it (passes, saving, preview).
    uint64_t unreadableSectors() const { return badSectors_->count(); }
    const std::shared_ptr<BadSectors> &badSectors() const { return badSectors_; }
    uint64_t filesFound() const { return filesFound_; }
    // The medium's size in bytes, known once a pass opened it (UINT64_MAX before).
    uint64_t mediumBytes() const { return mediumBytes_; }
    const ScanRequest &request() const { return request_; }
    // What the card's directories remember, gathered by this scan's General pass.
    const std::shared_ptr<Remnants> &remnants() const { return request_.remnants; }

private:
    bool openForPass(SectorReader &reader);
    void passStart(const QString &tag);
    void reportUnreadable(uint64_t sector, bool unreadable);
    bool endOfRange(bool lost, bool anyRead, int error);
    // The next sector of the pass: s moves on past it, its unreadable state is reported.
    enum class FeedStep { Sector, End, Lost };
    FeedStep feedSector(SectorFeed &feed, uint64_t &s, const unsigned char **bytes, bool &anyRead);
    // Steps over the sectors after the current one (at most `most`) that no header of either
    // matcher and no directory the remnants want can start in; s and the progress follow.
    // Returns how many, and their bytes in one run.
    uint64_t passQuietSectors(SectorFeed &feed, uint64_t &s, uint64_t most, const PassMatcher &matcher,
                              const PassMatcher *thorough, const Remnants *remnants, const unsigned char **run);
    static HitView hitView(const SectorFeed &feed);
    // The first record (in list order) that matches the sector and whose format's header check
    // agrees with the bytes around it; -1 when none. *type: a finer type the check named.
    int acceptedRecord(const QStringList &records, const PassMatcher &matcher, const SectorFeed &feed,
                       const unsigned char *bytes, std::vector<int> &candidates, QString *type);
    // Every record of a raw-file pass's list whose header matches and whose check agrees, with
    // the type each starts (a finer one where the scan has a row for it).
    void acceptedRecords(const QStringList &records, const PassMatcher &matcher, const SectorFeed &feed,
                         const unsigned char *bytes, std::vector<int> &joining, std::vector<std::pair<int, QString>> &out);

    // The Thorough pass reads only what its files hold: while the General pass reads every
    // sector it also notes where the Thorough records' headers are (and which record and type
    // each starts), and the Thorough pass replays that list, stepping over the rest.
    struct PlannedHit {
        uint64_t sector = 0;
        std::vector<std::pair<int, QString>> records;  // index in the Thorough list, type
    };
    std::vector<PlannedHit> plan_;
    // The replay steps to the next noted header (false when there is none left: s is the end).
    bool jumpToNextHit(SectorFeed &feed, uint64_t &s, size_t &planned);
    bool planReady_ = false;  // the General pass read its whole range and noted every hit
    // Stop: close the medium, keep what was being carved, end the scan.
    void obeyStop(SectorReader &reader, const std::function<void()> &handOver);
    void finishRaw(qsizetype pending, uint64_t groupStart, uint64_t end, bool byNextHeader);
    // After the passes: fragmented files the card remembers are put back together.
    void resolveRemnants();
    uint64_t nextSerial() { return ++serial_; }

    ScanRequest request_;
    DeviceOpener scanOpener_;  // what the passes open the medium with
    QString passTag_;
    ScanObserver *observer_ = nullptr;
    std::atomic<bool> endSignalled_{false};
    std::shared_ptr<BadSectors> badSectors_ = std::make_shared<BadSectors>();
    std::atomic<uint64_t> filesFound_{0};
    std::atomic<uint64_t> mediumBytes_{UINT64_MAX};
    uint64_t serial_ = 0;
    std::vector<uint64_t> pendingSerials_;  // one per entry of MultiHeader_Array
    uint64_t runStart_ = 0, runLength_ = 0;
    bool stopped_ = false, failed_ = false;
};

} // namespace lumafind
