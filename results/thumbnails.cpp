#include "thumbnails.h"

#include "results/metadata.h"

#include <QBuffer>
#include <QImage>
#include <new>

namespace lumafind {

QByteArray makeThumbnail(const QByteArray &bytes, int maxPixels, const QString &type)
{
    // What Qt reads of a raw file is at best its tiny first-directory thumbnail; HEIF it does
    // not read at all.
    const bool preview = previewFirst(type);
    QImage img;
    if (preview)
        img = embeddedPicture(type, bytes, maxPixels);
    if (img.isNull())
        img = decodePicture(bytes, maxPixels);
    if (img.isNull() && !preview)
        img = embeddedPicture(type, bytes, maxPixels);  // e.g. a cut JPEG still has its Exif thumbnail
    if (img.isNull())
        return QByteArray();
    QByteArray out;
    QBuffer buffer(&out);
    buffer.open(QIODevice::WriteOnly);
    if (!img.convertToFormat(QImage::Format_RGB32).save(&buffer, "JPG", 85))
        return QByteArray();
    return out;
}

bool addImageWithData(const QByteArray &bytes, const QString &name, const QString &uid,
                      const QByteArray &placeholder, MyImageObject *item, const QString &type)
{
    if (bytes.isEmpty())
        return false;
    QByteArray thumb = makeThumbnail(bytes, 100, type);
    item->imageData = thumb.isEmpty() ? placeholder : thumb;
    item->image_Name = name;
    item->image_UID = uid;
    item->isPhoto = true;
    return true;
}

bool addImageWithData_2(const QString &name, const QString &uid, uint64_t start, uint64_t end, MyImageObject *item)
{
    const QString trimmed = name.trimmed();
    if (trimmed.isEmpty())
        return false;
    item->image_Name = trimmed;
    item->image_UID = uid;
    item->path = trimmed;
    item->File_Start_Sector = start;
    item->File_End_Sector = end;
    item->isPhoto = false;
    return true;
}

QByteArray thumbnailSource(const QByteArray &prefix, const ExportItem &item, SectorReader *medium, uint64_t mediumBytes,
                           MyImageObject *made)
{
    if (medium && mediumBytes == UINT64_MAX)
        mediumBytes = medium->mediumBytes();
    FoundFileSource src(medium, item.startSector, medium ? mediumBytes : uint64_t(prefix.size()) + item.startByte());
    src.setMemoryPrefix(prefix);
    const Extent e = measure(item, src);
    made->extent = e.declared ? QStringLiteral("declared") : QStringLiteral("carved");
    made->extentBytes = e.bytes;
    if (e.bytes <= uint64_t(prefix.size()))
        return prefix.left(qsizetype(e.bytes));
    QByteArray bytes(qsizetype(std::min<uint64_t>(e.bytes, kThumbnailSourceBytes)), Qt::Uninitialized);
    bytes.resize(qsizetype(std::max<int64_t>(0, src.read(0, bytes.data(), bytes.size()))));
    return bytes;
}

ThumbnailPipeline::ThumbnailPipeline(QByteArray placeholder, Deliver deliver, MediumRef medium, int threads, qint64 byteBudget)
    : placeholder_(std::move(placeholder)), deliver_(std::move(deliver)), medium_(std::move(medium)), budget_(byteBudget)
{
    for (int i = 0; i < threads; ++i)
        threads_.emplace_back([this] { run(); });
}

ThumbnailPipeline::~ThumbnailPipeline()
{
    drain();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
    }
    changed_.notify_all();
    for (std::thread &t : threads_)
        t.join();
}

void ThumbnailPipeline::submit(QByteArray prefix, ExportItem export_, MyImageObject item)
{
    const qint64 size = prefix.size();
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return inFlight_ == 0 || inFlight_ + size <= budget_; });
    inFlight_ += size;
    jobs_.push_back(Job{nextSeq_++, std::move(prefix), std::move(export_), std::move(item)});
    changed_.notify_all();
}

void ThumbnailPipeline::run()
{
    // A reader of the medium for this thread, opened the first time a photo reaches past what
    // the scan kept of it.
    std::unique_ptr<SectorReader> reader;
    bool readerTried = false;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return quit_ || !jobs_.empty(); });
        if (jobs_.empty())
            return;
        Job job = std::move(jobs_.front());
        jobs_.pop_front();
        lock.unlock();
        MyImageObject made = job.item;
        if (!readerTried && !medium_.path.isEmpty()) {
            readerTried = true;
            reader = std::make_unique<SectorReader>(medium_.opener);
            reader->setBadSectors(medium_.bad);
            if (!reader->open(medium_.path))
                reader.reset();
        }
        QByteArray bytes;
        try {
            bytes = thumbnailSource(job.bytes, job.export_, reader.get(), medium_.bytes, &made);
        } catch (const std::bad_alloc &) {
            bytes = job.bytes;  // no memory to read further: the bytes at hand
        }
        addImageWithData(bytes, job.item.image_Name, job.item.image_UID, placeholder_, &made, job.export_.extension);
        if (const auto t = captureTime(job.export_.extension, QByteArrayView(bytes)))
            made.captured = t->iso();
        const qint64 size = job.bytes.size();
        job.bytes = QByteArray();
        lock.lock();
        inFlight_ -= size;
        ready_.emplace(job.seq, std::move(made));
        // Deliver in the order found, one call at a time.
        for (auto it = ready_.find(nextDeliver_); it != ready_.end(); it = ready_.find(nextDeliver_)) {
            deliver_(std::move(it->second));
            ready_.erase(it);
            ++nextDeliver_;
        }
        changed_.notify_all();
    }
}

void ThumbnailPipeline::drain()
{
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return nextDeliver_ == nextSeq_; });
}

} // namespace lumafind
