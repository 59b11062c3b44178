#pragma once
// The one controller: owns the state, meets the controls, runs the wizard. Logic lives in the
// core (RecoveryCore and the catalogue, media, engine and results modules); these methods read
// controls, call the core and write controls.
#include "app/optionscontrols.h"
#include "catalogue/checklist.h"
#include "engine/recoverycore.h"
#include "media/MyDataObject.h"
#include "media/scanrange.h"

#include <QList>
#include <QObject>
#include <QString>

class QCheckBox;
class QDialog;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMainWindow;
class QPushButton;
class QRadioButton;
class QTableView;
class QTimer;
class QWidget;

namespace lumafind {

class Dialogs;
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
    void setNsMutaryOfDataObject(const QList<MyDataObject> &rows);
    void setNsCheckedListDataObject(const CheckList &rows);
    MediaTableModel *mediaModel() const { return mediaModel_; }

    const QString &resourcePath() const { return resourceDir_; }
    Dialogs *dialogs() const { return dialogs_; }
    // Databases that could not be used at start-up (empty when all loaded).
    const QStringList &missingDatabases() const { return missingDatabases_; }

    // Storage media.
    void Reload_Drive_list_Function();
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

public slots:
    void Next_btn();
    void Back_btn();
    void Photo_Mode_Radio();
    void Video_Mode_Radio();
    void RawFile_Mode_Radio();
    void rebresh_drives();
    void Open_Disk_Image();
    void Entire_Disk_Radio() { entireDiskRadio(photo); }
    void Entire_Disk_Radio_Sig() { entireDiskRadio(sig); }
    void Sector_Range_Radio() { sectorRangeRadio(photo); }
    void Sector_Range_Radio_Sig() { sectorRangeRadio(sig); }

private:
    void reportMissingDatabases();
    void alert(const QString &message, const QString &informative = QString());
    void setMode(int mode);

    QString resourceDir_;
    Dialogs *dialogs_;
    QStringList missingDatabases_;
    MediaTableModel *mediaModel_;
    QList<MyDataObject> openedImages_;
    QString selectedDevicePath_;
};

// Help texts of the wizard.
extern const QString kMediaHelp;
extern const QString kEntireDiskHelp;
extern const QString kSectorRangeHelp;

} // namespace lumafind
