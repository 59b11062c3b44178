// Lumafind: recover photos, videos and other files from memory cards, USB disks and images.
#include "app/MyTableController.h"
#include "app/dialogs.h"
#include "app/imagemodel.h"
#include "app/mainwindow.h"
#include "common/resources.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QMainWindow>
#include <csignal>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    // A file-size limit makes a write fail (and saving stop with a message) instead of killing us.
    std::signal(SIGXFSZ, SIG_IGN);
    QApplication::setApplicationName(QStringLiteral("Lumafind"));
    QApplication::setApplicationVersion(QStringLiteral(LUMAFIND_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Recover photos, videos and other files from cards, disks and images."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption image(QStringLiteral("image"), QStringLiteral("Add the disk image FILE to the media list."),
                                   QStringLiteral("FILE"));
    parser.addOption(image);
    parser.process(app);

    lumafind::setUpIconTheme();
    lumafind::QtDialogs dialogs;
    lumafind::MyTableController controller(lumafind::resourceDir(), &dialogs);
    QMainWindow *window = lumafind::buildMainWindow(controller);
    controller.awakeFromNib();
    window->show();
    for (const QString &path : parser.values(image))
        controller.addDiskImage(path);
    const int status = app.exec();
    delete window;
    return status;
}
