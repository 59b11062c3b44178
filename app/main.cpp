// Lumafind: recover photos, videos and other files from memory cards, USB disks and images.
#include "app/MyTableController.h"
#include "app/dialogs.h"
#include "app/mainwindow.h"
#include "common/resources.h"

#include <QApplication>
#include <QMainWindow>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Lumafind"));
    QApplication::setApplicationVersion(QStringLiteral(LUMAFIND_VERSION));
    lumafind::QtDialogs dialogs;
    lumafind::MyTableController controller(lumafind::resourceDir(), &dialogs);
    QMainWindow *window = lumafind::buildMainWindow(controller);
    controller.awakeFromNib();
    window->show();
    const int status = app.exec();
    delete window;
    return status;
}
