// The preview of a video or raw-file item: its bytes are copied from the medium into a preview
// file off the GUI thread, up to the end its own format declares, while the wait window shows;
// then it plays as a movie, or shows as a picture, or as its type icon.
#include "app/MyTableController.h"

#include "app/browserview.h"
#include "app/dialogs.h"
#include "app/guiobserver.h"
#include "app/imagemodel.h"
#include "catalogue/checklist.h"
#include "common/hex.h"
#include "results/export.h"
#include "results/outputfolder.h"
#include "results/saver.h"

#include <QDialog>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QImageReader>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMediaPlayer>
#include <QUrl>
#include <QVideoWidget>
#include <QFileInfo>
#include <cstring>
#include <new>
#include <unistd.h>

namespace lumafind {

namespace {
// Does the file begin like a movie container? A picture renamed .mov would otherwise "play".
bool looksLikeMovie(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QByteArray h = f.read(200);
    if (h.size() < 12)
        return false;
    // Transport streams: a sync byte every 188 bytes, or every 192 after a time stamp.
    const bool ts = h.size() >= 189 && h.at(0) == 0x47 && h.at(188) == 0x47;
    const bool m2ts = h.size() >= 197 && h.at(4) == 0x47 && h.at(196) == 0x47;
    static const QByteArray asf = QByteArray::fromHex("3026B2758E66CF11");
    return h.mid(4, 4) == "ftyp" || h.mid(4, 4) == "moov" || h.mid(4, 4) == "mdat" || h.mid(4, 4) == "wide"
           || (h.startsWith("RIFF") && h.mid(8, 4) == "AVI ") || h.startsWith(QByteArray::fromHex("1A45DFA3"))
           || h.startsWith(asf) || h.startsWith(QByteArray::fromHex("000001BA")) || h.startsWith("FLV")
           || ts || m2ts;
}
} // namespace

void MyTableController::imageBrowserSelectionDidChange()
{
    const QModelIndexList rows = imageBrowser_2->selectionModel()->selectedIndexes();
    if (rows.isEmpty())
        return;
    int first = rows.first().row();
    for (const QModelIndex &i : rows)
        first = std::min(first, i.row());
    previewItem(first);
}

bool MyTableController::isPlaying() const
{
    return player_ && player_->playbackState() == QMediaPlayer::PlayingState;
}

void MyTableController::stopPlayingMovie()
{
    if (isPlaying())
        player_->stop();
}

void MyTableController::closemovie_Win()
{
    stopPlayingMovie();
    if (player_)
        player_->setSource(QUrl());
}

void MyTableController::previewItem(int row)
{
    if (row < 0 || row >= images.size() || previewRunning())
        return;
    const MyImageObject item = images.at(row);
    // The item already previewed is not copied again, wherever it has moved to.
    if (item.image_UID == previewedUid_)
        return;
    Prev_Index = uint32_t(row);
    previewedUid_ = item.image_UID;
    QuickLook_View->clear();
    closemovie_Win();
    QuickLook_View_Box->setTitle(QFileInfo(item.path).fileName());
    beginPreview();
    previewShowing_ = true;
    previewCancelled_ = false;
    ClearPreview_Window->setWindowModality(Qt::ApplicationModal);
    ClearPreview_Window->show();

    const MediumRef medium = selectedMedium();
    ExportItem exportItem;
    for (const ExportItem &e : exportItems())
        if (e.startSector == item.File_Start_Sector && e.name == item.image_Name)
            exportItem = e;
    const QString ext = safeComponent(extensionOf(item.path));
    const QString folder = previewDirectory();
    const QString target = folder + QStringLiteral("/dprv.") + ext;
    const QString previous = Preview_Temp_File;
    ++previewCopies_;
    previewThread_ = std::thread([this, item, exportItem, medium, ext, folder, target, previous] {
        QString problem, written;
        try {
            SectorReader reader(medium.opener);
            reader.setBadSectors(medium.bad);
            QString why;
            Fd dir;
            if (!reader.open(medium.path)) {
                problem = reader.failureReason();
            } else if (!(dir = openFolder(folder, &why)).valid()) {
                problem = why;
            } else {
                if (!previous.isEmpty() && QFileInfo(previous).absolutePath() == folder)
                    ::unlinkat(dir.get(), QFile::encodeName(QFileInfo(previous).fileName()).constData(), 0);
                const Fd out = createAfresh(dir.get(), QStringLiteral("dprv.") + ext, &why);
                if (!out.valid()) {
                    problem = QStringLiteral("%1: %2").arg(target, why);
                } else {
                    written = target;
                    // The file as it is saved: its own end when its format declares one (a camera
                    // clip whose index sits at its end plays), read once and written as it is read.
                    FoundFileSource src(&reader, item.File_Start_Sector,
                                        medium.bytes != UINT64_MAX ? medium.bytes : reader.mediumBytes());
                    src.setFile(out.get(), 0);
                    // The scan ends or stops, or the user wants to see it now.
                    src.setCancel([this] { return stop_now.load() == 1 || previewCancelled_.load(); });
                    const Extent e = measure(exportItem, src);
                    QMetaObject::invokeMethod(this, [this, item, e] {
                        imageModel_->setExtent(item.image_Name, item.File_Start_Sector,
                                               e.declared ? QStringLiteral("declared") : QStringLiteral("carved"), e.bytes);
                    }, Qt::QueuedConnection);
                    QString error;
                    // Whatever could be copied is shown; a reason only when there is nothing.
                    if (!src.cancelled() && !fillFile(src, e.bytes, &error) && !src.cancelled() && src.fileBytes() == 0)
                        problem = error;
                    if (src.fileBytes() > e.bytes && ::ftruncate(out.get(), off_t(e.bytes)) != 0)
                        problem = errnoText(errno);
                }
            }
        } catch (const std::bad_alloc &) {
            problem = QStringLiteral("there is not enough memory to copy it");
        }
        // Copy, then show, then end the wait window, then hand off the end of the scan.
        onGuiThread(this, [this, written, item, problem] { finishPreview(written, item.image_Name, problem); }, true);
        if (endPreview())
            Final_or_Stop_Screen();
        QMetaObject::invokeMethod(this, [this] {
            if (previewThread_.joinable())
                previewThread_.join();
        }, Qt::QueuedConnection);
    });
}

void MyTableController::finishPreview(const QString &path, const QString &name, const QString &problem)
{
    if (!path.isEmpty())
        Preview_Temp_File = path;
    if (!problem.isEmpty()) {
        // The medium could not be read: the type icon and the reason, never the previous file.
        Image_Preview(QString());
        QuickLook_View_Box->setTitle(QFileInfo(name).fileName() + QStringLiteral(" \u2014 ") + problem);
    } else {
        setQuickLook_View(path, name);
    }
    ClearPreview_Window->hide();
    previewShowing_ = false;
}

void MyTableController::setQuickLook_View(const QString &path, const QString &name)
{
    if (name.isEmpty())
        return;
    if (QFile::exists(path) && looksLikeMovie(path)) {
        if (!player_) {
            player_ = new QMediaPlayer(this);
            player_->setVideoOutput(mMovieView);
        }
        QuickLook_View->hide();
        mMovieView->show();
        player_->setSource(QUrl::fromLocalFile(path));
        player_->play();
        previewState_ = QStringLiteral("movie");
        return;
    }
    QuickLook_View->show();
    mMovieView->hide();
    Image_Preview(path.isEmpty() ? QString() : path);
    if (previewState_ == QLatin1String("icon"))
        QuickLook_View->setPixmap(typeIcon(extensionOf(name)).pixmap(200, 200));
}

void MyTableController::Image_Preview(const QString &path)
{
    QuickLook_View->show();
    mMovieView->hide();
    if (!path.isEmpty()) {
        QImageReader reader(path);
        reader.setAutoTransform(true);
        reader.setAllocationLimit(256);
        const QSize full = reader.size();
        if (full.isValid())
            reader.setScaledSize(full.scaled(200, 200, Qt::KeepAspectRatio));
        const QImage img = reader.read();
        if (!img.isNull()) {
            QuickLook_View->setPixmap(QPixmap::fromImage(img));
            previewState_ = QStringLiteral("picture");
            return;
        }
    }
    QuickLook_View->setPixmap(typeIcon(extensionOf(QuickLook_View_Box->title().section(QLatin1Char(' '), 0, 0))).pixmap(200, 200));
    previewState_ = QStringLiteral("icon");
}

} // namespace lumafind
