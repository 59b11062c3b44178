// The output folder, the information windows, saving after a scan, and exit.
#include "app/MyTableController.h"

#include "app/dialogs.h"
#include "app/imagemodel.h"
#include "catalogue/checklist.h"
#include "common/hex.h"
#include "media/samemedium.h"
#include "results/saver.h"

#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QMainWindow>
#include <QProgressDialog>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>
#include <atomic>
#include <numeric>

namespace lumafind {

bool MyTableController::folderIsOnMedium(const QString &folder)
{
    QString why;
    if (selectedDevicePath_.isEmpty() || !onMedium(folder, MediumIdentity::ofPath(selectedDevicePath_), &why))
        return false;
    alert(QStringLiteral("\nThis folder is on the medium being searched."), why);
    return true;
}

bool MyTableController::chooseOutputFolder(const QString &folder)
{
    if (folder.isEmpty() || folderIsOnMedium(folder))
        return false;
    photo.path->setText(folder);
    sig.path->setText(folder);
    return true;
}

bool MyTableController::Browse_Path()
{
    dialogs_->runModal(BrowseInfo_Window);
    BrowseInfo_Window->hide();
    return chooseOutputFolder(dialogs_->chooseFolder(window, QStringLiteral("Choose the output folder")));
}

QString MyTableController::outputFolder() const
{
    return scanFolder_;
}

void MyTableController::Open_Folder_btn()
{
    if (scanFolder_.isEmpty()) {
        alert(QStringLiteral("\nNo output folder was chosen for this search."),
              QStringLiteral("The found files are listed here only. Use \u201cSave found files\u2026\u201d at the end of a search "
                             "to save them."));
        return;
    }
    dialogs_->openUrl(QUrl::fromLocalFile(scanFolder_));
}

void MyTableController::Help_btn()
{
    dialogs_->runModal(HelpWindow);
    HelpWindow->hide();
}

void MyTableController::HelpFilePressed()
{
    const QString path = resourceDir_ + QStringLiteral("/Help.pdf");
    if (QFile::exists(path))
        dialogs_->openUrl(QUrl::fromLocalFile(path));
    else
        alert(QStringLiteral("\nHelp file does not exist!"));
}

void MyTableController::About_btn()
{
    controlPanel->raise();
    controlPanel->activateWindow();
    dialogs_->runModal(AboutWindow);
    AboutWindow->hide();
}

void MyTableController::Exit_Btn()
{
    if (Exit_App())
        QCoreApplication::quit();
}

bool MyTableController::Exit_App()
{
    if (dialogs_->alert(window, QStringLiteral("\nDo you really want to exit from 'Lumafind'?"), QString(),
                        {QStringLiteral("Yes"), QStringLiteral("No")}) != 1)
        return false;
    // Stop the worker and whatever it waits for, let it close its streams, then go.
    quitting_ = true;
    stop_now = 1;
    if (saver_)
        saver_->cancel();
    waitForWorker();
    while (previewThread_.joinable()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (!previewRunning())
            break;
    }
    closemovie_Win();
    deletePreviewFiles();
    return true;
}

bool MyTableController::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == window && event->type() == QEvent::Close) {
        if (quitting_ || Exit_App()) {
            QCoreApplication::quit();
            return false;
        }
        event->ignore();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

QString MyTableController::previewDirectory() const
{
    // Made (through handles) when the first preview is written.
    return QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
}

void MyTableController::deletePreviewFiles()
{
    if (!Preview_Temp_File.isEmpty())
        QFile::remove(Preview_Temp_File);
    QDir dir(previewDirectory());
    for (const QString &name : dir.entryList({QStringLiteral("dprv"), QStringLiteral("dprv.*")}, QDir::Files | QDir::Hidden))
        if (QFileInfo(name).completeBaseName() == QLatin1String("dprv") || name == QLatin1String("dprv"))
            dir.remove(name);
}

void MyTableController::saveFoundFiles()
{
    const QString folder = dialogs_->chooseFolder(window, QStringLiteral("Save found files in"));
    if (!folder.isEmpty())
        saveFoundFilesTo(folder);
}

bool MyTableController::saveFoundFilesTo(const QString &folder)
{
    if (folderIsOnMedium(folder) || images.isEmpty())
        return false;
    FileSaver saver(folder, selectedMedium());
    QString why;
    if (!saver.prepare(&why)) {
        alert(QStringLiteral("\nThe output folder cannot be used."), why);
        return false;
    }
    // In the order the scan found them (General pass first), whatever order the browser shows,
    // so that which file holds which is decided as it was during the scan.
    QList<ExportItem> items = exportItems();
    QList<uint64_t> ends;
    for (const MyImageObject &i : images)
        ends.append(i.File_End_Sector);
    QList<int> order(items.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        const bool ta = items[a].pass == QLatin1String("THD"), tb = items[b].pass == QLatin1String("THD");
        return ta != tb ? tb : items[a].startSector < items[b].startSector;
    });
    const int total = int(items.size());
    QProgressDialog progress(QStringLiteral("Saving found files\u2026"), QStringLiteral("Cancel"), 0, total, window);
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(300);
    QEventLoop loop;
    saver.onSaved = [this](const SaveRecord &rec) {
        QMetaObject::invokeMethod(this, [this, rec] {
            imageModel_->setExtent(rec.name, rec.startSector, rec.extent, rec.bytes, rec.savedPath, rec.captured);
        }, Qt::QueuedConnection);
    };
    QObject::connect(&progress, &QProgressDialog::canceled, &loop, [&] {
        saver.cancel(QStringLiteral("saving was cancelled"));
        loop.quit();
    });
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        const uint64_t left = saver.pendingCount();
        progress.setValue(total - int(std::min<uint64_t>(left, uint64_t(total))));
        if (left == 0)
            loop.quit();
    });
    for (int i : order)
        saver.add(items[i], ends[i]);
    tick.start(100);
    if (saver.pendingCount() > 0)
        loop.exec();
    saver.finish();
    progress.setValue(total);
    scanFolder_ = saver.folder();
    QString text = QStringLiteral("%1 of %2 files were saved in %3.").arg(saver.savedCount()).arg(total).arg(QDir::toNativeSeparators(scanFolder_));
    if (saver.failedCount() > 0)
        text += QStringLiteral(" %1 could not be saved: %2").arg(saver.failedCount()).arg(saver.stopReason().isEmpty() ? QStringLiteral("saving was cancelled") : saver.stopReason());
    dialogs_->alert(window, QStringLiteral("\nSaving finished."), text, {QStringLiteral("OK")});
    return saver.failedCount() == 0;
}

} // namespace lumafind
