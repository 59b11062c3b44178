// Saves each screen of the wizard as a PNG for review: the media list with the sample card, the
// options, the file types, a finished photo scan and a finished raw-file scan with a preview.
// Usage: xvfb-run build/bin/lumafind-screenshots OUTDIR
#include "app/MyTableController.h"
#include "app/browserview.h"
#include "app/dialogs.h"
#include "app/imagemodel.h"
#include "app/mainwindow.h"
#include "common/resources.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QItemSelectionModel>
#include <QMainWindow>
#include <QTableView>
#include <QTimer>
#include <cstdio>

using namespace lumafind;

namespace {
// Answers every question as a person trying the program would, and photographs the windows.
class ShotDialogs : public Dialogs {
public:
    QString out;
    int shots = 0;
    int alert(QWidget *, const QString &message, const QString &, const QStringList &, AlertKind) override
    {
        std::printf("alert: %s\n", qPrintable(message.trimmed()));
        return message.contains(QLatin1String("No output folder")) ? 0 : 1;
    }
    QString chooseFolder(QWidget *, const QString &) override { return QString(); }
    QString chooseFile(QWidget *, const QString &, const QString &) override { return QString(); }
    int runModal(QDialog *window) override
    {
        window->show();
        QApplication::processEvents();
        window->grab().save(out + QStringLiteral("/window-%1.png").arg(window->objectName()));
        window->hide();
        return 1;
    }
    bool openUrl(const QUrl &) override { return true; }
};

void settle(int ms = 300)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}
} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Lumafind"));
    setUpIconTheme();
    if (argc != 2) {
        std::fprintf(stderr, "usage: lumafind-screenshots OUTDIR\n");
        return 2;
    }
    ShotDialogs dialogs;
    dialogs.out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(dialogs.out);
    MyTableController c(resourceDir(), &dialogs);
    QMainWindow *w = buildMainWindow(c);
    c.awakeFromNib();
    w->show();
    c.addDiskImage(resourceDir() + QStringLiteral("/sample-card.img"));
    settle();
    auto shot = [&](const char *name) {
        settle();
        w->grab().save(dialogs.out + QLatin1Char('/') + QLatin1String(name) + QStringLiteral(".png"));
        std::printf("%s\n", name);
    };
    shot("1-media");
    c.Next_btn();
    shot("2-photo-options");
    c.Sector_Range_Radio();
    shot("3-photo-range");
    c.Entire_Disk_Radio();
    c.Next_btn();
    while (c.scanRunning())
        settle(100);
    shot("4-photo-scan-done");
    c.Back_btn();
    c.Back_btn();
    c.Video_Mode_Radio();
    c.idTableView->selectRow(int(c.nsMutaryOfDataObject.size()) - 1);
    c.Next_btn();
    shot("5-video-options");
    c.Next_btn();
    shot("6-file-types");
    c.Next_btn();
    while (c.scanRunning())
        settle(100);
    if (!c.images.isEmpty())
        c.imageBrowser_2->selectionModel()->select(c.imageModel()->index(0), QItemSelectionModel::ClearAndSelect);
    settle(1500);
    shot("7-video-scan-preview");
    delete w;
    return 0;
}
