#include "mainwindow.h"

#include "app/MyTableController.h"
#include "app/browserview.h"
#include "app/imagemodel.h"
#include "app/sectorwidgets.h"
#include "app/tablemodels.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QMainWindow>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QShortcut>
#include <QTableView>
#include <QSlider>
#include <QSplitter>
#include <QVBoxLayout>
#include <QVideoWidget>

namespace lumafind {

namespace {

template <typename W>
W *named(W *w, const QString &name)
{
    w->setObjectName(name);
    return w;
}

QLabel *label(QWidget *parent, const QString &name, const QString &text = QString())
{
    return named(new QLabel(text, parent), name);
}

// A caption whose text lines its colon up with tabs ("Disk\t\t\t\t:"): drawn as the words on the
// left and the colon at the right edge, so the colons of a column line up in any font.
class CaptionLabel : public QLabel {
public:
    using QLabel::QLabel;
    QSize sizeHint() const override
    {
        return {fontMetrics().horizontalAdvance(text().section(QLatin1Char('\t'), 0, 0)) + 24, QLabel::sizeHint().height()};
    }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        const QString words = text().section(QLatin1Char('\t'), 0, 0).trimmed();
        const QString tail = text().section(QLatin1Char('\t'), -1).trimmed();
        p.setPen(palette().color(QPalette::WindowText));
        p.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter, words);
        if (text().contains(QLatin1Char('\t')))
            p.drawText(rect(), Qt::AlignRight | Qt::AlignVCenter, tail);
    }
};

// One of the two identical options screens.
QWidget *buildOptionsPage(MyTableController &c, OptionsControls &s, const QString &suffix, bool photo)
{
    auto *page = named(new QWidget, QStringLiteral("options_page") + suffix);
    s.page = page;
    auto *v = new QVBoxLayout(page);
    auto n = [&](const char *base) { return QString::fromLatin1(base) + suffix; };

    s.searching_criteria_Box = named(new QGroupBox(QStringLiteral("Search in"), page), n("searching_criteria_Box"));
    auto *crit = new QHBoxLayout(s.searching_criteria_Box);
    s.entire_disk_rd = named(new QRadioButton(QStringLiteral("Entire Disk"), s.searching_criteria_Box), n("entire_disk_rd"));
    s.sector_range_rd = named(new QRadioButton(QStringLiteral("Sector Range"), s.searching_criteria_Box), n("sector_range_rd"));
    auto *group = new QButtonGroup(page);
    group->addButton(s.entire_disk_rd);
    group->addButton(s.sector_range_rd);
    s.entire_disk_rd->setChecked(true);
    crit->addWidget(s.entire_disk_rd);
    crit->addWidget(s.sector_range_rd);
    crit->addStretch(1);
    v->addWidget(s.searching_criteria_Box);

    s.disk_sector_info_Box = named(new QGroupBox(QStringLiteral("Selected medium"), page), n("disk_sector_info_Box"));
    auto *info = new QGridLayout(s.disk_sector_info_Box);
    QLabel **captions[] = {&s.disk, &s.vol_name, &s.file_system, &s.size, &s.start_sector_entire, &s.end_sector_entire};
    QLabel **values[] = {&s.disk_val, &s.vol_name_val, &s.file_system_val, &s.size_val, &s.start_sector_entire_val,
                         &s.end_sector_entire_val};
    const char *captionNames[] = {"disk", "vol_name", "file_system", "size", "start_sector_entire", "end_sector_entire"};
    for (int i = 0; i < 6; ++i) {
        *captions[i] = named(new CaptionLabel(s.disk_sector_info_Box), n(captionNames[i]));
        (*captions[i])->setMinimumWidth(130);
        *values[i] = label(s.disk_sector_info_Box, QString::fromLatin1(captionNames[i]) + QStringLiteral("_val") + suffix,
                           QStringLiteral("<None>"));
        (*values[i])->setTextInteractionFlags(Qt::TextSelectableByMouse);
        info->addWidget(*captions[i], i, 0);
        info->addWidget(*values[i], i, 1);
    }
    info->setColumnStretch(1, 1);
    v->addWidget(s.disk_sector_info_Box);

    s.Sector_Range_Info = label(page, n("Sector_Range_Info"),
                                QStringLiteral("Search from the start sector up to, but not including, the end sector."));
    v->addWidget(s.Sector_Range_Info);
    auto rangeBox = [&](bool start) {
        const QString which = start ? QStringLiteral("Start") : QStringLiteral("End");
        auto *box = named(new QGroupBox(which + QStringLiteral(" Sector"), page), which + QStringLiteral("_Sec_Box") + suffix);
        auto *g = new QGridLayout(box);
        auto *minCap = label(box, which + QStringLiteral("_Sec_Min") + suffix, QStringLiteral("Minimum"));
        auto *minVal = label(box, which + QStringLiteral("_Sec_Min_val") + suffix, QStringLiteral("0"));
        auto *maxCap = label(box, which + QStringLiteral("_Sec_Max") + suffix, QStringLiteral("Maximum"));
        auto *maxVal = label(box, which + QStringLiteral("_Sec_Max_val") + suffix, QStringLiteral("0"));
        auto *cur = label(box, which + QStringLiteral("_Sec_curr") + suffix, which + QStringLiteral(" sector"));
        auto *field = named(new QLineEdit(box), which + QStringLiteral("_slider_val") + suffix);
        auto *slider = named(new SectorSlider(box), which + QStringLiteral("_Slider") + suffix);
        g->addWidget(minCap, 0, 0);
        g->addWidget(minVal, 0, 1);
        g->addWidget(maxCap, 0, 2);
        g->addWidget(maxVal, 0, 3);
        g->addWidget(cur, 1, 0);
        g->addWidget(field, 1, 1, 1, 3);
        g->addWidget(slider, 2, 0, 1, 4);
        if (start) {
            s.Start_Sec_Box = box; s.Start_Sec_Min = minCap; s.Start_Sec_Min_val = minVal; s.Start_Sec_Max = maxCap;
            s.Start_Sec_Max_val = maxVal; s.Start_Sec_curr = cur; s.Start_slider_val = field; s.Start_Slider = slider;
        } else {
            s.End_Sec_Box = box; s.End_Sec_Min = minCap; s.End_Sec_Min_val = minVal; s.End_Sec_Max = maxCap;
            s.End_Sec_Max_val = maxVal; s.End_Sec_curr = cur; s.End_slider_val = field; s.End_Slider = slider;
        }
        v->addWidget(box);
    };
    rangeBox(true);
    rangeBox(false);

    s.browse_Box = named(new QGroupBox(QStringLiteral("Output folder"), page), n("browse_Box"));
    auto *browseRows = new QVBoxLayout(s.browse_Box);
    auto *browse = new QHBoxLayout;
    browseRows->addLayout(browse);
    s.path_label = label(s.browse_Box, n("path_label"), QStringLiteral("Save found files in"));
    s.path = named(new QLineEdit(s.browse_Box), n("path"));
    s.path->setReadOnly(true);
    s.path->setPlaceholderText(QStringLiteral("Choose a folder on another disk than the one you recover"));
    s.browse_path = named(new QPushButton(QStringLiteral("B&rowse…"), s.browse_Box), n("browse_path"));
    browse->addWidget(s.path_label);
    browse->addWidget(s.path, 1);
    browse->addWidget(s.browse_path);
    s.original_names_Chk = named(new QCheckBox(QStringLiteral("Name files as the card remembers them, where it does"),
                                               s.browse_Box), n("original_names_Chk"));
    s.original_names_Chk->setToolTip(QStringLiteral(
        "A file whose deleted directory entry is still on the card is saved under its old name and "
        "date; a lost first letter is written \"_\". Other files keep names such as GND00001.JPG."));
    browseRows->addWidget(s.original_names_Chk);
    v->addWidget(s.browse_Box);

    if (photo) {
        auto *row = new QHBoxLayout;
        s.Thro_Mode_Chk = named(new QCheckBox(page), QStringLiteral("Thro_Mode_Chk"));
        s.Thro_Mode_Chk_Label = label(page, QStringLiteral("Thro_Mode_Chk_Label"), QStringLiteral("Thorough search"));
        s.Thro_Mode_Info = label(page, QStringLiteral("Thro_Mode_Info"),
                                 QStringLiteral("A second pass searches the same range again for rarer picture formats."));
        s.Thro_Mode_Info->setWordWrap(true);
        row->addWidget(s.Thro_Mode_Chk);
        row->addWidget(s.Thro_Mode_Chk_Label);
        row->addWidget(s.Thro_Mode_Info, 1);
        v->addLayout(row);
    }
    v->addStretch(1);

    // Actions of the set.
    QObject::connect(s.entire_disk_rd, &QRadioButton::clicked, &c, [&c, &s] { c.entireDiskRadio(s); });
    QObject::connect(s.sector_range_rd, &QRadioButton::clicked, &c, [&c, &s] { c.sectorRangeRadio(s); });
    QObject::connect(s.Start_Slider, &SectorSlider::userMoved, &c, [&c, &s] { c.doSlider(s.Start_Slider, s.Start_slider_val); });
    QObject::connect(s.End_Slider, &SectorSlider::userMoved, &c, [&c, &s] { c.doSlider(s.End_Slider, s.End_slider_val); });
    QObject::connect(s.Start_slider_val, &QLineEdit::textEdited, &c, [&c, &s] { c.controlTextDidChange(s.Start_slider_val); });
    QObject::connect(s.End_slider_val, &QLineEdit::textEdited, &c, [&c, &s] { c.controlTextDidChange(s.End_slider_val); });
    return page;
}

// The result line of a scan screen: stays after the end-of-scan window until Back or the next scan.
QWidget *buildResultRow(MyTableController &c, OptionsControls &s, QWidget *page, const QString &suffix)
{
    auto *row = named(new QWidget(page), QStringLiteral("result_row") + suffix);
    auto *h = new QHBoxLayout(row);
    h->setContentsMargins(0, 0, 0, 0);
    s.resultRow = row;
    s.result_label = label(row, QStringLiteral("result_label") + suffix);
    s.result_label->setWordWrap(true);
    s.result_label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    s.result_label->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    s.save_progress = named(new QProgressBar(row), QStringLiteral("save_progress") + suffix);
    s.save_progress->setMaximumWidth(180);
    s.save_progress->hide();
    s.cancel_save = named(new QPushButton(QStringLiteral("Cancel"), row), QStringLiteral("cancel_save") + suffix);
    s.cancel_save->setToolTip(QStringLiteral("Stop saving: what is saved stays, the file being written is removed."));
    s.cancel_save->hide();
    s.save_found = named(new QPushButton(QStringLiteral("Save found files…"), row), QStringLiteral("save_found") + suffix);
    s.open_folder = named(new QPushButton(QStringLiteral("Open Output Folder"), row),
                          suffix.isEmpty() ? QStringLiteral("open_folder") : QStringLiteral("open_folder_Sig"));
    h->addWidget(s.result_label, 1);
    h->addWidget(s.save_progress);
    h->addWidget(s.cancel_save);
    h->addWidget(s.save_found);
    h->addWidget(s.open_folder);
    row->hide();
    QObject::connect(s.save_found, &QPushButton::clicked, &c, &MyTableController::saveFoundFiles);
    QObject::connect(s.cancel_save, &QPushButton::clicked, &c, &MyTableController::cancelSaving);
    return row;
}

QWidget *buildMediaPage(MyTableController &c)
{
    auto *page = named(new QWidget, QStringLiteral("media_page"));
    auto *v = new QVBoxLayout(page);
    c.rec_mode_Box = named(new QGroupBox(QStringLiteral("What do you want to recover?"), page), QStringLiteral("rec_mode_Box"));
    auto *modes = new QHBoxLayout(c.rec_mode_Box);
    c.rec_mode_Photo = named(new QRadioButton(QStringLiteral("Photos"), c.rec_mode_Box), QStringLiteral("rec_mode_Photo"));
    c.rec_mode_Video = named(new QRadioButton(QStringLiteral("Videos"), c.rec_mode_Box), QStringLiteral("rec_mode_Video"));
    c.rec_mode_RawFile = named(new QRadioButton(QStringLiteral("Raw Files (documents, archives, audio)"), c.rec_mode_Box),
                               QStringLiteral("rec_mode_RawFile"));
    c.rec_mode_Photo->setChecked(true);
    modes->addWidget(c.rec_mode_Photo);
    modes->addWidget(c.rec_mode_Video);
    modes->addWidget(c.rec_mode_RawFile);
    modes->addStretch(1);
    v->addWidget(c.rec_mode_Box);

    c.idtablesclview = named(new QWidget(page), QStringLiteral("idtablesclview"));
    auto *tl = new QVBoxLayout(c.idtablesclview);
    tl->setContentsMargins(0, 0, 0, 0);
    c.idTableView = named(new QTableView(c.idtablesclview), QStringLiteral("idTableView"));
    c.idTableView->setModel(c.mediaModel());
    c.idTableView->setSelectionBehavior(QAbstractItemView::SelectRows);
    c.idTableView->setSelectionMode(QAbstractItemView::SingleSelection);
    c.idTableView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    c.idTableView->verticalHeader()->hide();
    c.idTableView->horizontalHeader()->setStretchLastSection(true);
    c.idTableView->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    c.idTableView->setTabKeyNavigation(false);  // Tab goes to the next control
    tl->addWidget(c.idTableView);
    v->addWidget(c.idtablesclview, 1);

    c.refresh_Box = named(new QGroupBox(page), QStringLiteral("refresh_Box"));
    auto *refresh = new QHBoxLayout(c.refresh_Box);
    c.refresh_Label = label(c.refresh_Box, QStringLiteral("refresh_Label"),
                            QStringLiteral("Insert the card and press Refresh, or open a disk image file."));
    c.refresh_btn = named(new QPushButton(QStringLiteral("Refresh"), c.refresh_Box), QStringLiteral("refresh_btn"));
    c.open_image_btn = named(new QPushButton(QStringLiteral("Open Disk Image…"), c.refresh_Box), QStringLiteral("open_image_btn"));
    refresh->addWidget(c.refresh_Label, 1);
    refresh->addWidget(c.open_image_btn);
    refresh->addWidget(c.refresh_btn);
    v->addWidget(c.refresh_Box);

    QObject::connect(c.rec_mode_Photo, &QRadioButton::clicked, &c, &MyTableController::Photo_Mode_Radio);
    QObject::connect(c.rec_mode_Video, &QRadioButton::clicked, &c, &MyTableController::Video_Mode_Radio);
    QObject::connect(c.rec_mode_RawFile, &QRadioButton::clicked, &c, &MyTableController::RawFile_Mode_Radio);
    QObject::connect(c.refresh_btn, &QPushButton::clicked, &c, &MyTableController::rebresh_drives);
    QObject::connect(c.open_image_btn, &QPushButton::clicked, &c, &MyTableController::Open_Disk_Image);
    // A double-click on a medium is Next.
    QObject::connect(c.idTableView, &QAbstractItemView::doubleClicked, &c, [&c] {
        if (c.screen_counter == 0)
            c.Next_btn();
    });
    return page;
}

QWidget *buildPhotoScanPage(MyTableController &c)
{
    auto *page = named(new QWidget, QStringLiteral("photo_scan_page"));
    auto *v = new QVBoxLayout(page);
    c.idImagesclview = named(new QWidget(page), QStringLiteral("idImagesclview"));
    auto *l = new QVBoxLayout(c.idImagesclview);
    l->setContentsMargins(0, 0, 0, 0);
    c.imageBrowser = named(new BrowserView(c.idImagesclview), QStringLiteral("imageBrowser"));
    c.imageBrowser->setModel(c.imageModel());
    l->addWidget(c.imageBrowser);
    v->addWidget(c.idImagesclview, 1);
    auto *row = new QHBoxLayout;
    c.ClearThumbnail_Label = label(page, QStringLiteral("ClearThumbnail_Label"), QStringLiteral("Photos appear here as they are found."));
    c.ClearThumbnail_Label->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    c.zoom_label = label(page, QStringLiteral("zoom_label"), QStringLiteral("Thumbnail size"));
    c.zoom_slider = named(new QSlider(Qt::Horizontal, page), QStringLiteral("zoom_slider"));
    c.zoom_slider->setRange(0, 100);
    c.zoom_slider->setValue(50);
    c.zoom_slider->setMaximumWidth(200);
    c.zoom_label->hide();
    c.zoom_slider->hide();
    row->addWidget(c.ClearThumbnail_Label, 1);
    row->addWidget(c.zoom_label);
    row->addWidget(c.zoom_slider);
    row->addStretch(1);
    v->addLayout(row);
    v->addWidget(buildResultRow(c, c.photo, page, QString()));
    QObject::connect(c.zoom_slider, &QSlider::valueChanged, &c, &MyTableController::zoomSliderDidChange);
    return page;
}

QWidget *buildFileTypePage(MyTableController &c)
{
    auto *page = named(new QWidget, QStringLiteral("file_type_page"));
    auto *v = new QVBoxLayout(page);
    c.idChecktablesclview = named(new QWidget(page), QStringLiteral("idChecktablesclview"));
    auto *l = new QVBoxLayout(c.idChecktablesclview);
    l->setContentsMargins(0, 0, 0, 0);
    c.idCheckTableView = named(new QTableView(c.idChecktablesclview), QStringLiteral("idCheckTableView"));
    c.idCheckTableView->setModel(c.checkListModel());
    c.idCheckTableView->verticalHeader()->hide();
    c.idCheckTableView->setSelectionMode(QAbstractItemView::NoSelection);
    c.idCheckTableView->horizontalHeader()->setStretchLastSection(true);
    c.idCheckTableView->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    c.idCheckTableView->verticalHeader()->setDefaultSectionSize(c.idCheckTableView->fontMetrics().height() + 8);
    c.idCheckTableView->setTabKeyNavigation(false);
    l->addWidget(c.idCheckTableView);
    v->addWidget(c.idChecktablesclview, 1);
    auto *row = new QHBoxLayout;
    c.select_unselect_Chk = named(new QCheckBox(QStringLiteral("Select all"), page), QStringLiteral("select_unselect_Chk"));
    c.Thro_Mode_Chk_SIG = named(new QCheckBox(QStringLiteral("Thorough search (a second pass for rarer types)"), page),
                                QStringLiteral("Thro_Mode_Chk_SIG"));
    row->addWidget(c.select_unselect_Chk);
    row->addStretch(1);
    row->addWidget(c.Thro_Mode_Chk_SIG);
    v->addLayout(row);
    QObject::connect(c.select_unselect_Chk, &QCheckBox::clicked, &c, &MyTableController::Select_Unselect_Check_btn);
    QObject::connect(c.Thro_Mode_Chk_SIG, &QCheckBox::clicked, &c, &MyTableController::Thro_Mode_Chk_SIG_Btn);
    QObject::connect(c.checkListModel(), &CheckListModel::stateClicked, &c, &MyTableController::clickTable);
    return page;
}

QWidget *buildRawScanPage(MyTableController &c)
{
    auto *page = named(new QWidget, QStringLiteral("raw_scan_page"));
    auto *v = new QVBoxLayout(page);
    auto *split = new QSplitter(Qt::Horizontal, page);
    auto *left = new QWidget(split);
    auto *lv = new QVBoxLayout(left);
    lv->setContentsMargins(0, 0, 0, 0);
    c.idImagesclview_2 = named(new QWidget(left), QStringLiteral("idImagesclview_2"));
    auto *il = new QVBoxLayout(c.idImagesclview_2);
    il->setContentsMargins(0, 0, 0, 0);
    c.imageBrowser_2 = named(new BrowserView(c.idImagesclview_2), QStringLiteral("imageBrowser_2"));
    c.imageBrowser_2->setModel(c.imageModel());
    c.imageBrowser_2->setViewMode(QListView::ListMode);
    c.imageBrowser_2->setIconSize(QSize(16, 16));
    c.imageBrowser_2->setGridSize(QSize());
    c.imageBrowser_2->setSpacing(1);
    il->addWidget(c.imageBrowser_2);
    lv->addWidget(c.idImagesclview_2, 3);
    c.idSigtablesclview = named(new QWidget(left), QStringLiteral("idSigtablesclview"));
    auto *sl = new QVBoxLayout(c.idSigtablesclview);
    sl->setContentsMargins(0, 0, 0, 0);
    c.idSigTableView = named(new QTableView(c.idSigtablesclview), QStringLiteral("idSigTableView"));
    c.idSigTableView->setModel(c.foundFilesModel());
    c.idSigTableView->verticalHeader()->hide();
    c.idSigTableView->horizontalHeader()->setStretchLastSection(true);
    c.idSigTableView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    c.idSigTableView->verticalHeader()->setDefaultSectionSize(c.idSigTableView->fontMetrics().height() + 6);
    c.idSigTableView->setTabKeyNavigation(false);
    sl->addWidget(c.idSigTableView);
    lv->addWidget(c.idSigtablesclview, 1);
    c.QuickLook_View_Box = named(new QGroupBox(QStringLiteral("No file is selected to preview"), split), QStringLiteral("QuickLook_View_Box"));
    auto *pv = new QVBoxLayout(c.QuickLook_View_Box);
    c.QuickLook_View = label(c.QuickLook_View_Box, QStringLiteral("QuickLook_View"));
    c.QuickLook_View->setAlignment(Qt::AlignCenter);
    c.QuickLook_View->setMinimumSize(220, 220);
    c.mMovieView = named(new QVideoWidget(c.QuickLook_View_Box), QStringLiteral("mMovieView"));
    c.mMovieView->setMinimumSize(220, 160);
    c.mMovieView->hide();
    pv->addWidget(c.QuickLook_View, 1);
    pv->addWidget(c.mMovieView, 1);
    // A movie's play / pause and position (the player's own position and duration).
    c.movieControls = named(new QWidget(c.QuickLook_View_Box), QStringLiteral("movie_controls"));
    auto *mc = new QHBoxLayout(c.movieControls);
    mc->setContentsMargins(0, 0, 0, 0);
    c.movie_play = named(new QPushButton(QStringLiteral("Pause"), c.movieControls), QStringLiteral("movie_play"));
    c.movie_position = named(new QSlider(Qt::Horizontal, c.movieControls), QStringLiteral("movie_position"));
    mc->addWidget(c.movie_play);
    mc->addWidget(c.movie_position, 1);
    c.movieControls->hide();
    pv->addWidget(c.movieControls);
    // The copy of the item being previewed: its progress, and Cancel to stop it and see what is copied.
    c.previewControls = named(new QWidget(c.QuickLook_View_Box), QStringLiteral("preview_controls"));
    auto *pc = new QHBoxLayout(c.previewControls);
    pc->setContentsMargins(0, 0, 0, 0);
    c.preview_progress = named(new QProgressBar(c.previewControls), QStringLiteral("preview_progress"));
    c.preview_progress->setFormat(QStringLiteral("%p%"));
    c.cancel_preview = named(new QPushButton(QStringLiteral("Cancel"), c.previewControls), QStringLiteral("cancel_preview"));
    c.cancel_preview->setToolTip(QStringLiteral("Stop copying and show what is copied so far."));
    pc->addWidget(label(c.previewControls, QStringLiteral("preview_copying"), QStringLiteral("Copying\u2026")));
    pc->addWidget(c.preview_progress, 1);
    pc->addWidget(c.cancel_preview);
    c.previewControls->hide();
    pv->addWidget(c.previewControls);
    QObject::connect(c.cancel_preview, &QPushButton::clicked, &c, &MyTableController::cancelPreview);
    QObject::connect(c.movie_play, &QPushButton::clicked, &c, &MyTableController::playPauseMovie);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);
    v->addWidget(split, 1);
    v->addWidget(buildResultRow(c, c.sig, page, QStringLiteral("_Sig")));
    return page;
}

QDialog *infoWindow(QWidget *parent, const QString &name, QLabel **text, QPushButton **saveFound)
{
    auto *d = named(new QDialog(parent), name);
    d->setWindowTitle(QStringLiteral("Lumafind"));
    auto *l = new QVBoxLayout(d);
    *text = new QLabel(d);
    (*text)->setWordWrap(true);
    (*text)->setMinimumWidth(360);
    l->addWidget(*text);
    auto *ok = new QPushButton(QStringLiteral("OK"), d);
    ok->setDefault(true);
    QObject::connect(ok, &QPushButton::clicked, d, [d] { d->done(1); });
    auto *row = new QHBoxLayout;
    if (saveFound) {
        *saveFound = named(new QPushButton(QStringLiteral("Save found files…"), d), name + QStringLiteral("_save"));
        QObject::connect(*saveFound, &QPushButton::clicked, d, [d] { d->done(2); });
        row->addWidget(*saveFound);
    }
    row->addStretch(1);
    row->addWidget(ok);
    l->addLayout(row);
    return d;
}

QDialog *noteWindow(QWidget *parent, const QString &name, const QString &title, const QString &text, const QString &button)
{
    QLabel *label = nullptr;
    QDialog *d = infoWindow(parent, name, &label, nullptr);
    d->setWindowTitle(title);
    label->setText(text);
    label->setTextFormat(Qt::RichText);
    d->findChildren<QPushButton *>().first()->setText(button);
    return d;
}

QDialog *waitWindow(QWidget *parent, const QString &name, const QString &text)
{
    auto *d = named(new QDialog(parent), name);
    d->setWindowTitle(QStringLiteral("Lumafind"));
    auto *l = new QVBoxLayout(d);
    l->addWidget(new QLabel(text, d));
    // Moving while the work goes on beside the window.
    auto *busy = new QProgressBar(d);
    busy->setRange(0, 0);
    busy->setTextVisible(false);
    busy->setMinimumWidth(280);
    l->addWidget(busy);
    d->setModal(false);
    return d;
}

} // namespace

QMainWindow *buildMainWindow(MyTableController &c)
{
    auto *win = named(new QMainWindow, QStringLiteral("window"));
    win->setWindowTitle(QStringLiteral("Lumafind"));
    // An explicit minimum: otherwise the word-wrapped help line sets the window's least height
    // for its least width, and the window grows by itself from screen to screen. Every screen
    // fits in it; the window opens larger where the screen has room.
    const QSize avail = win->screen() ? win->screen()->availableGeometry().size() - QSize(0, 40) : QSize(960, 700);
    win->setMinimumSize(QSize(720, 540).boundedTo(avail));
    win->resize(QSize(960, 700).boundedTo(avail));
    auto *central = new QWidget(win);
    auto *outer = new QVBoxLayout(central);

    c.help_info = label(central, QStringLiteral("help_info"));
    c.help_info->setWordWrap(true);
    c.help_info->setMinimumHeight(64);
    c.help_info->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    outer->addWidget(c.help_info);
    c.Search_Type = label(central, QStringLiteral("Search_Type"));
    QFont bold = c.Search_Type->font();
    bold.setBold(true);
    c.Search_Type->setFont(bold);
    c.Search_Type->hide();
    outer->addWidget(c.Search_Type);

    c.mediaPage = buildMediaPage(c);
    outer->addWidget(c.mediaPage, 1);
    outer->addWidget(buildOptionsPage(c, c.photo, QString(), true), 1);
    outer->addWidget(buildOptionsPage(c, c.sig, QStringLiteral("_Sig"), false), 1);
    c.photoScanPage = buildPhotoScanPage(c);
    c.fileTypePage = buildFileTypePage(c);
    c.rawScanPage = buildRawScanPage(c);
    for (QWidget *page : {c.photoScanPage, c.fileTypePage, c.rawScanPage}) {
        outer->addWidget(page, 1);
        page->hide();
    }
    c.photo.page->hide();
    c.sig.page->hide();
    c.Thro_Mode_Chk = c.photo.Thro_Mode_Chk;

    // Hidden fields shared by both sets: the selected medium's identifier and sector count.
    c.disk_identifier = named(new QLineEdit(central), QStringLiteral("disk_identifier"));
    c.sectors_val = named(new QLineEdit(central), QStringLiteral("sectors_val"));
    c.disk_identifier->hide();
    c.sectors_val->hide();

    // Scan progress (shown on the scan screens).
    c.Mode_label = label(central, QStringLiteral("Mode_label"));
    c.sector_label = label(central, QStringLiteral("sector_label"));
    c.progress_details = label(central, QStringLiteral("progress_details"));
    c.progress_details->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    c.Progress_Horz = named(new SectorProgressBar(central), QStringLiteral("Progress_Horz"));
    c.stop_scan = named(new QPushButton(QStringLiteral("&Stop"), central), QStringLiteral("stop_scan"));
    // The sector line as it was, and beside it what one can plan with.
    auto *progressRow = new QHBoxLayout;
    progressRow->addWidget(c.sector_label);
    progressRow->addWidget(c.progress_details, 1);
    outer->addWidget(c.Mode_label);
    outer->addLayout(progressRow);
    // Stop beside the bar, so the running screens are no taller than the others.
    auto *barRow = new QHBoxLayout;
    barRow->addWidget(c.Progress_Horz, 1);
    barRow->addWidget(c.stop_scan);
    outer->addLayout(barRow);
    for (QWidget *w : {static_cast<QWidget *>(c.Mode_label), static_cast<QWidget *>(c.sector_label),
                       static_cast<QWidget *>(c.progress_details), static_cast<QWidget *>(c.Progress_Horz),
                       static_cast<QWidget *>(c.stop_scan)})
        w->hide();

    auto *buttons = new QHBoxLayout;
    c.help_btn = named(new QPushButton(QStringLiteral("Help"), central), QStringLiteral("help_btn"));
    c.about_btn = named(new QPushButton(QStringLiteral("About"), central), QStringLiteral("about_btn"));
    c.back_btn = named(new QPushButton(QStringLiteral("< &Back"), central), QStringLiteral("back_btn"));
    c.next_btn = named(new QPushButton(QStringLiteral("&Next >"), central), QStringLiteral("next_btn"));
    c.exit_btn = named(new QPushButton(QStringLiteral("E&xit"), central), QStringLiteral("exit_btn"));
    c.back_btn->setEnabled(false);
    c.next_btn->setDefault(true);
    buttons->addWidget(c.help_btn);
    buttons->addWidget(c.about_btn);
    buttons->addStretch(1);
    buttons->addWidget(c.back_btn);
    buttons->addWidget(c.next_btn);
    buttons->addWidget(c.exit_btn);
    outer->addLayout(buttons);
    QObject::connect(c.stop_scan, &QPushButton::clicked, &c, &MyTableController::stop_usb_disk);
    QObject::connect(c.next_btn, &QPushButton::clicked, &c, &MyTableController::Next_btn);
    QObject::connect(c.help_btn, &QPushButton::clicked, &c, &MyTableController::Help_btn);
    QObject::connect(c.about_btn, &QPushButton::clicked, &c, &MyTableController::About_btn);
    QObject::connect(c.exit_btn, &QPushButton::clicked, &c, &MyTableController::Exit_Btn);
    QObject::connect(c.photo.browse_path, &QPushButton::clicked, &c, [&c] { c.Browse_Path(); });
    QObject::connect(c.sig.browse_path, &QPushButton::clicked, &c, &MyTableController::Browse_Path_Sig);
    QObject::connect(c.photo.open_folder, &QPushButton::clicked, &c, &MyTableController::Open_Folder_btn);
    QObject::connect(c.sig.open_folder, &QPushButton::clicked, &c, &MyTableController::Open_Folder_btn_Sig);
    QObject::connect(c.imageBrowser_2->selectionModel(), &QItemSelectionModel::selectionChanged, &c,
                     &MyTableController::imageBrowserSelectionDidChange);
    // Found items: a double-click opens a saved one, the context menu shows or saves them.
    for (BrowserView *view : {c.imageBrowser, c.imageBrowser_2}) {
        view->setContextMenuPolicy(Qt::CustomContextMenu);
        QObject::connect(view, &QAbstractItemView::doubleClicked, &c, &MyTableController::openItem);
        QObject::connect(view, &QWidget::customContextMenuRequested, &c, [&c, view](const QPoint &at) {
            QMenu *menu = c.itemMenu(view, view->indexAt(at));
            if (!menu)
                return;
            menu->setAttribute(Qt::WA_DeleteOnClose);
            menu->popup(view->viewport()->mapToGlobal(at));
        });
    }
    // Enter presses the focused button, or else Next where Next is enabled (as in a dialog).
    for (const QKeySequence &key : {QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)}) {
        auto *enter = new QShortcut(key, win);
        QObject::connect(enter, &QShortcut::activated, &c, [&c, win] {
            auto *focused = qobject_cast<QPushButton *>(win->focusWidget());
            if (focused && focused->isVisible() && focused->isEnabled())
                focused->click();
            else if (c.next_btn->isVisible() && c.next_btn->isEnabled())
                c.next_btn->click();
        });
    }
    win->installEventFilter(&c);
    QObject::connect(c.back_btn, &QPushButton::clicked, &c, &MyTableController::Back_btn);

    c.SaveFile_Info_Window = infoWindow(win, QStringLiteral("SaveFile_Info_Window"), &c.saveInfoText, &c.saveFoundButton);
    c.SaveFile_Info_For_RAW_Window =
        infoWindow(win, QStringLiteral("SaveFile_Info_For_RAW_Window"), &c.saveInfoRawText, &c.saveFoundButtonRaw);
    c.BrowseInfo_Window = noteWindow(win, QStringLiteral("BrowseInfo_Window"), QStringLiteral("Output folder"),
                                     QStringLiteral("<p>Choose where the recovered files will be saved.</p>"
                                                    "<p><b>Choose a folder on another disk than the card you are recovering.</b> "
                                                    "Writing to that card can overwrite the very files you want back, so "
                                                    "Lumafind refuses a folder on it.</p>"),
                                     QStringLiteral("Continue"));
    c.HelpWindow = noteWindow(win, QStringLiteral("HelpWindow"), QStringLiteral("Lumafind Help"),
                              QStringLiteral("<p>Lumafind leads you through four steps: choose what to recover and the card, "
                                             "choose the range and the output folder, choose the file types (videos and "
                                             "raw files), then watch the search.</p><p>The full guide explains the modes, "
                                             "the Thorough pass, the rights needed to read a card and where files go.</p>"),
                              QStringLiteral("Close"));
    c.Help_File_Label = named(new QPushButton(QStringLiteral("Open the Lumafind guide (Help.pdf)"), c.HelpWindow),
                              QStringLiteral("Help_File_Label"));
    c.Help_File_Label->setFlat(true);
    c.Help_File_Label->setCursor(Qt::OpenHandCursor);
    c.Help_File_Label->setStyleSheet(QStringLiteral("QPushButton { color: blue; text-decoration: underline; font-weight: bold; }"));
    static_cast<QVBoxLayout *>(c.HelpWindow->layout())->insertWidget(1, c.Help_File_Label);
    QObject::connect(c.Help_File_Label, &QPushButton::clicked, &c, &MyTableController::HelpFilePressed);
    c.AboutWindow = noteWindow(win, QStringLiteral("AboutWindow"), QStringLiteral("About Lumafind"),
                               QStringLiteral("<h3>Lumafind %1</h3><p>Recovers photos, videos and other files from memory "
                                              "cards, USB disks and disk images, reading the medium sector by sector and "
                                              "never writing to it.</p>").arg(QStringLiteral(LUMAFIND_VERSION)),
                               QStringLiteral("OK"));
    c.LoadDisk_Window = waitWindow(win, QStringLiteral("LoadDisk_Window"), QStringLiteral("Looking for storage media…"));

    win->setCentralWidget(central);
    c.window = win;
    c.controlPanel = win;
    return win;
}

} // namespace lumafind
