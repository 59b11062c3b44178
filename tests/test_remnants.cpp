// What a card still remembers: directory entries read from bytes the system's own tools wrote
// (mkfs.fat and mtools; mkfs.exfat and the exFAT FUSE driver), none read from noise, and
// fragmented files put back together and saved under their remembered names.
#include "clirun.h"
#include "loopmount.h"
#include "mtoolscard.h"
#include "engine/sectorreader.h"
#include "media/fatgeometry.h"
#include "results/fragments.h"
#include "results/remnants.h"
#include "testfiles.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>
#include <memory>

using namespace lumafind;

namespace {

// Every entry of every sector where a directory may lie, as the scan hands them over.
std::vector<RememberedFile> allEntries(const QByteArray &img, const FatVolume &v)
{
    std::vector<RememberedFile> all;
    const auto *b = reinterpret_cast<const unsigned char *>(img.constData());
    for (uint64_t at = v.directoriesFrom(); at + 512 <= v.heapEnd() && at + 512 <= uint64_t(img.size()); at += 512) {
        const size_t before = std::min<uint64_t>(at, 512);
        auto found = v.kind == FatVolume::ExFat ? exfatDirectoryEntries(v, b + at, size_t(img.size()) - at, at / 512)
                                                : fatDirectoryEntries(v, b + at, before, at / 512);
        all.insert(all.end(), found.begin(), found.end());
    }
    return all;
}

// The card handed to the collector sector by sector, as the General pass does.
void feedAll(Remnants &r, const QByteArray &img)
{
    const auto *b = reinterpret_cast<const unsigned char *>(img.constData());
    const uint64_t bytes = uint64_t(img.size());
    r.beginScan(0, bytes / 512, bytes);
    for (uint64_t s = 0; s < bytes / 512; ++s)
        r.sector(s, b + s * 512, std::min<uint64_t>(s * 512, 2048), std::min<uint64_t>(bytes - s * 512, 2560));
    r.endDirectories();
}

// The card collected as the General pass does, then its directories joined and its fragments
// put together as after the passes; nothing when the image cannot be opened.
std::unique_ptr<Remnants> afterTheScan(const QString &image, const QByteArray &img)
{
    auto r = std::make_unique<Remnants>();
    feedAll(*r, img);
    SectorReader medium;
    if (!medium.open(image))
        return nullptr;
    r->resolveFragments(medium, uint64_t(img.size()));
    return r;
}

const RememberedFile *named(const std::vector<RememberedFile> &all, const QString &name)
{
    for (const RememberedFile &f : all)
        if (f.name == name)
            return &f;
    return nullptr;
}

QByteArray sha(const QByteArray &b) { return QCryptographicHash::hash(b, QCryptographicHash::Sha256); }

// The report's rows as column -> value maps, by the name the card remembers (no field of these
// cards holds a comma).
QHash<QString, QHash<QString, QString>> reportRows(const QString &path)
{
    const QStringList lines = QString::fromUtf8(readAll(path)).split('\n', Qt::SkipEmptyParts);
    QHash<QString, QHash<QString, QString>> rows;
    const QStringList head = lines.value(0).split(',');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QStringList cells = lines[i].split(',');
        QHash<QString, QString> row;
        for (qsizetype c = 0; c < head.size() && c < cells.size(); ++c)
            row.insert(head[c], cells[c]);
        rows.insert(row.value("original_name"), row);
    }
    return rows;
}

// A file at the start of a medium of 512-byte clusters that is all heap, one cluster of it in
// one run before the next found file.
FragmentQuery queryAtStart(const char *type, uint64_t size, uint64_t mediumBytes)
{
    FragmentQuery q;
    q.type = QString::fromLatin1(type);
    q.size = size;
    q.contiguousRoom = 512;
    q.volume.clusterBytes = 512;
    q.volume.clusterCount = mediumBytes / 512;
    q.volume.bytes = mediumBytes;
    return q;
}

// The milliseconds the search takes on the image to give up on the file (cancelled after a
// minute); -1 when it put the file together, or the image could not be read.
qint64 msToGiveUp(const QString &image, const FragmentQuery &q, const HeldMap &held)
{
    SectorReader medium;
    if (!medium.open(image))
        return -1;
    FragmentReader reader(medium, q.volume.bytes);
    QElapsedTimer clock;
    clock.start();
    return findPieces(q, held, reader, [&] { return clock.elapsed() > 60000; }) ? -1 : clock.elapsed();
}
} // namespace

class TestRemnants : public QObject {
    Q_OBJECT
    QTemporaryDir dir;

private slots:

    void fatEntriesFromMtools()
    {
        MtoolsCard card;
        if (!card.make(dir.path() + "/entries"))
            QSKIP(qPrintable(card.problem));
        const QByteArray photo = picture("JPG", 120, 80);
        QVERIFY2(card.mkdir("/DCIM") && card.write("/DCIM/IMG_0001.JPG", photo)
                     && card.write("/DCIM/Holiday at the lake.jpg", photo + "x", kTime + 3600)
                     && card.write("/DCIM/IMG_0002.JPG", photo + "yy") && card.write("/DCIM/Long deleted name.jpg", photo + "zzz"),
                 qPrintable(card.problem));
        const int second = card.runs("/DCIM/IMG_0002.JPG").value(0).first;
        const int longDeleted = card.runs("/DCIM/Long deleted name.jpg").value(0).first;
        QVERIFY(card.remove("/DCIM/IMG_0002.JPG") && card.remove("/DCIM/Long deleted name.jpg"));
        const QByteArray img = readAll(card.image);
        const auto v = parseBootSector(reinterpret_cast<const unsigned char *>(img.constData()), 512, 0, img.size());
        QVERIFY(v);
        QCOMPARE(v->kind, FatVolume::Fat16);
        QCOMPARE(v->clusterBytes, 2048u);
        const auto all = allEntries(img, *v);

        // Live, short name only; live, long name; deleted without a long name: first letter lost.
        const RememberedFile *live = named(all, "IMG_0001.JPG");
        QVERIFY(live);
        QVERIFY(!live->deleted);
        QCOMPARE(live->size, uint64_t(photo.size()));
        QCOMPARE(int(live->firstCluster), card.runs("/DCIM/IMG_0001.JPG").value(0).first);
        QCOMPARE(live->firstByte, v->clusterByte(live->firstCluster));
        QCOMPARE(img.mid(qsizetype(live->firstByte), photo.size()), photo);
        QCOMPARE(live->modifiedWall, kTime);
        const RememberedFile *lfn = named(all, "Holiday at the lake.jpg");
        QVERIFY(lfn);
        QCOMPARE(lfn->size, uint64_t(photo.size() + 1));
        QCOMPARE(lfn->modifiedWall, kTime + 3600);
        const RememberedFile *gone = named(all, "_MG_0002.JPG");
        QVERIFY(gone);
        QVERIFY(gone->deleted && gone->lostFirstLetter);
        QCOMPARE(int(gone->firstCluster), second);
        QCOMPARE(gone->size, uint64_t(photo.size() + 2));
        // Deleted with a long name: the long name gives the whole name back.
        const RememberedFile *goneLong = named(all, "Long deleted name.jpg");
        QVERIFY(goneLong);
        QVERIFY(goneLong->deleted && !goneLong->lostFirstLetter);
        QCOMPARE(int(goneLong->firstCluster), longDeleted);
        // Nothing else is taken for a file (the directory itself, "." and "..").
        QCOMPARE(all.size(), size_t(4));
    }

    // A folder that outgrows its first cluster goes on in one after its files' clusters: the
    // long name of the entry at the start of the second (deleted, too) begins at the end of the
    // first, and is joined after the pass through the FAT.
    void fatLongNamesAcrossDirectoryClusters()
    {
        MtoolsCard card;
        if (!card.make(dir.path() + "/across"))
            QSKIP(qPrintable(card.problem));
        const auto name = [](int i) { return QStringLiteral("Long name photo %1.jpg").arg(i, 2, 10, QLatin1Char('0')); };
        QVERIFY2(card.mkdir("/DCIM"), qPrintable(card.problem));
        // "." and "..", then three entries a file: the 21st file's last one opens the second cluster.
        for (int i = 0; i < 24; ++i)
            QVERIFY2(card.write("/DCIM/" + name(i), name(i).toLatin1().repeated(40)), qPrintable(card.problem));
        QVERIFY(card.remove("/DCIM/" + name(20)));
        const QByteArray img = readAll(card.image);
        const auto v = parseBootSector(reinterpret_cast<const unsigned char *>(img.constData()), 512, 0, img.size());
        QVERIFY(v);
        const auto all = allEntries(img, *v);
        // Read in medium order, it is only the short name, its first letter lost.
        QVERIFY(!named(all, name(20)));
        QCOMPARE(std::count_if(all.begin(), all.end(), [](const RememberedFile &f) { return f.lostFirstLetter && f.entrySlot == 0; }), 1);
        const auto r = afterTheScan(card.image, img);
        QVERIFY(r);
        for (int i = 0; i < 24; ++i) {
            const auto e = r->entryFor(uint64_t(img.indexOf(name(i).toLatin1().repeated(40))), "DAT");
            QVERIFY2(e && e->name == name(i) && e->deleted == (i == 20) && !e->lostFirstLetter, qPrintable(name(i)));
        }
    }

    // Where a volume's clusters lie, checked against where mtools put a file: a boot sector at
    // the start, a wiped one whose FAT32 backup serves, and a volume behind a partition table.
    void volumesFromBootSectorsBackupsAndPartitions_data()
    {
        QTest::addColumn<bool>("fat32");
        QTest::addColumn<bool>("wipeBoot");
        QTest::addColumn<qint64>("partitionAt");  // sectors of partition table before it; 0: none
        QTest::newRow("FAT16") << false << false << qint64(0);
        QTest::newRow("FAT32, boot sector wiped") << true << true << qint64(0);
        QTest::newRow("FAT16 behind an MBR") << false << false << qint64(2048);
    }
    void volumesFromBootSectorsBackupsAndPartitions()
    {
        QFETCH(bool, fat32);
        QFETCH(bool, wipeBoot);
        QFETCH(qint64, partitionAt);
        MtoolsCard card;
        if (!card.make(dir.path() + "/volume-" + QTest::currentDataTag(), fat32))
            QSKIP(qPrintable(card.problem));
        const QByteArray file = noise(5000, 9);
        QVERIFY2(card.write("/A.BIN", file), qPrintable(card.problem));
        const int cluster = card.runs("/A.BIN").value(0).first;
        QByteArray img = readAll(card.image);
        const qint64 at = img.indexOf(file);
        QVERIFY(cluster >= 2 && at > 0);
        if (wipeBoot)
            img.replace(0, 512, QByteArray(512, '\0'));
        if (partitionAt) {
            // One FAT16 partition in the table: its type, first sector and length.
            QByteArray mbr = QByteArray(446 + 4, '\0') + '\x06' + QByteArray(3, '\0') + le32(quint32(partitionAt)) + le32(quint32(img.size() / 512));
            mbr.resize(510, '\0');
            img.prepend(mbr + "\x55\xAA" + QByteArray((partitionAt - 1) * 512, '\0'));
        }
        Remnants remnants;
        feedAll(remnants, img);
        const std::vector<FatVolume> volumes = remnants.volumes();
        QCOMPARE(volumes.size(), size_t(1));
        const FatVolume &v = volumes.front();
        QCOMPARE(v.kind, fat32 ? FatVolume::Fat32 : FatVolume::Fat16);
        QCOMPARE(v.fromBackup, wipeBoot);
        QCOMPARE(v.firstByte, uint64_t(partitionAt * 512));
        QCOMPARE(v.clusterByte(uint64_t(cluster)), uint64_t(at + partitionAt * 512));
        // And the file's entry was read from its directory there.
        remnants.noteFound(uint64_t(at + partitionAt * 512), uint64_t(file.size()), "BIN");
        const auto entry = remnants.entryFor(uint64_t(at + partitionAt * 512), "BIN");
        QVERIFY(entry);
        QCOMPARE(entry->name, QStringLiteral("A.BIN"));
        QCOMPARE(entry->size, uint64_t(file.size()));
    }

    void exfatEntriesFromTheDriver()
    {
        if (tool("mkfs.exfat").isEmpty() || tool("mount.exfat-fuse").isEmpty())
            QSKIP("needs mkfs.exfat (exfatprogs) and mount.exfat-fuse (exfat-fuse)");
        LoopMount m;
        if (!m.setUp(dir.path() + QStringLiteral("/ex"), 32, QStringLiteral("exfat")))
            QSKIP(qPrintable(m.problem));
        const QByteArray clipBytes = clip(), photo = picture("JPG", 100, 70);
        QVERIFY(!clipBytes.isEmpty());
        // Dated by path once closed: the driver dates a file again when its handle is released.
        const auto put = [&](const QString &name, const QByteArray &bytes) {
            return writeFile(m.mountPoint + '/' + name, bytes) && m.run("touch", {"-d", "@" + QString::number(kTime), m.mountPoint + '/' + name});
        };
        QVERIFY(QDir(m.mountPoint).mkpath("DCIM/100CLIP"));
        QVERIFY(put("DCIM/100CLIP/Clip at noon.MP4", clipBytes) && put("DCIM/100CLIP/gone.jpg", photo));
        // A folder that outgrows its first cluster: its second lies after the files' clusters,
        // and the entry set at the end of the first goes on in it.
        QVERIFY(QDir(m.mountPoint).mkpath("DCIM/101MANY"));
        const auto many = [](int i) { return QStringLiteral("F%1.DAT").arg(i, 3, 10, QLatin1Char('0')); };
        for (int i = 0; i < 60; ++i)
            QVERIFY(put("DCIM/101MANY/" + many(i), many(i).toLatin1().repeated(90)));
        QVERIFY(QFile::remove(m.mountPoint + "/DCIM/100CLIP/gone.jpg"));
        QVERIFY(m.run("umount", {m.mountPoint}));
        m.mountPoint.clear();
        const QByteArray img = readAll(m.image);
        const auto *b = reinterpret_cast<const unsigned char *>(img.constData());
        const auto v = parseBootSector(b, 512, 0, img.size());
        QVERIFY(v);
        QCOMPARE(v->kind, FatVolume::ExFat);
        // Where the driver put each file, found from its bytes and the boot sector's own fields.
        const uint64_t heap = uint64_t(qFromLittleEndian<quint32>(b + 88)) << b[108];
        const uint64_t cluster = uint64_t(1) << (b[108] + b[109]);
        const auto all = allEntries(img, *v);
        const RememberedFile *live = named(all, "Clip at noon.MP4");
        QVERIFY(live);
        QVERIFY(!live->deleted);
        QCOMPARE(live->size, uint64_t(clipBytes.size()));
        QCOMPARE(uint64_t(img.indexOf(clipBytes)), heap + (live->firstCluster - 2) * cluster);
        QCOMPARE(live->modifiedUtc(), kTime);
        const RememberedFile *gone = named(all, "gone.jpg");
        QVERIFY(gone);
        QVERIFY(gone->deleted && !gone->lostFirstLetter);
        QCOMPARE(uint64_t(img.indexOf(photo)), gone->firstByte);
        QCOMPARE(gone->size, uint64_t(photo.size()));

        // Read in medium order, the folder's sets are all there but those that cross into its
        // second cluster; after the pass, the directory's chain joins them.
        QStringList crossing;
        for (int i = 0; i < 60; ++i)
            if (!named(all, many(i)))
                crossing << many(i);
        QCOMPARE(crossing.size(), 1);
        const auto r = afterTheScan(m.image, img);
        QVERIFY(r);
        for (int i = 0; i < 60; ++i) {
            const auto e = r->entryFor(uint64_t(img.indexOf(many(i).toLatin1().repeated(90))), "DAT");
            QVERIFY2(e && e->name == many(i) && e->size == 90 * 8 && e->modifiedUtc() == kTime, qPrintable(many(i)));
        }
    }

    // A GPT of 130 partitions, each starting with a FAT16 boot sector: volumes past the
    // finder's bound are not kept (each one costs every later sector a look).
    void partitionsBeyondTheBoundAreLeft()
    {
        // 512-byte sectors, 4 to a cluster, one reserved, two FATs of 40 sectors, 512 root
        // entries, 40000 sectors, a fixed disk.
        QByteArray boot = "\xEB\x3C\x90" + QByteArray(8, '\0') + le16(512) + '\x04' + le16(1) + '\x02' + le16(512) + le16(40000) + '\xF8' + le16(40);
        boot.resize(510, '\0');
        boot += "\x55\xAA";
        // 97 sectors apart: none where another's backup boot sector may stand.
        constexpr int parts = 130, apart = 97;
        QByteArray disk = QByteArray(446, '\0') + QByteArray::fromHex("000000" "00EE000000" "01000000" "FFFFFFFF");
        disk.resize(512, '\0');
        disk.replace(510, 2, "\x55\xAA");
        QByteArray header = "EFI PART" + QByteArray(64, '\0') + le64(2) + le32(parts) + le32(128);
        header.resize(512, '\0');
        disk += header;
        for (int i = 0; i < parts; ++i)
            disk += QByteArray(32, 'g') + le64(apart * (i + 1)) + le64(apart * (i + 2) - 1) + QByteArray(80, '\0');
        for (int i = 0; i < parts; ++i) {
            disk.resize(512 * apart * (i + 1), '\0');
            disk += boot;
        }
        VolumeFinder finder(0, uint64_t(disk.size() / 512), uint64_t(1) << 40);
        for (qsizetype at = 0; at < disk.size(); at += 512)
            finder.sector(uint64_t(at / 512), reinterpret_cast<const unsigned char *>(disk.constData()) + at);
        QCOMPARE(finder.volumes().size(), size_t(128));
    }

    // What other files hold: a file's own stretch (as long as its entry says) hides only itself.
    void heldStretches()
    {
        HeldMap h;
        h.add(0, 1000);             // the file being put together, as if it were in one run
        h.add(400, 500, false);     // a photo the scan's types did not cover, inside that run
        h.add(1000, 2000);          // the next found file
        QVERIFY(!h.held(100, 0));
        QVERIFY(h.held(450, 0));
        QVERIFY(h.held(1500, 0));
        QVERIFY(h.held(100, 1000));
        QCOMPARE(h.nextHeld(0, 0), uint64_t(400));
        QCOMPARE(h.nextHeld(500, 0), uint64_t(1000));
        QCOMPARE(h.nextHeld(2000, 0), UINT64_MAX);
        QCOMPARE(h.nextHeld(0, 1000), uint64_t(0));
    }

    // Sectors that are no directory: random bytes, text, and records that only look like
    // entries (a plausible attribute, a name in capitals, the exFAT entry types in place).
    void noiseMakesNoEntries_data()
    {
        QTest::addColumn<int>("kind");
        QTest::newRow("FAT16") << int(FatVolume::Fat16);
        QTest::newRow("FAT32") << int(FatVolume::Fat32);
        QTest::newRow("exFAT") << int(FatVolume::ExFat);
    }
    void noiseMakesNoEntries()
    {
        QFETCH(int, kind);
        FatVolume v;
        v.kind = FatVolume::Kind(kind);
        v.clusterBytes = 32768;
        v.heapByte = 1 << 20;
        v.clusterCount = 60000;
        v.bytes = v.heapEnd();
        if (v.kind == FatVolume::Fat16) {
            v.rootDirByte = 512 * 1024;
            v.rootDirBytes = 16384;
        } else {
            v.rootCluster = 2;
        }
        const int sectors = 4096;
        QByteArray data = noise(512 * sectors, 11);
        for (int s = 0; s < sectors; ++s) {
            auto *sec = reinterpret_cast<unsigned char *>(data.data()) + 512 * s;
            for (int slot = 0; slot < 16; ++slot) {
                unsigned char *e = sec + 32 * slot;
                switch (s % 4) {
                case 0: break;  // random
                case 1:         // text
                    for (int i = 0; i < 32; ++i)
                        e[i] = "card photo video sector header. "[(i + slot + s) % 32];
                    break;
                case 2:         // FAT look-alikes: a name, an archive attribute, the rest random
                    std::memcpy(e, slot % 2 ? "\xE5MG_0001JPG" : "IMG_0001JPG", 11);
                    e[11] = 0x20;
                    break;
                case 3:         // exFAT look-alikes: file, stream and name entries in order
                    e[0] = std::array<unsigned char, 3>{0x85, 0xC0, 0xC1}[slot % 3];
                    e[1] = 2;
                    break;
                }
            }
        }
        const auto *b = reinterpret_cast<const unsigned char *>(data.constData());
        size_t invented = 0;
        for (int s = 0; s < sectors; ++s) {
            const uint64_t at = v.heapByte + uint64_t(s) * 512;
            invented += (v.kind == FatVolume::ExFat
                             ? exfatDirectoryEntries(v, b + 512 * s, size_t(data.size()) - 512 * s, at / 512)
                             : fatDirectoryEntries(v, b + 512 * s, s ? 512 : 0, at / 512))
                            .size();
        }
        QCOMPARE(invented, size_t(0));
    }

    // Lone clusters that each carry a file's structure on for one cluster, 4 MiB apart, with
    // other files holding every cluster between: each join the search tries looks for the
    // clusters after it past those stretches, which must take a step per stretch, not one per
    // held cluster (hours on a card of 512-byte clusters).
    void heldStretchesArePassedInOneStep()
    {
        constexpr uint64_t cs = 512, apart = 4 << 20, mediumBytes = uint64_t(300) << 20;
        QFile f(dir.path() + "/held.img");
        QVERIFY(f.open(QIODevice::ReadWrite) && f.resize(qint64(mediumBytes)));
        // A RIFF whose chunks end on cluster boundaries, its first cluster and then chunks alone.
        QVERIFY(f.write("RIFF" + le32(100 * cs - 8) + "WAVE" + "junk" + le32(cs - 20) + QByteArray(cs - 20, 'j')) == qint64(cs));
        HeldMap held;
        held.add(0, cs);
        held.add(cs, apart);
        for (uint64_t at = apart; at < mediumBytes; at += apart) {
            QVERIFY(f.seek(qint64(at)) && f.write("junk" + le32(cs - 8) + QByteArray(cs - 8, 'j')) == qint64(cs));
            held.add(at + cs, std::min(at + apart, mediumBytes));
        }
        f.close();
        const qint64 ms = msToGiveUp(f.fileName(), queryAtStart("WAV", 100 * cs, mediumBytes), held);
        QVERIFY2(ms >= 0 && ms < 20000, qPrintable(QStringLiteral("%1 ms").arg(ms)));
    }

    // A clip whose movie box should follow its media data, on a card where every cluster after
    // it starts a movie box of the right size and another file's cluster lies 24 MiB on: each
    // is a candidate, and each must be found not clear in a step per held stretch, not one per
    // cluster of the 24 MiB it would take.
    void movieBoxCandidatesAreClearedInOneStep()
    {
        constexpr uint64_t cs = 512, candidates = 49152, mdatEnd = 2 * cs + 100, mediumBytes = uint64_t(40) << 20;
        const uint64_t held = 2 * cs + candidates * cs, tail = candidates * cs + cs;
        QFile f(dir.path() + "/moov.img");
        QVERIFY(f.open(QIODevice::ReadWrite) && f.resize(qint64(mediumBytes)));
        QVERIFY(f.write(be32(24) + "ftypisom" + QByteArray(12, 0) + be32(quint32(mdatEnd - 24)) + "mdat") == 32);
        for (uint64_t c = 2 * cs; c < held; c += cs)
            QVERIFY(f.seek(qint64(c + mdatEnd % cs)) && f.write(be32(quint32(tail)) + "moov") == 8);
        f.close();
        HeldMap h;
        h.add(0, cs);
        h.add(held, held + cs);
        const qint64 ms = msToGiveUp(f.fileName(), queryAtStart("MP4", mdatEnd + tail, mediumBytes), h);
        QVERIFY2(ms >= 0 && ms < 2000, qPrintable(QStringLiteral("%1 ms").arg(ms)));
    }

    // However many entries a card holds, putting fragments together reads at most its bound:
    // photos whose remembered sizes run far past their end marker (as a hostile card's would)
    // each send the search over the card, and the files it does not come to stay carved.
    void fragmentStageReadsAtMostItsBound()
    {
        MtoolsCard card;
        if (!card.make(dir.path() + "/bound"))
            QSKIP(qPrintable(card.problem));
        QList<QByteArray> photos;
        for (int i = 0; i < 6; ++i) {
            photos << noisePicture("JPG", 64, 48, quint32(20 + i), 90);
            QVERIFY2(card.write(QStringLiteral("/P%1.JPG").arg(i), photos.last())
                         && card.write(QStringLiteral("/F%1.DAT").arg(i), noise(2048, quint32(i))),
                     qPrintable(card.problem));
        }
        QByteArray img = readAll(card.image);
        for (int i = 0; i < photos.size(); ++i) {
            const qsizetype entry = img.indexOf(QStringLiteral("P%1      JPG").arg(i).toLatin1());
            QVERIFY(entry > 0);
            img.replace(entry + 28, 4, le32(quint32(photos[i].size() * 8)));
        }
        QVERIFY(writeFile(card.image, img));
        const uint64_t bytes = uint64_t(img.size());
        const auto stage = [&](uint64_t bound, size_t *entries) {
            Remnants r;
            feedAll(r, img);
            for (const QByteArray &p : photos)
                r.noteFound(uint64_t(img.indexOf(p)), uint64_t(p.size()), QStringLiteral("JPG"));
            SectorReader medium;
            if (!medium.open(card.image))
                return UINT64_MAX;
            const uint64_t before = SectorReader::totalBytesRead();
            r.resolveFragments(medium, bytes, {}, bound);
            *entries = r.entryCount();
            return SectorReader::totalBytesRead() - before;
        };
        size_t entries = 0;
        const uint64_t all = stage(UINT64_MAX, &entries);
        QCOMPARE(entries, size_t(12));  // the photos and the files between
        QVERIFY2(all > 2 * bytes, qPrintable(QString::number(all)));  // the searches went over the card again and again
        const uint64_t bound = bytes / 2, bounded = stage(bound, &entries);
        QVERIFY2(bounded <= bound + (uint64_t(1) << 20), qPrintable(QStringLiteral("%1 bytes read, bound %2").arg(bounded).arg(bound)));
    }

    // A name the card remembers that every suffix the saver tries already takes (files an
    // earlier run left here; a card can name ten thousand files alike): that file is saved
    // under its generated name, and saving goes on.
    void aNameTakenEverywhereDoesNotStopSaving()
    {
        MtoolsCard card;
        if (!card.make(dir.path() + "/taken"))
            QSKIP(qPrintable(card.problem));
        const QByteArray a = picture("JPG", 40, 30), b = picture("JPG", 50, 30);
        QVERIFY2(card.write("/IMG_0001.JPG", a) && card.write("/IMG_0002.JPG", b), qPrintable(card.problem));
        const QString out = dir.path() + "/taken-out", jpg = out + "/JPG/";
        QVERIFY(QDir().mkpath(jpg));
        for (int n = 0; n < 10000; ++n)
            QVERIFY(writeFile(jpg + (n ? QStringLiteral("IMG_0001_%1.JPG").arg(n) : QStringLiteral("IMG_0001.JPG")), QByteArray()));
        const Run r = cli({"scan", card.image, "--mode", "photo", "--out", out, "--names", "original", "--quiet"});
        QVERIFY2(r.code == 0, qPrintable(r.err));
        QCOMPARE(readAll(jpg + "IMG_0002.JPG"), b);
        QStringList holding;
        for (const QString &n : QDir(jpg).entryList(QDir::Files))
            if (QFileInfo(jpg + n).size() == a.size() && readAll(jpg + n) == a)
                holding << n;
        QCOMPARE(holding.size(), 1);
        QVERIFY2(!holding.first().startsWith("IMG_0001"), qPrintable(holding.first()));
    }

    // One card for the rest: files split by writing into the gaps others left, then all
    // deleted. A photo in two pieces with a deleted file of noise between them (the first
    // clusters tried after its first piece, which its decoder must refuse); a clip in three
    // pieces; a long name; two files of one name in two folders.
    void fragmentedFilesAndRememberedNames()
    {
        MtoolsCard card;
        if (!card.make(dir.path() + "/split"))
            QSKIP(qPrintable(card.problem));
        const QByteArray a = noisePicture("JPG", 64, 48, 1, 90), b = noisePicture("JPG", 64, 48, 2, 90),
                         c = noisePicture("JPG", 64, 48, 3, 90), longNamed = noisePicture("JPG", 48, 48, 5, 90), clipBytes = clip();
        // The photo carries a second picture that starts on a sector (as cameras append their
        // previews): found on its own, it must not stand in the way of the photo's pieces.
        QByteArray split = noisePicture("JPG", 160, 120, 4, 90);
        const int pad = 512 - (split.size() + 4) % 512;
        split.insert(2, QByteArray("\xFF\xFE", 2) + char((pad + 2) >> 8) + char((pad + 2) & 0xFF) + QByteArray(pad, 'c'));
        QCOMPARE(split.size() % 512, 0);
        split += picture("JPG", 40, 30);
        const int cs = 2048;
        const int firstPiece = 3;  // clusters
        QVERIFY(split.size() > (firstPiece + 2) * cs);
        QVERIFY(split.indexOf("\xFF\xD8\xFF", 2) > firstPiece * cs);  // the second picture lies in the second piece
        QVERIFY2(card.mkdir("/DCIM") && card.mkdir("/DCIM/100A") && card.mkdir("/DCIM/101B")
                     && card.write("/DCIM/100A/IMG_0001.JPG", a)
                     && card.write("/DCIM/100A/FILL1.DAT", noise(firstPiece * cs - 100, 1))
                     && card.write("/DCIM/100A/NOISE.DAT", noise(2 * cs, 2))
                     && card.write("/DCIM/100A/IMG_0002.JPG", b)
                     && card.write("/DCIM/100A/FILL2.DAT", noise(4 * cs, 3))
                     && card.write("/DCIM/100A/IMG_0003.JPG", c)
                     && card.write("/DCIM/100A/FILL3.DAT", noise(4 * cs - 7, 4))
                     && card.write("/DCIM/101B/IMG_0001.JPG", b + QByteArray(3, '\0'), kTime + 60)
                     && card.remove("/DCIM/100A/FILL1.DAT") && card.write("/DCIM/100A/SPLIT.JPG", split, kTime + 120)
                     && card.remove("/DCIM/100A/FILL2.DAT") && card.remove("/DCIM/100A/FILL3.DAT")
                     && card.write("/DCIM/100A/CLIP.MP4", clipBytes, kTime + 180)
                     && card.write("/DCIM/100A/Holiday at the lake.jpg", longNamed, kTime + 240)
                     && card.remove("/DCIM/100A/NOISE.DAT"),
                 qPrintable(card.problem));
        QCOMPARE(card.runs("/DCIM/100A/SPLIT.JPG").size(), 2);
        QCOMPARE(card.runs("/DCIM/100A/CLIP.MP4").size(), 3);
        QVERIFY(card.remove("/DCIM/100A/*") && card.remove("/DCIM/101B/*"));

        const auto scan = [&](const char *mode) {
            const QString out = dir.path() + "/out-" + mode, report = out + ".csv";
            const Run r = cli({"scan", card.image, "--mode", mode, "--out", out, "--names", "original",
                                  "--report", report, "--quiet"});
            return std::make_tuple(r, out, reportRows(report));
        };
        const auto [photoRun, photos, photoRows] = scan("photo");
        QVERIFY2(photoRun.code == 0, qPrintable(photoRun.err));
        const QString jpg = photos + "/JPG/";
        // Split in two, joined through the decoder past the noise: whole, under its old name
        // (the short name lost its first letter) and with its time.
        QCOMPARE(sha(readAll(jpg + "_PLIT.JPG")), sha(split));
        QCOMPARE(QFileInfo(jpg + "_PLIT.JPG").lastModified().toSecsSinceEpoch(), kTime + 120);
        QCOMPARE(photoRows.value("_PLIT.JPG").value("pieces"), QStringLiteral("2"));
        QCOMPARE(photoRows.value("_PLIT.JPG").value("length_from"), QStringLiteral("directory"));
        // The long name comes back whole.
        QCOMPARE(readAll(jpg + "Holiday at the lake.jpg"), longNamed);
        // Two files of one name: both saved, the second under another name.
        QCOMPARE(readAll(jpg + "_MG_0002.JPG"), b);
        const QStringList same = QDir(jpg).entryList({"_MG_0001*"}, QDir::Files);
        QCOMPARE(same.size(), 2);
        QSet<QByteArray> both;
        for (const QString &n : same)
            both.insert(readAll(jpg + n));
        QCOMPARE(both, (QSet<QByteArray>{a, b + QByteArray(3, '\0')}));

        // In three pieces, through its chunk offsets; the photos between are not its samples.
        const auto [videoRun, videos, videoRows] = scan("video");
        QVERIFY2(videoRun.code == 0, qPrintable(videoRun.err));
        QCOMPARE(sha(readAll(videos + "/MP4/_LIP.MP4")), sha(clipBytes));
        QCOMPARE(videoRows.value("_LIP.MP4").value("pieces"), QStringLiteral("3"));
    }
};

QTEST_GUILESS_MAIN(TestRemnants)
#include "test_remnants.moc"
