#pragma once
// True extents: where a found file really ends, from its own structure. Each format family has
// a small finder; a finder answers nothing when the structure is invalid or unknown, and the
// file is then saved as carved. No finder ever cuts a file shorter than its structure says.
//
// Every finder's work is linear in the bytes it reads, and what it reads is bounded: counts
// in the data are checked against the bytes that hold them, sums of sizes are checked for
// wrap-around, walks always move forward, searches resume where they stopped, and a search
// never passes the start of the next found file (only a length the format declares may carry
// a file over it). Each source also carries a read budget as a last guard.
#include "results/remembered.h"

#include <QByteArrayView>
#include <QByteArray>
#include <QString>
#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

namespace lumafind {

constexpr uint64_t kMaxSavedFile = uint64_t(4) << 30;  // 4 GiB per file
constexpr uint64_t kNoBarrier = UINT64_MAX;

// The bytes of a found file from its first byte on.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Up to len bytes at offset; fewer at the end of what the file may claim, none once the
    // read budget is spent.
    int64_t read(uint64_t offset, void *buf, int64_t len);
    // How far the file could reach: the end of the medium, at most kMaxSavedFile.
    virtual uint64_t size() const = 0;

    bool get(uint64_t offset, void *buf, int64_t len) { return read(offset, buf, len) == len; }
    std::optional<uint8_t> u8(uint64_t o);
    std::optional<uint16_t> le16(uint64_t o);
    std::optional<uint32_t> le32(uint64_t o);
    std::optional<uint64_t> le64(uint64_t o);
    std::optional<uint16_t> be16(uint64_t o);
    std::optional<uint32_t> be32(uint64_t o);
    std::optional<uint64_t> be64(uint64_t o);

    // What finders have read through this source: the work bound tests count it.
    uint64_t bytesRead() const { return bytesRead_; }
    uint64_t readCalls() const { return readCalls_; }
    void setReadBudget(uint64_t bytes) { budget_ = bytes; }
    bool budgetSpent() const { return spent_; }

protected:
    virtual int64_t readAt(uint64_t offset, void *buf, int64_t len) = 0;

private:
    uint64_t bytesRead_ = 0, readCalls_ = 0, budget_ = UINT64_MAX;
    bool spent_ = false;
};

class MemorySource : public ByteSource {
public:
    explicit MemorySource(QByteArrayView bytes) : bytes_(bytes) {}
    uint64_t size() const override { return uint64_t(bytes_.size()); }

protected:
    int64_t readAt(uint64_t offset, void *buf, int64_t len) override;

private:
    QByteArrayView bytes_;
};

// Forward search for a needle, one pass over the bytes: a later call continues where the last
// one stopped, so finding every occurrence reads each byte once.
class Searcher {
public:
    Searcher(ByteSource &s, QByteArrayView needle) : s_(s), needle_(needle) {}
    // The first occurrence at or after from that ends at or before limit.
    std::optional<uint64_t> next(uint64_t from, uint64_t limit);

private:
    ByteSource &s_;
    QByteArrayView needle_;
    QByteArray window_;
    uint64_t windowAt_ = 0;
};

// What a finder knows besides the bytes.
struct ExtentContext {
    uint64_t carved = 0;              // the bytes the scan gave the file
    uint64_t barrier = kNoBarrier;    // where the next found file starts, relative to this one
    // How far a search from `from` may look: up to the next found file (and a record that
    // starts right there), never beyond what the file may claim. Once a length the format
    // declares has carried the file over that start, the search goes on from there.
    uint64_t searchLimit(const ByteSource &s, uint64_t from, uint64_t needle = 0) const
    {
        const uint64_t b = barrier == kNoBarrier || from > barrier ? UINT64_MAX : barrier + needle;
        return std::min(b, s.size());
    }
    // Where a finder may note the offsets at which its structure places embedded objects (a
    // preview JPEG, a strip, an archive member): a file found starting there belongs to it.
    std::vector<uint64_t> *anchors = nullptr;
    void anchor(uint64_t offset) const
    {
        if (anchors && anchors->size() < 65536)
            anchors->push_back(offset);
    }
};

// The finders, one per family. Each returns the file's length in bytes.
using EndFinder = std::optional<uint64_t> (*)(ByteSource &, const ExtentContext &);
std::optional<uint64_t> jpegEnd(ByteSource &s, const ExtentContext &c);
std::optional<uint64_t> pngEnd(ByteSource &s, const ExtentContext &c);
std::optional<uint64_t> gifEnd(ByteSource &s, const ExtentContext &c);
std::optional<uint64_t> bmpEnd(ByteSource &s, const ExtentContext &c);
std::optional<uint64_t> tiffEnd(ByteSource &s, const ExtentContext &c);
std::optional<uint64_t> isoMediaEnd(ByteSource &s, const ExtentContext &c);
std::optional<uint64_t> riffEnd(ByteSource &s, const ExtentContext &c);
std::optional<uint64_t> asfEnd(ByteSource &s, const ExtentContext &c);
std::optional<uint64_t> ebmlEnd(ByteSource &s, const ExtentContext &c);
std::optional<uint64_t> m2tsEnd(ByteSource &s, const ExtentContext &c);
std::optional<uint64_t> tsEnd(ByteSource &s, const ExtentContext &c);
std::optional<uint64_t> programStreamEnd(ByteSource &s, const ExtentContext &c);
std::optional<uint64_t> pdfEnd(ByteSource &s, const ExtentContext &c);
std::optional<uint64_t> zipEnd(ByteSource &s, const ExtentContext &c);
std::optional<uint64_t> oleEnd(ByteSource &s, const ExtentContext &c);
std::optional<uint64_t> crwEnd(ByteSource &s, const ExtentContext &c);
std::optional<uint64_t> mrwEnd(ByteSource &s, const ExtentContext &c);
std::optional<uint64_t> rafEnd(ByteSource &s, const ExtentContext &c);
std::optional<uint64_t> x3fEnd(ByteSource &s, const ExtentContext &c);
std::optional<uint64_t> psdEnd(ByteSource &s, const ExtentContext &c);
std::optional<uint64_t> jp2End(ByteSource &s, const ExtentContext &c);

struct Extent {
    uint64_t bytes = 0;
    bool declared = false;     // true: the format (or the card's directory) said where it ends; false: the carved range
    // The length is the one the card's directory remembers (the structure agreed, or could
    // not answer): see results/remnants.h.
    bool fromDirectory = false;
    // A file put back together from pieces (results/fragments.h); empty when it is one run.
    std::vector<Piece> pieces;
    bool outOfBounds = false;  // the format's end could not be read within its bounds
    // What the finder saw of the file itself, as opposed to what its structure merely claims:
    // every byte before `verified` was walked (a file found starting there belongs to this one),
    // and embedded objects start at the `anchors`. A file found elsewhere inside the extent may
    // have overwritten this one's data, and is saved on its own.
    uint64_t verified = 0;
    std::vector<uint64_t> anchors;
};

// The extent of a file of type ext (a database extension such as JPG or MP4): the declared
// one when the type has a finder that answers, else the carved range. The source's read
// budget is set here.
Extent findExtent(const QString &ext, ByteSource &s, const ExtentContext &c);
inline Extent findExtent(const QString &ext, ByteSource &s, uint64_t carvedBytes)
{
    return findExtent(ext, s, ExtentContext{carvedBytes, kNoBarrier});
}
// Whether a type has a finder at all, and the name of its family ("" when none).
bool hasExtentFinder(const QString &ext);
QString extentFamily(const QString &ext);
// How a type's end is found, for the formats document: "<family> structure", or "carved: " and
// why its format's end is not known; "" for a type the table does not know.
QString endFoundBy(const QString &ext);

} // namespace lumafind
