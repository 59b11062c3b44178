#pragma once
// Fragmented files put back together. A file the card's directory remembers (so its exact size
// is known) but that cannot lie in one piece (the next found file starts sooner, or its bytes
// stop making sense for its format) is followed cluster by cluster: the first piece runs from
// its first cluster as long as its format's structure holds, and the rest is looked for among
// the clusters no other known file holds, tried in order after the piece before, each join
// checked by the format's own walker:
//
//   JPEG      the entropy-coded data decodes (Huffman codes, coefficient counts, restart
//             markers in sequence) across every join, and the end marker lands exactly at the
//             remembered size;
//   MP4/MOV   the movie box found at the offset its media data box points to; the chunk
//             offsets and sample sizes then say where each video sample starts, and each must
//             start with a valid chain of NAL units (or a JPEG frame);
//   RIFF/AVI  the chunk chain continues, chunk by chunk, to the remembered size.
//
// A format without a walker stays carved. The search is bounded: at most kMaxPieces pieces, a
// gap of at most kMaxGap between a piece and the next, a bounded number of candidates per join
// and of bytes walked in all.
#include "media/fatgeometry.h"
#include "results/remembered.h"

#include <QString>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace lumafind {

class SectorReader;

constexpr int kMaxPieces = 8;
constexpr uint64_t kMaxGap = uint64_t(256) << 20;

// Stretches of the medium that other known files (and directories) hold.
// The stretches of found files do not overlap one another (each ends at the next found file);
// the others (directories, files the scan's types did not cover) may lie inside them.
class HeldMap {
public:
    void add(uint64_t start, uint64_t end, bool foundFile = true);
    // Whether [b, b + 1) is held by a stretch that does not start at `own`.
    bool held(uint64_t b, uint64_t own) const;
    // The first held byte at or after b (of a stretch not starting at `own`); UINT64_MAX if none.
    uint64_t nextHeld(uint64_t b, uint64_t own) const;
    // The first byte at or after b that is not held (as held() tells); UINT64_MAX if none.
    uint64_t nextFree(uint64_t b, uint64_t own) const;
    size_t size() const { return owners_.size(); }

private:
    using Stretches = std::map<uint64_t, uint64_t>;  // start -> end, disjoint
    static void merge(Stretches &into, uint64_t start, uint64_t end);
    static uint64_t firstIn(const Stretches &s, uint64_t from, uint64_t to);
    std::map<uint64_t, uint64_t> owners_;  // start -> end, as added
    Stretches merged_;                     // the union of all
    Stretches others_;                     // the union of those that are no found file
};

// Random access to the medium by byte, a cluster at a time, with a small cache (the search
// goes back to the same clusters).
class FragmentReader {
public:
    FragmentReader(SectorReader &medium, uint64_t mediumBytes);
    // Reads len bytes at medium byte `at`; fewer at the end of the medium or when it is lost.
    int64_t read(uint64_t at, unsigned char *out, int64_t len);
    // A few bytes that jump about (read alone, not cached).
    int64_t peek(uint64_t at, unsigned char *out, int64_t len);
    uint64_t size() const { return size_; }
    uint64_t bytesRead() const { return bytesRead_; }

private:
    SectorReader &medium_;
    uint64_t size_;
    uint64_t bytesRead_ = 0;
    static constexpr size_t kBlock = 32 * 1024;
    static constexpr size_t kBlocks = 256;
    struct Block {
        uint64_t at = UINT64_MAX;
        uint64_t used = 0;
        std::vector<unsigned char> bytes;
    };
    std::vector<Block> cache_;
    uint64_t tick_ = 0;
};

struct FragmentQuery {
    QString type;                 // the database type it was found as (JPG, MP4, AVI…)
    uint64_t startByte = 0;       // its first byte on the medium (its first cluster's)
    uint64_t size = 0;            // the remembered size
    uint64_t contiguousRoom = 0;  // bytes up to the next found file
    FatVolume volume;
};

// The walk of a format's structure over a file's bytes in order (fed a cluster at a time),
// which can be copied at any point to try another continuation from there.
class StructureWalker {
public:
    virtual ~StructureWalker() = default;
    virtual std::unique_ptr<StructureWalker> clone() const = 0;
    struct Step {
        enum Kind { Going, Fault, Done, Unsupported } kind = Going;
        uint64_t at = 0;  // Fault: the file offset where the structure broke; Done: where it ended
    };
    // The next n bytes of the file (at file offset `offset`, which follows the last call's).
    virtual Step feed(uint64_t offset, const unsigned char *bytes, size_t n) = 0;
    // Up to where the structure was confirmed by something a wrong continuation would hardly
    // have given (a restart marker, a sample start, a chunk header).
    virtual uint64_t confirmed() const = 0;
};

// A walker for the type, given the file's first bytes (the JPEG and RIFF walkers need
// nothing else; MP4 and MOV are walked by walkerForIsoMedia); null when the type has none.
std::unique_ptr<StructureWalker> walkerFor(const QString &type, uint64_t size);
bool hasFragmentWalker(const QString &type);
// Whether the type's walker refuses another file's bytes wherever they land (JPEG decoding):
// then a found file that no entry names need not keep the search out of its clusters (it may
// be a picture the file carries, starting on a sector of one of its later pieces).
bool walkerRefusesForeignBytes(const QString &type);

// The file's pieces: one piece when it lies whole in one run, several when it was put back
// together; nothing when the search found no way that its format accepts (it stays carved).
std::optional<std::vector<Piece>> findPieces(const FragmentQuery &q, const HeldMap &held, FragmentReader &medium,
                                             const std::function<bool()> &cancel = {});

// The JPEG walker on bytes in memory, for its tests: Done at the end of a valid file whose
// length is `size`, else where it broke.
StructureWalker::Step walkJpeg(const unsigned char *bytes, size_t n, uint64_t size);

} // namespace lumafind
