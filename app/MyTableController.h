#pragma once
// The one controller: owns the state, meets the controls, runs the wizard. Logic lives in the
// core (RecoveryCore and the catalogue, media, engine and results modules); these methods read
// controls, call the core and write controls.
#include "app/optionscontrols.h"
#include "catalogue/checklist.h"
#include "engine/progress.h"
#include "engine/recoverycore.h"
#include "engine/scansession.h"
#include "media/MyDataObject.h"
#include "media/scanrange.h"
#include "results/MyImageObject.h"
#include "results/export.h"

#include <QElapsedTimer>
#include <QList>
#include <QModelIndex>
#include <QObject>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>

class QCheckBox;
namespace lumafind {
struct SaveRecord;
}
class QDialog;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMediaPlayer;
class QMainWindow;
class QMenu;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QSlider;
class QVideoWidget;
class QTableView;
class QTimer;
class QWidget;

namespace lumafind {

class BrowserView;
class CheckListModel;
class Dialogs;
class FileSaver;
class FoundFilesModel;
class GuiScanObserver;
class ImageListModel;
class MediaMonitor;
class MediaLister;
class MediaTableModel;
class SectorProgressBar;
class SectorSlider;

class MyTableController : public QObject, public RecoveryCore {
    Q_OBJECT
public:
    // resourceDir: where the databases, NoPreview.png and Help.pdf are; dialogs answer alerts.
    MyTableController(const QString &resourceDir, Dialogs *dialogs, QObject *parent = nullptr);
    ~MyTableController() override;

    // Start-up sequence, once the window's controls exist.
    void awakeFromNib();

    // Wizard position: 0 media, 1 options, 2 photo scan / file types, 3 video and raw-file scan.
    int32_t screen_counter = 0;
    uint32_t Prev_Index = 2147483647u;  // none previewed
    QString Preview_Temp_File;
    QTimer *mSetLabelTimer = nullptr;

    QList<MyDataObject> nsMutaryOfDataObject;
    CheckList nsCheckedListDataObject;
    QList<MyImageObject> images;        // the items of both browsers
    FoundFilesList shownFoundFiles;     // the found-files rows as the table shows them
    void setNsMutaryOfDataObject(const QList<MyDataObject> &rows);
    void setNsCheckedListDataObject(const CheckList &rows);
    MediaTableModel *mediaModel() const { return mediaModel_; }
    CheckListModel *checkListModel() const { return checkModel_; }
    FoundFilesModel *foundFilesModel() const { return foundModel_; }
    ImageListModel *imageModel() const { return imageModel_; }
    // Counts items added since the wizard last reset it; decides when a browser scrolls.
    uint64_t addedItems() const { return addedCount_; }
    // Unreadable sectors of the running or last scan (each counted once, whoever read it).
    uint64_t unreadableOfScan() const { return unreadableSectors(); }
    bool scanRunning() const { return session_.started(); }

    const QString &resourcePath() const { return resourceDir_; }
    Dialogs *dialogs() const { return realDialogs_; }
    // Databases that could not be used at start-up (empty when all loaded).
    const QStringList &missingDatabases() const { return missingDatabases_; }

    // Storage media: listed off the GUI thread; the selected medium stays selected.
    void Reload_Drive_list_Function();
    // A medium came or went: the list is rebuilt while the media screen shows it.
    void mediaChanged();
    MediaMonitor *mediaMonitor() const { return mediaMonitor_; }
    bool mediaListing() const;
    MediaLister *mediaLister() const { return mediaLister_; }
    // Adds a disk image file to the media list (and keeps it there across refreshes).
    bool addDiskImage(const QString &path);
    // The device the next scan reads: the selected row's device path.
    const QString &selectedDevicePath() const { return selectedDevicePath_; }

    // Range controls of one set.
    OptionsControls &currentSet() { return Recovery_MODE == 0 ? photo : sig; }
    void rangeInitialisation(OptionsControls &s, const MyDataObject &medium);
    void entireDiskRadio(OptionsControls &s);
    void sectorRangeRadio(OptionsControls &s);
    void doSlider(SectorSlider *slider, QLineEdit *field);
    void controlTextDidChange(QLineEdit *field);
    RangeControls rangeControls(const OptionsControls &s) const;
    bool rangeCheck(OptionsControls &s);

    // Show or hide a screen (hidden = true hides it).
    void show_hide_1_screen(bool hidden);
    void show_hide_2_screen(bool hidden);
    void show_hide_3_screen_Photo(bool hidden);
    void show_hide_3_screen_RawFile(bool hidden);
    void show_hide_4_screen_RawFile(bool hidden);

    // File types (video and raw-file mode).
    void Fill_Check_List();
    bool Apply_Check_List();

    // A scan: the worker thread and the progress timer.
    void startScan();
    void startTimerThread();  // the progress timer, on the GUI thread, ticking every 0.5 s
    void timerTickSetLabel();
    void endProgressTimer();
    // Elapsed time, speed, time left (and photos found) beside the sector line.
    QString progressDetails() const;

    // What the worker asks of the window, on the GUI thread.
    void onPassStarted(const PassStart &p);
    void addImageWithData(MyImageObject &&item);
    void addImageWithData_2(MyImageObject &&item);
    void onUnreadableSectors(uint64_t first, uint64_t count);
    void workerAlert(const QString &message, const QString &informative);
    void onOpenFailed();
    void onEndOfScan(const ScanSummary &s);

    // Hexadecimal helpers, as controller methods.
    int32_t hex2dec(const QString &c) const;
    int32_t hex2int(const QString &h) const;

    // Outlets: created by buildMainWindow, never by the controller.
    QMainWindow *window = nullptr;
    QWidget *controlPanel = nullptr;
    QDialog *LoadDisk_Window = nullptr;
    QLabel *help_info = nullptr;
    QPushButton *back_btn = nullptr, *next_btn = nullptr, *help_btn = nullptr, *about_btn = nullptr, *exit_btn = nullptr;
    QLabel *Search_Type = nullptr;
    QLabel *Mode_label = nullptr;
    QWidget *mediaPage = nullptr;
    QGroupBox *refresh_Box = nullptr;
    QLabel *refresh_Label = nullptr;
    QPushButton *refresh_btn = nullptr;
    QPushButton *open_image_btn = nullptr;
    QGroupBox *rec_mode_Box = nullptr;
    QRadioButton *rec_mode_Photo = nullptr, *rec_mode_Video = nullptr, *rec_mode_RawFile = nullptr;
    QTableView *idTableView = nullptr;
    QWidget *idtablesclview = nullptr;
    QLineEdit *disk_identifier = nullptr;
    QLineEdit *sectors_val = nullptr;
    OptionsControls photo;  // the photo set
    OptionsControls sig;    // the set of the video and raw-file modes ("_Sig")
    QCheckBox *Thro_Mode_Chk = nullptr;  // photo set's Thorough box
    QLabel *sector_label = nullptr;
    QLabel *progress_details = nullptr;
    SectorProgressBar *Progress_Horz = nullptr;
    QPushButton *stop_scan = nullptr;
    QWidget *photoScanPage = nullptr, *fileTypePage = nullptr, *rawScanPage = nullptr;
    BrowserView *imageBrowser = nullptr, *imageBrowser_2 = nullptr;
    QWidget *idImagesclview = nullptr, *idImagesclview_2 = nullptr;
    QSlider *zoom_slider = nullptr;
    QLabel *zoom_label = nullptr;
    QLabel *ClearThumbnail_Label = nullptr;
    QTableView *idCheckTableView = nullptr;
    QWidget *idChecktablesclview = nullptr;
    QCheckBox *select_unselect_Chk = nullptr;
    QCheckBox *Thro_Mode_Chk_SIG = nullptr;
    QTableView *idSigTableView = nullptr;
    QWidget *idSigtablesclview = nullptr;
    QGroupBox *QuickLook_View_Box = nullptr;
    QLabel *QuickLook_View = nullptr;
    QVideoWidget *mMovieView = nullptr;
    QPushButton *movie_play = nullptr;      // play / pause
    QSlider *movie_position = nullptr;
    QWidget *movieControls = nullptr;
    QProgressBar *preview_progress = nullptr;
    QPushButton *cancel_preview = nullptr;
    QWidget *previewControls = nullptr;
    QDialog *SaveFile_Info_Window = nullptr, *SaveFile_Info_For_RAW_Window = nullptr;
    QLabel *saveInfoText = nullptr, *saveInfoRawText = nullptr;
    QPushButton *saveFoundButton = nullptr, *saveFoundButtonRaw = nullptr;  // "Save found files…"
    QDialog *BrowseInfo_Window = nullptr, *HelpWindow = nullptr, *AboutWindow = nullptr;
    QPushButton *Help_File_Label = nullptr;

    // Output folder, information windows, exit.
    bool Browse_Path();                  // both Browse buttons
    bool chooseOutputFolder(const QString &folder);  // checks and fills both folder fields
    void HelpFilePressed();
    // Asks, and when the answer is yes stops every worker; true when the application is to
    // terminate. It terminates once shutDown() says so (the workers reply in their own time).
    bool Exit_App();
    bool shutDown() const { return shutDown_; }
    void deletePreviewFiles();
    QString outputFolder() const;        // the folder of the running or last scan ("" = none)
    // Saving after a scan (every found file, or the selected ones): runs beside the window,
    // with its progress on the result line, and can be cancelled.
    void saveFoundFiles();
    void saveSelectedFiles();
    bool saveFoundFilesTo(const QString &folder, const QList<int> &rows = {});
    bool savingAfterScan() const;
    void cancelSaving();
    // The result line of the last scan: found, saved (where), inside other files, unreadable.
    QString resultText() const;
    // A saved item opens with the desktop's program; a part of a saved file opens that file.
    void openItem(const QModelIndex &index);
    // The context menu of a browser's item (the caller owns it).
    QMenu *itemMenu(QWidget *view, const QModelIndex &at);
    void showItemInFolder(const QModelIndex &index);

    // Preview of a video or raw-file item: the copy runs beside the window with its progress
    // in the preview pane; selecting another item cancels it.
    void imageBrowserSelectionDidChange();
    void previewItem(int row);
    bool previewRunning() const { return previewJob_ != nullptr; }
    QString previewState() const { return previewState_; }  // "movie", "picture", "icon" or ""
    uint64_t previewCopies() const { return previewCopies_; }
    QString previewDirectory() const;
    bool isPlaying() const;
    void stopPlayingMovie();
    void playPauseMovie();
    // Empties the preview pane (a new scan, Back): no frame or picture of an earlier file stays.
    void clearPreview();

public slots:
    void Next_btn();
    void Back_btn();
    void Help_btn();
    void About_btn();
    void Exit_Btn();
    void Open_Folder_btn();
    void Open_Folder_btn_Sig() { Open_Folder_btn(); }
    void Browse_Path_Sig() { Browse_Path(); }
    void cancelPreview();
    void Photo_Mode_Radio();
    void Video_Mode_Radio();
    void RawFile_Mode_Radio();
    void rebresh_drives();
    void Open_Disk_Image();
    void Entire_Disk_Radio() { entireDiskRadio(photo); }
    void Entire_Disk_Radio_Sig() { entireDiskRadio(sig); }
    void Sector_Range_Radio() { sectorRangeRadio(photo); }
    void Sector_Range_Radio_Sig() { sectorRangeRadio(sig); }
    void stop_usb_disk() { RecoveryCore::stop_usb_disk(); }
    void Select_Unselect_Check_btn();
    void clickTable();
    void Thro_Mode_Chk_SIG_Btn() {}
    void zoomSliderDidChange();

private:
    // The copy of the item being previewed, on a thread of its own.
    struct PreviewJob {
        std::thread thread;
        std::atomic<bool> cancel{false};
        std::atomic<uint64_t> copied{0};  // bytes in the preview file so far
        std::atomic<uint64_t> total{0};   // the file's extent once measured (0 before)
        bool dropResult = false;          // another item was chosen: what it copied is not shown
        QString uid, name;
    };
    // A save after the scan: the items in the order the scan found them, fed to the saver a
    // few at a time so that adding never waits on it.
    struct SaveJob {
        QList<ExportItem> items;
        QList<uint64_t> ends;
        QList<int> order;
        int next = 0;
        bool cancelled = false;
    };
    void reportMissingDatabases();
    void mediaListed(const QList<MyDataObject> &rows);
    void startPreviewJob(const MyImageObject &item);
    // Stops the copy in flight; with dropResult what it copied is not shown.
    void cancelPreviewJob(bool dropResult);
    void previewJobEnded(const QString &written, const QString &problem);
    void previewTick();
    void saveTick();
    void savingEnded();
    void showResults(bool visible);
    void updateResults();
    void restoreAfterScan();
    void finishShutDown();
    bool openUrlOrSay(const QUrl &url, const QString &what);
    void alert(const QString &message, const QString &informative = QString());
    void setMode(int mode);

    QString resourceDir_;
    Dialogs *realDialogs_;
    // Every dialog goes through this: it counts the modal windows open, so that what the worker
    // sends while one is open (an alert, the end of the scan) waits for it instead of opening
    // on top of it inside its event loop.
    class ModalCounter;
    std::unique_ptr<ModalCounter> modalCounter_;
    Dialogs *dialogs_;
    int modalDepth_ = 0;
    QList<std::function<void()>> deferred_;
    // Runs f now, or after the modal windows open now are closed.
    void whenNoModal(std::function<void()> f);
    void runDeferred();
    void showEndOfScan(const ScanSummary &s);
    QStringList missingDatabases_;
    void workerFinished();
    // The medium of the selected row, for reading found files from it.
    MediumRef selectedMedium() const;
    // The found items as the export knows them, each cut at the next found file.
    QList<ExportItem> exportItems() const;
    void resetAdded() { addedCount_ = 0; }
    bool eventFilter(QObject *watched, QEvent *event) override;
    void finishPreview(const QString &path, const QString &name, const QString &problem);
    void setQuickLook_View(const QString &path, const QString &name);
    void Image_Preview(const QString &path);
    void closemovie_Win();
    bool folderIsOnMedium(const QString &folder);

    bool quitting_ = false;
    bool shutDown_ = false;
    bool quitWhenDown_ = false;          // the window was closed: the program ends once down
    bool askedNoFolder_ = false;
    QString scanFolder_;                 // where the running or last scan saves
    bool scanHadFolder_ = false;
    bool scanEnded_ = false;
    ScanSummary lastSummary_;
    std::unique_ptr<FileSaver> saver_;
    std::unique_ptr<SaveJob> saveJob_;   // saving after the scan
    std::unique_ptr<FileSaver> laterSaver_;  // what saving after the scan did
    QTimer *saveTimer_ = nullptr;
    std::unique_ptr<PreviewJob> previewJob_;
    QString pendingPreviewUid_;          // asked for while another copy was ending
    QTimer *previewTimer_ = nullptr;
    QString previewedUid_;
    QString previewState_;
    uint64_t previewCopies_ = 0;
    QMediaPlayer *player_ = nullptr;

    MediaTableModel *mediaModel_;
    CheckListModel *checkModel_;
    FoundFilesModel *foundModel_;
    ImageListModel *imageModel_;
    std::unique_ptr<GuiScanObserver> observer_;
    ScanSession session_{*this};
    uint64_t addedCount_ = 0;
    QList<MyDataObject> openedImages_;
    MediaLister *mediaLister_ = nullptr;
    QTimer *mediaWindowDelay_ = nullptr;
    ProgressEstimator estimate_;
    QElapsedTimer scanClock_;
    int passesStarted_ = 0, passesPlanned_ = 1;
    QString selectedDevicePath_;
    MediaMonitor *mediaMonitor_ = nullptr;
    // How the last scan reached its medium: kept while its results are shown, so previews and
    // saving after the scan read through it without asking for the password again.
    std::shared_ptr<MediumAccess> mediumAccess_;
    void releaseMedium();
    // What the last scan found of the card's directories: joined to its files whenever they
    // are saved or previewed.
    std::shared_ptr<Remnants> remnants_;
    // A saved file's length, place and remembered name reach its item.
    void showSaved(const SaveRecord &rec);
    QString lastMedium_;                 // identifier of the medium last chosen
};

// Help texts of the wizard.
extern const QString kMediaHelp;
extern const QString kEntireDiskHelp;
extern const QString kSectorRangeHelp;
extern const QString kFileTypeHelp;
extern const QString kEndOfScanHelp;

} // namespace lumafind
