#include "MyTableController.h"

#include "app/browserview.h"
#include "app/dialogs.h"
#include "app/guiobserver.h"
#include "app/imagemodel.h"
#include "app/medialister.h"
#include "app/sectorwidgets.h"
#include "app/tablemodels.h"
#include "common/hex.h"
#include "media/mediamonitor.h"
#include "media/udisks2.h"
#include "media/volumes.h"
#include "results/remnants.h"
#include "results/saver.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QDialog>
#include <QGroupBox>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QSlider>
#include <QThread>
#include <QTimer>
#include <QVideoWidget>
#include <optional>

namespace lumafind {

const QString kMediaHelp = QStringLiteral(
    "\nSelect the storage media from List from which you want to recover Data. Press \u2018Next\u2019 button to continue... ");
const QString kEntireDiskHelp = QStringLiteral(
    "If \u2018Entire Disk\u2019 option is selected, Norvo Recovery searches lost data in the entire storage of selected disk. "
    "If you want to perform within a specific sector range or in specific partition, please select other searching criteria. "
    "Else press \u2018Next\u2019 button to start searching data in Entire disk.");
const QString kFileTypeHelp = QStringLiteral(
    "\nPlease select the required extension type for recovery process. Press \u2018Next\u2019 button to continue... ");
const QString kEndOfScanHelp = QStringLiteral("\nTo select another disk for recovery, click on \u2018Back\u2019 Button.");
const QString kSectorRangeHelp = QStringLiteral(
    "\u2018Sector Range\u2019 option provides facility to specify the range of start and end sector of storage media within "
    "which you want to perform searching for lost data. Please drag knob of Slider to enter sector range or you can also "
    "enter these values in Start Sector and End Sector fields manually.");

class MyTableController::ModalCounter : public Dialogs {
public:
    ModalCounter(MyTableController &c, Dialogs *real) : c_(c), real_(real) {}
    int alert(QWidget *parent, const QString &message, const QString &informative, const QStringList &buttons,
              AlertKind kind) override
    {
        Scope s(c_);
        return real_->alert(parent, message, informative, buttons, kind);
    }
    QString chooseFolder(QWidget *parent, const QString &title) override
    {
        Scope s(c_);
        return real_->chooseFolder(parent, title);
    }
    QString chooseFile(QWidget *parent, const QString &title, const QString &filter) override
    {
        Scope s(c_);
        return real_->chooseFile(parent, title, filter);
    }
    int runModal(QDialog *window) override
    {
        Scope s(c_);
        return real_->runModal(window);
    }
    bool openUrl(const QUrl &url) override { return real_->openUrl(url); }

private:
    struct Scope {
        MyTableController &c;
        explicit Scope(MyTableController &c) : c(c) { ++c.modalDepth_; }
        ~Scope()
        {
            if (--c.modalDepth_ == 0 && !c.deferred_.isEmpty())
                QTimer::singleShot(0, &c, [c = &c] { c->runDeferred(); });
        }
    };
    MyTableController &c_;
    Dialogs *real_;
};

void MyTableController::whenNoModal(std::function<void()> f)
{
    if (modalDepth_ > 0 || !deferred_.isEmpty())
        deferred_.append(std::move(f));
    else
        f();
}

void MyTableController::runDeferred()
{
    while (modalDepth_ == 0 && !deferred_.isEmpty())
        deferred_.takeFirst()();
}

MyTableController::MyTableController(const QString &resourceDir, Dialogs *dialogs, QObject *parent)
    : QObject(parent), resourceDir_(resourceDir), realDialogs_(dialogs),
      modalCounter_(std::make_unique<ModalCounter>(*this, dialogs)), dialogs_(modalCounter_.get()),
      mediaModel_(new MediaTableModel(&nsMutaryOfDataObject, this)),
      checkModel_(new CheckListModel(&nsCheckedListDataObject, this)),
      foundModel_(new FoundFilesModel(&shownFoundFiles, this)),
      imageModel_(new ImageListModel(&images, this)),
      observer_(std::make_unique<GuiScanObserver>(this)),
      mediaLister_(new MediaLister({}, this))
{
    // A card the user may not read is opened by the system's storage service, after polkit
    // has asked for the password.
    deviceBroker = std::make_shared<UDisks2Broker>();
    connect(mediaLister_, &MediaLister::listed, this, &MyTableController::mediaListed);
    // The "Looking for storage media…" window, for a listing that takes a noticeable time.
    mediaWindowDelay_ = new QTimer(this);
    mediaWindowDelay_->setSingleShot(true);
    mediaWindowDelay_->setInterval(200);
    connect(mediaWindowDelay_, &QTimer::timeout, this, [this] {
        if (mediaLister_->busy() && LoadDisk_Window)
            LoadDisk_Window->show();
    });
}

MyTableController::~MyTableController()
{
    // No worker ever waits on this thread, so each stops at its next step and is joined here.
    quitting_ = true;
    stop_now = 1;
    if (laterSaver_)
        laterSaver_->requestCancel();
    if (saver_)
        saver_->requestCancel();
    if (previewJob_) {
        previewJob_->cancel = true;
        previewJob_->thread.join();
    }
    session_.wait(-1);
}

void MyTableController::setNsMutaryOfDataObject(const QList<MyDataObject> &rows)
{
    // The medium the user picked stays picked when the list is rebuilt around it.
    QItemSelectionModel *selection = idTableView ? idTableView->selectionModel() : nullptr;
    const QModelIndexList picked = selection ? selection->selectedRows() : QModelIndexList();
    std::optional<MyDataObject> was;
    if (!picked.isEmpty() && picked.first().row() < nsMutaryOfDataObject.size())
        was = nsMutaryOfDataObject.at(picked.first().row());
    nsMutaryOfDataObject = rows;
    mediaModel_->reload();
    if (!was)
        return;
    for (qsizetype i = 0; i < rows.size(); ++i)
        if (rows.at(i).devicePath() == was->devicePath() && rows.at(i).nsStrSectors() == was->nsStrSectors()) {
            idTableView->selectRow(int(i));
            return;
        }
}
void MyTableController::setNsCheckedListDataObject(const CheckList &rows)
{
    nsCheckedListDataObject = rows;
    checkModel_->reload();
}

int32_t MyTableController::hex2dec(const QString &c) const { return lumafind::hex2dec(c); }
int32_t MyTableController::hex2int(const QString &h) const { return lumafind::hex2int(h); }

void MyTableController::alert(const QString &message, const QString &informative)
{
    dialogs_->alert(window, message, informative, {QStringLiteral("OK")});
}

void MyTableController::awakeFromNib()
{
    // 1-2: the window's colour, brought to the front.
    QPalette pal = window->palette();
    pal.setColor(QPalette::Window, QColor::fromRgbF(241 / 255.0f, 244 / 255.0f, 250 / 255.0f, 1.0f));
    window->setPalette(pal);
    window->setAutoFillBackground(true);
    // The information windows are windows of their own: they take the colour only when given it.
    for (QDialog *d : window->findChildren<QDialog *>()) {
        d->setPalette(pal);
        d->setAutoFillBackground(true);
    }
    controlPanel->raise();
    controlPanel->activateWindow();
    window->raise();
    window->activateWindow();
    // 3-4: Thorough on, photo mode, the first instruction.
    Thro_Mode_Chk->setChecked(true);
    Recovery_MODE = 0;
    help_info->setText(kMediaHelp);
    // 5: captions of both sets, and the progress line.
    for (OptionsControls *s : {&photo, &sig}) {
        s->disk->setText(QStringLiteral("Disk\t\t\t\t:"));
        s->vol_name->setText(QStringLiteral("Volume Name\t:"));
        s->file_system->setText(QStringLiteral("File System\t\t:"));
        s->size->setText(QStringLiteral("Capacity (size)\t:"));
        s->start_sector_entire->setText(QStringLiteral("Start Sector\t\t:"));
        s->end_sector_entire->setText(QStringLiteral("End Sector\t\t:"));
    }
    sector_label->setText(QStringLiteral("Sectors 0 of 0"));
    // 6-7: the table rows start empty; the media list is built.
    setNsMutaryOfDataObject({});
    setNsCheckedListDataObject({});
    setNsSIGFileInfoDataObject({});
    Reload_Drive_list_Function();
    // Cards appear and disappear by themselves.
    mediaMonitor_ = new MediaMonitor(this);
    connect(mediaMonitor_, &MediaMonitor::mediaChanged, this, &MyTableController::mediaChanged);
    mediaMonitor_->start();
    // 10-12: working lists, the six databases in order, the placeholder picture.
    missingDatabases_ = loadResources(resourceDir_);
    imageModel_->setPlaceholder(Null_Image_Data);
    // 13: the progress bar at 0.
    Progress_Horz->setValue(0);
    if (!missingDatabases_.isEmpty())
        QTimer::singleShot(0, this, [this] { reportMissingDatabases(); });
}

void MyTableController::reportMissingDatabases()
{
    // Without a database a later scan would report a read error for a healthy card: say once
    // which file is missing instead.
    alert(QStringLiteral("\nSome signature databases could not be loaded."),
          QStringLiteral("Missing, unreadable or empty in %1: %2. The file types they describe "
                         "will not be found until they are restored.")
              .arg(resourceDir_, missingDatabases_.join(QStringLiteral(", "))));
}

// ---- Storage media ----

void MyTableController::Reload_Drive_list_Function()
{
    // lsblk runs on a thread of its own; the window is told when the rows are there.
    mediaLister_->refresh();
    if (!mediaWindowDelay_->isActive() && LoadDisk_Window && LoadDisk_Window->isHidden())
        mediaWindowDelay_->start();
}

bool MyTableController::mediaListing() const
{
    return mediaLister_->busy();
}

void MyTableController::mediaListed(const QList<MyDataObject> &listed)
{
    // The medium selected now stays selected when it is still there.
    QString selected;
    if (idTableView) {
        const QModelIndexList rows = idTableView->selectionModel()->selectedRows();
        if (!rows.isEmpty() && rows.first().row() < nsMutaryOfDataObject.size())
            selected = nsMutaryOfDataObject.at(rows.first().row()).nsStrDiskIdentifier();
    }
    if (selected.isEmpty())
        selected = lastMedium_;
    QList<MyDataObject> rows = listed;
    for (const MyDataObject &image : openedImages_) {
        const bool there = std::any_of(rows.begin(), rows.end(), [&](const MyDataObject &r) {
            return r.nsStrDiskIdentifier() == image.nsStrDiskIdentifier();
        });
        if (!there)
            rows += image;
    }
    setNsMutaryOfDataObject(rows);
    for (qsizetype i = 0; idTableView && !selected.isEmpty() && i < rows.size(); ++i)
        if (rows.at(i).nsStrDiskIdentifier() == selected)
            idTableView->selectRow(int(i));
    mediaWindowDelay_->stop();
    if (LoadDisk_Window)
        LoadDisk_Window->hide();
    if (quitting_)
        finishShutDown();
}

void MyTableController::rebresh_drives()
{
    Reload_Drive_list_Function();
}

void MyTableController::mediaChanged()
{
    // Elsewhere in the wizard the medium is chosen already; Back to the media screen lists afresh.
    if (screen_counter != 0 || scanRunning() || quitting_)
        return;
    rebresh_drives();
}

bool MyTableController::addDiskImage(const QString &path)
{
    QString error;
    const MyDataObject row = diskImageRow(path, &error);
    if (row.nsStrDiskIdentifier().isEmpty()) {
        alert(QStringLiteral("\nThe disk image cannot be opened."), error);
        return false;
    }
    qsizetype at = -1;
    for (qsizetype i = 0; i < nsMutaryOfDataObject.size(); ++i)
        if (nsMutaryOfDataObject.at(i).nsStrDiskIdentifier() == row.nsStrDiskIdentifier())
            at = i;
    if (at < 0) {
        openedImages_.append(row);
        QList<MyDataObject> rows = nsMutaryOfDataObject;
        rows.append(row);
        setNsMutaryOfDataObject(rows);
        at = rows.size() - 1;
    }
    if (idTableView)
        idTableView->selectRow(int(at));
    return true;
}

void MyTableController::Open_Disk_Image()
{
    const QString path = dialogs_->chooseFile(window, QStringLiteral("Open Disk Image"),
                                              QStringLiteral("Disk images (*.img *.dd *.raw *.bin *.iso *.dmg *.image);;All files (*)"));
    if (!path.isEmpty())
        addDiskImage(path);
}

// ---- Scan range ----

static void setVisible(std::initializer_list<QWidget *> widgets, bool visible)
{
    for (QWidget *w : widgets)
        w->setVisible(visible);
}

static void showEntireGroup(OptionsControls &s, bool visible)
{
    setVisible({s.disk_sector_info_Box, s.disk, s.vol_name, s.file_system, s.size, s.start_sector_entire,
                s.end_sector_entire, s.disk_val, s.vol_name_val, s.file_system_val, s.size_val,
                s.start_sector_entire_val, s.end_sector_entire_val},
               visible);
}

static void showRangeGroup(OptionsControls &s, bool visible)
{
    setVisible({s.Sector_Range_Info, s.Start_Sec_Box, s.End_Sec_Box, s.Start_Sec_Min, s.Start_Sec_Min_val,
                s.Start_Sec_Max, s.Start_Sec_Max_val, s.Start_Sec_curr, s.Start_slider_val, s.Start_Slider,
                s.End_Sec_Min, s.End_Sec_Min_val, s.End_Sec_Max, s.End_Sec_Max_val, s.End_Sec_curr,
                s.End_slider_val, s.End_Slider},
               visible);
}

static void resetRange(OptionsControls &s, const QString &countText)
{
    const auto count = static_cast<uint64_t>(std::max<int64_t>(0, leadingInt64(countText)));
    s.Start_Slider->setSectorMaximum(count);
    s.Start_Slider->setSectorValue(0);
    s.Start_Sec_Min_val->setText(QStringLiteral("0"));
    s.Start_Sec_Max_val->setText(countText);
    s.Start_slider_val->setText(QStringLiteral("0"));
    s.End_Slider->setSectorMaximum(count);
    s.End_Slider->setSectorValue(count);
    s.End_Sec_Min_val->setText(QStringLiteral("0"));
    s.End_Sec_Max_val->setText(countText);
    s.End_slider_val->setText(countText);
}

void MyTableController::rangeInitialisation(OptionsControls &s, const MyDataObject &medium)
{
    s.entire_disk_rd->setChecked(true);
    s.sector_range_rd->setChecked(false);
    disk_identifier->setText(medium.nsStrDiskIdentifier());
    s.disk_val->setText(medium.nsStrDiskIdentifier());
    sectors_val->setText(medium.nsStrSectors());
    s.vol_name_val->setText(medium.nsStrVolName());
    s.file_system_val->setText(medium.nsStrFileSystem());
    s.size_val->setText(medium.nsStrSize());
    s.start_sector_entire_val->setText(QStringLiteral("0"));
    s.end_sector_entire_val->setText(medium.nsStrSectors());
    resetRange(s, medium.nsStrSectors());
    help_info->setText(kEntireDiskHelp);
    selectedDevicePath_ = medium.devicePath();
    lastMedium_ = medium.nsStrDiskIdentifier();
    askedNoFolder_ = false;
}

void MyTableController::entireDiskRadio(OptionsControls &s)
{
    help_info->setText(kEntireDiskHelp);
    s.entire_disk_rd->setChecked(true);
    s.sector_range_rd->setChecked(false);
    showEntireGroup(s, true);
    showRangeGroup(s, false);
}

void MyTableController::sectorRangeRadio(OptionsControls &s)
{
    help_info->setText(kSectorRangeHelp);
    s.entire_disk_rd->setChecked(false);
    s.sector_range_rd->setChecked(true);
    showEntireGroup(s, false);
    resetRange(s, s.end_sector_entire_val->text());
    showRangeGroup(s, true);
}

void MyTableController::doSlider(SectorSlider *slider, QLineEdit *field)
{
    field->setText(QString::number(static_cast<unsigned long long>(slider->sectorValue())));
}

void MyTableController::controlTextDidChange(QLineEdit *field)
{
    SectorSlider *slider = nullptr;
    for (OptionsControls *s : {&photo, &sig}) {
        if (field == s->Start_slider_val)
            slider = s->Start_Slider;
        else if (field == s->End_slider_val)
            slider = s->End_Slider;
    }
    if (!slider)
        return;
    const int64_t typed = leadingInt64(field->text());
    const int64_t count = leadingInt64(sectors_val->text());
    if (typed <= count)
        slider->setSectorValue(static_cast<uint64_t>(std::max<int64_t>(0, typed)));
}

RangeControls MyTableController::rangeControls(const OptionsControls &s) const
{
    return {s.entire_disk_rd->isChecked(), s.sector_range_rd->isChecked(), sectors_val->text(),
            s.Start_slider_val->text(), s.End_slider_val->text()};
}

bool MyTableController::rangeCheck(OptionsControls &s)
{
    const RangeAlert a = checkRange(rangeControls(s));
    if (a.number == 0)
        return true;
    alert(a.message(), a.informative());
    QLineEdit *field = a.field == RangeField::Start ? s.Start_slider_val : s.End_slider_val;
    field->setFocus(Qt::OtherFocusReason);
    return false;
}

// ---- Screens and navigation ----

void MyTableController::show_hide_1_screen(bool hidden)
{
    setVisible({idTableView, idtablesclview, refresh_btn, refresh_Box, refresh_Label, open_image_btn, rec_mode_Box,
                rec_mode_Photo, rec_mode_Video, rec_mode_RawFile},
               !hidden);
    mediaPage->setHidden(hidden);
}

void MyTableController::show_hide_2_screen(bool hidden)
{
    OptionsControls &s = currentSet();
    if (!hidden) {
        const bool entire = s.entire_disk_rd->isChecked() && !s.sector_range_rd->isChecked();
        const bool range = !s.entire_disk_rd->isChecked() && s.sector_range_rd->isChecked();
        showEntireGroup(s, entire);
        showRangeGroup(s, range);
    }
    setVisible({s.browse_Box, s.path_label, s.path, s.browse_path, s.searching_criteria_Box, s.entire_disk_rd,
                s.sector_range_rd},
               !hidden);
    if (s.Thro_Mode_Chk)
        setVisible({s.Thro_Mode_Chk, s.Thro_Mode_Chk_Label, s.Thro_Mode_Info}, !hidden);
    s.page->setHidden(hidden);
}

void MyTableController::setMode(int mode)
{
    Recovery_MODE = mode;
    rec_mode_Photo->setChecked(mode == 0);
    rec_mode_Video->setChecked(mode == 1);
    rec_mode_RawFile->setChecked(mode == 2);
}

void MyTableController::Photo_Mode_Radio() { setMode(0); }
void MyTableController::Video_Mode_Radio() { setMode(1); }
void MyTableController::RawFile_Mode_Radio() { setMode(2); }

void MyTableController::Next_btn()
{
    switch (screen_counter) {
    case 0: {
        const QModelIndexList selected = idTableView->selectionModel()->selectedRows();
        if (selected.isEmpty()) {
            alert(QStringLiteral("\nPlease select a storage media from list."));
            return;
        }
        const int row = selected.first().row();
        if (row < 0 || row >= nsMutaryOfDataObject.size())
            return;
        const MyDataObject medium = nsMutaryOfDataObject.at(row);
        screen_counter = 1;
        help_info->setText(kEntireDiskHelp);
        if (Recovery_MODE == 0) {
            photo.path->clear();
            rangeInitialisation(photo, medium);
            Thro_Mode_Chk->setChecked(true);
            Search_Type->setText(QStringLiteral("Search Type : Recover Photo"));
        } else {
            sig.path->clear();
            rangeInitialisation(sig, medium);
            Search_Type->setText(Recovery_MODE == 1 ? QStringLiteral("Search Type : Recover Video")
                                                    : QStringLiteral("Search Type : Recover Raw File"));
        }
        Search_Type->show();
        back_btn->setEnabled(true);
        show_hide_1_screen(true);
        show_hide_2_screen(false);
        return;
    }
    case 1: {
        if (!rangeCheck(currentSet()))
            return;
        OptionsControls &s = currentSet();
        if (!s.path->text().isEmpty() && folderIsOnMedium(s.path->text()))
            return;
        if (s.path->text().isEmpty() && !askedNoFolder_) {
            // An hour's scan of a dying card should not end with nothing kept: ask once. Esc
            // (Cancel) stays here; a folder chosen is shown here before anything starts.
            const int answer = dialogs_->alert(window, QStringLiteral("\nNo output folder is chosen."),
                                               QStringLiteral("Without one, found files are only listed; you can still save them "
                                                              "after the search. Choose a folder now?"),
                                               {QStringLiteral("Choose Folder\u2026"), QStringLiteral("Continue Without Saving"),
                                                QStringLiteral("Cancel")});
            if (answer == 1) {
                if (Browse_Path())
                    s.path->setFocus(Qt::OtherFocusReason);
                return;
            }
            if (answer != 0)
                return;
            askedNoFolder_ = true;
        }
        screen_counter = 2;
        Thro_Mode_Chk_SIG->setChecked(true);
        select_unselect_Chk->setChecked(true);
        show_hide_2_screen(true);
        stop_now = 0;
        addedCount_ = 0;
        if (Recovery_MODE == 0) {
            show_hide_3_screen_Photo(false);
            startScan();
            return;
        }
        Fill_Check_List();
        show_hide_3_screen_RawFile(false);
        return;
    }
    case 2:
        if (Recovery_MODE == 0 || !Apply_Check_List())
            return;
        if (!Thro_Mode_Chk_SIG->isChecked() && CheckListHeader_Array.isEmpty()) {
            // Only Thorough types are checked and the Thorough pass is off: nothing would be searched.
            alert(QStringLiteral("\nThe checked types are searched only by the Thorough pass."),
                  QStringLiteral("Check \u2018Thorough\u2019 or choose other types: as it is, nothing would be searched."));
            Thro_Mode_Chk_SIG->setFocus(Qt::OtherFocusReason);
            return;
        }
        screen_counter = 3;
        show_hide_3_screen_RawFile(true);
        show_hide_4_screen_RawFile(false);
        startScan();
        return;
    default:
        return;
    }
}

void MyTableController::Back_btn()
{
    // The found items are what is being saved: they stay until saving ends or is cancelled.
    if (savingAfterScan())
        return;
    switch (screen_counter) {
    case 1: {
        screen_counter = 0;
        Search_Type->hide();
        help_info->setText(kMediaHelp);
        for (QWidget *f : {static_cast<QWidget *>(sectors_val), static_cast<QWidget *>(disk_identifier)})
            static_cast<QLineEdit *>(f)->setText(QStringLiteral("<None>"));
        for (OptionsControls *s : {&photo, &sig})
            for (QLabel *l : {s->disk_val, s->vol_name_val, s->file_system_val, s->size_val, s->start_sector_entire_val,
                              s->end_sector_entire_val})
                l->setText(QStringLiteral("<None>"));
        back_btn->setEnabled(false);
        show_hide_1_screen(false);
        show_hide_2_screen(true);
        setMode(0);
        Reload_Drive_list_Function();
        return;
    }
    case 2: {
        screen_counter = 1;
        releaseMedium();  // the results go, and with them the way to their medium
        OptionsControls &s = currentSet();
        if (s.entire_disk_rd->isChecked() && !s.sector_range_rd->isChecked())
            help_info->setText(kEntireDiskHelp);
        else if (!s.entire_disk_rd->isChecked() && s.sector_range_rd->isChecked())
            help_info->setText(kSectorRangeHelp);
        images.clear();
        zoom_slider->setValue(50);
        imageBrowser->setZoom(0.55);
        imageModel_->reload();
        zoom_label->hide();
        zoom_slider->hide();
        show_hide_2_screen(false);
        if (Recovery_MODE == 0)
            show_hide_3_screen_Photo(true);
        else
            show_hide_3_screen_RawFile(true);
        showResults(false);
        stop_now = 0;
        addedCount_ = 0;
        return;
    }
    case 3:
        screen_counter = 2;
        releaseMedium();
        clearPreview();
        images.clear();
        imageModel_->reload();
        showResults(false);
        help_info->setText(kFileTypeHelp);
        show_hide_4_screen_RawFile(true);
        show_hide_3_screen_RawFile(false);
        stop_now = 0;
        addedCount_ = 0;
        return;
    default:
        return;
    }
}

// ---- Scan screens ----

void MyTableController::show_hide_3_screen_Photo(bool hidden)
{
    setVisible({idImagesclview, imageBrowser, Progress_Horz, sector_label, progress_details, Mode_label, stop_scan}, !hidden);
    next_btn->setEnabled(hidden);
    back_btn->setEnabled(hidden);
    photoScanPage->setHidden(hidden);
}

void MyTableController::show_hide_3_screen_RawFile(bool hidden)
{
    setVisible({idCheckTableView, idChecktablesclview, select_unselect_Chk, Thro_Mode_Chk_SIG}, !hidden);
    fileTypePage->setHidden(hidden);
}

void MyTableController::show_hide_4_screen_RawFile(bool hidden)
{
    // The pane starts empty; the video widget shows only while a movie is loaded.
    clearPreview();
    setVisible({Progress_Horz, sector_label, progress_details, Mode_label, stop_scan, idImagesclview_2, imageBrowser_2,
                QuickLook_View_Box, idSigTableView, idSigtablesclview},
               !hidden);
    next_btn->setEnabled(hidden);
    back_btn->setEnabled(hidden);
    QuickLook_View->setHidden(hidden);
    rawScanPage->setHidden(hidden);
}

void MyTableController::Fill_Check_List()
{
    lumafind::Fill_Check_List(nsCheckedListDataObject, basicFor(Recovery_MODE), advancedFor(Recovery_MODE));
    checkModel_->reload();
    help_info->setText(kFileTypeHelp);
}

bool MyTableController::Apply_Check_List()
{
    FoundFilesList rows;
    const bool any = lumafind::Apply_Check_List(nsCheckedListDataObject, basicFor(Recovery_MODE), advancedFor(Recovery_MODE),
                                                CheckListHeader_Array, CheckListHeader_Adv_Array, rows);
    setNsSIGFileInfoDataObject(rows);
    shownFoundFiles = rows;
    foundModel_->reload();
    if (!any) {
        dialogs_->alert(window, QStringLiteral("\nPlease select atleast one extension type."), QString(), {QStringLiteral("OK")});
        idCheckTableView->setFocus(Qt::OtherFocusReason);
    }
    return any;
}

void MyTableController::Select_Unselect_Check_btn()
{
    Select_Unselect(nsCheckedListDataObject, select_unselect_Chk->isChecked());
    checkModel_->reload();
}

void MyTableController::clickTable()
{
    select_unselect_Chk->setChecked(selectAllState(nsCheckedListDataObject));
}

void MyTableController::zoomSliderDidChange()
{
    imageBrowser->setZoom(zoom_slider->value() / 100.0);
}

// ---- The running scan ----

MediumRef MyTableController::selectedMedium() const
{
    MediumRef m;
    m.path = selectedDevicePath_.isEmpty() ? MyDataObject(disk_identifier->text(), {}, {}, {}, {}, {}).devicePath()
                                           : selectedDevicePath_;
    m.opener = mediumAccess_ ? mediumAccess_->opener() : deviceOpener;
    m.bad = badSectors();
    // The medium's exact size once a pass opened it; until then its whole sectors.
    m.bytes = mediumBytes() != UINT64_MAX ? mediumBytes() : uint64_t(std::max<int64_t>(0, leadingInt64(sectors_val->text()))) * kSectorSize;
    return m;
}

QList<ExportItem> MyTableController::exportItems() const
{
    QList<ExportItem> items;
    for (const MyImageObject &i : images) {
        ExportItem e;
        e.name = i.image_Name;
        e.extension = extensionOf(i.image_Name);
        e.pass = i.pass;
        e.startSector = i.File_Start_Sector;
        e.carvedBytes = i.carvedBytes ? i.carvedBytes : (i.File_End_Sector - i.File_Start_Sector) * kSectorSize;
        e.endsAtNextFile = i.endsAtNextFile;
        items.append(e);
    }
    assignCuts(items);
    return items;
}

void MyTableController::startScan()
{
    ScanRequest r;
    OptionsControls &s = currentSet();
    r.mode = Recovery_MODE;
    r.devicePath = selectedDevicePath_.isEmpty() ? MyDataObject(disk_identifier->text(), {}, {}, {}, {}, {}).devicePath()
                                                 : selectedDevicePath_;
    r.range = rangeControls(s);
    r.thorough = Recovery_MODE == 0 ? Thro_Mode_Chk->isChecked() : Thro_Mode_Chk_SIG->isChecked();
    // The video and raw-file scan follows the folder shown on its own options screen.
    r.outputFolder = s.path->text();
    scanFolder_ = r.outputFolder;
    saver_.reset();
    // One way to the medium for every reader of this scan: one password prompt at most.
    releaseMedium();
    mediumAccess_ = newMediumAccess();
    r.opener = mediumAccess_->opener();
    laterSaver_.reset();
    remnants_ = std::make_shared<Remnants>();
    r.remnants = remnants_;
    scanEnded_ = false;
    lastSummary_ = {};
    showResults(false);
    if (Recovery_MODE != 0)
        clearPreview();
    MediumRef medium{r.devicePath, UINT64_MAX, r.opener, badSectors()};
    if (!scanFolder_.isEmpty()) {
        saver_ = std::make_unique<FileSaver>(scanFolder_, medium);
        saver_->setRemnants(remnants_, s.original_names_Chk->isChecked());
        QString why;
        if (!saver_->prepare(&why)) {
            alert(QStringLiteral("\nThe output folder cannot be used."), why + QStringLiteral(" Found files will only be listed."));
            saver_.reset();
            scanFolder_.clear();
        } else {
            // The item's tooltip and mark say how long the saved file is and where it went.
            saver_->onSaved = [this](const SaveRecord &rec) {
                QMetaObject::invokeMethod(this, [this, rec] { showSaved(rec); }, Qt::QueuedConnection);
            };
        }
    }
    scanHadFolder_ = saver_ != nullptr;
    observer_->begin(saver_.get(), medium);
    // The timer exists before the worker can ask to end it.
    estimate_.reset();
    passesStarted_ = 0;
    passesPlanned_ = r.thorough ? 2 : 1;
    scanClock_.start();
    progress_details->clear();
    startTimerThread();
    session_.start(r, observer_.get(), [this] {
        QMetaObject::invokeMethod(this, [this] { workerFinished(); }, Qt::QueuedConnection);
    });
    // Next and Back are disabled now: the focus goes to Stop, not to Exit.
    if (stop_scan->isVisible())
        stop_scan->setFocus(Qt::OtherFocusReason);
}

void MyTableController::showSaved(const SaveRecord &rec)
{
    imageModel_->setExtent(rec.name, rec.startSector, rec.extent, rec.bytes, rec.savedPath, rec.containedIn, rec.captured);
    if (!rec.originalName.isEmpty())
        imageModel_->setRemembered(rec.name, rec.startSector, rec.originalName, rec.modified, rec.pieces);
}

void MyTableController::releaseMedium()
{
    if (mediumAccess_)
        mediumAccess_->release();
    mediumAccess_.reset();
}

void MyTableController::startTimerThread()
{
    if (!mSetLabelTimer) {
        mSetLabelTimer = new QTimer(this);
        mSetLabelTimer->setInterval(500);
        connect(mSetLabelTimer, &QTimer::timeout, this, &MyTableController::timerTickSetLabel);
    }
    mSetLabelTimer->start();
}

void MyTableController::workerFinished()
{
    session_.reap();
    endProgressTimer();
    if (quitting_)
        finishShutDown();
}

void MyTableController::timerTickSetLabel()
{
    const uint64_t f = for_index, e = end_sector;
    if (f <= e) {
        sector_label->setText(progressText(f, start_sector, e, total_sector));
        Progress_Horz->setSectorValue(f - start_sector);
    }
    if (session_.running() && passesStarted_ > 0) {
        const ScanAmount whole = scanAmount(passesStarted_, passesPlanned_, start_sector, f, e);
        estimate_.update(double(scanClock_.elapsed()) / 1000.0, whole.done, whole.total);
        progress_details->setText(progressDetails());
    }
}

QString MyTableController::progressDetails() const
{
    QStringList parts;
    parts << QStringLiteral("Elapsed %1").arg(durationText(estimate_.elapsed()));
    parts << QStringLiteral("%1 MB/s").arg(estimate_.bytesPerSecond() / 1e6, 0, 'f', 1);
    const std::optional<double> left = estimate_.secondsLeft();
    parts << (left ? QStringLiteral("about %1 left").arg(durationText(*left)) : QStringLiteral("estimating the time left\u2026"));
    if (Recovery_MODE == 0) {
        const uint64_t n = filesFound();
        parts << (n == 1 ? QStringLiteral("1 photo found") : QStringLiteral("%1 photos found").arg(n));
    }
    return parts.join(QStringLiteral("  \u00B7  "));
}

void MyTableController::endProgressTimer()
{
    if (mSetLabelTimer)
        mSetLabelTimer->stop();
}

void MyTableController::onPassStarted(const PassStart &p)
{
    ++passesStarted_;
    if (p.tag == QLatin1String("GEN")) {
        images.clear();
        imageModel_->reload();
        if (Recovery_MODE == 0) {
            zoom_slider->setValue(50);
            imageBrowser->setZoom(0.55);
        } else {
            Prev_Index = 2147483647u;
        }
    }
    Mode_label->setText(p.modeLabel);
    Progress_Horz->setSectorMaximum(p.totalSector);
    Progress_Horz->setSectorValue(0);
    sector_label->setText(progressText(p.startSector, p.startSector, p.endSector, p.totalSector));
    Thro_Mode_Chk->setEnabled(false);
    photo.browse_path->setEnabled(false);
    sig.browse_path->setEnabled(false);
    if (Recovery_MODE != 0)
        QuickLook_View_Box->setTitle(QStringLiteral("No file is selected to preview"));
    help_info->setText(p.helpText);
}

void MyTableController::addImageWithData(MyImageObject &&item)
{
    images.append(std::move(item));
    imageModel_->appended();
    if (++addedCount_ % 6 == 0)
        imageBrowser->scrollTo(imageModel_->index(int(images.size()) - 1));
}

void MyTableController::addImageWithData_2(MyImageObject &&item)
{
    const qsizetype row = countFoundFile(shownFoundFiles, item.image_Name);
    images.append(std::move(item));
    imageModel_->appended();
    if (row >= 0)
        foundModel_->reload();
    if (++addedCount_ % 4 == 0)
        imageBrowser_2->scrollTo(imageModel_->index(int(images.size()) - 1));
}

void MyTableController::onUnreadableSectors(uint64_t, uint64_t)
{
    // Counted in the scan's set of unreadable sectors, once per sector.
}

void MyTableController::workerAlert(const QString &message, const QString &informative)
{
    if (quitting_)
        return;
    whenNoModal([this, message, informative] {
        if (!quitting_)
            dialogs_->alert(window, message, informative, {QStringLiteral("OK")});
    });
}

// The controls a scan changes, as the options and file-type screens want them.
void MyTableController::restoreAfterScan()
{
    setVisible({ClearThumbnail_Label, Mode_label, Progress_Horz, sector_label, progress_details, stop_scan}, false);
    back_btn->setEnabled(true);
    photo.browse_path->setEnabled(true);
    sig.browse_path->setEnabled(true);
    Thro_Mode_Chk->setEnabled(true);
}

void MyTableController::onOpenFailed()
{
    --screen_counter;
    endProgressTimer();
    restoreAfterScan();
    if (Recovery_MODE == 0) {
        show_hide_2_screen(false);
        show_hide_3_screen_Photo(true);
        const OptionsControls &s = photo;
        help_info->setText(s.sector_range_rd->isChecked() ? kSectorRangeHelp : kEntireDiskHelp);
    } else {
        show_hide_3_screen_RawFile(false);
        show_hide_4_screen_RawFile(true);
        help_info->setText(kFileTypeHelp);
    }
    showResults(false);
    addedCount_ = 0;
}

void MyTableController::onEndOfScan(const ScanSummary &s)
{
    // Queued by the worker, which does not wait for it: nothing here holds a thread back. After
    // an alert of the scan that is still open, not on top of it.
    whenNoModal([this, s] { showEndOfScan(s); });
}

void MyTableController::showEndOfScan(const ScanSummary &s)
{
    help_info->setText(kEndOfScanHelp);
    restoreAfterScan();
    scanEnded_ = true;
    lastSummary_ = s;
    if (quitting_)
        return;  // the program is closing: nothing to show
    QString text = s.found == 1 ? QStringLiteral("Lumafind found 1 file") : QStringLiteral("Lumafind found %1 files").arg(s.found);
    text += s.stopped ? QStringLiteral(" before the search was stopped.") : QStringLiteral(".");
    if (saver_) {
        text += QStringLiteral("\n%1 saved in %2.").arg(saver_->savedCount()).arg(breakablePath(scanFolder_));
        const QList<SaveRecord> records = saver_->records();
        const auto contained = std::count_if(records.begin(), records.end(), [](const SaveRecord &r) { return !r.containedIn.isEmpty(); });
        if (contained > 0)
            text += QStringLiteral("\n%1 were parts of files already saved and were not saved again.").arg(contained);
        if (saver_->failedCount() > 0)
            text += QStringLiteral("\n%1 could not be saved: %2").arg(saver_->failedCount()).arg(saver_->stopReason());
        for (const QString &notice : saver_->notices())
            text += QLatin1Char('\n') + notice;
    } else if (s.found > 0) {
        text += QStringLiteral("\nNo output folder was chosen, so the files are only listed. Use \u201cSave found files\u2026\u201d to save them.");
    }
    if (s.unreadable > 0)
        text += QStringLiteral("\n%1 sectors of the medium could not be read; they were treated as blank.").arg(s.unreadable);
    if (s.failed)
        text += QStringLiteral("\nThe search ended early because the medium could not be read.");
    if (Recovery_MODE == 0) {
        zoom_label->show();
        zoom_slider->show();
    } else {
        zoom_label->hide();
        zoom_slider->hide();
    }
    // The result line stays under the found items, with the same "Save found files…".
    showResults(true);
    currentSet().save_found->setFocus(Qt::OtherFocusReason);
    if (!currentSet().save_found->isVisible())
        back_btn->setFocus(Qt::OtherFocusReason);
    QDialog *info = Recovery_MODE == 0 ? SaveFile_Info_Window : SaveFile_Info_For_RAW_Window;
    (Recovery_MODE == 0 ? saveInfoText : saveInfoRawText)->setText(text);
    (Recovery_MODE == 0 ? saveFoundButton : saveFoundButtonRaw)->setVisible(!saver_ && s.found > 0);
    const int code = dialogs_->runModal(info);
    info->hide();
    if (code == 2)
        QTimer::singleShot(0, this, [this] { saveFoundFiles(); });
}

} // namespace lumafind
