// Saves each screen of the wizard as a PNG for review: the media list with the sample card, the
// options, a photo scan while it runs (the progress line), its result line, a camera card saved
// after the scan (saved and "inside" marks), the file types, a video scan with the preview being
// copied and then playing, and every window and alert that appears on the way.
// Usage: xvfb-run build/bin/lumafind-screenshots OUTDIR [WIDTHxHEIGHT]
// (QT_SCALE_FACTOR=2 shows the same at 200 %; a size resizes the window, to its minimum say.)
#include "app/MyTableController.h"
#include "app/browserview.h"
#include "app/dialogs.h"
#include "app/imagemodel.h"
#include "app/mainwindow.h"
#include "common/resources.h"

#include <QApplication>
#include <QBuffer>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QItemSelectionModel>
#include <QMainWindow>
#include <QMessageBox>
#include <QPainter>
#include <QScreen>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <thread>

using namespace lumafind;

namespace {
// Answers every question as a person trying the program would, and photographs the windows.
class ShotDialogs : public Dialogs {
public:
    QString out, folder;
    int alerts = 0;
    int alert(QWidget *parent, const QString &message, const QString &informative, const QStringList &buttons,
              AlertKind kind) override
    {
        std::printf("alert: %s\n", qPrintable(message.trimmed()));
        // The alert as the program shows it.
        QMessageBox *box = makeAlertBox(parent, message, informative, buttons, kind);
        box->show();
        QApplication::processEvents();
        box->grab().save(out + QStringLiteral("/alert-%1.png").arg(++alerts));
        delete box;
        return message.contains(QLatin1String("No output folder")) ? 0 : 1;
    }
    QString chooseFolder(QWidget *, const QString &) override { return folder; }
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

// A medium read at about `bytesPerSecond`, as through a slow card reader; later opens (the
// preview's) are slower still when `laterSlow` is set, so that a copy can be photographed.
struct Throttle {
    FILE *file;
    double bytesPerSecond;
};
ssize_t throttledRead(void *c, char *buf, size_t size)
{
    auto *t = static_cast<Throttle *>(c);
    const size_t n = std::fread(buf, 1, size, t->file);
    std::this_thread::sleep_for(std::chrono::microseconds(int64_t(double(n) / t->bytesPerSecond * 1e6)));
    return ssize_t(n);
}
int throttledSeek(void *c, off64_t *offset, int whence)
{
    auto *t = static_cast<Throttle *>(c);
    if (fseeko(t->file, *offset, whence) != 0)
        return -1;
    *offset = ftello(t->file);
    return 0;
}
int throttledClose(void *c)
{
    auto *t = static_cast<Throttle *>(c);
    std::fclose(t->file);
    delete t;
    return 0;
}
FILE *openThrottled(const QString &path, double bytesPerSecond)
{
    FILE *f = openDeviceFile(path);
    if (!f)
        return nullptr;
    cookie_io_functions_t io{throttledRead, nullptr, throttledSeek, throttledClose};
    return fopencookie(new Throttle{f, bytesPerSecond}, "rb", io);
}

QByteArray jpeg(const QImage &img)
{
    QByteArray out;
    QBuffer b(&out);
    b.open(QIODevice::WriteOnly);
    img.save(&b, "JPG", 88);
    return out;
}

QImage scene(int w, int h, QColor sky, const QString &caption)
{
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(sky);
    QPainter p(&img);
    p.fillRect(0, h * 2 / 3, w, h, sky.darker(160));
    p.setPen(Qt::white);
    QFont f = p.font();
    f.setPixelSize(h / 8);
    p.setFont(f);
    p.drawText(img.rect(), Qt::AlignCenter, caption);
    return img;
}

// A small card as a camera leaves it: photos that carry their preview inside (at a sector of
// its own, where the scan finds it too), a white photo, and a plain one.
QString cameraCard(const QString &folder)
{
    QByteArray card(2048 * 512, '\0');
    qint64 sector = 16;
    auto put = [&](const QByteArray &bytes) {
        card.replace(sector * 512, bytes.size(), bytes);
        sector += (bytes.size() + 511) / 512 + 8;
    };
    for (int i = 0; i < 2; ++i) {
        const QImage full = scene(640, 480, i ? QColor(70, 130, 180) : QColor(200, 120, 60), QStringLiteral("Photo %1").arg(i + 1));
        QByteArray payload(506, '\0');
        payload += jpeg(full.scaled(160, 120));
        payload += QByteArray(300, '\0');
        QByteArray camera = QByteArray::fromHex("FFD8FFE1");
        camera += char((payload.size() + 2) >> 8);
        camera += char((payload.size() + 2) & 0xFF);
        camera += payload;
        camera += jpeg(full).mid(2);
        put(camera);
    }
    QImage white(400, 300, QImage::Format_RGB32);
    white.fill(Qt::white);
    put(jpeg(white));
    put(jpeg(scene(300, 400, QColor(90, 160, 90), QStringLiteral("Garden"))));
    const QString path = folder + QStringLiteral("/camera-card.img");
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(card) != card.size())
        return QString();
    return path;
}
} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Lumafind"));
    setUpIconTheme();
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: lumafind-screenshots OUTDIR [WIDTHxHEIGHT]\n");
        return 2;
    }
    QTemporaryDir work;
    ShotDialogs dialogs;
    dialogs.out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(dialogs.out);
    MyTableController c(resourceDir(), &dialogs);
    QMainWindow *w = buildMainWindow(c);
    c.awakeFromNib();
    if (argc == 3) {
        const QStringList size = QString::fromLocal8Bit(argv[2]).split(QLatin1Char('x'));
        if (size.size() == 2)
            w->resize(size.at(0).toInt(), size.at(1).toInt());
    }
    w->show();
    // The window that shows while the media are listed, photographed on its own.
    c.LoadDisk_Window->show();
    settle();
    c.LoadDisk_Window->grab().save(dialogs.out + QStringLiteral("/window-LoadDisk_Window.png"));
    while (c.mediaListing())
        settle(50);
    c.addDiskImage(resourceDir() + QStringLiteral("/sample-card.img"));
    settle();
    auto shot = [&](const char *name) {
        settle();
        // From the screen where there is one: a widget's own grab shows a movie as a grey box.
        QPixmap picture = w->grab();
        if (QGuiApplication::platformName() == QLatin1String("xcb")) {
            const QRect frame = w->frameGeometry();
            picture = w->screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
        }
        picture.save(dialogs.out + QLatin1Char('/') + QLatin1String(name) + QStringLiteral(".png"));
        const QSize least = w->minimumSizeHint();
        std::printf("%s  (window %dx%d, at least %dx%d)\n", name, w->width(), w->height(), least.width(), least.height());
    };
    shot("01-media");
    c.Next_btn();
    shot("02-photo-options");
    c.Sector_Range_Radio();
    shot("03-photo-range");
    c.Entire_Disk_Radio();
    // Read at a card reader's pace, so that the progress line has something to say.
    c.deviceOpener = [](const QString &path) { return openThrottled(path, 6e6); };
    c.Next_btn();
    QElapsedTimer t;
    t.start();
    while (c.scanRunning() && t.elapsed() < 7000)
        settle(100);
    shot("04-photo-scanning");
    while (c.scanRunning())
        settle(100);
    c.deviceOpener = openDeviceFile;
    shot("05-photo-scan-done");

    // A camera card saved after its scan: saved items and the previews inside them.
    c.Back_btn();
    c.Back_btn();
    while (c.mediaListing())
        settle(50);
    c.addDiskImage(cameraCard(work.path()));
    c.Next_btn();
    c.Next_btn();
    while (c.scanRunning())
        settle(100);
    dialogs.folder = work.path() + QStringLiteral("/saved");
    c.saveFoundFiles();
    while (c.savingAfterScan())
        settle(100);
    shot("06-photo-saved-marks");
    c.zoom_slider->setValue(100);
    shot("07-photo-saved-largest");
    c.zoom_slider->setValue(0);
    shot("08-photo-saved-smallest");
    c.zoom_slider->setValue(50);

    c.Back_btn();
    c.Back_btn();
    while (c.mediaListing())
        settle(50);
    c.Video_Mode_Radio();
    c.addDiskImage(resourceDir() + QStringLiteral("/sample-card.img"));
    c.Next_btn();
    shot("09-video-options");
    c.Next_btn();
    shot("10-file-types");
    c.Next_btn();
    while (c.scanRunning())
        settle(100);
    // The preview's copy, slowed down so that its progress shows.
    c.deviceOpener = [](const QString &path) { return openThrottled(path, 60e3); };
    if (!c.images.isEmpty())
        c.imageBrowser_2->selectionModel()->select(c.imageModel()->index(0), QItemSelectionModel::ClearAndSelect);
    settle(800);
    shot("11-video-preview-copying");
    c.deviceOpener = openDeviceFile;
    c.cancelPreview();
    while (c.previewRunning())
        settle(50);
    c.imageBrowser_2->selectionModel()->clearSelection();
    c.clearPreview();
    if (!c.images.isEmpty())
        c.imageBrowser_2->selectionModel()->select(c.imageModel()->index(0), QItemSelectionModel::ClearAndSelect);
    while (c.previewRunning())
        settle(50);
    settle(1500);
    shot("12-video-preview");
    delete w;
    return 0;
}
