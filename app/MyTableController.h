#pragma once
// The one controller: owns the state, meets the controls, runs the wizard. Logic lives in the
// core (RecoveryCore and the catalogue, media, engine and results modules); these methods read
// controls, call the core and write controls.
#include "app/optionscontrols.h"
#include "catalogue/checklist.h"
#include "engine/recoverycore.h"
#include "engine/scansession.h"
#include "media/MyDataObject.h"
#include "media/scanrange.h"
#include "results/MyImageObject.h"
#include "results/export.h"

#include <QList>
#include <QObject>
#include <QString>
#include <atomic>
#include <memory>
#include <thread>

class QCheckBox;
class QDialog;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMediaPlayer;
class QMainWindow;
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
    Dialogs *dialogs() const { return dialogs_; }
    // Databases that could not be used at start-up (empty when all loaded).
    const QStringList &missingDatabases() const { return missingDatabases_; }

    // Storage media.
    void Reload_Drive_list_Function();
    // A medium came or went: the list is rebuilt while the media screen shows it.
    void mediaChanged();
    MediaMonitor *mediaMonitor() const { return mediaMonitor_; }
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
    // Waits, handling events, until the worker has ended (tests and exit).
    void waitForWorker();

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
    QDialog *SaveFile_Info_Window = nullptr, *SaveFile_Info_For_RAW_Window = nullptr;
    QLabel *saveInfoText = nullptr, *saveInfoRawText = nullptr;
    QPushButton *saveFoundButton = nullptr, *saveFoundButtonRaw = nullptr;  // "Save found files…"
    QDialog *BrowseInfo_Window = nullptr, *HelpWindow = nullptr, *AboutWindow = nullptr, *ClearPreview_Window = nullptr;
    QPushButton *Help_File_Label = nullptr;

    // Output folder, information windows, exit.
    bool Browse_Path();                  // both Browse buttons
    bool chooseOutputFolder(const QString &folder);  // checks and fills both folder fields
    void HelpFilePressed();
    bool Exit_App();                     // true when the application is to terminate
    void deletePreviewFiles();
    QString outputFolder() const;        // the folder of the running or last scan ("" = none)
    void saveFoundFiles();               // after a scan without an output folder
    bool saveFoundFilesTo(const QString &folder);

    // Preview of a video or raw-file item.
    void imageBrowserSelectionDidChange();
    void previewItem(int row);
    bool previewRunning() const { return previewThread_.joinable(); }
    QString previewState() const { return previewState_; }  // "movie", "picture", "icon" or ""
    uint64_t previewCopies() const { return previewCopies_; }
    QString previewDirectory() const;
    bool isPlaying() const;
    void stopPlayingMovie();

public slots:
    void Next_btn();
    void Back_btn();
    void Help_btn();
    void About_btn();
    void Exit_Btn();
    void Open_Folder_btn();
    void Open_Folder_btn_Sig() { Open_Folder_btn(); }
    void Browse_Path_Sig() { Browse_Path(); }
    void cancelPreview() { previewCancelled_ = true; }
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
    void reportMissingDatabases();
    void alert(const QString &message, const QString &informative = QString());
    void setMode(int mode);

    QString resourceDir_;
    Dialogs *dialogs_;
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
    bool askedNoFolder_ = false;
    QString scanFolder_;                 // where the running or last scan saves
    std::unique_ptr<FileSaver> saver_;
    std::thread previewThread_;
    std::atomic<bool> previewShowing_{false};  // from the selection until the preview is shown
    std::atomic<bool> previewCancelled_{false};
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
    QString selectedDevicePath_;
    MediaMonitor *mediaMonitor_ = nullptr;
    // How the last scan reached its medium: kept while its results are shown, so previews and
    // saving after the scan read through it without asking for the password again.
    std::shared_ptr<MediumAccess> mediumAccess_;
    void releaseMedium();
};

// Help texts of the wizard.
extern const QString kMediaHelp;
extern const QString kEntireDiskHelp;
extern const QString kSectorRangeHelp;
extern const QString kFileTypeHelp;
extern const QString kEndOfScanHelp;

} // namespace lumafind
