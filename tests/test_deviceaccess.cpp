// Opening a device the user may not read through the system's storage service, against a
// stand-in for it on a private bus: the whole scan, saving and every further reader go
// through the one descriptor it handed over; a refusal is reported with its reason; without
// the service the message stays the program's own. Then: a card pulled out during a scan.
#include "engine/mediumaccess.h"
#include "enginetestutil.h"
#include "faultydevice.h"
#include "media/udisks2.h"
#include "standinstorage.h"
#include "testfiles.h"

#include <QDir>
#include <QTest>
#include <future>
#include <sys/stat.h>

using namespace lumafind;

namespace {

// No such node exists: the stand-in is the only one who knows it.
const QString kDevice = QStringLiteral("/dev/lumafind-test-card");

const QStringList kRecords = rec("jpg", "18874368", "FFD8FF") + rec("png", "18874368", "89504E47");

// A bus, the stand-in service when started, and a card whose first JPEG holds its preview on a
// sector boundary: the pass cuts it there, so saving it whole reads on from the medium.
struct Fixture {
    PrivateBus bus;
    std::unique_ptr<StandInService> service;
    QTemporaryDir dir;
    QByteArray outer = jpegWithPreviewAtSector(), png = picture("png", 50, 50);
    CardImage img{600, true};
    QString image = dir.path() + QStringLiteral("/card.img");

    Fixture()
    {
        img.put(8, outer);
        img.put(400, png);
        img.save(image);
    }
    bool startService()
    {
        service = std::make_unique<StandInService>();
        service->storage.device = kDevice;
        service->storage.image = image;
        return service->start(bus.address);
    }
    StandInStorage &storage() { return service->storage; }
    // Access to `device` as for a user who may not open it.
    std::shared_ptr<MediumAccess> access(const QString &device = kDevice)
    {
        return std::make_shared<MediumAccess>(refusing(device), std::make_shared<UDisks2Broker>(bus.address));
    }
};

#define START_BUS(f)                                                                                       \
    if (!(f).bus.start())                                                                                  \
        QSKIP(qPrintable(QStringLiteral("no private D-Bus bus: ") + (f).bus.problem));
#define START_SERVICE(f) START_BUS(f) QVERIFY((f).startService());

// A photo scan of kDevice, which the program may not open itself, with the service at address:
// it fails to open; *why is the reason given.
void refusedScan(RecoveryCore &core, const QString &address, QString *why, ScanResult *result = nullptr)
{
    core.deviceOpener = refusing(kDevice);
    core.deviceBroker = std::make_shared<UDisks2Broker>(address);
    core.Ext_Array = kRecords;
    RecordingObserver obs;
    const ScanResult r = runScan(core, wholeMedium(kDevice, 600), obs);
    if (result)
        *result = r;
    QCOMPARE(obs.openFailures, 1);
    QCOMPARE(obs.alerts, QStringList{"\nError in storage media reading."});
    *why = obs.informatives.value(0);
}

} // namespace

class TestDeviceAccess : public QObject {
    Q_OBJECT
private slots:
    void scanThroughTheServiceAsksOnce_data()
    {
        QTest::addColumn<bool>("old");
        QTest::addColumn<QString>("name");
        QTest::newRow("ResolveDevice, OpenDevice") << false << kDevice;
        QTest::newRow("older service: matched by its links, OpenForBackup") << true
                                                                            << QStringLiteral("/dev/disk/by-id/usb-Norvo_Card_0001-0:0");
    }
    void scanThroughTheServiceAsksOnce()
    {
        QFETCH(bool, old);
        QFETCH(QString, name);
        Fixture f;
        START_SERVICE(f);
        f.storage().old = old;
        // The scan names the device by the link: the service must find it by that name too.
        f.storage().device = name == kDevice ? kDevice : QStringLiteral("/dev/lumafind-test-sdz");
        RecoveryCore core;
        core.deviceOpener = refusing(name);
        core.deviceBroker = std::make_shared<UDisks2Broker>(f.bus.address);
        const std::shared_ptr<MediumAccess> access = core.newMediumAccess();

        SavingObserver obs;
        QList<SaveRecord> saved;
        core.Ext_Array = kRecords;
        core.Adv_Ext_Array = kRecords;
        {
            FileSaver saver(f.dir.path() + QStringLiteral("/during"), MediumRef{name, UINT64_MAX, access->opener(), core.badSectors()});
            QString why;
            QVERIFY2(saver.prepare(&why), qPrintable(why));
            obs.saver = &saver;
            ScanRequest r = wholeMedium(name, f.img.data.size() / 512);
            r.opener = access->opener();
            runScan(core, r, obs);
            saver.finish();
            obs.saver = nullptr;
            saved = saver.records();
        }
        QVERIFY2(obs.alerts.isEmpty(), qPrintable(obs.informatives.join(QLatin1Char('\n'))));
        QCOMPARE(obs.passes.size(), 2);  // General and Thorough, each opening the medium
        QCOMPARE(obs.names().mid(0, 3), (QStringList{"GND00001.JPG@8-9", "GND00002.JPG@9-400", "GND00003.PNG@400-600"}));
        QCOMPARE(core.mediumBytes(), uint64_t(f.img.data.size()));
        // The first JPEG was cut short by its preview: saved whole, the saver read on from
        // the medium, through the service's descriptor.
        QVERIFY(access->throughService());
        QCOMPARE(saved.size(), obs.files.size());
        QCOMPARE(readAll(saved.first().savedPath), f.outer);
        QVERIFY(std::any_of(saved.begin(), saved.end(), [&](const SaveRecord &s) {
            return !s.savedPath.isEmpty() && readAll(s.savedPath) == f.png;
        }));

        // After the scan, "Save found files…" reads every file from the medium again.
        const QList<SaveRecord> after = saveFromList(obs.files, MediumRef{name, UINT64_MAX, access->opener(), nullptr}, f.dir.path() + "/after");
        QCOMPARE(readAll(after.value(0).savedPath), f.outer);

        // All of it on one answer from the service: one password prompt.
        StandInStorage &st = f.storage();
        QCOMPARE(st.opens(), 1);
        QCOMPARE(old ? st.backupCalls.load() : st.openDeviceCalls.load(), 1);
        QCOMPARE(old ? st.managedCalls.load() : st.resolveCalls.load(), 1);
        if (!old)
            QCOMPARE(st.lastMode(), QStringLiteral("r"));
        // polkit may ask the user.
        QCOMPARE(st.lastOptions().value(QStringLiteral("auth.no_user_interaction")), QVariant(false));

        // Once released, the next open asks again.
        access->release();
        QVERIFY(!access->throughService());
        FILE *again = access->opener()(name);
        QVERIFY(again);
        std::fclose(again);
        QCOMPARE(st.opens(), 2);
    }

    // Readers that ask while the user types their password wait for the one answer; then a
    // pass, the saver and the preview read the one descriptor at once, each at a place of its
    // own: far apart, so that each read goes to the descriptor, not the buffer.
    void readersShareOneAnswer()
    {
        Fixture f;
        START_SERVICE(f);
        CardImage big(16384);
        for (qint64 s = 0; s < 16384; ++s)
            big.put(s, QByteArray::number(s).rightJustified(12, '0'));
        const QString image = f.dir.path() + QStringLiteral("/big.img");
        QVERIFY(big.save(image));
        f.storage().image = image;
        f.storage().delayMs = 300;
        auto access = f.access();
        const DeviceOpener opener = access->opener();
        std::vector<std::future<QByteArray>> readers;
        for (int i = 0; i < 4; ++i)
            readers.push_back(std::async(std::launch::async, [opener, i] {
                SectorReader r(opener);
                unsigned char buf[kSectorSize];
                if (!r.open(kDevice) || r.read(uint64_t(100 + i), buf) != SectorReader::Ok)
                    return QByteArray();
                return QByteArray(reinterpret_cast<char *>(buf), kSectorSize);
            }));
        for (int i = 0; i < 4; ++i)
            QCOMPARE(readers[i].get(), big.sectors(100 + i, 101 + i));

        SectorReader a(opener), b(opener);
        QVERIFY(a.open(kDevice));
        QVERIFY(b.open(kDevice));
        QCOMPARE(b.mediumBytes(), uint64_t(big.data.size()));
        // One reads on and on (refilling its buffer where it stands), the other jumps about.
        unsigned char sa[kSectorSize], sb[kSectorSize];
        for (uint64_t s = 0; s < 16384; ++s) {
            QCOMPARE(a.read(s, sa), SectorReader::Ok);
            QCOMPARE(QByteArray(reinterpret_cast<char *>(sa), 12).toULongLong(), s);
            if (s % 1000 == 0) {
                const uint64_t far = (s * 7919 + 5003) % 16384;
                QCOMPARE(b.read(far, sb), SectorReader::Ok);
                QCOMPARE(QByteArray(reinterpret_cast<char *>(sb), 12).toULongLong(), far);
            }
        }
        QCOMPARE(f.storage().opens(), 1);
    }

    void refusalGivesItsReason_data()
    {
        QTest::addColumn<QString>("error");
        QTest::addColumn<QString>("message");
        QTest::newRow("dismissed") << "org.freedesktop.UDisks2.Error.NotAuthorizedDismissed" << "The authentication dialog was dismissed";
        QTest::newRow("not authorized") << "org.freedesktop.UDisks2.Error.NotAuthorizedCanObtain" << "Not authorized to perform operation";
    }
    void refusalGivesItsReason()
    {
        QFETCH(QString, error);
        QFETCH(QString, message);
        Fixture f;
        START_SERVICE(f);
        f.storage().refuseName = error;
        f.storage().refuseMessage = message;
        RecoveryCore core;
        QString why;
        ScanResult result;
        refusedScan(core, f.bus.address, &why, &result);
        QVERIFY2(why.contains(message), qPrintable(why));
        QVERIFY(why.contains(kDevice));
        QVERIFY(!why.contains(QLatin1String("sudo")));  // the hint does not apply
        QVERIFY(result.openFailed);
        QCOMPARE(f.storage().opens(), 1);

        // Saving afterwards gives the same reason without asking again.
        auto access = core.newMediumAccess();
        FileSaver after(f.dir.path() + QStringLiteral("/after"), MediumRef{kDevice, 600 * 512, access->opener(), nullptr});
        QVERIFY(after.prepare(&why));
        ExportItem item;
        item.name = QStringLiteral("GND00001.JPG");
        item.extension = QStringLiteral("JPG");
        item.startSector = 8;
        item.carvedBytes = 512;
        after.add(item, 9);
        after.finish();
        QVERIFY2(after.records().first().error.contains(message), qPrintable(after.records().first().error));
        QCOMPARE(f.storage().opens(), 2);  // one for the scan's access, one for this one
    }

    void withoutTheServiceTheMessageStays_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::newRow("no service on the bus") << "no service";
        QTest::newRow("no bus") << "no bus";
        QTest::newRow("a device the service does not know") << "unknown device";
    }
    void withoutTheServiceTheMessageStays()
    {
        QFETCH(QString, situation);
        Fixture f;
        QString address = QStringLiteral("unix:path=/nonexistent/lumafind-bus");
        if (situation != QLatin1String("no bus")) {
            START_BUS(f);
            address = f.bus.address;
        }
        if (situation == QLatin1String("unknown device")) {
            QVERIFY(f.startService());
            f.storage().device = QStringLiteral("/dev/lumafind-other");
        }
        RecoveryCore core;
        QString why;
        refusedScan(core, address, &why);
        QVERIFY2(why.contains(QString::fromLocal8Bit(std::strerror(EACCES))), qPrintable(why));
        QVERIFY2(why.contains(QLatin1String("sudo")) && why.contains(QLatin1String("disk")), qPrintable(why));
        QVERIFY(!why.contains(QLatin1String("storage service")));
        if (f.service) {
            QCOMPARE(f.storage().resolveCalls.load(), 1);
            QCOMPARE(f.storage().opens(), 0);
        }
    }

    void imagesAndReadableMediaNeverAsk()
    {
        Fixture f;
        START_SERVICE(f);
        auto broker = std::make_shared<UDisks2Broker>(f.bus.address);
        // An image the user may not read is theirs to fix: the service is not asked.
        auto image = std::make_shared<MediumAccess>(refusing(f.image), broker);
        QVERIFY(!image->opener()(f.image));
        QCOMPARE(errno, EACCES);
        // A medium the program opens itself never goes near the bus.
        auto readable = std::make_shared<MediumAccess>(openDeviceFile, broker);
        SectorReader reader(readable->opener());
        QVERIFY(reader.open(f.image));
        QVERIFY(!readable->throughService());
        QCOMPARE(f.storage().calls(), 0);
    }

    void aDescriptorOfAnotherDeviceIsRefused()
    {
        // Needs a block device node to name; the stand-in hands over an image instead of it.
        QString node;
        for (const QFileInfo &i : QDir(QStringLiteral("/dev")).entryInfoList(QDir::System | QDir::NoDotAndDotDot)) {
            struct stat st {};
            if (::stat(QFile::encodeName(i.filePath()).constData(), &st) == 0 && S_ISBLK(st.st_mode)) {
                node = i.filePath();
                break;
            }
        }
        if (node.isEmpty())
            QSKIP("this machine has no block device node in /dev");
        Fixture f;
        START_SERVICE(f);
        f.storage().device = node;
        auto access = f.access(node);
        SectorReader reader(access->opener());
        QVERIFY(!reader.open(node));
        QVERIFY2(reader.failureReason().contains(QLatin1String("different device")), qPrintable(reader.failureReason()));
        QCOMPARE(f.storage().opens(), 1);
    }

    void cardPulledOutDuringAScan_data()
    {
        QTest::addColumn<int>("error");
        QTest::addColumn<bool>("nodeGone");
        QTest::addColumn<bool>("removed");
        QTest::newRow("the device is gone") << int(ENODEV) << false << true;
        QTest::newRow("no medium in the reader") << int(ENOMEDIUM) << false << true;
        QTest::newRow("its node went away") << int(ENOENT) << true << true;
        QTest::newRow("an I/O error where it stops") << int(EIO) << false << false;
    }
    void cardPulledOutDuringAScan()
    {
        QFETCH(int, error);
        QFETCH(bool, nodeGone);
        QFETCH(bool, removed);
        QTemporaryDir dir;
        CardImage img(5000, true);
        img.putHex(10, "504B0304");
        const QString path = dir.path() + QStringLiteral("/card.img");
        img.save(path);
        // Every read from sector 2048 (where a buffered read starts) on fails, and opening it
        // again fails with the error.
        auto medium = faultyMedium(img.data);
        for (quint64 s = 2048; s < 5000; ++s)
            medium->bad.insert(s);
        RecoveryCore core;
        int opens = 0;
        core.deviceOpener = [medium, error, &opens](const QString &) -> FILE * {
            if (++opens > 1) {
                errno = error;
                return nullptr;
            }
            return openFaulty(medium);
        };
        core.CheckListHeader_Array = core.CheckListHeader_Adv_Array = rec("zip", "1", "504B0304");
        RecordingObserver obs;
        if (nodeGone)
            QVERIFY(QFile::remove(path));  // the stream stays open, as a device's does
        runScan(core, wholeMedium(path, 5000, 2), obs);
        QCOMPARE(obs.alerts, QStringList{"\nError in storage media reading."});
        QCOMPARE(obs.informatives.first().startsWith(QLatin1String("The medium was removed.")), removed);
        if (!removed)
            QVERIFY(obs.informatives.first().contains(QLatin1String("stopped answering")));
        // What was found is kept, ending where the medium stopped; no Thorough pass follows.
        QCOMPARE(obs.names(), (QStringList{"ZIP00001.ZIP@10-2048"}));
        QCOMPARE(obs.passes.size(), 1);
        QVERIFY(core.for_index.load() <= 2049u);
        QCOMPARE(obs.ends, 1);
    }
};

QTEST_MAIN(TestDeviceAccess)
#include "test_deviceaccess.moc"
