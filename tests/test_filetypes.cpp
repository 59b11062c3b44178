// The end finders and header checks of the video and other-file types: files from the formats'
// own writers (committed under fixtures/formats, made by fixtures/make-fixtures.sh; gzip by
// zlib here; ELF is this test program), and files built here where no free writer exists.
// Each must come back byte-identical when random bytes or zeros follow it, never shorter when
// it is cut, and crafted inputs must cost bounded reads.
#include "extentcheck.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QTest>
#include <QtEndian>
#include <zlib.h>

using namespace lumafind;

namespace {

QByteArray fixture(const char *name)
{
    return readAll(QStringLiteral(LUMAFIND_SOURCE_DIR "/tests/fixtures/formats/") + QLatin1String(name));
}

QByteArray be24(quint32 v) { return be32(v).mid(1); }
quint32 crc(const QByteArray &b) { return quint32(crc32(0, reinterpret_cast<const Bytef *>(b.constData()), uInt(b.size()))); }

// What a finder reads on a crafted input: at most `factor` times its size and a megabyte; a
// `refused` input also gets no answer of its own (it stays carved).
void checkCheap(const QString &ext, const QByteArray &bytes, double factor = 2, bool refused = false)
{
    Extent e;
    const uint64_t read = readFor(ext, bytes, &e);
    QVERIFY2(read <= uint64_t(factor * bytes.size()) + (1u << 20), qPrintable(QStringLiteral("%1 read %2 of %3").arg(ext).arg(read).arg(bytes.size())));
    QVERIFY2(!refused || !e.declared, qPrintable(ext + " answered"));
}

// The check passes a real first sector and refuses the signature followed by random bytes,
// but for at most `allowed` of 200 fills.
void checkCheck(const QString &ext, const QByteArray &file, const QByteArray &signature, int allowed = 0)
{
    QVERIFY2(checkOf(ext, file + noise(3000)).ok, qPrintable(ext + " real header"));
    int passed = 0;
    for (quint32 seed = 100; seed < 300; ++seed)
        passed += checkOf(ext, signature + noise(3000, seed)).ok ? 1 : 0;
    QVERIFY2(passed <= allowed, qPrintable(QStringLiteral("%1: %2 of 200 random fills pass").arg(ext).arg(passed)));
}

// ---- files built here ----

// Text to compress: words and numbers.
QByteArray text(int lines, quint32 seed = 5)
{
    static const char *words[] = {"card", "photo", "sector", "header", "frame", "stream", "lens", "shutter"};
    QRandomGenerator g(seed);
    QByteArray t;
    for (int i = 0; i < lines; ++i) {
        for (int w = 0; w < 8; ++w)
            t += QByteArray(words[g.bounded(8)]) + ' ';
        t += QByteArray::number(g.bounded(100000)) + '\n';
    }
    return t;
}

// RAR 4: blocks with their 16-bit header checksums.
QByteArray rar4Block(quint8 type, quint16 flags, const QByteArray &body)
{
    QByteArray h = QByteArray(1, char(type)) + le16(flags) + le16(quint16(7 + body.size())) + body;
    return le16(quint16(crc(h) & 0xFFFF)) + h;
}

QByteArray rar4(const QList<QPair<QByteArray, QByteArray>> &files)
{
    QByteArray r = QByteArray("Rar!\x1A\x07\x00", 7) + rar4Block(0x73, 0, QByteArray(6, 0));
    for (const auto &[name, data] : files) {
        QByteArray body = le32(quint32(data.size())) + le32(quint32(data.size())) + char(3) + le32(crc(data)) + le32(0x5A000000)
                          + char(29) + char(0x30) + le16(quint16(name.size())) + le32(0x20) + name;
        r += rar4Block(0x74, 0x8000, body) + data;
    }
    return r + rar4Block(0x7B, 0x4000, QByteArray());
}

QByteArray vint(quint64 v)
{
    QByteArray b;
    do {
        b += char((v & 0x7F) | (v > 0x7F ? 0x80 : 0));
        v >>= 7;
    } while (v);
    return b;
}

QByteArray rar5Header(quint64 type, quint64 flags, const QByteArray &fields, qint64 data = -1)
{
    QByteArray body = vint(type) + vint(flags | (data >= 0 ? 2 : 0)) + (data >= 0 ? vint(quint64(data)) : QByteArray()) + fields;
    const QByteArray sized = vint(quint64(body.size())) + body;
    return le32(crc(sized)) + sized;
}

QByteArray rar5(const QList<QPair<QByteArray, QByteArray>> &files)
{
    QByteArray r = QByteArray("Rar!\x1A\x07\x01\x00", 8) + rar5Header(1, 0, vint(0));
    for (const auto &[name, data] : files) {
        const QByteArray fields = vint(0) + vint(quint64(data.size())) + vint(0x20) + vint(0) + vint(0) + vint(quint64(name.size())) + name;
        r += rar5Header(2, 0, fields, data.size()) + data;
    }
    return r + rar5Header(5, 0, vint(0));
}

QByteArray flv(int tags, quint32 seed = 9)
{
    QByteArray f = QByteArray("FLV\x01\x05", 5) + be32(9) + be32(0);
    QRandomGenerator g(seed);
    for (int i = 0; i < tags; ++i) {
        const QByteArray data = noise(int(g.bounded(20, 900)), seed + quint32(i));
        f += char(i == 0 ? 18 : (i % 3 ? 9 : 8)) + be24(quint32(data.size())) + be24(quint32(i * 40)) + char(0) + be24(0) + data;
        f += be32(quint32(11 + data.size()));
    }
    return f;
}

// MXF: a header partition, essence in KLV packets, a footer partition and a random index pack.
QByteArray mxfKlv(const QByteArray &key, const QByteArray &value)
{
    return key + char(0x83) + be24(quint32(value.size())) + value;
}

QByteArray partitionPack(quint8 kind, quint64 self, quint64 footer)
{
    QByteArray key = QByteArray::fromHex("060E2B34020501010D01020101") + char(kind) + char(4) + char(0);
    QByteArray v = be16(1) + be16(3) + be32(1) + be64(self) + be64(0) + be64(footer) + be64(0) + be64(0) + be32(0) + be64(0)
                   + be32(1) + QByteArray::fromHex("060E2B34040101010D01020101010900") + be32(0) + be32(16);
    return mxfKlv(key, v);
}

QByteArray mxf(int frames)
{
    const QByteArray essenceKey = QByteArray::fromHex("060E2B34010201010D01030115010500");
    const QByteArray fillKey = QByteArray::fromHex("060E2B34010101020301021001000000");
    QByteArray body;
    for (int i = 0; i < frames; ++i)
        body += mxfKlv(essenceKey, noise(3000 + 37 * i, quint32(i)));
    body += mxfKlv(fillKey, QByteArray(100, 0));
    const int headerSize = partitionPack(2, 0, 0).size();
    const quint64 footerAt = quint64(headerSize + body.size());
    QByteArray file = partitionPack(2, 0, footerAt) + body + partitionPack(4, footerAt, footerAt);
    const QByteArray ripKey = QByteArray::fromHex("060E2B34020501010D01020101110100");
    const QByteArray pairs = be32(0) + be64(0) + be32(0) + be64(footerAt);
    const int ripSize = 16 + 4 + pairs.size() + 4;
    return file + mxfKlv(ripKey, pairs + be32(quint32(ripSize)));
}

// RealMedia: file header, properties, a stream, data packets and an index.
QByteArray realMedia(int packets)
{
    QByteArray mdpr = QByteArray("MDPR") + be32(0) + be16(0) + be16(0) + QByteArray(40, 1);
    mdpr.replace(4, 4, be32(quint32(mdpr.size())));
    QByteArray data = QByteArray("DATA") + be32(0) + be16(0) + be32(quint32(packets)) + be32(0);
    for (int i = 0; i < packets; ++i) {
        const QByteArray payload = noise(200 + i, quint32(i));
        data += be16(0) + be16(quint16(12 + payload.size())) + be16(0) + be32(quint32(i * 100)) + be16(2) + payload;
    }
    data.replace(4, 4, be32(quint32(data.size())));
    QByteArray index = QByteArray("INDX") + be32(quint32(20 + 14 * 2)) + be16(0) + be32(2) + be16(0) + be32(0);
    index += be16(0) + be32(0) + be32(0) + be32(0) + be16(0) + be32(100) + be32(0) + be32(1);
    const quint32 dataAt = 18 + 50 + quint32(mdpr.size());
    const quint32 indexAt = dataAt + quint32(data.size());
    QByteArray prop = QByteArray("PROP") + be32(50) + be16(0) + QByteArray(28, 0) + be32(indexAt) + be32(dataAt) + be16(1) + be16(0);
    return QByteArray(".RMF\0\0\0\x12\0\0", 10) + be32(0) + be32(4) + prop + mdpr + data + index;
}

QByteArray amr(int frames, quint32 seed = 3)
{
    QByteArray a("#!AMR\n");
    QRandomGenerator g(seed);
    for (int i = 0; i < frames; ++i) {
        const int kind = int(g.bounded(10));
        if (kind == 0)
            a += char(0x44) + noise(5, quint32(i));  // comfort noise
        else if (kind == 1)
            a += char(0x7C);  // no data
        else
            a += char(0x3C) + noise(31, quint32(i));  // 12.2 kbit/s speech
    }
    return a;
}

QByteArray midi()
{
    const QByteArray tempo = QByteArray::fromHex("00FF510307A120") + QByteArray::fromHex("00FF2F00");
    QByteArray notes;
    for (int i = 0; i < 40; ++i)
        notes += QByteArray::fromHex("0090") + char(60 + i % 12) + char(100) + QByteArray::fromHex("6080") + char(60 + i % 12) + char(0);
    notes += QByteArray::fromHex("00FF2F00");
    return QByteArray("MThd\0\0\0\x06\0\x01\0\x02\x01\xE0", 14) + "MTrk" + be32(quint32(tempo.size())) + tempo + "MTrk"
           + be32(quint32(notes.size())) + notes;
}

QByteArray kdbx4(int blocks)
{
    QByteArray h = le32(0x9AA2D903) + le32(0xB54BFB67) + le16(0) + le16(4);
    auto field = [&](quint8 id, const QByteArray &v) { h += char(id) + le32(quint32(v.size())) + v; };
    field(2, QByteArray::fromHex("D6038A2B8B6F4CB5A524339A31DBB59A"));
    field(3, le32(1));
    field(4, noise(32, 1));
    field(7, noise(12, 2));
    field(11, QByteArray::fromHex("0001") + noise(60, 3) + char(0));
    field(0, "\r\n\r\n");
    QByteArray f = h + QCryptographicHash::hash(h, QCryptographicHash::Sha256) + noise(32, 4);
    for (int i = 0; i < blocks; ++i) {
        const QByteArray data = noise(1000 + 100 * i, quint32(10 + i));
        f += noise(32, quint32(40 + i)) + le32(quint32(data.size())) + data;
    }
    return f + noise(32, 99) + le32(0);
}

} // namespace

class TestFileTypes : public QObject {
    Q_OBJECT
private slots:
    void compressedFiles()
    {
        // gzip: one member by zlib, one by gzip (with its name), and both one after the other.
        const QByteArray a = gzipOf(text(2000)), b = fixture("text.gz");
        checkEnd("GZ", a);
        checkEnd("GZ", b);
        checkEnd("GZ", a + b);
        // A member that starts where the next found file does is that file.
        QCOMPARE(extentOf("GZ", a + b + noise(100), 0, uint64_t(a.size())).bytes, uint64_t(a.size()));
        // A damaged trailer: no answer.
        QByteArray bad = a;
        bad[bad.size() - 6] = char(bad.at(bad.size() - 6) ^ 1);
        QVERIFY(!extentOf("GZ", bad + noise(100)).declared);

        const QByteArray bz = fixture("text.bz2");
        checkEnd("BZ2", bz);
        checkEnd("BZ2", bz + bz);  // two streams, as parallel compressors write them
        QCOMPARE(extentOf("BZ2", bz + bz, 0, uint64_t(bz.size())).bytes, uint64_t(bz.size()));
        // The end marker is searched only up to the next found file.
        QVERIFY(!extentOf("BZ2", bz, 0, uint64_t(bz.size() / 2)).declared);

        const QByteArray xz = fixture("text.xz");
        checkEnd("XZ", xz);
        // Two streams with padding between them; the second one cut: no answer.
        const QByteArray twoXz = xz + QByteArray(8, 0) + xz;
        QCOMPARE(extentOf("XZ", twoXz + noise(100)).bytes, uint64_t(twoXz.size()));
        QVERIFY(!extentOf("XZ", twoXz.left(twoXz.size() - 100)).declared);
        // Padding after the last stream is not the file's: the same bytes as an erased medium.
        QCOMPARE(extentOf("XZ", xz + QByteArray(8, 0) + noise(100)).bytes, uint64_t(xz.size()));
        // A block whose size the index states otherwise: no answer.
        QByteArray shifted = xz;
        shifted.insert(40, "abcd");
        QVERIFY(!extentOf("XZ", shifted + noise(100)).declared);
    }

    void archives()
    {
        checkEnd("7Z", fixture("two.7z"));
        checkEnd("CAB", fixture("two.cab"));
        const QList<QPair<QByteArray, QByteArray>> files = {{"a.txt", text(100)}, {"photos/b.jpg", picture("jpeg", 80, 60)}};
        checkEnd("RAR", rar4(files));
        checkEnd("RAR", rar5(files));
        // RAR 4 without its end-of-archive block (old writers): carved.
        const QByteArray old = rar4(files);
        QVERIFY(!extentOf("RAR", old.left(old.size() - 7) + noise(1000)).declared);
        // 7-Zip: a damaged header checksum gives no answer.
        QByteArray seven = fixture("two.7z");
        seven[seven.size() - 3] = char(seven.at(seven.size() - 3) ^ 0x40);
        QVERIFY(!extentOf("7Z", seven + noise(100)).declared);
    }

    void databases()
    {
        checkEnd("SQLITE", fixture("messages.sqlite"));
        // The page count of a writer that does not keep it (its change counter differs): carved.
        QByteArray stale = fixture("messages.sqlite");
        stale[95] = char(stale.at(95) + 1);
        QVERIFY(!extentOf("SQLITE", stale).declared);
        checkEnd("KDBX", kdbx4(5));
        // A header whose hash does not match it: no answer.
        QByteArray forged = kdbx4(2);
        forged[20] = char(forged.at(20) ^ 1);
        QVERIFY(!extentOf("KDBX", forged + noise(100)).declared);
    }

    void streams()
    {
        checkEnd("FLV", flv(60));
        checkEnd("MXF", mxf(12));
        checkEnd("RM", realMedia(30));
        checkEnd("MP3", fixture("tagged.mp3"));
        checkEnd("MP3", fixture("bare.mp3"));
        checkEnd("OGG", fixture("tone.ogg"));
        checkEnd("FLAC", fixture("tone.flac"));     // LPC subframes
        checkEnd("FLAC", fixture("stereo.flac"));   // fixed predictors, side channels
        checkEnd("FLAC", fixture("noise24.flac"));  // 24 bits, verbatim and constant subframes
        // A frame whose checksum fails: no answer.
        QByteArray flac = fixture("stereo.flac");
        flac[flac.size() - 500] = char(flac.at(flac.size() - 500) ^ 0x10);
        QVERIFY(!extentOf("FLAC", flac + noise(100)).declared);
        checkEnd("AIF", fixture("tone.aif"));
        checkEnd("AIF", fixture("tone.aifc"));
        checkEnd("MID", midi());
        checkEnd("DJVU", fixture("page.djvu"));
        checkEnd("DJVU", fixture("book.djvu"));
        // A chained Ogg file: the second link belongs to it unless it was found as a file.
        const QByteArray ogg = fixture("tone.ogg");
        checkEnd("OGG", ogg + ogg);
        QCOMPARE(extentOf("OGG", ogg + ogg, 0, uint64_t(ogg.size())).bytes, uint64_t(ogg.size()));
        // An MXF file without its footer (a recording that stopped): carved.
        const QByteArray m = mxf(4);
        QVERIFY(!extentOf("MXF", m.left(m.indexOf(QByteArray::fromHex("060E2B34020501010D0102010104"))) + noise(500)).declared);
        // A RealMedia index the walk never reaches: no answer.
        const QByteArray rm = realMedia(5);
        QVERIFY(!extentOf("RM", rm.left(rm.lastIndexOf("INDX")) + noise(500)).declared);
        // A MIDI track without its end-of-track event: no answer.
        QByteArray track = midi();
        track[track.size() - 2] = 0x2E;
        QVERIFY(!extentOf("MID", track).declared);
    }

    // AMR frames carry no sync word: random bytes after the last frame read as further frames
    // about one time in ten. Measured over many fills, never shorter, and zeros never.
    void amrFrames()
    {
        const QByteArray a = amr(200);
        QCOMPARE(extentOf("AMR", a).bytes, uint64_t(a.size()));
        QCOMPARE(extentOf("AMR", a + QByteArray(4000, '\0')).bytes, uint64_t(a.size()));
        int exact = 0;
        for (quint32 seed = 1; seed <= 100; ++seed) {
            const Extent e = extentOf("AMR", a + noise(2000, seed));
            QVERIFY(e.declared && e.bytes >= uint64_t(a.size()));
            exact += e.bytes == uint64_t(a.size()) ? 1 : 0;
        }
        QVERIFY2(exact >= 80, qPrintable(QString::number(exact)));
        const QByteArray cut = a.left(a.size() / 2);
        QVERIFY(extentOf("AMR", cut).bytes >= uint64_t(cut.size()));
    }

    void programs()
    {
        checkEnd("EXE", fixture("hello.exe"));
        checkEnd("EXE", fixture("symbols.exe"));  // COFF symbols and strings after the sections
        const QByteArray elf = readAll(QCoreApplication::applicationFilePath());
        checkEnd("ELF", elf);
    }

    void documents()
    {
        // RTF: escaped braces and backslashes, and \bin data full of braces.
        const QByteArray rtf = "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}\\f0 Hello \\{braces\\} and \\\\ {\\b bold}"
                               "{\\*\\blipuid 00}\\bin6 }}}{{{ more {\\i text}\\par\n}\r\n";
        checkEnd("RTF", rtf);
        // Still open at the next found file: no answer.
        QVERIFY(!extentOf("RTF", rtf.left(40) + noise(200), 0, 40).declared);

        QByteArray ps = "%!PS-Adobe-3.0\n%%BeginDocument: inner.eps\n%!PS-Adobe-3.0 EPSF-3.0\n%%EOF\n%%EndDocument\n";
        ps += text(20) + "showpage\n%%EOF\n";
        checkEnd("PS", ps);

        const QByteArray tiff = picture("tiff", 64, 48);
        const QByteArray postscript = "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 64 48\n" + text(10) + "%%EOF\n";
        QByteArray eps = le32(0xC6D3D0C5) + le32(30) + le32(quint32(postscript.size())) + le32(0) + le32(0)
                         + le32(quint32(30 + postscript.size())) + le32(quint32(tiff.size())) + le16(0xFFFF);
        eps += postscript + tiff;
        checkEnd("EPS", eps);

        // vCards, one with a card inside it (vCard 2.1's AGENT), a blank line between two.
        QByteArray vcf = "BEGIN:VCARD\r\nVERSION:2.1\r\nN:Berg;Anna\r\nAGENT:\r\nBEGIN:VCARD\r\nVERSION:2.1\r\nN:Assistant\r\n"
                         "END:VCARD\r\nTEL:+46700000\r\nEND:VCARD\r\n\r\n";
        vcf += "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Ola\r\nPHOTO;ENCODING=b:" + noise(3000).toBase64() + "\r\nEND:VCARD\r\n";
        vcf += "begin:vcard\nversion:4.0\nfn:lower case\nend:vcard\n";
        checkEnd("VCF", vcf);
        // Whatever follows that is not another card ends the file.
        QCOMPARE(extentOf("VCF", vcf + "\r\nnot a card\r\nEND:VCARD\r\n").bytes, uint64_t(vcf.size()));

        const QByteArray ics = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nBEGIN:VEVENT\r\nSUMMARY:Shoot\r\nBEGIN:VALARM\r\nACTION:DISPLAY\r\n"
                               "END:VALARM\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";
        checkEnd("ICS", ics);
    }

    void headerChecks()
    {
        checkCheck("GZ", gzipOf(text(100)), QByteArray::fromHex("1F8B08"));
        checkCheck("BZ2", fixture("text.bz2"), QByteArray::fromHex("425A6839314159265359"));
        checkCheck("XZ", fixture("text.xz"), QByteArray::fromHex("FD377A585A00"));
        checkCheck("7Z", fixture("two.7z"), QByteArray::fromHex("377ABCAF271C"));
        checkCheck("CAB", fixture("two.cab"), "MSCF");
        checkCheck("RAR", rar4({{"a", "b"}}), QByteArray::fromHex("526172211A0700"));
        checkCheck("RAR", rar5({{"a", "b"}}), QByteArray::fromHex("526172211A070100"));
        checkCheck("SQLITE", fixture("messages.sqlite"), QByteArray("SQLite format 3\0", 16));
        checkCheck("KDBX", kdbx4(1), QByteArray::fromHex("03D9A29A67FB4BB5"));
        checkCheck("FLV", flv(3), QByteArray::fromHex("464C5601"));
        checkCheck("MXF", mxf(1), QByteArray::fromHex("060E2B34020501010D0102010102"));
        checkCheck("RM", realMedia(2), QByteArray::fromHex("2E524D4600000012"));
        checkCheck("OGG", fixture("tone.ogg"), QByteArray::fromHex("4F67675300020000000000000000"));
        checkCheck("FLAC", fixture("tone.flac"), "fLaC");
        checkCheck("AMR", amr(20), "#!AMR\n");
        checkCheck("AIF", fixture("tone.aif"), "FORM" + be32(4000) + "AIFF", 10);
        checkCheck("MID", midi(), QByteArray::fromHex("4D54686400000006"));
        checkCheck("DJVU", fixture("book.djvu"), "AT&TFORM");
        checkCheck("EXE", fixture("hello.exe"), QByteArray::fromHex("4D5A90000300000004000000FFFF"));
        checkCheck("ELF", readAll(QCoreApplication::applicationFilePath()).left(4096), QByteArray::fromHex("7F454C46"));
        checkCheck("PS", "%!PS-Adobe-3.0\n%%Title: x\n", "%!PS-Adobe");
        checkCheck("RTF", "{\\rtf1\\ansi hello}", "{\\rtf1", 10);
        QByteArray eps = le32(0xC6D3D0C5) + le32(30) + le32(100) + le32(0) + le32(0) + le32(130) + le32(50) + le16(0xFFFF);
        checkCheck("EPS", eps + "%!PS-Adobe-3.0 EPSF-3.0\n", le32(0xC6D3D0C5));
    }

    // Inputs made to cost the finders as much as possible: each reads a bounded multiple of
    // what it may claim.
    void craftedInputsCostBoundedWork()
    {
        // gzip: 2 GiB of zeros in 2 MB: inflating it all is a thousandfold work; it stops at the
        // bound and stays carved. The same for 64 MiB is a real file and is bounded.
        z_stream z{};
        deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
        const QByteArray mib(1 << 20, '\0');
        QByteArray segment(64 << 10, 0);
        z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(mib.constData()));
        z.avail_in = uInt(mib.size());
        z.next_out = reinterpret_cast<Bytef *>(segment.data());
        z.avail_out = uInt(segment.size());
        deflate(&z, Z_SYNC_FLUSH);
        segment.resize(segment.size() - int(z.avail_out));
        deflateEnd(&z);
        const uLong mibCrc = crc32(0, reinterpret_cast<const Bytef *>(mib.constData()), uInt(mib.size()));
        auto zeros = [&](int mebibytes) {
            uLong sum = crc32(0, nullptr, 0);
            for (int i = 0; i < mebibytes; ++i)
                sum = crc32_combine(sum, mibCrc, 1 << 20);
            return QByteArray::fromHex("1F8B0800000000000003") + segment.repeated(mebibytes) + QByteArray::fromHex("0300") + le32(quint32(sum))
                   + le32(quint32(uint64_t(mebibytes) << 20));
        };
        const QByteArray small = zeros(64);
        QCOMPARE(extentOf("GZ", small + noise(100)).bytes, uint64_t(small.size()));
        const QByteArray bomb = zeros(2048);
        checkCheap("GZ", bomb, 2, true);

        // bzip2: a block that never ends is searched no further than the largest block.
        checkCheap("BZ2", QByteArray::fromHex("425A6839314159265359") + noise(12 << 20), 0.5);
        // xz: footers whose checksums hold but whose index is never right.
        QByteArray xz = QByteArray::fromHex("FD377A585A000000FF12D941") + QByteArray(4, 0);
        while (xz.size() < (1 << 20)) {
            // Each footer's index would start right after the stream header.
            const QByteArray tail = le32(quint32((xz.size() - 12) / 4 - 1)) + QByteArray("\0\0", 2);
            xz += le32(crc(tail)) + tail + "YZ";
        }
        checkCheap("XZ", xz, 6, true);
        // RAR 5: a header size vint that never ends; RAR 4: a packed size beyond the medium.
        checkCheap("RAR", QByteArray("Rar!\x1A\x07\x01\x00", 8) + QByteArray(1 << 20, char(0xFF)));
        QByteArray huge = rar4({{"a", "b"}});
        huge.replace(7 + 13 + 7, 4, le32(0xFFFFFFF0));
        QVERIFY(!extentOf("RAR", huge + noise(1000)).declared);
        // FLV: 300,000 empty tags; Ogg: pages with no segments; AMR: no-data frames; MP3:
        // the shortest frames: all walked once.
        const QByteArray tags = QByteArray("FLV\x01\x05", 5) + be32(9) + be32(0) + (QByteArray::fromHex("0900000000000000000000") + be32(11)).repeated(300000);
        checkCheap("FLV", tags);
        QCOMPARE(extentOf("FLV", tags).bytes, uint64_t(tags.size()));
        checkCheap("AMR", QByteArray("#!AMR\n") + QByteArray(8 << 20, char(0x7C)));
        const QByteArray frame = QByteArray::fromHex("FFF31004") + QByteArray(22, 0x55);  // MPEG-2 layer III, 8 kbit/s: 26 bytes
        checkCheap("MP3", frame.repeated((8 << 20) / 26 + 1));
        // FLAC: a frame whose first Rice code's unary part runs for eight megabytes.
        QByteArray rice = fixture("tone.flac").left(42);
        rice[4] = char(0x80);  // the stream information is the last metadata block
        // A frame header (4096 samples, mono, 16 bits) and its CRC-8, a subframe's first bits.
        const QByteArray riceFile = rice + QByteArray::fromHex("FFF8C90800" "95" "1000") + QByteArray(8 << 20, '\0');
        checkCheap("FLAC", riceFile, 2, true);
        // MIDI: 65,535 tracks declared in a small file; PE: 65,535 sections; ELF: a section
        // count far beyond its table.
        checkCheap("MID", QByteArray("MThd\0\0\0\x06\0\x01\xFF\xFF\x01\xE0", 14) + QByteArray(4096, 'M'));
        QByteArray exe = fixture("hello.exe");
        const quint32 pe = qFromLittleEndian<quint32>(exe.constData() + 0x3C);
        exe.replace(int(pe) + 6, 2, le16(0xFFFF));
        checkCheap("EXE", exe, 2, true);
        QByteArray elf = readAll(QCoreApplication::applicationFilePath());
        const quint64 shoff = qFromLittleEndian<quint64>(elf.constData() + 40);
        elf.replace(60, 2, le16(0));  // the count in section 0, and far too large
        elf.replace(int(shoff) + 32, 8, le64(quint64(1) << 40));
        checkCheap("ELF", elf, 2, true);
        // RTF: a megabyte of opening braces is read once and stays open; \bin beyond the medium.
        checkCheap("RTF", "{\\rtf1" + QByteArray(4 << 20, '{'));
        QVERIFY(!extentOf("RTF", "{\\rtf1 \\bin99999999999 }" + noise(100)).declared);
        // vCard: cards that open and never close.
        const QByteArray cards = QByteArray("BEGIN:VCARD\r\n").repeated((4 << 20) / 13 + 1);
        checkCheap("VCF", cards, 2, true);
        // MXF: a packet length that passes the end of the medium; KDBX: endless header fields.
        QByteArray m = mxf(2);
        m.replace(partitionPack(2, 0, 0).size() + 17, 4, QByteArray::fromHex("88FFFFFF"));
        QVERIFY(!extentOf("MXF", m).declared);
        checkCheap("KDBX", le32(0x9AA2D903) + le32(0xB54BFB67) + le16(0) + le16(4) + QByteArray::fromHex("0300000000").repeated((4 << 20) / 5));
        // A cabinet whose folders all point at the same blocks.
        QByteArray cab = fixture("two.cab");
        cab.replace(36, 4, le32(0));
        checkCheap("CAB", cab);
    }
};

QTEST_MAIN(TestFileTypes)
#include "test_filetypes.moc"
