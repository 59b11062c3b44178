// The end finders on real-shaped files: exact ends, files followed by garbage, truncated files,
// embedded thumbnails, 64-bit box sizes and damaged size fields (which must never cut a file).
#include "extentcheck.h"
#include "tools/storedzip.h"

#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

using namespace lumafind;

namespace {

QByteArray box(const char *type, const QByteArray &payload) { return be32(quint32(8 + payload.size())) + type + payload; }

} // namespace

class TestExtents : public QObject {
    Q_OBJECT
private slots:
    void picturesDeclareTheirEnd()
    {
        checkEnd("JPG", picture("jpeg", 300, 200));
        checkEnd("PNG", picture("png", 160, 120));
        checkEnd("BMP", picture("bmp", 160, 120));
        // TIFF: the furthest byte its directories point at, whatever follows.
        const QByteArray tif = picture("tiff", 160, 120);
        QCOMPARE(extentOf("TIF", tif + QByteArray(3000, '\0')).bytes, uint64_t(tif.size()));
        QCOMPARE(extentOf("TIF", tif + noise(3000)).bytes, uint64_t(tif.size()));
        QVERIFY(!extentOf("TIF", tif.left(tif.size() / 2)).declared);
        checkEnd("WEBP", picture("webp", 160, 120));
        // A hand-made GIF: header, global colour table, an extension, one image, trailer.
        QByteArray gif("GIF89a");
        gif += QByteArray::fromHex("02000200800000000000FFFFFF");    // 2x2, 2-colour table
        gif += QByteArray::fromHex("21F9040000000000");              // graphic control extension
        gif += QByteArray::fromHex("2C000000000200020000");          // image descriptor
        gif += QByteArray::fromHex("02024484003B");                  // LZW data, terminator, trailer
        checkEnd("GIF", gif);
    }

    void jpegThumbnailsAndStuffing()
    {
        // An Exif APP1 segment that holds a whole thumbnail JPEG, EOI included.
        const QByteArray main = picture("jpeg", 320, 240), thumb = picture("jpeg", 40, 30);
        const QByteArray app1 = "Exif\0\0" + thumb;
        const QByteArray withThumb = main.left(2) + QByteArray::fromHex("FFE1") + be16(quint16(app1.size() + 2)) + app1 + main.mid(2);
        checkEnd("JPG", withThumb);
        // Restart markers inside the entropy-coded data do not end it.
        QByteArray rst = QByteArray::fromHex("FFD8FFDB004300") + QByteArray(64, 1) + QByteArray::fromHex("FFC0000B080001000101011100");
        rst += QByteArray::fromHex("FFDA0008010100003F00") + QByteArray::fromHex("1234FF00FFD05678FFD7") + QByteArray::fromHex("FFD9");
        QCOMPARE(extentOf("JPG", rst + noise(100)).bytes, uint64_t(rst.size()));
        // No EOI at all: the carved range.
        const Extent cut = extentOf("JPG", main.left(main.size() - 2) + QByteArray(512, 0x11));
        QVERIFY(!cut.declared);
    }

    void isoMediaBoxes()
    {
        const QByteArray mp4 = clip();
        checkEnd("MP4", mp4);
        // Movie box at the end, with a 64-bit media data box.
        const QByteArray ftyp = box("ftyp", QByteArray("isom\0\0\2\0isommp42", 16));
        const QByteArray payload = noise(40000, 3);
        const QByteArray mdat = be32(1) + "mdat" + be64(16 + payload.size()) + payload;
        const QByteArray moovAtEnd = ftyp + mdat + box("moov", box("mvhd", QByteArray(100, 0)));
        checkEnd("MOV", moovAtEnd);
        // A size field damaged to be small inside the carved range: no answer, not a short file.
        QByteArray damaged = moovAtEnd;
        qToBigEndian<quint64>(quint64(16 + 1000), damaged.data() + ftyp.size() + 8);
        Extent e = extentOf("MOV", damaged + noise(2000));
        QVERIFY(!e.declared);
        QCOMPARE(e.bytes, uint64_t(damaged.size() + 2000));
        // Damaged to be huge: beyond the medium, no answer.
        qToBigEndian<quint64>(quint64(1) << 40, damaged.data() + ftyp.size() + 8);
        QVERIFY(!extentOf("MOV", damaged).declared);
        // No movie box at all (a stream cut before its index): carved.
        QVERIFY(!extentOf("MP4", ftyp + mdat).declared);
        // The index first, its data box damaged to end early: the chunk offsets reach beyond.
        QByteArray faststart = mp4;
        const qsizetype mdatAt = faststart.indexOf("mdat") - 4;
        QVERIFY(mdatAt > 0);
        qToBigEndian<quint32>(4096, faststart.data() + mdatAt);
        QVERIFY(!extentOf("MP4", faststart).declared);
        // The next file's ftyp ends this one.
        QCOMPARE(extentOf("MP4", mp4 + mp4).bytes, uint64_t(mp4.size()));
    }

    void riffAsfAndMatroska()
    {
        QByteArray avi = "RIFF" + le32(4 + 12 + 1000) + "AVI " + "LIST" + le32(4) + "hdrl" + noise(1000);
        QByteArray avix = "RIFF" + le32(4 + 500) + "AVIX" + noise(500);
        checkEnd("AVI", avi + avix, true);
        QCOMPARE(extentOf("AVI", avi + noise(600)).bytes, uint64_t(avi.size()));
        QByteArray wav = "RIFF" + le32(4 + 24 + 8 + 801) + "WAVE" + "fmt " + le32(16) + QByteArray(16, 1) + "data" + le32(801) + noise(801) + '\0';
        checkEnd("WAV", wav);

        const QByteArray headerGuid = QByteArray::fromHex("3026B2758E66CF11A6D900AA0062CE6C");
        const QByteArray fpoGuid = QByteArray::fromHex("A1DCAB8C47A9CF118EE400C00C205365");
        const QByteArray fpo = fpoGuid + le64(104) + QByteArray(16, 7) + le64(5000) + QByteArray(56, 0);
        QByteArray asf = headerGuid + le64(30 + fpo.size()) + le32(1) + QByteArray(2, 0) + fpo;
        asf += noise(5000 - asf.size());
        checkEnd("WMV", asf);

        const QByteArray ebmlHeader = QByteArray::fromHex("4286810142F7810142F2810442F381084282886D6174726F736B61");
        const QByteArray segmentPayload = noise(3000);
        // The segment's size in eight bytes (its length marker in the first).
        const QByteArray mkv = QByteArray::fromHex("1A45DFA3") + char(0x80 | ebmlHeader.size()) + ebmlHeader + QByteArray::fromHex("18538067")
                               + be64(quint64(segmentPayload.size()) | (quint64(1) << 56)) + segmentPayload;
        checkEnd("MKV", mkv);
        // A live recording leaves the segment size unknown: carved.
        QByteArray live = mkv;
        live.replace(4 + 1 + ebmlHeader.size() + 4, 8, QByteArray::fromHex("01FFFFFFFFFFFFFF"));
        QVERIFY(!extentOf("MKV", live).declared);
    }

    void mpegStreams()
    {
        QByteArray ts;
        for (int i = 0; i < 400; ++i) {
            QByteArray packet(188, char(i));
            packet[0] = 0x47;
            ts += QByteArray(4, char(i)) + packet;  // M2TS: a time stamp before each packet
        }
        checkEnd("MTS", ts);
        QCOMPARE(extentOf("MTS", ts + QByteArray(192, 0x47)).bytes, uint64_t(ts.size() + 192));

        QByteArray ps;
        for (int i = 0; i < 50; ++i) {
            ps += QByteArray::fromHex("000001BA440004000401018BB3F8");  // MPEG-2 pack header
            ps += QByteArray::fromHex("000001E0") + be16(300) + noise(300, quint32(i));
        }
        ps += QByteArray::fromHex("000001B9");
        checkEnd("MPG", ps, true);
    }

    void documentsAndArchives()
    {
        QTemporaryDir dir;
        const QByteArray pdf = pdfDocument(dir.path());
        checkEnd("PDF", pdf);
        // The last %%EOF in the carved range: an incremental update is kept.
        const QByteArray updated = pdf + QByteArray("1 0 obj\n<<>>\nendobj\n%%EOF\n");
        QCOMPARE(extentOf("PDF", updated + QByteArray(700, 0)).bytes, uint64_t(updated.size()));

        const QByteArray zip = storedZip({{"a.txt", noise(5000, 1)}, {"b/c.txt", "hello"}}, "a comment");
        checkEnd("ZIP", zip);
        // A damaged local header: carved, not cut.
        QByteArray bad = zip;
        bad[30 + 5 + 100] = 'x';
        bad.replace(18, 4, le32(0xFFFFFF));
        QVERIFY(!extentOf("ZIP", bad).declared);

        // An OLE compound file: header, one allocation-table sector, a directory and data.
        QByteArray ole(512 * 6, 0);
        ole.replace(0, 8, QByteArray::fromHex("D0CF11E0A1B11AE1"));
        qToLittleEndian<quint16>(9, ole.data() + 0x1E);
        qToLittleEndian<quint32>(1, ole.data() + 0x2C);
        qToLittleEndian<quint32>(0xFFFFFFFE, ole.data() + 0x44);
        qToLittleEndian<quint32>(0, ole.data() + 0x48);
        for (int i = 0; i < 109; ++i)
            qToLittleEndian<quint32>(i == 0 ? 0 : 0xFFFFFFFF, ole.data() + 0x4C + 4 * i);
        QByteArray fat(512, char(0xFF));
        const quint32 used[] = {0xFFFFFFFD, 0xFFFFFFFE, 3, 4, 0xFFFFFFFE};  // FAT, directory, a 3-sector stream
        for (int i = 0; i < 5; ++i)
            qToLittleEndian<quint32>(used[i], fat.data() + 4 * i);
        ole.replace(512, 512, fat);
        checkEnd("DOC", ole);
    }

    // Inputs made to cost the finders as much as possible: each must answer after reading a
    // bounded multiple of the bytes it may claim, whatever the data says.
    void craftedInputsCostBoundedWork()
    {
        // ASF: two object sizes that sum to 2^64 sent the walk in a circle.
        const QByteArray headerGuid = QByteArray::fromHex("3026B2758E66CF11A6D900AA0062CE6C");
        QByteArray asf = headerGuid + le64(70) + le32(2) + QByteArray(2, 0);
        asf += QByteArray(16, 1) + le64(0x8000000000000000ull) + QByteArray(16, 2) + le64(0x8000000000000000ull);
        Extent e;
        QVERIFY(readFor("WMV", asf + noise(4096), &e) < 10000);
        QVERIFY(!e.declared);
        // MP4: a thousand chunk-offset boxes, each claiming four million entries it cannot hold.
        const QByteArray stbl = box("stco", QByteArray(4, 0) + be32(4000000) + be32(16)).repeated(1024);
        const QByteArray ftyp = box("ftyp", QByteArray("isom\0\0\2\0isommp42", 16));
        const QByteArray mp4 = ftyp + box("moov", box("trak", box("mdia", box("minf", box("stbl", stbl))))) + box("mdat", noise(2000));
        QVERIFY(readFor("MP4", mp4, &e) < 4 * uint64_t(mp4.size()));
        QVERIFY(e.declared);
        QCOMPARE(e.bytes, uint64_t(mp4.size()));
        // TIFF: a strip count of 268 million in a small file.
        QByteArray tiff = "II" + QByteArray::fromHex("2A00") + le32(8);
        tiff += QByteArray::fromHex("0200");                                              // two entries
        tiff += QByteArray::fromHex("11010400") + le32(0x10000000) + le32(64);            // StripOffsets
        tiff += QByteArray::fromHex("17010400") + le32(0x10000000) + le32(64);            // StripByteCounts
        tiff += le32(0) + noise(180000);
        QVERIFY(readFor("TIF", tiff, &e) < 2 * uint64_t(tiff.size()));
        QVERIFY(!e.declared);
        // TIFF: a directory that points at itself, and sub-directories that point back.
        QByteArray loop = "II" + QByteArray::fromHex("2A00") + le32(8) + QByteArray::fromHex("0100");
        loop += QByteArray::fromHex("4A010400") + le32(1) + le32(8) + le32(8) + QByteArray(200, 0);
        QVERIFY(readFor("TIF", loop, &e) < 10000);
        QVERIFY(e.bytes <= uint64_t(loop.size()));
        // PDF: two megabytes of %%EOF are read once, not once per marker.
        const QByteArray eofs = "%PDF-1.4\n" + QByteArray("%%EOF").repeated((2 << 20) / 5);
        QVERIFY(readFor("PDF", eofs, &e) < 3 * uint64_t(eofs.size()));
        QVERIFY(e.declared);
        QCOMPARE(e.bytes, uint64_t(eofs.size()));
        // ZIP: an entry with a data descriptor followed by 18 MiB of "PK".
        const QByteArray pk = QByteArray::fromHex("504B0304140008000000000000000000000000000000000000000100000061") + QByteArray("PK").repeated(9 << 20);
        QVERIFY(readFor("ZIP", pk, &e) < 3 * uint64_t(pk.size()));
        QVERIFY(!e.declared);
        // Lengths that wrap must not give far-too-short files: a largesize box reaching past
        // 2^64, and a ZIP64 end record whose size does.
        const QByteArray wrap = ftyp + be32(1) + "mdat" + be64(~uint64_t(0) - 20) + noise(3000);
        QVERIFY(!extentOf("MP4", wrap).declared);
        const QByteArray zip = storedZip({{"a.txt", "hello"}});
        const qsizetype eocd = zip.lastIndexOf(QByteArray::fromHex("504B0506"));
        const QByteArray zip64 = zip.left(eocd) + QByteArray::fromHex("504B0606") + le64(~uint64_t(0) - 30) + noise(400);
        QVERIFY(!extentOf("ZIP", zip64).declared);
    }

    // Cut files: no finder reads on for gigabytes, whatever follows.
    void cutFilesEndTheirSearch()
    {
        const QByteArray jpeg = picture("jpeg", 400, 300);
        const QByteArray cut = jpeg.left(jpeg.size() / 2);
        const uint64_t carved = (uint64_t(cut.size()) + 511) / 512 * 512;
        for (const char erased : {'\0', '\xFF'}) {
            const QByteArray card = cut + QByteArray(int(carved) - cut.size(), 'x') + QByteArray(64 << 20, erased);
            MemorySource s(card);
            const Extent e = findExtent("JPG", s, carved);
            QVERIFY(!e.declared);
            QCOMPARE(e.bytes, carved);
            QVERIFY2(s.bytesRead() < carved + (3u << 20), qPrintable(QString::number(s.bytesRead())));
        }
        // A cut ZIP followed by a whole one: the walk runs into the second one, whose end record
        // does not describe what was walked: no answer for the first, the second is whole.
        const QByteArray a = storedZip({{"a.txt", noise(3000, 4)}, {"b.txt", noise(3000, 5)}});
        const QByteArray b = storedZip({{"c.txt", noise(2000, 6)}});
        const QByteArray cutA = a.left(3500);
        const QByteArray card = cutA + b + noise(1000);
        QVERIFY(!extentOf("ZIP", card, uint64_t(cutA.size())).declared);
        QCOMPARE(extentOf("ZIP", b + noise(1000)).bytes, uint64_t(b.size()));
        // Entries with data descriptors: the next record is searched up to the next found file.
        MemorySource s(card);
        ExtentContext c{uint64_t(cutA.size()), uint64_t(cutA.size())};
        QVERIFY(!findExtent("ZIP", s, c).declared);
    }

    void unknownTypesAreCarved()
    {
        const QByteArray data = noise(4096);
        const Extent e = extentOf("XYZ", data, 2048);
        QVERIFY(!e.declared);
        QCOMPARE(e.bytes, 2048u);
        QVERIFY(!hasExtentFinder("XYZ"));
        QVERIFY(hasExtentFinder("mp4"));
    }
};

QTEST_MAIN(TestExtents)
#include "test_extents.moc"
