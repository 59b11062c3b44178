#pragma once
// True extents: where a found file really ends, from its own structure. Each format family has
// a small finder; a finder answers nothing when the structure is invalid or unknown, and the
// file is then saved as carved. No finder ever cuts a file shorter than its structure says.
#include <QByteArrayView>
#include <QString>
#include <cstdint>
#include <optional>

namespace lumafind {

constexpr uint64_t kMaxSavedFile = uint64_t(4) << 30;  // 4 GiB per file

// The bytes of a found file from its first byte on.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Up to len bytes at offset; fewer at the end of what is available.
    virtual int64_t read(uint64_t offset, void *buf, int64_t len) = 0;
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
    // Offset of the first occurrence of needle at or after from, before limit.
    std::optional<uint64_t> find(uint64_t from, uint64_t limit, QByteArrayView needle);
};

class MemorySource : public ByteSource {
public:
    explicit MemorySource(QByteArrayView bytes) : bytes_(bytes) {}
    int64_t read(uint64_t offset, void *buf, int64_t len) override;
    uint64_t size() const override { return uint64_t(bytes_.size()); }

private:
    QByteArrayView bytes_;
};

class SectorReader;

// A found file on its medium: bytes already in memory (a photo's carved bytes) first, then the
// medium's sectors from the file's first sector on, up to the end of the medium or 4 GiB.
class MediumSource : public ByteSource {
public:
    MediumSource(SectorReader &reader, uint64_t startSector, uint64_t mediumSectors, QByteArrayView prefix = {});
    int64_t read(uint64_t offset, void *buf, int64_t len) override;
    uint64_t size() const override { return size_; }

private:
    SectorReader &reader_;
    uint64_t start_, size_;
    QByteArrayView prefix_;
    uint64_t cachedSector_ = UINT64_MAX;
    unsigned char cache_[512];
};

// What a finder knows besides the bytes: how much the scan carved.
struct ExtentContext {
    uint64_t carved = 0;
};

// The finders, one per family. Each returns the file's length in bytes.
std::optional<uint64_t> jpegEnd(ByteSource &s);
std::optional<uint64_t> pngEnd(ByteSource &s);
std::optional<uint64_t> gifEnd(ByteSource &s);
std::optional<uint64_t> bmpEnd(ByteSource &s);
std::optional<uint64_t> tiffEnd(ByteSource &s);
std::optional<uint64_t> isoMediaEnd(ByteSource &s, const ExtentContext &c);
std::optional<uint64_t> riffEnd(ByteSource &s);
std::optional<uint64_t> asfEnd(ByteSource &s);
std::optional<uint64_t> ebmlEnd(ByteSource &s);
std::optional<uint64_t> transportStreamEnd(ByteSource &s, int packetSize, int syncOffset);
std::optional<uint64_t> programStreamEnd(ByteSource &s);
std::optional<uint64_t> pdfEnd(ByteSource &s, const ExtentContext &c);
std::optional<uint64_t> zipEnd(ByteSource &s);
std::optional<uint64_t> oleEnd(ByteSource &s);

struct Extent {
    uint64_t bytes = 0;
    bool declared = false;  // true: the format said where it ends; false: the carved range
};

// The extent of a file of type ext (a database extension such as JPG or MP4): the declared
// one when the type has a finder that answers, else the carved range.
Extent findExtent(const QString &ext, ByteSource &s, uint64_t carvedBytes);
// Whether a type has a finder at all.
bool hasExtentFinder(const QString &ext);

} // namespace lumafind
