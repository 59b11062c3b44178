#pragma once
// Fixtures of the engine tests: records made from text, card images with headers at chosen
// sectors, an observer that records what a scan reports (and one that saves as it goes), and
// a scan run as the front ends run it.
#include "catalogue/signatures.h"
#include "engine/observer.h"
#include "engine/scansession.h"
#include "results/saver.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QRandomGenerator>
#include <QString>
#include <QStringList>
#include <functional>

inline QStringList rec(const QString &ext, const QString &size, const QString &hex, const QString &pos = QStringLiteral("1"))
{
    QStringList l;
    lumafind::SignatureReader().parse(QStringLiteral("e : .%1\ns : %2\nHeader : %3\np : %4\nr : 0\nd : %1 file\n")
                                          .arg(ext, size, hex, pos),
                                      l);
    return l;
}

// A card image: `sectors` sectors of filler, with bytes placed at chosen sectors and offsets.
struct CardImage {
    QByteArray data;
    explicit CardImage(qint64 sectors, bool randomFiller = false)
    {
        data = QByteArray(sectors * 512, '\0');
        if (randomFiller) {
            QRandomGenerator gen(42);
            for (qint64 i = 0; i < data.size(); ++i)
                data[i] = char(gen.bounded(1, 200));  // never 0, never a header's first byte
        }
    }
    void put(qint64 sector, const QByteArray &bytes, int offset = 0)
    {
        data.replace(sector * 512 + offset, bytes.size(), bytes);
    }
    void putHex(qint64 sector, const char *hex, int offset = 0) { put(sector, QByteArray::fromHex(hex), offset); }
    QByteArray sectors(qint64 first, qint64 end) const { return data.mid(first * 512, (end - first) * 512); }
    bool save(const QString &path) const
    {
        QFile f(path);
        return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
    }
};

struct RecordingObserver : lumafind::ScanObserver {
    QList<lumafind::PassStart> passes;
    QList<lumafind::FoundFile> files;
    QList<QByteArray> bytes;  // the photo bytes, copied (the pass reuses its buffer)
    QList<QPair<quint64, quint64>> unreadable;
    QStringList alerts, informatives;
    int openFailures = 0, timerEnds = 0, ends = 0;
    lumafind::ScanSummary summary;
    std::function<void(const lumafind::FoundFile &)> onFile;
    std::function<void(const lumafind::PassStart &)> onPass;

    void passStarted(const lumafind::PassStart &p) override
    {
        passes.append(p);
        if (onPass)
            onPass(p);
    }
    void fileFound(lumafind::FoundFile &&f) override
    {
        bytes.append(f.bytes.toByteArray());
        f.bytes = QByteArrayView(bytes.last());
        files.append(f);
        if (onFile)
            onFile(files.last());
    }
    void unreadableSectors(uint64_t first, uint64_t count) override { unreadable.append({first, count}); }
    void alert(const QString &m, const QString &i) override
    {
        alerts.append(m);
        informatives.append(i);
    }
    void openFailed() override { ++openFailures; }
    void endTimer() override { ++timerEnds; }
    void endOfScan(const lumafind::ScanSummary &s) override
    {
        ++ends;
        summary = s;
    }
    QStringList names() const
    {
        QStringList n;
        for (const auto &f : files)
            n << QStringLiteral("%1@%2-%3").arg(f.name).arg(f.startSector).arg(f.endSector);
        return n;
    }
};

// Saves what the scan finds while the sectors are read, as the command line and the wizard do.
struct SavingObserver : RecordingObserver {
    lumafind::FileSaver *saver = nullptr;
    bool wantsFileData() const override { return saver; }
    void fileStarted(const lumafind::FileStart &f) override { saver->started(f); }
    void fileData(uint64_t serial, const unsigned char *b, size_t n) override { saver->data(serial, b, n); }
    void fileDropped(uint64_t serial) override { saver->dropped(serial); }
    void fileFound(lumafind::FoundFile &&f) override
    {
        if (saver)
            saver->add(f);
        RecordingObserver::fileFound(std::move(f));
    }
};

// A scan of the whole medium.
inline lumafind::ScanRequest wholeMedium(const QString &device, qint64 sectors, int mode = 0, bool thorough = true)
{
    lumafind::ScanRequest r;
    r.mode = mode;
    r.devicePath = device;
    r.range = {true, false, QString::number(sectors), {}, {}};
    r.thorough = thorough;
    return r;
}

// Runs a scan as every front end does: a session with its own worker thread.
inline lumafind::ScanResult runScan(lumafind::RecoveryCore &core, const lumafind::ScanRequest &r, lumafind::ScanObserver &obs)
{
    lumafind::ScanSession session(core);
    session.start(r, &obs);
    session.wait();
    return session.result();
}

// The found files saved again after the scan, from the list and the medium, as the wizard's
// "Save found files…" does (the items it saved from in *items).
inline QList<lumafind::SaveRecord> saveFromList(const QList<lumafind::FoundFile> &found, const lumafind::MediumRef &medium,
                                                const QString &out, QList<lumafind::ExportItem> *items = nullptr)
{
    QList<lumafind::ExportItem> listed;
    for (const lumafind::FoundFile &f : found)
        listed.append(lumafind::ExportItem::of(f));
    lumafind::assignCuts(listed);
    lumafind::FileSaver saver(out, medium);
    QString why;
    if (!saver.prepare(&why))
        qWarning("%s", qPrintable(why));
    for (int i = 0; i < listed.size(); ++i)
        saver.add(listed[i], found[i].endSector);
    saver.finish();
    if (items)
        *items = listed;
    return saver.records();
}
