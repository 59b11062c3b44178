#include "media/samemedium.h"
#include "media/scanrange.h"
#include "media/volumes.h"
#include "testfiles.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace lumafind;

namespace {
QByteArray fixture(const char *name)
{
    QFile f(QStringLiteral(LUMAFIND_SOURCE_DIR "/tests/fixtures/") + QLatin1String(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
QString opticalByName(const QString &path)
{
    return path.endsWith(QLatin1String("sr0")) ? QStringLiteral("CD") : QStringLiteral("DVD");
}
} // namespace

class TestMedia : public QObject {
    Q_OBJECT
private slots:
    void capacityTexts_data()
    {
        QTest::addColumn<QString>("bytes");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("sectors");
        QTest::newRow("0") << "0" << "0.00 bytes " << "0";
        QTest::newRow("512") << "512" << "512.00 bytes " << "1";
        QTest::newRow("1000") << "1000" << "1000.00 bytes " << "1";
        QTest::newRow("1024") << "1024" << "1024.00 bytes " << "2";
        QTest::newRow("1025") << "1025" << "1.00  KB " << "2";
        QTest::newRow("1536") << "1536" << "1.50  KB " << "3";
        QTest::newRow("1048576") << "1048576" << "1024.00  KB " << "2048";
        QTest::newRow("1048577") << "1048577" << "1.00  MB " << "2048";
        QTest::newRow("16GB card") << "16008609792" << "14.91  GB " << "31266816";
        QTest::newRow("3TB") << "3298534883328" << "3.00  TB " << "6442450944";
    }
    void capacityTexts()
    {
        QFETCH(QString, bytes);
        QFETCH(QString, text);
        QFETCH(QString, sectors);
        QCOMPARE(getMPSize(bytes), text);
        QCOMPARE(sectorsText(bytes), sectors);
    }

    void laptopMediaRows()
    {
        const QList<MyDataObject> rows = mediaRowsFromLsblk(fixture("lsblk-laptop.json"), opticalByName);
        QStringList got;
        for (const MyDataObject &r : rows)
            got << QStringList{r.nsStrDiskIdentifier(), r.nsStrVolName(), r.nsStrFileSystem(), r.nsStrSize(),
                               r.nsStrParentDisk(), r.nsStrSectors(), r.devicePath()}
                       .join(QLatin1Char('|'));
        const QStringList expected = {
            "sda1|STICK|MS-DOS (FAT32)|7.45  GB |sda|15625000|/dev/sda1",
            "sda2|BACKUP|ext4|7.39  GB |sda|15491287|/dev/sda2",
            "sda|Untitled|Whole disk|14.84  GB |sda|31116288|/dev/sda",
            "mmcblk0p1|CANON_DC|MS-DOS (FAT32)|29.72  GB |mmcblk0|62325760|/dev/mmcblk0p1",
            "mmcblk0|Untitled|Whole disk|29.72  GB |mmcblk0|62333952|/dev/mmcblk0",
            "sdb1|Untitled|Unknown|59.46  GB |sdb|124702720|/dev/sdb1",
            "sdb|Untitled|Whole disk|59.48  GB |sdb|124735488|/dev/sdb",
            "sr1|HOLIDAY_2009|UDF|1.36  GB |sr1|2851520|/dev/sr1",
        };
        QCOMPARE(got, expected);
        // The loop image, the CD, the fixed NVMe disk and the nameless device are left out.
        for (const MyDataObject &r : rows) {
            QVERIFY(!r.nsStrDiskIdentifier().startsWith(QLatin1String("loop")));
            QVERIFY(r.nsStrDiskIdentifier() != QLatin1String("sr0"));
            QVERIFY(!r.nsStrDiskIdentifier().startsWith(QLatin1String("nvme")));
            QVERIFY(!r.nsStrDiskIdentifier().isEmpty());
        }
    }

    void olderLsblkWritesFlagsAndSizesAsText()
    {
        const QByteArray json = R"({"blockdevices":[{"name":"sdc","path":"/dev/sdc","size":"1048577","label":"CAM",
            "fstype":"exfat","pkname":null,"rm":"1","hotplug":"0","tran":"usb","type":"disk","mountpoint":"/m"}]})";
        const QList<MyDataObject> rows = mediaRowsFromLsblk(json, opticalByName);
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows.first().nsStrFileSystem(), QStringLiteral("ExFAT"));
        QCOMPARE(rows.first().nsStrSize(), QStringLiteral("1.00  MB "));
        QVERIFY(mediaRowsFromLsblk("not json", opticalByName).isEmpty());
        // Without udev's answer a disc is judged by its size: a CD-sized one is left out.
        const QByteArray discs = R"({"blockdevices":[
            {"name":"sr0","path":"/dev/sr0","size":734003200,"label":"CD","fstype":"iso9660","rm":true,"type":"rom","mountpoint":"/a"},
            {"name":"sr1","path":"/dev/sr1","size":1459978240,"label":"DVD","fstype":"udf","rm":true,"type":"rom","mountpoint":"/b"}]})";
        const QList<MyDataObject> unknown = mediaRowsFromLsblk(discs, [](const QString &) { return QString(); });
        QCOMPARE(unknown.size(), 1);
        QCOMPARE(unknown.first().nsStrDiskIdentifier(), QStringLiteral("sr1"));
    }

    void columnsByIdentifier()
    {
        const MyDataObject r(QStringLiteral("sdb1"), QStringLiteral("CARD"), QStringLiteral("ExFAT"), QStringLiteral("1.00  GB "),
                             QStringLiteral("sdb"), QStringLiteral("2097152"));
        QCOMPARE(r.column(QStringLiteral("Collumn1")), QStringLiteral("sdb1"));
        QCOMPARE(r.column(QStringLiteral("Collumn6")), QStringLiteral("2097152"));
        QCOMPARE(r.column(QStringLiteral("Column1")), QString());
        QCOMPARE(r.devicePath(), QStringLiteral("/dev/sdb1"));
    }

    void diskImages()
    {
        QTemporaryDir dir;
        QFile f(dir.path() + QStringLiteral("/card.img"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.resize(1000 * 512 + 100);
        f.close();
        const QString cwd = QDir::currentPath();
        QDir::setCurrent(dir.path());
        const MyDataObject r = diskImageRow(QStringLiteral("card.img"));
        QDir::setCurrent(cwd);
        QCOMPARE(r.nsStrDiskIdentifier(), dir.path() + QStringLiteral("/card.img"));
        QCOMPARE(r.nsStrVolName(), QStringLiteral("card.img"));
        QCOMPARE(r.nsStrFileSystem(), QStringLiteral("Disk Image"));
        QCOMPARE(r.nsStrParentDisk(), QString());
        QCOMPARE(r.nsStrSectors(), QStringLiteral("1000"));
        QCOMPARE(r.devicePath(), r.nsStrDiskIdentifier());
        QString error;
        QVERIFY(diskImageRow(dir.path() + QStringLiteral("/none.img"), &error).nsStrDiskIdentifier().isEmpty());
        QVERIFY(error.contains(QLatin1String("does not exist")));
        QVERIFY(diskImageRow(dir.path(), &error).nsStrDiskIdentifier().isEmpty());
    }

    void lsblkFromAStandIn()
    {
        QTemporaryDir dir;
        const QString script = standInLsblk(dir.path(), laptopFixture());
        qputenv("LUMAFIND_LSBLK", script.toLocal8Bit());
        QCOMPARE(runLsblk(), fixture("lsblk-laptop.json"));
        qputenv("LUMAFIND_LSBLK", QByteArray(dir.path().toLocal8Bit() + "/missing"));
        QVERIFY(runLsblk().isEmpty());
        QVERIFY(getVolumeToFSGetInfo().isEmpty());
        qunsetenv("LUMAFIND_LSBLK");
    }

    void outputFolderOnTheScannedMedium()
    {
        // A recorded machine: sysfs with a card (sdb: sdb1, sdb2), a LUKS volume on sdc1, a loop
        // device backed by an image file, and the system disk; mountinfo mounting them in a
        // temporary tree.
        QTemporaryDir root;
        const QString r = root.path();
        auto mk = [&](const QString &rel, const QByteArray &content = QByteArray()) {
            QDir().mkpath(QFileInfo(r + rel).absolutePath());
            QFile f(r + rel);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(content);
        };
        mk("/sys/devices/sdb/dev", "8:16\n");
        mk("/sys/devices/sdb/sdb1/dev", "8:17\n");
        mk("/sys/devices/sdb/sdb1/partition", "1\n");
        mk("/sys/devices/sdb/sdb2/dev", "8:18\n");
        mk("/sys/devices/sdb/sdb2/partition", "2\n");
        mk("/sys/devices/sdc/dev", "8:32\n");
        mk("/sys/devices/sdc/sdc1/dev", "8:33\n");
        mk("/sys/devices/sdc/sdc1/partition", "1\n");
        mk("/sys/devices/dm-0/dev", "253:0\n");
        QDir().mkpath(r + "/sys/devices/dm-0/slaves");
        QVERIFY(QFile::link(r + "/sys/devices/sdc/sdc1", r + "/sys/devices/dm-0/slaves/sdc1"));
        const QString image = r + "/card.img";
        mk("/card.img", QByteArray(4096, 0));
        mk("/other.img", QByteArray(4096, 0));
        mk("/sys/devices/loop0/dev", "7:0\n");
        mk("/sys/devices/loop0/loop/backing_file", image.toLocal8Bit() + "\n");
        mk("/sys/devices/nvme0n1/nvme0n1p2/dev", "259:2\n");
        mk("/sys/devices/nvme0n1/nvme0n1p2/partition", "2\n");
        QDir().mkpath(r + "/sys/class/block");
        for (const char *dev : {"sdb", "sdb/sdb1", "sdb/sdb2", "sdc", "sdc/sdc1", "dm-0", "loop0", "nvme0n1/nvme0n1p2"})
            QVERIFY(QFile::link(r + "/sys/devices/" + dev, r + "/sys/class/block/" + QFileInfo(QString::fromLatin1(dev)).fileName()));
        for (const char *m : {"/media/CARD/out", "/media/SECRET", "/media/IMG", "/home/ann"})
            QDir().mkpath(r + m);
        mk("/mountinfo", QStringLiteral("21 1 259:2 / / rw,relatime - ext4 /dev/nvme0n1p2 rw\n"
                                        "40 21 8:17 / %1/media/CARD rw - vfat /dev/sdb1 rw\n"
                                        "41 21 253:0 / %1/media/SECRET rw - ext4 /dev/mapper/lumafind-test-secret rw\n"
                                        "42 21 7:0 / %1/media/IMG rw - vfat /dev/lumafind-test-loop rw\n").arg(r).toLocal8Bit());
        const BlockLayout layout{r + "/mountinfo", r + "/sys/class/block"};

        QString why;
        QVERIFY(folderOnMedium(r + "/media/CARD/out", "/dev/sdb1", &why, layout));
        QVERIFY(why.contains(QLatin1String("disk sdb")));
        QVERIFY(folderOnMedium(r + "/media/CARD/new/deeper", "/dev/sdb", &why, layout));  // not made yet
        QVERIFY(folderOnMedium(r + "/media/CARD", "/dev/sdb2", &why, layout));            // same card
        QVERIFY(!folderOnMedium(r + "/media/CARD", "/dev/sdc", &why, layout));
        QVERIFY(folderOnMedium(r + "/media/SECRET", "/dev/sdc1", &why, layout));          // through LUKS
        QVERIFY(folderOnMedium(r + "/media/SECRET", "/dev/sdc", &why, layout));
        QVERIFY(folderOnMedium(r + "/media/IMG", image, &why, layout));                   // loop on the image
        QVERIFY(!folderOnMedium(r + "/media/IMG", r + "/other.img", &why, layout));
        QVERIFY(!folderOnMedium(r + "/home/ann", "/dev/sdb1", &why, layout));
        QVERIFY(!folderOnMedium(r + "/home/ann", image, &why, layout));  // an image on the same disk is fine
        QCOMPARE(physicalBacking("dm-0", layout), QStringList{"sdc"});
    }

    void rangeCheckTable_data()
    {
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("end");
        QTest::addColumn<QString>("sectors");
        QTest::addColumn<int>("alert");
        QTest::addColumn<int>("field");  // 0 none, 1 start, 2 end
        QTest::newRow("whole medium") << "0" << "100" << "100" << 0 << 0;
        QTest::newRow("10 to 11") << "10" << "11" << "11" << 0 << 0;
        QTest::newRow("leading zeros longer") << "0005" << "50" << "100" << 2 << 1;
        QTest::newRow("minus one") << "-1" << "50" << "100" << 1 << 1;
        QTest::newRow("plus five") << "+5" << "50" << "100" << 1 << 1;
        QTest::newRow("blank first") << " 5" << "50" << "100" << 1 << 1;
        QTest::newRow("blank last") << "5 " << "50" << "100" << 1 << 1;
        QTest::newRow("letter") << "5a" << "50" << "100" << 1 << 1;
        QTest::newRow("empty start") << "" << "50" << "100" << 1 << 1;
        QTest::newRow("start above") << "101" << "50" << "100" << 2 << 1;
        QTest::newRow("empty end") << "5" << "" << "100" << 3 << 2;
        QTest::newRow("end letters") << "5" << "x" << "100" << 3 << 2;
        QTest::newRow("end count+1") << "5" << "101" << "100" << 4 << 2;
        QTest::newRow("start equals end") << "50" << "50" << "100" << 5 << 2;
        QTest::newRow("end before start") << "60" << "50" << "100" << 5 << 2;
        QTest::newRow("beyond 2^31 ok") << "3000000000" << "6442450944" << "6442450944" << 0 << 0;
        QTest::newRow("beyond 2^31 over") << "0" << "6442450945" << "6442450944" << 4 << 2;
    }
    void rangeCheckTable()
    {
        QFETCH(QString, start);
        QFETCH(QString, end);
        QFETCH(QString, sectors);
        QFETCH(int, alert);
        QFETCH(int, field);
        const RangeAlert a = checkRange({false, true, sectors, start, end});
        QCOMPARE(a.number, alert);
        QCOMPARE(int(a.field), field);
        if (alert == 2 || alert == 4) {
            QCOMPARE(a.message(), QStringLiteral("\nMaximum sector range exceeded"));
            QCOMPARE(a.informative(), alert == 2 ? QStringLiteral("Please enter valid Start Sector value.")
                                                 : QStringLiteral("Please enter valid End Sector value."));
        }
        if (alert == 0) {
            const ScanRange r = rangeHandOver({false, true, sectors, start, end});
            QCOMPARE(r.start, start.toULongLong());
            QCOMPARE(r.end, end.toULongLong());
            QCOMPARE(r.total, r.end - r.start);
        }
    }

    void entireDiskSkipsEveryTest()
    {
        QCOMPARE(checkRange({true, false, QStringLiteral("100"), QStringLiteral("abc"), QStringLiteral("-")}).number, 0);
        const ScanRange r = rangeHandOver({true, false, QStringLiteral("6442450944"), QStringLiteral("abc"), QString()});
        QCOMPARE(r.start, 0u);
        QCOMPARE(r.end, 6442450944u);
        QCOMPARE(r.total, 6442450944u);
        QCOMPARE(checkRange({false, true, QStringLiteral("100"), QStringLiteral("1"), QStringLiteral("2")}).number, 0);
        QVERIFY(Check_For_Valid_Sec(QString()));
        QVERIFY(!Check_For_Valid_Sec(QStringLiteral("1.5")));
    }

    void slidersKeepTheEnds()
    {
        for (uint64_t span : {uint64_t(0), uint64_t(1), uint64_t(999999), uint64_t(1000001), uint64_t(2147483648u),
                              uint64_t(6442450944u), ~uint64_t(0) / 2}) {
            QCOMPARE(sliderToSector(span, 0), 0u);
            QCOMPARE(sliderToSector(span, kSliderSteps), span);
            QCOMPARE(sectorToSlider(span, span), span ? kSliderSteps : 0);
            QCOMPARE(sectorToSlider(span, 0), 0);
            // Monotone in between.
            QVERIFY(sliderToSector(span, kSliderSteps / 2) <= sliderToSector(span, kSliderSteps / 2 + 1));
        }
    }

    void progressLine()
    {
        QCOMPARE(progressText(1000, 1000, 2000, 1000), QStringLiteral("Sectors 1000 of 2000   ( Completed 0% )"));
        QCOMPARE(progressText(1500, 1000, 2000, 1000), QStringLiteral("Sectors 1500 of 2000   ( Completed 50% )"));
        QCOMPARE(progressText(2000, 1000, 2000, 1000), QStringLiteral("Sectors 2000 of 2000   ( Completed 100% )"));
        QCOMPARE(progressText(0, 0, 0, 0), QStringLiteral("Sectors 0 of 0   ( Completed 0% )"));
    }
};

QTEST_GUILESS_MAIN(TestMedia)
#include "test_media.moc"
