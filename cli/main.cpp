// lumafind-cli: the whole recovery from a terminal, with the same databases, passes, rules,
// names and messages as the wizard.
//
//   lumafind-cli list [--json]
//   lumafind-cli formats [--mode photo|video|raw]
//   lumafind-cli scan [SOURCE] [--mode photo|video|raw] [--types EXT,...] [--thorough | --no-thorough]
//                     [--start N --end M] [--out DIR] [--report FILE.csv] [--names generated|original] [--quiet]
#include "catalogue/checklist.h"
#include "catalogue/formatsdoc.h"
#include "common/resources.h"
#include "engine/progress.h"
#include "engine/recoverycore.h"
#include "engine/scansession.h"
#include "media/samemedium.h"
#include "media/scanrange.h"
#include "media/udisks2.h"
#include "media/volumes.h"
#include "results/metadata.h"
#include "results/outputfolder.h"
#include "results/saver.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <linux/fs.h>
#include <mutex>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace lumafind;

namespace {

enum Exit { kOk = 0, kMedium = 1, kUsage = 2, kIncomplete = 3, kStopped = 130 };

const char *kUsageText =
    "usage: lumafind-cli list [--json]\n"
    "       lumafind-cli formats [--mode photo|video|raw]\n"
    "       lumafind-cli scan [SOURCE] [--mode photo|video|raw] [--types EXT,EXT,...] [--thorough | --no-thorough]\n"
    "                         [--start N --end M] [--out DIR] [--report FILE.csv] [--names generated|original] [--quiet]\n";

void err(const QString &text)
{
    std::fprintf(stderr, "lumafind-cli: %s\n", qPrintable(text));
}

int usage(const QString &problem)
{
    if (!problem.isEmpty())
        err(problem);
    std::fputs(kUsageText, stderr);
    return kUsage;
}

int modeFromName(const QString &name)
{
    if (name == QLatin1String("photo"))
        return 0;
    if (name == QLatin1String("video"))
        return 1;
    if (name == QLatin1String("raw"))
        return 2;
    return -1;
}

const char *kModeNames[] = {"photo", "video", "raw"};

// ---- list ----

int cmdList(const QStringList &args)
{
    bool json = false;
    for (const QString &a : args) {
        if (a == QLatin1String("--json"))
            json = true;
        else
            return usage(QStringLiteral("unknown option %1").arg(a));
    }
    const QList<MyDataObject> rows = getVolumeToFSGetInfo();
    if (json) {
        QJsonArray out;
        for (const MyDataObject &r : rows)
            out.append(QJsonObject{{"identifier", r.nsStrDiskIdentifier()}, {"volume", r.nsStrVolName()},
                                   {"filesystem", r.nsStrFileSystem()}, {"capacity", r.nsStrSize()},
                                   {"parent", r.nsStrParentDisk()}, {"sectors", r.nsStrSectors()}});
        std::printf("%s\n", QJsonDocument(out).toJson(QJsonDocument::Indented).constData());
        return kOk;
    }
    if (rows.isEmpty()) {
        std::printf("No removable media found. A disk image can be scanned with: lumafind-cli scan IMAGE\n");
        return kOk;
    }
    std::printf("%-14s %-16s %-16s %-14s %-10s %s\n", "IDENTIFIER", "VOLUME", "FILE SYSTEM", "CAPACITY", "PARENT", "SECTORS");
    for (const MyDataObject &r : rows)
        std::printf("%-14s %-16s %-16s %-14s %-10s %s\n", qPrintable(r.nsStrDiskIdentifier()), qPrintable(r.nsStrVolName()),
                    qPrintable(r.nsStrFileSystem()), qPrintable(r.nsStrSize().trimmed()), qPrintable(r.nsStrParentDisk()),
                    qPrintable(r.nsStrSectors()));
    return kOk;
}

// ---- formats ----

int cmdFormats(const QStringList &args)
{
    int mode = 0;
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--mode") && i + 1 < args.size()) {
            mode = modeFromName(args[++i]);
            if (mode < 0)
                return usage(QStringLiteral("--mode is photo, video or raw"));
        } else {
            return usage(QStringLiteral("unknown option %1").arg(args[i]));
        }
    }
    Catalogue cat;
    cat.loadAll(resourceDir());
    std::printf("%-7s %-34s %-10s %-12s %-16s %s\n", "TYPE", "HEADER", "POSITION", "LIMIT", "DATABASE", "DESCRIPTION");
    const char *names[3][2] = {{"KovExt2.dll", "KovExt2Adv.dll"}, {"KovVideo.dll", "KovVideoAdv.dll"}, {"KovRaw.dll", "KovRawAdv.dll"}};
    for (int adv = 0; adv < 2; ++adv) {
        const QStringList &list = adv ? cat.advancedFor(mode) : cat.basicFor(mode);
        for (const FormatLine &l : formatLines(QString::fromLatin1(names[mode][adv]), list))
            std::printf("%-7s %-34s %-10s %-12s %-16s %s\n", qPrintable(l.extension), qPrintable(l.header), qPrintable(l.position),
                        qPrintable(l.limit), qPrintable(l.database), qPrintable(l.description));
    }
    return kOk;
}

// ---- scan ----

// Ctrl-C (or SIGTERM): during the scan it is the Stop button (what was being carved is kept
// and saved); while files are being saved afterwards it cancels the saving; a second one
// while saving ends the program at once.
std::atomic<RecoveryCore *> gCore{nullptr};
std::atomic<bool> gInterrupted{false};
std::atomic<bool> gSaving{false};
std::atomic<bool> gCancelSaving{false};

extern "C" void onInterrupt(int)
{
    gInterrupted = true;
    if (gSaving) {
        if (gCancelSaving.exchange(true))
            _exit(kStopped);
        return;
    }
    if (RecoveryCore *c = gCore.load())
        c->stop_now = 1;  // the Stop button
}

struct Source {
    QString path;      // what is opened
    QString sectors;   // sector count as text (a partial last sector counts)
    uint64_t bytes = 0;
    MediumIdentity medium;  // what nothing may be written onto
};

// SOURCE: a device identifier (sdb1), a /dev path, or a disk image file.
// access: how the medium is opened (a device the user may not read, through the system's
// storage service).
int resolveSource(const QString &arg, Source *out, MediumAccess &access)
{
    QString path = arg;
    if (path.isEmpty()) {
        // Only a build has the sample card; an installed copy needs a SOURCE.
        path = resourceDir() + QStringLiteral("/sample-card.img");
        if (!QFile::exists(path))
            return usage(QStringLiteral("name the device or disk image to scan (see lumafind-cli list); "
                                        "there is no sample card at %1").arg(path));
    } else if (!arg.contains(QLatin1Char('/')) && !QFileInfo::exists(arg)) {
        path.clear();
        for (const MyDataObject &r : getVolumeToFSGetInfo())
            if (r.nsStrDiskIdentifier() == arg)
                path = r.devicePath();
        if (path.isEmpty() && QFileInfo::exists(QStringLiteral("/dev/") + arg))
            path = QStringLiteral("/dev/") + arg;
        if (path.isEmpty()) {
            err(QStringLiteral("no medium or file named %1 (see lumafind-cli list)").arg(arg));
            return kUsage;
        }
    }
    path = QFileInfo(path).absoluteFilePath();
    // Only a disk, a partition or an image is opened, and never blocks (a FIFO would).
    const int fd = access.descriptor(path);
    if (fd < 0) {
        const int e = errno;
        const QString refusal = takeOpenRefusal();
        err(QStringLiteral("Error in storage media reading. ")
            + (refusal.isEmpty() ? openFailureReason(e, path) : openRefusalReason(refusal, path)));
        return kMedium;
    }
    struct stat st {};
    fstat(fd, &st);
    uint64_t bytes = 0;
    if (S_ISBLK(st.st_mode)) {
        if (ioctl(fd, BLKGETSIZE64, &bytes) != 0)
            bytes = 0;
    } else {
        bytes = uint64_t(st.st_size);
    }
    out->medium = MediumIdentity::ofFd(fd, path);
    ::close(fd);
    if (S_ISREG(st.st_mode) && bytes == 0) {
        err(QStringLiteral("Error in storage media reading. %1: the image is empty.").arg(path));
        return kMedium;
    }
    out->path = path;
    out->bytes = bytes;
    out->sectors = QString::number(sectorsFor(bytes));
    return kOk;
}

QString csv(const QString &v)
{
    if (!v.contains(QLatin1Char(',')) && !v.contains(QLatin1Char('"')) && !v.contains(QLatin1Char('\n')))
        return v;
    return QLatin1Char('"') + QString(v).replace(QStringLiteral("\""), QStringLiteral("\"\"")) + QLatin1Char('"');
}

class CliObserver : public ScanObserver {
public:
    FileSaver *saver = nullptr;
    std::mutex mutex;
    QList<SaveRecord> found;  // when nothing is saved
    QMap<QString, uint64_t> perType;
    std::atomic<int> passes{0};  // passes started

    void passStarted(const PassStart &) override { ++passes; }
    bool wantsFileData() const override { return saver != nullptr; }
    void fileStarted(const FileStart &f) override { saver->started(f); }
    void fileData(uint64_t serial, const unsigned char *b, size_t n) override { saver->data(serial, b, n); }
    void fileDropped(uint64_t serial) override { saver->dropped(serial); }
    void fileFound(FoundFile &&f) override
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            ++perType[f.extension];
            if (!saver) {
                found.append(recordOf(f));
                // A photo's first bytes are at hand: its date costs no read of the medium.
                if (!f.bytes.isNull())
                    if (const auto t = captureTime(f.extension, f.bytes))
                        found.last().captured = t->iso();
            }
        }
        if (saver)
            saver->add(f);
    }
    void alert(const QString &message, const QString &informative) override
    {
        err(message.trimmed() + (informative.isEmpty() ? QString() : QLatin1Char(' ') + informative));
    }
    void endOfScan(const ScanSummary &) override {}
    QString perTypeText()
    {
        std::lock_guard<std::mutex> lock(mutex);
        QStringList parts;
        for (auto it = perType.cbegin(); it != perType.cend(); ++it)
            parts << QStringLiteral("%1 %2").arg(it.key()).arg(it.value());
        return parts.join(QStringLiteral("  "));
    }
};

void printProgress(RecoveryCore &core, CliObserver &obs, QElapsedTimer &clock, ProgressEstimator &estimate, int passes)
{
    const uint64_t start = core.start_sector, end = core.end_sector, total = core.total_sector;
    const uint64_t at = core.for_index;
    const uint64_t done = at > start ? at - start : 0;
    const double pct = total ? 100.0 * double(std::min(done, total)) / double(total) : 0.0;
    // Elapsed, speed and time left over the whole scan (a Thorough pass reads the range again).
    const ScanAmount whole = scanAmount(obs.passes, passes, start, at, end);
    estimate.update(double(clock.elapsed()) / 1000.0, whole.done, whole.total);
    const std::optional<double> left = estimate.secondsLeft();
    char bar[21];
    const int filled = int(pct / 5.0);
    for (int i = 0; i < 20; ++i)
        bar[i] = i < filled ? '#' : '.';
    bar[20] = 0;
    std::fprintf(stderr, "\r\x1b[K[%s] %3.0f%%  %llu of %llu sectors  %s elapsed  %.1f MB/s  %s left  %llu found  %s", bar, pct,
                 static_cast<unsigned long long>(at), static_cast<unsigned long long>(end),
                 qPrintable(durationText(estimate.elapsed())), estimate.bytesPerSecond() / 1e6,
                 left ? qPrintable(durationText(*left)) : "-:--", static_cast<unsigned long long>(core.filesFound()),
                 qPrintable(obs.perTypeText()));
    std::fflush(stderr);
}

QByteArray reportText(const QList<SaveRecord> &records)
{
    // The first seven columns are the contract; how each file was cut, which saved file holds
    // it, anything worth knowing about it and when it was captured follow; then what the
    // card's directory remembers of it. Files the card remembers but the scan did not find
    // come last, with an empty name.
    QByteArray text = "name,type,pass,start_sector,end_sector,bytes,saved_path,extent,contained_in,note,captured,"
                      "original_name,modified,length_from,pieces\n";
    for (const SaveRecord &r : records) {
        const QString extent = r.remembered ? QString() : r.extent.isEmpty() ? QStringLiteral("carved") : r.extent;
        const QString from = r.lengthFrom.isEmpty() ? extent : r.lengthFrom;
        text += QStringLiteral("%1,%2,%3,%4,%5,%6,%7,%8,%9,%10,%11,")
                    .arg(csv(r.name), csv(r.type), r.pass)
                    .arg(r.startSector)
                    .arg(r.endSector)
                    .arg(r.bytes)
                    .arg(csv(r.savedPath), extent, csv(r.containedIn), csv(r.error.isEmpty() ? r.note : r.error), r.captured)
                    .toUtf8();
        text += QStringLiteral("%1,%2,%3,%4\n")
                    .arg(csv(r.originalName), r.modified, from, r.pieces > 0 ? QString::number(r.pieces) : QString())
                    .toUtf8();
    }
    return text;
}

int cmdScan(const QStringList &args)
{
    QString sourceArg, outDir, reportPath, types, start, end;
    int mode = 0;
    bool thorough = true, quiet = false, typesGiven = false, startGiven = false, endGiven = false, outGiven = false,
         reportGiven = false, originalNames = false;
    int thoroughFlags = 0;
    for (int i = 0; i < args.size(); ++i) {
        const QString &a = args[i];
        auto value = [&](QString *into) {
            if (i + 1 >= args.size())
                return false;
            *into = args[++i];
            return true;
        };
        QString v;
        if (a == QLatin1String("--mode")) {
            if (!value(&v) || (mode = modeFromName(v)) < 0)
                return usage(QStringLiteral("--mode is photo, video or raw"));
        } else if (a == QLatin1String("--types")) {
            if (!value(&types))
                return usage(QStringLiteral("--types needs a list of types"));
            typesGiven = true;
        } else if (a == QLatin1String("--thorough")) {
            thorough = true;
            ++thoroughFlags;
        } else if (a == QLatin1String("--no-thorough")) {
            thorough = false;
            ++thoroughFlags;
        } else if (a == QLatin1String("--start")) {
            if (!value(&start))
                return usage(QStringLiteral("--start needs a sector"));
            startGiven = true;
        } else if (a == QLatin1String("--end")) {
            if (!value(&end))
                return usage(QStringLiteral("--end needs a sector"));
            endGiven = true;
        } else if (a == QLatin1String("--out")) {
            if (!value(&outDir))
                return usage(QStringLiteral("--out needs a folder"));
            outGiven = true;
        } else if (a == QLatin1String("--report")) {
            if (!value(&reportPath))
                return usage(QStringLiteral("--report needs a file"));
            reportGiven = true;
        } else if (a == QLatin1String("--names")) {
            if (!value(&v) || (v != QLatin1String("original") && v != QLatin1String("generated")))
                return usage(QStringLiteral("--names is generated (GND00001.JPG, the default) or original (as the card remembers them)"));
            originalNames = v == QLatin1String("original");
        } else if (a == QLatin1String("--quiet")) {
            quiet = true;
        } else if (a.startsWith(QLatin1String("--"))) {
            return usage(QStringLiteral("unknown option %1").arg(a));
        } else if (sourceArg.isEmpty()) {
            sourceArg = a;
        } else {
            return usage(QStringLiteral("only one SOURCE can be scanned at a time"));
        }
    }
    if (thoroughFlags > 1)
        return usage(QStringLiteral("give --thorough or --no-thorough, not both"));
    if (startGiven != endGiven)
        return usage(QStringLiteral("--start and --end go together"));
    if (typesGiven && mode == 0)
        return usage(QStringLiteral("--types applies to video and raw mode; photo mode searches every photo record"));
    if (outGiven && outDir.trimmed().isEmpty())
        return usage(QStringLiteral("--out needs a folder (an empty name would save nothing)"));
    if (reportGiven && reportPath.trimmed().isEmpty())
        return usage(QStringLiteral("--report needs a file name"));
    if (originalNames && !outGiven)
        return usage(QStringLiteral("--names original names saved files: it needs --out"));

    RecoveryCore core;
    const QStringList missing = core.loadResources(resourceDir());
    for (const QString &m : missing)
        err(QStringLiteral("warning: the signature database %1 is missing, unreadable or empty in %2").arg(m, resourceDir()));
    Recovery_MODE = mode;

    // One way to the medium for the whole command: one password prompt at most.
    core.deviceBroker = std::make_shared<UDisks2Broker>();
    const std::shared_ptr<MediumAccess> access = core.newMediumAccess();
    Source source;
    if (int rc = resolveSource(sourceArg, &source, *access))
        return rc;

    RangeControls range{!startGiven, startGiven, source.sectors, start, end};
    const RangeAlert check = checkRange(range);
    if (check.number != 0) {
        err(check.message().mid(1) + (check.informative().isEmpty() ? QString() : QLatin1Char(' ') + check.informative()));
        return kUsage;
    }

    if (mode != 0) {
        QString why;
        const QStringList wanted = types.split(QLatin1Char(','), Qt::SkipEmptyParts);
        if (typesGiven && wanted.isEmpty())
            return usage(QStringLiteral("Please select atleast one extension type."));
        if (!selectTypes(core, mode, wanted, thorough, &why))
            return usage(QStringLiteral("%1 (%2 mode)").arg(why, QLatin1String(kModeNames[mode])));
    }

    // The report's place is checked now, not after a scan of hours. On the medium, or the
    // source image under another name, it would overwrite what is being recovered.
    ReplacingFile report;
    if (reportGiven) {
        QString why;
        if (fileOnMedium(reportPath, source.medium, &why)) {
            err(QStringLiteral("refusing to write the report onto the medium being scanned: ") + why);
            return kUsage;
        }
        if (!report.create(reportPath, &why)) {
            err(QStringLiteral("cannot write the report %1: %2").arg(reportPath, why));
            return kUsage;
        }
    }

    // What the card's directories remember: gathered by the scan, joined to what is saved.
    const auto remnants = std::make_shared<Remnants>();
    std::unique_ptr<FileSaver> saver;
    if (outGiven) {
        QString why;
        if (onMedium(outDir, source.medium, &why)) {
            err(QStringLiteral("refusing to save onto the medium being scanned: ") + why);
            return kUsage;
        }
        saver = std::make_unique<FileSaver>(outDir, MediumRef{source.path, source.bytes, access->opener(), core.badSectors()});
        saver->setRemnants(remnants, originalNames);
        if (!saver->prepare(&why)) {
            err(why);
            return kUsage;
        }
        // The folder as opened, which is what is written through.
        if (onMedium(saver->folderHandle(), outDir, source.medium, &why)) {
            err(QStringLiteral("refusing to save onto the medium being scanned: ") + why);
            return kUsage;
        }
    }

    CliObserver obs;
    obs.saver = saver.get();
    ScanRequest request;
    request.mode = mode;
    request.devicePath = source.path;
    request.range = range;
    request.thorough = thorough;
    request.opener = access->opener();
    request.remnants = remnants;
    request.outputFolder = outGiven ? QFileInfo(outDir).absoluteFilePath() : QString();

    gCore = &core;
    struct sigaction sa {};
    sa.sa_handler = onInterrupt;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);

    const bool showProgress = !quiet && isatty(STDERR_FILENO);
    QElapsedTimer clock;
    clock.start();
    ProgressEstimator estimate;
    const int passes = thorough ? 2 : 1;
    ScanSession session(core);
    session.start(request, &obs);
    while (!session.wait(250))
        if (showProgress)
            printProgress(core, obs, clock, estimate, passes);
    if (showProgress) {
        printProgress(core, obs, clock, estimate, passes);
        std::fputc('\n', stderr);
    }
    gCore = nullptr;

    // What the scan queued is saved now; a signal cancels it.
    gSaving = true;
    if (saver) {
        // Files saved before what the card remembers of them was known are saved again.
        if (!gInterrupted)
            saver->reconcile();
        while (saver->pendingCount() > 0) {
            if (gCancelSaving) {
                saver->cancel(QStringLiteral("saving was interrupted"));
                break;
            }
            if (showProgress) {
                std::fprintf(stderr, "\r\x1b[KSaving: %llu files left", static_cast<unsigned long long>(saver->pendingCount()));
                std::fflush(stderr);
            }
            usleep(100 * 1000);
        }
        saver->finish();
        if (showProgress)
            std::fputs("\r\x1b[K", stderr);
        for (const QString &n : saver->notices())
            err(n);
    }

    ScanResult result = session.result();
    result.interrupted = gInterrupted;
    result.saveFailures = saver ? saver->failedCount() : 0;
    QList<SaveRecord> records = saver ? saver->records() : obs.found;
    if (!saver) {
        // Listed only: what the card remembers of each, by name and time.
        for (SaveRecord &r : records)
            if (const auto e = remnants->entryFor(r.startSector * kSectorSize, r.type)) {
                r.originalName = e->name;
                r.modified = e->modifiedIso();
            }
    }
    const qsizetype foundRows = records.size();
    for (const RememberedFile &f : remnants->unmatched())
        records.append(rememberedRecord(f));
    bool reportFailed = false;
    if (reportGiven) {
        QString why;
        if (!report.commit(reportText(records), &why)) {
            err(QStringLiteral("the report %1 could not be written: %2").arg(report.path().isEmpty() ? reportPath : report.path(), why));
            reportFailed = true;
        }
    }

    const uint64_t unreadable = result.summary.unreadable;
    if (!quiet) {
        QMap<QString, QPair<uint64_t, uint64_t>> table;  // type -> found, saved
        for (const SaveRecord &r : records.first(foundRows)) {
            ++table[r.type].first;
            if (!r.savedPath.isEmpty())
                ++table[r.type].second;
        }
        std::printf("%llu files found in %s (%s mode, sectors %llu to %llu)\n", static_cast<unsigned long long>(foundRows),
                    qPrintable(source.path), kModeNames[mode], static_cast<unsigned long long>(core.start_sector.load()),
                    static_cast<unsigned long long>(core.end_sector.load()));
        if (!table.isEmpty()) {
            std::printf("  %-8s %8s %8s\n", "TYPE", "FOUND", "SAVED");
            for (auto it = table.cbegin(); it != table.cend(); ++it)
                std::printf("  %-8s %8llu %8s\n", qPrintable(it.key()), static_cast<unsigned long long>(it.value().first),
                            saver ? qPrintable(QString::number(it.value().second)) : "-");
        }
        std::printf("unreadable sectors: %llu\n", static_cast<unsigned long long>(unreadable));
        if (const size_t entries = remnants->entryCount()) {
            QStringList kinds;
            for (const FatVolume &v : remnants->volumes())
                kinds << QString::fromLatin1(v.kindName());
            kinds.removeDuplicates();
            std::printf("the card's directories (%s) remember %llu files; %llu of them were not found\n",
                        qPrintable(kinds.join(QStringLiteral(", "))), static_cast<unsigned long long>(entries),
                        static_cast<unsigned long long>(records.size() - foundRows));
        }
        if (saver)
            std::printf("saved %llu files to %s\n", static_cast<unsigned long long>(saver->savedCount()), qPrintable(saver->folder()));
    }
    if (saver && !saver->stopReason().isEmpty())
        err(saver->stopReason() + QStringLiteral(" The report still lists every file found."));

    const int status = result.exitStatus();
    if (status == kOk && reportFailed)
        return kIncomplete;
    return status;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Lumafind"));
    // A file-size limit makes a write fail (and saving stop with a message) instead of killing us.
    std::signal(SIGXFSZ, SIG_IGN);
    QStringList args = app.arguments().mid(1);
    if (args.isEmpty())
        return usage(QString());
    const QString command = args.takeFirst();
    if (command == QLatin1String("list"))
        return cmdList(args);
    if (command == QLatin1String("formats"))
        return cmdFormats(args);
    if (command == QLatin1String("scan"))
        return cmdScan(args);
    if (command == QLatin1String("--help") || command == QLatin1String("-h")) {
        std::fputs(kUsageText, stdout);
        return kOk;
    }
    return usage(QStringLiteral("unknown command %1").arg(command));
}
