// The format families on real-shaped first sectors: header checks that accept the files cameras
// and writers make and refuse their signatures in noise or in the middle of a stream, the real
// type of a TIFF-based raw file, and where camera formats end when other data follows them.
#include "exiffiles.h"
#include "extentcheck.h"

#include <QImage>
#include <QTest>

using namespace lumafind;
using namespace exiffiles;

namespace {

// A camera raw file shaped like the real ones: Make, strips of image data.
QByteArray rawTiff(const QByteArray &make, const QByteArray &data, bool dng = false)
{
    QList<Entry> ifd{longValue(0xFE, 1), longValue(0x100, 64), ascii(0x10F, make)};
    if (dng)
        ifd.append({0xC612, 1, 4, QByteArray::fromHex("01040000")});
    ifd << blobOffset(0x111, 0) << longValue(0x117, quint32(data.size()));
    return tiff({ifd}, {-1}, {data});
}

// MPEG-1 layer III frames at 128 kbit/s, 44.1 kHz: 417 or 418 bytes each.
QByteArray mp3Frames(int frames, quint32 seed)
{
    QByteArray out;
    for (int i = 0; i < frames; ++i) {
        const bool pad = i % 3 == 0;
        out += QByteArray::fromHex(pad ? "FFFB9264" : "FFFB9064") + noise(pad ? 414 : 413, seed + quint32(i));
    }
    return out;
}

QByteArray transportPackets(int packets, int size, int syncAt)
{
    QByteArray out;
    for (int i = 0; i < packets; ++i) {
        QByteArray p = noise(size, quint32(i));
        p[syncAt] = 0x47;
        out += p;
    }
    return out;
}

QByteArray psdHeader(int channels, int height, int width, int depth)
{
    return QByteArray("8BPS") + be16(1) + QByteArray(6, '\0') + be16(quint16(channels)) + be32(quint32(height))
           + be32(quint32(width)) + be16(quint16(depth)) + be16(3);
}
} // namespace

class TestFormats : public QObject {
    Q_OBJECT
private slots:
    // Files writers make pass; their signatures in noise do not.
    void headerChecksTellFilesFromNoise()
    {
        QCOMPARE(checkOf("JPG", picture("jpeg", 200, 150)).ok, true);
        QCOMPARE(checkOf("JPG", QByteArray::fromHex("FFD8FFE0") + noise(600, 1)).ok, false);
        QCOMPARE(checkOf("JPG", QByteArray::fromHex("FFD8FFD9") + noise(600, 2)).ok, false);  // nothing but an end
        QCOMPARE(checkOf("TIF", picture("tiff", 64, 64)).ok, true);
        QCOMPARE(checkOf("TIF", QByteArray::fromHex("49492A0008000000") + QByteArray::fromHex("0000") + noise(600, 3)).ok, false);
        QCOMPARE(checkOf("MP4", clip()).ok, true);
        QCOMPARE(checkOf("MP4", noise(4, 4) + "ftypisom" + noise(600, 5)).ok, false);
        QCOMPARE(checkOf("BMP", picture("bmp", 80, 60)).ok, true);
        QImage indexed = QImage(40, 30, QImage::Format_RGB32).convertToFormat(QImage::Format_Indexed8);
        QCOMPARE(checkOf("BMP", encoded(indexed, "BMP")).ok, true);
        QCOMPARE(checkOf("BMP", "BM" + noise(600, 6)).ok, false);
        QByteArray wav = "RIFF" + le32(4 + 24 + 8 + 100) + "WAVE" + "fmt " + le32(16) + QByteArray(16, 1) + "data" + le32(100) + noise(100, 7);
        QCOMPARE(checkOf("WAV", wav).ok, true);
        QCOMPARE(checkOf("WAV", "RIFF" + noise(4, 8) + "WAVEfmt " + noise(600, 9)).ok, false);
        QCOMPARE(checkOf("PSD", psdHeader(3, 100, 100, 8) + QByteArray(600, 0)).ok, true);
        QCOMPARE(checkOf("PSD", "8BPS" + be16(1) + noise(600, 11)).ok, false);
        // Flat pixels of grey 0x49 match the Phase One signature; they are not a TIFF.
        QCOMPARE(checkOf("IIQ", QByteArray(2560, 0x49)).ok, false);
        QCOMPARE(checkOf("IIQ", QByteArray::fromHex("49492A00080A00004949494943776152") + QByteArray(600, 0)).ok, true);
    }

    // Streams whose first packet recurs: the first one starts a file, the same packet in the
    // middle of the stream does not; a frame sync in noise is no MP3.
    void streamsAreFoundOnce()
    {
        const QByteArray m2ts = transportPackets(40, 192, 4);
        QCOMPARE(checkOf("MTS", m2ts).ok, true);
        QCOMPARE(checkOf("MTS", m2ts.mid(192 * 16), m2ts.left(192 * 16)).ok, false);  // packet 17 of the stream
        QCOMPARE(checkOf("MTS", m2ts.mid(192 * 16), noise(192 * 16, 12)).ok, true);    // a new stream after other data
        QCOMPARE(checkOf("MTS", QByteArray(4, 0) + char(0x47) + noise(900, 13)).ok, false);
        const QByteArray ts = transportPackets(40, 188, 0);
        QCOMPARE(checkOf("TS", ts).ok, true);
        QCOMPARE(checkOf("TS", ts.mid(188 * 8), ts.left(188 * 8)).ok, false);

        const QByteArray mp3 = mp3Frames(20, 14);
        QCOMPARE(checkOf("MP3", mp3).ok, true);
        QCOMPARE(checkOf("MP3", mp3.mid(417 + 418 + 417 + 418), mp3.left(417 + 418 + 417 + 418)).ok, false);
        int inNoise = 0;
        for (quint32 seed = 0; seed < 100; ++seed)
            inNoise += checkOf("MP3", QByteArray::fromHex("FFFB9064") + noise(2000, 200 + seed)).ok;
        QCOMPARE(inNoise, 0);
        QCOMPARE(checkOf("MP3", "ID3" + QByteArray::fromHex("0300000000017F") + noise(600, 15)).ok, true);
        QCOMPARE(checkOf("MP3", "ID3" + QByteArray::fromHex("0300008000017F") + noise(600, 16)).ok, false);
    }

    // A TIFF is named by the camera its first directory names.
    void tiffFamilyTypes_data()
    {
        QTest::addColumn<QByteArray>("make");
        QTest::addColumn<bool>("dng");
        QTest::addColumn<QString>("type");
        QTest::newRow("Nikon") << QByteArray("NIKON CORPORATION") << false << "NEF";
        QTest::newRow("Sony") << QByteArray("SONY") << false << "ARW";
        QTest::newRow("Pentax") << QByteArray("PENTAX Corporation") << false << "PEF";
        QTest::newRow("Samsung") << QByteArray("SAMSUNG") << false << "SRW";
        QTest::newRow("Epson") << QByteArray("SEIKO EPSON CORP.") << false << "ERF";
        QTest::newRow("Hasselblad") << QByteArray("Hasselblad") << false << "3FR";
        QTest::newRow("Kodak") << QByteArray("EASTMAN KODAK COMPANY") << false << "DCR";
        QTest::newRow("a DNG from any camera") << QByteArray("Canon") << true << "DNG";
        QTest::newRow("Epson's older raw") << QByteArray("EPSON") << false << "ERF";
        QTest::newRow("no maker") << QByteArray("") << false << "";
    }
    void tiffFamilyTypes()
    {
        QFETCH(QByteArray, make);
        QFETCH(bool, dng);
        QFETCH(QString, type);
        const QByteArray file = rawTiff(make, noise(3000, 17), dng);
        const HeaderCheck c = checkOf("TIF", file);
        QVERIFY(c.ok);
        QCOMPARE(c.type, type);
        // A plain TIFF (a scanner's, an editor's) is a TIFF whoever made it.
        QCOMPARE(checkOf("TIF", tiff({{longValue(0x100, 64), ascii(0x10F, make)}}, {-1}, {}) + noise(100, 32)).type, QString());
        // Only the generic TIFF record is renamed; the others keep their type.
        QVERIFY(checkOf("CR2", file).type.isEmpty());
        // And its end is the end of its strips, whatever follows.
        QCOMPARE(extentOf(type.isEmpty() ? QStringLiteral("TIF") : type, file + noise(5000, 18), uint64_t(file.size()) + 5000).bytes,
                 uint64_t(file.size()));
    }

    // Camera formats end where their own layout says, not where the carve does.
    void cameraFormatsEndWhereTheySay()
    {
        const QByteArray after = noise(8000, 19);
        auto exact = [&](const QString &ext, const QByteArray &file) {
            const Extent e = extentOf(ext, file + after, uint64_t(file.size() + after.size()));
            QVERIFY2(e.declared, qPrintable(ext));
            QCOMPARE(e.bytes, uint64_t(file.size()));
            const Extent cut = extentOf(ext, file.left(file.size() / 2), uint64_t(file.size() / 2));
            QVERIFY2(!cut.declared || cut.bytes <= uint64_t(file.size() / 2), qPrintable(ext + " cut"));
        };
        // A maker note (Canon's: a directory with offsets from the file's start) holding data
        // past everything else the directories point at: the note is its directory and two
        // bytes more, the 300 bytes of its one entry follow.
        {
            const QList<QList<Entry>> ifds{{ascii(0x10F, "Canon"), ifdOffset(0x8769, 1)}, {{37500, 7, 20, le32(0), -1, 0}}};
            const quint32 noteAt = quint32(tiff(ifds, {-1, -1}, {QByteArray()}).size());
            const QByteArray note = le16(1) + le16(0x0001) + le16(7) + le32(300) + le32(noteAt + 20) + le32(0) + QByteArray(2, 0) + noise(300, 20);
            exact("CR2", tiff(ifds, {-1, -1}, {note}));
        }
        // Panasonic: the raw data offset and its length from the strips' byte count.
        {
            QByteArray rw2 = tiff({{ascii(0x10F, "Panasonic"), longValue(0x111, 0xFFFFFFFF), longValue(0x117, 5000), blobOffset(0x118, 0)}},
                                  {-1}, {noise(5000, 21)});
            rw2[2] = 'U';  // its own magic number
            exact("RW2", rw2);
        }
        // Canon CRW: a heap with two records, its table at its end.
        {
            QByteArray heap = noise(1000, 22);
            const quint32 tableAt = quint32(heap.size());
            heap += le16(2) + le16(0x2005) + le32(600) + le32(0) + le16(0x2007) + le32(300) + le32(600) + le32(tableAt);
            exact("CRW", "II" + le32(26) + "HEAPCCDR" + le16(1) + le16(2) + QByteArray(8, 0) + heap);
        }
        // Minolta MRW: blocks, then packed 12-bit raw data of the sensor's size.
        {
            QByteArray prd = QByteArray("\0PRD", 4) + be32(26) + "21810002" + be16(40) + be16(60) + be16(40) + be16(60)
                             + QByteArray::fromHex("0C0C5900000000000000");
            QByteArray mrw = QByteArray("\0MRM", 4) + be32(quint32(prd.size())) + prd;
            exact("MRW", mrw + noise(40 * 60 * 12 / 8, 23));
        }
        // Fujifilm RAF: the header's offsets and lengths.
        {
            QByteArray raf = QByteArray("FUJIFILMCCD-RAW 0201FF383501") + QByteArray(56, ' ');
            raf.resize(84);
            raf += be32(160) + be32(2000) + be32(2160) + be32(400) + be32(2560) + be32(3000);
            raf += noise(160 - raf.size(), 24) + noise(2000 + 400 + 3000, 25);
            exact("RAF", raf);
        }
        // Sigma X3F: sections, then its directory, then the word that points at it.
        {
            QByteArray x3f = "FOVb" + le32(0x00020003) + noise(200, 26);
            const quint32 dirAt = quint32(x3f.size());
            x3f += "SECd" + le32(0x00020000) + le32(1) + le32(8) + le32(100) + "IMA2" + le32(dirAt);
            exact("X3F", x3f);
        }
        // Photoshop: raw and run-length coded image data.
        {
            QByteArray raw = psdHeader(3, 20, 30, 8) + be32(0) + be32(4) + "abcd" + be32(0) + be16(0) + noise(3 * 20 * 30, 27);
            exact("PSD", raw);
            QByteArray rle = psdHeader(1, 4, 30, 8) + be32(0) + be32(0) + be32(0) + be16(1);
            for (int row = 0; row < 4; ++row)
                rle += be16(quint16(10 + row));
            rle += noise(10 + 11 + 12 + 13, 28);
            exact("PSD", rle);
        }
        // JPEG 2000: boxes, the codestream box sized.
        {
            QByteArray jp2 = be32(12) + "jP  " + QByteArray::fromHex("0D0A870A") + be32(20) + "ftypjp2 " + be32(0) + "jp2 ";
            jp2 += be32(8 + 100) + "jp2c" + noise(100, 29);
            exact("JP2", jp2);
            // A codestream box "to the end of the file": its tile-parts, to the end marker.
            QByteArray open = jp2.left(32) + be32(0) + "jp2c" + QByteArray::fromHex("FF4FFF51000A") + noise(8, 30);
            open += QByteArray::fromHex("FF90000A0000") + be32(12 + 2 + 40) + QByteArray::fromHex("0001FF93") + noise(40, 31) + QByteArray::fromHex("FFD9");
            exact("JP2", open);
        }
    }
};

QTEST_MAIN(TestFormats)
#include "test_formats.moc"
