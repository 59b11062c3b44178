#include "MyTableController.h"

#include "app/dialogs.h"
#include "common/hex.h"

#include <QCheckBox>
#include <QLabel>
#include <QMainWindow>
#include <QProgressBar>
#include <QTimer>

namespace lumafind {

namespace {
const QString kMediaHelp = QStringLiteral(
    "\nSelect the storage media from List from which you want to recover Data. Press \u2018Next\u2019 button to continue... ");
}

MyTableController::MyTableController(const QString &resourceDir, Dialogs *dialogs, QObject *parent)
    : QObject(parent), resourceDir_(resourceDir), dialogs_(dialogs)
{
}

MyTableController::~MyTableController() = default;

void MyTableController::setNsCheckedListDataObject(const CheckList &rows) { nsCheckedListDataObject = rows; }
void MyTableController::setNsSIGFileInfoDataObject(const FoundFilesList &rows) { nsSIGFileInfoDataObject = rows; }

int32_t MyTableController::hex2dec(const QString &c) const { return lumafind::hex2dec(c); }
int32_t MyTableController::hex2int(const QString &h) const { return lumafind::hex2int(h); }

void MyTableController::awakeFromNib()
{
    // 1-2: the window's colour, brought to the front.
    if (window) {
        QPalette pal = window->palette();
        pal.setColor(QPalette::Window, QColor::fromRgbF(241 / 255.0f, 244 / 255.0f, 250 / 255.0f, 1.0f));
        window->setPalette(pal);
        window->setAutoFillBackground(true);
    }
    if (controlPanel) {
        controlPanel->raise();
        controlPanel->activateWindow();
    }
    if (window) {
        window->raise();
        window->activateWindow();
    }
    // 3-4: Thorough on, photo mode, the first instruction.
    if (Thro_Mode_Chk)
        Thro_Mode_Chk->setChecked(true);
    Recovery_MODE = 0;
    if (help_info)
        help_info->setText(kMediaHelp);
    // 5: the progress line.
    if (sector_label)
        sector_label->setText(QStringLiteral("Sectors 0 of 0"));
    // 6: the table rows start empty.
    setNsCheckedListDataObject({});
    setNsSIGFileInfoDataObject({});
    // 10-12: working lists, the six databases in order, the placeholder picture.
    missingDatabases_ = loadResources(resourceDir_);
    // 13: the progress bar at 0.
    if (Progress_Horz)
        Progress_Horz->setValue(0);
    if (!missingDatabases_.isEmpty())
        QTimer::singleShot(0, this, [this] { reportMissingDatabases(); });
}

void MyTableController::reportMissingDatabases()
{
    // Without a database a later scan would report a read error for a healthy card: say once
    // which file is missing instead.
    dialogs_->alert(window, QStringLiteral("\nSome signature databases could not be loaded."),
                    QStringLiteral("Missing, unreadable or empty in %1: %2. The file types they describe "
                                   "will not be found until they are restored.")
                        .arg(resourceDir_, missingDatabases_.join(QStringLiteral(", "))),
                    {QStringLiteral("OK")});
}

} // namespace lumafind
