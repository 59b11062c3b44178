#include "catalogue/catalogue.h"
#include "catalogue/checklist.h"
#include "catalogue/formatsdoc.h"
#include "catalogue/signatures.h"
#include "results/extents/extent.h"
#include "testfiles.h"

#include <QFile>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

using namespace lumafind;

namespace {
QString record(const QString &ext, const QString &hexLabel = QStringLiteral("Header :"),
               const QString &header = QStringLiteral("FFD8FF"))
{
    return QStringLiteral("Extension : %1\nMax Size : 18874368\n%2 %3\nPosition : 1\nReserved : 0\n"
                          "Description : JPEG image\n")
        .arg(ext, hexLabel, header);
}

QStringList parsed(const QString &text)
{
    QStringList list;
    SignatureReader().parse(text, list);
    return list;
}

// A record of this header at this position.
QStringList recordAt(const QString &header, const QString &pos)
{
    return parsed(QStringLiteral("a : .x\nb : 100000\nHeader : %1\nc : %2\nd : 0\ne : t\n").arg(header, pos));
}

} // namespace

class TestCatalogue : public QObject {
    Q_OBJECT
private slots:
    // Each text and the strings it gives: seven per record (the extension, limit, header,
    // position, reserved, description and the header's first byte, when the label is exact).
    void parsing()
    {
        const QString jpg = record(QStringLiteral(".jpg"));
        const QStringList jpgRecord{"JPG", "18874368", "FFD8FF", "1", "0", "JPEG image", "255"};
        const QStringList noHeaderByte{"JPG", "18874368", "FFD8FF", "1", "0", "JPEG image", ""};
        const QList<QPair<QString, QStringList>> cases = {
            {jpg, jpgRecord},
            // No blank before the colon, or a blank before the label: an ordinary label.
            {record(QStringLiteral(".jpg"), QStringLiteral("Header:")), noHeaderByte},
            {record(QStringLiteral(".jpg"), QStringLiteral(" Header :")), noHeaderByte},
            {record(QStringLiteral(".jpg"), QStringLiteral("header :")), noHeaderByte},
            // No dot: unchanged, case kept; a dot in any value cuts it, the description's too.
            {record(QStringLiteral("jpg")), QStringList{"jpg"} + jpgRecord.mid(1)},
            {record(QStringLiteral("image.tar.gz")), QStringList{"TAR.GZ"} + jpgRecord.mid(1)},
            {QStringLiteral("a : .x\nb : 1\nHeader : AB\nc : 1\nd : 0\ne : Ver. 2 image\n"), {"X", "1", "AB", "1", "0", " 2 IMAGE", "171"}},
            // CRLF, blank and colon-less lines between values, empty values.
            {QString(jpg).replace(QStringLiteral("\n"), QStringLiteral("\r\n")), jpgRecord},
            {QStringLiteral("comment line\n\na : .jpg\n\nnot a value\nb :   \nHeader : FFD8\nc : 1\n   \nd : 0\ne : desc\n"),
             {"JPG", "", "FFD8", "1", "0", "desc", "255"}},
            {QStringLiteral("no colon\nat all\n"), {}},
            // The label is what stands before the first colon; the value may hold more colons.
            {QStringLiteral("a : x:y\nb:2\nHeader :0A\nc:1\nd:0\ne:t\n"), {"x:y", "2", "0A", "1", "0", "t", "10"}},
            // Twelve values make two records; an incomplete last record is dropped.
            {jpg + record(QStringLiteral(".png"), QStringLiteral("Header :"), QStringLiteral("89504E47")),
             jpgRecord + QStringList{"PNG", "18874368", "89504E47", "1", "0", "JPEG image", "137"}},
            {jpg + QStringLiteral("a : .png\nb : 5\nHeader : 89\n"), jpgRecord},
        };
        for (const auto &[text, expected] : cases)
            QCOMPARE(parsed(text), expected);
        // The incomplete record's header text does not leak into the next file the same reader reads.
        const QString text = jpg + QStringLiteral("a : .png\nb : 5\nHeader : 89\n");
        SignatureReader reader;
        QStringList both;
        reader.parse(text, both);
        reader.parse(record(QStringLiteral(".gif"), QStringLiteral("Header:")), both);
        QCOMPARE(both.size(), 14);
        QCOMPARE(both.at(13), QString());
    }

    void fileProblems()
    {
        QTemporaryDir dir;
        QStringList list;
        SignatureReader reader;
        QCOMPARE(reader.load(dir.path(), QStringLiteral("/missing.dll"), list), LoadStatus::Missing);
        QVERIFY(writeFile(dir.path() + "/bad.dll", QByteArray("a : .jpg\nb : \xff\xfe\n")));
        QCOMPARE(reader.load(dir.path(), QStringLiteral("/bad.dll"), list), LoadStatus::NotUtf8);
        QVERIFY(writeFile(dir.path() + "/empty.dll", QByteArray("just words\n")));
        QCOMPARE(reader.load(dir.path(), QStringLiteral("/empty.dll"), list), LoadStatus::NoRecords);
        QVERIFY(list.isEmpty());
        QVERIFY(writeFile(dir.path() + "/good.dll", record(QStringLiteral(".jpg")).toUtf8()));
        QCOMPARE(reader.load(dir.path(), QStringLiteral("/good.dll"), list), LoadStatus::Loaded);
        QCOMPARE(list.size(), 7);

        // Loading the catalogue from a folder with one good database names the five others.
        QVERIFY(QFile::rename(dir.path() + "/good.dll", dir.path() + "/KovVideo.dll"));
        Catalogue cat;
        const QStringList problems = cat.loadAll(dir.path());
        QCOMPARE(problems, (QStringList{"KovExt2.dll", "KovExt2Adv.dll", "KovVideoAdv.dll", "KovRaw.dll", "KovRawAdv.dll"}));
        QCOMPARE(cat.Video_Array.size(), 7);
        QVERIFY(cat.Ext_Array.isEmpty());
    }

    // Where a header may stand: at the start; at a numeric position (507 is the last a two-byte
    // header fits at, 0 and 508 never match); anywhere ("nn"): at byte 0, or where the chain of
    // its first byte leads.
    void headerMatching()
    {
        const struct {
            const char *header, *pos, *sector;  // the sector: these bytes from `at` on, zeros around
            int at;
            bool match;
        } cases[] = {
            {"FFD8FF", "1", "FFD8FF", 0, true},
            {"FFD8FF", "1", "FFD8FF", 4, false},
            {"66747970", "5", "66747970", 4, true},
            {"AABB", "507", "AABB", 506, true},
            {"AA", "508", "AA", 507, false},
            {"AA", "0", "AA", 0, false},
            {"AABBCCDDEEFF11", "507", "AABBCCDDEEFF11", 506, false},  // runs past the sector's end
            {"AABB", "nn", "AABB", 0, true},
            {"AABB", "nn", "AABB", 100, false},  // byte 0 differs
            {"AAAB", "nn", "AAAAAB", 0, true},     // the candidate at 0 agrees one byte, the chain moves to 1
            {"AAAB", "nn", "AA00AAAB", 0, false},  // the candidate at 1 does not begin with AA: the search ends
        };
        for (const auto &c : cases) {
            const QByteArray sector = (QByteArray(c.at, '\0') + QByteArray::fromHex(c.sector)).leftJustified(512, '\0', true);
            const auto *bytes = reinterpret_cast<const unsigned char *>(sector.constData());
            QVERIFY2(headerMatches(decodeHeader(recordAt(c.header, c.pos), 0), bytes) == c.match,
                     qPrintable(QStringLiteral("%1 at %2").arg(c.sector).arg(c.at)));
        }
        // A chain of the first byte to the end of the sector never matches and stops at 512.
        const QByteArray chain(512, char(0xAA));
        QVERIFY(!headerMatches(decodeHeader(recordAt("AAAB", "nn"), 0), reinterpret_cast<const unsigned char *>(chain.constData())));
    }

    // Records whose header can never match are refused: a position outside the sector (a
    // database is a text file anyone can edit: a position is read as a 64-bit number and must be
    // refused without arithmetic that overflows, which the sanitizer build stops on), and a header
    // that does not fit in the sector where the record says it may stand.
    void recordsThatCanNeverMatch()
    {
        const QByteArray sector(512, char(0xAA));
        for (const char *pos : {"0", "-1", "508", "-9223372036854775808", "9223372036854775807", "99999999999999999999999",
                                "-99999999999999999999999"}) {
            const QStringList rec = recordAt(QStringLiteral("AA"), QString::fromLatin1(pos));
            const DecodedHeader h = decodeHeader(rec, 0);
            QCOMPARE(h.kind, DecodedHeader::Never);
            QCOMPARE(recordProblem(rec, 0), QStringLiteral("position is not one the carving loops try"));
            QVERIFY2(!headerMatches(h, reinterpret_cast<const unsigned char *>(sector.constData())), pos);
        }
        const QString longHeader = QStringLiteral("AB").repeated(513);
        for (const QString &pos : {QStringLiteral("1"), QStringLiteral("nn"), QStringLiteral("2")}) {
            QCOMPARE(recordProblem(recordAt(longHeader, pos), 0), QStringLiteral("header does not fit in the sector at its position"));
            QCOMPARE(recordProblem(recordAt(longHeader.left(pos == QLatin1String("2") ? 1022 : 1024), pos), 0), QString());
        }
    }

    void shippedDatabases()
    {
        Catalogue cat;
        const QString dir = QString::fromLocal8Bit(qgetenv("LUMAFIND_RESOURCES"));
        QVERIFY2(cat.loadAll(dir).isEmpty(), qPrintable(dir));
        const QStringList *lists[6] = {&cat.Ext_Array, &cat.Adv_Ext_Array, &cat.Video_Array,
                                       &cat.Adv_Video_Array, &cat.RawFile_Array, &cat.Adv_RawFile_Array};
        QSet<QString> types;
        for (int i = 0; i < 6; ++i) {
            const QStringList &l = *lists[i];
            QVERIFY(!l.isEmpty());
            QCOMPARE(l.size() % kRecordStrings, 0);
            for (qsizetype r = 0; r < recordCount(l); ++r) {
                const QString problem = recordProblem(l, r);
                QVERIFY2(problem.isEmpty(), qPrintable(QStringLiteral("%1 record %2 (%3): %4")
                                                           .arg(kDatabaseFiles[i].name).arg(r).arg(field(l, r, Ext_Name), problem)));
                types.insert(field(l, r, Ext_Name));
                // Every type is either given an end finder or listed as carved-only with a reason.
                QVERIFY2(!endFoundBy(field(l, r, Ext_Name)).isEmpty(), qPrintable(field(l, r, Ext_Name)));
            }
        }
        for (const char *t : {"JPG", "PNG", "GIF", "BMP", "TIF", "HEIC", "CR2", "CR3", "CRW", "ORF", "RW2", "RAF",
                              "X3F", "MRW", "IIQ", "PSD", "WEBP", "MOV", "MP4", "M4V", "3GP", "AVI", "MTS", "MPG",
                              "MKV", "WMV", "FLV", "MXF", "PDF", "ZIP", "DOC", "RTF", "RAR", "7Z", "GZ", "BZ2", "XZ",
                              "MP3", "WAV", "FLAC", "OGG", "M4A", "AAC", "SQLITE", "EXE", "ELF"})
            QVERIFY2(types.contains(QString::fromLatin1(t)), t);
    }

    void videoAndRawRecordsNeverShareAFile()
    {
        // In video and raw-file mode every record that matches a sector starts a file: a
        // sector made from one record's header must not match a record of another type.
        Catalogue cat;
        cat.loadAll(QString::fromLocal8Bit(qgetenv("LUMAFIND_RESOURCES")));
        for (const QStringList *l : {&cat.Video_Array, &cat.RawFile_Array}) {
            QStringList all = *l;
            all += (l == &cat.Video_Array ? cat.Adv_Video_Array : cat.Adv_RawFile_Array);
            for (qsizetype a = 0; a < recordCount(all); ++a) {
                const DecodedHeader ha = decodeHeader(all, a);
                unsigned char s[512] = {};
                memcpy(s + ha.offset, ha.bytes.constData(), static_cast<size_t>(ha.bytes.size()));
                for (qsizetype b = 0; b < recordCount(all); ++b) {
                    if (field(all, a, Ext_Name) == field(all, b, Ext_Name))
                        continue;
                    QVERIFY2(!headerMatches(decodeHeader(all, b), s),
                             qPrintable(field(all, a, Ext_Descp) + QStringLiteral(" / ") + field(all, b, Ext_Descp)));
                }
            }
        }
    }

    void checkListFromTwoDatabases()
    {
        const QStringList basic = parsed(record(QStringLiteral(".avi")) + record(QStringLiteral(".mov")) + record(QStringLiteral(".mov")));
        QStringList adv = parsed(record(QStringLiteral(".mov")) + record(QStringLiteral(".mp4")));
        adv[5] = QStringLiteral("advanced mov");
        CheckList rows;
        Fill_Check_List(rows, basic, adv);
        QCOMPARE(rows.size(), 3);
        QCOMPARE(rows.at(0).Extension, QStringLiteral("AVI"));
        QCOMPARE(rows.at(1).Extension, QStringLiteral("MOV"));
        QCOMPARE(rows.at(1).Thoro, QString());
        QCOMPARE(rows.at(1).Description, QStringLiteral("JPEG image"));  // from the basic record
        QCOMPARE(rows.at(2).Thoro, QStringLiteral("YES"));
        QVERIFY(Check_For_One_Extension_Selection(rows));
        QVERIFY(selectAllState(rows));

        // Unchecking MOV removes both basic MOV records and the advanced one.
        rows[1].State = false;
        QVERIFY(!selectAllState(rows));
        QStringList chk, chkAdv;
        FoundFilesList found;
        QVERIFY(Apply_Check_List(rows, basic, adv, chk, chkAdv, found));
        QCOMPARE(recordCount(chk), 1);
        QCOMPARE(field(chk, 0, Ext_Name), QStringLiteral("AVI"));
        QCOMPARE(recordCount(chkAdv), 1);
        QCOMPARE(field(chkAdv, 0, Ext_Name), QStringLiteral("MP4"));
        QCOMPARE(found.size(), 2);
        QCOMPARE(found.at(0).FileTypes, QStringLiteral("AVI"));
        QCOMPARE(found.at(1).NoOfFile, QStringLiteral("0"));

        // Select none keeps the order; nothing checked refuses to go on.
        Select_Unselect(rows, false);
        QCOMPARE(rows.at(2).Extension, QStringLiteral("MP4"));
        QVERIFY(!Check_For_One_Extension_Selection(rows));
        QVERIFY(!Apply_Check_List(rows, basic, adv, chk, chkAdv, found));
        QVERIFY(found.isEmpty());
        QVERIFY(!Check_For_One_Extension_Selection({}));
        Select_Unselect(rows, true);
        QVERIFY(selectAllState(rows));
    }

    void checkListSortAndCounts()
    {
        CheckList rows;
        for (const char *e : {"jpg", "BMP", "Avi", "JPG"})
            createExtensionListTableRecord(rows, QString::fromLatin1(e), 0x100, QString(), QString());
        QVERIFY(!rows.first().State);  // only the low byte counts
        sortCheckList(rows);
        QStringList order;
        for (const CheckListRow &r : rows)
            order << r.Extension;
        QCOMPARE(order, (QStringList{"Avi", "BMP", "jpg", "JPG"}));

        FoundFilesList found;
        createSignatureListTableRecord(found, QStringLiteral("MOV"), 0, {}, {}, QStringLiteral("MOV"));
        QCOMPARE(countFoundFile(found, QStringLiteral("MOV00001.MOV")), 0);
        QCOMPARE(countFoundFile(found, QStringLiteral("MOV00002.MOV")), 0);
        QCOMPARE(found.first().NoOfFile, QStringLiteral("2"));
        QCOMPARE(found.first().FileName, QStringLiteral("MOV00002.MOV"));
        QCOMPARE(countFoundFile(found, QStringLiteral("MP400001.MP4")), -1);
    }

    void formatsDocumentIsCurrent()
    {
        const QString expected = formatsMarkdown(QStringLiteral(LUMAFIND_SOURCE_DIR "/resources"));
        QVERIFY2(QString::fromUtf8(readAll(QStringLiteral(LUMAFIND_SOURCE_DIR "/resources/FORMATS.md"))) == expected,
                 "resources/FORMATS.md differs from the databases: run lumafind-formats resources resources/FORMATS.md");
    }
};

QTEST_APPLESS_MAIN(TestCatalogue)
#include "test_catalogue.moc"
