// Scan throughput and memory: builds a card image of random data with a few hundred real-looking
// headers, warms the page cache, then times a plain 1 MiB-read pass over the file, a photo
// General pass and a raw-file General pass with every type checked, the same with the Thorough
// pass after them (as a scan runs by default), and with --out the same passes saving what they
// find into DIR (streamed as they read). Each pass runs in a child
// process so its peak resident memory and the bytes it read are its own.
//
//   bench_scan [--size-gib N] [--image PATH] [--keep] [--out DIR]
#include "common/resources.h"
#include "engine/recoverycore.h"
#include "engine/scansession.h"
#include "results/saver.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <cstdio>
#include <cstring>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace lumafind;

namespace {

struct CountingObserver : ScanObserver {
    uint64_t files = 0, bytes = 0;
    FileSaver *saver = nullptr;
    bool wantsFileData() const override { return saver != nullptr; }
    void fileStarted(const FileStart &f) override { saver->started(f); }
    void fileData(uint64_t serial, const unsigned char *b, size_t n) override { saver->data(serial, b, n); }
    void fileDropped(uint64_t serial) override { saver->dropped(serial); }
    void fileFound(FoundFile &&f) override
    {
        ++files;
        bytes += uint64_t(f.bytes.size());  // a front end would copy or write them here
        if (saver)
            saver->add(f);
    }
    void alert(const QString &m, const QString &i) override { std::fprintf(stderr, "alert: %s %s\n", qPrintable(m.trimmed()), qPrintable(i)); }
    void endOfScan(const ScanSummary &) override {}
};

uint64_t rng = 0x9E3779B97F4A7C15ull;
inline uint64_t next()
{
    rng ^= rng << 13;
    rng ^= rng >> 7;
    rng ^= rng << 17;
    return rng;
}

// Real-looking first sectors of the files a card holds: headers that pass their format's
// check, followed on the card by random bytes.
QList<QByteArray> headerSamples()
{
    auto hex = [](const char *h) { return QByteArray::fromHex(h); };
    QByteArray jpeg = hex("FFD8FFE000104A46494600010100000100010000");       // SOI, JFIF
    jpeg += hex("FFDB004300") + QByteArray(64, 1);                            // a quantisation table
    jpeg += hex("FFC00011080100010003012200021101031101");                    // a baseline frame
    jpeg += hex("FFDA000C03010002110311003F00");                              // the scan starts
    QByteArray exif = jpeg;
    exif.replace(2, 18, hex("FFE1001045786966000049492A0008000000"));       // an Exif APP1 instead
    QByteArray mp4 = hex("000000186674797069736F6D0000020069736F6D6D7034320000100066726565");
    QByteArray mov = hex("000000146674797071742020000000007174202000001000776964650000000866726565");
    QByteArray avi = hex("52494646") + QByteArray(4, '\x70') + hex("415649204C495354") + hex("00100000") + QByteArray("hdrl");
    return {exif, jpeg, hex("89504E470D0A1A0A0000000D49484452"), mp4, mov, avi, hex("255044462D312E370A"),
            hex("504B030414000600080000002100")};
}

bool buildImage(const QString &path, qint64 bytes)
{
    FILE *f = std::fopen(QFile::encodeName(path).constData(), "wb");
    if (!f)
        return false;
    const QList<QByteArray> samples = headerSamples();
    std::vector<uint64_t> chunk(1 << 17);  // 1 MiB
    const qint64 chunks = bytes >> 20;
    int headers = 0;
    for (qint64 c = 0; c < chunks; ++c) {
        for (auto &w : chunk)
            w = next();
        auto *p = reinterpret_cast<unsigned char *>(chunk.data());
        if (c % 10 == 3)
            std::memset(p, 0, 1 << 20);  // some erased space, as on a used card
        // About three hundred headers per GiB, at sector starts.
        if (next() % 10 < 3) {
            const QByteArray &h = samples.at(int(next() % uint64_t(samples.size())));
            const size_t at = (next() % 2048) * 512;
            std::memcpy(p + at, h.constData(), size_t(h.size()));
            ++headers;
        }
        if (std::fwrite(p, 1, 1 << 20, f) != 1 << 20) {
            std::fclose(f);
            return false;
        }
    }
    std::fclose(f);
    std::printf("image: %s, %lld MiB, %d headers\n", qPrintable(path), chunks, headers);
    return true;
}

double plainRead(const QString &path, qint64 *total)
{
    QElapsedTimer t;
    t.start();
    FILE *f = std::fopen(QFile::encodeName(path).constData(), "rb");
    std::vector<char> buf(1 << 20);
    qint64 n = 0;
    size_t got;
    while ((got = std::fread(buf.data(), 1, buf.size(), f)) > 0)
        n += qint64(got);
    std::fclose(f);
    *total = n;
    return double(t.nsecsElapsed()) / 1e9;
}

// What the kernel says this process has read: through read calls, and from the device.
struct ProcessIo {
    uint64_t rchar = 0, readBytes = 0;
};
ProcessIo processIo()
{
    ProcessIo io;
    QFile f(QStringLiteral("/proc/self/io"));
    if (!f.open(QIODevice::ReadOnly))
        return io;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith("rchar: "))
            io.rchar = line.mid(7).toULongLong();
        else if (line.startsWith("read_bytes: "))
            io.readBytes = line.mid(12).toULongLong();
    }
    return io;
}

struct PassFigures {
    double seconds = 0;
    uint64_t files = 0, mediumBytes = 0, rchar = 0, saved = 0;
    long maxRssKiB = 0;
};

// Runs one pass in a child (saving into out when it is given).
PassFigures childPass(const QString &path, int mode, const QString &out, bool thorough)
{
    PassFigures fig;
    int pipefd[2];
    if (pipe(pipefd) != 0)
        return fig;
    const pid_t pid = fork();
    if (pid == 0) {
        close(pipefd[0]);
        RecoveryCore core;
        core.loadResources(resourceDir());
        QString why;
        if (mode != 0 && !selectTypes(core, mode, {}, thorough, &why))
            _exit(1);
        const uint64_t bytes = uint64_t(QFileInfo(path).size());
        std::unique_ptr<FileSaver> saver;
        if (!out.isEmpty()) {
            saver = std::make_unique<FileSaver>(out, MediumRef{path, bytes, openDeviceFile, core.badSectors()});
            if (!saver->prepare(&why)) {
                std::fprintf(stderr, "%s\n", qPrintable(why));
                _exit(1);
            }
        }
        CountingObserver obs;
        obs.saver = saver.get();
        ScanRequest r;
        r.mode = mode;
        r.devicePath = path;
        r.range = {true, false, QString::number(sectorsFor(bytes)), {}, {}};
        r.thorough = thorough;
        const ProcessIo before = processIo();
        QElapsedTimer t;
        t.start();
        ScanSession session(core);
        session.start(r, &obs);
        session.wait();
        uint64_t saved = 0;
        if (saver) {
            saver->finish();
            for (const SaveRecord &rec : saver->records())
                if (!rec.savedPath.isEmpty())
                    saved += rec.bytes;
        }
        const double secs = double(t.nsecsElapsed()) / 1e9;
        const ProcessIo after = processIo();
        const uint64_t result[5] = {uint64_t(secs * 1e9), obs.files, SectorReader::totalBytesRead(), after.rchar - before.rchar, saved};
        if (write(pipefd[1], result, sizeof result) != sizeof result)
            _exit(1);
        _exit(0);
    }
    close(pipefd[1]);
    uint64_t in[5] = {};
    if (read(pipefd[0], in, sizeof in) != sizeof in)
        in[0] = 0;
    close(pipefd[0]);
    int status = 0;
    struct rusage ru {};
    wait4(pid, &status, 0, &ru);
    fig.maxRssKiB = ru.ru_maxrss;
    fig.seconds = double(in[0]) / 1e9;
    fig.files = in[1];
    fig.mediumBytes = in[2];
    fig.rchar = in[3];
    fig.saved = in[4];
    return fig;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    qint64 gib = 1;
    QString path = QDir::currentPath() + QStringLiteral("/bench-card.img");
    QString out;
    bool keep = false;
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--size-gib") && i + 1 < args.size())
            gib = args[++i].toLongLong();
        else if (args[i] == QLatin1String("--image") && i + 1 < args.size())
            path = args[++i];
        else if (args[i] == QLatin1String("--out") && i + 1 < args.size())
            out = args[++i];
        else if (args[i] == QLatin1String("--keep"))
            keep = true;
    }
    if (!QFile::exists(path) || QFileInfo(path).size() != gib << 30) {
        if (!buildImage(path, gib << 30)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    qint64 total = 0;
    plainRead(path, &total);  // warm the page cache
    const double plain = plainRead(path, &total);
    const double mb = double(total) / 1e6;
    std::printf("plain read   : %7.1f MB/s (%.2f s)\n", mb / plain, plain);
    const char *names[] = {"photo", "", "raw  "};
    struct Run {
        bool saving, thorough;
    };
    for (const Run run : {Run{false, false}, Run{false, true}, Run{true, false}, Run{true, true}}) {
        if (run.saving && out.isEmpty())
            break;
        for (int mode : {0, 2}) {
            const QString dest = run.saving ? QStringLiteral("%1/%2").arg(out, QLatin1String(mode == 0 ? "photo" : "raw")) : QString();
            const PassFigures f = childPass(path, mode, dest, run.thorough);
            std::printf("%s %s%s: %7.1f MB/s (%.2f s), %.2f x plain read, peak %.1f MB, %llu files, medium read %.2f x the image",
                        names[mode], run.thorough ? "GEN+THD" : "GEN    ", run.saving ? " + save" : "       ", mb / f.seconds, f.seconds,
                        f.seconds / plain, double(f.maxRssKiB) / 1024.0, static_cast<unsigned long long>(f.files),
                        double(f.mediumBytes) / double(total));
            if (run.saving)
                std::printf(", saved %.1f MB; medium read / (image + saved) %.2f", double(f.saved) / 1e6,
                            double(f.mediumBytes) / double(uint64_t(total) + f.saved));
            std::printf("\n");
            if (run.saving)
                QDir(dest).removeRecursively();
        }
    }
    if (!keep)
        QFile::remove(path);
    return 0;
}
