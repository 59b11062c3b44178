#pragma once
// The one way from a found file to its bytes: its extent (declared by its format, or the range
// the scan carved), the bytes themselves, and whether another saved file already holds them.
// Saving during a scan and after it, the preview copy, the photo thumbnail, the browser's
// tooltip and the report all go through here, so one file has one length everywhere.
#include "engine/observer.h"
#include "engine/sectorreader.h"
#include "results/extents/extent.h"

#include <QByteArrayView>
#include <QList>
#include <QString>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace lumafind {

// The medium found files are read from.
struct MediumRef {
    QString path;
    uint64_t bytes = UINT64_MAX;            // its exact size, when known
    DeviceOpener opener = openDeviceFile;
    std::shared_ptr<BadSectors> bad;        // where unreadable sectors are counted (optional)
};

// What the export needs to know of a found file.
struct ExportItem {
    QString name, extension, pass;
    uint64_t startSector = 0;
    uint64_t carvedBytes = 0;         // the bytes the scan gave it
    bool endsAtNextFile = false;      // its carve ended where another file of its pass starts
    uint64_t cutAt = kNoBarrier;      // bytes from its start to the next found file of any pass
    // What the card's directory remembers of it, and the pieces it was put back together from
    // (results/remnants.h: joinRemembered).
    std::optional<RememberedFile> remembered;
    std::vector<Piece> pieces;
    static ExportItem of(const FoundFile &f);
    uint64_t startByte() const { return startSector * uint64_t(kSectorSize); }
};

// Gives each item the start of the next item (of any pass) as its cut: a file whose format
// does not declare its end never reaches into another found file.
void assignCuts(QList<ExportItem> &items);

// The found file's bytes: what is already at hand (the scan's bytes in memory, or the file
// they were streamed to), then the medium's sectors from the file's first sector on, up to
// the medium's end or 4 GiB. Bytes read from the medium right after what the file holds are
// written on to it, so a finder's read-ahead is also the copy: no byte is read twice.
class FoundFileSource : public ByteSource {
public:
    FoundFileSource(SectorReader *medium, uint64_t startSector, uint64_t mediumBytes);
    void setMemoryPrefix(QByteArrayView bytes) { prefix_ = bytes; }
    // The file lies in these pieces (the first starting at its first sector): what is at hand
    // (prefix, file) counts only within the first, the rest is read where the pieces lie.
    void setPieces(const std::vector<Piece> &pieces);
    // fd holds the file's first `bytes` bytes; reads past them are appended to it.
    void setFile(int fd, uint64_t bytes);
    // Reads end at once when cancel() says so (a finder then gives no answer).
    void setCancel(std::function<bool()> cancel) { cancel_ = std::move(cancel); }
    uint64_t size() const override { return size_; }
    uint64_t fileBytes() const { return fileBytes_; }
    // A failed read of the file, or a failed write of what was read on: writing on then stops
    // until resumeWriting() (a finder may read further than the file will reach, and a full
    // disk there is no reason to fail).
    int fileError() const { return fileError_; }
    void resumeWriting() { fileError_ = 0; }
    bool mediumLost() const { return lost_; }
    bool cancelled() const { return cancel_ && cancel_(); }

protected:
    int64_t readAt(uint64_t offset, void *buf, int64_t len) override;

private:
    int64_t fromMedium(uint64_t offset, unsigned char *out, int64_t len);

    // The medium byte of a file offset, and how many bytes from there lie in the same piece.
    uint64_t mediumByte(uint64_t offset, uint64_t *run) const;

    SectorReader *medium_;
    uint64_t start_, size_;
    std::vector<Piece> pieces_;
    uint64_t firstPiece_ = UINT64_MAX;  // bytes of the first piece (what is at hand may count)
    QByteArrayView prefix_;
    int fd_ = -1;
    std::function<bool()> cancel_;
    uint64_t fileBytes_ = 0;
    int fileError_ = 0;
    bool lost_ = false;
    uint64_t cachedSector_ = UINT64_MAX;
    unsigned char cache_[kSectorSize];
};

// The extent a found file is given everywhere. With an entry of the card's directory, its size
// decides when the bytes agree: a format whose finder answers must answer the same (its own
// answer wins otherwise), a format whose finder cannot answer takes it when the file fits
// before the next found file; a file put back together from pieces is as long as its entry.
Extent measure(const ExportItem &item, ByteSource &src);
// "directory", "declared" or "carved": where an extent's length came from.
QString lengthFrom(const Extent &e);

// Reads the source up to `bytes` so that its file holds them (the read writes them on), or
// fails with the reason (also when the source's cancel says so).
bool fillFile(FoundFileSource &src, uint64_t bytes, QString *error);

// One file, one copy: the files saved so far. A file that starts where a saved file starts, or
// inside a saved file whose format declared its length and where that format's structure was
// seen to go on (or placed an embedded object there), is part of it and not saved again. A file
// inside what a declared length merely claims is saved too (it may have overwritten the older
// file's data); a file inside the carved range of a saved file is saved, and cuts that file short.
class ExportLedger {
public:
    struct Entry {
        uint64_t start = 0, end = 0;  // bytes on the medium
        bool declared = false;
        QString name;                 // as saved
        int record = -1;              // the caller's record of it
        int dir = -1;                 // the folder it was saved in (borrowed handle)
        uint64_t inode = 0;
        uint64_t verified = 0;        // end of what its finder walked (bytes on the medium)
        std::vector<uint64_t> anchors;  // embedded objects' starts (bytes on the medium)
    };
    // The saved file that already holds a file starting at `start`; null when none does.
    const Entry *containing(uint64_t start) const;
    // Where the next saved file after `start` begins (kNoBarrier when none).
    uint64_t nextStartAfter(uint64_t start) const;
    // The carved-only file that a new file starting at `start` falls inside, if any: it is cut
    // at `start` (its end moves; the caller shortens the file) and returned.
    std::optional<Entry> cutAt(uint64_t start);
    void add(const Entry &e);
    // Takes the saved file starting at `start` out of the ledger (it is being saved again).
    std::optional<Entry> take(uint64_t start);
    void clear();

private:
    std::map<uint64_t, Entry> entries_;   // every saved file, by start
    // What declared files were seen to cover, as disjoint pieces: start -> (end, owner's start).
    std::map<uint64_t, std::pair<uint64_t, uint64_t>> covered_;
    std::map<uint64_t, uint64_t> carvedOnly_;  // carved-only files (disjoint): start -> end
    std::map<uint64_t, uint64_t> anchors_;     // an embedded object's start -> its owner's start
};

} // namespace lumafind
