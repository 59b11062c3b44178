// Makes the content of the bundled sample card: photos (one with an Exif orientation), a PNG,
// a PDF and a ZIP, next to the short video clip that the build copies in. The build then
// writes them onto a FAT32 image and deletes them, as a camera clears a card.
// Usage: lumafind-samplecard OUTDIR   (needs QT_QPA_PLATFORM=offscreen)
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QLinearGradient>
#include <QPageSize>
#include <QPainter>
#include <QTransform>
#include <QPdfWriter>
#include <cstdio>
#include "tools/storedzip.h"

namespace {

QImage scene(int w, int h, QColor sky, QColor ground, const QString &caption)
{
    QImage img(w, h, QImage::Format_RGB32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, 0, h);
    g.setColorAt(0, sky.lighter(140));
    g.setColorAt(1, sky);
    p.fillRect(img.rect(), g);
    p.setBrush(QColor(250, 210, 80));
    p.setPen(Qt::NoPen);
    p.drawEllipse(QPointF(w * 0.75, h * 0.25), h * 0.1, h * 0.1);
    p.setBrush(ground);
    p.drawRect(0, int(h * 0.65), w, h);
    p.setPen(Qt::white);
    QFont f = p.font();
    f.setPixelSize(h / 12);
    p.setFont(f);
    p.drawText(img.rect().adjusted(0, 0, 0, -h / 20), Qt::AlignHCenter | Qt::AlignBottom, caption);
    return img;
}

bool writeJpeg(const QString &path, const QImage &img, QImageIOHandler::Transformations t)
{
    QImageWriter w(path, "jpeg");
    w.setQuality(88);
    w.setTransformation(t);
    return w.write(img);
}

bool writeZip(const QString &path, const QList<QPair<QByteArray, QByteArray>> &members)
{
    const QByteArray out = storedZip(members);
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(out) == out.size();
}

bool writePdf(const QString &path)
{
    QPdfWriter pdf(path);
    pdf.setPageSize(QPageSize(QPageSize::A5));
    pdf.setTitle(QStringLiteral("Trip notes"));
    QPainter p(&pdf);
    QFont f = p.font();
    f.setPointSize(18);
    p.setFont(f);
    p.drawText(QRect(0, 0, pdf.width(), pdf.height() / 4), Qt::AlignCenter, QStringLiteral("Trip notes"));
    f.setPointSize(11);
    p.setFont(f);
    p.drawText(QRect(0, pdf.height() / 4, pdf.width(), pdf.height() / 2), Qt::AlignHCenter | Qt::TextWordWrap,
               QStringLiteral("Day 1: the beach at sunrise.\nDay 2: the garden and the lighthouse.\n"
                              "A document recovered by Lumafind from the sample card."));
    return p.end();
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: lumafind-samplecard OUTDIR\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    QDir().mkpath(out.path());
    bool ok = writeJpeg(out.filePath(QStringLiteral("IMG_0001.JPG")),
                        scene(1600, 1200, QColor(40, 110, 190), QColor(230, 200, 140), QStringLiteral("Beach")),
                        QImageIOHandler::TransformationNone);
    // Taken with the camera turned: the pixels stored sideways, with the tag that turns them
    // upright again.
    ok = ok && writeJpeg(out.filePath(QStringLiteral("IMG_0002.JPG")),
                         scene(900, 1200, QColor(90, 150, 210), QColor(60, 140, 60), QStringLiteral("Garden"))
                             .transformed(QTransform().rotate(-90)),
                         QImageIOHandler::TransformationRotate90);
    ok = ok && writeJpeg(out.filePath(QStringLiteral("IMG_0003.JPG")),
                         scene(1024, 768, QColor(200, 90, 60), QColor(40, 40, 70), QStringLiteral("Sunset")),
                         QImageIOHandler::TransformationNone);
    ok = ok && scene(640, 480, QColor(120, 120, 200), QColor(80, 80, 80), QStringLiteral("Diagram"))
                   .save(out.filePath(QStringLiteral("DIAGRAM.PNG")), "PNG");
    ok = ok && writePdf(out.filePath(QStringLiteral("NOTES.PDF")));
    ok = ok && writeZip(out.filePath(QStringLiteral("ROUTE.ZIP")),
                        {{"route.txt", "Start at the harbour, walk north along the cliffs to the lighthouse.\n"},
                         {"packing.txt", QByteArray("Camera, spare card, water, sun hat.\n").repeated(40)}});
    if (!ok) {
        std::fprintf(stderr, "lumafind-samplecard: cannot write into %s\n", argv[1]);
        return 1;
    }
    return 0;
}
