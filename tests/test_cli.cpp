// lumafind-cli end to end, on images the tests build.
#include "clirun.h"
#include "enginetestutil.h"
#include "exiffiles.h"
#include "loopmount.h"
#include "testfiles.h"

#include <QDateTime>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {
QStringList reportRows(const QString &path)
{
    return QString::fromUtf8(readAll(path)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}
} // namespace

class TestCli : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QString card;
    CardImage image{600, true};
    QByteArray firstJpeg = picture("JPG", 200, 150);

private slots:
    void initTestCase()
    {
        image.put(10, firstJpeg);
        image.put(50, exiffiles::exifJpeg(picture("JPG", 90, 90), "2016:10:11 12:13:14", "+09:00"));
        image.putHex(100, "000000186674797069736F6D0000020069736F6D6D7034320000100066726565");  // MP4
        image.putHex(300, "255044462D312E35");     // PDF
        image.putHex(400, "504B0304");             // ZIP
        card = dir.path() + QStringLiteral("/card.img");
        QVERIFY(image.save(card));
    }

    void photoScanReportAndSavedBytes()
    {
        const QString out = dir.path() + QStringLiteral("/photos");
        const QString report = dir.path() + QStringLiteral("/photos.csv");
        const Run r = cli({"scan", card, "--out", out, "--report", report, "--no-thorough"});
        QCOMPARE(r.code, 0);
        QVERIFY(r.out.contains(QLatin1String("2 files found")));
        QVERIFY(r.out.contains(QLatin1String("unreadable sectors: 0")));
        const QStringList rows = reportRows(report);
        QCOMPARE(rows.first(), QStringLiteral("name,type,pass,start_sector,end_sector,bytes,saved_path,extent,contained_in,note,captured,"
                                                 "original_name,modified,length_from,pieces"));
        QCOMPARE(rows.size(), 3);
        QVERIFY(rows.at(1).startsWith(QStringLiteral("GND00001.JPG,JPG,GEN,10,50,")));
        QVERIFY(rows.at(2).startsWith(QStringLiteral("GND00002.JPG,JPG,GEN,50,")));
        // The saved photo is the picture itself: it ends at its own end marker.
        QCOMPARE(readAll(out + QStringLiteral("/JPG/GND00001.JPG")), firstJpeg);
        QVERIFY2(rows.at(1).endsWith(QStringLiteral(",declared,,,,,,declared,1")), qPrintable(rows.at(1)));  // no date, no entry
        // The second photo says when it was taken; so does its saved file.
        QVERIFY2(rows.at(2).contains(QStringLiteral(",declared,,,2016-10-11T12:13:14+09:00,")), qPrintable(rows.at(2)));
        QCOMPARE(QFileInfo(out + QStringLiteral("/JPG/GND00002.JPG")).lastModified(), QDateTime::fromString(QStringLiteral("2016-10-11T03:13:14Z"), Qt::ISODate));
        // An existing file is never overwritten: the second scan adds a suffix.
        QVERIFY(QFile::remove(out + QStringLiteral("/JPG/GND00002.JPG")));
        QVERIFY(writeFile(out + QStringLiteral("/JPG/GND00002.JPG"), "keep me"));
        QCOMPARE(cli({"scan", card, "--out", out, "--no-thorough", "--quiet"}).code, 0);
        QCOMPARE(readAll(out + QStringLiteral("/JPG/GND00002.JPG")), QByteArray("keep me"));
        QVERIFY(QFile::exists(out + QStringLiteral("/JPG/GND00002_1.JPG")));
        QVERIFY(QDir(out + QStringLiteral("/JPG")).entryList(QStringList{QStringLiteral(".*part")}, QDir::Hidden | QDir::Files).isEmpty());
    }

    void rawAndVideoModesWithTypes()
    {
        const QString report = dir.path() + QStringLiteral("/raw.csv");
        Run r = cli({"scan", card, "--mode", "raw", "--report", report, "--quiet"});
        QCOMPARE(r.code, 0);
        QStringList rows = reportRows(report);
        QCOMPARE(rows.size(), 3);
        QVERIFY(rows.at(1).startsWith(QStringLiteral("PDF00001.PDF,PDF,GEN,300,401,")));
        QVERIFY(rows.at(2).startsWith(QStringLiteral("ZIP00001.ZIP,ZIP,GEN,400,600,102400,")));
        QVERIFY(rows.at(2).endsWith(QLatin1Char(',')));  // nothing saved without --out

        r = cli({"scan", card, "--mode", "raw", "--types", "zip", "--report", report, "--quiet"});
        QCOMPARE(r.code, 0);
        QCOMPARE(reportRows(report).size(), 2);
        r = cli({"scan", card, "--mode", "video", "--types", "mp4,mov", "--report", report, "--quiet", "--no-thorough"});
        QCOMPARE(r.code, 0);
        rows = reportRows(report);
        QCOMPARE(rows.size(), 2);
        QVERIFY(rows.at(1).startsWith(QStringLiteral("MP400001.MP4,MP4,GEN,100,600,")));
    }

    // Arguments, types and ranges refused (status 2), a medium that cannot be read (1): what
    // the message says; then a range and a source relative to the current folder.
    void refusalsAndRanges()
    {
        const struct {
            QStringList args;
            int code;
            QStringList says;
        } refused[] = {
            {{"scan", card, "--mode", "raw", "--types", "zip,nope"}, 2, {"unknown type nope", "PDF"}},  // named as it was written
            {{"scan", card, "--types", "jpg"}, 2, {"photo mode"}},
            {{"scan", card, "--mode", "raw", "--types", ","}, 2, {"Please select atleast one extension type."}},
            {{"scan", card, "--start", "10"}, 2, {"--start and --end go together"}},
            {{"scan", card, "--start", "20", "--end", "20"}, 2, {"lumafind-cli: End Sector should be greater than Start Sector."}},
            {{"scan", card, "--start", "0", "--end", "601"}, 2, {"Maximum sector range exceeded Please enter valid End Sector value."}},
            {{"scan", card, "--start", "5a", "--end", "60"}, 2, {"Please enter valid Start Sector value."}},
            {{"scan", card, "--out", "", "--quiet"}, 2, {}},
            {{"scan", card, "--bogus"}, 2, {}},
            {{"frobnicate"}, 2, {}},
            {{"scan", dir.path() + QStringLiteral("/missing.img")}, 1, {"Error in storage media reading.", "No such file"}},
        };
        for (const auto &c : refused) {
            const Run r = cli(c.args);
            QVERIFY2(r.code == c.code, qPrintable(c.args.join(QLatin1Char(' ')) + QStringLiteral(": ") + r.err));
            for (const QString &part : c.says)
                QVERIFY2(r.err.contains(part), qPrintable(r.err));
        }
        const QString report = dir.path() + QStringLiteral("/range.csv");
        Run r = cli({"scan", card, "--start", "40", "--end", "60", "--report", report, "--quiet"});
        QCOMPARE(r.code, 0);
        QVERIFY(reportRows(report).at(1).startsWith(QStringLiteral("GND00001.JPG,JPG,GEN,50,60,")));
        // Nothing saved: the photo's date comes from the bytes the scan kept of it.
        QVERIFY2(reportRows(report).at(1).contains(QStringLiteral(",2016-10-11T12:13:14+09:00,")), qPrintable(reportRows(report).at(1)));
        QCOMPARE(cli({"scan", "card.img", "--quiet"}, dir.path()).code, 0);  // relative to the current folder
    }

    void nonDiskSourcesRefusedFast()
    {
        // A FIFO would block open() for ever, /dev/zero would be read for ever: each must be
        // refused at once (a hang is a failure here, not a wait), as a folder is.
        const QString fifo = dir.path() + QStringLiteral("/fifo");
        QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
        const QString sock = dir.path() + QStringLiteral("/sock");
        const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
        QVERIFY(s >= 0);
        sockaddr_un addr {};
        addr.sun_family = AF_UNIX;
        const QByteArray sockName = QFile::encodeName(sock);
        QVERIFY(size_t(sockName.size()) < sizeof addr.sun_path);
        std::memcpy(addr.sun_path, sockName.constData(), size_t(sockName.size()));
        QVERIFY(::bind(s, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0);
        QVERIFY(QFile::link(fifo, dir.path() + QStringLiteral("/fifo-link.img")));
        for (const QString &source : {fifo, dir.path() + QStringLiteral("/fifo-link.img"), sock, QStringLiteral("/dev/null"),
                                      QStringLiteral("/dev/zero"), dir.path()}) {
            const Run r = cli({"scan", source, "--quiet"}, QString(), 10000);
            QVERIFY2(r.code == 1, qPrintable(source + QStringLiteral(": ") + r.err));
            QVERIFY2(r.err.contains(QLatin1String("is not a disk, partition or disk image")), qPrintable(r.err));
        }
        ::close(s);
        // An empty image says so.
        const QString empty = dir.path() + QStringLiteral("/empty.img");
        QVERIFY(writeFile(empty, QByteArray()));
        const Run r = cli({"scan", empty, "--quiet"});
        QCOMPARE(r.code, 1);
        QVERIFY2(r.err.contains(QLatin1String("the image is empty")), qPrintable(r.err));
    }

    void reportNamingTheSourceIsRefused()
    {
        // Through any of its names, the report would truncate the image being recovered.
        const QString img = dir.path() + QStringLiteral("/victim.img");
        QVERIFY(image.save(img));
        QVERIFY(QFile::link(img, dir.path() + QStringLiteral("/victim-link.img")));
        QVERIFY(::link(QFile::encodeName(img).constData(), QFile::encodeName(dir.path() + QStringLiteral("/victim-hard.img")).constData()) == 0);
        const QByteArray before = readAll(img);
        const QString out = dir.path() + QStringLiteral("/victim-out");
        for (const char *name : {"victim.img", "victim-link.img", "victim-hard.img"}) {
            for (const QString &source : {img, dir.path() + QStringLiteral("/victim-link.img")}) {
                const Run r = cli({"scan", source, "--out", out, "--report", dir.path() + QLatin1Char('/') + QLatin1String(name)});
                QVERIFY2(r.code == 2, qPrintable(r.err));
                QVERIFY2(r.err.contains(QLatin1String("refusing to write the report onto the medium being scanned")), qPrintable(r.err));
                QVERIFY(r.err.contains(QLatin1String("is the medium being searched")));
            }
        }
        QCOMPARE(readAll(img), before);
        QVERIFY(!QFileInfo::exists(out));  // refused before anything was made
        // Beside it is fine.
        QCOMPARE(cli({"scan", img, "--report", dir.path() + QStringLiteral("/victim.csv"), "--quiet"}).code, 0);
        QCOMPARE(reportRows(dir.path() + QStringLiteral("/victim.csv")).size(), 3);
    }

    void loopMountedCardRefusedByIdentity()
    {
        QTemporaryDir root;
        const QString d = root.path();
        LoopMount card;
        if (!card.setUp(d, {{QString(), d + QStringLiteral("/bound")}}))
            QSKIP(qPrintable(QStringLiteral("no loop-mounted card: ") + card.problem));
        const QByteArray photo = picture("JPG", 160, 120);
        QVERIFY(writeFile(card.mountPoint + QStringLiteral("/photo.jpg"), photo));
        ::sync();  // into the image file, where the scan reads it
        const QString link = d + QStringLiteral("/link.img"), hard = d + QStringLiteral("/hard.img");
        QVERIFY(QFile::link(card.image, link));
        QVERIFY(::link(QFile::encodeName(card.image).constData(), QFile::encodeName(hard).constData()) == 0);
        const QByteArray before = readAll(card.image);

        struct Case {
            QString source, out, report;
        };
        const QList<Case> refused = {
            {link, card.mountPoint + QStringLiteral("/out"), QString()},
            {hard, card.mountPoint + QStringLiteral("/out"), QString()},
            {card.image, d + QStringLiteral("/bound/out"), QString()},
            {link, d + QStringLiteral("/bound/new/deeper"), QString()},
            {card.device, d + QStringLiteral("/bound/out"), QString()},
            {card.image, QString(), card.image},
            {card.image, QString(), link},
            {hard, QString(), card.image},
            {card.image, QString(), card.mountPoint + QStringLiteral("/report.csv")},
            {link, QString(), d + QStringLiteral("/bound/report.csv")},
            {card.image, QString(), card.device},
        };
        for (const Case &c : refused) {
            QStringList args{"scan", c.source, "--no-thorough", "--quiet"};
            if (!c.out.isEmpty())
                args << "--out" << c.out;
            if (!c.report.isEmpty())
                args << "--report" << c.report;
            const Run r = cli(args);
            QVERIFY2(r.code == 2, qPrintable(args.join(QLatin1Char(' ')) + QStringLiteral(": ") + r.err));
            QVERIFY2(r.err.contains(QLatin1String("refusing to")), qPrintable(r.err));
        }
        QCOMPARE(readAll(card.image), before);
        QVERIFY(!QFileInfo::exists(card.mountPoint + QStringLiteral("/out")));
        QVERIFY(!QFileInfo::exists(card.mountPoint + QStringLiteral("/report.csv")));

        // A folder on another file system is fine, and the photo on the card is found there.
        const QString out = d + QStringLiteral("/elsewhere");
        const Run r = cli({"scan", link, "--out", out, "--report", d + QStringLiteral("/elsewhere.csv"), "--no-thorough", "--quiet"});
        QVERIFY2(r.code == 0, qPrintable(r.err));
        QCOMPARE(readAll(out + QStringLiteral("/JPG/GND00001.JPG")), photo);
        QCOMPARE(readAll(card.image), before);
    }

    void interruptKeepsThePartialFile()
    {
        const QString path = dir.path() + QStringLiteral("/big.img");
        QVERIFY(writeFile(path, picture("JPG", 64, 64)));
        QVERIFY(QFile::resize(path, qint64(16) << 30));  // 16 GiB, sparse: seconds of reading, so the scan is still running
        const QString out = dir.path() + QStringLiteral("/interrupted");
        const QString report = dir.path() + QStringLiteral("/interrupted.csv");
        QProcess p;
        p.start(kCli, {"scan", path, "--out", out, "--report", report, "--quiet"});
        QVERIFY(p.waitForStarted());
        QTest::qWait(400);
        ::kill(pid_t(p.processId()), SIGINT);
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitCode(), 130);
        const QStringList rows = reportRows(report);
        QCOMPARE(rows.size(), 2);
        QVERIFY(rows.at(1).startsWith(QStringLiteral("GND00001.JPG,JPG,GEN,0,")));
        QCOMPARE(readAll(out + QStringLiteral("/JPG/GND00001.JPG")), picture("JPG", 64, 64));
    }

    // Ctrl-C while files are saved after the scan: the saving stops at once, the partial
    // file goes, the report says what was saved and what was not, and the status is 130.
    void interruptWhileSaving()
    {
        // A short clip, then a clip made 1.5 GB long by a free box (sparse on disk): the scan of
        // the first sectors ends at once, the second clip takes seconds to save.
        const QByteArray movie = clip();
        const QString path = dir.path() + QStringLiteral("/long.img");
        QVERIFY(writeFile(path, movie.leftJustified(200 * 512, '\0') + movie + be32(1500000000) + "free"));
        QVERIFY(QFile::resize(path, 200 * 512 + movie.size() + 1500000000ll + 4096));
        const QString out = dir.path() + QStringLiteral("/saving");
        const QString report = dir.path() + QStringLiteral("/saving.csv");
        QProcess p;
        p.start(kCli, {"scan", path, "--mode", "video", "--types", "mp4", "--start", "0", "--end", "400", "--out", out, "--report",
                       report, "--quiet"});
        QVERIFY(p.waitForStarted());
        QVERIFY(QTest::qWaitFor([&] { return QFile::exists(out + QStringLiteral("/MP4/MP400001.MP4")); }, 20000));
        QTest::qWait(200);  // the scan of 400 sectors is over; the long clip is being written
        ::kill(pid_t(p.processId()), SIGINT);
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitCode(), 130);
        QCOMPARE(readAll(out + QStringLiteral("/MP4/MP400001.MP4")), movie);
        QVERIFY(!QFile::exists(out + QStringLiteral("/MP4/MP400002.MP4")));
        QCOMPARE(QDir(out + QStringLiteral("/MP4")).entryList(QDir::Files | QDir::Hidden), QStringList{"MP400001.MP4"});
        const QStringList rows = reportRows(report);
        QCOMPARE(rows.size(), 3);
        QVERIFY(rows.at(2).startsWith(QStringLiteral("MP400002.MP4,MP4,GEN,200,")));
        QVERIFY(rows.at(2).contains(QLatin1String(",,")));  // no saved path
        QVERIFY(rows.at(2).contains(QLatin1String("interrupted")));
    }

    // The report is checked before the scan: a device, a link, a folder or an impossible place
    // is refused (status 2) and nothing is scanned; a write that fails afterwards is status 3.
    void reportPlacesAndFailures()
    {
        const QString link = dir.path() + QStringLiteral("/report-link.csv");
        const QString target = dir.path() + QStringLiteral("/precious.txt");
        QVERIFY(QFile(target).open(QIODevice::WriteOnly));
        QCOMPARE(::symlink(QFile::encodeName(target).constData(), QFile::encodeName(link).constData()), 0);
        for (const QString &bad : {QStringLiteral("/dev/full"), link, dir.path(), target + QStringLiteral("/r.csv")}) {
            const Run r = cli({"scan", card, "--report", bad, "--quiet"});
            QCOMPARE(r.code, 2);
            QVERIFY2(r.err.contains(QLatin1String("report")), qPrintable(r.err));
        }
        QFileInfo dev(QStringLiteral("/dev/full"));
        QVERIFY(!dev.isFile() && dev.exists());  // still the device
        QVERIFY(QFileInfo(link).isSymLink());

        // A file-size limit that the report outgrows: the scan is done, the report is not.
        CardImage many(400, true);
        for (int s = 0; s < 400; s += 10)
            many.put(s, picture("JPG", 40, 30));
        const QString manyPath = dir.path() + QStringLiteral("/many.img");
        QVERIFY(many.save(manyPath));
        const QString report = dir.path() + QStringLiteral("/big-report.csv");
        const Run r = cli({"scan", manyPath, "--report", report, "--quiet"}, QString(), 30000, 1);
        QCOMPARE(r.code, 3);
        QVERIFY(r.err.contains(QLatin1String("could not be written")));
        QVERIFY(!QFile::exists(report));
        QCOMPARE(QDir(dir.path()).entryList({QStringLiteral(".big-report*")}, QDir::Files | QDir::Hidden), QStringList());
    }

    void listWithAStandInLsblk()
    {
        qputenv("LUMAFIND_LSBLK", standInLsblk(dir.path(), laptopFixture()).toLocal8Bit());
        const Run json = cli({"list", "--json"}), text = cli({"list"});
        qunsetenv("LUMAFIND_LSBLK");
        QCOMPARE(json.code, 0);
        const QJsonArray rows = QJsonDocument::fromJson(json.out.toUtf8()).array();
        QCOMPARE(rows.size(), 8);
        const QJsonObject first = rows.first().toObject();
        QCOMPARE(first.value("identifier").toString(), QStringLiteral("sda1"));
        QCOMPARE(first.value("volume").toString(), QStringLiteral("STICK"));
        QCOMPARE(first.value("filesystem").toString(), QStringLiteral("MS-DOS (FAT32)"));
        QCOMPARE(first.value("capacity").toString(), QStringLiteral("7.45  GB "));
        QCOMPARE(first.value("parent").toString(), QStringLiteral("sda"));
        QCOMPARE(first.value("sectors").toString(), QStringLiteral("15625000"));
        QVERIFY(text.out.contains(QLatin1String("CANON_DC")));
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "test_cli.moc"
