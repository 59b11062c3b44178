#include "mainwindow.h"

#include "app/MyTableController.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMainWindow>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace lumafind {

template <typename W>
static W *named(W *w, const char *name)
{
    w->setObjectName(QString::fromLatin1(name));
    return w;
}

QMainWindow *buildMainWindow(MyTableController &c)
{
    auto *win = named(new QMainWindow, "window");
    win->setWindowTitle(QStringLiteral("Lumafind"));
    win->resize(900, 640);
    auto *central = new QWidget(win);
    auto *outer = new QVBoxLayout(central);

    c.help_info = named(new QLabel(central), "help_info");
    c.help_info->setWordWrap(true);
    c.help_info->setMinimumHeight(56);
    outer->addWidget(c.help_info);
    c.Search_Type = named(new QLabel(central), "Search_Type");
    c.Search_Type->hide();
    outer->addWidget(c.Search_Type);

    // Media screen: mode and refresh groups.
    c.rec_mode_Box = named(new QGroupBox(QStringLiteral("Recovery mode"), central), "rec_mode_Box");
    auto *modes = new QHBoxLayout(c.rec_mode_Box);
    c.rec_mode_Photo = named(new QRadioButton(QStringLiteral("Photo"), c.rec_mode_Box), "rec_mode_Photo");
    c.rec_mode_Video = named(new QRadioButton(QStringLiteral("Video"), c.rec_mode_Box), "rec_mode_Video");
    c.rec_mode_RawFile = named(new QRadioButton(QStringLiteral("Raw File"), c.rec_mode_Box), "rec_mode_RawFile");
    c.rec_mode_Photo->setChecked(true);
    modes->addWidget(c.rec_mode_Photo);
    modes->addWidget(c.rec_mode_Video);
    modes->addWidget(c.rec_mode_RawFile);
    outer->addWidget(c.rec_mode_Box);
    c.refresh_Box = named(new QGroupBox(central), "refresh_Box");
    auto *refresh = new QHBoxLayout(c.refresh_Box);
    c.refresh_Label = named(new QLabel(QStringLiteral("Insert the card, then refresh the list."), c.refresh_Box), "refresh_Label");
    c.refresh_btn = named(new QPushButton(QStringLiteral("Refresh"), c.refresh_Box), "refresh_btn");
    refresh->addWidget(c.refresh_Label, 1);
    refresh->addWidget(c.refresh_btn);
    outer->addWidget(c.refresh_Box);

    // Scan progress (shown on the scan screens).
    c.Mode_label = named(new QLabel(central), "Mode_label");
    c.sector_label = named(new QLabel(central), "sector_label");
    c.Progress_Horz = named(new QProgressBar(central), "Progress_Horz");
    c.stop_scan = named(new QPushButton(QStringLiteral("Stop"), central), "stop_scan");
    c.Thro_Mode_Chk = named(new QCheckBox(QStringLiteral("Thorough"), central), "Thro_Mode_Chk");
    for (QWidget *w : {static_cast<QWidget *>(c.Mode_label), static_cast<QWidget *>(c.sector_label),
                       static_cast<QWidget *>(c.Progress_Horz), static_cast<QWidget *>(c.stop_scan),
                       static_cast<QWidget *>(c.Thro_Mode_Chk)}) {
        outer->addWidget(w);
        w->hide();
    }
    outer->addStretch(1);

    auto *buttons = new QHBoxLayout;
    c.help_btn = named(new QPushButton(QStringLiteral("Help"), central), "help_btn");
    c.about_btn = named(new QPushButton(QStringLiteral("About"), central), "about_btn");
    c.back_btn = named(new QPushButton(QStringLiteral("< Back"), central), "back_btn");
    c.next_btn = named(new QPushButton(QStringLiteral("Next >"), central), "next_btn");
    c.exit_btn = named(new QPushButton(QStringLiteral("Exit"), central), "exit_btn");
    c.back_btn->setEnabled(false);
    buttons->addWidget(c.help_btn);
    buttons->addWidget(c.about_btn);
    buttons->addStretch(1);
    buttons->addWidget(c.back_btn);
    buttons->addWidget(c.next_btn);
    buttons->addWidget(c.exit_btn);
    outer->addLayout(buttons);

    win->setCentralWidget(central);
    c.window = win;
    c.controlPanel = win;
    return win;
}

} // namespace lumafind
