// The carving passes and the scan driver on card images the tests build.
#include "catalogue/checklist.h"
#include "engine/matcher.h"
#include "engine/naming.h"
#include "engine/progress.h"
#include "engine/recoverycore.h"
#include "engine/scansession.h"
#include "engine/sectorfeed.h"
#include "enginetestutil.h"
#include "faultydevice.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <fcntl.h>

using namespace lumafind;

namespace {
const QStringList kJpg = rec("jpg", "18874368", "FFD8FF");

struct Scan {
    RecoveryCore core;
    RecordingObserver obs;
    QTemporaryDir dir;
    QString path;
    qint64 sectors;

    explicit Scan(const CardImage &img) : sectors(img.data.size() / 512)
    {
        // These tests are about the carving rules: every signature hit counts.
        core.headerCheck = [](const QString &, const HitView &) { return HeaderCheck{}; };
        path = dir.path() + QStringLiteral("/card.img");
        img.save(path);
    }
    // The whole card, or sectors start to end.
    void run(int mode, bool thorough, qint64 start, qint64 end)
    {
        ScanRequest r = wholeMedium(path, sectors, mode, thorough);
        if (start >= 0)
            r.range = RangeControls{false, true, QString::number(sectors), QString::number(start), QString::number(end)};
        runScan(core, r, obs);
    }
    void photo(const QStringList &gen, const QStringList &thd = {}, bool thorough = false, qint64 start = -1, qint64 end = -1)
    {
        core.Ext_Array = gen;
        core.Adv_Ext_Array = thd;
        run(0, thorough, start, end);
    }
    void raw(const QStringList &gen, const QStringList &thd = {}, bool thorough = false, qint64 start = -1, qint64 end = -1)
    {
        core.CheckListHeader_Array = gen;
        core.CheckListHeader_Adv_Array = thd;
        FoundFilesList rows;
        QStringList seen;
        for (const QStringList *l : {&gen, &thd})
            for (qsizetype r = 0; r < recordCount(*l); ++r)
                if (!seen.contains(field(*l, r, Ext_Name))) {
                    seen << field(*l, r, Ext_Name);
                    createSignatureListTableRecord(rows, seen.last(), 0, {}, {}, seen.last());
                }
        core.setNsSIGFileInfoDataObject(rows);
        run(2, thorough, start, end);
    }
};
} // namespace

class TestEngine : public QObject {
    Q_OBJECT
private slots:
    // The time left on made-up progress: a card read at a steady speed, one that stalls for a
    // while (meanwhile the time left goes up, never down faster than the clock), and one that
    // speeds up (a slow patch, then fast). Samples every half second.
    void timeLeftEstimate_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("steady") << QStringLiteral("steady");
        QTest::newRow("stalled") << QStringLiteral("stalled");
        QTest::newRow("sped up") << QStringLiteral("sped up");
    }
    void timeLeftEstimate()
    {
        QFETCH(QString, kind);
        const uint64_t total = 4000ull << 20;  // a 4000 MiB card
        const double mb = 1 << 20;
        // Speed at time t, in bytes per second.
        auto speedAt = [&](double t) {
            if (kind == QLatin1String("stalled"))
                return t >= 30 && t < 50 ? 0.0 : 35 * mb;
            if (kind == QLatin1String("sped up"))
                return t < 30 ? 10 * mb : 40 * mb;
            return 35 * mb;
        };
        ProgressEstimator e;
        double done = 0, t = 0, last = -1;
        const double dt = 0.5;
        bool sawEstimate = false;
        double worstAfterSettling = 0, beforeStall = -1;
        e.update(0, 0, total);
        QVERIFY(!e.secondsLeft());
        while (done < double(total)) {
            t += dt;
            done = std::min(double(total), done + speedAt(t) * dt);
            e.update(t, uint64_t(done), total);
            const std::optional<double> left = e.secondsLeft();
            if (t < ProgressEstimator::kWarmupSeconds) {
                QVERIFY2(!left, "an estimate in the first seconds");
                continue;
            }
            QVERIFY(e.bytesPerSecond() >= 0);
            if (!left)
                continue;
            sawEstimate = true;
            QVERIFY2(*left >= 0, qPrintable(QStringLiteral("negative at %1 s").arg(t)));
            if (done >= double(total)) {
                QCOMPARE(*left, 0.0);
                break;
            }
            if (last >= 0) {
                // Beyond the clock running it down, a step is bounded by the smoothing.
                const double predicted = std::max(0.0, last - dt);
                const double bound = ProgressEstimator::kMaxChangePerSecond * dt
                                     * std::max(predicted, ProgressEstimator::kMinScale) + 1e-9;
                QVERIFY2(std::abs(*left - predicted) <= bound,
                         qPrintable(QStringLiteral("%1 s: %2 after %3").arg(t).arg(*left).arg(last)));
                if (kind == QLatin1String("stalled") && t > 30 && t < 50)
                    QVERIFY2(*left >= predicted - 1e-9, qPrintable(QStringLiteral("%1 s: %2 after %3").arg(t).arg(*left).arg(last)));
            }
            if (kind == QLatin1String("stalled") && t == 30)
                beforeStall = *left;
            if (kind == QLatin1String("stalled") && t == 50)
                QVERIFY2(*left > beforeStall + 10, "the stall went unnoticed");
            last = *left;
            // Where the speed has been steady for a while, the estimate tells the truth.
            const double truth = (double(total) - done) / speedAt(t);
            const bool settled = kind == QLatin1String("steady") || (kind == QLatin1String("stalled") && t > 90)
                                 || (kind == QLatin1String("sped up") && t > 60);
            if (settled && truth > 5)
                worstAfterSettling = std::max(worstAfterSettling, std::abs(*left - truth) / truth);
        }
        QVERIFY(sawEstimate);
        QVERIFY2(worstAfterSettling < 0.05, qPrintable(QString::number(worstAfterSettling)));
        QVERIFY(std::abs(e.elapsed() - t) < 1e-9);
    }

    void scanAmountCountsEveryPass()
    {
        // Two passes over sectors 100..300: half of the second pass done is three quarters.
        const ScanAmount a = scanAmount(2, 2, 100, 200, 300);
        QCOMPARE(a.total, 400u * 512);
        QCOMPARE(a.done, 300u * 512);
        QCOMPARE(scanAmount(1, 1, 0, 0, 0).total, 0u);
        // A reading past the end, or a pass count out of range, stays inside the total.
        const ScanAmount b = scanAmount(5, 2, 0, 900, 300);
        QVERIFY(b.done <= b.total);
        const ScanAmount huge = scanAmount(2, 2, 0, UINT64_MAX, UINT64_MAX);
        QVERIFY(huge.done <= huge.total);
        QCOMPARE(durationText(59), QStringLiteral("0:59"));
        QCOMPARE(durationText(3725), QStringLiteral("1:02:05"));
    }

    void naming()
    {
        // Five digits at least (the scans' names show the padding), more when the count needs them.
        QCOMPARE(Generate_File_Name(99999, "GND", "JPG", 0, {}), QStringLiteral("GND99999.JPG"));
        QCOMPARE(Generate_File_Name(100000, "GND", "JPG", 0, {}), QStringLiteral("GND100000.JPG"));
        QCOMPARE(Generate_File_Name(0, "GND", "JPG", 0, {}), QStringLiteral("GND00000.JPG"));
        QCOMPARE(Generate_File_Name(1, "", "JPG", 0, {}), QStringLiteral("00001.JPG"));
        QCOMPARE(Generate_File_UID_Num(1234, true, "CR2"), QStringLiteral("THD01234.CR2"));
        // Video and raw-file mode continue the count of the type's row.
        FoundFilesList rows;
        createSignatureListTableRecord(rows, "JPG", 4, {}, {}, "JPG");
        QCOMPARE(Generate_File_Name(1, "JPG", "JPG", 2, rows), QStringLiteral("JPG00005.JPG"));
        QCOMPARE(Generate_File_Name(7, "MP4", "MP4", 2, rows), QStringLiteral("MP400007.MP4"));
        QCOMPARE(Generate_File_Name(1, "JPG", "JPG", 0, rows), QStringLiteral("JPG00001.JPG"));
    }

    void photoFilesEndAtNextHeaderLimitAndRange()
    {
        CardImage img(200, true);
        img.putHex(10, "FFD8FFE1");
        img.putHex(20, "FFD8FFE0");
        img.putHex(30, "89504E47");
        img.putHex(199, "FFD8FFDB");
        Scan scan(img);
        scan.photo(kJpg + rec("png", "1536", "89504E47"));
        QCOMPARE(scan.obs.names(), (QStringList{"GND00001.JPG@10-20", "GND00002.JPG@20-30", "GND00003.PNG@30-32",
                                                "GND00004.JPG@199-200"}));
        // The photo's bytes are the sectors carved, the header sector first.
        QCOMPARE(scan.obs.files.at(0).bytes.toByteArray(), img.sectors(10, 20));
        QCOMPARE(scan.obs.files.at(0).uid, QStringLiteral("GND00001.JPG"));
        QCOMPARE(scan.obs.files.at(2).bytes.toByteArray(), img.sectors(30, 32));  // limit 1536: 2 sectors
        QCOMPARE(scan.obs.ends, 1);
        QVERIFY(scan.obs.alerts.isEmpty());
        QCOMPARE(scan.core.for_index.load(), 200u);
        QCOMPARE(scan.obs.passes.first().modeLabel,
                 QStringLiteral("( Currently performing Search based on: Norvo General Recovery Procedure )"));

        // A range that starts inside the first file; the second scan restarts names, not UIDs.
        scan.obs = RecordingObserver();
        scan.photo(kJpg, {}, false, 15, 25);
        QCOMPARE(scan.obs.names(), (QStringList{"GND00001.JPG@20-25"}));
        QCOMPARE(scan.obs.files.first().uid, QStringLiteral("GND00005.JPG"));
    }

    void photoSizeLimitsAndBlankSectors()
    {
        CardImage img(36900);
        img.putHex(0, "FFD8FFE1");
        img.putHex(36890, "89504E47");
        Scan scan(img);
        scan.photo(kJpg + rec("png", "512", "89504E47") + rec("gif", "-1", "47494638"));
        // 18874368 bytes: 36863 whole sectors, blank ones included; a 512 limit adds nothing
        // but still uses a number.
        QCOMPARE(scan.obs.names(), (QStringList{"GND00001.JPG@0-36863"}));
        QCOMPARE(scan.obs.files.first().bytes.size(), 36863 * 512);
        QCOMPARE(scan.core.GND_Image_number, 2u);
    }

    // Which records start files where, in which pass, on cards of random filler with headers
    // placed as "sector[+offset]:hex".
    void carvingRules()
    {
        const QStringList zip = rec("zip", "1", "504B0304"), sevenZ = rec("7z", "1", "377ABCAF271C"), bmp = rec("bmp", "10240", "424D");
        const QStringList shortRec = rec("sss", "1", "AABBCC"), longRec = rec("lll", "1", "AABBCCDD");
        struct Case {
            int mode, sectors;
            const char *placed;
            QStringList gen, thd;
            bool thorough;
            QStringList names;
        };
        const Case cases[] = {
            // The first matching record wins; a position of 507 fits a two-byte header, 508
            // never does; "nn" matches at byte 0, or where the chain of first bytes leads.
            {0, 40, "2:AABBCCDD 5+506:EE01 7+507:EE02 9:CAFE 11+100:CAFE",
             rec("aaa", "100000", "AABBCC") + rec("bbb", "100000", "AABBCCDD") + rec("eee", "100000", "EE01", "507")
                 + rec("fff", "100000", "EE02", "508") + rec("nnn", "100000", "CAFE", "nn"),
             {}, false, {"GND00001.AAA@2-5", "GND00002.EEE@5-9", "GND00003.NNN@9-40"}},
            {0, 60, "5:FFD8FFE1 40:424D", kJpg, bmp, true, {"GND00001.JPG@5-60", "THD00001.BMP@40-59"}},
            {0, 60, "5:FFD8FFE1 40:424D", kJpg, bmp, false, {"GND00001.JPG@5-60"}},
            // In raw-file mode every matching record of another type starts a file of its own,
            // in the records' order; two records of one type give one file.
            {2, 20, "3:AABBCCDD", shortRec + longRec, {}, false, {"SSS00001.SSS@3-20", "LLL00001.LLL@3-20"}},
            {2, 20, "3:AABBCCDD", longRec + shortRec, {}, false, {"LLL00001.LLL@3-20", "SSS00001.SSS@3-20"}},
            {2, 20, "3:AABBCC11", shortRec + longRec, {}, false, {"SSS00001.SSS@3-20"}},
            {2, 20, "3:AABBCC11", longRec + shortRec, {}, false, {"SSS00001.SSS@3-20"}},
            {2, 10, "2:AABBCCDD", rec("xxx", "1", "AABB") + rec("xxx", "1", "AABBCC"), {}, false, {"XXX00001.XXX@2-10"}},
            {2, 30, "4:504B0304 10:377ABCAF271C", zip, sevenZ, false, {"ZIP00001.ZIP@4-30"}},
            {2, 30, "4:504B0304 10:377ABCAF271C", zip, sevenZ, true, {"ZIP00001.ZIP@4-30", "7Z00001.7Z@10-30"}},
            // An empty Thorough list: that pass returns at once, without an alert.
            {2, 30, "4:504B0304 10:377ABCAF271C", zip, {}, true, {"ZIP00001.ZIP@4-30"}},
        };
        for (const Case &c : cases) {
            CardImage img(c.sectors, true);
            for (const QString &p : QString::fromLatin1(c.placed).split(QLatin1Char(' '))) {
                const QStringList at = p.section(QLatin1Char(':'), 0, 0).split(QLatin1Char('+'));
                img.putHex(at[0].toLongLong(), p.section(QLatin1Char(':'), 1).toLatin1().constData(), at.value(1).toInt());
            }
            Scan scan(img);
            if (c.mode == 0)
                scan.photo(c.gen, c.thd, c.thorough);
            else
                scan.raw(c.gen, c.thd, c.thorough);
            QCOMPARE(scan.obs.names(), c.names);
            QCOMPARE(scan.obs.passes.size(), c.thorough ? 2 : 1);
            QCOMPARE(scan.obs.ends, 1);
            QVERIFY(scan.obs.alerts.isEmpty());
        }
    }

    // Stop keeps what was found, and the file being collected.
    void stopsKeepWhatWasFound()
    {
        CardImage img(60, true);
        img.putHex(5, "FFD8FFE1");
        img.putHex(40, "424D");
        // Stop during the General pass: the partial file is kept, no Thorough pass, one end.
        Scan stop(img);
        stop.obs.onPass = [&](const PassStart &) { stop.core.stop_usb_disk(); };
        stop.photo(kJpg, rec("bmp", "10240", "424D"), true);
        QCOMPARE(stop.obs.passes.size(), 1);
        QVERIFY(stop.obs.files.isEmpty());
        QCOMPARE(stop.obs.ends, 1);
        QCOMPARE(stop.obs.timerEnds, 1);
        QVERIFY(stop.obs.summary.stopped);
        QCOMPARE(stop.core.stop_now.load(), 0);

        // Stop in the middle of a file hands the partial file over: stop when the first file
        // is handed over at sector 10, so the second stops after its first sector.
        CardImage two(60, true);
        two.putHex(5, "FFD8FFE1");
        two.putHex(10, "89504E47");
        Scan mid(two);
        mid.obs.onFile = [&](const FoundFile &) { mid.core.stop_usb_disk(); };
        mid.photo(kJpg + rec("png", "100000", "89504E47"), {}, true);
        QCOMPARE(mid.obs.names(), (QStringList{"GND00001.JPG@5-10", "GND00002.PNG@10-11"}));
        QCOMPARE(mid.obs.files.last().bytes.toByteArray(), two.sectors(10, 11));
        QCOMPARE(mid.obs.ends, 1);

        // Stop between the passes: the Thorough pass stops at its first sector.
        Scan between(img);
        between.obs.onPass = [&](const PassStart &p) {
            if (p.tag == QLatin1String("THD"))
                between.core.stop_usb_disk();
        };
        between.photo(kJpg, rec("bmp", "10240", "424D"), true);
        QCOMPARE(between.obs.passes.size(), 2);
        QCOMPARE(between.obs.names(), (QStringList{"GND00001.JPG@5-60"}));
        QCOMPARE(between.obs.ends, 1);
        QVERIFY(between.obs.summary.stopped);

        // Raw files: stopped when the ZIP is finished at the 7Z header, so the 7Z is pending and
        // is handed over with the next sector as its end.
        CardImage archives(30, true);
        archives.putHex(4, "504B0304");
        archives.putHex(10, "377ABCAF271C");
        Scan raw(archives);
        raw.obs.onFile = [&](const FoundFile &) { raw.core.stop_usb_disk(); };
        raw.raw(rec("zip", "1", "504B0304") + rec("7z", "1", "377ABCAF271C"), {}, true);
        QCOMPARE(raw.obs.names(), (QStringList{"ZIP00001.ZIP@4-11", "7Z00001.7Z@10-11"}));
        QCOMPARE(raw.obs.ends, 1);
        QVERIFY(raw.obs.summary.stopped);
        QCOMPARE(raw.obs.passes.size(), 1);
        QCOMPARE(raw.core.MultiHeader_Array.size(), 7);  // kept until the next General pass
    }

    // The Thorough pass replays what the General pass saw: on cards with headers of both
    // passes at random sectors, blank runs, files reaching their size limit, unreadable sectors
    // and a header in the last sector, it lists exactly the files a pass reading every sector
    // would (computed here from the card alone), and reads only the sectors those files hold.
    void thoroughReplayListsWhatAFullReadWould_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<quint32>("seed");
        for (quint32 seed : {1u, 2u, 3u}) {
            QTest::addRow("photo %u", seed) << 0 << seed;
            QTest::addRow("raw file %u", seed) << 2 << seed;
        }
    }
    void thoroughReplayListsWhatAFullReadWould()
    {
        QFETCH(int, mode);
        QFETCH(quint32, seed);
        const qint64 sectors = mode == 0 ? 6000 : 90000;  // raw files: room for the fixed limit
        const quint64 limitSectors = mode == 0 ? 300 : kRawFileLimit / 512;
        CardImage img(sectors, true);
        QRandomGenerator g(seed);
        // Blank runs.
        for (int i = 0; i < 20; ++i) {
            const qint64 at = g.bounded(sectors - 200);
            img.put(at, QByteArray(512 * int(g.bounded(1, 150)), '\0'));
        }
        // Headers: the General pass's and two Thorough types, a few far apart (limits reached).
        for (int i = 0; i < 40; ++i) {
            const qint64 at = mode == 0 || i % 4 ? g.bounded(sectors - 1) : g.bounded(sectors / 2);
            const int kind = int(g.bounded(3));
            img.putHex(at, kind == 0 ? "AABB01" : kind == 1 ? "CCDD02" : "EEFF03");
        }
        img.putHex(sectors - 1, "CCDD02");  // a header in the last sector
        // Unreadable sectors, one of them on a Thorough header.
        auto medium = faultyMedium(img.data);
        for (int i = 0; i < 5; ++i)
            medium->bad.insert(quint64(g.bounded(sectors)));
        // What is on the card as a pass reading it sees it, and where its Thorough headers are.
        QByteArray seen = img.data;
        for (quint64 b : medium->bad)
            seen.replace(qsizetype(b) * 512, 512, QByteArray(512, '\0'));
        QMap<qint64, QString> thoroughType;
        for (qint64 s = 0; s < sectors; ++s) {
            const QByteArray head = seen.mid(s * 512, 3);
            if (head == QByteArray::fromHex("CCDD02") || head == QByteArray::fromHex("EEFF03"))
                thoroughType[s] = head.startsWith('\xCC') ? QStringLiteral("THA") : QStringLiteral("THB");
        }
        const QList<qint64> thorough = thoroughType.keys();
        QVERIFY(thorough.size() > 10);
        const QString limit = QString::number(limitSectors * 512);
        const QStringList gen = rec("gen", limit, "AABB01");
        const QStringList thd = rec("tha", limit, "CCDD02") + rec("thb", limit, "EEFF03");
        Scan scan(img);
        scan.core.deviceOpener = faultyOpener(medium);
        const uint64_t before = SectorReader::totalBytesRead();
        if (mode == 0)
            scan.photo(gen, thd, true);
        else
            scan.raw(gen, thd, true);
        const uint64_t read = SectorReader::totalBytesRead() - before;

        // The expected Thorough list: each header's file runs to the next Thorough header, its
        // limit or the end of the card (a raw file also holds the next header's sector).
        QStringList expected;
        QList<QByteArray> expectedBytes;
        uint64_t fileBytes = 0;
        QMap<QString, int> counts;
        for (int k = 0; k < thorough.size(); ++k) {
            const qint64 start = thorough[k];
            const qint64 next = k + 1 < thorough.size() ? thorough[k + 1] : sectors;
            const qint64 end = mode == 0 ? std::min<qint64>(next, start + qint64(limitSectors) - 1)
                                         : std::min<qint64>(std::min(next + 1, sectors), start + qint64(limitSectors));
            const QString type = thoroughType[start];
            const QString name = mode == 0 ? QStringLiteral("THD%1.%2").arg(k + 1, 5, 10, QLatin1Char('0')).arg(type)
                                           : QStringLiteral("%1%2.%1").arg(type).arg(++counts[type], 5, 10, QLatin1Char('0'));
            expected << QStringLiteral("%1@%2-%3").arg(name).arg(start).arg(end);
            expectedBytes << seen.mid(start * 512, (end - start) * 512);
            fileBytes += uint64_t(end - start) * 512;
        }
        QStringList listed;
        QList<QByteArray> listedBytes;
        for (int i = 0; i < scan.obs.files.size(); ++i)
            if (scan.obs.files[i].tag == QLatin1String("THD")) {
                listed << scan.obs.names().at(i);
                listedBytes << scan.obs.bytes.at(i);
            }
        QCOMPARE(listed, expected);
        if (mode == 0)
            QCOMPARE(listedBytes, expectedBytes);
        QCOMPARE(scan.obs.ends, 1);
        QVERIFY(scan.obs.alerts.isEmpty());
        QCOMPARE(scan.obs.summary.unreadable, quint64(medium->bad.size()));
        // The card was read once, and of it again only what the Thorough files hold (and the
        // few sectors a block read takes beyond a file's end).
        QVERIFY2(read <= uint64_t(sectors) * 512 + fileBytes + uint64_t(thorough.size()) * 8 * 512,
                 qPrintable(QStringLiteral("%1 bytes read for a card of %2 and files of %3").arg(read).arg(sectors * 512).arg(fileBytes)));
    }

    // Stop during the replay ends the scan once and keeps the file being collected; a medium
    // that vanishes during it gives the alert and keeps what was found.
    void thoroughReplayStopsAndLosesTheMedium()
    {
        CardImage img(4000, true);
        img.putHex(100, "CCDD02");
        img.putHex(2000, "CCDD02");
        for (bool vanish : {false, true}) {
            auto medium = faultyMedium(img.data);
            Scan scan(img);
            medium->onRead = [&, vanish](int open, quint64 sector) {
                if (open >= 2 && sector >= 2000) {
                    if (vanish)
                        medium->vanishAt = 2000;
                    else
                        scan.core.stop_usb_disk();
                }
            };
            scan.core.deviceOpener = faultyOpener(medium);
            scan.photo(rec("gen", "1000000", "AABB01"), rec("tha", "1000000", "CCDD02"), true);
            QCOMPARE(scan.obs.passes.size(), 2);
            QCOMPARE(scan.obs.ends, 1);
            QVERIFY(scan.obs.names().contains(QStringLiteral("THD00001.THA@100-2000")));
            if (vanish) {
                QCOMPARE(scan.obs.alerts.size(), 1);
                QVERIFY(scan.obs.summary.failed);
            } else {
                QVERIFY(scan.obs.summary.stopped);
                QVERIFY(scan.obs.alerts.isEmpty());
            }
        }
    }

    void rawFilesGroupsLimitsAndRange()
    {
        CardImage img(37000, false);
        img.putHex(0, "6674797069736F6D", 4);  // MP4 at 0 ("ftypisom" at byte 5)
        img.putHex(100, "255044462D");         // PDF at 100: ends the MP4 with 101
        img.putHex(36990, "504B0304");         // ZIP at 36990, ends at the range end
        Scan scan(img);
        scan.raw(rec("mp4", "4294967295", "6674797069736F6D", "5") + rec("pdf", "100", "255044462D") +
                 rec("zip", "1", "504B0304"));
        QCOMPARE(scan.obs.names(), (QStringList{"MP400001.MP4@0-101", "PDF00001.PDF@100-36964", "ZIP00001.ZIP@36990-37000"}));
        // The fixed limit: 36864 sectors with the header's, whatever the record says.
        QCOMPARE(scan.core.nsSIGFileInfoDataObject.at(1).NoOfFile, QStringLiteral("1"));
        QCOMPARE(scan.core.nsSIGFileInfoDataObject.at(1).FileName, QStringLiteral("PDF00001.PDF"));
        QCOMPARE(scan.obs.files.first().plannedPath, QStringLiteral("MP4/MP400001.MP4"));
        QCOMPARE(scan.obs.ends, 1);

        // A second General pass over part of it continues the counts of the rows.
        scan.obs = RecordingObserver();
        scan.run(2, false, 90, 200);
        QCOMPARE(scan.obs.names(), (QStringList{"PDF00002.PDF@100-200"}));
    }

    void failingMedium_data()
    {
        QTest::addColumn<QList<quint64>>("bad");
        QTest::addColumn<bool>("wholeRequest");
        QTest::newRow("one bad sector, whole requests fail") << QList<quint64>{25} << true;
        QTest::newRow("one bad sector, short reads") << QList<quint64>{25} << false;
        QTest::newRow("a run of bad sectors") << QList<quint64>{24, 25, 26, 27} << true;
        QTest::newRow("the last sector") << QList<quint64>{4099} << true;
        QTest::newRow("first sector of a buffer") << QList<quint64>{2048} << true;
    }
    void failingMedium()
    {
        QFETCH(QList<quint64>, bad);
        QFETCH(bool, wholeRequest);
        CardImage img(4100, true);
        img.putHex(20, "FFD8FFE1");
        img.putHex(2040, "FFD8FFE0");
        img.putHex(4000, "FFD8FFDB");
        auto medium = faultyMedium(img.data);
        medium->failWholeRequest = wholeRequest;
        medium->bad = QSet<quint64>(bad.begin(), bad.end());
        Scan scan(img);
        scan.core.deviceOpener = faultyOpener(medium);
        scan.photo(kJpg, kJpg, true);
        // Success with the unreadable sectors counted, and the Thorough pass ran.
        QVERIFY2(scan.obs.alerts.isEmpty(), qPrintable(scan.obs.alerts.join(',')));
        QCOMPARE(scan.obs.passes.size(), 2);
        // Both passes met them; each sector counts once.
        QCOMPARE(scan.obs.summary.unreadable, quint64(bad.size()));
        QCOMPARE(scan.obs.unreadable.first().first, bad.first());
        QCOMPARE(scan.obs.unreadable.first().second, quint64(bad.size()));
        // Files keep their true layout: zeros where the card could not be read.
        QByteArray expected = img.data;
        for (quint64 s : bad)
            expected.replace(qsizetype(s) * 512, 512, QByteArray(512, '\0'));
        QCOMPARE(scan.obs.names().mid(0, 3), (QStringList{"GND00001.JPG@20-2040", "GND00002.JPG@2040-4000",
                                                          "GND00003.JPG@4000-4100"}));
        for (int i = 0; i < 3; ++i) {
            const FoundFile &f = scan.obs.files.at(i);
            QCOMPARE(f.bytes.toByteArray(), expected.mid(qsizetype(f.startSector) * 512, f.bytes.size()));
        }
    }

    // A card of numbered sectors. A feed keeps a file's first sectors pinned in one run across
    // block reads (growing, then complete while the pass goes on past them), and the bytes
    // around each sector stay right; a reader reads sectors in any order, and the last sector
    // of an image that ends inside it.
    void numberedSectorsFedAndRead()
    {
        CardImage img(5000, true);
        const auto number = [](quint64 s) { return QByteArray::number(s).rightJustified(8, '0'); };
        for (qint64 s = 0; s < 5000; ++s)
            img.put(s, number(s));
        Scan scan(img);
        SectorReader pinning, reader;
        QVERIFY(pinning.open(scan.path));
        SectorFeed feed(pinning, 0, 3000, 8, 20 * 512);  // blocks of 8 sectors, room for 20 pinned
        struct Pin {
            quint64 from, until;  // collected over [from, until), at most 20 sectors kept
        };
        const QList<Pin> pins{{10, 200}, {300, 305}, {305, 340}, {2990, 3000}};
        uint64_t s = 0, collected = 0;
        const unsigned char *bytes = nullptr;
        bool unreadable = false;
        const auto pinnedIs = [&](quint64 from, quint64 n) {
            for (quint64 i = 0; i < n; ++i)
                if (QByteArray(reinterpret_cast<const char *>(feed.pinned()) + i * 512, 8) != number(from + i))
                    return false;
            return true;
        };
        while (feed.next(&s, &bytes, &unreadable) == SectorFeed::Sector) {
            QCOMPARE(QByteArray(reinterpret_cast<const char *>(bytes), 8), number(s));
            if (s > 0) {
                QVERIFY(feed.behind() >= 512);
                QCOMPARE(QByteArray(reinterpret_cast<const char *>(bytes) - 512, 8), number(s - 1));
            }
            for (const Pin &p : pins) {
                if (s == p.until && p.until != p.from) {
                    QVERIFY2(pinnedIs(p.from, collected / 512), qPrintable(QString::number(s)));
                    feed.unpin();
                    collected = 0;
                }
            }
            for (const Pin &p : pins) {
                if (s >= p.from && s < p.until) {
                    if (s == p.from)
                        feed.pin();
                    if (collected < 20 * 512)
                        feed.setPinned(collected += 512);
                    QVERIFY2(pinnedIs(p.from, collected / 512), qPrintable(QString::number(s)));
                }
            }
        }
        QCOMPARE(s, uint64_t(2999));
        QVERIFY(pinnedIs(2990, 10));  // pinned up to the end of the range

        QVERIFY(reader.open(scan.path));
        unsigned char buf[512];
        // Forward steps short and long, backwards, and past the end of the medium.
        for (quint64 at : {0ull, 1ull, 5ull, 69ull, 70ull, 4000ull, 3ull, 2048ull, 2047ull, 4999ull}) {
            QCOMPARE(reader.read(at, buf), SectorReader::Ok);
            QCOMPARE(QByteArray(reinterpret_cast<char *>(buf), 8), number(at));
        }
        // Past the end the medium is smaller than it was: it is gone, nothing is counted.
        QCOMPARE(reader.read(5000, buf), SectorReader::Lost);
        QCOMPARE(reader.unreadable(), 0u);
        QCOMPARE(reader.mediumBytes(), 5000u * 512);

        // An image that ends inside a sector: the last one is read, padded with zeros.
        img.data += QByteArray(100, 'x');
        QVERIFY(img.save(scan.path));
        SectorReader tail;
        QVERIFY(tail.open(scan.path));
        QCOMPARE(tail.mediumBytes(), 5000u * 512 + 100);
        QCOMPARE(tail.read(5000, buf), SectorReader::Ok);
        QCOMPARE(QByteArray(reinterpret_cast<char *>(buf), 512), QByteArray(100, 'x') + QByteArray(412, '\0'));
        QCOMPARE(tail.read(4999, buf), SectorReader::Ok);
        QCOMPARE(tail.read(5000, buf), SectorReader::Ok);  // through the buffer again
        QCOMPARE(tail.unreadable(), 0u);
    }

    // A run of upcoming sectors ends before the next unreadable one and at what is in memory;
    // stepping over it lands where next() would have, with the unreadable sector reported.
    void sectorFeedRunsStopBeforeUnreadableSectors()
    {
        CardImage img(400, true);
        auto medium = faultyMedium(img.data);
        medium->bad = {37, 38, 200, 399};
        SectorReader reader(faultyOpener(medium));
        QVERIFY(reader.open(QStringLiteral("faulty")));
        SectorFeed feed(reader, 0, 400, 64);
        uint64_t s = 0;
        const unsigned char *bytes = nullptr;
        bool unreadable = false;
        QList<quint64> reported;
        while (feed.next(&s, &bytes, &unreadable) == SectorFeed::Sector) {
            if (unreadable)
                reported << s;
            QCOMPARE(unreadable, medium->bad.contains(s));
            const unsigned char *run = nullptr;
            const size_t n = feed.upcoming(&run);
            for (size_t i = 0; i < n; ++i) {
                QVERIFY2(!medium->bad.contains(s + 1 + i), qPrintable(QString::number(s + 1 + i)));
                QVERIFY(std::memcmp(run + i * 512, img.data.constData() + (s + 1 + i) * 512, 512) == 0);
            }
            feed.advance(n / 2);
            s += n / 2;
        }
        QCOMPARE(s, uint64_t(399));
        QCOMPARE(reported, (QList<quint64>{37, 38, 200, 399}));
    }

    // The lookup tables pass over a sector only when no record can match it: headers at the
    // start, at an offset, anywhere in the sector (also after a run of their first byte), and of
    // a single byte.
    void matcherPassesOverOnlyWhatCannotMatch()
    {
        const QStringList records = rec("a", "9", "FFD8FF") + rec("b", "9", "66747970", "5") + rec("c", "9", "FFD9", "nn")
                                    + rec("d", "9", "47") + rec("e", "9", "ABCD", "507");
        const PassMatcher matcher(records);
        std::vector<DecodedHeader> headers;
        for (int r = 0; r < 5; ++r)
            headers.push_back(decodeHeader(records, r));
        // Sectors of a few byte values, so that headers and near misses are common.
        const unsigned char alphabet[] = {0xFF, 0xD8, 0xD9, 0x47, 0x66, 0x74, 0x79, 0x70, 0xAB, 0xCD, 0x00};
        QRandomGenerator g(7);
        int matching = 0, passedOver = 0;
        unsigned char b[512];
        for (int i = 0; i < 30000; ++i) {
            for (unsigned char &c : b)
                c = alphabet[g.bounded(int(sizeof alphabet))];
            const bool any = std::any_of(headers.begin(), headers.end(), [&](const DecodedHeader &h) { return headerMatches(h, b); });
            matching += any;
            passedOver += !matcher.mayMatch(b);
            QVERIFY2(!any || matcher.mayMatch(b), qPrintable(QByteArray(reinterpret_cast<const char *>(b), 12).toHex()));
            QCOMPARE(matcher.first(b) >= 0, any);
        }
        QVERIFY(matching > 1000);
        QVERIFY(passedOver > 10000);
    }

    // Scans that read nothing. A medium that refuses to be opened, and an image that is gone: the
    // alert and its reason (sources that are no disk, partition or image are refused as the
    // command line shows). No records, an empty range, a medium of which no sector reads: the
    // alert, one end, and no Thorough pass after a medium that failed.
    void scansThatReadNothing()
    {
        CardImage img(300, true);
        Scan scan(img);
        auto m = std::make_shared<FaultyMedium>();
        m->refuseOpen = true;
        scan.core.deviceOpener = faultyOpener(m);
        scan.photo(kJpg, kJpg, true);
        QCOMPARE(scan.obs.openFailures, 1);
        QCOMPARE(scan.obs.timerEnds, 1);
        QCOMPARE(scan.obs.ends, 0);
        QCOMPARE(scan.obs.passes.size(), 1);
        QCOMPARE(scan.obs.alerts, QStringList{"\nError in storage media reading."});
        QVERIFY(scan.obs.informatives.first().contains(QLatin1String("disk")));
        QCOMPARE(scan.core.stop_screen_already_show.load(), 1);

        scan.obs = RecordingObserver();
        scan.core.deviceOpener = openDeviceFile;
        scan.path = scan.dir.path() + QStringLiteral("/gone.img");
        scan.raw(rec("zip", "1", "504B0304"));
        QCOMPARE(scan.obs.openFailures, 1);
        QVERIFY(scan.obs.informatives.first().contains(QLatin1String("No such file")));
        // An image is opened blocking and is not handed to programs we start.
        FILE *f = openDeviceFile(scan.dir.path() + QStringLiteral("/card.img"));
        QVERIFY(f);
        QCOMPARE(fcntl(fileno(f), F_GETFL) & O_NONBLOCK, 0);
        QVERIFY(fcntl(fileno(f), F_GETFD) & FD_CLOEXEC);
        std::fclose(f);

        Scan none(img);
        none.photo({}, {}, true);  // no photo records: nothing read
        QCOMPARE(none.obs.alerts, QStringList{"\nError in storage media reading."});
        QCOMPARE(none.obs.informatives, QStringList{QString()});
        Scan zero(img);
        zero.raw(rec("zip", "1", "504B0304"), {}, true, 5, 5);
        QCOMPARE(zero.obs.alerts, QStringList{"\nError in storage media reading."});
        QCOMPARE(zero.obs.ends, 1);
        auto medium = faultyMedium(img.data);
        for (quint64 s = 0; s < 300; ++s)
            medium->bad.insert(s);
        Scan bad(img);
        bad.core.deviceOpener = faultyOpener(medium);
        bad.photo(kJpg, kJpg, true);
        QCOMPARE(bad.obs.alerts, QStringList{"\nError in storage media reading."});
        QCOMPARE(bad.obs.passes.size(), 1);
        QCOMPARE(bad.obs.ends, 1);
        QVERIFY(bad.obs.summary.failed);
        QCOMPARE(bad.obs.summary.unreadable, 300u);
    }
};

QTEST_GUILESS_MAIN(TestEngine)
#include "test_engine.moc"
