// The information windows, the output folder and saving, the preview and exit, on the real
// main window.
#include "app/browserview.h"
#include "app/imagemodel.h"
#include "enginetestutil.h"
#include "exiffiles.h"
#include "faultydevice.h"
#include "guitestutil.h"
#include "testfiles.h"
#include "results/thumbnails.h"
#include "tools/storedzip.h"

#include <QBuffer>
#include <QCheckBox>
#include <QDialog>
#include <QDir>
#include <QGroupBox>
#include <QImage>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QThread>

using namespace lumafind;

namespace {



// Up to the options screen with a card image selected, in the given mode.
void toOptions(GuiFixture &f, const QString &image, int mode)
{
    if (mode == 1)
        f.c->Video_Mode_Radio();
    if (mode == 2)
        f.c->RawFile_Mode_Radio();
    QVERIFY(f.c->addDiskImage(image));
    QTest::mouseClick(f.c->next_btn, Qt::LeftButton);
    QCOMPARE(f.c->screen_counter, 1);
}

bool waitEnd(GuiFixture &f, int ends)
{
    return QTest::qWaitFor([&] {
        return f.dialogs.modalWindows.filter(QStringLiteral("SaveFile_Info")).size() >= ends && !f.c->scanRunning();
    }, 20000);
}

void startTypes(GuiFixture &f)
{
    f.dialogs.alertAnswers.enqueue(0);  // continue without an output folder
    QTest::mouseClick(f.c->next_btn, Qt::LeftButton);  // to the file types
    f.c->Thro_Mode_Chk_SIG->setChecked(false);
    QTest::mouseClick(f.c->next_btn, Qt::LeftButton);  // scan
}
} // namespace

class TestWizardWindows : public QObject {
    Q_OBJECT
private slots:
    void helpAboutAndTheHelpDocument()
    {
        GuiFixture f;
        QTest::mouseClick(f.c->help_btn, Qt::LeftButton);
        QTest::mouseClick(f.c->about_btn, Qt::LeftButton);
        QCOMPARE(f.dialogs.modalWindows, (QStringList{"HelpWindow", "AboutWindow"}));
        f.c->HelpFilePressed();
        QCOMPARE(f.dialogs.opened.size(), 1);
        QVERIFY(f.dialogs.opened.first().toLocalFile().endsWith(QLatin1String("/Help.pdf")));

        // Without the document: the alert.
        QTemporaryDir empty;
        RecordingDialogs d;
        MyTableController c(empty.path(), &d);
        std::unique_ptr<QMainWindow> w(buildMainWindow(c));
        c.HelpFilePressed();
        QCOMPARE(d.alerts.last().message, QStringLiteral("\nHelp file does not exist!"));
        QVERIFY(d.opened.isEmpty());
    }

    void browseShowsTheNoteAndFillsBothFields()
    {
        GuiFixture f;
        const QString card = f.image(QStringLiteral("card.img"), 100);
        toOptions(f, card, 0);
        QTest::mouseClick(f.c->photo.browse_path, Qt::LeftButton);  // cancelled
        QCOMPARE(f.dialogs.modalWindows, QStringList{"BrowseInfo_Window"});
        QVERIFY(f.c->photo.path->text().isEmpty());
        f.dialogs.folderAnswers.enqueue(f.dir.path() + QStringLiteral("/out"));
        QTest::mouseClick(f.c->photo.browse_path, Qt::LeftButton);
        QCOMPARE(f.c->photo.path->text(), f.dir.path() + QStringLiteral("/out"));
        QCOMPARE(f.c->sig.path->text(), f.dir.path() + QStringLiteral("/out"));
    }

    void photosSavedWhileScanning()
    {
        GuiFixture f;
        CardImage img(300, true);
        const QByteArray a = exiffiles::exifJpeg(picture("JPG", 400, 300), "2016:10:11 12:13:14", "+09:00");
        const QByteArray b = picture("PNG", 90, 60);
        img.put(10, a);
        img.put(200, b);
        const QString card = f.dir.path() + QStringLiteral("/card.img");
        img.save(card);
        toOptions(f, card, 0);
        const QString out = f.dir.path() + QStringLiteral("/saved");
        QVERIFY(f.c->chooseOutputFolder(out));
        f.c->Thro_Mode_Chk->setChecked(false);
        QTest::mouseClick(f.c->next_btn, Qt::LeftButton);
        QVERIFY(waitEnd(f, 1));
        QCOMPARE(readAll(out + QStringLiteral("/JPG/GND00001.JPG")), a);
        QCOMPARE(readAll(out + QStringLiteral("/PNG/GND00002.PNG")), b);
        QVERIFY(f.c->saveInfoText->text().contains(QStringLiteral("2 saved in %1").arg(out)));
        QCoreApplication::processEvents();
        const QString tip = f.c->imageModel()->index(0).data(Qt::ToolTipRole).toString();
        QVERIFY2(tip.contains(QStringLiteral("%1 bytes, the length its format declares").arg(a.size())), qPrintable(tip));
        QVERIFY(tip.contains(out + QStringLiteral("/JPG/GND00001.JPG")));
        QVERIFY2(tip.contains(QStringLiteral("captured 2016-10-11 12:13:14+09:00")), qPrintable(tip));
        QVERIFY(!f.c->imageModel()->index(1).data(Qt::ToolTipRole).toString().contains(QStringLiteral("captured")));
        QVERIFY(!f.c->saveFoundButton->isVisibleTo(f.c->SaveFile_Info_Window));
        f.c->Open_Folder_btn();
        QCOMPARE(f.dialogs.opened.last().toLocalFile(), out);
    }

    void saveFoundFilesAfterTheScan()
    {
        GuiFixture f;
        CardImage img(300, true);
        const QByteArray zip = storedZip({{"notes.txt", QByteArray(3000, 'n')}});
        img.put(10, zip);
        img.putHex(100, "255044462D312E34");  // a PDF without an end: saved as carved
        const QString card = f.dir.path() + QStringLiteral("/card.img");
        img.save(card);
        toOptions(f, card, 2);
        f.dialogs.modalAnswers.enqueue(2);  // the end-of-scan window's "Save found files…"
        const QString out = f.dir.path() + QStringLiteral("/later");
        f.dialogs.folderAnswers.enqueue(out);
        startTypes(f);
        QVERIFY(waitEnd(f, 1));
        QVERIFY(f.c->saveFoundButtonRaw->isVisibleTo(f.c->SaveFile_Info_For_RAW_Window));
        QVERIFY(QTest::qWaitFor([&] { return f.dialogs.alerts.last().message == QStringLiteral("\nSaving finished."); }, 10000));
        QCOMPARE(readAll(out + QStringLiteral("/ZIP/ZIP00001.ZIP")), zip);
        QCOMPARE(readAll(out + QStringLiteral("/PDF/PDF00001.PDF")), img.sectors(100, 300));
        QVERIFY(f.dialogs.alerts.last().informative.startsWith(QStringLiteral("2 of 2 files were saved")));
    }

    void previewCopiesTheFileAndFollowsTheItem()
    {
        GuiFixture f;
        CardImage img(400, true);
        const QByteArray mp4 = clip(), zip = storedZip({{"a.txt", "hello"}});
        img.put(20, mp4);
        img.put(300, zip);
        img.put(350, picture("PNG", 300, 150));
        const QString card = f.dir.path() + QStringLiteral("/card.img");
        img.save(card);
        toOptions(f, card, 2);
        startTypes(f);
        QVERIFY(waitEnd(f, 1));
        QCOMPARE(f.c->images.size(), 1);  // raw mode finds the ZIP
        // A video item and a picture item next to it (as a video scan and a Thorough pass would).
        MyImageObject movie, pic;
        lumafind::addImageWithData_2(QStringLiteral("MP400001.MP4"), QStringLiteral("MP400001.MP4"), 20, 300, &movie);
        lumafind::addImageWithData_2(QStringLiteral("PNG00001.PNG"), QStringLiteral("PNG00001.PNG"), 350, 400, &pic);
        f.c->addImageWithData_2(std::move(movie));
        f.c->addImageWithData_2(std::move(pic));

        auto preview = [&](int row) {
            f.c->imageBrowser_2->selectionModel()->select(f.c->imageModel()->index(row), QItemSelectionModel::ClearAndSelect);
            QVERIFY(QTest::qWaitFor([&] { return !f.c->previewRunning(); }, 10000));
            QCoreApplication::processEvents();
        };
        preview(1);
        QCOMPARE(f.c->previewState(), QStringLiteral("movie"));
        // The movie's own length, not the carved 280 sectors.
        QCOMPARE(readAll(f.c->Preview_Temp_File), mp4);
        QVERIFY(f.c->Preview_Temp_File.endsWith(QLatin1String("/dprv.MP4")));
        QCOMPARE(f.c->QuickLook_View_Box->title(), QStringLiteral("MP400001.MP4"));
        QVERIFY(f.c->ClearPreview_Window->isHidden());

        preview(0);
        QCOMPARE(f.c->previewState(), QStringLiteral("icon"));
        QCOMPARE(readAll(f.c->Preview_Temp_File), zip);
        QVERIFY(f.c->imageModel()->index(0).data(Qt::ToolTipRole).toString().contains(QLatin1String("the length its format declares")));
        QVERIFY(!QFile::exists(f.c->previewDirectory() + QStringLiteral("/dprv.MP4")));  // one at a time
        preview(2);
        QCOMPARE(f.c->previewState(), QStringLiteral("picture"));

        // The same item again copies nothing, also after the items were reordered.
        const uint64_t copies = f.c->previewCopies();
        f.c->previewItem(2);
        f.c->imageModel()->moveItems({2}, 0);
        f.c->previewItem(0);
        QCOMPARE(f.c->previewCopies(), copies);
        f.c->previewItem(1);  // now the ZIP: copied again
        QVERIFY(QTest::qWaitFor([&] { return !f.c->previewRunning(); }, 10000));
        QCOMPARE(f.c->previewCopies(), copies + 1);

        // A medium that cannot be opened: the item's icon and the reason, not the old file.
        QFile::remove(card);
        f.c->previewItem(2);
        QVERIFY(QTest::qWaitFor([&] { return !f.c->previewRunning(); }, 10000));
        QCoreApplication::processEvents();
        QCOMPARE(f.c->previewState(), QStringLiteral("icon"));
        QVERIFY(f.c->QuickLook_View_Box->title().contains(QLatin1String("No such file")));

        f.dialogs.alertAnswers.enqueue(1);
        QVERIFY(f.c->Exit_App());
        QVERIFY(QDir(f.c->previewDirectory()).entryList({QStringLiteral("dprv*")}, QDir::Files).isEmpty());
    }

    void scanEndingDuringAPreview_data()
    {
        QTest::addColumn<bool>("pressStop");
        QTest::newRow("the scan ends") << false;
        QTest::newRow("Stop is pressed") << true;
    }
    void scanEndingDuringAPreview()
    {
        QFETCH(bool, pressStop);
        GuiFixture f;
        CardImage img(30000, true);
        img.putHex(10, "377ABCAF271C");   // a 7Z ended by the PDF header: found in the first block read
        img.putHex(3000, "255044462D");
        const QString card = f.dir.path() + QStringLiteral("/card.img");
        img.save(card);
        auto medium = std::make_shared<FaultyMedium>();
        medium->data = img.data;
        MyTableController *c = f.c.get();
        // The scan waits beyond sector 16384 (its reads come in blocks of a few MiB) until a preview
        // runs (and, in the Stop case, until Stop is pressed); the preview's reads wait until it
        // is asked to stop.
        medium->onRead = [c, pressStop](int open, quint64 sector) {
            QElapsedTimer t;
            t.start();
            if (open == 1 && sector >= 16384)
                while ((!c->session() || (pressStop && c->stop_now.load() != 1)) && t.elapsed() < 10000)
                    QThread::msleep(2);
            if (open >= 2)
                while (c->stop_now.load() != 1 && t.elapsed() < 10000)
                    QThread::msleep(2);
        };
        f.c->deviceOpener = [medium](const QString &) { return openFaulty(medium); };
        toOptions(f, card, 2);
        bool previewShownFirst = false;
        f.dialogs.onModal = [&](QDialog *) { previewShownFirst = !f.c->previewState().isEmpty(); };
        startTypes(f);
        QVERIFY(QTest::qWaitFor([&] { return !f.c->images.isEmpty(); }, 10000));
        f.c->previewItem(0);
        if (pressStop) {
            QTest::qWait(50);
            QTest::mouseClick(f.c->stop_scan, Qt::LeftButton);
        }
        QVERIFY(waitEnd(f, 1));
        QVERIFY(QTest::qWaitFor([&] { return !f.c->previewRunning(); }, 10000));
        QTest::qWait(100);
        QCOMPARE(f.dialogs.modalWindows.filter(QStringLiteral("SaveFile_Info")).size(), 1);
        QVERIFY(previewShownFirst);
        QVERIFY(f.c->ClearPreview_Window->isHidden());
        QCOMPARE(f.c->stop_now.load(), 0);
    }

    void aLongPreviewCopyCanBeCutShort()
    {
        GuiFixture f;
        CardImage img(4000, true);
        const QString card = f.dir.path() + QStringLiteral("/card.img");
        img.save(card);
        auto medium = std::make_shared<FaultyMedium>();
        medium->data = img.data;
        std::atomic<bool> cut{false}, reading{false};
        medium->onRead = [&cut, &reading](int, quint64) {
            reading = true;
            QElapsedTimer t;
            t.start();
            while (!cut && t.elapsed() < 10000)
                QThread::msleep(2);
        };
        f.c->deviceOpener = [medium](const QString &) { return openFaulty(medium); };
        toOptions(f, card, 2);
        MyImageObject item;
        lumafind::addImageWithData_2(QStringLiteral("XYZ00001.XYZ"), QStringLiteral("x"), 10, 3900, &item);
        f.c->addImageWithData_2(std::move(item));
        f.c->previewItem(0);
        QVERIFY(f.c->ClearPreview_Window->isVisible());
        QVERIFY(QTest::qWaitFor([&] { return reading.load(); }, 10000));  // the copy is under way
        QTest::mouseClick(f.c->ClearPreview_Window->findChild<QPushButton *>(QStringLiteral("cancel_preview")), Qt::LeftButton);
        cut = true;
        QVERIFY(QTest::qWaitFor([&] { return !f.c->previewRunning(); }, 10000));
        QCoreApplication::processEvents();
        QCOMPARE(QFileInfo(f.c->Preview_Temp_File).size(), 512);  // what was copied, shown at once
        QCOMPARE(f.c->previewState(), QStringLiteral("icon"));
    }

    void exitQuestion()
    {
        GuiFixture f;
        f.dialogs.alertAnswers.enqueue(0);  // No
        QVERIFY(!f.c->Exit_App());
        QCOMPARE(f.dialogs.alerts.last().message, QStringLiteral("\nDo you really want to exit from 'Lumafind'?"));
        QCOMPARE(f.dialogs.alerts.last().buttons, (QStringList{"Yes", "No"}));
        QVERIFY(f.window->isVisible());
        // Closing the window asks the same question; No keeps it open.
        f.dialogs.alertAnswers.enqueue(0);
        f.window->close();
        QVERIFY(f.window->isVisible());
        QCOMPARE(f.dialogs.alerts.size(), 2);
    }

    void exitDuringARunningScan()
    {
        GuiFixture f;
        const QString big = f.image(QStringLiteral("big.img"), qint64(16) << 21);  // 16 GiB, sparse
        toOptions(f, big, 0);
        f.dialogs.alertAnswers.enqueue(0);
        QTest::mouseClick(f.c->next_btn, Qt::LeftButton);
        QVERIFY(f.c->scanRunning());
        QVERIFY(QTest::qWaitFor([&] { return f.c->for_index.load() > 1000; }, 10000));
        f.dialogs.alertAnswers.enqueue(1);  // Yes
        QVERIFY(f.c->Exit_App());
        QVERIFY(!f.c->scanRunning());
        QVERIFY(f.dialogs.modalWindows.filter(QStringLiteral("SaveFile_Info")).isEmpty());
    }
};

QTEST_MAIN(TestWizardWindows)
#include "test_wizard_windows.moc"
