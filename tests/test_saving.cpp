// Saving found files whole: byte-identical files from a card of files back to back, a long
// video read on past the carved range, streams whose headers recur saved once, a write that
// fails, no overwriting, safe names and ownership under sudo.
#include "engine/recoverycore.h"
#include "engine/scansession.h"
#include "enginetestutil.h"
#include "testfiles.h"
#include "results/saver.h"
#include "tools/storedzip.h"

#include <QBuffer>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QPdfWriter>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>
#include <sys/stat.h>
#include <unistd.h>

using namespace lumafind;

namespace {

// A picture of noise: it does not compress, so its file is large.
QByteArray noisePng(int w, int h)
{
    QImage img(w, h, QImage::Format_RGB32);
    QRandomGenerator g(5);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.setPixel(x, y, g.generate());
    QByteArray out;
    QBuffer b(&out);
    b.open(QIODevice::WriteOnly);
    img.save(&b, "PNG");
    return out;
}



QByteArray pad(QByteArray b)
{
    b.append(QByteArray((512 - b.size() % 512) % 512, '\0'));
    return b;
}

// Scans the card in a mode and saves what it finds as the sectors are read, as the CLI and
// the wizard do.
struct SavingScan : ScanObserver {
    FileSaver *saver = nullptr;
    bool wantsFileData() const override { return true; }
    void fileStarted(const FileStart &f) override { saver->started(f); }
    void fileData(uint64_t serial, const unsigned char *b, size_t n) override { saver->data(serial, b, n); }
    void fileDropped(uint64_t serial) override { saver->dropped(serial); }
    void fileFound(FoundFile &&f) override { saver->add(f); }
    void alert(const QString &, const QString &) override {}
    void endOfScan(const ScanSummary &) override {}

    static QList<SaveRecord> run(const QString &card, int mode, const QString &out, bool thorough = true)
    {
        RecoveryCore core;
        core.loadResources(QString::fromLocal8Bit(qgetenv("LUMAFIND_RESOURCES")));
        QString why;
        if (mode != 0 && !selectTypes(core, mode, {}, thorough, &why))
            return {};
        const uint64_t bytes = uint64_t(QFileInfo(card).size());
        FileSaver saver(out, MediumRef{card, bytes, openDeviceFile, core.badSectors()});
        if (!saver.prepare(&why))
            return {};
        SavingScan obs;
        obs.saver = &saver;
        ScanRequest r;
        r.mode = mode;
        r.devicePath = card;
        r.range = {true, false, QString::number(sectorsFor(bytes)), {}, {}};
        r.thorough = thorough;
        ScanSession session(core);
        session.start(r, &obs);
        session.wait();
        saver.finish();
        return saver.records();
    }
};

QByteArray pdf(const QString &dir)
{
    const QString path = dir + QStringLiteral("/doc.pdf");
    {
        QPdfWriter w(path);
        QPainter p(&w);
        p.drawText(200, 200, QStringLiteral("a page"));
    }
    return readAll(path);
}
} // namespace

class TestSaving : public QObject {
    Q_OBJECT
private slots:
    void backToBackFilesAreSavedByteIdentical()
    {
        QTemporaryDir dir;
        // Files as a camera writes them: one after another from sector boundaries, some
        // followed by the rest of their last sector, one by erased space.
        const QMap<QString, QByteArray> files = {
            {"JPG", picture("JPG", 640, 480)},
            {"PNG", picture("PNG", 200, 100)},
            {"GIF", QByteArray("GIF89a") + QByteArray::fromHex("02000200800000000000FFFFFF21F90400000000002C00000000020002000002024484003B")},
            {"MP4", clip()},
            {"AVI", "RIFF" + QByteArray::fromHex("E8030000") + "AVI LIST" + QByteArray(992, 'v')},
            {"PDF", pdf(dir.path())},
            {"ZIP", storedZip({{"a.txt", QByteArray(5000, 'a')}, {"b.txt", "bee"}})},
        };
        QByteArray photoCard, videoCard, rawCard;
        for (const QString &t : {QStringLiteral("JPG"), QStringLiteral("PNG"), QStringLiteral("GIF")})
            photoCard += pad(files[t]);
        photoCard += QByteArray(8192, '\0');
        videoCard = pad(files["MP4"]) + pad(files["AVI"]) + QByteArray(4096, '\0');
        rawCard = pad(files["PDF"]) + pad(files["ZIP"]) + QByteArray(4096, '\0');
        const QString out = dir.path() + QStringLiteral("/out");
        struct Card {
            QByteArray data;
            int mode;
            QStringList types;
        };
        for (const Card &card : {Card{photoCard, 0, {"JPG", "PNG", "GIF"}}, Card{videoCard, 1, {"MP4", "AVI"}},
                                 Card{rawCard, 2, {"PDF", "ZIP"}}}) {
            const QString path = dir.path() + QStringLiteral("/card%1.img").arg(card.mode);
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(card.data);
            f.close();
            const QList<SaveRecord> records = SavingScan::run(path, card.mode, out);
            for (const QString &type : card.types) {
                const auto rec = std::find_if(records.begin(), records.end(), [&](const SaveRecord &r) { return r.type == type; });
                QVERIFY2(rec != records.end(), qPrintable(type));
                QCOMPARE(rec->extent, QStringLiteral("declared"));
                QVERIFY2(readAll(rec->savedPath) == files[type], qPrintable(type));
            }
        }
    }

    void aLongVideoIsSavedWhole()
    {
        QTemporaryDir dir;
        // A 100 MB movie: the sample clip followed by a free box that makes it long.
        QByteArray movie = clip();
        const qint64 freeSize = 100'000'000 - movie.size();
        QByteArray freeBox(8, 0);
        qToBigEndian<quint32>(quint32(freeSize), freeBox.data());
        freeBox.replace(4, 4, "free");
        movie += freeBox + QByteArray(freeSize - 8, '\x5A');
        const QString path = dir.path() + QStringLiteral("/card.img");
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(512 * 8, '\0'));
        f.write(movie);
        f.write(QByteArray(512 * 64, '\x11'));
        f.close();
        const QList<SaveRecord> records = SavingScan::run(path, 1, dir.path() + QStringLiteral("/out"));
        QCOMPARE(records.size(), 1);
        QCOMPARE(records.first().endSector - records.first().startSector, kRawFileLimit / 512);  // carved 18 MiB
        QCOMPARE(records.first().bytes, uint64_t(movie.size()));
        QVERIFY(readAll(records.first().savedPath) == movie);
    }

    void streamsWithRecurringHeadersAreSavedOnce()
    {
        QTemporaryDir dir;
        // An M2TS clip whose first packet, a PAT with continuity 0, recurs at sector starts.
        QByteArray ts;
        const QByteArray pat = QByteArray::fromHex("474000100000B00D0001C100000001E100E8F95E7D");
        for (int i = 0; i < 200000; ++i) {
            QByteArray packet = (i % 128 == 0) ? pat + QByteArray(188 - pat.size(), char(0xFF)) : QByteArray(188, char(i % 200 + 1));
            packet[0] = 0x47;
            ts += QByteArray(4, char(0x20)) + packet;
        }
        const QString path = dir.path() + QStringLiteral("/card.img");
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(ts);
        f.write(QByteArray(512 * 8, '\0'));
        f.close();
        const QList<SaveRecord> records = SavingScan::run(path, 1, dir.path() + QStringLiteral("/out"));
        QVERIFY(records.size() > 10);  // the recurring header is found again and again
        uint64_t savedBytes = 0;
        int saved = 0;
        for (const SaveRecord &r : records) {
            if (!r.savedPath.isEmpty()) {
                savedBytes += uint64_t(QFileInfo(r.savedPath).size());
                ++saved;
            } else {
                QCOMPARE(r.containedIn, QStringLiteral("MTS00001.MTS"));
            }
        }
        QCOMPARE(saved, 1);
        QCOMPARE(savedBytes, uint64_t(ts.size()));
        QVERIFY(readAll(records.first().savedPath) == ts);
    }

    void aWriteThatFailsStopsSavingAndKeepsTheList()
    {
        QTemporaryDir dir;
        CardImage img(2000, true);
        const QByteArray small = picture("JPG", 60, 40), big = noisePng(300, 300);
        img.put(10, small);
        img.put(100, big);
        img.put(1500, small);
        const QString path = dir.path() + QStringLiteral("/card.img");
        QVERIFY(img.save(path));
        const QString out = dir.path() + QStringLiteral("/out");
        const QString report = dir.path() + QStringLiteral("/r.csv");
        QProcess p;
        // A file-size limit of 200 blocks: the big picture cannot be written.
        p.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("ulimit -f 200; exec '%1' scan '%2' --out '%3' --report '%4' --no-thorough")
                                                                     .arg(QStringLiteral(LUMAFIND_BUILD_DIR "/bin/lumafind-cli"), path, out, report)});
        QVERIFY(p.waitForFinished(30000));
        const QByteArray errText = p.readAllStandardError();
        QCOMPARE(p.exitCode(), 3);
        QVERIFY(errText.contains("Saving stopped"));
        QCOMPARE(readAll(out + QStringLiteral("/JPG/GND00001.JPG")), small);
        QVERIFY(!QFile::exists(out + QStringLiteral("/PNG/GND00002.PNG")));
        QVERIFY(QDir(out + QStringLiteral("/PNG")).entryList(QDir::Files | QDir::Hidden).isEmpty());  // no partial file
        QCOMPARE(readAll(report).count('\n'), 4);  // every file found is still listed
    }

    void namesAndOwnership()
    {
        QCOMPARE(safeComponent(QStringLiteral("../../etc")), QStringLiteral("_.._.._etc"));
        QCOMPARE(safeComponent(QStringLiteral("..")), QStringLiteral("_"));
        QCOMPARE(safeComponent(QStringLiteral("a/b\\c")), QStringLiteral("a_b_c"));
        QCOMPARE(safeComponent(QString()), QStringLiteral("_"));
        QCOMPARE(safeComponent(QStringLiteral("JPG\x01")), QStringLiteral("JPG_"));
        QCOMPARE(safeComponent(QStringLiteral("GND00001.JPG")), QStringLiteral("GND00001.JPG"));

        QTemporaryDir dir;
        CardImage img(100, true);
        img.put(5, picture("JPG", 30, 30));
        const QString path = dir.path() + QStringLiteral("/card.img");
        QVERIFY(img.save(path));
        FoundFile f;
        f.name = QStringLiteral("../escape.JPG");
        f.extension = QStringLiteral("../JPG");
        f.startSector = 5;
        f.endSector = 100;
        f.carvedBytes = 95 * 512;
        const QString out = dir.path() + QStringLiteral("/out");
        if (geteuid() == 0)
            qputenv("SUDO_UID", "4242");
        {
            FileSaver saver(out, MediumRef{path, 100 * 512, openDeviceFile, nullptr});
            QString why;
            QVERIFY(saver.prepare(&why));
            saver.add(f);
            saver.finish();
            const SaveRecord r = saver.records().first();
            QVERIFY(r.savedPath.startsWith(out + QLatin1Char('/')));
            QVERIFY(!r.savedPath.contains(QLatin1String("/../")));
            if (geteuid() == 0) {
                struct stat st {};
                QCOMPARE(::stat(QFile::encodeName(r.savedPath).constData(), &st), 0);
                QCOMPARE(st.st_uid, uid_t(4242));
                QCOMPARE(::stat(QFile::encodeName(out).constData(), &st), 0);
                QCOMPARE(st.st_uid, uid_t(4242));
            }
        }
        qunsetenv("SUDO_UID");
    }
};

QTEST_MAIN(TestSaving)
#include "test_saving.moc"
