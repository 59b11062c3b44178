// Writes resources/FORMATS.md from the six signature databases.
// Usage: lumafind-formats RESOURCE_DIR [OUTPUT.md]
#include "catalogue/formatsdoc.h"

#include <QCoreApplication>
#include <QFile>
#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: lumafind-formats RESOURCE_DIR [OUTPUT.md]\n");
        return 2;
    }
    const QByteArray text = lumafind::formatsMarkdown(args.at(1)).toUtf8();
    if (args.size() < 3) {
        std::fwrite(text.constData(), 1, static_cast<size_t>(text.size()), stdout);
        return 0;
    }
    QFile out(args.at(2));
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(text) != text.size()) {
        std::fprintf(stderr, "lumafind-formats: cannot write %s\n", qPrintable(args.at(2)));
        return 1;
    }
    return 0;
}
