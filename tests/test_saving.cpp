// Saving found files whole: byte-identical files from a card of files back to back, a long
// video read on past the carved range, streams whose headers recur saved once, a write that
// fails, no overwriting, safe names and ownership under sudo.
#include "clirun.h"
#include "enginetestutil.h"
#include "exiffiles.h"
#include "testfiles.h"
#include "results/thumbnails.h"
#include "faultydevice.h"
#include "tools/storedzip.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace lumafind;
using namespace exiffiles;

namespace {

// The card's bytes, written to card.img in a folder of its own, scanned in a mode and saved to
// `out` as the sectors are read, as the CLI and the wizard do: with records of the test's own,
// or without them with the shipped databases (every type, both passes). Keeps the records,
// what the pass handed over (files, bytes), and how much of the medium was read.
struct CustomScan : SavingObserver {
    QTemporaryDir dir;
    const QString card = dir.path() + QStringLiteral("/card.img"), out = dir.path() + QStringLiteral("/out");
    QList<SaveRecord> records;
    uint64_t mediumRead = 0;
    uint64_t unreadable = 0;

    void run(const QByteArray &bytes, int mode, const QStringList &gen = {}, const QStringList &thd = {},
             DeviceOpener opener = openDeviceFile)
    {
        QVERIFY(writeFile(card, bytes));
        RecoveryCore core;
        core.deviceOpener = opener;
        QString why;
        if (gen.isEmpty()) {
            core.loadResources(QString::fromLocal8Bit(qgetenv("LUMAFIND_RESOURCES")));
            QVERIFY2(mode == 0 || selectTypes(core, mode, {}, true, &why), qPrintable(why));
        } else {
            (mode == 0 ? core.Ext_Array : core.CheckListHeader_Array) = gen;
            (mode == 0 ? core.Adv_Ext_Array : core.CheckListHeader_Adv_Array) = thd;
        }
        FileSaver fileSaver(out, MediumRef{card, uint64_t(bytes.size()), opener, core.badSectors()});
        QVERIFY2(fileSaver.prepare(&why), qPrintable(why));
        saver = &fileSaver;
        const uint64_t before = SectorReader::totalBytesRead();
        runScan(core, wholeMedium(card, sectorsFor(uint64_t(bytes.size())), mode, gen.isEmpty() || !thd.isEmpty()), *this);
        fileSaver.finish();
        mediumRead = SectorReader::totalBytesRead() - before;
        records = fileSaver.records();
        unreadable = core.unreadableSectors();
        saver = nullptr;
    }
    // The record of that name, or the first of that type.
    const SaveRecord *record(const QString &key) const
    {
        for (const SaveRecord &r : records)
            if (r.name == key || r.type == key)
                return &r;
        return nullptr;
    }
};
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
            {"AVI", "RIFF" + QByteArray::fromHex("E4030000") + "AVI LIST" + QByteArray::fromHex("D8030000") + "hdrl" + QByteArray(980, 'v')},
            {"PDF", pdfDocument(dir.path())},
            {"ZIP", storedZip({{"a.txt", QByteArray(5000, 'a')}, {"b.txt", "bee"}})},
        };
        for (const auto &[mode, types] : QList<QPair<int, QStringList>>{{0, {"JPG", "PNG", "GIF"}}, {1, {"MP4", "AVI"}}, {2, {"PDF", "ZIP"}}}) {
            QByteArray card;
            for (const QString &t : types)
                card += files[t] + QByteArray((512 - files[t].size() % 512) % 512, '\0');
            CustomScan scan;
            scan.run(card + QByteArray(8192, '\0'), mode);
            for (const QString &type : types) {
                const SaveRecord *r = scan.record(type);
                QVERIFY2(r, qPrintable(type));
                QCOMPARE(r->extent, QStringLiteral("declared"));
                QVERIFY2(readAll(r->savedPath) == files[type], qPrintable(type));
            }
        }
    }

    void aLongVideoIsSavedWhole()
    {
        // A 100 MB movie: the sample clip followed by a free box that makes it long.
        QByteArray movie = clip();
        const qint64 freeSize = 100'000'000 - movie.size();
        movie += be32(quint32(freeSize)) + "free" + QByteArray(freeSize - 8, '\x5A');
        CustomScan scan;
        scan.run(QByteArray(512 * 8, '\0') + movie + QByteArray(512 * 64, '\x11'), 1);
        QCOMPARE(scan.records.size(), 1);
        const SaveRecord &r = scan.records.first();
        QCOMPARE(r.endSector - r.startSector, kRawFileLimit / 512);  // carved 18 MiB
        QCOMPARE(r.bytes, uint64_t(movie.size()));
        QVERIFY(readAll(r.savedPath) == movie);
    }

    void streamsWithRecurringHeadersAreSavedOnce()
    {
        // An M2TS clip whose first packet, a PAT with continuity 0, recurs at sector starts.
        QByteArray ts;
        const QByteArray pat = QByteArray::fromHex("474000100000B00D0001C100000001E100E8F95E7D");
        for (int i = 0; i < 200000; ++i) {
            QByteArray packet = (i % 128 == 0) ? pat + QByteArray(188 - pat.size(), char(0xFF)) : QByteArray(188, char(i % 200 + 1));
            packet[0] = 0x47;
            ts += QByteArray(4, char(0x20)) + packet;
        }
        CustomScan scan;
        scan.run(ts + QByteArray(512 * 8, '\0'), 1);
        // The packet recurs at sector starts, but each time the stream runs on through it: one clip.
        QCOMPARE(scan.records.size(), 1);
        QCOMPARE(scan.records.first().extent, QStringLiteral("declared"));
        QVERIFY(readAll(scan.records.first().savedPath) == ts);
    }

    void aWriteThatFailsStopsSavingAndKeepsTheList()
    {
        QTemporaryDir dir;
        CardImage img(2000, true);
        const QByteArray small = picture("JPG", 60, 40), big = noisePicture("PNG", 300, 300, 5);
        img.put(10, small);
        img.put(100, big);
        img.put(1500, small);
        const QString path = dir.path() + QStringLiteral("/card.img");
        QVERIFY(img.save(path));
        const QString out = dir.path() + QStringLiteral("/out");
        const QString report = dir.path() + QStringLiteral("/r.csv");
        // A file-size limit of 200 blocks: the big picture cannot be written.
        const Run r = cli({"scan", path, "--out", out, "--report", report, "--no-thorough"}, QString(), 30000, 200);
        QCOMPARE(r.code, 3);
        QVERIFY(r.err.contains(QLatin1String("Saving stopped")));
        QCOMPARE(readAll(out + QStringLiteral("/JPG/GND00001.JPG")), small);
        QVERIFY(!QFile::exists(out + QStringLiteral("/PNG/GND00002.PNG")));
        QVERIFY(QDir(out + QStringLiteral("/PNG")).entryList(QDir::Files | QDir::Hidden).isEmpty());  // no partial file
        QCOMPARE(readAll(report).count('\n'), 4);  // every file found is still listed
    }

    // One file, one length: saved during the scan, saved after it from the list, and the bytes
    // its thumbnail is made from are the same, even for a photo whose carve was cut short by a
    // header inside it.
    void oneFileOneLength()
    {
        // The pass takes the preview inside the JPEG for a new file and cuts the JPEG there.
        const QByteArray outer = jpegWithPreviewAtSector();
        CardImage img(600, true);
        img.put(8, outer);
        img.put(400, picture("png", 50, 50));
        CustomScan scan;
        scan.run(img.data, 0, rec("jpg", "18874368", "FFD8FF") + rec("png", "18874368", "89504E47"));
        const SaveRecord *saved = scan.record(QStringLiteral("GND00001.JPG"));
        QVERIFY(saved);
        QCOMPARE(readAll(saved->savedPath), outer);
        QCOMPARE(scan.record(QStringLiteral("GND00002.JPG"))->containedIn, QStringLiteral("GND00001.JPG"));
        QVERIFY(scan.files.first().carvedBytes < uint64_t(outer.size()));  // the carve was cut short

        // After the scan, from the list, as the wizard's "Save found files…" does.
        QList<ExportItem> items;
        const QList<SaveRecord> again = saveFromList(scan.files, MediumRef{scan.card, uint64_t(img.data.size()), openDeviceFile, nullptr},
                                                     scan.dir.path() + "/after", &items);
        QCOMPARE(again.size(), scan.records.size());
        for (int i = 0; i < again.size(); ++i) {
            QCOMPARE(again[i].bytes, scan.records[i].bytes);
            QCOMPARE(again[i].containedIn, scan.records[i].containedIn);
            if (!again[i].savedPath.isEmpty())
                QCOMPARE(readAll(again[i].savedPath), readAll(scan.records[i].savedPath));
        }
        // The thumbnail's bytes: the exported file, read on from the medium past the carve.
        SectorReader reader;
        QVERIFY(reader.open(scan.card));
        MyImageObject item;
        QCOMPARE(thumbnailSource(scan.bytes.first(), items.first(), &reader, uint64_t(img.data.size()), &item), outer);
        QCOMPARE(item.extentBytes, uint64_t(outer.size()));
        QVERIFY(!makeThumbnail(outer).isEmpty());
    }

    // An archive whose members start on sector boundaries: each member's header is found again,
    // and is known to be inside the archive before anything is measured, so the medium is read
    // about once for the scan and once for the archive, not once per member.
    void recurringHeadersAreNotReadAgain()
    {
        QList<QPair<QByteArray, QByteArray>> members;
        for (int i = 0; i < 80; ++i)
            members.append({QByteArray::number(10 + i), noise(384 * 512 - 32, quint32(i))});
        const QByteArray zip = storedZip(members);
        CustomScan scan;
        scan.run(zip + QByteArray(4096, '\0'), 2, rec("zip", "18874368", "504B0304"));
        QCOMPARE(scan.records.size(), 80);
        uint64_t saved = 0;
        for (const SaveRecord &r : scan.records) {
            saved += r.savedPath.isEmpty() ? 0 : r.bytes;
            if (&r != &scan.records.first())
                QCOMPARE(r.containedIn, QStringLiteral("ZIP00001.ZIP"));
        }
        QCOMPARE(saved, uint64_t(zip.size()));
        QCOMPARE(readAll(scan.records.first().savedPath), zip);
        const double bound = 1.2 * double(uint64_t(zip.size()) + 4096 + saved);
        QVERIFY2(double(scan.mediumRead) <= bound, qPrintable(QStringLiteral("%1 read").arg(scan.mediumRead)));
    }

    // One file, one copy only where a format declares how far it reaches: a picture found inside
    // the carved range of a file whose end is unknown is saved, and that file ends where it starts.
    void aFileInsideACarvedRangeIsSavedAndCutsIt()
    {
        CardImage img(300, true);
        img.putHex(10, "ABCDEF0102");               // a type without an end finder
        const QByteArray jpeg = picture("jpeg", 200, 150);
        img.put(60, jpeg);                          // found only by the Thorough pass
        CustomScan scan;
        scan.run(img.data, 0, rec("xyz", "18874368", "ABCDEF0102"), rec("jpg", "18874368", "FFD8FFE0"));
        const SaveRecord *xyz = scan.record(QStringLiteral("GND00001.XYZ")), *jpg = scan.record(QStringLiteral("THD00001.JPG"));
        QVERIFY(xyz && jpg);
        QVERIFY(jpg->containedIn.isEmpty());
        QCOMPARE(readAll(jpg->savedPath), jpeg);
        QCOMPARE(xyz->bytes, 50u * 512);  // cut where the picture starts
        QCOMPARE(readAll(xyz->savedPath), img.sectors(10, 60));
    }

    // A photo whose carve runs long (a header, then erased space up to its limit): the pass
    // keeps only the first bytes for the thumbnail while the file goes to disk whole.
    void memoryStaysFlatWhileALongFileIsSaved()
    {
        const qint64 sectors = (kPhotoPrefixBytes + (8 << 20)) / 512;
        CardImage img(sectors + 16);
        // A Photoshop header for a 3000 x 3000 RGB picture of 27 MB, then nothing.
        img.putHex(4, "384250530001000000000000000300000BB800000BB800080003000000000000000000000000000000");
        CustomScan scan;
        scan.run(img.data, 0, rec("psd", "2147483648", "38425053"));
        QCOMPARE(scan.files.size(), 1);
        QCOMPARE(uint64_t(scan.bytes.first().size()), kPhotoPrefixBytes);
        QCOMPARE(scan.files.first().carvedBytes, uint64_t(sectors + 12) * 512);
        QCOMPARE(scan.records.first().extent, QStringLiteral("declared"));
        QCOMPARE(QFileInfo(scan.records.first().savedPath).size(), qint64(26 + 12 + 2 + 3 * 3000 * 3000));
    }

    // An old raw file whose structure still claims megabytes that newer photos overwrote: its
    // own preview (which its structure places) belongs to it, the newer photo is saved.
    void aDeclaredLengthDoesNotSwallowNewerFiles()
    {
        const QByteArray preview = picture("jpeg", 80, 60), newer = picture("jpeg", 120, 90);
        const quint32 rawAt = 4096, rawBytes = 3u << 20;
        // The preview JPEG at 1024, the raw data's length and offset.
        QByteArray raw = tiff({{{0x2E, 7, quint32(preview.size()), le32(1024)}, ascii(0x10F, "Pan"), longValue(0x117, rawBytes),
                                longValue(0x118, rawAt)}}, {-1}, {});
        raw[2] = 'U';  // Panasonic's magic number
        CardImage img(8000, true);
        img.put(10, raw);
        img.put(12, preview);             // at 1024 bytes from the raw file's start
        img.put(10 + 200, newer);         // written later over the old raw data
        CustomScan scan;
        scan.run(img.data, 0, rec("rw2", "134217728", "49495500") + rec("jpg", "52428800", "FFD8FF"));
        QCOMPARE(scan.records.size(), 3);
        const SaveRecord *old = scan.record(QStringLiteral("GND00001.RW2"));
        QVERIFY(old);
        QCOMPARE(old->extent, QStringLiteral("declared"));
        QCOMPARE(old->bytes, uint64_t(rawAt) + rawBytes);
        QCOMPARE(scan.record(QStringLiteral("GND00002.JPG"))->containedIn, QStringLiteral("GND00001.RW2"));
        const SaveRecord *photo = scan.record(QStringLiteral("GND00003.JPG"));
        QVERIFY(photo->containedIn.isEmpty());
        QCOMPARE(readAll(photo->savedPath), newer);
    }

    // A TIFF whose first directory says a Nikon camera made its raw data is a NEF everywhere:
    // its name, its type, its folder; its number is the pass's as for any photo.
    void rawFilesAreNamedForTheirCamera()
    {
        const QByteArray data = noise(5000, 33);
        // A reduced image first, then the camera's name and the strips.
        const QByteArray nef = tiff({{longValue(0xFE, 1), ascii(0x10F, "NIKON CORPORATION"), blobOffset(0x111, 0),
                                      longValue(0x117, quint32(data.size()))}}, {-1}, {data});
        CardImage img(100, true);
        img.put(3, picture("jpeg", 40, 30));
        img.put(20, nef);
        CustomScan scan;
        scan.run(img.data, 0, rec("jpg", "52428800", "FFD8FF") + rec("tif", "209715200", "49492A00"));
        QCOMPARE(scan.records.size(), 2);
        const SaveRecord &r = scan.records.at(1);
        QCOMPARE(r.name, QStringLiteral("GND00002.NEF"));
        QCOMPARE(r.type, QStringLiteral("NEF"));
        QCOMPARE(r.savedPath, scan.out + QStringLiteral("/NEF/GND00002.NEF"));
        QCOMPARE(readAll(r.savedPath), nef);
    }

    // Unreadable sectors count once per scan, whoever reads them again.
    void unreadableSectorsCountOnce()
    {
        CardImage img(400, true);
        img.putHex(10, "ABCDEF0102");
        auto medium = faultyMedium(img.data);
        medium->bad = {20, 21, 22};
        CustomScan scan;
        scan.run(img.data, 0, rec("xyz", "18874368", "ABCDEF0102"), rec("xyz", "18874368", "ABCDEF0102"), faultyOpener(medium));
        QCOMPARE(scan.unreadable, 3u);  // both passes read them
        QByteArray expected = img.sectors(10, 400);
        expected.replace(10 * 512, 3 * 512, QByteArray(3 * 512, '\0'));
        QCOMPARE(readAll(scan.records.first().savedPath), expected);
    }

    // An image that ends inside a sector: a photo ending in its tail is found and saved whole,
    // and nothing saved reaches past the image's end.
    void imageEndingInsideASector()
    {
        const QByteArray jpeg = picture("jpeg", 160, 120);
        QByteArray data = QByteArray(512 * 20, 'x');
        data += jpeg.left(jpeg.size() - 300);
        data += QByteArray((512 - data.size() % 512) % 512, 'y');
        data += jpeg.right(300);  // the image ends with the picture: 512·n + a partial sector
        QVERIFY(data.size() % 512 != 0);
        CustomScan scan;
        scan.run(data, 0, rec("xyz", "18874368", "FFD8FF"));  // no end finder: the carve
        QCOMPARE(scan.records.size(), 1);
        QCOMPARE(readAll(scan.records.first().savedPath), data.mid(512 * 20));
        CustomScan jpg;
        jpg.run(data, 0, rec("jpg", "18874368", "FFD8FF"));
        QCOMPARE(jpg.records.first().endSector, sectorsFor(uint64_t(data.size())));
    }

    // As root, every name the saver uses may have been planted by someone else: links, FIFOs
    // and folders. Nothing outside the output folder changes, no ownership is given away, and
    // saving goes on or stops with a message, never hangs.
    void plantedNamesAreNeverFollowed()
    {
        QTemporaryDir dir;
        const QString victimDir = dir.path() + QStringLiteral("/victim");
        QVERIFY(QDir().mkpath(victimDir));
        const QString victim = victimDir + QStringLiteral("/secret");
        QVERIFY(writeFile(victim, "root only"));
        const uint owner = QFileInfo(victim).ownerId();

        CardImage img(200, true);
        const QByteArray jpeg = picture("jpeg", 60, 40);
        for (int s : {10, 50, 90, 130})
            img.put(s, jpeg);
        CustomScan scan;
        const QString out = scan.out;
        QVERIFY(QDir().mkpath(out + "/JPG"));
        const QByteArray pid = QByteArray::number(::getpid());
        auto at = [&](const QString &name) { return QFile::encodeName(out + "/JPG/" + name); };
        // Links at the temporary names of the first two files, a FIFO at the third's, a folder
        // at the fourth's, and a link at a final name.
        QCOMPARE(::symlink(QFile::encodeName(victim).constData(), at(".GND00001.JPG." + pid + ".part").constData()), 0);
        QCOMPARE(::symlink(QFile::encodeName(victimDir).constData(), at(".GND00002.JPG." + pid + ".part").constData()), 0);
        QCOMPARE(::mkfifo(at(".GND00003.JPG." + pid + ".part").constData(), 0600), 0);
        QCOMPARE(::mkdir(at(".GND00004.JPG." + pid + ".part").constData(), 0700), 0);
        QCOMPARE(::symlink(QFile::encodeName(victim).constData(), at("GND00001.JPG").constData()), 0);
        // A partial file an interrupted run of ours left (its process is gone).
        QVERIFY(writeFile(out + "/JPG/.GND00009.JPG.999999999.part", "stale"));
        if (::geteuid() == 0)
            qputenv("SUDO_UID", "4242");
        scan.run(img.data, 0, rec("jpg", "18874368", "FFD8FF"));
        qunsetenv("SUDO_UID");
        QCOMPARE(scan.records.size(), 4);
        for (const SaveRecord &r : scan.records) {
            QVERIFY2(r.error.isEmpty(), qPrintable(r.error));
            QVERIFY(r.savedPath.startsWith(out + "/JPG/"));
            QCOMPARE(readAll(r.savedPath), jpeg);
            const QFileInfo saved(r.savedPath);
            QVERIFY(saved.isFile() && !saved.isSymLink());
            if (::geteuid() == 0)
                QCOMPARE(saved.ownerId(), 4242u);
        }
        QCOMPARE(scan.records.first().savedPath, out + "/JPG/GND00001_1.JPG");  // the link was not replaced
        QCOMPARE(readAll(victim), QByteArray("root only"));
        QCOMPARE(QFileInfo(victim).ownerId(), owner);
        QCOMPARE(QDir(victimDir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList{"secret"});
        QVERIFY(!QFile::exists(out + "/JPG/.GND00009.JPG.999999999.part"));

        // A type folder that is a link: nothing is written through it.
        CustomScan linked;
        QVERIFY(QDir().mkpath(linked.out));
        QCOMPARE(::symlink(QFile::encodeName(victimDir).constData(), QFile::encodeName(linked.out + "/JPG").constData()), 0);
        linked.run(img.data, 0, rec("jpg", "18874368", "FFD8FF"));
        QVERIFY(linked.records.first().savedPath.isEmpty());
        QVERIFY(linked.records.first().error.contains(QLatin1String("not a folder")));
        QCOMPARE(QDir(victimDir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList{"secret"});

        // Our own files written afresh (the preview): a link standing at the name is removed,
        // not followed.
        Fd folder(::open(QFile::encodeName(dir.path()).constData(), O_RDONLY | O_DIRECTORY));
        QCOMPARE(::symlink(QFile::encodeName(victim).constData(), QFile::encodeName(dir.path() + "/dprv.JPG").constData()), 0);
        QString why;
        Fd preview = createAfresh(folder.get(), QStringLiteral("dprv.JPG"), &why);
        QVERIFY2(preview.valid(), qPrintable(why));
        QCOMPARE(::write(preview.get(), "x", 1), 1);
        QCOMPARE(readAll(victim), QByteArray("root only"));
    }

    void namesAndOwnership()
    {
        QCOMPARE(safeComponent(QStringLiteral("../../etc")), QStringLiteral("_.._.._etc"));
        QCOMPARE(safeComponent(QStringLiteral("..")), QStringLiteral("_"));
        QCOMPARE(safeComponent(QStringLiteral("a/b\\c")), QStringLiteral("a_b_c"));
        QCOMPARE(safeComponent(QString()), QStringLiteral("_"));
        QCOMPARE(safeComponent(QStringLiteral("JPG\x01")), QStringLiteral("JPG_"));
        QCOMPARE(safeComponent(QStringLiteral("GND00001.JPG")), QStringLiteral("GND00001.JPG"));
        // A remembered name of 255 characters of two or three bytes each: cut to what a file
        // system takes, with room for the temporary name's additions, keeping its extension.
        for (const QChar c : {QChar(0xE9), QChar(0x65E5)}) {
            const QString cut = safeComponent(QString(251, c) + QStringLiteral(".JPG"));
            QVERIFY2(QFile::encodeName(cut).size() <= 200, qPrintable(cut));
            QVERIFY(cut.endsWith(QStringLiteral(".JPG")));
        }

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
        const SaveRecord r = saveFromList({f}, MediumRef{path, 100 * 512, openDeviceFile, nullptr}, out).value(0);
        qunsetenv("SUDO_UID");
        QVERIFY(r.savedPath.startsWith(out + QLatin1Char('/')));
        QVERIFY(!r.savedPath.contains(QLatin1String("/../")));
        if (geteuid() == 0) {
            QCOMPARE(QFileInfo(r.savedPath).ownerId(), 4242u);
            QCOMPARE(QFileInfo(out).ownerId(), 4242u);
        }
    }
};

QTEST_MAIN(TestSaving)
#include "test_saving.moc"
