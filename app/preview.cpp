// The preview of a video or raw-file item: its bytes are copied from the medium into a preview
// file off the GUI thread, up to the end its own format declares, with the copy's progress and
// Cancel in the preview pane; then it plays as a movie, or shows as a picture, or as its type
// icon. The window stays usable meanwhile; choosing another item cancels the copy.
#include "app/MyTableController.h"

#include "app/browserview.h"
#include "app/dialogs.h"
#include "app/guiobserver.h"
#include "app/imagemodel.h"
#include "catalogue/checklist.h"
#include "common/hex.h"
#include "results/export.h"
#include "results/outputfolder.h"
#include "results/remnants.h"
#include "results/saver.h"

#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QImageReader>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMediaPlayer>
#include <QUrl>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <QVideoFrame>
#include <QVideoSink>
#include <QVideoWidget>
#include <QFileInfo>
#include <climits>
#include <utility>
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

void MyTableController::playPauseMovie()
{
    if (!player_)
        return;
    if (isPlaying())
        player_->pause();
    else
        player_->play();
}

void MyTableController::closemovie_Win()
{
    stopPlayingMovie();
    if (player_)
        player_->setSource(QUrl());
    // The widget would keep showing the last frame of the clip.
    if (mMovieView && mMovieView->videoSink())
        mMovieView->videoSink()->setVideoFrame(QVideoFrame());
}

void MyTableController::clearPreview()
{
    if (previewJob_)
        cancelPreviewJob(true);
    pendingPreviewUid_.clear();
    previewedUid_.clear();
    previewState_.clear();
    Prev_Index = 2147483647u;
    closemovie_Win();
    mMovieView->hide();
    movieControls->hide();
    previewControls->hide();
    QuickLook_View->clear();
    QuickLook_View->show();
    QuickLook_View_Box->setTitle(QStringLiteral("No file is selected to preview"));
}

void MyTableController::previewItem(int row)
{
    if (row < 0 || row >= images.size())
        return;
    const MyImageObject item = images.at(row);
    // The item already previewed (or being copied) is not copied again, wherever it has moved to.
    if (item.image_UID == previewedUid_)
        return;
    Prev_Index = uint32_t(row);
    previewedUid_ = item.image_UID;
    previewState_.clear();
    closemovie_Win();
    mMovieView->hide();
    movieControls->hide();
    QuickLook_View->clear();
    QuickLook_View->show();
    QuickLook_View_Box->setTitle(QFileInfo(item.path).fileName());
    preview_progress->setRange(0, 0);  // busy until the file's length is known
    previewControls->show();
    if (previewJob_) {
        // One copy at a time: this one follows as soon as the one in flight has stopped.
        cancelPreviewJob(true);
        pendingPreviewUid_ = item.image_UID;
        return;
    }
    startPreviewJob(item);
}

void MyTableController::cancelPreview()
{
    // Cancel in the pane: the copy stops and what it has copied is shown.
    if (previewJob_)
        cancelPreviewJob(false);
}

void MyTableController::cancelPreviewJob(bool dropResult)
{
    previewJob_->dropResult = previewJob_->dropResult || dropResult;
    previewJob_->cancel = true;
}

void MyTableController::startPreviewJob(const MyImageObject &item)
{
    const MediumRef medium = selectedMedium();
    ExportItem exportItem;
    for (const ExportItem &e : exportItems())
        if (e.startSector == item.File_Start_Sector && e.name == item.image_Name)
            exportItem = e;
    // Its length as saving gives it: the card's entry and the pieces it was put back from.
    joinRemembered(exportItem, remnants_.get());
    const QString ext = safeComponent(extensionOf(item.path));
    const QString folder = previewDirectory();
    const QString target = folder + QStringLiteral("/dprv.") + ext;
    const QString previous = Preview_Temp_File;
    ++previewCopies_;
    previewJob_ = std::make_unique<PreviewJob>();
    PreviewJob *job = previewJob_.get();
    job->uid = item.image_UID;
    job->name = item.image_Name;
    if (!previewTimer_) {
        previewTimer_ = new QTimer(this);
        previewTimer_->setInterval(100);
        connect(previewTimer_, &QTimer::timeout, this, &MyTableController::previewTick);
    }
    previewTimer_->start();
    job->thread = std::thread([this, job, item, exportItem, medium, ext, folder, target, previous] {
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
                    if (exportItem.pieces.size() > 1)
                        src.setPieces(exportItem.pieces);
                    src.setFile(out.get(), 0);
                    // Asked at every sector: the progress goes out, Cancel comes in.
                    src.setCancel([job, &src] {
                        job->copied.store(src.fileBytes(), std::memory_order_relaxed);
                        return job->cancel.load(std::memory_order_relaxed);
                    });
                    const Extent e = measure(exportItem, src);
                    job->total = e.bytes;
                    if (!src.cancelled())
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
                    job->copied = std::min(src.fileBytes(), e.bytes);
                }
            }
        } catch (const std::bad_alloc &) {
            problem = QStringLiteral("there is not enough memory to copy it");
        }
        // The thread's last step: the GUI joins it from there (no one waits on the GUI here).
        QMetaObject::invokeMethod(this, [this, written, problem] { previewJobEnded(written, problem); }, Qt::QueuedConnection);
    });
}

void MyTableController::previewTick()
{
    if (!previewJob_)
        return;
    const uint64_t total = previewJob_->total, copied = previewJob_->copied;
    if (total == 0) {
        preview_progress->setRange(0, 0);
        return;
    }
    preview_progress->setRange(0, 1000);
    preview_progress->setValue(int(std::min<uint64_t>(1000, copied / std::max<uint64_t>(1, total / 1000))));
}

void MyTableController::previewJobEnded(const QString &written, const QString &problem)
{
    if (!previewJob_)
        return;
    const std::unique_ptr<PreviewJob> job = std::move(previewJob_);
    job->thread.join();  // it queued this call as its last step
    previewTimer_->stop();
    if (quitting_) {
        finishShutDown();
        return;
    }
    if (!job->dropResult && job->uid == previewedUid_) {
        finishPreview(written, job->name, problem);
    } else if (!written.isEmpty() && written != Preview_Temp_File) {
        QFile::remove(written);  // a copy nobody will see
    }
    if (pendingPreviewUid_.isEmpty())
        return;
    const QString uid = std::exchange(pendingPreviewUid_, QString());
    for (int row = 0; row < images.size(); ++row) {
        if (images.at(row).image_UID == uid && uid == previewedUid_) {
            startPreviewJob(images.at(row));
            return;
        }
    }
    previewControls->hide();
}

void MyTableController::finishPreview(const QString &path, const QString &name, const QString &problem)
{
    previewControls->hide();
    if (!path.isEmpty())
        Preview_Temp_File = path;
    if (!problem.isEmpty()) {
        // The medium could not be read: the type icon and the reason, never the previous file.
        Image_Preview(QString());
        QuickLook_View_Box->setTitle(QFileInfo(name).fileName() + QStringLiteral(" \u2014 ") + problem);
    } else {
        setQuickLook_View(path, name);
    }
}

void MyTableController::setQuickLook_View(const QString &path, const QString &name)
{
    if (name.isEmpty())
        return;
    if (QFile::exists(path) && looksLikeMovie(path)) {
        if (!player_) {
            player_ = new QMediaPlayer(this);
            player_->setVideoOutput(mMovieView);
            // Play / pause and the position slider follow the player.
            connect(player_, &QMediaPlayer::durationChanged, this, [this](qint64 ms) {
                movie_position->setRange(0, int(std::clamp<qint64>(ms, 0, INT_MAX)));
            });
            connect(player_, &QMediaPlayer::positionChanged, this, [this](qint64 ms) {
                if (!movie_position->isSliderDown())
                    movie_position->setValue(int(std::clamp<qint64>(ms, 0, INT_MAX)));
            });
            connect(player_, &QMediaPlayer::playbackStateChanged, this, [this](QMediaPlayer::PlaybackState st) {
                movie_play->setText(st == QMediaPlayer::PlayingState ? QStringLiteral("Pause") : QStringLiteral("Play"));
            });
            connect(movie_position, &QSlider::sliderMoved, this, [this](int ms) { player_->setPosition(ms); });
            connect(movie_position, &QSlider::actionTriggered, this, [this](int action) {
                if (action != QAbstractSlider::SliderMove && action != QAbstractSlider::SliderNoAction)
                    player_->setPosition(movie_position->sliderPosition());
            });
        }
        QuickLook_View->hide();
        mMovieView->show();
        movie_position->setValue(0);
        movieControls->show();
        player_->setSource(QUrl::fromLocalFile(path));
        player_->play();
        previewState_ = QStringLiteral("movie");
        return;
    }
    QuickLook_View->show();
    mMovieView->hide();
    movieControls->hide();
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
