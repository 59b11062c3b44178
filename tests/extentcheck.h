#pragma once
// The end finders and header checks on bytes in memory, and what every end finder must do:
// give the file's own length whatever follows it, and never less than what there is of a file
// that was cut.
#include "results/extents/check.h"
#include "results/extents/extent.h"
#include "testfiles.h"

#include <QTest>

inline lumafind::Extent extentOf(const QString &ext, const QByteArray &bytes, uint64_t carved = 0,
                                 uint64_t barrier = lumafind::kNoBarrier)
{
    lumafind::MemorySource s(bytes);
    return lumafind::findExtent(ext, s, lumafind::ExtentContext{carved ? carved : uint64_t(bytes.size()), barrier});
}

// How many bytes the finder reads to answer (the answer to *e).
inline uint64_t readFor(const QString &ext, const QByteArray &bytes, lumafind::Extent *e = nullptr)
{
    lumafind::MemorySource s(bytes);
    const lumafind::Extent found = lumafind::findExtent(ext, s, uint64_t(bytes.size()));
    if (e)
        *e = found;
    return s.bytesRead();
}

// The check of `ext` on `file` standing at a sector start, with `before` in front of it.
inline lumafind::HeaderCheck checkOf(const QString &ext, const QByteArray &file, const QByteArray &before = QByteArray())
{
    const QByteArray all = before + file.left(512 + 2048);
    return lumafind::checkHeader(
        ext, lumafind::HitView{reinterpret_cast<const unsigned char *>(all.constData()), size_t(all.size()), size_t(before.size())});
}

// Exact; followed by random bytes (three fills) or zeros: the same length; cut at several
// places: no answer (or, cut right after a whole record of a stream, that length), never less
// than what there is. A stream of records (`records`) cut anywhere may end after its last
// whole record.
inline void checkEnd(const QString &ext, const QByteArray &file, bool records = false)
{
    QVERIFY2(file.size() > 16, qPrintable(ext));
    lumafind::Extent e = extentOf(ext, file);
    QVERIFY2(e.declared, qPrintable(ext));
    QCOMPARE(e.bytes, uint64_t(file.size()));
    for (const QByteArray &after : {noise(5000, 1), noise(5000, 2), noise(5000, 3), QByteArray(5000, '\0')}) {
        e = extentOf(ext, file + after);
        QVERIFY2(e.declared, qPrintable(ext + " followed by other bytes"));
        QCOMPARE(e.bytes, uint64_t(file.size()));
    }
    for (const int percent : {20, 50, 90}) {
        const QByteArray cut = file.left(file.size() * percent / 100);
        e = extentOf(ext, cut);
        QVERIFY2(e.bytes == uint64_t(cut.size()) || (records && e.declared && e.bytes < uint64_t(cut.size())), qPrintable(QStringLiteral("%1 cut at %2%: %3").arg(ext).arg(percent).arg(e.bytes)));
    }
}
