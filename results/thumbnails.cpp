#include "thumbnails.h"

#include <QBuffer>
#include <QImage>
#include <QImageReader>

namespace lumafind {

QByteArray makeThumbnail(const QByteArray &bytes, int maxPixels)
{
    QBuffer in;
    in.setData(bytes);  // shares the bytes, no copy
    in.open(QIODevice::ReadOnly);
    QImageReader reader(&in);
    reader.setAutoTransform(true);
    // One decode may not hold more than this; larger pictures get the placeholder.
    reader.setAllocationLimit(256);
    const QSize full = reader.size();
    if (full.isValid() && !full.isEmpty()) {
        const QSize scaled = full.scaled(maxPixels, maxPixels, Qt::KeepAspectRatio);
        reader.setScaledSize(scaled.expandedTo(QSize(1, 1)));
    }
    QImage img = reader.read();
    if (img.isNull())
        return QByteArray();
    if (img.width() > maxPixels || img.height() > maxPixels)  // formats that cannot scale while decoding
        img = img.scaled(maxPixels, maxPixels, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    QByteArray out;
    QBuffer buffer(&out);
    buffer.open(QIODevice::WriteOnly);
    if (!img.convertToFormat(QImage::Format_RGB32).save(&buffer, "JPG", 85))
        return QByteArray();
    return out;
}

bool addImageWithData(const QByteArray &bytes, const QString &name, const QString &uid,
                      const QByteArray &placeholder, MyImageObject *item)
{
    if (bytes.isEmpty())
        return false;
    QByteArray thumb = makeThumbnail(bytes);
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

ThumbnailPipeline::ThumbnailPipeline(QByteArray placeholder, Deliver deliver, int threads, qint64 byteBudget)
    : placeholder_(std::move(placeholder)), deliver_(std::move(deliver)), budget_(byteBudget)
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

void ThumbnailPipeline::submit(QByteArray bytes, MyImageObject item)
{
    const qint64 size = bytes.size();
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return inFlight_ == 0 || inFlight_ + size <= budget_; });
    inFlight_ += size;
    jobs_.push_back(Job{nextSeq_++, std::move(bytes), std::move(item)});
    changed_.notify_all();
}

void ThumbnailPipeline::run()
{
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return quit_ || !jobs_.empty(); });
        if (jobs_.empty())
            return;
        Job job = std::move(jobs_.front());
        jobs_.pop_front();
        lock.unlock();
        MyImageObject made = job.item;
        addImageWithData(job.bytes, job.item.image_Name, job.item.image_UID, placeholder_, &made);
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
