// Whole scans driven through the real main window: photo and raw-file mode, Stop, Back, and a
// medium that cannot be opened.
#include "app/browserview.h"
#include "app/imagemodel.h"
#include "app/tablemodels.h"
#include "enginetestutil.h"
#include "faultydevice.h"
#include "testfiles.h"
#include "guitestutil.h"
#include "mtoolscard.h"
#include "media/udisks2.h"
#include "standinstorage.h"

#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QApplication>
#include <QMessageBox>
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
    return f.image(img);
}

// A card of 400 sectors the user may not read, listed as lsblk shows it.
const QString kCardNode = QStringLiteral("/dev/lumafind-test-card");
const QByteArray kCardListing = R"({"blockdevices":[{"name":"lumafind-test-card","path":"/dev/lumafind-test-card",
    "size":204800,"label":"CARD","fstype":"vfat","pkname":null,"rm":true,"hotplug":true,"tran":"usb","type":"disk",
    "mountpoint":null}]})";
} // namespace

class TestWizardScan : public QObject {
    Q_OBJECT
private slots:
    // A photo scan clicked through as a person does it. Fault: Esc on "No output folder is
    // chosen" meant "Continue Without Saving" and started the scan; here the real alert gets a
    // real Esc.
    void photoScanByClicks()
    {
        GuiFixture f;
        f.toOptions(makeCard(f));
        QtDialogs real;
        f.dialogs.forwardAlerts = &real;
        int escapes = 0;
        QTimer esc;
        esc.setInterval(10);
        connect(&esc, &QTimer::timeout, [&] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                ++escapes;
                QTest::keyClick(box, Qt::Key_Escape);
            }
        });
        esc.start();
        QTest::mouseClick(f.c->next_btn, Qt::LeftButton);
        QCOMPARE(escapes, 1);
        QCOMPARE(f.dialogs.alerts.last().message, QStringLiteral("\nNo output folder is chosen."));
        QCOMPARE(f.c->screen_counter, 1);
        QVERIFY(!f.c->scanRunning());
        QVERIFY(f.c->photo.page->isVisible());
        // The exit question's Esc is No.
        QVERIFY(!f.c->Exit_App());
        QCOMPARE(escapes, 2);
        esc.stop();
        f.dialogs.forwardAlerts = nullptr;

        // "Choose Folder…" fills the folder and stays, so that it can be seen before the scan.
        const QString out = f.dir.path() + QStringLiteral("/out");
        f.dialogs.alertAnswers.enqueue(1);
        f.dialogs.folderAnswers.enqueue(out);
        QTest::mouseClick(f.c->next_btn, Qt::LeftButton);
        QCOMPARE(f.c->screen_counter, 1);
        QVERIFY(!f.c->scanRunning());
        QCOMPARE(f.c->photo.path->text(), out);
        const qsizetype asked = f.dialogs.alerts.size();
        QTest::mouseClick(f.c->next_btn, Qt::LeftButton);  // now the scan, without asking again
        QCOMPARE(f.dialogs.alerts.size(), asked);
        QCOMPARE(f.c->screen_counter, 2);
        QVERIFY(f.c->photoScanPage->isVisible());
        QVERIFY(!f.c->next_btn->isEnabled());
        QCOMPARE(f.window->focusWidget(), f.c->stop_scan);  // not Exit
        QVERIFY(f.waitEnd(1));
        QCOMPARE(f.dialogs.modalWindows, (QStringList{"BrowseInfo_Window", "SaveFile_Info_Window"}));
        // Thorough is on by default; its rarer records do not match these JFIF pictures.
        QCOMPARE(f.c->images.size(), 3);
        QCOMPARE(f.c->images.at(0).image_Name, QStringLiteral("GND00001.JPG"));
        QVERIFY(f.c->saveInfoText->text().startsWith(QStringLiteral("Lumafind found 3 files")));
        QCOMPARE(f.c->imageModel()->rowCount(), 3);
        QCOMPARE(QDir(out + QStringLiteral("/JPG")).entryList(QDir::Files).size(), 3);
        QCOMPARE(f.c->help_info->text(), kEndOfScanHelp);
        QVERIFY(!f.c->stop_scan->isVisible());
        QVERIFY(f.c->zoom_slider->isVisible());
        QVERIFY(f.c->back_btn->isEnabled());
        QVERIFY(!f.c->next_btn->isEnabled());
        QVERIFY(f.c->Thro_Mode_Chk->isEnabled());
        QCOMPARE(f.c->screen_counter, 2);
        // The thumbnail is a real picture, 100 pixels on its longer side.
        QCOMPARE(QImage::fromData(f.c->images.at(0).imageData).width(), 100);
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
        QVERIFY(f.waitEnd(2));
        QCOMPARE(f.c->images.size(), 3);
        QCOMPARE(f.c->images.at(0).image_Name, QStringLiteral("GND00001.JPG"));
        QVERIFY(f.c->images.at(0).image_UID != QStringLiteral("GND00001.JPG"));  // UIDs continue
    }

    void rawScanWithTypesAndCounts()
    {
        GuiFixture f;
        f.toOptions(makeCard(f), 2);
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
        QVERIFY(f.waitEnd(1));
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

    // Stop by its key, Alt+S (test_wizard_windows clicks it during a preview).
    void stopEndsTheScanOnce()
    {
        GuiFixture f;
        // A big card so the scan is still running when Stop is pressed.
        f.toOptions(f.image(QStringLiteral("big.img"), qint64(16) << 21));  // 16 GiB, sparse
        f.startWithoutFolder();
        QVERIFY(f.c->scanRunning());
        QVERIFY(QTest::qWaitFor([&] { return f.c->for_index.load() > 1000; }, 10000));
        // Beside the sector line: elapsed time, speed, the time left to come, photos found.
        QVERIFY(QTest::qWaitFor([&] { return f.c->progress_details->text().contains(QLatin1String("MB/s")); }, 10000));
        QVERIFY(f.c->progress_details->isVisible());
        QVERIFY(f.c->progress_details->text().startsWith(QLatin1String("Elapsed ")));
        QVERIFY(f.c->progress_details->text().endsWith(QLatin1String("0 photos found")));
        QTest::keyClick(f.window.get(), Qt::Key_S, Qt::AltModifier);
        QVERIFY(f.waitEnd(1));
        QVERIFY(!f.c->progress_details->isVisible());
        QCOMPARE(f.dialogs.modalWindows.size(), 1);
        QVERIFY(f.c->for_index.load() < uint64_t(16) << 21);
        QVERIFY(f.c->saveInfoText->text().contains(QLatin1String("before the search was stopped")));
        QVERIFY(!f.c->mSetLabelTimer->isActive());
        QCOMPARE(f.c->stop_now.load(), 0);
        QTest::qWait(50);
        QCOMPARE(f.dialogs.modalWindows.size(), 1);
    }

    // Fault: after "the device cannot be opened", Browse… and Thorough stayed disabled and the
    // help line kept the scan's text, also after Back and another medium.
    void mediumThatCannotBeOpenedGoesBack_data()
    {
        QTest::addColumn<int>("mode");
        QTest::newRow("photo") << 0;
        QTest::newRow("raw file") << 2;
    }
    void mediumThatCannotBeOpenedGoesBack()
    {
        QFETCH(int, mode);
        GuiFixture f;
        const QString path = makeCard(f);
        const QString other = f.dir.path() + QStringLiteral("/other.img");
        QVERIFY(QFile::copy(path, other));
        f.toOptions(path, mode);
        QFile::remove(path);  // the card was removed after it was listed
        f.startWithoutFolder();
        QVERIFY(QTest::qWaitFor([&] { return !f.c->scanRunning(); }, 10000));
        QCoreApplication::processEvents();
        QCOMPARE(f.dialogs.alerts.last().message, QStringLiteral("\nError in storage media reading."));
        QVERIFY(f.dialogs.alerts.last().informative.contains(QLatin1String("No such file")));
        QVERIFY(f.dialogs.modalWindows.isEmpty());
        QVERIFY(!f.c->mSetLabelTimer->isActive());
        QVERIFY(!f.c->stop_scan->isVisible());
        if (mode == 0) {
            QCOMPARE(f.c->screen_counter, 1);
            QVERIFY(f.c->photo.page->isVisible());
            QVERIFY(!f.c->photoScanPage->isVisible());
            QVERIFY(f.c->photo.browse_path->isEnabled());
            QVERIFY(f.c->Thro_Mode_Chk->isEnabled());
            QCOMPARE(f.c->help_info->text(), kEntireDiskHelp);
        } else {
            QCOMPARE(f.c->screen_counter, 2);
            QVERIFY(f.c->fileTypePage->isVisible());
            QCOMPARE(f.c->help_info->text(), kFileTypeHelp);
            QTest::mouseClick(f.c->back_btn, Qt::LeftButton);
            QVERIFY(f.c->sig.browse_path->isEnabled());
        }
        // Back to the media and another card: the options screen as it should be.
        QTest::mouseClick(f.c->back_btn, Qt::LeftButton);
        QCOMPARE(f.c->screen_counter, 0);
        QVERIFY(f.listed());
        f.toOptions(other, mode);
        QCOMPARE(f.c->help_info->text(), kEntireDiskHelp);
        QVERIFY(f.c->currentSet().browse_path->isEnabled());
        QVERIFY(f.c->Thro_Mode_Chk->isEnabled());
    }

    // The worker no longer waits for its alert to be closed: the end of the scan it sends next
    // waits for the alert instead of opening on top of it.
    void theEndWindowWaitsForAnOpenAlert()
    {
        GuiFixture f;
        CardImage img(2000, true);
        auto medium = faultyMedium(img.data);
        medium->vanishAt = 200;  // the card is pulled out during the scan
        f.c->deviceOpener = faultyOpener(medium);
        f.toOptions(makeCard(f));
        f.startWithoutFolder();
        // A person who reads the alert for a while: events go on meanwhile, as in its own loop.
        bool alertOpen = false, endOverAlert = false;
        f.dialogs.onAlert = [&] {
            alertOpen = true;
            QVERIFY(QTest::qWaitFor([&] { return !f.c->scanRunning(); }, 10000));
            for (int i = 0; i < 5; ++i)
                QCoreApplication::processEvents();
            alertOpen = false;
        };
        f.dialogs.onModal = [&](QDialog *) { endOverAlert = endOverAlert || alertOpen; };
        QVERIFY(f.waitEnd(1));
        QCOMPARE(f.dialogs.alerts.last().message, QStringLiteral("\nError in storage media reading."));
        QVERIFY(!endOverAlert);
        QVERIFY(f.c->saveInfoText->text().contains(QLatin1String("could not be read")));
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
        QVERIFY(f.c->chooseOutputFolder(out));
        QTest::mouseClick(f.c->next_btn, Qt::LeftButton);
        QVERIFY(f.waitEnd(1));
        QVERIFY2(f.dialogs.alerts.isEmpty(), qPrintable(f.dialogs.alerts.isEmpty() ? QString() : f.dialogs.alerts.last().informative));
        // Both passes, the saver and the thumbnails read the card through the one descriptor.
        QCOMPARE(f.c->images.size(), 3);
        QCOMPARE(QImage::fromData(f.c->images.at(0).imageData).width(), 100);
        QVERIFY2(f.c->saveInfoText->text().contains(QStringLiteral("3 saved in")), qPrintable(f.c->saveInfoText->text()));
        QCOMPARE(QDir(out + QStringLiteral("/JPG")).entryList(QDir::Files).size(), 3);
        // Saving again after the scan, from the list: still no second request.
        QVERIFY(f.c->saveFoundFilesTo(f.dir.path() + QStringLiteral("/again")));
        QTRY_VERIFY(!f.c->savingAfterScan());
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

    // The option on the options screen: files saved under the names the card remembers, during
    // the scan and by "Save found files…" after it; the tooltip says what the card remembers.
    void savedUnderRememberedNames()
    {
        GuiFixture f;
        MtoolsCard card;
        if (!card.make(f.dir.path() + QStringLiteral("/fat")))
            QSKIP(qPrintable(card.problem));
        const QByteArray photo = picture("JPG", 200, 150);
        QVERIFY2(card.mkdir("/DCIM") && card.write("/DCIM/IMG_0007.JPG", photo) && card.write("/DCIM/Lake at dusk.jpg", photo + "!")
                     && card.remove("/DCIM/*"),
                 qPrintable(card.problem));
        f.toOptions(card.image);
        QCOMPARE(f.c->photo.original_names_Chk->text(), QStringLiteral("Name files as the card remembers them, where it does"));
        QVERIFY(!f.c->photo.original_names_Chk->isChecked());  // generated names stay the default
        f.c->photo.original_names_Chk->click();
        const QString out = f.dir.path() + QStringLiteral("/out");
        QVERIFY(f.c->chooseOutputFolder(out));
        QTest::mouseClick(f.c->next_btn, Qt::LeftButton);
        QVERIFY(f.waitEnd());
        QCOMPARE(readAll(out + QStringLiteral("/JPG/_MG_0007.JPG")), photo);
        QCOMPARE(readAll(out + QStringLiteral("/JPG/Lake at dusk.jpg")), photo + "!");
        QCOMPARE(QFileInfo(out + QStringLiteral("/JPG/_MG_0007.JPG")).lastModified().toSecsSinceEpoch(), kTime);
        QTRY_VERIFY(f.c->imageModel()->index(0).data(Qt::ToolTipRole).toString().contains(
            QStringLiteral("the card remembers it as _MG_0007.JPG, changed 2021-05-04")));
        // Saved again from the list, without the option: generated names, the remembered length.
        f.c->photo.original_names_Chk->click();
        QVERIFY(f.c->saveFoundFilesTo(f.dir.path() + QStringLiteral("/again")));
        QTRY_VERIFY(!f.c->savingAfterScan());
        QCOMPARE(readAll(f.dir.path() + QStringLiteral("/again/JPG/GND00002.JPG")), photo + "!");
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

        // Thumbnails are 100 pixels: the slider's largest size is that, and the placeholder of a
        // photo without one is drawn no larger.
        f.c->imageBrowser->setZoom(1.0);
        QCOMPARE(f.c->imageBrowser->iconSize(), QSize(100, 100));
        MyImageObject photo;
        QVERIFY(lumafind::addImageWithData(QByteArray("not a picture"), QStringLiteral("GND00001.JPG"), QStringLiteral("p"),
                                           f.c->Null_Image_Data, &photo));
        f.c->addImageWithData(std::move(photo));
        const QIcon icon = f.c->imageModel()->index(int(f.c->images.size()) - 1).data(Qt::DecorationRole).value<QIcon>();
        QVERIFY(!icon.isNull());
        const QSize drawn = icon.actualSize(QSize(1000, 1000));
        QVERIFY2(drawn.width() <= 100 && drawn.height() <= 100, qPrintable(QStringLiteral("%1x%2").arg(drawn.width()).arg(drawn.height())));
        // Only a private type is offered to a drag: nothing useful leaves the browser.
        QMimeData *data = f.c->imageModel()->mimeData({f.c->imageModel()->index(0)});
        QVERIFY(data->text().isEmpty());
        QVERIFY(data->urls().isEmpty());
        delete data;
    }
};

QTEST_MAIN(TestWizardScan)
#include "test_wizard_scan.moc"
