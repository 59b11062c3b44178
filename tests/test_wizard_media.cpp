// The media screen and the two options screens of the real main window.
#include "app/sectorwidgets.h"
#include "app/tablemodels.h"
#include "guitestutil.h"
#include "media/mediamonitor.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QItemSelectionModel>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>

using namespace lumafind;

namespace {
QByteArray laptop()
{
    return readAll(laptopFixture());
}
const QByteArray kBigDisk = R"({"blockdevices":[{"name":"sdd","path":"/dev/sdd","size":3298534883328,"label":"ARCHIVE",
    "fstype":"exfat","pkname":null,"rm":true,"hotplug":true,"tran":"usb","type":"disk","mountpoint":"/media/x"}]})";
// The laptop with changes: devices named in `gone` taken out, `added` plugged in first.
void replug(GuiFixture &f, const QStringList &gone, const QJsonArray &added = {})
{
    QJsonObject root = QJsonDocument::fromJson(laptop()).object();
    QJsonArray devices = added;
    for (const QJsonValue &d : root.value(QLatin1String("blockdevices")).toArray())
        if (!gone.contains(d.toObject().value(QLatin1String("name")).toString()))
            devices.append(d);
    root.insert(QStringLiteral("blockdevices"), devices);
    QVERIFY(writeFile(f.dir.path() + QStringLiteral("/lsblk.json"), QJsonDocument(root).toJson()));
}

// The identifier of the selected row ("" when none is).
QString picked(GuiFixture &f)
{
    const QModelIndexList rows = f.c->idTableView->selectionModel()->selectedRows();
    return rows.isEmpty() ? QString() : f.c->nsMutaryOfDataObject.at(rows.first().row()).nsStrDiskIdentifier();
}
} // namespace

class TestWizardMedia : public QObject {
    Q_OBJECT
private slots:
    // The laptop's media listed once however often Refresh is pressed; Next wants a medium; the
    // one picked stays picked through Refresh and Back; the options screen shows it.
    void mediaListSelectionAndOptions()
    {
        GuiFixture f(laptop());
        QCOMPARE(f.c->nsMutaryOfDataObject.size(), 8);
        QCOMPARE(f.c->idTableView->model()->rowCount(), 8);
        QCOMPARE(f.c->idTableView->model()->index(0, 0).data().toString(), QStringLiteral("sda1"));
        QCOMPARE(f.c->idTableView->model()->index(3, 1).data().toString(), QStringLiteral("CANON_DC"));
        QTest::mouseClick(f.c->next_btn, Qt::LeftButton);
        QCOMPARE(f.dialogs.alerts.size(), 1);
        QCOMPARE(f.dialogs.alerts.first().message, QStringLiteral("\nPlease select a storage media from list."));
        QCOMPARE(f.c->screen_counter, 0);
        QVERIFY(f.c->mediaPage->isVisible());

        f.c->idTableView->selectRow(3);
        for (int i = 0; i < 2; ++i) {
            QTest::mouseClick(f.c->refresh_btn, Qt::LeftButton);
            QVERIFY(f.listed());
        }
        QCOMPARE(f.c->nsMutaryOfDataObject.size(), 8);  // no duplicates
        QVERIFY(f.c->LoadDisk_Window->isHidden());
        QCOMPARE(f.c->idTableView->selectionModel()->selectedRows().size(), 1);
        QCOMPARE(f.c->idTableView->selectionModel()->selectedRows().first().row(), 3);

        QTest::mouseClick(f.c->next_btn, Qt::LeftButton);
        QCOMPARE(f.c->screen_counter, 1);
        QVERIFY(f.c->photo.page->isVisible());
        QVERIFY(!f.c->mediaPage->isVisible());
        QVERIFY(f.c->back_btn->isEnabled());
        QCOMPARE(f.c->Search_Type->text(), QStringLiteral("Search Type : Recover Photo"));
        QCOMPARE(f.c->disk_identifier->text(), QStringLiteral("mmcblk0p1"));
        QCOMPARE(f.c->sectors_val->text(), QStringLiteral("62325760"));
        QCOMPARE(f.c->photo.vol_name_val->text(), QStringLiteral("CANON_DC"));
        QCOMPARE(f.c->photo.end_sector_entire_val->text(), QStringLiteral("62325760"));
        QCOMPARE(f.c->photo.End_slider_val->text(), QStringLiteral("62325760"));
        QVERIFY(f.c->photo.entire_disk_rd->isChecked());
        QVERIFY(f.c->photo.disk_sector_info_Box->isVisible());
        QVERIFY(!f.c->photo.Start_Sec_Box->isVisible());
        QVERIFY(f.c->Thro_Mode_Chk->isChecked());
        QCOMPARE(f.c->selectedDevicePath(), QStringLiteral("/dev/mmcblk0p1"));
        QVERIFY(f.c->help_info->text().startsWith(QStringLiteral("If \u2018Entire Disk\u2019 option")));

        // Back: the media screen, "<None>" everywhere, photo mode again, the medium still picked.
        QTest::mouseClick(f.c->back_btn, Qt::LeftButton);
        QVERIFY(f.listed());
        QCOMPARE(f.c->screen_counter, 0);
        QVERIFY(f.c->mediaPage->isVisible());
        QVERIFY(!f.c->photo.page->isVisible());
        QCOMPARE(f.c->sectors_val->text(), QStringLiteral("<None>"));
        QCOMPARE(f.c->sig.disk_val->text(), QStringLiteral("<None>"));
        QCOMPARE(Recovery_MODE, 0);
        QVERIFY(f.c->rec_mode_Photo->isChecked());
        QVERIFY(!f.c->back_btn->isEnabled());
        QVERIFY(!f.c->Search_Type->isVisible());
        QCOMPARE(f.c->idTableView->selectionModel()->selectedRows().first().row(), 3);
        QTest::mouseClick(f.c->next_btn, Qt::LeftButton);  // no need to choose again
        QCOMPARE(f.c->disk_identifier->text(), QStringLiteral("mmcblk0p1"));
    }

    void cardsComeAndGoByThemselves()
    {
        GuiFixture f(laptop());
        QVERIFY(f.c->mediaMonitor());
        f.c->idTableView->selectRow(3);
        QCOMPARE(picked(f), QStringLiteral("mmcblk0p1"));

        // A USB stick is plugged in; it is listed first, the card the user picked moves down
        // and stays picked.
        const QJsonObject stick = QJsonDocument::fromJson(R"({"name":"sdx","path":"/dev/sdx","size":8004829184,
            "label":"STICK","fstype":"vfat","pkname":null,"rm":true,"hotplug":true,"tran":"usb","type":"disk",
            "mountpoint":null})").object();
        replug(f, {}, QJsonArray{stick});
        f.c->mediaMonitor()->deviceEvent(QStringLiteral("add"), QStringLiteral("/dev/sdx"));
        QTRY_COMPARE(f.c->nsMutaryOfDataObject.size(), 9);
        QCOMPARE(f.c->nsMutaryOfDataObject.first().nsStrDiskIdentifier(), QStringLiteral("sdx"));
        QCOMPARE(picked(f), QStringLiteral("mmcblk0p1"));
        QCOMPARE(f.c->idTableView->selectionModel()->selectedRows().first().row(), 4);

        // Another one goes: still picked.
        replug(f, {QStringLiteral("sda")}, QJsonArray{stick});
        f.c->mediaMonitor()->deviceEvent(QStringLiteral("remove"), QStringLiteral("/dev/sda"));
        QTRY_COMPARE(f.c->nsMutaryOfDataObject.size(), 6);
        QCOMPARE(picked(f), QStringLiteral("mmcblk0p1"));

        // The card itself is taken out of the reader: nothing is picked.
        replug(f, {QStringLiteral("sda"), QStringLiteral("mmcblk0")}, QJsonArray{stick});
        f.c->mediaMonitor()->deviceEvent(QStringLiteral("change"), QStringLiteral("/dev/mmcblk0"));
        QTRY_COMPARE(f.c->nsMutaryOfDataObject.size(), 4);
        QCOMPARE(picked(f), QString());

        // Past the media screen the chosen medium stays on show; Back lists afresh.
        f.c->idTableView->selectRow(0);
        QTest::mouseClick(f.c->next_btn, Qt::LeftButton);
        QCOMPARE(f.c->screen_counter, 1);
        replug(f, {});
        f.c->mediaChanged();  // what the monitor's signal calls
        QCOMPARE(f.c->nsMutaryOfDataObject.size(), 4);
        QCOMPARE(f.c->disk_identifier->text(), QStringLiteral("sdx"));
        QTest::mouseClick(f.c->back_btn, Qt::LeftButton);
        QTRY_COMPARE(f.c->nsMutaryOfDataObject.size(), 8);
    }

    void aBurstOfEventsIsOneRebuild()
    {
        MediaMonitor monitor(nullptr, 50);
        int changes = 0;
        QObject::connect(&monitor, &MediaMonitor::mediaChanged, [&] { ++changes; });
        // A card and its partitions, then udev's other chatter, which is not a medium coming or going.
        monitor.deviceEvent(QStringLiteral("add"), QStringLiteral("/dev/sdx"));
        monitor.deviceEvent(QStringLiteral("add"), QStringLiteral("/dev/sdx1"));
        monitor.deviceEvent(QStringLiteral("add"), QStringLiteral("/dev/sdx2"));
        QTRY_COMPARE(changes, 1);
        monitor.deviceEvent(QStringLiteral("bind"), QStringLiteral("/dev/sdx"));
        monitor.deviceEvent(QStringLiteral("online"), QStringLiteral("/dev/sdx"));
        QTest::qWait(200);
        QCOMPARE(changes, 1);
    }

    // Fault: lsblk ran on the GUI thread, so "Looking for storage media…" was never drawn and
    // the window froze. Here lsblk answers only when the test lets it.
    void mediaAreListedBesideTheWindow()
    {
        GuiFixture f(laptop(), true);
        QVERIFY(f.c->mediaListing());
        // The window is drawn and answers meanwhile.
        QVERIFY(QTest::qWaitFor([&] { return f.c->LoadDisk_Window->isVisible(); }, 10000));
        QTest::mouseClick(f.c->rec_mode_Video, Qt::LeftButton);
        QCOMPARE(Recovery_MODE, 1);
        QCOMPARE(f.c->nsMutaryOfDataObject.size(), 0);
        // Refresh while it runs: one more listing follows, never two at once.
        QTest::mouseClick(f.c->refresh_btn, Qt::LeftButton);
        f.release();
        QVERIFY(f.listed());
        QCOMPARE(f.c->nsMutaryOfDataObject.size(), 8);
        QVERIFY(f.c->LoadDisk_Window->isHidden());
    }

    // The keys, and the sector range refused on the options screen.
    void keyboardAndRangeRefusals()
    {
        GuiFixture f(laptop());
        QWidget *w = f.window.get();
        // Tab leaves the media table for the next control instead of walking its cells.
        f.c->idTableView->setFocus();
        f.c->idTableView->selectRow(3);
        QTest::keyClick(f.c->idTableView, Qt::Key_Tab);
        QVERIFY(w->focusWidget() != f.c->idTableView);
        QVERIFY(w->focusWidget() != nullptr);
        // Enter presses Next.
        f.c->idTableView->setFocus();
        QTest::keyClick(f.c->idTableView, Qt::Key_Return);
        QCOMPARE(f.c->screen_counter, 1);
        // Alt+B is Back, Alt+N is Next (a mnemonic animates the click: it lands a moment later).
        QTest::keyClick(w, Qt::Key_B, Qt::AltModifier);
        QTRY_COMPARE(f.c->screen_counter, 0);
        QVERIFY(f.listed());
        QTest::keyClick(w, Qt::Key_N, Qt::AltModifier);
        QTRY_COMPARE(f.c->screen_counter, 1);
        // Alt+R is Browse on the options screen.
        QTest::keyClick(w, Qt::Key_R, Qt::AltModifier);
        QTRY_COMPARE(f.dialogs.modalWindows, QStringList{QStringLiteral("BrowseInfo_Window")});
        // A range refused keeps the screen, with the cursor in the field at fault; Enter in a
        // field presses Next.
        OptionsControls &s = f.c->photo;
        QTest::mouseClick(s.sector_range_rd, Qt::LeftButton);
        QVERIFY(s.Start_Sec_Box->isVisible());
        QVERIFY(!s.disk_sector_info_Box->isVisible());
        QVERIFY(f.c->help_info->text().startsWith(QStringLiteral("\u2018Sector Range\u2019")));
        s.Start_slider_val->setText(QStringLiteral("0005"));
        s.End_slider_val->setText(QStringLiteral("9"));
        f.c->sectors_val->setText(QStringLiteral("100"));
        QTest::mouseClick(f.c->next_btn, Qt::LeftButton);
        QCOMPARE(f.dialogs.alerts.size(), 1);
        QCOMPARE(f.dialogs.alerts.last().informative, QStringLiteral("Please enter valid Start Sector value."));
        QCOMPARE(f.window->focusWidget(), s.Start_slider_val);
        QCOMPARE(f.c->screen_counter, 1);
        s.Start_slider_val->setText(QStringLiteral("9"));
        QTest::keyClick(s.Start_slider_val, Qt::Key_Enter);
        QCOMPARE(f.dialogs.alerts.last().message, QStringLiteral("\nEnd Sector should be greater than Start Sector."));
        QCOMPARE(f.window->focusWidget(), s.End_slider_val);
        QCOMPARE(f.c->screen_counter, 1);
        // Pressing Sector Range again discards typed values; Entire Disk performs no test at all.
        QTest::mouseClick(s.sector_range_rd, Qt::LeftButton);
        QCOMPARE(s.Start_slider_val->text(), QStringLiteral("0"));
        QCOMPARE(s.End_slider_val->text(), QStringLiteral("62325760"));
        s.Start_slider_val->setText(QStringLiteral("abc"));
        QTest::mouseClick(s.entire_disk_rd, Qt::LeftButton);
        QVERIFY(f.c->rangeCheck(s));
        QCOMPARE(f.dialogs.alerts.size(), 2);
        QVERIFY(!s.Start_Sec_Box->isVisible());
        // Enter on a focused button presses that button, not Next.
        f.c->back_btn->setFocus();
        QTest::keyClick(f.c->back_btn, Qt::Key_Return);
        QCOMPARE(f.c->screen_counter, 0);
        QVERIFY(f.listed());
        // A double-click on a medium is Next.
        const QRect cell = f.c->idTableView->visualRect(f.c->mediaModel()->index(3, 0));
        QTest::mouseClick(f.c->idTableView->viewport(), Qt::LeftButton, {}, cell.center());
        QTest::mouseDClick(f.c->idTableView->viewport(), Qt::LeftButton, {}, cell.center());
        QCOMPARE(f.c->screen_counter, 1);
        // Alt+X asks about exiting.
        f.dialogs.alertAnswers.enqueue(0);  // No
        QTest::keyClick(w, Qt::Key_X, Qt::AltModifier);
        QTRY_COMPARE(f.dialogs.alerts.last().message, QStringLiteral("\nDo you really want to exit from 'Lumafind'?"));
        QVERIFY(!f.c->shutDown());
    }

    void slidersAndFieldsOnAThreeTerabyteDisk()
    {
        GuiFixture f(kBigDisk);
        f.c->Video_Mode_Radio();
        f.c->idTableView->selectRow(0);
        QTest::mouseClick(f.c->next_btn, Qt::LeftButton);
        OptionsControls &s = f.c->sig;
        QVERIFY(s.page->isVisible());
        QVERIFY(!f.c->photo.page->isVisible());
        QCOMPARE(f.c->Search_Type->text(), QStringLiteral("Search Type : Recover Video"));
        QTest::mouseClick(s.sector_range_rd, Qt::LeftButton);
        // Dragging the end slider to its maximum shows the full count.
        s.End_Slider->setSliderPosition(0);
        s.End_Slider->triggerAction(QAbstractSlider::SliderToMaximum);
        QCOMPARE(s.End_slider_val->text(), QStringLiteral("6442450944"));
        s.Start_Slider->triggerAction(QAbstractSlider::SliderPageStepAdd);
        QCOMPARE(s.Start_slider_val->text(), QStringLiteral("64424509"));
        // Typing moves the slider; a value above the count leaves it; text stays as typed.
        QTest::keyClicks(s.Start_slider_val, QStringLiteral("1"));  // "644245091"
        QCOMPARE(s.Start_Slider->sliderPosition(), sectorToSlider(6442450944u, 644245091u));
        const int pos = s.Start_Slider->sliderPosition();
        s.Start_slider_val->setText(QStringLiteral("7000000000"));
        f.c->controlTextDidChange(s.Start_slider_val);
        QCOMPARE(s.Start_Slider->sliderPosition(), pos);
        QCOMPARE(s.Start_slider_val->text(), QStringLiteral("7000000000"));
        s.Start_slider_val->clear();
        QTest::keyClicks(s.Start_slider_val, QStringLiteral("abc"));
        QCOMPARE(s.Start_Slider->sliderPosition(), 0);
        // Setting the slider from code never rewrites the field.
        s.Start_Slider->setSectorValue(5);
        QCOMPARE(s.Start_slider_val->text(), QStringLiteral("abc"));
        // The photo set was not touched.
        QCOMPARE(f.c->photo.End_slider_val->text(), QString());
        // A valid range reaches the scan fields unchanged.
        s.Start_slider_val->setText(QStringLiteral("3000000000"));
        s.End_slider_val->setText(QStringLiteral("6442450944"));
        QVERIFY(f.c->rangeCheck(s));
        const ScanRange r = rangeHandOver(f.c->rangeControls(s));
        QCOMPARE(r.start, 3000000000u);
        QCOMPARE(r.end, 6442450944u);
    }

    void diskImagesStayListed()
    {
        GuiFixture f(laptop());
        const QString img = f.image(QStringLiteral("card.img"), 4096);
        f.dialogs.fileAnswers.enqueue(img);
        QTest::mouseClick(f.c->open_image_btn, Qt::LeftButton);
        QCOMPARE(f.c->nsMutaryOfDataObject.size(), 9);
        QCOMPARE(f.c->nsMutaryOfDataObject.last().nsStrFileSystem(), QStringLiteral("Disk Image"));
        QCOMPARE(f.c->idTableView->selectionModel()->selectedRows().first().row(), 8);
        QVERIFY(f.c->addDiskImage(img));  // the same image again: selected, not doubled
        QCOMPARE(f.c->nsMutaryOfDataObject.size(), 9);
        QTest::mouseClick(f.c->refresh_btn, Qt::LeftButton);
        QVERIFY(f.listed());
        QCOMPARE(f.c->nsMutaryOfDataObject.size(), 9);
        QVERIFY(!f.c->addDiskImage(f.dir.path() + QStringLiteral("/nothing.img")));
        QCOMPARE(f.dialogs.alerts.last().message, QStringLiteral("\nThe disk image cannot be opened."));
        f.c->idTableView->selectRow(8);
        QTest::mouseClick(f.c->next_btn, Qt::LeftButton);
        QCOMPARE(f.c->sectors_val->text(), QStringLiteral("4096"));
        QCOMPARE(f.c->selectedDevicePath(), img);
    }
};

QTEST_MAIN(TestWizardMedia)
#include "test_wizard_media.moc"
