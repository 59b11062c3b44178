#include "thumbnails.h"

#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <QMutexLocker>

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
    pool_.setMaxThreadCount(threads);
}

ThumbnailPipeline::~ThumbnailPipeline()
{
    drain();
    pool_.waitForDone();
}

void ThumbnailPipeline::submit(QByteArray bytes, MyImageObject item)
{
    const qint64 size = bytes.size();
    quint64 seq;
    {
        QMutexLocker lock(&mutex_);
        while (inFlight_ > 0 && inFlight_ + size > budget_)
            changed_.wait(&mutex_);
        seq = nextSeq_++;
        inFlight_ += size;
    }
    pool_.start([this, seq, size, bytes = std::move(bytes), item = std::move(item)]() mutable {
        MyImageObject made = item;
        addImageWithData(bytes, item.image_Name, item.image_UID, placeholder_, &made);
        bytes = QByteArray();
        finished(seq, std::move(made), size);
    });
}

void ThumbnailPipeline::finished(quint64 seq, MyImageObject &&item, qint64 bytes)
{
    QMutexLocker lock(&mutex_);
    inFlight_ -= bytes;
    ready_.emplace(seq, std::move(item));
    for (auto it = ready_.find(nextDeliver_); it != ready_.end(); it = ready_.find(nextDeliver_)) {
        deliver_(std::move(it->second));
        ready_.erase(it);
        ++nextDeliver_;
    }
    changed_.wakeAll();
}

void ThumbnailPipeline::drain()
{
    QMutexLocker lock(&mutex_);
    while (nextDeliver_ < nextSeq_)
        changed_.wait(&mutex_);
}

} // namespace lumafind
