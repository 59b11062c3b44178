// The output folder, the information windows, saving after a scan, and exit.
#include "app/MyTableController.h"

#include "app/browserview.h"
#include "app/dialogs.h"
#include "app/imagemodel.h"
#include "app/medialister.h"
#include "catalogue/checklist.h"
#include "common/hex.h"
#include "media/samemedium.h"
#include "results/saver.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDialog>
#include <QLabel>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QItemSelectionModel>
#include <QFile>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
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
              QStringLiteral("The found files are listed here only. Use \u201cSave found files\u2026\u201d beside this button "
                             "to save them."));
        return;
    }
    openUrlOrSay(QUrl::fromLocalFile(scanFolder_), QStringLiteral("folder"));
}

// Opens with the desktop's program, or says that nothing could and where the thing is.
bool MyTableController::openUrlOrSay(const QUrl &url, const QString &what)
{
    if (dialogs_->openUrl(url))
        return true;
    alert(QStringLiteral("\nThe %1 could not be opened.").arg(what),
          QStringLiteral("No program on this computer opened it. It is %1").arg(breakablePath(url.toLocalFile())));
    return false;
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
        openUrlOrSay(QUrl::fromLocalFile(path), QStringLiteral("guide"));
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
    if (!Exit_App())
        return;
    quitWhenDown_ = true;
    if (shutDown_)
        QCoreApplication::quit();
}

bool MyTableController::Exit_App()
{
    if (quitting_)
        return true;
    if (dialogs_->alert(window, QStringLiteral("\nDo you really want to exit from 'Lumafind'?"), QString(),
                        {QStringLiteral("Yes"), QStringLiteral("No")}) != 1)
        return false;
    // Every worker is told to stop; each says when it has, and the last one ends the program.
    quitting_ = true;
    stop_now = 1;
    if (saver_)
        saver_->requestCancel();
    if (saveJob_)
        cancelSaving();
    if (previewJob_)
        cancelPreviewJob(true);
    if (controlPanel)
        controlPanel->setEnabled(false);
    if (help_info)
        help_info->setText(QStringLiteral("\nLumafind is closing as soon as the search, the copy for the preview and saving have stopped."));
    finishShutDown();
    return true;
}

void MyTableController::finishShutDown()
{
    if (!quitting_ || shutDown_ || session_.started() || previewJob_ || saveJob_ || mediaLister_->busy())
        return;
    shutDown_ = true;
    closemovie_Win();
    deletePreviewFiles();
    // Asked from Exit or by closing the window: the program ends now that nothing runs.
    if (quitWhenDown_)
        QCoreApplication::quit();
}

bool MyTableController::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == window && event->type() == QEvent::Close) {
        if (shutDown_)
            return false;
        if (quitting_ || Exit_App()) {
            quitWhenDown_ = true;
            if (shutDown_)
                QCoreApplication::quit();
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

// ---- Saving after the scan ----

bool MyTableController::savingAfterScan() const
{
    return saveJob_ != nullptr;
}

void MyTableController::saveFoundFiles()
{
    if (saveJob_ || images.isEmpty())
        return;
    const QString folder = dialogs_->chooseFolder(window, QStringLiteral("Save found files in"));
    if (!folder.isEmpty())
        saveFoundFilesTo(folder);
}

void MyTableController::saveSelectedFiles()
{
    BrowserView *view = Recovery_MODE == 0 ? imageBrowser : imageBrowser_2;
    QList<int> rows;
    for (const QModelIndex &i : view->selectionModel()->selectedIndexes())
        rows << i.row();
    if (saveJob_ || rows.isEmpty())
        return;
    const QString folder = dialogs_->chooseFolder(window, QStringLiteral("Save the selected files in"));
    if (!folder.isEmpty())
        saveFoundFilesTo(folder, rows);
}

bool MyTableController::saveFoundFilesTo(const QString &folder, const QList<int> &rows)
{
    if (saveJob_ || folderIsOnMedium(folder) || images.isEmpty())
        return false;
    auto saver = std::make_unique<FileSaver>(folder, selectedMedium());
    saver->setRemnants(remnants_, currentSet().original_names_Chk->isChecked());
    QString why;
    if (!saver->prepare(&why)) {
        alert(QStringLiteral("\nThe output folder cannot be used."), why);
        return false;
    }
    auto job = std::make_unique<SaveJob>();
    // Cut at the next found file of the whole scan, whichever items are saved.
    const QList<ExportItem> all = exportItems();
    QList<int> chosen = rows;
    if (chosen.isEmpty()) {
        chosen.resize(all.size());
        std::iota(chosen.begin(), chosen.end(), 0);
    }
    std::sort(chosen.begin(), chosen.end());
    chosen.erase(std::unique(chosen.begin(), chosen.end()), chosen.end());
    for (int i : chosen) {
        if (i < 0 || i >= all.size())
            continue;
        job->items.append(all.at(i));
        job->ends.append(images.at(i).File_End_Sector);
    }
    // In the order the scan found them (General pass first), whatever order the browser shows,
    // so that which file holds which is decided as it was during the scan.
    job->order.resize(job->items.size());
    std::iota(job->order.begin(), job->order.end(), 0);
    const QList<ExportItem> &items = job->items;
    std::stable_sort(job->order.begin(), job->order.end(), [&](int a, int b) {
        const bool ta = items[a].pass == QLatin1String("THD"), tb = items[b].pass == QLatin1String("THD");
        return ta != tb ? tb : items[a].startSector < items[b].startSector;
    });
    saver->onSaved = [this](const SaveRecord &rec) {
        QMetaObject::invokeMethod(this, [this, rec] {
            showSaved(rec);
            if (saveJob_)
                saveTick();
        }, Qt::QueuedConnection);
    };
    laterSaver_ = std::move(saver);
    saveJob_ = std::move(job);
    OptionsControls &s = currentSet();
    s.save_progress->setRange(0, int(saveJob_->items.size()));
    s.save_progress->setValue(0);
    s.save_progress->setFormat(QStringLiteral("Saving %v of %m"));
    if (!saveTimer_) {
        saveTimer_ = new QTimer(this);
        saveTimer_->setInterval(100);
        connect(saveTimer_, &QTimer::timeout, this, &MyTableController::saveTick);
    }
    saveTimer_->start();
    updateResults();
    saveTick();
    return true;
}

void MyTableController::saveTick()
{
    if (!saveJob_ || !laterSaver_)
        return;
    SaveJob &job = *saveJob_;
    // The saver's queue holds 64: staying below it, adding never blocks this thread.
    while (!job.cancelled && job.next < job.order.size() && laterSaver_->pendingCount() < 48) {
        const int i = job.order.at(job.next++);
        laterSaver_->add(job.items.at(i), job.ends.at(i));
    }
    const uint64_t pending = laterSaver_->pendingCount();
    const int total = int(job.items.size());
    const int done = std::clamp(job.next - int(pending), 0, total);
    currentSet().save_progress->setValue(job.cancelled ? total : done);
    if (pending == 0 && (job.cancelled || job.next >= job.order.size()))
        savingEnded();
}

void MyTableController::cancelSaving()
{
    if (!saveJob_ || !laterSaver_)
        return;
    saveJob_->cancelled = true;
    // The file being written is abandoned at its next block; the tick sees saving end.
    laterSaver_->requestCancel(QStringLiteral("saving was cancelled"));
    saveTick();
}

void MyTableController::savingEnded()
{
    if (saveTimer_)
        saveTimer_->stop();
    const std::unique_ptr<SaveJob> job = std::move(saveJob_);
    FileSaver &saver = *laterSaver_;
    saver.finish();
    scanFolder_ = saver.folder();
    updateResults();
    if (quitting_) {
        finishShutDown();
        return;
    }
    const int total = int(job->items.size());
    QString text = QStringLiteral("%1 of %2 files were saved in\n%3.").arg(saver.savedCount()).arg(total).arg(breakablePath(scanFolder_));
    const QList<SaveRecord> records = saver.records();
    const auto contained = std::count_if(records.begin(), records.end(), [](const SaveRecord &r) { return !r.containedIn.isEmpty(); });
    if (contained > 0)
        text += QStringLiteral("\n%1 were parts of files already saved and were not saved again.").arg(contained);
    if (saver.failedCount() > 0)
        text += QStringLiteral("\n%1 could not be saved: %2").arg(saver.failedCount()).arg(saver.stopReason().isEmpty() ? QStringLiteral("saving was cancelled") : saver.stopReason());
    for (const QString &notice : saver.notices())
        text += QLatin1Char('\n') + notice;
    const bool ok = saver.failedCount() == 0;
    dialogs_->alert(window, QStringLiteral("\nSaving finished."), text, {QStringLiteral("OK")},
                    ok ? AlertKind::Information : AlertKind::Warning);
}

// ---- The result line ----

void MyTableController::showResults(bool visible)
{
    for (OptionsControls *s : {&photo, &sig})
        s->resultRow->setVisible(visible && s == &currentSet());
    if (visible)
        updateResults();
}

QString MyTableController::resultText() const
{
    const uint64_t found = uint64_t(images.size());
    QStringList parts;
    parts << (found == 1 ? QStringLiteral("Found 1 file") : QStringLiteral("Found %1 files").arg(found));
    const FileSaver *saver = laterSaver_ ? laterSaver_.get() : saver_.get();
    if (saver) {
        const QList<SaveRecord> records = saver->records();
        const auto contained = std::count_if(records.begin(), records.end(), [](const SaveRecord &r) { return !r.containedIn.isEmpty(); });
        parts << QStringLiteral("%1 saved in %2").arg(saver->savedCount()).arg(breakablePath(saver->folder()));
        if (contained > 0)
            parts << QStringLiteral("%1 inside other files").arg(contained);
        if (saver->failedCount() > 0)
            parts << QStringLiteral("%1 not saved").arg(saver->failedCount());
    } else if (found > 0) {
        parts << QStringLiteral("none saved yet");
    }
    const uint64_t unreadable = std::max(lastSummary_.unreadable, unreadableOfScan());
    parts << (unreadable == 1 ? QStringLiteral("1 unreadable sector") : QStringLiteral("%1 unreadable sectors").arg(unreadable));
    return parts.join(QStringLiteral(", ")) + QLatin1Char('.');
}

void MyTableController::updateResults()
{
    const bool saving = saveJob_ != nullptr;
    for (OptionsControls *s : {&photo, &sig}) {
        s->result_label->setText(resultText());
        // Saving after the scan is for a scan that had no folder (or to save again elsewhere).
        s->save_found->setVisible(!scanHadFolder_ && !images.isEmpty());
        s->save_found->setEnabled(!saving);
        s->open_folder->setEnabled(!saving);
        s->save_progress->setVisible(saving);
        s->cancel_save->setVisible(saving);
    }
    back_btn->setEnabled(scanEnded_ && !saving);
}

// ---- Found items: open, show in folder, save selected ----

// Where an item is on disk: its own saved file, or the saved file that holds it.
static QString savedFileOf(const QList<MyImageObject> &images, const ImageListModel *model, const QModelIndex &index)
{
    if (!index.isValid() || index.row() >= images.size())
        return QString();
    const MyImageObject &item = images.at(index.row());
    if (item.savedPath.isEmpty() && !item.containedIn.isEmpty())
        return model->savedPathOf(item.containedIn);
    return item.savedPath;
}

void MyTableController::openItem(const QModelIndex &index)
{
    const QString path = savedFileOf(images, imageModel_, index);
    if (!path.isEmpty())
        openUrlOrSay(QUrl::fromLocalFile(path), QStringLiteral("file"));
}

void MyTableController::showItemInFolder(const QModelIndex &index)
{
    const QString path = savedFileOf(images, imageModel_, index);
    if (!path.isEmpty())
        openUrlOrSay(QUrl::fromLocalFile(QFileInfo(path).absolutePath()), QStringLiteral("folder"));
}

QMenu *MyTableController::itemMenu(QWidget *view, const QModelIndex &at)
{
    if (!at.isValid())
        return nullptr;
    auto *menu = new QMenu(view);
    QAction *show = menu->addAction(QStringLiteral("Show in Folder"));
    const MyImageObject &item = images.at(at.row());
    show->setEnabled(!item.savedPath.isEmpty() || !imageModel_->savedPathOf(item.containedIn).isEmpty());
    const QPersistentModelIndex keep(at);
    connect(show, &QAction::triggered, this, [this, keep] { showItemInFolder(keep); });
    if (!scanHadFolder_ && scanEnded_) {
        QAction *save = menu->addAction(QStringLiteral("Save Selected\u2026"));
        save->setEnabled(!saveJob_);
        connect(save, &QAction::triggered, this, &MyTableController::saveSelectedFiles);
    }
    return menu;
}

} // namespace lumafind
