#include "export.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace lumafind {

ExportItem ExportItem::of(const FoundFile &f)
{
    ExportItem e;
    e.name = f.name;
    e.extension = f.extension;
    e.pass = f.tag;
    e.startSector = f.startSector;
    e.carvedBytes = f.carvedBytes;
    e.endsAtNextFile = f.endsAtNextFile;
    return e;
}

void assignCuts(QList<ExportItem> &items)
{
    std::vector<uint64_t> starts;
    starts.reserve(size_t(items.size()));
    for (const ExportItem &i : items)
        starts.push_back(i.startByte());
    std::sort(starts.begin(), starts.end());
    for (ExportItem &i : items) {
        const auto next = std::upper_bound(starts.begin(), starts.end(), i.startByte());
        i.cutAt = next == starts.end() ? kNoBarrier : *next - i.startByte();
    }
}

FoundFileSource::FoundFileSource(SectorReader *medium, uint64_t startSector, uint64_t mediumBytes)
    : medium_(medium), start_(startSector)
{
    const uint64_t startByte = startSector * uint64_t(kSectorSize);
    const uint64_t available = mediumBytes == UINT64_MAX ? UINT64_MAX : mediumBytes > startByte ? mediumBytes - startByte : 0;
    size_ = std::min(available, kMaxSavedFile);
}

void FoundFileSource::setFile(int fd, uint64_t bytes)
{
    fd_ = fd;
    fileBytes_ = std::min(bytes, firstPiece_);
}

void FoundFileSource::setPieces(const std::vector<Piece> &pieces)
{
    if (pieces.size() < 2)
        return;
    pieces_ = pieces;
    firstPiece_ = pieces.front().bytes;
    uint64_t total = 0;
    for (const Piece &p : pieces)
        total = total > UINT64_MAX - p.bytes ? UINT64_MAX : total + p.bytes;
    size_ = std::min(total, kMaxSavedFile);
    if (uint64_t(prefix_.size()) > firstPiece_)
        prefix_ = prefix_.first(qsizetype(firstPiece_));
    fileBytes_ = std::min(fileBytes_, firstPiece_);
}

uint64_t FoundFileSource::mediumByte(uint64_t offset, uint64_t *run) const
{
    if (pieces_.empty()) {
        *run = UINT64_MAX;
        return start_ * uint64_t(kSectorSize) + offset;
    }
    uint64_t at = 0;
    for (const Piece &p : pieces_) {
        if (offset < at + p.bytes) {
            *run = at + p.bytes - offset;
            return p.mediumByte + (offset - at);
        }
        at += p.bytes;
    }
    *run = 0;
    return UINT64_MAX;
}

int64_t FoundFileSource::readAt(uint64_t offset, void *buf, int64_t len)
{
    auto *out = static_cast<unsigned char *>(buf);
    int64_t done = 0;
    while (done < len) {
        if (cancel_ && cancel_())
            break;
        const uint64_t o = offset + uint64_t(done);
        if (o < uint64_t(prefix_.size())) {
            const int64_t n = std::min<int64_t>(len - done, int64_t(uint64_t(prefix_.size()) - o));
            std::memcpy(out + done, prefix_.data() + o, size_t(n));
            done += n;
            continue;
        }
        if (fd_ >= 0 && o < fileBytes_) {
            const ssize_t n = ::pread(fd_, out + done, size_t(std::min<uint64_t>(uint64_t(len - done), fileBytes_ - o)), off_t(o));
            if (n <= 0) {
                fileError_ = n < 0 ? errno : EIO;
                break;
            }
            done += n;
            continue;
        }
        const int64_t n = fromMedium(o, out + done, len - done);
        if (n <= 0)
            break;
        // Right after what the file holds: write it on, so it need not be read again.
        if (fd_ >= 0 && o == fileBytes_ && fileError_ == 0) {
            int64_t put = 0;
            while (put < n) {
                const ssize_t w = ::pwrite(fd_, out + done + put, size_t(n - put), off_t(o + uint64_t(put)));
                if (w < 0 && errno == EINTR)
                    continue;
                if (w <= 0) {
                    fileError_ = w < 0 ? errno : ENOSPC;
                    break;
                }
                put += w;
            }
            fileBytes_ += uint64_t(put);
        }
        done += n;
    }
    return done;
}

int64_t FoundFileSource::fromMedium(uint64_t offset, unsigned char *out, int64_t len)
{
    if (!medium_ || lost_)
        return 0;
    int64_t done = 0;
    while (done < len) {
        if (cancel_ && cancel_())
            break;
        const uint64_t o = offset + uint64_t(done);
        uint64_t run = 0;
        const uint64_t at = mediumByte(o, &run);
        if (run == 0)
            break;
        const uint64_t sector = at / kSectorSize;
        const uint64_t in = at % kSectorSize;
        const int64_t n = std::min<int64_t>({len - done, int64_t(kSectorSize - in), int64_t(std::min<uint64_t>(run, INT64_MAX))});
        if (in == 0 && n == kSectorSize) {
            // A whole sector goes straight to the caller.
            if (medium_->read(sector, out + done) == SectorReader::Lost) {
                lost_ = true;
                break;
            }
        } else {
            if (sector != cachedSector_) {
                if (medium_->read(sector, cache_) == SectorReader::Lost) {
                    lost_ = true;
                    break;
                }
                cachedSector_ = sector;
            }
            std::memcpy(out + done, cache_ + in, size_t(n));
        }
        done += n;
    }
    return done;
}

Extent measure(const ExportItem &item, ByteSource &src)
{
    const std::optional<RememberedFile> &entry = item.remembered;
    if (entry && item.pieces.size() > 1) {
        // The fragment stage walked the pieces with the format's own structure to exactly
        // the entry's size.
        Extent e;
        e.bytes = std::min(entry->size, kMaxSavedFile);
        e.declared = true;
        e.fromDirectory = true;
        e.pieces = item.pieces;
        return e;
    }
    ExtentContext c;
    c.carved = std::min(item.carvedBytes, src.size());
    c.barrier = item.endsAtNextFile ? c.carved : kNoBarrier;
    Extent e = findExtent(item.extension, src, c);
    if (entry && entry->size > 0) {
        if (e.declared) {
            // The two agree when they end in the same sector: the directory knows the last byte
            // (a camera's trailing byte after the end marker is still the file's).
            const auto lastSector = [](uint64_t n) { return (n + kSectorSize - 1) / kSectorSize; };
            if (e.bytes != entry->size && lastSector(e.bytes) == lastSector(entry->size) && entry->size <= src.size()) {
                e.bytes = entry->size;
                e.verified = std::min(e.verified, e.bytes);
            }
            e.fromDirectory = e.bytes == entry->size;
        } else if (entry->size <= std::min({item.cutAt, src.size(), c.barrier}) && entry->size <= kMaxSavedFile) {
            // The structure cannot answer and the file fits before the next found file.
            e.bytes = entry->size;
            e.declared = true;
            e.fromDirectory = true;
            e.outOfBounds = false;
            e.verified = 0;
            e.anchors.clear();
        }
    }
    if (!e.declared)
        e.bytes = std::min(e.bytes, item.cutAt);
    return e;
}

QString lengthFrom(const Extent &e)
{
    return e.fromDirectory ? QStringLiteral("directory") : e.declared ? QStringLiteral("declared") : QStringLiteral("carved");
}

bool fillFile(FoundFileSource &src, uint64_t bytes, QString *error)
{
    std::vector<char> buf(1 << 20);
    while (src.fileBytes() < bytes) {
        if (src.cancelled()) {
            *error = QStringLiteral("cancelled");
            return false;
        }
        const uint64_t at = src.fileBytes();
        const int64_t want = int64_t(std::min<uint64_t>(buf.size(), bytes - at));
        src.resumeWriting();
        const int64_t got = src.read(at, buf.data(), want);
        if (src.fileError() != 0) {
            *error = QString::fromLocal8Bit(std::strerror(src.fileError()));
            return false;
        }
        if (got <= 0 || src.fileBytes() == at) {
            *error = src.mediumLost() ? QStringLiteral("the medium stopped answering") : QStringLiteral("the medium ended early");
            return false;
        }
    }
    return true;
}

const ExportLedger::Entry *ExportLedger::containing(uint64_t start) const
{
    const auto same = entries_.find(start);
    if (same != entries_.end())
        return &same->second;  // the same file found again (by the other pass, or as another type)
    const auto anchored = anchors_.find(start);
    if (anchored != anchors_.end()) {
        const auto owner = entries_.find(anchored->second);
        if (owner != entries_.end())
            return &owner->second;
    }
    auto piece = covered_.upper_bound(start);
    if (piece == covered_.begin())
        return nullptr;
    --piece;
    if (start >= piece->second.first)
        return nullptr;
    const auto owner = entries_.find(piece->second.second);
    return owner == entries_.end() ? nullptr : &owner->second;
}

uint64_t ExportLedger::nextStartAfter(uint64_t start) const
{
    const auto next = entries_.upper_bound(start);
    return next == entries_.end() ? kNoBarrier : next->first;
}

std::optional<ExportLedger::Entry> ExportLedger::cutAt(uint64_t start)
{
    auto it = carvedOnly_.upper_bound(start);
    if (it == carvedOnly_.begin())
        return std::nullopt;
    --it;
    if (it->first >= start || start >= it->second)
        return std::nullopt;
    it->second = start;
    Entry &e = entries_.at(it->first);
    e.end = start;
    return e;
}

void ExportLedger::add(const Entry &e)
{
    entries_[e.start] = e;
    if (!e.declared) {
        carvedOnly_[e.start] = e.end;
        return;
    }
    for (uint64_t a : e.anchors)
        if (a > e.start && a < e.end)
            anchors_.emplace(a, e.start);
    // Claim the parts of what the finder walked that no declared file covers yet.
    const uint64_t end = std::min(e.end, e.verified);
    uint64_t at = e.start;
    auto it = covered_.upper_bound(at);
    if (it != covered_.begin() && std::prev(it)->second.first > at)
        at = std::prev(it)->second.first;
    while (at < end) {
        const uint64_t gapEnd = (it == covered_.end()) ? end : std::min(end, it->first);
        if (gapEnd > at)
            covered_[at] = {gapEnd, e.start};
        if (it == covered_.end() || it->first >= end)
            break;
        at = std::max(at, it->second.first);
        ++it;
    }
}

std::optional<ExportLedger::Entry> ExportLedger::take(uint64_t start)
{
    const auto it = entries_.find(start);
    if (it == entries_.end())
        return std::nullopt;
    Entry e = it->second;
    entries_.erase(it);
    carvedOnly_.erase(start);
    for (auto c = covered_.begin(); c != covered_.end();)
        c = c->second.second == start ? covered_.erase(c) : std::next(c);
    for (auto a = anchors_.begin(); a != anchors_.end();)
        a = a->second == start ? anchors_.erase(a) : std::next(a);
    return e;
}

void ExportLedger::clear()
{
    entries_.clear();
    covered_.clear();
    carvedOnly_.clear();
    anchors_.clear();
}

} // namespace lumafind
