// Writes the fuzz targets' seed corpora: real-shaped files from Qt's image writers, the sample
// clip, the sample card's ZIP writer and small hand-made containers, and the shipped databases.
// Usage: lumafind-fuzzseeds SOURCE_DIR OUT_DIR (one folder per target in OUT_DIR).
#include "catalogue/signatures.h"
#include "results/remnants.h"
#include "tools/storedzip.h"

#include <QBuffer>
#include <QDir>
#include <QHash>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QPdfWriter>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtEndian>
#include <cstdio>

using namespace lumafind;

namespace {

QString outDir;
int failures = 0;

void seed(const char *target, const char *name, const QByteArray &bytes)
{
    const QString dir = outDir + QLatin1Char('/') + QLatin1String(target);
    QFile f(dir + QLatin1Char('/') + QLatin1String(name));
    if (bytes.isEmpty() || !QDir().mkpath(dir) || !f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "lumafind-fuzzseeds: cannot write %s/%s\n", target, name);
        ++failures;
    }
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray noise(int n, quint32 seedValue)
{
    QByteArray b(n, 0);
    QRandomGenerator g(seedValue);
    for (char &c : b)
        c = char(g.bounded(256));
    return b;
}

QByteArray be32(quint32 v) { QByteArray b(4, 0); qToBigEndian(v, b.data()); return b; }
QByteArray be64(quint64 v) { QByteArray b(8, 0); qToBigEndian(v, b.data()); return b; }
QByteArray le32(quint32 v) { QByteArray b(4, 0); qToLittleEndian(v, b.data()); return b; }
QByteArray le64(quint64 v) { QByteArray b(8, 0); qToLittleEndian(v, b.data()); return b; }
QByteArray box(const char *type, const QByteArray &payload) { return be32(quint32(8 + payload.size())) + type + payload; }

// A small picture with some structure, encoded by Qt's writer for format.
QByteArray picture(const char *format, int w, int h, void (*tune)(QImageWriter &) = nullptr)
{
    QImage img(w, h, QImage::Format_RGB32);
    QPainter p(&img);
    for (int y = 0; y < h; y += 4)
        for (int x = 0; x < w; x += 4)
            p.fillRect(x, y, 4, 4, QColor::fromHsv((x * 5 + y * 3) % 360, 200, 200));
    p.end();
    QByteArray out;
    QBuffer b(&out);
    b.open(QIODevice::WriteOnly);
    QImageWriter writer(&b, format);
    if (tune)
        tune(writer);
    if (!writer.write(img))
        std::fprintf(stderr, "lumafind-fuzzseeds: Qt cannot write %s: %s\n", format, qPrintable(writer.errorString()));
    return out;
}

void jpegSeeds()
{
    seed("extent_jpeg", "baseline.jpg", picture("jpeg", 48, 32));
    seed("extent_jpeg", "progressive.jpg", picture("jpeg", 40, 24, [](QImageWriter &w) { w.setProgressiveScanWrite(true); }));
    // An Exif segment holding a whole thumbnail, whose EOI must not end the file.
    const QByteArray main = picture("jpeg", 32, 24), thumb = picture("jpeg", 8, 8);
    const QByteArray app1 = QByteArray("Exif\0\0", 6) + thumb;
    QByteArray segment = QByteArray::fromHex("FFE1") + QByteArray(2, 0) + app1;
    qToBigEndian<quint16>(quint16(app1.size() + 2), segment.data() + 2);
    seed("extent_jpeg", "thumbnail.jpg", main.left(2) + segment + main.mid(2));
    // Stuffing and restart markers in the entropy-coded data.
    QByteArray rst = QByteArray::fromHex("FFD8FFDB004300") + QByteArray(64, 1) + QByteArray::fromHex("FFC0000B080001000101011100");
    rst += QByteArray::fromHex("FFDA0008010100003F00") + QByteArray::fromHex("1234FF00FFD05678FFD7FFFFD9");
    seed("extent_jpeg", "restart.jpg", rst);
}

void imageSeeds()
{
    seed("extent_images", "small.png", picture("png", 24, 16));
    seed("extent_images", "small.bmp", picture("bmp", 12, 8));
    // Qt reads GIF but does not write it: header, colour table, an extension, one image, trailer.
    QByteArray gif("GIF89a");
    gif += QByteArray::fromHex("02000200800000000000FFFFFF");
    gif += QByteArray::fromHex("21F9040000000000");
    gif += QByteArray::fromHex("2C000000000200020000");
    gif += QByteArray::fromHex("02024484003B");
    seed("extent_images", "small.gif", gif);
}

void tiffSeeds()
{
    seed("extent_tiff", "plain.tif", picture("tiff", 16, 12));
    seed("extent_tiff", "lzw.tif", picture("tiff", 24, 16, [](QImageWriter &w) { w.setCompression(1); }));
}

void isoMediaSeeds(const QString &sourceDir)
{
    seed("extent_isomedia", "clip.mp4", readAll(sourceDir + QStringLiteral("/resources/sample/clip.mp4")));
    // A movie whose index points at its media data, with a 64-bit media data box.
    const QByteArray ftyp = box("ftyp", QByteArray("isom\0\0\2\0isommp42", 16));
    const QByteArray stco = box("stco", QByteArray(4, 0) + be32(2) + be32(48) + be32(300));
    const QByteArray co64 = box("co64", QByteArray(4, 0) + be32(1) + be64(400));
    const QByteArray moov = box("moov", box("mvhd", QByteArray(100, 0))
                                            + box("trak", box("mdia", box("minf", box("stbl", stco + co64)))));
    const QByteArray payload = noise(600, 3);
    const QByteArray mdat = be32(1) + "mdat" + be64(16 + payload.size()) + payload;
    seed("extent_isomedia", "index-first.mp4", ftyp + moov + mdat);
    seed("extent_isomedia", "index-last.mov", ftyp + mdat + box("free", QByteArray(8, 0)) + moov);
}

void containerSeeds()
{
    seed("extent_containers", "small.webp", picture("webp", 16, 12));
    const QByteArray avi = "RIFF" + le32(4 + 12 + 200) + "AVI " + "LIST" + le32(4) + "hdrl" + noise(200, 4);
    const QByteArray avix = "RIFF" + le32(4 + 100) + "AVIX" + noise(100, 5);
    seed("extent_containers", "opendml.avi", avi + avix);
    seed("extent_containers", "odd.wav", "RIFF" + le32(4 + 24 + 8 + 81) + "WAVE" + "fmt " + le32(16) + QByteArray(16, 1)
                                             + "data" + le32(81) + noise(81, 6) + '\0');
    // ASF: the header object, a file properties object that states the file size, then data.
    const QByteArray fpo = QByteArray::fromHex("A1DCAB8C47A9CF118EE400C00C205365") + le64(104) + QByteArray(16, 7)
                           + le64(600) + QByteArray(56, 0);
    const QByteArray other = QByteArray::fromHex("B503BF5F2EA9CF118EE300C00C205365") + le64(46) + QByteArray(22, 0);
    QByteArray asf = QByteArray::fromHex("3026B2758E66CF11A6D900AA0062CE6C") + le64(30 + other.size() + fpo.size()) + le32(2)
                     + QByteArray(2, 0) + other + fpo;
    asf += noise(600 - asf.size(), 7);
    seed("extent_containers", "header.wmv", asf);
    // Matroska: the EBML header and a segment whose size is stated in eight bytes.
    const QByteArray ebmlHeader = QByteArray::fromHex("4286810142F7810142F2810442F381084282886D6174726F736B61");
    const QByteArray segment = noise(300, 8);
    seed("extent_containers", "segment.mkv", QByteArray::fromHex("1A45DFA3") + char(0x80 | ebmlHeader.size()) + ebmlHeader
                                                 + QByteArray::fromHex("18538067") + be64(quint64(segment.size()) | (quint64(1) << 56))
                                                 + segment);
}

void mpegSeeds()
{
    QByteArray ts, m2ts;
    for (int i = 0; i < 6; ++i) {
        QByteArray packet(188, char(i));
        packet[0] = 0x47;
        ts += packet;
        m2ts += QByteArray(4, char(i)) + packet;
    }
    seed("extent_mpeg", "stream.ts", ts);
    seed("extent_mpeg", "stream.mts", m2ts);
    QByteArray ps;
    for (int i = 0; i < 4; ++i) {
        ps += i % 2 ? QByteArray::fromHex("000001BA440004000401018BB3F8")  // MPEG-2 pack header
                    : QByteArray::fromHex("000001BA2100010001800001");    // MPEG-1
        QByteArray pes = QByteArray::fromHex("000001E00000") + noise(60, quint32(10 + i));
        qToBigEndian<quint16>(60, pes.data() + 4);
        ps += pes;
    }
    seed("extent_mpeg", "program.mpg", ps + QByteArray::fromHex("000001B9"));
}

void documentSeeds()
{
    QTemporaryDir dir;
    const QString path = dir.path() + QStringLiteral("/d.pdf");
    {
        QPdfWriter w(path);
        QPainter p(&w);
        p.drawLine(0, 0, 100, 100);
    }
    seed("extent_documents", "qt.pdf", readAll(path));
    seed("extent_documents", "updated.pdf", QByteArray("%PDF-1.4\n1 0 obj\n<<>>\nendobj\ntrailer\n<<>>\n%%EOF\n"
                                                       "2 0 obj\n<<>>\nendobj\n%%EOF\r\n"));
    seed("extent_documents", "stored.zip", storedZip({{"a.txt", noise(200, 11)}, {"b/c.txt", "hello"}}, "a comment"));
    // A ZIP64 end record and locator before the end of the central directory.
    QByteArray zip64 = storedZip({{"z", "data"}});
    const qsizetype eocd = zip64.lastIndexOf("PK\5\6");
    zip64.insert(eocd, "PK\6\6" + le64(44) + QByteArray(44, 0) + "PK\6\7" + QByteArray(16, 0));
    seed("extent_documents", "zip64.zip", zip64);
    // Sizes after the data (flag 8): the next record's signature ends the member.
    QByteArray described = storedZip({{"d", "streamed data"}});
    described[6] = char(described[6] | 0x08);
    seed("extent_documents", "descriptor.zip", described);
    // An OLE compound file: header, one allocation-table sector, a directory and a stream.
    QByteArray ole(512 * 6, 0);
    ole.replace(0, 8, QByteArray::fromHex("D0CF11E0A1B11AE1"));
    qToLittleEndian<quint16>(9, ole.data() + 0x1E);
    qToLittleEndian<quint32>(1, ole.data() + 0x2C);
    qToLittleEndian<quint32>(0xFFFFFFFE, ole.data() + 0x44);
    for (int i = 0; i < 109; ++i)
        qToLittleEndian<quint32>(i == 0 ? 0 : 0xFFFFFFFF, ole.data() + 0x4C + 4 * i);
    QByteArray fat(512, char(0xFF));
    const quint32 used[] = {0xFFFFFFFD, 0xFFFFFFFE, 3, 4, 0xFFFFFFFE};
    for (int i = 0; i < 5; ++i)
        qToLittleEndian<quint32>(used[i], fat.data() + 4 * i);
    ole.replace(512, 512, fat);
    seed("extent_documents", "compound.doc", ole);
}

// The databases as the reader meets them, and as the header checks' input: a sector holding
// one record's header, then that database's records as raw lines.
void databaseSeeds(const QString &sourceDir)
{
    QByteArray all;
    SignatureReader reader;
    for (const DatabaseFile &db : kDatabaseFiles) {
        const QByteArray text = readAll(sourceDir + QStringLiteral("/resources") + QLatin1String(db.name));
        const QByteArray name = QByteArray(db.name + 1);
        seed("database", name.constData(), text);
        all += text + '\0';
        QStringList list;
        reader.parse(QString::fromUtf8(text), list);
        if (recordCount(list) == 0)
            continue;
        QByteArray sector(512, 0);
        const QByteArray header = QByteArray::fromHex(field(list, 0, Header_Hex).toLatin1());
        const int at = field(list, 0, Header_Pos) == QLatin1String("1") ? 0 : int(field(list, 0, Header_Pos).toInt() - 1);
        if (at >= 0 && at + header.size() <= 512)
            sector.replace(at, header.size(), header);
        seed("headers", (name + ".sector").constData(), sector + list.join(QLatin1Char('\n')).toUtf8());
    }
    seed("database", "all-six", all);
}

QByteArray le16(quint16 v) { QByteArray b(2, 0); qToLittleEndian(v, b.data()); return b; }

// Boot sectors as mkfs.fat and mkfs.exfat lay them out, field by field.
QByteArray signedSector(QByteArray s)
{
    s.resize(512, '\0');
    s[510] = char(0x55);
    s[511] = char(0xAA);
    return s;
}
QByteArray fatBoot(quint8 spc, quint16 reserved, quint16 rootEntries, quint32 total, quint32 fatSize)
{
    QByteArray b = QByteArray::fromHex("EB3C90") + "MSWIN4.1" + le16(512) + char(spc) + le16(reserved) + char(2)
                   + le16(rootEntries) + le16(total < 65536 && rootEntries ? quint16(total) : 0) + char(0xF8)
                   + le16(rootEntries ? quint16(fatSize) : 0) + le16(63) + le16(255) + le32(0)
                   + le32(total < 65536 && rootEntries ? 0 : total);
    if (!rootEntries)
        b += le32(fatSize) + le16(0) + le16(0) + le32(2) + le16(1) + le16(6);
    return signedSector(b);
}
QByteArray exfatBoot(quint64 sectors = 131072, quint32 fatAt = 128, quint32 fatSectors = 128, quint32 heapAt = 256,
                     quint32 clusters = 16352, quint32 root = 4, quint8 clusterShift = 3)
{
    QByteArray b = QByteArray::fromHex("EB7690") + "EXFAT   " + QByteArray(53, 0) + le64(0) + le64(sectors) + le32(fatAt)
                   + le32(fatSectors) + le32(heapAt) + le32(clusters) + le32(root) + le32(0x12345678) + le16(0x100) + le16(0)
                   + char(9) + char(clusterShift) + char(1);
    return signedSector(b);
}
QByteArray partitionEntry(quint8 type, quint32 first, quint32 count)
{
    return char(0) + QByteArray(3, 0) + char(type) + QByteArray(3, 0) + le32(first) + le32(count);
}

// The volumes target: a medium's first sectors, then its size.
void volumeSeeds()
{
    const QByteArray fat16 = fatBoot(4, 1, 512, 40000, 40), fat32 = fatBoot(8, 32, 0, 1000000, 980), exfat = exfatBoot();
    const QByteArray size = le64(quint64(512) << 20);
    seed("volumes", "fat16", fat16 + size);
    seed("volumes", "fat32-backup", QByteArray(512 * 6, 'x') + fat32 + size);
    seed("volumes", "exfat", exfat + size);
    const QByteArray mbr = signedSector(QByteArray(446, 0) + partitionEntry(0x0C, 8, 1000000) + partitionEntry(0x07, 2, 4));
    seed("volumes", "mbr", mbr + QByteArray(512 * 7, 0) + fat32 + size);
    const QByteArray protective = signedSector(QByteArray(446, 0) + partitionEntry(0xEE, 1, 0xFFFFFFFF));
    const QByteArray header = "EFI PART" + QByteArray(64, 0) + le64(2) + le32(4) + le32(128);
    const QByteArray entry = QByteArray(16, 'g') + QByteArray(16, 'u') + le64(4) + le64(131075) + QByteArray(80, 0);
    seed("volumes", "gpt", protective + signedSector(header) + (entry + QByteArray(384, 0)) + QByteArray(512, 0) + exfat + size);
}

// FAT entries: the long name's entries (last first), then the short entry they belong to.
QByteArray shortEntry(const char *name11, quint8 attr, quint16 cluster, quint32 size)
{
    const quint16 time = (12 << 11) | (30 << 5) | 10, date = (40 << 9) | (6 << 5) | 15;
    return QByteArray(name11, 11) + char(attr) + char(0) + char(0) + le16(time) + le16(date) + le16(date) + le16(0) + le16(time)
           + le16(date) + le16(cluster) + le32(size);
}
QByteArray longEntries(const QString &name, const char *name11, bool deleted)
{
    const quint8 sum = lfnChecksum(reinterpret_cast<const unsigned char *>(name11));
    const int count = int((name.size() + 12) / 13);
    QByteArray out;
    for (int n = count; n >= 1; --n) {
        QByteArray e(32, 0);
        e[0] = char(deleted ? 0xE5 : n | (n == count ? 0x40 : 0));
        e[11] = 0x0F;
        e[13] = char(sum);
        static const int at[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
        for (int i = 0; i < 13; ++i) {
            const qsizetype c = qsizetype(n - 1) * 13 + i;
            const quint16 u = c < name.size() ? name[c].unicode() : c == name.size() ? 0 : 0xFFFF;
            qToLittleEndian(u, e.data() + at[i]);
        }
        out += e;
    }
    return out;
}
// An exFAT file entry set: file, stream extension and name entries, with both checksums.
QByteArray exfatSet(const QString &name, quint32 cluster, quint64 length, bool contiguous, bool deleted = false)
{
    const int names = int((name.size() + 14) / 15);
    const quint32 stamp = quint32((40 << 9) | (6 << 5) | 15) << 16 | ((12 << 11) | (30 << 5) | 10);
    QByteArray set = char(0x85) + QByteArray(1, char(1 + names)) + le16(0) + le16(0x20) + le16(0) + le32(stamp) + le32(stamp)
                     + le32(stamp) + char(0) + char(0) + char(0x80 | 4) + char(0x80 | 4) + char(0x80 | 4) + QByteArray(7, 0);
    quint16 hash = 0;
    for (QChar c : name) {
        const quint16 u = c.unicode() >= 'a' && c.unicode() <= 'z' ? quint16(c.unicode() - 32) : c.unicode();
        for (quint8 byte : {quint8(u & 0xFF), quint8(u >> 8)})
            hash = quint16(((hash & 1) ? 0x8000 : 0) + (hash >> 1) + byte);
    }
    set += char(0xC0) + QByteArray(1, char(contiguous ? 3 : 1)) + char(0) + char(name.size()) + le16(hash) + le16(0) + le64(length)
           + le32(0) + le32(cluster) + le64(length);
    for (int k = 0; k < names; ++k) {
        QByteArray e = QByteArray::fromHex("C100") + QByteArray(30, 0);
        for (int c = 0; c < 15 && k * 15 + c < name.size(); ++c)
            qToLittleEndian(name[k * 15 + c].unicode(), e.data() + 2 + 2 * c);
        set += e;
    }
    qToLittleEndian(exfatSetChecksum(reinterpret_cast<const unsigned char *>(set.constData()), size_t(set.size() / 32)), set.data() + 2);
    for (qsizetype e = 0; deleted && e < set.size(); e += 32)
        set[e] = char(set[e] & 0x7F);  // a deletion clears the in-use bits, not the checksum
    return set;
}

// The directories target: the volume (kind, cluster size, count, heap), then its sectors.
void directorySeeds()
{
    const auto volume = [](quint8 kind, quint8 clusterShift, quint32 clusters) { return char(kind) + QByteArray(1, char(clusterShift)) + le32(clusters) + le16(64); };
    QByteArray fat = longEntries("Holiday at the lake.jpg", "HOLIDA~1JPG", false) + shortEntry("HOLIDA~1JPG", 0x20, 5, 70000)
                     + shortEntry("DCIM       ", 0x10, 3, 0) + shortEntry("IMG_0001JPG", 0x20, 40, 1234)
                     + longEntries("A deleted one.jpg", "ADELET~1JPG", true) + shortEntry("\xE5" "DELET~1JPG", 0x20, 60, 999);
    fat.resize(512, 0);
    seed("directories", "fat16", volume(1, 2, 20000) + QByteArray(512, 0) + fat);
    seed("directories", "fat32", volume(2, 3, 200000) + fat);
    QByteArray ex = exfatSet("Clip at noon.MP4", 10, 5000000, true) + exfatSet("A long name that takes three entries.jpg", 900, 40000, false, true);
    ex.resize(1024, 0);
    seed("directories", "exfat", volume(3, 3, 16352) + ex);
}

// The fragments target: the query (type, cluster size, first cluster, room, size, held
// stretches), then the medium. Each file is split after its first clusters by one that is not
// its own.
QByteArray fragmentQuery(quint8 type, quint8 room, quint32 size, QByteArray held = {})
{
    held.resize(8, 0);
    return char(type) + QByteArray(1, 0) + char(0) + char(room) + le32(size) + held;
}
QByteArray splitAfter(const QByteArray &file, int clusters, const QByteArray &foreign)
{
    return file.left(512 * clusters) + foreign + file.mid(512 * clusters) + noise(1024, 21);
}
QByteArray smallMovie()
{
    QByteArray samples;
    QList<quint32> sizes;
    for (int i = 0; i < 6; ++i) {
        const QByteArray nal = char(i ? 0x41 : 0x65) + noise(180 + 40 * i, quint32(30 + i));
        samples += be32(quint32(nal.size())) + nal;
        sizes << quint32(4 + nal.size());
    }
    const QByteArray ftyp = box("ftyp", QByteArray("isom\0\0\2\0isomavc1", 16));
    const auto moovWith = [&](quint32 offset) {
        const QByteArray avcC = box("avcC", QByteArray::fromHex("0164001FFFE1"));
        const QByteArray avc1 = be32(quint32(86 + avcC.size())) + "avc1" + QByteArray(78, 0) + avcC;
        const QByteArray stsd = box("stsd", QByteArray(4, 0) + be32(1) + avc1);
        QByteArray stszBody = QByteArray(4, 0) + be32(0) + be32(quint32(sizes.size()));
        for (quint32 z : sizes)
            stszBody += be32(z);
        const QByteArray stsc = box("stsc", QByteArray(4, 0) + be32(1) + be32(1) + be32(quint32(sizes.size())) + be32(1));
        const QByteArray stco = box("stco", QByteArray(4, 0) + be32(1) + be32(offset));
        return box("moov", box("trak", box("mdia", box("minf", box("stbl", stsd + box("stsz", stszBody) + stsc + stco)))));
    };
    const quint32 offset = quint32(ftyp.size() + moovWith(0).size() + 8);
    return ftyp + moovWith(offset) + box("mdat", samples);
}

// The card target: a small FAT12 card (boot sector, two FATs, the root directory, 512-byte
// clusters from sector 4) holding a photo and a clip, each split by a file of noise.
QByteArray fat12Card(const QByteArray &photo, const QByteArray &movie)
{
    const auto clusters = [](const QByteArray &b) { return int((b.size() + 511) / 512); };
    const QByteArray gap = noise(512, 24);
    QByteArray data = photo.left(1024) + gap + photo.mid(1024);
    data.resize(512 * (clusters(photo) + 1), '\0');
    const int clip = clusters(data);
    data += movie.left(1024) + gap + movie.mid(1024);
    data.resize(512 * (clusters(data) + 1), '\0');
    QByteArray root = longEntries("Photo at noon.jpg", "PHOTOA~1JPG", false) + shortEntry("PHOTOA~1JPG", 0x20, 2, quint32(photo.size()))
                      + shortEntry("NOISE   DAT", 0x20, 4, 512) + shortEntry("CLIP    MP4", 0x20, quint16(2 + clip), quint32(movie.size()))
                      + shortEntry("\xE5" "OISE2  DAT", 0x20, quint16(4 + clip), 512);
    root.resize(512, '\0');
    const int total = 4 + clusters(data);
    return fatBoot(1, 1, 16, quint32(total), 1) + QByteArray(1024, 0) + root + data;
}

// An exFAT card of 512-byte clusters whose root directory goes on from cluster 2 in cluster 5:
// the photo's entry set starts in the last slot of the first and ends in the second.
QByteArray exfatCard(const QByteArray &photo)
{
    const int photoClusters = int((photo.size() + 511) / 512);
    const quint32 clusters = quint32(4 + photoClusters);
    QByteArray fat = le32(0xFFFFFFF8) + le32(0xFFFFFFFF) + le32(5) + le32(0xFFFFFFFF) + le32(0xFFFFFFFF) + le32(0xFFFFFFFF);
    fat.resize(512, 0);
    const QByteArray set = exfatSet("Photo at noon.jpg", 6, quint64(photo.size()), true);
    QByteArray dir = exfatSet("IMG_0001.JPG", 3, 900, true) + exfatSet("IMG_0002.JPG", 4, 400, true, true);
    dir.resize(15 * 32, 0);
    dir += set.left(32);
    QByteArray more = set.mid(32);
    more.resize(512, 0);
    QByteArray card = exfatBoot(26 + clusters, 24, 1, 26, clusters, 2, 0) + QByteArray(23 * 512, 0) + fat + QByteArray(512, 0);
    card += dir + noise(1024, 25) + more + photo;
    card.resize(512 * (26 + qsizetype(clusters)), 0);
    return card;
}

void fragmentSeeds()
{
    const QByteArray photo = picture("jpeg", 64, 48);
    seed("fragments", "photo.jpg", fragmentQuery(0, 1, quint32(photo.size())) + splitAfter(photo, 2, noise(512, 20)));
    const QByteArray movie = smallMovie();
    seed("fragments", "movie.mp4", fragmentQuery(1, 1, quint32(movie.size()), QByteArray::fromHex("0601"))
                                       + splitAfter(movie, 2, movie.mid(600, 512)));
    QByteArray movi = "movi";
    for (quint32 i = 0; i < 24; ++i)
        movi += "00dc" + le32(90 + i) + noise(int(90 + i + (i & 1)), 40 + i);
    movi += "JUNK" + le32(0);  // a chunk header in the last cluster: the walk ends only there
    const QByteArray avi = "RIFF" + le32(quint32(4 + 8 + movi.size())) + "AVI " + "LIST" + le32(quint32(movi.size())) + movi;
    seed("card", "fat12", fat12Card(photo, movie));
    seed("card", "exfat", exfatCard(photo));
    seed("fragments", "chunks.avi", fragmentQuery(3, 1, quint32(avi.size())) + splitAfter(avi, 2, noise(512, 23)));
}

} // namespace

// The committed fixtures of the other-file and video formats, each to the target of its family;
// every seed also goes to the header checks, its hit at the start.
void fixtureSeeds(const QString &sourceDir)
{
    const QDir fixtures(sourceDir + QStringLiteral("/tests/fixtures/formats"));
    const QHash<QString, const char *> targets = {
        {"7z", "extent_archives"},   {"gz", "extent_archives"},   {"bz2", "extent_archives"}, {"xz", "extent_archives"},
        {"cab", "extent_archives"},  {"rar", "extent_archives"},  {"mp3", "extent_streams"},  {"flac", "extent_streams"},
        {"ogg", "extent_streams"},   {"aif", "extent_streams"},   {"aifc", "extent_streams"}, {"djvu", "extent_streams"},
        {"exe", "extent_programs"},  {"sqlite", "extent_programs"}, {"elf", "extent_programs"},
    };
    for (const QFileInfo &f : fixtures.entryInfoList(QDir::Files)) {
        const QByteArray bytes = readAll(f.absoluteFilePath());
        const char *target = targets.value(f.suffix().toLower(), "extent_programs");
        seed(target, qPrintable(f.fileName()), bytes);
        seed("checks", qPrintable(f.fileName()), QByteArray(2, '\0') + bytes.left(4096));
    }
    // Camera formats, made by hand as the tests make them.
    seed("extent_cameras", "x3f", "FOVb" + QByteArray::fromHex("03000200") + QByteArray(200, 'x') + "SECd"
                                      + QByteArray::fromHex("00000200010000000800000064000000") + "IMA2" + QByteArray::fromHex("D0000000"));
    seed("extent_cameras", "psd", QByteArray("8BPS") + QByteArray::fromHex("000100000000000000030000001400000014000800030000000000000000000000000000") + QByteArray(1200, 'p'));
}

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: lumafind-fuzzseeds SOURCE_DIR OUT_DIR\n");
        return 2;
    }
    const QString sourceDir = QString::fromLocal8Bit(argv[1]);
    outDir = QString::fromLocal8Bit(argv[2]);
    jpegSeeds();
    imageSeeds();
    tiffSeeds();
    isoMediaSeeds(sourceDir);
    containerSeeds();
    mpegSeeds();
    documentSeeds();
    databaseSeeds(sourceDir);
    fixtureSeeds(sourceDir);
    volumeSeeds();
    directorySeeds();
    fragmentSeeds();
    return failures == 0 ? 0 : 1;
}
