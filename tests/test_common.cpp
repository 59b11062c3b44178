#include "common/hex.h"

#include <QTest>

using namespace lumafind;

class TestCommon : public QObject {
    Q_OBJECT
private slots:
    void hexDigitsAndNumbers()
    {
        QCOMPARE(hex2dec(QStringLiteral("0")), 0);
        QCOMPARE(hex2dec(QStringLiteral("9")), 9);
        QCOMPARE(hex2dec(QStringLiteral("a")), 10);
        QCOMPARE(hex2dec(QStringLiteral("F")), 15);
        QCOMPARE(hex2dec(QStringLiteral("G")), 0);
        QCOMPARE(hex2dec(QStringLiteral("-")), 0);
        QCOMPARE(hex2dec(QString()), 0);
        // Only the low byte of the first code unit counts: U+0141 has low byte 0x41 ('A').
        QCOMPARE(hex2dec(QString(QChar(0x0141))), 10);
        // Numbers of several digits.
        QCOMPARE(hex2int(QStringLiteral("FF")), 255);
        QCOMPARE(hex2int(QStringLiteral("ff")), 255);
        QCOMPARE(hex2int(QStringLiteral("0A")), 10);
        QCOMPARE(hex2int(QStringLiteral("D8")), 216);
        QCOMPARE(hex2int(QStringLiteral("G1")), 1);   // a non-hex digit counts as 0, goes on
        QCOMPARE(hex2int(QStringLiteral("1G")), 16);
        QCOMPARE(hex2int(QString()), 0);
        QCOMPARE(hex2int(QStringLiteral("7FFFFFFF")), 0x7FFFFFFF);
    }

    void substrings()
    {
        QVERIFY(!Find_Str(QStringLiteral("abc"), QString()));
        QVERIFY(!Find_Str(QStringLiteral("abc"), QStringLiteral("BC")));
        QVERIFY(Find_Str(QStringLiteral("abc"), QStringLiteral("bc")));
        QVERIFY(Find_Str(QStringLiteral("FFD8FFE1"), QStringLiteral("FFD8FF")));
        QVERIFY(!Find_Str(QString(), QStringLiteral("a")));
        QVERIFY(!Find_Str(QStringLiteral("FFD8"), QStringLiteral("FFD8FF")));
    }

    void integerScans()
    {
        int64_t v = -7;
        QVERIFY(scanInt64(QStringLiteral("  42x"), &v));
        QCOMPARE(v, 42);
        QVERIFY(scanInt64(QStringLiteral("-1"), &v));
        QCOMPARE(v, -1);
        QVERIFY(scanInt64(QStringLiteral("+5"), &v));
        QCOMPARE(v, 5);
        QVERIFY(!scanInt64(QStringLiteral("abc"), &v));
        QVERIFY(!scanInt64(QString(), &v));
        QVERIFY(!scanInt64(QStringLiteral("-"), &v));
        QVERIFY(scanInt64(QStringLiteral("99999999999999999999999"), &v));
        QCOMPARE(v, std::numeric_limits<int64_t>::max());
        QCOMPARE(leadingInt64(QStringLiteral("18874368")), 18874368);
        QCOMPARE(leadingInt64(QStringLiteral("nn")), 0);
        QCOMPARE(leadingInt64(QStringLiteral("4294967296")), 4294967296LL);
    }
};

QTEST_APPLESS_MAIN(TestCommon)
#include "test_common.moc"
