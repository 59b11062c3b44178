#pragma once
// The one routine that reads sectors, for the passes, the preview copy and saving.
// A large stream buffer makes a 512-byte read a memory copy. A failed read is retried sector
// by sector without the buffer, so one bad sector costs one sector; a sector that still
// cannot be read becomes 512 zero bytes and is counted; the position stays in step with the
// sector number. When the device cannot be sought or reopened, it is gone.
#include <QString>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace lumafind {

constexpr int kSectorSize = 512;

// Opens a medium for reading ("rb"); returns null and sets errno on failure. An opener that
// was refused for a reason errno cannot carry (the system's storage service said no) also
// leaves that reason with setOpenRefusal().
using DeviceOpener = std::function<FILE *(const QString &path)>;
FILE *openDeviceFile(const QString &path);
// The descriptor beneath it: only a regular file or a block device is opened (read-only,
// blocking, close-on-exec); anything else fails with ENOTBLK before a read could block.
int openDeviceFd(const QString &path);
// A stream over a descriptor another reader also uses (one handed over by the system's
// storage service): reads go through a duplicate of fd at the stream's own position (pread),
// so readers on other threads never move each other. Null with errno set on failure.
FILE *openSharedDescriptor(int fd);

// Like errno, per thread: the reason the last opener on this thread was refused, when it is
// a sentence rather than an error number. Taking it clears it.
void setOpenRefusal(const QString &reason);
QString takeOpenRefusal();

// The unreadable sectors of one scan, whoever reads them (the passes, saving, the preview):
// each sector counts once however often it is read.
class BadSectors {
public:
    // Returns true when the sector was not known to be unreadable yet.
    bool add(uint64_t sector);
    uint64_t count() const;
    void clear();

private:
    mutable std::mutex mutex_;
    std::map<uint64_t, uint64_t> runs_;  // first -> end (exclusive)
    uint64_t count_ = 0;
};

class SectorReader {
public:
    enum Status { Ok, Unreadable, Lost };

    explicit SectorReader(DeviceOpener opener = openDeviceFile);
    ~SectorReader();
    SectorReader(const SectorReader &) = delete;
    SectorReader &operator=(const SectorReader &) = delete;

    // Opens the medium with a 1 MiB buffer; false with errno set when it cannot be opened.
    bool open(const QString &path);
    // The buffered stream (null when closed).
    FILE *stream() const { return main_; }
    // Reads sector `sector` into buf (512 bytes). Sequential reads cost a memory copy.
    Status read(uint64_t sector, unsigned char *buf);
    // Reads `count` sectors from `first` straight into buf (count × 512 bytes) in one request
    // where the medium allows it; a request that fails is read again sector by sector under the
    // rules of read(). Returns the sectors delivered: fewer than count when the medium ends (a
    // partial last sector counts, padded with zeros) or is lost. Unreadable sectors (zeros in
    // buf) are appended to *unreadable in order.
    uint64_t readBlock(uint64_t first, uint64_t count, unsigned char *buf, std::vector<uint64_t> *unreadable);
    // The same for reads that jump about: straight from the descriptor, without filling the
    // stream's buffer; a read that fails goes through readBlock's rules.
    uint64_t readScattered(uint64_t first, uint64_t count, unsigned char *buf);
    void close();

    uint64_t unreadable() const { return unreadable_; }
    int lastError() const { return lastErrno_; }
    // Why open() failed, for a person: the system's reason, or what refused to open it.
    QString failureReason() const;
    // The medium's size in bytes (an image need not be a whole number of sectors); UINT64_MAX
    // when it cannot be told.
    uint64_t mediumBytes() const { return mediumBytes_; }
    // Where unreadable sectors are counted once per scan (optional).
    void setBadSectors(std::shared_ptr<BadSectors> bad) { bad_ = std::move(bad); }
    // Bytes read from media by every reader of the process, for the benchmarks.
    static uint64_t totalBytesRead() { return totalRead_.load(std::memory_order_relaxed); }

private:
    bool seekMain(uint64_t sector);
    Status retryRead(uint64_t sector, unsigned char *buf);
    void markUnreadable(uint64_t sector);
    // A read that met the end of the medium: the last, partial sector is padded with zeros.
    static bool partialAtEnd(FILE *f, size_t got, unsigned char *buf);

    DeviceOpener opener_;
    QString path_;
    FILE *main_ = nullptr;
    FILE *retry_ = nullptr;
    char *buffer_ = nullptr;
    uint64_t next_ = 0;          // sector the main stream stands at
    uint64_t retryEnd_ = 0;      // sectors below this are read through the retry stream
    uint64_t retryNext_ = UINT64_MAX;
    uint64_t windowGood_ = 0;    // sectors read in the current retry window
    uint64_t unreadable_ = 0;
    int lastErrno_ = 0;
    QString refusal_;            // the opener's own reason when it was refused
    uint64_t mediumBytes_ = UINT64_MAX;
    // A device's page cache, dropped behind the reader as it goes.
    void dropBehind(uint64_t before);
    int cacheFd_ = -1;
    bool dropDevicePages_ = false;
    uint64_t droppedTo_ = 0;
    std::shared_ptr<BadSectors> bad_;
    static std::atomic<uint64_t> totalRead_;
};

// Sectors needed to hold `bytes` (a partial last sector counts).
inline uint64_t sectorsFor(uint64_t bytes)
{
    return bytes / 512 + (bytes % 512 != 0);
}

// Human text for an open failure: the system's reason, with the hint that reading a device
// needs administrator rights or the disk group when permission was refused, or that the path
// is not a disk at all (ENOTBLK).
QString openFailureReason(int err, const QString &path);
// The same for a device the system's storage service would not open, with its reason.
QString openRefusalReason(const QString &reason, const QString &path);

} // namespace lumafind
