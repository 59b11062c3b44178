// What files say about themselves: capture dates (Exif in JPEG and TIFF, the movie header of
// MP4 and MOV, PNG's tIME, AVCHD's recording date), the saved file's modification time, and
// the pictures raw files and HEIF carry; hostile bytes give nothing and never crash.
#include "enginetestutil.h"
#include "exiffiles.h"
#include "testfiles.h"
#include "results/metadata.h"
#include "results/saver.h"
#include "results/thumbnails.h"

#include <QDateTime>
#include <QFileInfo>
#include <QImage>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <ctime>
#include <libheif/heif.h>

using namespace lumafind;
using namespace exiffiles;

namespace {

qint64 utcOf(const char *iso)
{
    return QDateTime::fromString(QString::fromLatin1(iso), Qt::ISODate).toSecsSinceEpoch();
}

QByteArray solidJpeg(int w, int h, QColor colour) { return solidPicture("JPG", w, h, colour, 90); }

// HEIF written by libheif's HEVC encoder: the picture, a thumbnail fitting thumbBox (none
// when 0) and an Exif block.
QByteArray heic(const QImage &picture, int thumbBox, const QByteArray &exif)
{
    if (!heif_have_encoder_for_format(heif_compression_HEVC))
        return {};
    heif_context *ctx = heif_context_alloc();
    heif_encoder *enc = nullptr;
    QByteArray out;
    if (heif_context_get_encoder_for_format(ctx, heif_compression_HEVC, &enc).code == heif_error_Ok) {
        heif_encoder_set_lossy_quality(enc, 60);
        const QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
        heif_image *img = nullptr;
        heif_image_create(rgb.width(), rgb.height(), heif_colorspace_RGB, heif_chroma_interleaved_RGB, &img);
        heif_image_add_plane(img, heif_channel_interleaved, rgb.width(), rgb.height(), 8);
        int stride = 0;
        uint8_t *plane = heif_image_get_plane(img, heif_channel_interleaved, &stride);
        for (int y = 0; y < rgb.height(); ++y)
            std::memcpy(plane + y * stride, rgb.constScanLine(y), size_t(rgb.width()) * 3);
        heif_image_handle *handle = nullptr;
        if (heif_context_encode_image(ctx, img, enc, nullptr, &handle).code == heif_error_Ok) {
            if (thumbBox > 0) {
                heif_image_handle *thumb = nullptr;
                heif_context_encode_thumbnail(ctx, img, handle, enc, nullptr, thumbBox, &thumb);
                if (thumb)
                    heif_image_handle_release(thumb);
            }
            if (!exif.isEmpty())
                heif_context_add_exif_metadata(ctx, handle, exif.constData(), int(exif.size()));
            heif_writer writer{1, [](heif_context *, const void *data, size_t size, void *user) {
                                   static_cast<QByteArray *>(user)->append(static_cast<const char *>(data), qsizetype(size));
                                   return heif_error{heif_error_Ok, heif_suberror_Unspecified, "ok"};
                               }};
            heif_context_write(ctx, &writer, &out);
            heif_image_handle_release(handle);
        }
        heif_image_release(img);
        heif_encoder_release(enc);
    }
    heif_context_free(ctx);
    return out;
}

// An AVCHD stream of 192-byte packets whose video carries the recording date in its SEI,
// split over two packets and interleaved with another stream's packets, with a byte that
// keeps a start code out of the NAL unit inside the date.
QByteArray avchd(int packetSize)
{
    // The PES header, other NAL units, then the SEI: its UUID straddles the first packet's end.
    const QByteArray sei = QByteArray::fromHex("000001E0000000") + QByteArray(163, '\x22') + QByteArray::fromHex("0000000106052a")
        + QByteArray::fromHex("17ee8c60f84d11d98cd60800200c9a66") + "MDPM"
        + QByteArray::fromHex("03" "18" "02" "20" "19" "08" "19" "23" "00" "00" "03" "01" "70" "ffffffff")
        + QByteArray(300, '\x55');
    QByteArray out;
    auto packet = [&](int pid, bool start, QByteArray payload) {
        if (packetSize == 192)
            out += QByteArray(4, '\0');
        out += char(0x47);
        out += char((start ? 0x40 : 0) | (pid >> 8));
        out += char(pid & 0xFF);
        out += char(0x10);
        payload.resize(184, char(0xFF));
        out += payload;
    };
    packet(0, true, QByteArray::fromHex("0000b00d0001c100000001f0002a"));
    packet(0x1011, true, sei.left(184));             // the UUID starts here...
    packet(0x1100, true, QByteArray(184, '\x17'));  // ...an audio packet between...
    packet(0x1011, false, sei.mid(184, 184));       // ...and it goes on here
    packet(0x1011, false, sei.mid(368, 184));
    return out;
}

} // namespace

class TestMetadata : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        // A fixed local zone, three hours east of UTC all year, for the dates that name none.
        qputenv("TZ", "LMF-3");
        tzset();
    }

    // Capture dates as files record them: Exif in JPEG and TIFF (with the offset the camera
    // wrote, or in the local zone), the movie header of MP4 and MOV, PNG's tIME (universal
    // time), AVCHD's recording date (local time); none where the date is unset or not one.
    void captureDates()
    {
        const QByteArray photo = picture("JPG", 64, 48), png = picture("PNG", 40, 30);
        const quint64 created = kFrom1904 + quint64(utcOf("2022-05-06T07:08:09Z"));
        // The sample clip with its creation time set in memory.
        QByteArray clipBytes = clip();
        const qsizetype at = clipBytes.indexOf("mvhd");
        QVERIFY(at > 0);
        clipBytes.replace(at + 8, clipBytes[at + 4] == 1 ? 8 : 4, clipBytes[at + 4] == 1 ? be64(created) : be32(quint32(created)));
        QByteArray tooLong = movie(created), noMdpm = avchd(192);
        tooLong.replace(tooLong.indexOf("moov") - 4, 4, be32(0x7FFFFFF0));  // claims more than the file holds
        noMdpm.replace(noMdpm.indexOf("MDPM"), 4, "MDPX");
        const QByteArray cutMovie = movie(created).left(movie(created).indexOf("mvhd") + 8);
        struct Case {
            const char *type;
            QByteArray bytes;
            const char *iso, *utc;  // null: no date
        };
        const Case cases[] = {
            {"JPG", exifJpeg(photo, "2021:07:04 15:30:12", "+02:00"), "2021-07-04T15:30:12+02:00", "2021-07-04T13:30:12Z"},
            {"JPG", exifJpeg(photo, "2019:12:31 23:59:59", "-05:30"), "2019-12-31T23:59:59-05:30", "2020-01-01T05:29:59Z"},
            {"JPG", exifJpeg(photo, "2021:07:04 15:30:12"), "2021-07-04T15:30:12+03:00", "2021-07-04T12:30:12Z"},
            {"TIF", datedTiff("2018:03:09 08:07:06", "+01:00"), "2018-03-09T08:07:06+01:00", "2018-03-09T07:07:06Z"},
            {"NEF", rawLikeTiff(solidJpeg(32, 32, Qt::red), "2020:02:29 12:00:00"), "2020-02-29T12:00:00+03:00", "2020-02-29T09:00:00Z"},
            {"JPG", exifJpeg(photo, "0000:00:00 00:00:00"), nullptr, nullptr},  // the clock was never set
            {"JPG", exifJpeg(photo, "    :  :     :  :  "), nullptr, nullptr},
            {"JPG", exifJpeg(photo, "2021:13:40 25:00:00"), nullptr, nullptr},
            {"JPG", photo, nullptr, nullptr},
            {"ZIP", exifJpeg(photo, "2021:07:04 15:30:12"), nullptr, nullptr},  // a type without dates
            {"MP4", movie(created, 0), "2022-05-06T10:08:09+03:00", "2022-05-06T07:08:09Z"},
            {"MP4", movie(created, 1), "2022-05-06T10:08:09+03:00", "2022-05-06T07:08:09Z"},
            {"MOV", clipBytes, "2022-05-06T10:08:09+03:00", "2022-05-06T07:08:09Z"},
            {"MP4", movie(0), nullptr, nullptr},
            {"MP4", tooLong, nullptr, nullptr},
            {"MP4", cutMovie, nullptr, nullptr},
            {"PNG", withPngTime(png, 2017, 8, 21, 18, 25, 40), "2017-08-21T21:25:40+03:00", "2017-08-21T18:25:40Z"},
            {"PNG", png, nullptr, nullptr},
            {"PNG", withPngTime(png, 2017, 0, 0, 0, 0, 0), nullptr, nullptr},
            {"MTS", avchd(192), "2019-08-23T00:00:01+03:00", "2019-08-22T21:00:01Z"},
            {"TS", avchd(188), "2019-08-23T00:00:01+03:00", "2019-08-22T21:00:01Z"},
            {"MTS", avchd(188), nullptr, nullptr},  // not its packet size
            {"MTS", noMdpm, nullptr, nullptr},
        };
        for (const Case &c : cases) {
            const auto t = captureTime(QString::fromLatin1(c.type), c.bytes);
            QVERIFY2(bool(t) == (c.iso != nullptr), c.iso ? c.iso : c.type);
            if (t) {
                QCOMPARE(t->iso(), QString::fromLatin1(c.iso));
                QCOMPARE(t->utc, utcOf(c.utc));
            }
        }
        QVERIFY(!QImage::fromData(withPngTime(png, 2017, 8, 21, 18, 25, 40)).isNull());  // still a valid PNG
    }

    // The saved file's modification time is the capture time; a file that records none keeps
    // the time it was saved. The record carries it for the report and the tooltip.
    void savedFilesCarryTheCaptureTime()
    {
        QTemporaryDir dir;
        CardImage card(400, true);
        const QByteArray jpeg = exifJpeg(picture("JPG", 120, 90), "2016:10:11 12:13:14", "+09:00");
        const QByteArray mp4 = movie(kFrom1904 + quint64(utcOf("2015-01-02T03:04:05Z")));
        const QByteArray plain = picture("PNG", 50, 50);
        card.put(10, jpeg);
        card.put(100, mp4);
        card.put(200, plain);
        const QString path = dir.path() + QStringLiteral("/card.img");
        QVERIFY(card.save(path));
        const time_t before = std::time(nullptr);
        auto found = [](const char *name, const char *type, uint64_t sector, uint64_t sectors) {
            FoundFile f;
            f.name = QString::fromLatin1(name);
            f.extension = QString::fromLatin1(type);
            f.tag = QStringLiteral("GEN");
            f.startSector = sector;
            f.endSector = sector + sectors;
            f.carvedBytes = sectors * 512;
            return f;
        };
        const QList<SaveRecord> records = saveFromList({found("GND00001.JPG", "JPG", 10, 90), found("MP400001.MP4", "MP4", 100, 100),
                                                        found("GND00002.PNG", "PNG", 200, 100)},
                                                       MediumRef{path, uint64_t(card.data.size()), openDeviceFile, nullptr}, dir.path() + "/out");
        QCOMPARE(records.size(), 3);
        auto modified = [](const QString &path) { return QFileInfo(path).lastModified().toSecsSinceEpoch(); };
        QCOMPARE(readAll(records[0].savedPath), jpeg);
        QCOMPARE(modified(records[0].savedPath), utcOf("2016-10-11T03:13:14Z"));
        QCOMPARE(records[0].captured, QStringLiteral("2016-10-11T12:13:14+09:00"));
        QCOMPARE(readAll(records[1].savedPath), mp4);
        QCOMPARE(modified(records[1].savedPath), utcOf("2015-01-02T03:04:05Z"));
        QCOMPARE(records[1].captured, QStringLiteral("2015-01-02T06:04:05+03:00"));
        QVERIFY(modified(records[2].savedPath) >= before);
        QVERIFY(records[2].captured.isEmpty());
    }

    void rawAndHeifPhotosShowTheirPicture()
    {
        // A raw file: its preview, not what Qt could make of its first image.
        const QByteArray raw = rawLikeTiff(solidJpeg(320, 240, QColor(220, 20, 20)), "2020:02:29 12:00:00");
        QVERIFY(QImage::fromData(raw).isNull());
        for (const char *type : {"NEF", "TIF", "DNG"}) {
            const QImage thumb = QImage::fromData(makeThumbnail(raw, 100, QString::fromLatin1(type)));
            QCOMPARE(thumb.size(), QSize(100, 75));
            const QColor c = thumb.pixelColor(50, 37);
            QVERIFY2(c.red() > 180 && c.green() < 70 && c.blue() < 70, type);
        }
        // Without a type nothing says to look for one.
        QVERIFY(makeThumbnail(raw).isEmpty());
        // LibRaw, where Exiv2 finds no preview, reads the same one (it wants a sensor of some size).
        const QImage byLibRaw = librawPicture(rawLikeTiff(solidJpeg(320, 240, QColor(220, 20, 20)), "2020:02:29 12:00:00", -1, -1, 64), 100);
        QCOMPARE(byLibRaw.size(), QSize(100, 75));
        QVERIFY(byLibRaw.pixelColor(50, 37).red() > 180);
        QVERIFY(librawPicture(rawLikeTiff(solidJpeg(320, 240, Qt::red), "2020:02:29 12:00:00", 200, 0x7FFFFFF0, 64), 100).isNull());
        // A JPEG cut before its picture data still has its Exif thumbnail.
        const QByteArray green = solidJpeg(160, 120, Qt::green);
        const QByteArray exifThumbTiff = tiff({{ifdOffset(34665, 2)}, {longValue(259, 6), blobOffset(513, 0), longValue(514, quint32(green.size()))},
                                               exifIfd("2020:01:01 00:00:00")},
                                              {1, -1, -1}, {green});
        const QByteArray cut = withExif(picture("JPG", 800, 600), exifThumbTiff).left(2 + 4 + 6 + exifThumbTiff.size() + 40);
        QVERIFY(QImage::fromData(cut).isNull());
        const QImage exifThumb = QImage::fromData(makeThumbnail(cut, 100, QStringLiteral("JPG")));
        QCOMPARE(exifThumb.size(), QSize(100, 75));
        QVERIFY(exifThumb.pixelColor(50, 37).green() > 180);

        // HEIF: libheif's thumbnail, or its primary picture; the date from its Exif.
        QImage blue(256, 192, QImage::Format_RGB32);
        blue.fill(QColor(20, 40, 220));
        const QByteArray exif = tiff({{ifdOffset(34665, 1)}, exifIfd("2023:04:05 06:07:08", "+00:00")}, {-1, -1}, {});
        for (int thumbBox : {128, 0}) {
            const QByteArray h = heic(blue, thumbBox, exif);
            if (h.isEmpty())
                QSKIP("this libheif has no HEVC encoder to write a HEIC with");
            const QImage thumb = QImage::fromData(makeThumbnail(h, 100, QStringLiteral("HEIC")));
            QCOMPARE(thumb.size(), QSize(100, 75));
            QVERIFY(thumb.pixelColor(50, 37).blue() > 170);
            const auto t = captureTime(QStringLiteral("HEIC"), h);
            QVERIFY(t);
            QCOMPARE(t->iso(), QStringLiteral("2023-04-05T06:07:08+00:00"));
        }
    }

    void hostileBytesGiveNothing()
    {
        const QByteArray preview = solidJpeg(320, 240, Qt::red);
        const QByteArray good = rawLikeTiff(preview, "2020:02:29 12:00:00");
        // A preview placed outside the bytes, or longer than they are.
        for (const QByteArray &bad : {rawLikeTiff(preview, "2020:02:29 12:00:00", 0xFFFFFF00, preview.size()),
                                      rawLikeTiff(preview, "2020:02:29 12:00:00", 200, 0x7FFFFFF0),
                                      rawLikeTiff(preview, "2020:02:29 12:00:00", 200, 0xFFFFFFFF)}) {
            QVERIFY(embeddedPicture(QStringLiteral("NEF"), bad, 100).isNull());
            QVERIFY(makeThumbnail(bad, 100, QStringLiteral("NEF")).isEmpty());  // the placeholder is shown
        }
        // Exif cut short, or claiming more than the file holds.
        const QByteArray photo = picture("JPG", 64, 48);
        const QByteArray dated = exifJpeg(photo, "2021:07:04 15:30:12", "+02:00");
        QVERIFY(!captureTime(QStringLiteral("JPG"), dated.left(40)));
        QByteArray overlong = dated;
        overlong[4] = char(0xFF);
        overlong[5] = char(0xF0);
        QVERIFY(!captureTime(QStringLiteral("JPG"), overlong.left(300)));
        // Any cut of a dated raw file gives its date or none, never another, and any preview
        // it still gives is a small picture.
        const auto whole = captureTime(QStringLiteral("NEF"), good);
        QVERIFY(whole);
        for (qsizetype n = 0; n <= good.size(); n += 7) {
            const QByteArray cutRaw = good.left(n);
            const auto t = captureTime(QStringLiteral("NEF"), cutRaw);
            QVERIFY(!t || *t == *whole);
            const QImage img = embeddedPicture(QStringLiteral("NEF"), cutRaw, 100);
            QVERIFY(img.isNull() || (img.width() <= 100 && img.height() <= 100));
        }
        // Bytes changed at random in each kind of file (more rounds when asked, e.g. under a
        // sanitizer: LUMAFIND_METADATA_ROUNDS).
        QRandomGenerator gen(1234);
        const int rounds = qEnvironmentVariableIsSet("LUMAFIND_METADATA_ROUNDS") ? qEnvironmentVariableIntValue("LUMAFIND_METADATA_ROUNDS") : 150;
        QImage blue(128, 96, QImage::Format_RGB32);
        blue.fill(Qt::blue);
        const QList<QPair<QString, QByteArray>> samples{
            {QStringLiteral("NEF"), good},
            {QStringLiteral("JPG"), dated},
            {QStringLiteral("MP4"), movie(kFrom1904 + 1600000000)},
            {QStringLiteral("PNG"), withPngTime(picture("PNG", 40, 30), 2017, 8, 21, 18, 25, 40)},
            {QStringLiteral("MTS"), avchd(192)},
            {QStringLiteral("HEIC"), heic(blue, 64, tiff({{ifdOffset(34665, 1)}, exifIfd("2023:04:05 06:07:08")}, {-1, -1}, {}))}};
        for (const auto &[type, bytes] : samples) {
            if (bytes.isEmpty())
                continue;
            for (int round = 0; round < rounds; ++round) {
                QByteArray b = bytes;
                for (int k = 0; k < 8; ++k)
                    b[gen.bounded(int(b.size()))] = char(gen.bounded(256));
                const auto t = captureTime(type, b);
                QVERIFY(!t || t->utc >= 0);
                const QImage img = embeddedPicture(type, b, 100);
                QVERIFY(img.isNull() || (img.width() <= 100 && img.height() <= 100));
            }
        }
    }
};

QTEST_MAIN(TestMetadata)
#include "test_metadata.moc"
