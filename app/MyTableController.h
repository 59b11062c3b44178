#pragma once
// The one controller: owns the state, meets the controls, runs the wizard. Logic lives in the
// core (RecoveryCore and the catalogue, media, engine and results modules); these methods read
// controls, call the core and write controls.
#include "catalogue/checklist.h"
#include "engine/recoverycore.h"

#include <QObject>
#include <QString>
#include <memory>

class QCheckBox;
class QGroupBox;
class QLabel;
class QMainWindow;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTimer;
class QWidget;

namespace lumafind {

class Dialogs;

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

    CheckList nsCheckedListDataObject;
    FoundFilesList nsSIGFileInfoDataObject;
    void setNsCheckedListDataObject(const CheckList &rows);
    void setNsSIGFileInfoDataObject(const FoundFilesList &rows);

    const QString &resourcePath() const { return resourceDir_; }
    Dialogs *dialogs() const { return dialogs_; }
    // Databases that could not be used at start-up (empty when all loaded).
    const QStringList &missingDatabases() const { return missingDatabases_; }

    // Outlets: created by buildMainWindow, never by the controller.
    QMainWindow *window = nullptr;
    QWidget *controlPanel = nullptr;
    QLabel *help_info = nullptr;
    QPushButton *back_btn = nullptr;
    QPushButton *next_btn = nullptr;
    QPushButton *help_btn = nullptr;
    QPushButton *about_btn = nullptr;
    QPushButton *exit_btn = nullptr;
    QLabel *Search_Type = nullptr;
    QLabel *Mode_label = nullptr;
    QGroupBox *refresh_Box = nullptr;
    QLabel *refresh_Label = nullptr;
    QPushButton *refresh_btn = nullptr;
    QGroupBox *rec_mode_Box = nullptr;
    QRadioButton *rec_mode_Photo = nullptr;
    QRadioButton *rec_mode_Video = nullptr;
    QRadioButton *rec_mode_RawFile = nullptr;
    QLabel *sector_label = nullptr;
    QProgressBar *Progress_Horz = nullptr;
    QPushButton *stop_scan = nullptr;
    QCheckBox *Thro_Mode_Chk = nullptr;

    // Hexadecimal helpers, as controller methods.
    int32_t hex2dec(const QString &c) const;
    int32_t hex2int(const QString &h) const;

private:
    void reportMissingDatabases();

    QString resourceDir_;
    Dialogs *dialogs_;
    QStringList missingDatabases_;
};

} // namespace lumafind
