// Build-time generator of the resources that are pictures or documents:
// the placeholder thumbnail NoPreview.png and Help.pdf from the Markdown help source.
// Usage: lumafind-resgen HELP.md NOPREVIEW.png HELP.pdf   (needs QT_QPA_PLATFORM=offscreen)
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPageSize>
#include <QPainter>
#include <QPainterPath>
#include <QPdfWriter>
#include <QTextDocument>
#include <cstdio>

static bool makePlaceholder(const QString &path)
{
    QImage img(128, 128, QImage::Format_ARGB32);
    img.fill(QColor(241, 244, 250));
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    // A picture frame with a struck-through mountain: "no preview".
    p.setPen(QPen(QColor(120, 130, 150), 4));
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(14, 22, 100, 78), 8, 8);
    QPainterPath mountain;
    mountain.moveTo(24, 90);
    mountain.lineTo(52, 56);
    mountain.lineTo(70, 76);
    mountain.lineTo(82, 64);
    mountain.lineTo(104, 90);
    mountain.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(160, 170, 190));
    p.drawPath(mountain);
    p.setBrush(QColor(230, 180, 60));
    p.drawEllipse(QPointF(88, 42), 8, 8);
    p.setPen(QPen(QColor(200, 60, 60), 7, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(22, 112), QPointF(106, 14));
    p.end();
    return img.save(path, "PNG");
}

static bool makeHelp(const QString &source, const QString &pdf)
{
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    QTextDocument doc;
    doc.setMarkdown(QString::fromUtf8(in.readAll()));
    QPdfWriter writer(pdf);
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setResolution(300);
    writer.setTitle(QStringLiteral("Lumafind Help"));
    writer.setCreator(QStringLiteral("Lumafind"));
    QFont font(QStringLiteral("Sans Serif"), 11);
    doc.setDefaultFont(font);
    doc.setPageSize(QSizeF(writer.width(), writer.height()));
    doc.print(&writer);
    return QFile::exists(pdf);
}

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: lumafind-resgen HELP.md NOPREVIEW.png HELP.pdf\n");
        return 2;
    }
    if (!makePlaceholder(QString::fromLocal8Bit(argv[2]))) {
        std::fprintf(stderr, "lumafind-resgen: cannot write %s\n", argv[2]);
        return 1;
    }
    if (!makeHelp(QString::fromLocal8Bit(argv[1]), QString::fromLocal8Bit(argv[3]))) {
        std::fprintf(stderr, "lumafind-resgen: cannot make %s\n", argv[3]);
        return 1;
    }
    return 0;
}
