// Photo thumbnails and the items of the browsers.
#include "results/thumbnails.h"

#include "testfiles.h"

#include <QImage>
#include <QMutex>
#include <QTest>

using namespace lumafind;

namespace {
QByteArray jpeg(int w, int h, QImageIOHandler::Transformations t = QImageIOHandler::TransformationNone)
{
    return solidPicture("jpeg", w, h, Qt::darkCyan, -1, t);
}
} // namespace

class TestResults : public QObject {
    Q_OBJECT
private slots:
    void thumbnailsAreSmallUprightJpegs()
    {
        QCOMPARE(QImage::fromData(makeThumbnail(jpeg(400, 200))).size(), QSize(100, 50));
        // Turned upright by the picture's own orientation.
        QCOMPARE(QImage::fromData(makeThumbnail(jpeg(400, 200, QImageIOHandler::TransformationRotate90))).size(), QSize(50, 100));
        // Smaller pictures are not enlarged... beyond 100 either way; a carved JPEG followed by
        // the rest of its last sector still decodes.
        QByteArray carved = jpeg(64, 64);
        carved.append(QByteArray(512 - carved.size() % 512, '\0'));
        QVERIFY(makeThumbnail(carved).startsWith("\xFF\xD8"));
        QVERIFY(makeThumbnail(QByteArray("not a picture at all")).isEmpty());
        QVERIFY(makeThumbnail(QByteArray()).isEmpty());
    }

    void itemsFromFoundFiles()
    {
        const QByteArray placeholder("PLACEHOLDER");
        MyImageObject item;
        QVERIFY(!addImageWithData(QByteArray(), QStringLiteral("GND00001.JPG"), QStringLiteral("u"), placeholder, &item));
        QVERIFY(addImageWithData(QByteArray(600, 'x'), QStringLiteral("GND00001.JPG"), QStringLiteral("u"), placeholder, &item));
        QCOMPARE(item.imageData, placeholder);
        QVERIFY(item.isPhoto);

        MyImageObject raw;
        QVERIFY(!addImageWithData_2(QStringLiteral("   "), QStringLiteral("u"), 1, 2, &raw));
        QVERIFY(addImageWithData_2(QStringLiteral("  MOV00001.MOV\n"), QStringLiteral("MOV00001.MOV"), 10, 20, &raw));
        QCOMPARE(raw.image_Name, QStringLiteral("MOV00001.MOV"));  // the name trimmed
        QCOMPARE(raw.File_End_Sector, 20u);
    }

    void pipelineDeliversInOrder()
    {
        QMutex m;
        QStringList delivered;
        {
            ThumbnailPipeline pipe(QByteArray("P"), [&](MyImageObject &&item) {
                QMutexLocker lock(&m);
                delivered << item.image_Name + (item.imageData == "P" ? QStringLiteral(":P") : QStringLiteral(":T"));
            }, MediumRef{}, 2, 64 * 1024);  // a small budget makes the submitter wait for room
            for (int i = 0; i < 40; ++i) {
                MyImageObject item;
                item.image_Name = QString::number(i);
                // Big pictures and junk interleaved: they finish out of order.
                const QByteArray bytes = i % 3 == 0 ? jpeg(1200, 900) : QByteArray(700, char(i));
                ExportItem e;
                e.extension = QStringLiteral("JPG");
                e.carvedBytes = uint64_t(bytes.size());
                pipe.submit(bytes, e, item);
            }
            pipe.drain();
        }
        QCOMPARE(delivered.size(), 40);
        for (int i = 0; i < 40; ++i)
            QCOMPARE(delivered.at(i), QString::number(i) + (i % 3 == 0 ? QStringLiteral(":T") : QStringLiteral(":P")));
    }
};

QTEST_MAIN(TestResults)
#include "test_results.moc"
