#include "recoverycore.h"

#include "common/hex.h"
#include "engine/matcher.h"
#include "engine/naming.h"
#include "engine/sectorfeed.h"
#include "results/extents/check.h"
#include "results/remnants.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <algorithm>
#include <memory>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace lumafind {

int32_t Recovery_MODE = 0;

namespace {
const QString kReadError = QStringLiteral("\nError in storage media reading.");
const QString kGeneralLabel = QStringLiteral("( Currently performing Search based on: Norvo General Recovery Procedure )");
const QString kThoroughLabel = QStringLiteral("( Currently performing Search based on: Norvo Thorough Scanning Alogrithm )");
const QString kScanHelp = QStringLiteral("\nTo stop recovery, click on \u2018Stop\u2019 Button or please wait for the process to be completed.");
const unsigned char kBlank[kSectorSize] = {};

} // namespace

RecoveryCore::RecoveryCore()
{
    Recovery_MODE = 0;
}

RecoveryCore::~RecoveryCore() = default;

QStringList RecoveryCore::loadResources(const QString &resourceDir)
{
    CheckListHeader_Adv_Array.clear();
    CheckListHeader_Array.clear();
    MultiHeader_Array.clear();
    REC_PROC_Array.clear();
    Ext_Array.clear();
    Adv_Ext_Array.clear();
    Video_Array.clear();
    Adv_Video_Array.clear();
    RawFile_Array.clear();
    Adv_RawFile_Array.clear();
    const QStringList problems = loadAll(resourceDir);
    QFile placeholder(resourceDir + QStringLiteral("/NoPreview.png"));
    if (placeholder.exists() && placeholder.open(QIODevice::ReadOnly))
        Null_Image_Data = placeholder.readAll();
    return problems;
}

// ---- Scan driver ----

void RecoveryCore::prepareScan(const ScanRequest &request, ScanObserver *observer)
{
    request_ = request;
    if (!request_.remnants)
        request_.remnants = std::make_shared<Remnants>();
    scanOpener_ = request.opener ? request.opener : newMediumAccess()->opener();
    observer_ = observer;
    endSignalled_ = false;
    badSectors_->clear();
    plan_.clear();
    planReady_ = false;
    filesFound_ = 0;
    serial_ = 0;
    mediumBytes_ = UINT64_MAX;
    stopped_ = failed_ = false;
}

namespace {
// The scan's hold on its medium ends with its passes (a front end that gave the opener keeps
// its own).
struct DropOpener {
    DeviceOpener &opener;
    ~DropOpener() { opener = nullptr; }
};
} // namespace

void RecoveryCore::Photo_Rec_Thread()
{
    const DropOpener drop{scanOpener_};
    stop_screen_already_show = 0;
    if (!Photo_Recovey_Mode(QStringLiteral("GEN"))) {
        if (stop_screen_already_show == 0)
            Final_or_Stop_Screen();
        return;
    }
    if (request_.thorough && stop_screen_already_show == 0)
        Photo_Recovey_Mode(QStringLiteral("THD"));
    if (stop_screen_already_show == 0)
        resolveRemnants();
    if (stop_screen_already_show == 0)
        Final_or_Stop_Screen();
}

void RecoveryCore::Raw_File_Rec_Thread()
{
    const DropOpener drop{scanOpener_};
    stop_screen_already_show = 0;
    if (!Raw_File_Recovey_Mode(QStringLiteral("GEN"))) {
        if (stop_screen_already_show == 0)
            Final_or_Stop_Screen();
        return;
    }
    REC_PROC_Array = CheckListHeader_Adv_Array;
    // Only when the box is on: unchecking Thorough must mean one pass.
    if (request_.thorough && stop_screen_already_show == 0)
        Raw_File_Recovey_Mode(QStringLiteral("THD"));
    if (stop_screen_already_show == 0)
        resolveRemnants();
    if (stop_screen_already_show == 0)
        Final_or_Stop_Screen();
}

void RecoveryCore::resolveRemnants()
{
    Remnants &r = *request_.remnants;
    if (stopped_ || failed_ || !r.directoriesComplete() || r.entryCount() == 0)
        return;
    SectorReader reader(scanOpener_);
    reader.setBadSectors(badSectors_);
    if (reader.open(request_.devicePath))
        r.resolveFragments(reader, reader.mediumBytes(), [this] { return stop_now.load(std::memory_order_relaxed) == 1; });
}

void RecoveryCore::Final_or_Stop_Screen()
{
    if (endSignalled_.exchange(true))
        return;  // the end of a scan is signalled once
    stop_now = 1;
    stop_screen_already_show = 1;
    // Each pass closes its own stream before it returns; nothing is left open here.
    pFile_Disk = nullptr;
    if (observer_)
        observer_->endOfScan({filesFound_, badSectors_->count(), stopped_, failed_});
    stop_now = 0;
}

// ---- Shared pass steps ----

void RecoveryCore::passStart(const QString &tag)
{
    passTag_ = tag;
    const ScanRange r = rangeHandOver(request_.range);
    start_sector = r.start;
    end_sector = r.end;
    total_sector = r.total;
    for_index = r.start;
    runLength_ = 0;
    observer_->passStarted({tag, tag == QLatin1String("GEN") ? kGeneralLabel : kThoroughLabel, kScanHelp, r.start, r.end,
                            r.total});
}

bool RecoveryCore::openForPass(SectorReader &reader)
{
    pFile_Disk = nullptr;
    reader.setBadSectors(badSectors_);
    if (reader.open(request_.devicePath)) {
        pFile_Disk = reader.stream();
        mediumBytes_ = reader.mediumBytes();
        return true;
    }
    // Back one screen, no end-of-scan window; the alert gives the system's reason.
    observer_->endTimer();
    observer_->openFailed();
    stop_now = 0;
    stop_screen_already_show = 1;
    failed_ = true;
    observer_->alert(kReadError, reader.failureReason());
    return false;
}

void RecoveryCore::reportUnreadable(uint64_t sector, bool unreadable)
{
    if (unreadable) {
        if (runLength_ > 0 && runStart_ + runLength_ == sector) {
            ++runLength_;
            return;
        }
        if (runLength_ > 0)
            observer_->unreadableSectors(runStart_, runLength_);
        runStart_ = sector;
        runLength_ = 1;
    } else if (runLength_ > 0) {
        observer_->unreadableSectors(runStart_, runLength_);
        runLength_ = 0;
    }
}

bool RecoveryCore::jumpToNextHit(SectorFeed &feed, uint64_t &s, size_t &planned)
{
    while (planned < plan_.size() && plan_[planned].sector < s)
        ++planned;  // read differently this time: passed
    if (planned >= plan_.size()) {
        s = end_sector;
        for_index.store(s, std::memory_order_relaxed);
        return false;
    }
    // Read the header's sector (and what a check looks at); the file's own reach is set when
    // its header is taken.
    feed.readUpTo(plan_[planned].sector + 1);
    feed.skipTo(plan_[planned].sector);
    s = plan_[planned].sector;
    for_index.store(s, std::memory_order_relaxed);
    return true;
}

RecoveryCore::FeedStep RecoveryCore::feedSector(SectorFeed &feed, uint64_t &s, const unsigned char **bytes, bool &anyRead)
{
    uint64_t sector = 0;
    bool unreadable = false;
    const SectorFeed::Result r = feed.next(&sector, bytes, &unreadable);
    if (r == SectorFeed::End)
        return FeedStep::End;
    if (r == SectorFeed::Lost)
        return FeedStep::Lost;
    if (unreadable || runLength_ > 0)
        reportUnreadable(sector, unreadable);
    anyRead = anyRead || !unreadable;
    s = sector + 1;
    for_index.store(s, std::memory_order_relaxed);
    return FeedStep::Sector;
}

uint64_t RecoveryCore::passQuietSectors(SectorFeed &feed, uint64_t &s, uint64_t most, const PassMatcher &matcher,
                                        const PassMatcher *thorough, const Remnants *remnants, const unsigned char **run)
{
    if (runLength_ > 0)
        return 0;  // the unreadable run is reported by the next sector read
    uint64_t n = std::min<uint64_t>(feed.upcoming(run), most);
    if (remnants)
        n = std::min(n, remnants->mustSee() > s ? remnants->mustSee() - s : 0);
    uint64_t quiet = 0;
    for (const unsigned char *b = *run; quiet < n; ++quiet, b += kSectorSize) {
        __builtin_prefetch(b + 8 * kSectorSize);  // the loop touches one line in eight
        if (matcher.mayMatch(b) || (thorough && thorough->mayMatch(b)) || (remnants && remnants->mayBeDirectory(b)))
            break;
    }
    if (quiet > 0) {
        feed.advance(size_t(quiet));
        s += quiet;
        for_index.store(s, std::memory_order_relaxed);
    }
    return quiet;
}

HitView RecoveryCore::hitView(const SectorFeed &feed)
{
    // The check looks at a few KiB at most: the sector and what follows it, within the range.
    return HitView{feed.window(), feed.behind() + std::min<size_t>(feed.ahead(), kSectorSize + SectorFeed::kAhead), feed.behind()};
}

int RecoveryCore::acceptedRecord(const QStringList &records, const PassMatcher &matcher, const SectorFeed &feed,
                                 const unsigned char *bytes, std::vector<int> &candidates, QString *type)
{
    const int first = matcher.first(bytes);
    if (first < 0)
        return -1;
    // The first record in list order whose header matches and whose format's check agrees.
    matcher.matchingFrom(bytes, first, candidates);
    for (int r : candidates) {
        const HeaderCheck check = headerCheck(field(records, r, Ext_Name), hitView(feed));
        if (check.ok) {
            *type = check.type;
            return r;
        }
    }
    return -1;
}

void RecoveryCore::acceptedRecords(const QStringList &records, const PassMatcher &matcher, const SectorFeed &feed,
                                   const unsigned char *bytes, std::vector<int> &joining,
                                   std::vector<std::pair<int, QString>> &out)
{
    out.clear();
    if (!matcher.mayMatch(bytes))  // nearly every sector ends here
        return;
    const int first = matcher.first(bytes);
    if (first < 0)
        return;
    matcher.matchingFrom(bytes, first, joining);
    for (int k : joining) {
        const QString ext = field(records, k, Ext_Name);
        const HeaderCheck check = headerCheck(ext, hitView(feed));
        if (!check.ok)
            continue;
        // A finer type counts in its own row when the scan has one for it.
        const bool ownRow = !check.type.isEmpty() && std::any_of(nsSIGFileInfoDataObject.begin(), nsSIGFileInfoDataObject.end(),
                                                                [&](const FoundFilesRow &row) { return row.FileTypes == check.type; });
        out.emplace_back(k, ownRow ? check.type : ext);
    }
}

void RecoveryCore::obeyStop(SectorReader &reader, const std::function<void()> &handOver)
{
    stop_now = 0;
    reader.close();
    pFile_Disk = nullptr;
    observer_->endTimer();
    reportUnreadable(0, false);
    handOver();  // what was being carved is kept
    stopped_ = true;
    Final_or_Stop_Screen();
}

// After the loop: the pass fails only when the medium was lost or nothing could be read.
bool RecoveryCore::endOfRange(bool lost, bool anyRead, int error)
{
    reportUnreadable(0, false);
    if (!lost && anyRead)
        return true;
    failed_ = true;
    QString why;
    // A card pulled out: its node goes (a USB reader or stick), or its drive says so.
    const bool removed = lost && (error == ENODEV || error == ENOMEDIUM || !QFileInfo::exists(request_.devicePath));
    if (removed)
        why = QStringLiteral("The medium was removed. It stopped answering at sector %1.").arg(for_index.load());
    else if (lost)
        why = QStringLiteral("The medium stopped answering at sector %1. It may have been removed.").arg(for_index.load());
    else if (for_index > start_sector)
        why = QStringLiteral("None of the %1 sectors searched could be read.").arg(for_index - start_sector);
    observer_->alert(kReadError, why);
    return false;
}

// ---- Photo carving ----

bool RecoveryCore::Photo_Recovey_Mode(const QString &tag)
{
    passStart(tag);
    SectorReader reader(scanOpener_);
    if (!openForPass(reader))
        return false;
    const bool general = tag == QLatin1String("GEN");
    const bool thorough = tag == QLatin1String("THD");
    REC_PROC_Array = general ? Ext_Array : thorough ? Adv_Ext_Array : QStringList();
    const PassMatcher matcher(REC_PROC_Array);
    const bool stream = observer_->wantsFileData();
    // The General pass notes the Thorough headers; the Thorough pass then replays them.
    const bool noting = general && request_.thorough;
    const bool replay = thorough && planReady_;
    if (general) {
        plan_.clear();
        planReady_ = false;
    }
    std::unique_ptr<PassMatcher> thoroughMatcher = noting ? std::make_unique<PassMatcher>(Adv_Ext_Array) : nullptr;
    size_t planned = 0;
    Remnants *remnants = general ? request_.remnants.get() : nullptr;  // the General pass reads every sector
    if (remnants)
        remnants->beginScan(start_sector, end_sector, mediumBytes_);

    bool collecting = false;
    QString name, uid, ext;
    uint64_t bytes_ = 0, limit = 0, fileStart = 0, fileSectors = 0, count = 0, serial = 0;
    // The first bytes of the file being collected (for its thumbnail) stay pinned in the feed's
    // buffer, where they were read: no copy of their own.
    size_t collected = 0;
    uint64_t s = start_sector;
    SectorFeed feed(reader, start_sector, end_sector, 8192, kPhotoPrefixBytes);
    bool lost = false, anyRead = false;

    auto handOver = [&](bool byNextHeader) {
        if (collecting && fileSectors > 0) {
            FoundFile f;
            f.serial = serial;
            f.name = name;
            f.uid = uid;
            f.extension = ext;
            f.tag = tag;
            f.startSector = fileStart;
            f.endSector = fileStart + fileSectors;
            f.carvedBytes = fileSectors * kSectorSize;
            f.endsAtNextFile = byNextHeader;
            f.bytes = QByteArrayView(feed.pinned(), qsizetype(collected));
            request_.remnants->noteFound(fileStart * kSectorSize, f.carvedBytes, ext);
            ++filesFound_;
            observer_->fileFound(std::move(f));
        } else if (collecting && stream) {
            observer_->fileDropped(serial);
        }
        collected = 0;
        feed.unpin();
        fileSectors = 0;
    };

    std::vector<int> candidates;
    while (!REC_PROC_Array.isEmpty()) {
        if (stop_now.load(std::memory_order_relaxed) == 1) {
            obeyStop(reader, [&] { handOver(false); });
            return false;
        }
        // Nothing is being collected: on to the next header, reading nothing between.
        if (replay && !collecting && !jumpToNextHit(feed, s, planned))
            break;
        // Sectors with nothing to start are passed over together; only the file being
        // collected takes them (the sector at its limit ends it, so the run stops before).
        if (!replay) {
            const unsigned char *run = nullptr;
            const uint64_t most = collecting ? (limit - 1 - bytes_) / kSectorSize : UINT64_MAX;
            const uint64_t quiet = passQuietSectors(feed, s, most, matcher, thoroughMatcher.get(), remnants, &run);
            if (quiet > 0) {
                anyRead = true;
                if (collecting) {
                    bytes_ += quiet * kSectorSize;
                    fileSectors += quiet;
                    collected = size_t(std::min<uint64_t>(collected + quiet * kSectorSize, kPhotoPrefixBytes / kSectorSize * kSectorSize));
                    feed.setPinned(collected);
                    if (stream)
                        observer_->fileData(serial, run, size_t(quiet) * kSectorSize);
                }
            }
        }
        const unsigned char *bytes = nullptr;
        const FeedStep step = feedSector(feed, s, &bytes, anyRead);
        if (step == FeedStep::End)
            break;
        if (step == FeedStep::Lost) {
            lost = true;
            break;
        }
        // What the card's directories remember is read from the sectors as they pass (a blank
        // one is turned away at its first byte).
        if (remnants)
            remnants->sector(s - 1, bytes, feed.behind(), feed.ahead());
        // Nearly every sector is passed over by the lookup tables before anything else is done.
        const bool mayStart = !replay && matcher.mayMatch(bytes);
        const bool mayNote = noting && thoroughMatcher->mayMatch(bytes);
        const bool plannedHere = replay && planned < plan_.size() && plan_[planned].sector == s - 1;
        if ((mayStart || mayNote || plannedHere) && std::memcmp(bytes, kBlank, kSectorSize) != 0) {
            QString refined;
            int r = -1;
            if (replay) {
                if (planned < plan_.size() && plan_[planned].sector == s - 1) {
                    r = plan_[planned].records.front().first;
                    refined = plan_[planned].records.front().second;
                    ++planned;
                    // The file reaches at most to the next header or its size limit: read no further.
                    const uint64_t limitBytes = static_cast<uint64_t>(leadingInt64(field(REC_PROC_Array, r, Max_File_Size)));
                    const uint64_t fileSectors = limitBytes > 0 ? (limitBytes - 1) / kSectorSize + 1 : 1;
                    const uint64_t following = planned < plan_.size() ? plan_[planned].sector : end_sector.load();
                    feed.readUpTo(std::min({following, s - 1 + fileSectors, end_sector.load()}));
                }
            } else if (mayStart) {
                r = acceptedRecord(REC_PROC_Array, matcher, feed, bytes, candidates, &refined);
            }
            if (mayNote) {
                QString thoroughType;
                const int t = acceptedRecord(Adv_Ext_Array, *thoroughMatcher, feed, bytes, candidates, &thoroughType);
                if (t >= 0)
                    plan_.push_back({s - 1, {{t, thoroughType}}});
            }
            if (r >= 0) {
                if (collecting)
                    handOver(true);  // the file so far, without this sector
                collecting = true;
                ++count;
                ext = refined.isEmpty() ? field(REC_PROC_Array, r, Ext_Name) : refined;
                if (thorough) {
                    ++THD_Image_number;
                    name = Generate_File_Name(count, QStringLiteral("THD"), ext, 0, {});
                    uid = Generate_File_UID_Num(THD_Image_number, true, ext);
                } else {
                    ++GND_Image_number;
                    name = Generate_File_Name(count, QStringLiteral("GND"), ext, 0, {});
                    uid = Generate_File_UID_Num(GND_Image_number, false, ext);
                }
                bytes_ = 0;
                limit = static_cast<uint64_t>(leadingInt64(field(REC_PROC_Array, r, Max_File_Size)));
                fileStart = s - 1;
                serial = nextSerial();
                if (stream)
                    observer_->fileStarted({serial, name, ext, tag, fileStart});
            }
        }
        if (collecting) {
            bytes_ += kSectorSize;
            if (bytes_ >= limit) {
                bytes_ = 0;
                handOver(false);
                collecting = false;
                continue;
            }
            if (fileSectors == 0)
                feed.pin();
            if (collected + kSectorSize <= kPhotoPrefixBytes) {
                collected += kSectorSize;
                feed.setPinned(collected);
            }
            // Beyond the prefix only a saver that streams keeps the sectors.
            ++fileSectors;
            if (stream)
                observer_->fileData(serial, bytes, kSectorSize);
        }
    }
    handOver(false);
    reader.close();
    pFile_Disk = nullptr;
    const bool ok = endOfRange(lost, anyRead || (replay && !lost), reader.lastError());
    planReady_ = noting && ok;
    if (remnants && ok)
        remnants->endDirectories();
    return ok;
}

// ---- Video and raw-file carving ----

void RecoveryCore::finishRaw(qsizetype pending, uint64_t groupStart, uint64_t end, bool byNextHeader)
{
    const qsizetype at = pending * kRecordStrings;
    const uint64_t serial = size_t(pending) < pendingSerials_.size() ? pendingSerials_[size_t(pending)] : 0;
    // An item needs a name: one that is only blank gives none.
    const QString name = MultiHeader_Array.at(at + 5).trimmed();
    if (name.isEmpty()) {
        if (observer_->wantsFileData())
            observer_->fileDropped(serial);
        return;
    }
    countFoundFile(nsSIGFileInfoDataObject, name);
    FoundFile f;
    f.serial = serial;
    f.name = name;
    f.uid = MultiHeader_Array.at(at + 6);
    f.extension = MultiHeader_Array.at(at);
    f.tag = passTag_;
    f.startSector = groupStart;
    f.endSector = end;
    f.carvedBytes = (end - groupStart - (byNextHeader ? 1 : 0)) * kSectorSize;
    f.endsAtNextFile = byNextHeader;
    f.plannedPath = MultiHeader_Array.at(at + 4);
    f.lastSectorIsNextHeader = byNextHeader;
    request_.remnants->noteFound(groupStart * kSectorSize, f.carvedBytes, f.extension);
    ++filesFound_;
    observer_->fileFound(std::move(f));
}

bool RecoveryCore::Raw_File_Recovey_Mode(const QString &tag)
{
    const bool general = tag == QLatin1String("GEN");
    if (general)
        MultiHeader_Array.clear();
    pendingSerials_.clear();
    passStart(tag);
    SectorReader reader(scanOpener_);
    if (!openForPass(reader))
        return false;
    REC_PROC_Array = general ? CheckListHeader_Array
                     : tag == QLatin1String("THD") ? CheckListHeader_Adv_Array
                                                   : QStringList();
    const PassMatcher matcher(REC_PROC_Array);
    const bool stream = observer_->wantsFileData();
    // The General pass notes the Thorough headers; the Thorough pass then replays them.
    const bool noting = general && request_.thorough;
    const bool replay = tag == QLatin1String("THD") && planReady_;
    if (general) {
        plan_.clear();
        planReady_ = false;
    }
    std::unique_ptr<PassMatcher> thoroughMatcher = noting ? std::make_unique<PassMatcher>(CheckListHeader_Adv_Array) : nullptr;
    std::vector<std::pair<int, QString>> thoroughHits;
    size_t planned = 0;
    Remnants *remnants = general ? request_.remnants.get() : nullptr;  // the General pass reads every sector
    if (remnants)
        remnants->beginScan(start_sector, end_sector, mediumBytes_);

    bool groupOpen = false, headerFound = false;
    uint64_t groupBytes = 0, groupStart = 0, counter = 0;
    const unsigned char *sector = nullptr;
    std::vector<int> joining;
    std::vector<std::pair<int, QString>> accepted;  // record and the type it names
    bool lost = false, anyRead = false, noRecords = false;

    auto finishAll = [&](uint64_t end, bool byNextHeader) {
        for (qsizetype p = 0; p < MultiHeader_Array.size() / kRecordStrings; ++p)
            finishRaw(p, groupStart, end, byNextHeader);
        pendingSerials_.clear();
    };
    // The sector belongs to every file of the open group.
    auto streamSector = [&] {
        if (stream)
            for (uint64_t serial : pendingSerials_)
                observer_->fileData(serial, sector, kSectorSize);
    };
    auto account = [&](uint64_t next) {
        if (!headerFound)
            groupBytes += kSectorSize;
        qsizetype p = 0;
        while (p * kRecordStrings < MultiHeader_Array.size()) {
            if (kRawFileLimit <= groupBytes) {  // every pending file has the fixed limit
                finishRaw(p, groupStart, next, false);
                MultiHeader_Array.remove(p * kRecordStrings, kRecordStrings);
                pendingSerials_.erase(pendingSerials_.begin() + p);
            } else {
                ++p;
            }
        }
        headerFound = false;
        if (MultiHeader_Array.isEmpty())
            groupBytes = groupStart = 0;
    };

    uint64_t s = start_sector;
    SectorFeed feed(reader, start_sector, end_sector);
    for (;;) {
        if (REC_PROC_Array.isEmpty()) {
            noRecords = start_sector < end_sector;
            break;
        }
        if (stop_now.load(std::memory_order_relaxed) == 1) {
            obeyStop(reader, [&] { finishAll(s, false); });  // the entries stay until the next General pass
            return false;
        }
        // No file is open: on to the next header, reading nothing between.
        if (replay && MultiHeader_Array.isEmpty() && !jumpToNextHit(feed, s, planned))
            break;
        // Sectors with nothing to start (blank ones included) are passed over together; the
        // open files take them, up to their fixed limit.
        if (!replay) {
            const bool open = groupOpen && !MultiHeader_Array.isEmpty();
            const uint64_t most = open ? (kRawFileLimit - 1 - groupBytes) / kSectorSize : UINT64_MAX;
            const uint64_t quiet = passQuietSectors(feed, s, most, matcher, thoroughMatcher.get(), remnants, &sector);
            if (quiet > 0) {
                anyRead = true;
                if (open) {
                    groupBytes += quiet * kSectorSize;
                    if (stream)
                        for (uint64_t serial : pendingSerials_)
                            observer_->fileData(serial, sector, size_t(quiet) * kSectorSize);
                }
            }
        }
        const FeedStep step = feedSector(feed, s, &sector, anyRead);
        if (step == FeedStep::End)
            break;
        if (step == FeedStep::Lost) {
            lost = true;
            break;
        }
        if (std::memcmp(sector, kBlank, kSectorSize) == 0) {
            if (groupOpen) {
                streamSector();
                account(s);
            }
            continue;
        }
        if (remnants)
            remnants->sector(s - 1, sector, feed.behind(), feed.ahead());
        // Every record whose own header matches, and whose format's check agrees, starts a file.
        accepted.clear();
        if (replay) {
            if (planned < plan_.size() && plan_[planned].sector == s - 1) {
                accepted = plan_[planned].records;
                ++planned;
                // The files reach at most to the next header or the fixed limit: read no further.
                const uint64_t following = planned < plan_.size() ? plan_[planned].sector + 1 : end_sector.load();
                feed.readUpTo(std::min({following, s - 1 + kRawFileLimit / kSectorSize + 1, end_sector.load()}));
            }
        } else {
            acceptedRecords(REC_PROC_Array, matcher, feed, sector, joining, accepted);
        }
        if (noting) {
            acceptedRecords(CheckListHeader_Adv_Array, *thoroughMatcher, feed, sector, joining, thoroughHits);
            if (!thoroughHits.empty())
                plan_.push_back({s - 1, thoroughHits});
        }
        if (!accepted.empty()) {
            if (groupOpen) {
                finishAll(s, true);  // the finished files include the sector with the new header
                MultiHeader_Array.clear();
                groupBytes = groupStart = 0;
            }
            headerFound = true;
            groupBytes += kSectorSize;
            // One file per type.
            QSet<QString> types;
            for (const auto &[k, ext] : accepted) {
                if (types.contains(ext))
                    continue;
                types.insert(ext);
                groupStart = s - 1;
                ++counter;
                const QString name = Generate_File_Name(counter, ext, ext, Recovery_MODE, nsSIGFileInfoDataObject);
                const QString planned = request_.outputFolder.isEmpty()
                                            ? ext + QLatin1Char('/') + name
                                            : QDir(request_.outputFolder).filePath(ext + QLatin1Char('/') + name);
                MultiHeader_Array << ext << QString::number(kRawFileLimit) << field(REC_PROC_Array, k, Header_Hex)
                                  << QStringLiteral("0") << planned << name << name;
                pendingSerials_.push_back(nextSerial());
                if (stream)
                    observer_->fileStarted({pendingSerials_.back(), name.trimmed(), ext, tag, groupStart});
            }
        }
        if (headerFound)
            groupOpen = true;
        if (groupOpen) {
            streamSector();
            account(s);
        }
    }
    finishAll(s, false);
    MultiHeader_Array.clear();
    reader.close();
    pFile_Disk = nullptr;
    if (noRecords && !lost) {
        reportUnreadable(0, false);
        planReady_ = noting;
        return true;
    }
    const bool ok = endOfRange(lost, anyRead || (replay && !lost), reader.lastError());
    planReady_ = noting && ok;
    if (remnants && ok)
        remnants->endDirectories();
    return ok;
}

} // namespace lumafind
