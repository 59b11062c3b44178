#include "media/samemedium.h"
#include "media/scanrange.h"
#include "media/volumes.h"
#include "loopmount.h"
#include "testfiles.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using namespace lumafind;

namespace {
QString opticalByName(const QString &path)
{
    return path.endsWith(QLatin1String("sr0")) ? QStringLiteral("CD") : QStringLiteral("DVD");
}
} // namespace

class TestMedia : public QObject {
    Q_OBJECT
private slots:
    void capacityTexts()
    {
        const QStringList cases[] = {
            {"0", "0.00 bytes ", "0"},           {"512", "512.00 bytes ", "1"},
            {"1000", "1000.00 bytes ", "1"},     {"1024", "1024.00 bytes ", "2"},
            {"1025", "1.00  KB ", "2"},          {"1536", "1.50  KB ", "3"},
            {"1048576", "1024.00  KB ", "2048"}, {"1048577", "1.00  MB ", "2048"},
            {"16008609792", "14.91  GB ", "31266816"},  // a 16 GB card
            {"3298534883328", "3.00  TB ", "6442450944"},
        };
        for (const QStringList &c : cases) {
            QCOMPARE(getMPSize(c[0]), c[1]);
            QCOMPARE(sectorsText(c[0]), c[2]);
        }
    }

    void laptopMediaRows()
    {
        const QList<MyDataObject> rows = mediaRowsFromLsblk(readAll(laptopFixture()), opticalByName);
        QStringList got;
        for (const MyDataObject &r : rows)
            got << QStringList{r.nsStrDiskIdentifier(), r.nsStrVolName(), r.nsStrFileSystem(), r.nsStrSize(),
                               r.nsStrParentDisk(), r.nsStrSectors(), r.devicePath()}
                       .join(QLatin1Char('|'));
        // The loop image, the CD, the fixed NVMe disk and the nameless device are left out.
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

    void diskImages()
    {
        QTemporaryDir dir;
        QVERIFY(writeFile(dir.path() + QStringLiteral("/card.img"), QByteArray(1000 * 512 + 100, '\0')));
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
        // An empty file and a FIFO are no image, and say why.
        QVERIFY(writeFile(dir.path() + QStringLiteral("/empty.img"), QByteArray()));
        QVERIFY(diskImageRow(dir.path() + QStringLiteral("/empty.img"), &error).nsStrDiskIdentifier().isEmpty());
        QVERIFY2(error.contains(QLatin1String("the image is empty")), qPrintable(error));
        QVERIFY(::mkfifo(QFile::encodeName(dir.path() + QStringLiteral("/fifo.img")).constData(), 0600) == 0);
        QVERIFY(diskImageRow(dir.path() + QStringLiteral("/fifo.img"), &error).nsStrDiskIdentifier().isEmpty());
        QVERIFY2(error.contains(QLatin1String("is not a disk image file")), qPrintable(error));
    }

    void lsblkFromAStandIn()
    {
        QTemporaryDir dir;
        const QString script = standInLsblk(dir.path(), laptopFixture());
        qputenv("LUMAFIND_LSBLK", script.toLocal8Bit());
        QCOMPARE(runLsblk(), readAll(laptopFixture()));
        qputenv("LUMAFIND_LSBLK", QByteArray(dir.path().toLocal8Bit() + "/missing"));
        QVERIFY(runLsblk().isEmpty());
        QVERIFY(getVolumeToFSGetInfo().isEmpty());
        qunsetenv("LUMAFIND_LSBLK");
    }

    void mediumByIdentityOnARecordedMachine()
    {
        // A recorded machine: sysfs with a card (sdb: sdb1, sdb2), a LUKS volume on sdc1, loop
        // devices backed by image files, the system disk, and the disk that really holds this
        // test's folder; mountinfo for the file systems on no block device of their own.
        QTemporaryDir root;
        const QString r = root.path();
        auto mk = [&](const QString &rel, const QByteArray &content = QByteArray()) {
            QDir().mkpath(QFileInfo(r + rel).absolutePath());
            QVERIFY(writeFile(r + rel, content));
        };
        const QString image = r + "/card.img";
        mk("/card.img", QByteArray(4096, 0));
        mk("/other.img", QByteArray(4096, 0));
        QVERIFY(QFile::link(image, r + "/link.img"));
        QVERIFY(::link(QFile::encodeName(image).constData(), QFile::encodeName(r + "/hard.img").constData()) == 0);
        struct stat imageStat {};
        QCOMPARE(::stat(QFile::encodeName(image).constData(), &imageStat), 0);
        const QByteArray hostDev = QByteArray::number(major(imageStat.st_dev)) + ':' + QByteArray::number(minor(imageStat.st_dev));

        // A block device in sysfs (its partition number, when it is one), listed in /sys/class/block.
        QDir().mkpath(r + "/sys/class/block");
        auto block = [&](const QString &path, const QByteArray &number, const QByteArray &partition = QByteArray()) {
            mk("/sys/devices/" + path + "/dev", number + "\n");
            if (!partition.isEmpty())
                mk("/sys/devices/" + path + "/partition", partition + "\n");
            QVERIFY(QFile::link(r + "/sys/devices/" + path, r + "/sys/class/block/" + QFileInfo(path).fileName()));
        };
        block("sdb", "8:16");
        block("sdb/sdb1", "8:17", "1");
        block("sdb/sdb2", "8:18", "2");
        block("sdc", "8:32");
        block("sdc/sdc1", "8:33", "1");
        block("dm-0", "253:0");
        QDir().mkpath(r + "/sys/devices/dm-0/slaves");
        QVERIFY(QFile::link(r + "/sys/devices/sdc/sdc1", r + "/sys/devices/dm-0/slaves/sdc1"));
        // loop0 names the image, loop1 names it through a hard link, loop2 through a symlink;
        // loop3's file was deleted (its path now names nothing).
        const QByteArray backing[] = {QFile::encodeName(image), QFile::encodeName(r + "/hard.img"), QFile::encodeName(r + "/link.img"),
                                      QFile::encodeName(r + "/gone.img") + " (deleted)"};
        for (int n = 0; n < 4; ++n) {
            block(QStringLiteral("loop%1").arg(n), "7:" + QByteArray::number(n));
            mk(QStringLiteral("/sys/devices/loop%1/loop/backing_file").arg(n), backing[n] + "\n");
        }
        block("nvme0n1/nvme0n1p2", "259:2", "2");
        block("hostdisk", hostDev);
        // /sys/dev/block knows some of them; the rest are found by searching /sys/class/block.
        QDir().mkpath(r + "/sys/dev/block");
        QVERIFY(QFile::link(r + "/sys/devices/sdb/sdb1", r + "/sys/dev/block/8:17"));
        QVERIFY(QFile::link(r + "/sys/devices/dm-0", r + "/sys/dev/block/253:0"));
        mk("/mountinfo", QStringLiteral("21 1 259:2 / / rw,relatime - ext4 /dev/nvme0n1p2 rw\n"
                                        "40 21 8:17 / /media/CARD rw - vfat /dev/sdb1 rw\n"
                                        "50 21 0:4242 /@home /home rw - btrfs /dev/sdb2 rw\n"
                                        "51 21 0:4243 / /media/SECRET rw - fuseblk /dev/dm-0 rw\n"
                                        "52 21 0:4244 / /run rw - tmpfs tmpfs rw\n")
                                .toLocal8Bit());
        // No loop device is opened here: they would be this machine's, not the recorded ones.
        const BlockLayout layout{r + "/mountinfo", r + "/sys/class/block", r + "/sys/dev/block", QString()};
        auto device = [&](dev_t d, const char *name) { return MediumIdentity::ofBlockDevice(d, QString::fromLatin1(name), layout); };
        const dev_t sdb = makedev(8, 16), sdb1 = makedev(8, 17), sdb2 = makedev(8, 18), sdc = makedev(8, 32),
                    sdc1 = makedev(8, 33), dm0 = makedev(253, 0), nvme = makedev(259, 2);

        // What each medium stands on.
        QCOMPARE(device(sdb1, "/dev/sdb1").roots(), QStringList{"disk sdb"});
        QCOMPARE(device(dm0, "/dev/mapper/secret").roots(), QStringList{"disk sdc"});
        const QString imageKey = QStringLiteral("file %1:%2/%3").arg(major(imageStat.st_dev)).arg(minor(imageStat.st_dev)).arg(imageStat.st_ino);
        QCOMPARE(device(makedev(7, 1), "/dev/loop1").roots(), QStringList{imageKey});  // the image alone, not hostdisk
        QCOMPARE(MediumIdentity::ofPath(r + "/link.img", layout).roots(), QStringList{imageKey});
        QCOMPARE(device(makedev(7, 3), "/dev/loop3").roots(), QStringList{"disk loop3"});
        QVERIFY(!MediumIdentity::ofPath(r + "/none.img", layout).isValid());

        QString shared;
        // The card: every partition of it, and the whole disk.
        QVERIFY(deviceOnMedium(sdb1, device(sdb1, "/dev/sdb1"), &shared));
        QCOMPARE(shared, QStringLiteral("disk sdb"));
        QVERIFY(deviceOnMedium(sdb1, device(sdb, "/dev/sdb"), &shared));
        QVERIFY(deviceOnMedium(sdb1, device(sdb2, "/dev/sdb2"), &shared));  // same card
        QVERIFY(!deviceOnMedium(sdb1, device(sdc, "/dev/sdc"), &shared));
        QVERIFY(!deviceOnMedium(nvme, device(sdb1, "/dev/sdb1"), &shared));
        // Through LUKS, both ways up and down the stack.
        QVERIFY(deviceOnMedium(dm0, device(sdc1, "/dev/sdc1"), &shared));
        QVERIFY(deviceOnMedium(dm0, device(sdc, "/dev/sdc"), &shared));
        QVERIFY(deviceOnMedium(sdc1, device(dm0, "/dev/mapper/secret"), &shared));
        // Loop devices on the image, whatever name their backing file was attached by.
        const MediumIdentity img = MediumIdentity::ofPath(image, layout);
        for (int loop : {0, 1, 2}) {
            QVERIFY2(deviceOnMedium(makedev(7, loop), img, &shared), qPrintable(QString::number(loop)));
            QCOMPARE(shared, QStringLiteral("the image ") + image);
        }
        QVERIFY(deviceOnMedium(makedev(7, 0), MediumIdentity::ofPath(r + "/hard.img", layout), &shared));
        QVERIFY(!deviceOnMedium(makedev(7, 0), MediumIdentity::ofPath(r + "/other.img", layout), &shared));
        QVERIFY(!deviceOnMedium(makedev(7, 3), img, &shared));  // its path names nothing now
        QVERIFY(deviceOnMedium(makedev(7, 3), device(makedev(7, 3), "/dev/loop3"), &shared));
        // A file system on a loop device writes into the disk that holds its image, but an image
        // on the same disk as a folder is fine.
        QVERIFY(deviceOnMedium(makedev(7, 0), MediumIdentity::ofBlockDevice(imageStat.st_dev, "/dev/host", layout), &shared));
        QVERIFY(!deviceOnMedium(imageStat.st_dev, img, &shared));
        // File systems on no block device of their own, by their mount source.
        QVERIFY(deviceOnMedium(makedev(0, 4242), device(sdb1, "/dev/sdb1"), &shared));  // btrfs on sdb2
        QCOMPARE(shared, QStringLiteral("disk sdb"));
        QVERIFY(deviceOnMedium(makedev(0, 4243), device(sdc, "/dev/sdc"), &shared));  // FUSE on the LUKS volume
        QVERIFY(!deviceOnMedium(makedev(0, 4244), device(sdb, "/dev/sdb"), &shared));  // tmpfs
        QVERIFY(!deviceOnMedium(makedev(0, 4245), device(sdb, "/dev/sdb"), &shared));  // not mounted anywhere
        // A block device this sysfs does not know is still itself.
        QVERIFY(deviceOnMedium(makedev(8, 200), device(makedev(8, 200), "/dev/sdm8"), &shared));
        QVERIFY(!deviceOnMedium(makedev(8, 200), device(sdb, "/dev/sdb"), &shared));
        // No medium: nothing is on it.
        QVERIFY(!deviceOnMedium(sdb1, MediumIdentity(), &shared));
    }

    void imageByIdentityNotName()
    {
        QTemporaryDir dir;
        const QString d = dir.path();
        const QString image = d + "/card.img";
        QVERIFY(writeFile(image, QByteArray(8192, 'x')));
        QVERIFY(QFile::link(image, d + "/link.img"));
        QVERIFY(QFile::link("card.img", d + "/relative.img"));
        QVERIFY(::link(QFile::encodeName(image).constData(), QFile::encodeName(d + "/hard.img").constData()) == 0);
        QVERIFY(QFile::link(image + "/inside.csv", d + "/dangling.csv"));
        QDir().mkpath(d + "/sub");
        QVERIFY(QFile::link(d, d + "/sub/up"));

        for (const char *name : {"card.img", "link.img", "relative.img", "hard.img"}) {
            const MediumIdentity m = MediumIdentity::ofPath(d + '/' + name);
            QVERIFY(m.isValid());
            QString why;
            // The image under every name is the medium itself.
            for (const char *other : {"card.img", "link.img", "relative.img", "hard.img", "sub/up/card.img", "sub/up/sub/up/link.img"}) {
                QVERIFY2(fileOnMedium(d + '/' + other, m, &why), other);
                QVERIFY(why.contains(QLatin1String("is the medium being searched")));
            }
            QVERIFY(onMedium(d + "/card.img/not/made", m, &why));  // nearest existing: the image
            QVERIFY(fileOnMedium(d + "/dangling.csv", m, &why));     // leads to the image
            // Beside it, on the same disk, is fine.
            QVERIFY(!fileOnMedium(d + "/report.csv", m, &why));
            QVERIFY(!onMedium(d + "/out", m, &why));
            QVERIFY(!onMedium(d, m, &why));
        }
        QVERIFY(!fileOnMedium(image, MediumIdentity::ofPath(d + "/sub"), nullptr));  // a folder is no medium

        // FIFOs and character devices are no medium: nothing can be on them.
        QVERIFY(::mkfifo(QFile::encodeName(d + "/fifo").constData(), 0600) == 0);
        QVERIFY(!MediumIdentity::ofPath(d + "/fifo").isValid());
        QVERIFY(!MediumIdentity::ofPath("/dev/null").isValid());
    }

    void folderOnTheDiskItIsOn()
    {
        // The block device this test's folder really lives on, found by its st_dev.
        QTemporaryDir dir;
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(dir.path()).constData(), &st), 0);
        const QString sys = QStringLiteral("/sys/dev/block/%1:%2").arg(major(st.st_dev)).arg(minor(st.st_dev));
        if (!QFileInfo::exists(sys))
            QSKIP("this folder is on no block device (tmpfs, overlay): nothing to compare");
        const MediumIdentity disk = MediumIdentity::ofBlockDevice(st.st_dev, QStringLiteral("the system disk"));
        QString why;
        QVERIFY(onMedium(dir.path(), disk, &why));
        QVERIFY(why.contains(QLatin1String("the medium being searched")));
        QVERIFY(onMedium(dir.path() + "/new/deeper", disk, &why));
        QVERIFY(fileOnMedium(dir.path() + "/report.csv", disk, &why));
        QVERIFY(!onMedium("/proc", disk, &why));
        const int fd = ::open(QFile::encodeName(dir.path()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        QVERIFY(fd >= 0);
        QVERIFY(onMedium(fd, dir.path(), disk, &why));
        ::close(fd);
    }

    void loopMountedImage()
    {
        QTemporaryDir dir;
        const QString d = dir.path();
        LoopMount card;
        if (!card.setUp(d, {{"", d + "/bound"}, {"/DCIM", d + "/dcim"}}))
            QSKIP(qPrintable(QStringLiteral("no loop-mounted card: ") + card.problem));
        QVERIFY(QFile::link(card.image, d + "/link.img"));
        QVERIFY(::link(QFile::encodeName(card.image).constData(), QFile::encodeName(d + "/hard.img").constData()) == 0);
        QDir().mkpath(d + "/elsewhere");

        QString why;
        for (const QString &source : {card.image, d + "/link.img", d + "/hard.img", card.device}) {
            const MediumIdentity m = MediumIdentity::ofPath(source);
            for (const QString &on : {card.mountPoint, card.mountPoint + "/out/new", d + "/bound/out", d + "/dcim"}) {
                QVERIFY2(onMedium(on, m, &why), qPrintable(source + " / " + on));
                QVERIFY2(why.contains(QLatin1String("the medium being searched")), qPrintable(why));
            }
            QVERIFY(fileOnMedium(d + "/bound/report.csv", m, &why));
            QVERIFY(fileOnMedium(card.device, m, &why));  // the loop device's node
            QVERIFY(fileOnMedium(d + "/hard.img", m, &why));
            QVERIFY(!onMedium(d + "/elsewhere", m, &why));
            QVERIFY(!fileOnMedium(d + "/elsewhere/report.csv", m, &why));
        }
        // With the name it was attached by gone, sysfs's path names nothing: the kernel's own
        // answer (device and inode) still finds the image under its other name.
        QVERIFY(QFile::remove(card.image));
        QVERIFY(onMedium(d + "/bound", MediumIdentity::ofPath(d + "/hard.img"), &why));
        // (sysfs alone cannot tell any more, so the answer above was the kernel's.)
        BlockLayout sysfsOnly;
        sysfsOnly.devDir.clear();
        QVERIFY(!onMedium(d + "/bound", MediumIdentity::ofPath(d + "/hard.img", sysfsOnly), &why));
    }

    // The alert (0: none) and the field it points at (0 none, 1 start, 2 end) for each range;
    // a valid range is handed over as it was typed, Entire Disk as the whole medium.
    void rangeChecks()
    {
        struct Case {
            bool entire;
            const char *start, *end, *sectors;
            int alert, field;
        };
        const Case cases[] = {
            {false, "0", "100", "100", 0, 0},          {false, "10", "11", "11", 0, 0},
            {false, "0005", "50", "100", 2, 1},        // leading zeros make it longer than the count
            {false, "-1", "50", "100", 1, 1},          {false, "+5", "50", "100", 1, 1},
            {false, " 5", "50", "100", 1, 1},          {false, "5 ", "50", "100", 1, 1},
            {false, "5a", "50", "100", 1, 1},          {false, "", "50", "100", 1, 1},
            {false, "1.5", "50", "100", 1, 1},         {false, "101", "50", "100", 2, 1},
            {false, "5", "", "100", 3, 2},             {false, "5", "x", "100", 3, 2},
            {false, "5", "101", "100", 4, 2},          {false, "50", "50", "100", 5, 2},
            {false, "60", "50", "100", 5, 2},          {false, "3000000000", "6442450944", "6442450944", 0, 0},
            {false, "0", "6442450945", "6442450944", 4, 2},
            // Entire Disk performs no test at all.
            {true, "abc", "-", "100", 0, 0},           {true, "abc", "", "6442450944", 0, 0},
        };
        for (const Case &c : cases) {
            const RangeControls controls{c.entire, !c.entire, QString::fromLatin1(c.sectors), QString::fromLatin1(c.start),
                                         QString::fromLatin1(c.end)};
            const RangeAlert a = checkRange(controls);
            QVERIFY2(a.number == c.alert && int(a.field) == c.field,
                     qPrintable(QStringLiteral("'%1' to '%2': alert %3 at %4").arg(c.start, c.end).arg(a.number).arg(int(a.field))));
            if (c.alert == 2 || c.alert == 4) {
                QCOMPARE(a.message(), QStringLiteral("\nMaximum sector range exceeded"));
                QCOMPARE(a.informative(), c.alert == 2 ? QStringLiteral("Please enter valid Start Sector value.")
                                                       : QStringLiteral("Please enter valid End Sector value."));
            }
            if (c.alert == 0) {
                const ScanRange r = rangeHandOver(controls);
                QCOMPARE(r.start, c.entire ? 0 : QByteArray(c.start).toULongLong());
                QCOMPARE(r.end, QByteArray(c.entire ? c.sectors : c.end).toULongLong());
                QCOMPARE(r.total, r.end - r.start);
            }
        }
    }

    // The sliders keep the ends of any span; the progress line from any start.
    void slidersAndTheProgressLine()
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
        QCOMPARE(progressText(1000, 1000, 2000, 1000), QStringLiteral("Sectors 1000 of 2000   ( Completed 0% )"));
        QCOMPARE(progressText(1500, 1000, 2000, 1000), QStringLiteral("Sectors 1500 of 2000   ( Completed 50% )"));
        QCOMPARE(progressText(2000, 1000, 2000, 1000), QStringLiteral("Sectors 2000 of 2000   ( Completed 100% )"));
        QCOMPARE(progressText(0, 0, 0, 0), QStringLiteral("Sectors 0 of 0   ( Completed 0% )"));
    }
};

QTEST_GUILESS_MAIN(TestMedia)
#include "test_media.moc"
