#pragma once
// Photo thumbnails: decoded at most 100 pixels on the longer side, turned upright, JPEG-encoded,
// in a small bounded pool so a scan never waits on a decode, and delivered in the order found.
#include "results/MyImageObject.h"
#include "results/export.h"

#include <QByteArray>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace lumafind {

// JPEG bytes of the thumbnail, or empty when there is no picture to decode cheaply. A file of
// a known type (a database extension) that carries a preview is shown by it: raw files and
// HEIF by that first, other types when Qt cannot decode their bytes.
QByteArray makeThumbnail(const QByteArray &bytes, int maxPixels = 100, const QString &type = QString());

// The photo item for found bytes of a type: the thumbnail, or the placeholder when there is
// none. Empty bytes give no item (returns false).
bool addImageWithData(const QByteArray &bytes, const QString &name, const QString &uid,
                      const QByteArray &placeholder, MyImageObject *item, const QString &type = QString());

// The video or raw-file item: the name trimmed; an empty name gives no item (returns false).
bool addImageWithData_2(const QString &name, const QString &uid, uint64_t start, uint64_t end, MyImageObject *item);

constexpr uint64_t kThumbnailSourceBytes = kPhotoPrefixBytes;

// The bytes a photo's thumbnail is made from: the file as it is exported (its own extent),
// from the bytes the scan kept and, where the file reaches further, from the medium. At most
// kThumbnailSourceBytes are read. Sets the item's extent for its tooltip.
QByteArray thumbnailSource(const QByteArray &prefix, const ExportItem &item, SectorReader *medium, uint64_t mediumBytes,
                           MyImageObject *made);

class ThumbnailPipeline {
public:
    using Deliver = std::function<void(MyImageObject &&)>;
    // deliver is called in submission order, from a pool thread, one call at a time. The
    // medium (optional) is read where a photo reaches past the bytes the scan kept.
    ThumbnailPipeline(QByteArray placeholder, Deliver deliver, MediumRef medium = {}, int threads = 2,
                      qint64 byteBudget = 32 * 1024 * 1024);
    ~ThumbnailPipeline();
    // Queues the decode of a photo from the first bytes the scan kept of it. Returns at once
    // unless the bytes queued exceed the budget, which bounds memory while a fast medium
    // outruns the decoders.
    void submit(QByteArray prefix, ExportItem export_, MyImageObject item);
    // Waits until everything submitted has been delivered.
    void drain();

private:
    struct Job {
        quint64 seq;
        QByteArray bytes;
        ExportItem export_;
        MyImageObject item;
    };
    void run();

    QByteArray placeholder_;
    Deliver deliver_;
    MediumRef medium_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Job> jobs_;
    std::vector<std::thread> threads_;
    bool quit_ = false;
    quint64 nextSeq_ = 0, nextDeliver_ = 0;
    qint64 inFlight_ = 0, budget_;
    std::map<quint64, MyImageObject> ready_;
};

} // namespace lumafind
