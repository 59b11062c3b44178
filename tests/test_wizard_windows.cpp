// The information windows, the output folder and saving, the preview and exit, on the real
// main window.
#include "app/browserview.h"
#include "app/imagemodel.h"
#include "exiffiles.h"
#include "faultydevice.h"
#include "guitestutil.h"
#include "results/thumbnails.h"
#include "tools/storedzip.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QGroupBox>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QVideoWidget>

using namespace lumafind;

class TestWizardWindows : public QObject {
    Q_OBJECT
private slots:
    // Help, About and the help document on the media screen; Browse… on the options screen.
    void helpAboutTheHelpDocumentAndBrowse()
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

        // Nothing on the computer opens the guide: said, not silent.
        f.dialogs.openSucceeds = false;
        f.c->HelpFilePressed();
        QCOMPARE(f.dialogs.alerts.last().message, QStringLiteral("\nThe guide could not be opened."));
        QVERIFY(f.dialogs.alerts.last().informative.remove(QChar(0x200B)).contains(QLatin1String("/Help.pdf")));

        // Browse… shows its note, and fills the folder of both modes.
        f.toOptions(f.image(QStringLiteral("card.img"), 100));
        QTest::mouseClick(f.c->photo.browse_path, Qt::LeftButton);  // cancelled
        QCOMPARE(f.dialogs.modalWindows, (QStringList{"HelpWindow", "AboutWindow", "BrowseInfo_Window"}));
        QVERIFY(f.c->photo.path->text().isEmpty());
        f.dialogs.folderAnswers.enqueue(f.dir.path() + QStringLiteral("/out"));
        QTest::mouseClick(f.c->photo.browse_path, Qt::LeftButton);
        QCOMPARE(f.c->photo.path->text(), f.dir.path() + QStringLiteral("/out"));
        QCOMPARE(f.c->sig.path->text(), f.dir.path() + QStringLiteral("/out"));
    }

    // Photos saved as the scan reads them, with their lengths, places and capture dates in their
    // tooltips; a part of a saved file whose own picture cannot be decoded is drawn as the file
    // that holds it, not as a missing picture.
    void photosSavedWhileScanning()
    {
        GuiFixture f;
        CardImage img(300, true);
        // A broken preview: its first segments hold together (the scan takes it for a file), but
        // it has no frame and its data is noise.
        const QByteArray broken = QByteArray::fromHex("FFD8FFDB004300") + QByteArray(64, '\x10') + QByteArray::fromHex("FFDA000C")
                                  + QByteArray(10, '\0') + QByteArray(620, '\x55');
        img.put(10, exiffiles::withExif(picture("JPG", 320, 240), QByteArray(500, '\0') + broken));
        const QByteArray a = exiffiles::exifJpeg(picture("JPG", 400, 300), "2016:10:11 12:13:14", "+09:00");
        const QByteArray b = picture("PNG", 90, 60);
        img.put(100, a);
        img.put(200, b);
        f.toOptions(f.image(img));
        const QString out = f.dir.path() + QStringLiteral("/saved");
        QVERIFY(f.c->chooseOutputFolder(out));
        f.c->Thro_Mode_Chk->setChecked(false);
        QTest::mouseClick(f.c->next_btn, Qt::LeftButton);
        QVERIFY(f.waitEnd());
        QCOMPARE(readAll(out + QStringLiteral("/JPG/GND00003.JPG")), a);
        QCOMPARE(readAll(out + QStringLiteral("/PNG/GND00004.PNG")), b);
        // The path may break at its separators (zero-width spaces), never inside a name.
        QVERIFY(f.c->saveInfoText->text().remove(QChar(0x200B)).contains(QStringLiteral("3 saved in %1").arg(out)));
        QCoreApplication::processEvents();
        const QString tip = f.c->imageModel()->index(2).data(Qt::ToolTipRole).toString();
        QVERIFY2(tip.contains(QStringLiteral("%1 bytes, the length its format declares").arg(a.size())), qPrintable(tip));
        QVERIFY(tip.contains(out + QStringLiteral("/JPG/GND00003.JPG")));
        QVERIFY2(tip.contains(QStringLiteral("captured 2016-10-11 12:13:14+09:00")), qPrintable(tip));
        QVERIFY(!f.c->imageModel()->index(3).data(Qt::ToolTipRole).toString().contains(QStringLiteral("captured")));
        QVERIFY(!f.c->saveFoundButton->isVisibleTo(f.c->SaveFile_Info_Window));
        f.c->Open_Folder_btn();
        QCOMPARE(f.dialogs.opened.last().toLocalFile(), out);
        // Saved during the scan: the result line says where, with no "Save found files…".
        QVERIFY(f.c->photo.resultRow->isVisible());
        QVERIFY(!f.c->photo.save_found->isVisible());
        QVERIFY(f.c->photo.result_label->text().remove(QChar(0x200B)).contains(QStringLiteral("3 saved in %1").arg(out)));

        QCOMPARE(f.c->images.size(), 4);
        QCOMPARE(f.c->images.at(1).imageData, f.c->Null_Image_Data);  // no picture of its own
        const QModelIndex inner = f.c->imageModel()->index(1);
        QCOMPARE(inner.data(ImageListModel::ContainedInRole).toString(), QStringLiteral("GND00001.JPG"));
        // The holder's 4:3 thumbnail, not the square placeholder.
        QCOMPARE(inner.data(Qt::DecorationRole).value<QIcon>().actualSize(QSize(100, 100)), QSize(100, 75));
    }

    // Fault: once the end-of-scan window was closed, found files could no longer be saved.
    // The result line stays with "Save found files…"; saving shows its progress, marks the
    // items, and the output folder and the saved files open from there.
    void foundFilesCanBeSavedAfterTheEndWindow()
    {
        GuiFixture f;
        CardImage img(300, true);
        // A camera photo with its preview inside (at a sector of its own, as the scan sees it),
        // then a plain photo.
        const QByteArray camera = exiffiles::withExif(picture("JPG", 320, 240),
                                                      QByteArray(500, '\0') + picture("JPG", 64, 48) + QByteArray(600, '\0'));
        const QByteArray plain = picture("JPG", 200, 150);
        img.put(10, camera);
        img.put(200, plain);
        f.toOptions(f.image(img));
        f.startWithoutFolder();
        QVERIFY(f.waitEnd());  // the end-of-scan window, closed with OK
        QCOMPARE(f.c->images.size(), 3);
        QCoreApplication::processEvents();

        // The result line stays under the photos.
        auto *row = f.window->findChild<QWidget *>(QStringLiteral("result_row"));
        auto *save = f.window->findChild<QPushButton *>(QStringLiteral("save_found"));
        QVERIFY(row && save);
        QVERIFY(row->isVisible());
        QVERIFY(save->isVisible());
        QVERIFY(f.c->photo.open_folder->isVisible());
        QVERIFY2(f.c->photo.result_label->text().startsWith(QStringLiteral("Found 3 files, none saved yet")),
                 qPrintable(f.c->photo.result_label->text()));
        // Open Output Folder names the button beside it.
        f.c->Open_Folder_btn();
        QVERIFY(f.dialogs.alerts.last().informative.contains(QLatin1String("beside this button")));

        const QString out = f.dir.path() + QStringLiteral("/later");
        f.dialogs.folderAnswers.enqueue(out);
        QTest::mouseClick(save, Qt::LeftButton);
        QVERIFY(QTest::qWaitFor([&] { return !f.c->savingAfterScan(); }, 10000));
        QCOMPARE(f.dialogs.alerts.last().message, QStringLiteral("\nSaving finished."));
        QCOMPARE(f.dialogs.alerts.last().kind, AlertKind::Information);
        QCOMPARE(readAll(out + QStringLiteral("/JPG/GND00001.JPG")), camera);
        QCOMPARE(readAll(out + QStringLiteral("/JPG/GND00003.JPG")), plain);
        QVERIFY(!QFile::exists(out + QStringLiteral("/JPG/GND00002.JPG")));  // it is inside the first
        QCoreApplication::processEvents();
        const QString result = f.c->photo.result_label->text().remove(QChar(0x200B));
        QVERIFY2(result.contains(QStringLiteral("2 saved in %1").arg(out)) && result.contains(QLatin1String("1 inside other files")),
                 qPrintable(result));

        // The marks: saved, or inside the file that holds it.
        const QModelIndex first = f.c->imageModel()->index(0), inner = f.c->imageModel()->index(1);
        QCOMPARE(first.data(ImageListModel::SavedPathRole).toString(), out + QStringLiteral("/JPG/GND00001.JPG"));
        QCOMPARE(inner.data(ImageListModel::ContainedInRole).toString(), QStringLiteral("GND00001.JPG"));
        QVERIFY(inner.data(Qt::ToolTipRole).toString().contains(QLatin1String("inside GND00001.JPG")));
        // The item's own text says so, under a thumbnail or beside an icon.
        QCOMPARE(itemText(inner, false), QStringLiteral("GND00002.JPG") + QChar(QChar::LineSeparator) + QStringLiteral("inside GND00001.JPG"));
        QCOMPARE(itemText(first, true), QStringLiteral("GND00001.JPG   \u2014 saved"));
        QCOMPARE(itemText(f.c->imageModel()->index(2), false), QStringLiteral("GND00003.JPG"));

        // A double-click opens a saved item; a part of a saved file opens that file.
        f.c->openItem(first);
        QCOMPARE(f.dialogs.opened.last().toLocalFile(), out + QStringLiteral("/JPG/GND00001.JPG"));
        f.c->openItem(inner);
        QCOMPARE(f.dialogs.opened.last().toLocalFile(), out + QStringLiteral("/JPG/GND00001.JPG"));
        // The context menu: Show in Folder, and Save Selected… for a scan without a folder.
        std::unique_ptr<QMenu> menu(f.c->itemMenu(f.c->imageBrowser, f.c->imageModel()->index(2)));
        QStringList texts;
        for (QAction *a : menu->actions())
            texts << a->text();
        QCOMPARE(texts, (QStringList{QStringLiteral("Show in Folder"), QStringLiteral("Save Selected\u2026")}));
        menu->actions().first()->trigger();
        QCOMPARE(f.dialogs.opened.last().toLocalFile(), out + QStringLiteral("/JPG"));
        f.c->imageBrowser->selectionModel()->select(f.c->imageModel()->index(2), QItemSelectionModel::ClearAndSelect);
        const QString only = f.dir.path() + QStringLiteral("/only");
        f.dialogs.folderAnswers.enqueue(only);
        menu->actions().last()->trigger();
        QVERIFY(QTest::qWaitFor([&] { return !f.c->savingAfterScan(); }, 10000));
        QCOMPARE(QDir(only + QStringLiteral("/JPG")).entryList(QDir::Files), QStringList{QStringLiteral("GND00003.JPG")});
        // Open Output Folder opens where the last saving went.
        f.c->Open_Folder_btn();
        QCOMPARE(f.dialogs.opened.last().toLocalFile(), only);
        // Nothing can open it: said, not silent.
        f.dialogs.openSucceeds = false;
        const qsizetype alerts = f.dialogs.alerts.size();
        f.c->Open_Folder_btn();
        QCOMPARE(f.dialogs.alerts.size(), alerts + 1);
        QCOMPARE(f.dialogs.alerts.last().message, QStringLiteral("\nThe folder could not be opened."));

        // Back, and the result line goes with the photos.
        QTest::mouseClick(f.c->back_btn, Qt::LeftButton);
        QVERIFY(!row->isVisible());
    }

    // "Save found files…" of the end-of-scan window saves beside the window, with its progress
    // and Cancel on the result line; what was saved before Cancel stays whole, the partial file
    // goes.
    void savingAfterTheScanCanBeCancelled()
    {
        GuiFixture f;
        CardImage img(7000, true);
        const QByteArray zip = storedZip({{"notes.txt", QByteArray(3000, 'n')}});
        img.put(10, zip);
        img.putHex(4000, "255044462D312E34");  // a PDF without an end: 3000 sectors carved
        auto medium = faultyMedium(img.data);
        std::atomic<bool> held{false}, release{false};
        // Saving reads the medium again (the scan's open is the first): the PDF is held there.
        medium->onRead = [&held, &release](int open, quint64 sector) {
            if (open >= 2 && sector >= 4000) {
                held = true;
                holdUntil([&] { return release.load(); });
            }
        };
        f.c->deviceOpener = faultyOpener(medium);
        f.toOptions(f.image(img), 2);
        const QString out = f.dir.path() + QStringLiteral("/later");
        f.dialogs.modalAnswers.enqueue(2);  // the end-of-scan window's "Save found files…"
        f.dialogs.folderAnswers.enqueue(out);
        f.startWithoutFolder();
        QVERIFY(f.waitEnd());
        QVERIFY(f.c->saveFoundButtonRaw->isVisibleTo(f.c->SaveFile_Info_For_RAW_Window));
        QVERIFY(QTest::qWaitFor([&] { return held.load(); }, 10000));
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
        QVERIFY(f.c->sig.save_progress->isVisible());
        QVERIFY(f.c->sig.cancel_save->isVisible());
        QVERIFY(!f.c->back_btn->isEnabled());
        QTest::mouseClick(f.c->sig.cancel_save, Qt::LeftButton);
        release = true;
        QVERIFY(QTest::qWaitFor([&] { return !f.c->savingAfterScan(); }, 10000));
        QCOMPARE(f.dialogs.alerts.last().message, QStringLiteral("\nSaving finished."));
        QVERIFY2(f.dialogs.alerts.last().informative.contains(QLatin1String("saving was cancelled")),
                 qPrintable(f.dialogs.alerts.last().informative));
        QCOMPARE(f.dialogs.alerts.last().kind, AlertKind::Warning);
        QCOMPARE(readAll(out + QStringLiteral("/ZIP/ZIP00001.ZIP")), zip);
        QVERIFY(QDir(out + QStringLiteral("/PDF")).entryList(QDir::Files | QDir::Hidden).isEmpty());
        QVERIFY(!f.c->sig.save_progress->isVisible());
        QVERIFY(f.c->back_btn->isEnabled());
    }

    // The preview copies the file's own length, shows a movie, an icon or a picture, copies an
    // item once however the items move, starts empty with a new scan, and says why a medium
    // cannot be read.
    void previewCopiesTheFileAndFollowsTheItem()
    {
        GuiFixture f;
        CardImage img(400, true);
        const QByteArray mp4 = clip(), zip = storedZip({{"a.txt", "hello"}});
        img.put(20, mp4);
        img.put(300, zip);
        img.put(350, picture("PNG", 300, 150));
        const QString card = f.image(img);
        f.toOptions(card, 2);
        f.startWithoutFolder();
        QVERIFY(f.waitEnd());
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
        QVERIFY(!f.c->previewControls->isVisible());
        // A movie gets play / pause and the player's position.
        QVERIFY(f.c->movieControls->isVisible());
        QVERIFY(f.c->mMovieView->isVisible());
        QTest::mouseClick(f.c->movie_play, Qt::LeftButton);
        QVERIFY(QTest::qWaitFor([&] { return !f.c->isPlaying(); }, 10000));
        QCOMPARE(f.c->movie_play->text(), QStringLiteral("Play"));
        QTest::mouseClick(f.c->movie_play, Qt::LeftButton);
        QVERIFY(QTest::qWaitFor([&] { return f.c->isPlaying(); }, 10000));
        QVERIFY(QTest::qWaitFor([&] { return f.c->movie_position->maximum() > 0; }, 10000));

        preview(0);
        QCOMPARE(f.c->previewState(), QStringLiteral("icon"));
        QVERIFY(!f.c->movieControls->isVisible());
        QVERIFY(!f.c->mMovieView->isVisible());
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

        // Fault: a new scan began with the last frame of the previous clip in the pane.
        f.c->previewItem(2);
        QVERIFY(QTest::qWaitFor([&] { return f.c->previewState() == QLatin1String("movie"); }, 10000));
        QTest::mouseClick(f.c->back_btn, Qt::LeftButton);
        QTest::mouseClick(f.c->next_btn, Qt::LeftButton);  // scan again
        QVERIFY(f.c->previewState().isEmpty());
        QVERIFY(!f.c->isPlaying());
        QVERIFY(!f.c->mMovieView->isVisible());
        QVERIFY(f.c->QuickLook_View->pixmap().isNull());
        QCOMPARE(f.c->QuickLook_View_Box->title(), QStringLiteral("No file is selected to preview"));
        QVERIFY(f.waitEnd(2));

        // A medium that cannot be opened: the item's icon and the reason, not the old file.
        QFile::remove(card);
        f.c->previewItem(0);
        QVERIFY(QTest::qWaitFor([&] { return !f.c->previewRunning(); }, 10000));
        QCoreApplication::processEvents();
        QCOMPARE(f.c->previewState(), QStringLiteral("icon"));
        QVERIFY(f.c->QuickLook_View_Box->title().contains(QLatin1String("No such file")));

        f.dialogs.alertAnswers.enqueue(1);
        QVERIFY(f.c->Exit_App());
        QVERIFY(QTest::qWaitFor([&] { return f.c->shutDown(); }, 10000));
        QVERIFY(QDir(f.c->previewDirectory()).entryList({QStringLiteral("dprv*")}, QDir::Files).isEmpty());
    }

    // The preview copy runs beside the window. The medium is slow to open for the preview (a
    // card reader waking up); meanwhile the scan ends by itself, or Stop is pressed. Either way
    // no modal window stands in the way, the end-of-scan window comes once, and the preview is
    // shown when its copy is done.
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
        // A 7Z whose signature header passes its check but points beyond the card: carved, ended
        // by the PDF header; found in the first block read.
        img.putHex(10, "377ABCAF271C000412177A9D0000000000010000640000000000000000000000");
        img.putHex(3000, "255044462D");
        const QString card = f.image(img);
        auto medium = faultyMedium(img.data);
        std::atomic<bool> opening{false}, openReleased{false}, scanReleased{false};
        // The scan holds beyond sector 16384 (it reads blocks of a few MiB) until the test lets it
        // go (or Stop is pressed).
        MyTableController *c = f.c.get();
        medium->onRead = [c, &scanReleased](int open, quint64 sector) {
            if (open == 1 && sector >= 16384)
                holdUntil([&] { return scanReleased || c->stop_now.load() == 1; });
        };
        // Every open after the scan's (the preview's) waits until the test lets it go.
        f.c->deviceOpener = [medium, &opening, &openReleased](const QString &) {
            if (medium->opens.load() >= 1) {
                opening = true;
                holdUntil([&] { return openReleased.load(); });
            }
            return openFaulty(medium);
        };
        f.toOptions(card, 2);
        f.startWithoutFolder();
        QVERIFY(QTest::qWaitFor([&] { return !f.c->images.isEmpty(); }, 10000));
        f.c->imageBrowser_2->selectionModel()->select(f.c->imageModel()->index(0), QItemSelectionModel::ClearAndSelect);
        QVERIFY(QTest::qWaitFor([&] { return opening.load(); }, 10000));
        // The copy is a job in the pane: nothing modal, the progress and Cancel are there.
        QVERIFY(f.c->previewRunning());
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
        QVERIFY(f.c->previewControls->isVisible());
        QVERIFY(f.c->cancel_preview->isEnabled());
        QVERIFY(f.c->scanRunning());
        QVERIFY(f.c->exit_btn->isEnabled());
        if (pressStop)
            QTest::mouseClick(f.c->stop_scan, Qt::LeftButton);  // a click, as a person gives it
        else
            scanReleased = true;
        QVERIFY(f.waitEnd());
        QVERIFY(f.c->previewRunning());  // the copy goes on after the scan
        QCOMPARE(f.c->saveInfoRawText->text().contains(QLatin1String("before the search was stopped")), pressStop);
        openReleased = true;
        QVERIFY(QTest::qWaitFor([&] { return !f.c->previewRunning(); }, 10000));
        QCoreApplication::processEvents();
        QCOMPARE(f.dialogs.modalWindows.filter(QStringLiteral("SaveFile_Info")).size(), 1);
        QCOMPARE(f.c->previewState(), QStringLiteral("icon"));
        QCOMPARE(QFileInfo(f.c->Preview_Temp_File).size(), 2990 * 512);  // the 7Z up to the PDF
        QVERIFY(!f.c->previewControls->isVisible());
        QCOMPARE(f.c->stop_now.load(), 0);
    }

    void previewCopyIsAJobBesideTheWindow()
    {
        GuiFixture f;
        CardImage img(4000, true);
        const QString card = f.image(img);
        auto medium = faultyMedium(img.data);
        std::atomic<bool> hold{true}, reading{false};
        medium->onRead = [&hold, &reading](int, quint64) {
            reading = true;
            holdUntil([&] { return !hold; });
        };
        f.c->deviceOpener = faultyOpener(medium);
        f.toOptions(card, 2);
        MyImageObject a, b;
        lumafind::addImageWithData_2(QStringLiteral("XYZ00001.XYZ"), QStringLiteral("x"), 10, 3900, &a);
        lumafind::addImageWithData_2(QStringLiteral("ABC00001.ABC"), QStringLiteral("y"), 3900, 4000, &b);
        f.c->addImageWithData_2(std::move(a));
        f.c->addImageWithData_2(std::move(b));
        const uint64_t copies = f.c->previewCopies();

        // Cancel in the pane stops the copy and shows what is copied.
        f.c->previewItem(0);
        QVERIFY(QTest::qWaitFor([&] { return reading.load(); }, 10000));  // the copy is under way
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
        QVERIFY(!f.c->previewControls->isHidden());
        f.c->cancel_preview->click();
        hold = false;
        QVERIFY(QTest::qWaitFor([&] { return !f.c->previewRunning(); }, 10000));
        QCOMPARE(QFileInfo(f.c->Preview_Temp_File).size(), 512);  // what was copied, shown at once
        QCOMPARE(f.c->previewState(), QStringLiteral("icon"));
        QVERIFY(f.c->previewControls->isHidden());

        // Choosing another item while one is copied: that copy stops, unseen, and the new one runs.
        hold = true;
        reading = false;
        f.c->previewItem(1);
        QVERIFY(QTest::qWaitFor([&] { return reading.load(); }, 10000));
        f.c->imageBrowser_2->selectionModel()->select(f.c->imageModel()->index(0), QItemSelectionModel::ClearAndSelect);
        QCOMPARE(f.c->QuickLook_View_Box->title(), QStringLiteral("XYZ00001.XYZ"));
        hold = false;
        QVERIFY(QTest::qWaitFor([&] { return !f.c->previewRunning(); }, 10000));
        QCOMPARE(f.c->previewCopies(), copies + 3);
        QVERIFY(f.c->Preview_Temp_File.endsWith(QLatin1String("/dprv.XYZ")));
        QCOMPARE(QFileInfo(f.c->Preview_Temp_File).size(), 3890 * 512);
        QVERIFY(!QFile::exists(f.c->previewDirectory() + QStringLiteral("/dprv.ABC")));
        QCOMPARE(f.c->QuickLook_View_Box->title(), QStringLiteral("XYZ00001.XYZ"));
    }

    // Exit asks first; No (also to closing the window) keeps the window; Yes during a scan ends
    // the scan and the program without the end-of-scan window.
    void exitQuestion()
    {
        GuiFixture f;
        f.dialogs.alertAnswers.enqueue(0);  // No
        QVERIFY(!f.c->Exit_App());
        QCOMPARE(f.dialogs.alerts.last().message, QStringLiteral("\nDo you really want to exit from 'Lumafind'?"));
        QCOMPARE(f.dialogs.alerts.last().buttons, (QStringList{"Yes", "No"}));
        QVERIFY(f.window->isVisible());
        f.dialogs.alertAnswers.enqueue(0);
        f.window->close();
        QVERIFY(f.window->isVisible());
        QCOMPARE(f.dialogs.alerts.size(), 2);

        f.toOptions(f.image(QStringLiteral("big.img"), qint64(16) << 21));  // 16 GiB, sparse
        f.startWithoutFolder();
        QVERIFY(f.c->scanRunning());
        QVERIFY(QTest::qWaitFor([&] { return f.c->for_index.load() > 1000; }, 10000));
        f.dialogs.alertAnswers.enqueue(1);  // Yes
        QVERIFY(f.c->Exit_App());
        QVERIFY(QTest::qWaitFor([&] { return f.c->shutDown(); }, 10000));
        QVERIFY(!f.c->scanRunning());
        QVERIFY(f.dialogs.modalWindows.filter(QStringLiteral("SaveFile_Info")).isEmpty());
    }
};

QTEST_MAIN(TestWizardWindows)
#include "test_wizard_windows.moc"
