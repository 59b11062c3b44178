// Whole scans driven through the real main window: photo and raw-file mode, Stop, Back, and a
// medium that cannot be opened.
#include "app/browserview.h"
#include "app/imagemodel.h"
#include "app/sectorwidgets.h"
#include "app/tablemodels.h"
#include "enginetestutil.h"
#include "testfiles.h"
#include "guitestutil.h"
#include "media/udisks2.h"
#include "standinstorage.h"

#include <QBuffer>
#include <QCheckBox>
#include <QDir>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QMimeData>
#include <QTableView>
#include <QTimer>

#include "results/thumbnails.h"

using namespace lumafind;

namespace {

// A card with three photos, an MP4 header and a PDF.
QString makeCard(GuiFixture &f)
{
    CardImage img(400, true);
    img.put(10, picture("JPG", 300, 200));
    img.put(40, picture("JPG", 120, 90));
    img.put(80, picture("JPG", 64, 64));
    img.putHex(200, "6674797069736F6D", 4);
    img.putHex(300, "255044462D312E34");
    const QString path = f.dir.path() + QStringLiteral("/card.img");
    img.save(path);
    return path;
}

void selectImage(GuiFixture &f, const QString &path)
{
    QVERIFY(f.c->addDiskImage(path));
}

// A card of 400 sectors the user may not read, listed as lsblk shows it.
const QString kCardNode = QStringLiteral("/dev/lumafind-test-card");
const QByteArray kCardListing = R"({"blockdevices":[{"name":"lumafind-test-card","path":"/dev/lumafind-test-card",
    "size":204800,"label":"CARD","fstype":"vfat","pkname":null,"rm":true,"hotplug":true,"tran":"usb","type":"disk",
    "mountpoint":null}]})";

bool waitEnd(GuiFixture &f, int ends)
{
    return QTest::qWaitFor([&] { return f.dialogs.modalWindows.size() >= ends && !f.c->scanRunning(); }, 20000);
}
} // namespace

class TestWizardScan : public QObject {
    Q_OBJECT
private slots:
    void photoScanByClicks()
    {
        GuiFixture f;
        selectImage(f, makeCard(f));
        QTest::mouseClick(f.c->next_btn, Qt::LeftButton);
        QCOMPARE(f.c->screen_counter, 1);
        f.dialogs.alertAnswers.enqueue(0);  // no output folder: continue without saving
        QTest::mouseClick(f.c->next_btn, Qt::LeftButton);
        QCOMPARE(f.dialogs.alerts.last().message, QStringLiteral("\nNo output folder is chosen."));
        QCOMPARE(f.c->screen_counter, 2);
        QVERIFY(f.c->photoScanPage->isVisible());
        QVERIFY(!f.c->next_btn->isEnabled());
        QVERIFY(waitEnd(f, 1));
        QCOMPARE(f.dialogs.modalWindows, QStringList{"SaveFile_Info_Window"});
        // Thorough is on by default; its rarer records do not match these JFIF pictures.
        QCOMPARE(f.c->images.size(), 3);
        QCOMPARE(f.c->images.at(0).image_Name, QStringLiteral("GND00001.JPG"));
        QVERIFY(f.c->saveInfoText->text().startsWith(QStringLiteral("Lumafind found 3 files")));
        QCOMPARE(f.c->imageModel()->rowCount(), 3);
        QCOMPARE(f.c->help_info->text(), kEndOfScanHelp);
        QVERIFY(!f.c->stop_scan->isVisible());
        QVERIFY(f.c->zoom_slider->isVisible());
        QVERIFY(f.c->back_btn->isEnabled());
        QVERIFY(!f.c->next_btn->isEnabled());
        QVERIFY(f.c->Thro_Mode_Chk->isEnabled());
        QCOMPARE(f.c->screen_counter, 2);
        // The thumbnail is a real picture, 100 pixels on its longer side.
        QImage thumb;
        QVERIFY(thumb.loadFromData(f.c->images.at(0).imageData));
        QCOMPARE(thumb.width(), 100);
        // The progress line shows the end of the range.
        f.c->timerTickSetLabel();
        QCOMPARE(f.c->sector_label->text(), QStringLiteral("Sectors 400 of 400   ( Completed 100% )"));

        // Back to the options screen and scan again: names restart, UIDs go on.
        QTest::mouseClick(f.c->back_btn, Qt::LeftButton);
        QCOMPARE(f.c->screen_counter, 1);
        QVERIFY(f.c->images.isEmpty());
        QVERIFY(f.c->photo.page->isVisible());
        QVERIFY(f.c->Thro_Mode_Chk->isChecked());
        QTest::mouseClick(f.c->next_btn, Qt::LeftButton);
        QVERIFY(waitEnd(f, 2));
        QCOMPARE(f.c->images.size(), 3);
        QCOMPARE(f.c->images.at(0).image_Name, QStringLiteral("GND00001.JPG"));
        QVERIFY(f.c->images.at(0).image_UID != QStringLiteral("GND00001.JPG"));  // UIDs continue
    }

    void rawScanWithTypesAndCounts()
    {
        GuiFixture f;
        f.c->RawFile_Mode_Radio();
        selectImage(f, makeCard(f));
        QTest::mouseClick(f.c->next_btn, Qt::LeftButton);
        QVERIFY(f.c->sig.page->isVisible());
        f.dialogs.alertAnswers.enqueue(0);
        QTest::mouseClick(f.c->next_btn, Qt::LeftButton);
        QCOMPARE(f.c->screen_counter, 2);
        QVERIFY(f.c->fileTypePage->isVisible());
        QVERIFY(f.c->select_unselect_Chk->isChecked());
        QCOMPARE(f.c->help_info->text(), kFileTypeHelp);
        const int types = int(f.c->nsCheckedListDataObject.size());
        QVERIFY(types > 10);

        // Nothing checked: refused, the wizard stays.
        QTest::mouseClick(f.c->select_unselect_Chk, Qt::LeftButton);
        QVERIFY(!f.c->nsCheckedListDataObject.first().State);
        QTest::mouseClick(f.c->next_btn, Qt::LeftButton);
        QCOMPARE(f.dialogs.alerts.last().message, QStringLiteral("\nPlease select atleast one extension type."));
        QCOMPARE(f.c->screen_counter, 2);

        // Only PDF checked, through the table's check box; the select-all box follows.
        QTest::mouseClick(f.c->select_unselect_Chk, Qt::LeftButton);
        for (int r = 0; r < types; ++r)
            if (f.c->nsCheckedListDataObject.at(r).Extension != QLatin1String("PDF"))
                f.c->checkListModel()->setData(f.c->checkListModel()->index(r, 0), Qt::Unchecked, Qt::CheckStateRole);
        QVERIFY(!f.c->select_unselect_Chk->isChecked());
        f.c->Thro_Mode_Chk_SIG->setChecked(false);
        QTest::mouseClick(f.c->next_btn, Qt::LeftButton);
        QCOMPARE(f.c->screen_counter, 3);
        QVERIFY(waitEnd(f, 1));
        QCOMPARE(f.dialogs.modalWindows, QStringList{"SaveFile_Info_For_RAW_Window"});
        QCOMPARE(f.c->images.size(), 1);
        QCOMPARE(f.c->images.first().image_Name, QStringLiteral("PDF00001.PDF"));
        QCOMPARE(f.c->images.first().File_Start_Sector, 300u);
        QCOMPARE(f.c->images.first().File_End_Sector, 400u);
        QCOMPARE(f.c->shownFoundFiles.size(), 1);
        QCOMPARE(f.c->shownFoundFiles.first().NoOfFile, QStringLiteral("1"));
        QCOMPARE(f.c->foundFilesModel()->index(0, 1).data().toString(), QStringLiteral("1"));
        QVERIFY(f.c->sig.open_folder->isVisible());
        QCOMPARE(f.c->QuickLook_View_Box->title(), QStringLiteral("No file is selected to preview"));

        // Back to the file types: they are rebuilt, every type checked.
        QTest::mouseClick(f.c->back_btn, Qt::LeftButton);
        QCOMPARE(f.c->screen_counter, 2);
        QVERIFY(f.c->images.isEmpty());
        QTest::mouseClick(f.c->back_btn, Qt::LeftButton);
        QCOMPARE(f.c->screen_counter, 1);
        QTest::mouseClick(f.c->next_btn, Qt::LeftButton);
        QVERIFY(std::all_of(f.c->nsCheckedListDataObject.begin(), f.c->nsCheckedListDataObject.end(),
                            [](const CheckListRow &r) { return r.State; }));
    }

    void stopEndsTheScanOnce()
    {
        GuiFixture f;
        // A big card so the scan is still running when Stop is pressed.
        const QString path = f.image(QStringLiteral("big.img"), qint64(16) << 21);  // 16 GiB, sparse
        selectImage(f, path);
        QTest::mouseClick(f.c->next_btn, Qt::LeftButton);
        f.dialogs.alertAnswers.enqueue(0);
        QTest::mouseClick(f.c->next_btn, Qt::LeftButton);
        QVERIFY(f.c->scanRunning());
        QVERIFY(QTest::qWaitFor([&] { return f.c->for_index.load() > 1000; }, 10000));
        QTest::mouseClick(f.c->stop_scan, Qt::LeftButton);
        QVERIFY(waitEnd(f, 1));
        QCOMPARE(f.dialogs.modalWindows.size(), 1);
        QVERIFY(f.c->for_index.load() < uint64_t(16) << 21);
        QVERIFY(f.c->saveInfoText->text().contains(QLatin1String("before the search was stopped")));
        QVERIFY(!f.c->mSetLabelTimer->isActive());
        QCOMPARE(f.c->stop_now.load(), 0);
        QTest::qWait(50);
        QCOMPARE(f.dialogs.modalWindows.size(), 1);
    }

    void mediumThatCannotBeOpenedGoesBack()
    {
        GuiFixture f;
        const QString path = makeCard(f);
        selectImage(f, path);
        QTest::mouseClick(f.c->next_btn, Qt::LeftButton);
        QFile::remove(path);  // the card was removed after it was listed
        f.dialogs.alertAnswers.enqueue(0);
        QTest::mouseClick(f.c->next_btn, Qt::LeftButton);
        QVERIFY(QTest::qWaitFor([&] { return !f.c->scanRunning(); }, 10000));
        QCoreApplication::processEvents();
        QCOMPARE(f.dialogs.alerts.last().message, QStringLiteral("\nError in storage media reading."));
        QVERIFY(f.dialogs.alerts.last().informative.contains(QLatin1String("No such file")));
        QVERIFY(f.dialogs.modalWindows.isEmpty());
        QCOMPARE(f.c->screen_counter, 1);
        QVERIFY(f.c->photo.page->isVisible());
        QVERIFY(!f.c->photoScanPage->isVisible());
        QVERIFY(!f.c->mSetLabelTimer->isActive());
    }

    void cardTheUserMayNotReadIsOpenedByTheService()
    {
        PrivateBus bus;
        if (!bus.start())
            QSKIP(qPrintable(QStringLiteral("no private D-Bus bus: ") + bus.problem));
        GuiFixture f(kCardListing);
        StandInService service;
        service.storage.device = kCardNode;
        service.storage.image = makeCard(f);
        QVERIFY(service.start(bus.address));
        f.c->deviceOpener = refusing(kCardNode);
        f.c->deviceBroker = std::make_shared<UDisks2Broker>(bus.address);
        f.c->idTableView->selectRow(0);
        QTest::mouseClick(f.c->next_btn, Qt::LeftButton);
        QCOMPARE(f.c->selectedDevicePath(), kCardNode);
        const QString out = f.dir.path() + QStringLiteral("/out");
        QVERIFY(QDir().mkpath(out));
        f.c->photo.path->setText(out);
        QTest::mouseClick(f.c->next_btn, Qt::LeftButton);
        QVERIFY(waitEnd(f, 1));
        QVERIFY2(f.dialogs.alerts.isEmpty(), qPrintable(f.dialogs.alerts.isEmpty() ? QString() : f.dialogs.alerts.last().informative));
        // Both passes, the saver and the thumbnails read the card through the one descriptor.
        QCOMPARE(f.c->images.size(), 3);
        QImage thumb;
        QVERIFY(thumb.loadFromData(f.c->images.at(0).imageData));
        QCOMPARE(thumb.width(), 100);
        QVERIFY2(f.c->saveInfoText->text().contains(QStringLiteral("3 saved in")), qPrintable(f.c->saveInfoText->text()));
        QCOMPARE(QDir(out + QStringLiteral("/JPG")).entryList(QDir::Files).size(), 3);
        // Saving again after the scan, from the list: still no second request.
        QVERIFY(f.c->saveFoundFilesTo(f.dir.path() + QStringLiteral("/again")));
        QCOMPARE(QDir(f.dir.path() + QStringLiteral("/again/JPG")).entryList(QDir::Files).size(), 3);
        QCOMPARE(service.storage.opens(), 1);
        QCOMPARE(service.storage.lastMode(), QStringLiteral("r"));

        // A new scan is a new request (the results of the last one are gone).
        QTest::mouseClick(f.c->back_btn, Qt::LeftButton);
        f.c->photo.path->clear();
        f.dialogs.alertAnswers.enqueue(0);
        service.storage.refuseName = QStringLiteral("org.freedesktop.UDisks2.Error.NotAuthorizedDismissed");
        service.storage.refuseMessage = QStringLiteral("The authentication dialog was dismissed");
        QTest::mouseClick(f.c->next_btn, Qt::LeftButton);
        QVERIFY(QTest::qWaitFor([&] { return !f.c->scanRunning(); }, 20000));
        QCoreApplication::processEvents();
        QCOMPARE(service.storage.opens(), 2);
        // The user dismissed the password prompt: the reason, and back to the options.
        QCOMPARE(f.dialogs.alerts.last().message, QStringLiteral("\nError in storage media reading."));
        QVERIFY2(f.dialogs.alerts.last().informative.contains(QLatin1String("The authentication dialog was dismissed")),
                 qPrintable(f.dialogs.alerts.last().informative));
        QCOMPARE(f.c->screen_counter, 1);
        QVERIFY(f.c->photo.page->isVisible());
    }

    void browserItemsMoveAndScroll()
    {
        GuiFixture f;
        for (int i = 0; i < 5; ++i) {
            MyImageObject item;
            lumafind::addImageWithData_2(QStringLiteral("ZIP0000%1.ZIP").arg(i), QString::number(i), i, i + 1, &item);
            f.c->addImageWithData_2(std::move(item));
        }
        QCOMPARE(f.c->addedItems(), 5u);
        f.c->imageModel()->moveItems({0, 1}, 3);
        QCOMPARE(f.c->images.at(1).image_UID, QStringLiteral("0"));
        QCOMPARE(f.c->images.at(2).image_UID, QStringLiteral("1"));
        QCOMPARE(f.c->images.at(0).image_UID, QStringLiteral("2"));
        // Only a private type is offered to a drag: nothing useful leaves the browser.
        QMimeData *data = f.c->imageModel()->mimeData({f.c->imageModel()->index(0)});
        QVERIFY(data->text().isEmpty());
        QVERIFY(data->urls().isEmpty());
        delete data;
    }
};

QTEST_MAIN(TestWizardScan)
#include "test_wizard_scan.moc"
