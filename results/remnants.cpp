#include "remnants.h"

#include "engine/sectorreader.h"
#include "results/export.h"
#include "results/fragments.h"

#include <QDateTime>
#include <QtEndian>
#include <algorithm>
#include <cstring>

namespace lumafind {

namespace {
constexpr size_t kEntry = 32;
constexpr size_t kSlots = 512 / kEntry;

uint16_t le16(const unsigned char *p) { return qFromLittleEndian<quint16>(p); }
uint32_t le32(const unsigned char *p) { return qFromLittleEndian<quint32>(p); }
uint64_t le64(const unsigned char *p) { return qFromLittleEndian<quint64>(p); }

bool allZero(const unsigned char *p, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        if (p[i])
            return false;
    return true;
}

// FAT date and time fields: a date of 0 means "not set"; any other must be a real day.
bool validFatDate(uint16_t d)
{
    const int day = d & 31, month = (d >> 5) & 15;
    return day >= 1 && day <= 31 && month >= 1 && month <= 12 && QDate(1980 + (d >> 9), month, 1).daysInMonth() >= day;
}
bool validFatTime(uint16_t t)
{
    return (t & 31) <= 29 && ((t >> 5) & 63) <= 59 && (t >> 11) <= 23;
}
qint64 fatWallClock(uint16_t d, uint16_t t, int hundredths)
{
    const QDateTime dt(QDate(1980 + (d >> 9), (d >> 5) & 15, d & 31), QTime(t >> 11, (t >> 5) & 63, (t & 31) * 2), Qt::UTC);
    return dt.toSecsSinceEpoch() + hundredths / 100;
}

// A character of an 8.3 name as stored.
bool shortNameChar(unsigned char c)
{
    if (c >= 0x80)
        return true;  // the OEM code page
    if (c < 0x20 || c == 0x7F || (c >= 'a' && c <= 'z'))
        return false;
    return std::strchr("\"*+,./:;<=>?[\\]|", c) == nullptr;
}

// The 11 name bytes are a valid 8.3 name (the first already vouched for): each part is
// characters followed by blanks only.
bool shortNameValid(const unsigned char *n, bool firstGiven)
{
    bool blank = false;
    for (int i = firstGiven ? 1 : 0; i < 8; ++i) {
        if (n[i] == ' ')
            blank = true;
        else if (blank || !shortNameChar(n[i]))
            return false;
    }
    blank = false;
    for (int i = 8; i < 11; ++i) {
        if (n[i] == ' ')
            blank = true;
        else if (blank || !shortNameChar(n[i]))
            return false;
    }
    return true;
}

QString shortNameText(const unsigned char *n, unsigned caseFlags, bool lostFirst)
{
    auto part = [](const unsigned char *p, int len, bool lower) {
        QString s;
        for (int i = 0; i < len && p[i] != ' '; ++i) {
            QChar c = QChar(p[i] == 0x05 && i == 0 ? 0xE5 : p[i]);
            s += lower ? c.toLower() : c;
        }
        return s;
    };
    QString base = part(n, 8, caseFlags & 0x08);
    if (lostFirst && !base.isEmpty())
        base[0] = QLatin1Char('_');
    const QString ext = part(n + 8, 3, caseFlags & 0x10);
    return ext.isEmpty() ? base : base + QLatin1Char('.') + ext;
}

enum class Slot { Unused, Short, Long, Bad };

// One 32-byte slot of a FAT directory, checked strictly.
Slot fatSlot(const FatVolume &v, const unsigned char *e)
{
    if (e[0] == 0x00)
        return allZero(e, kEntry) ? Slot::Unused : Slot::Bad;
    const unsigned attr = e[11];
    if ((attr & 0x3F) == 0x0F) {
        // A long-name entry: its order byte (or the deletion mark), type 0, no cluster, and
        // UCS-2 characters up to a terminator, 0xFFFF after it.
        if (attr != 0x0F || e[12] != 0 || le16(e + 26) != 0)
            return Slot::Bad;
        if (e[0] != 0xE5 && ((e[0] & 0xA0) != 0 || (e[0] & 0x1F) == 0 || (e[0] & 0x1F) > 20))
            return Slot::Bad;
        static const int at[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
        bool ended = false;
        for (int i : at) {
            const uint16_t c = le16(e + i);
            if (ended) {
                if (c != 0xFFFF)
                    return Slot::Bad;
            } else if (c == 0) {
                ended = true;
            } else if (c < 0x20 || (c < 0x80 && std::strchr("\"*/:<>?\\|", char(c))) || c == 0xFFFF) {
                return Slot::Bad;
            }
        }
        return Slot::Long;
    }
    if (attr & 0xC0 || (e[12] & ~0x18u) != 0 || e[13] > 199)
        return Slot::Bad;
    const bool deleted = e[0] == 0xE5;
    const bool dot = e[0] == '.';
    if (dot) {
        // "." and "..": directories only.
        static const unsigned char one[11] = {'.', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
        static const unsigned char two[11] = {'.', '.', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
        if ((std::memcmp(e, one, 11) != 0 && std::memcmp(e, two, 11) != 0) || (attr & 0x18) != 0x10)
            return Slot::Bad;
    } else if (!deleted && (e[0] == ' ' || (e[0] != 0x05 && !shortNameChar(e[0])))) {
        return Slot::Bad;
    }
    if (!dot && !(attr & 0x08) && !shortNameValid(e, true))
        return Slot::Bad;
    const uint16_t ctime = le16(e + 14), cdate = le16(e + 16), adate = le16(e + 18);
    const uint16_t mtime = le16(e + 22), mdate = le16(e + 24);
    if ((cdate && !validFatDate(cdate)) || (adate && !validFatDate(adate)) || !validFatTime(ctime) || !validFatTime(mtime))
        return Slot::Bad;
    if (mdate ? !validFatDate(mdate) : !(dot || (attr & 0x08)))
        return Slot::Bad;
    const uint32_t hi = le16(e + 20);
    const uint64_t cluster = (uint64_t(hi) << 16) | le16(e + 26);
    const uint64_t size = le32(e + 28);
    if (v.kind != FatVolume::Fat32 && hi != 0)
        return Slot::Bad;
    if (attr & 0x08) {
        // A volume label: no cluster, no size, nothing else set.
        return (attr & 0x10) == 0 && cluster == 0 && size == 0 ? Slot::Short : Slot::Bad;
    }
    if (attr & 0x10) {
        // A directory: no size; its cluster in the volume (0: "..", meaning the root).
        if (size != 0 || (cluster != 0 && !v.hasCluster(cluster)) || (cluster == 0 && !(dot && e[1] == '.')))
            return Slot::Bad;
        return Slot::Short;
    }
    // A file: an empty one has no cluster; data lies in the volume and fits in it.
    if (size == 0)
        return cluster == 0 ? Slot::Short : Slot::Bad;
    if (!v.hasCluster(cluster))
        return Slot::Bad;
    const uint64_t clusters = (size + v.clusterBytes - 1) / v.clusterBytes;
    if (clusters > v.clusterCount)
        return Slot::Bad;
    return Slot::Short;
}

// The characters of a long-name entry, up to its terminator; *ended when it has one.
QString lfnPart(const unsigned char *e, bool *ended)
{
    static const int at[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    QString s;
    *ended = false;
    for (int i : at) {
        const uint16_t c = le16(e + i);
        if (c == 0) {
            *ended = true;
            break;
        }
        s += QChar(c);
    }
    return s;
}

bool validExfatTimestamp(uint32_t ts, bool mayBeZero)
{
    if (ts == 0)
        return mayBeZero;
    return validFatDate(uint16_t(ts >> 16)) && validFatTime(uint16_t(ts & 0xFFFF));
}
bool validUtcOffset(unsigned char b)
{
    if (!(b & 0x80))
        return b == 0;
    const int q = (b & 0x40) ? int(b & 0x7F) - 128 : int(b & 0x7F);  // 15-minute steps
    return q >= -48 && q <= 56;
}
} // namespace

uint8_t lfnChecksum(const unsigned char *shortName)
{
    uint8_t sum = 0;
    for (int i = 0; i < 11; ++i)
        sum = uint8_t(((sum & 1) << 7) + (sum >> 1) + shortName[i]);
    return sum;
}

uint16_t exfatSetChecksum(const unsigned char *set, size_t entries)
{
    uint16_t sum = 0;
    for (size_t i = 0; i < entries * kEntry; ++i) {
        if (i == 2 || i == 3)
            continue;
        sum = uint16_t(((sum & 1) ? 0x8000 : 0) + (sum >> 1) + set[i]);
    }
    return sum;
}

std::vector<RememberedFile> fatDirectoryEntries(const FatVolume &v, const unsigned char *sector, size_t before,
                                                uint64_t sectorNumber, std::vector<uint32_t> *dirs)
{
    std::vector<RememberedFile> out;
    if (v.kind == FatVolume::ExFat)
        return out;
    // Every slot an entry or unused, and after the first unused slot nothing but unused ones.
    Slot kinds[kSlots];
    bool ended = false, anyShort = false;
    for (size_t i = 0; i < kSlots; ++i) {
        kinds[i] = fatSlot(v, sector + i * kEntry);
        if (kinds[i] == Slot::Bad || (ended && kinds[i] != Slot::Unused))
            return out;
        ended = ended || kinds[i] == Slot::Unused;
        anyShort = anyShort || kinds[i] == Slot::Short;
    }
    if (!anyShort)
        return out;
    // The long-name entries just before a short entry may lie in the sector before.
    const size_t behindSlots = std::min<size_t>(before / kEntry, 20);
    auto slotAt = [&](ptrdiff_t i) { return sector + i * ptrdiff_t(kEntry); };
    for (size_t i = 0; i < kSlots; ++i) {
        if (kinds[i] != Slot::Short)
            continue;
        const unsigned char *e = sector + i * kEntry;
        const unsigned attr = e[11];
        if (attr & 0x08 || e[0] == '.')
            continue;
        const uint64_t cluster = (uint64_t(le16(e + 20)) << 16) | le16(e + 26);
        if (attr & 0x10) {
            if (dirs && v.hasCluster(cluster))
                dirs->push_back(uint32_t(cluster));
            continue;
        }
        const uint64_t size = le32(e + 28);
        if (size == 0)
            continue;
        const bool deleted = e[0] == 0xE5;
        // Its long name: the entries just before it with its checksum, nearest first. A deleted
        // short name's lost first letter is the one that makes the checksum agree (exactly one
        // does: the checksum is a bijection of it).
        unsigned char name11[11];
        std::memcpy(name11, e, 11);
        QString longName;
        bool firstKnown = !deleted;
        const ptrdiff_t lowest = -ptrdiff_t(behindSlots);
        ptrdiff_t j = ptrdiff_t(i) - 1;
        if (j >= lowest) {
            const unsigned char *l = slotAt(j);
            const bool isLong = j >= 0 ? kinds[j] == Slot::Long : fatSlot(v, l) == Slot::Long;
            if (isLong && (l[0] == 0xE5) == deleted) {
                const uint8_t sum = l[13];
                if (deleted) {
                    for (int c = 0; c < 256 && !firstKnown; ++c) {
                        name11[0] = uint8_t(c);
                        if (lfnChecksum(name11) == sum && c != 0xE5 && c != ' ' && (c == 0x05 || shortNameChar(uint8_t(c))))
                            firstKnown = true;
                    }
                    if (!firstKnown)
                        name11[0] = 0xE5;
                }
                if (firstKnown && lfnChecksum(name11) == sum) {
                    QString assembled;
                    bool complete = false;
                    for (int order = 1; order <= 20 && j >= lowest; ++order, --j) {
                        const unsigned char *p = slotAt(j);
                        const bool longSlot = j >= 0 ? kinds[j] == Slot::Long : fatSlot(v, p) == Slot::Long;
                        if (!longSlot || p[13] != sum) {
                            // A deleted name of whole entries has no terminator to end it.
                            complete = deleted && !assembled.isEmpty() && assembled.size() % 13 == 0;
                            break;
                        }
                        if (!deleted && (p[0] & 0x1F) != order)
                            break;
                        bool partEnded = false;
                        assembled += lfnPart(p, &partEnded);
                        const bool last = deleted ? partEnded : (p[0] & 0x40) != 0;
                        if (last || partEnded) {
                            complete = last && (partEnded || deleted || assembled.size() == order * 13);
                            break;
                        }
                    }
                    if (complete && !assembled.isEmpty())
                        longName = assembled;
                }
            }
        }
        RememberedFile f;
        f.deleted = deleted;
        f.lostFirstLetter = deleted && longName.isEmpty();
        if (deleted && longName.isEmpty())
            name11[0] = 'X';  // replaced by '_' below
        f.name = longName.isEmpty() ? shortNameText(name11, e[12], f.lostFirstLetter) : longName;
        f.firstCluster = uint32_t(cluster);
        f.firstByte = v.clusterByte(cluster);
        f.size = size;
        f.modifiedWall = fatWallClock(le16(e + 24), le16(e + 22), 0);
        f.entrySector = sectorNumber;
        f.entrySlot = int(i);
        out.push_back(std::move(f));
    }
    return out;
}

std::vector<RememberedFile> exfatDirectoryEntries(const FatVolume &v, const unsigned char *sector, size_t after,
                                                  uint64_t sectorNumber, std::vector<uint32_t> *dirs)
{
    std::vector<RememberedFile> out;
    if (v.kind != FatVolume::ExFat)
        return out;
    for (size_t i = 0; i < kSlots; ++i) {
        const unsigned char *e = sector + i * kEntry;
        if ((e[0] & 0x7F) != 0x05)
            continue;
        const bool inUse = e[0] & 0x80;
        const size_t secondaries = e[1];
        if (secondaries < 2 || secondaries > 18 || (i + 1 + secondaries) * kEntry > after)
            continue;
        const unsigned char *stream = e + kEntry;
        if (stream[0] != (inUse ? 0xC0 : 0x40))
            continue;
        // The set as written (a deletion clears the in-use bits the checksum was made with).
        unsigned char set[19 * kEntry];
        std::memcpy(set, e, (secondaries + 1) * kEntry);
        for (size_t k = 0; k <= secondaries; ++k)
            set[k * kEntry] |= 0x80;
        if (exfatSetChecksum(set, secondaries + 1) != le16(e + 2))
            continue;
        // The file entry's reserved bytes, attributes and times.
        const uint16_t attr = le16(e + 4);
        if ((attr & ~0x37u) != 0 || le16(e + 6) != 0 || !allZero(e + 25, 7) || e[20] > 199 || e[21] > 199
            || !validExfatTimestamp(le32(e + 8), false) || !validExfatTimestamp(le32(e + 12), false)
            || !validExfatTimestamp(le32(e + 16), true) || !validUtcOffset(e[22]) || !validUtcOffset(e[23]) || !validUtcOffset(e[24]))
            continue;
        // The stream extension: flags, name length, sizes and the first cluster in the volume.
        const unsigned flags = stream[1];
        const size_t nameLength = stream[3];
        const uint64_t valid = le64(stream + 8), length = le64(stream + 24);
        const uint64_t cluster = le32(stream + 20);
        const size_t nameEntries = (nameLength + 14) / 15;
        if ((flags & ~0x03u) != 0 || stream[2] != 0 || nameLength == 0 || le16(stream + 6) != 0 || !allZero(stream + 16, 4)
            || valid > length || nameEntries + 1 > secondaries || length > v.clusterCount * v.clusterBytes)
            continue;
        if (length > 0 && (!(flags & 1) || !v.hasCluster(cluster)))
            continue;
        if ((flags & 2) && length > 0 && (length + v.clusterBytes - 1) / v.clusterBytes > v.clusterCount - (cluster - 2))
            continue;
        // The name: nameLength characters, nothing after them; further secondaries only of the
        // kinds that may follow.
        QString name;
        bool ok = true;
        for (size_t k = 0; k < nameEntries && ok; ++k) {
            const unsigned char *n = e + (2 + k) * kEntry;
            ok = n[0] == (inUse ? 0xC1 : 0x41) && n[1] == 0;
            for (size_t c = 0; c < 15 && ok; ++c) {
                const uint16_t ch = le16(n + 2 + 2 * c);
                if (k * 15 + c < nameLength)
                    ok = ch >= 0x20 && !(ch < 0x80 && std::strchr("\"*/:<>?\\|", char(ch)));
                else
                    ok = ch == 0;
                if (ok && k * 15 + c < nameLength)
                    name += QChar(ch);
            }
        }
        for (size_t k = nameEntries + 2; k <= secondaries && ok; ++k)
            ok = (e[k * kEntry] & 0x7F) == 0x60 || (e[k * kEntry] & 0x7F) == 0x61;
        if (!ok)
            continue;
        // The name hash, where the up-case table is plain ASCII's.
        bool ascii = true;
        uint16_t hash = 0;
        for (QChar c : name) {
            ascii = ascii && c.unicode() < 0x80;
            const uint16_t u = c.unicode() >= 'a' && c.unicode() <= 'z' ? uint16_t(c.unicode() - 32) : c.unicode();
            for (uint8_t byte : {uint8_t(u & 0xFF), uint8_t(u >> 8)})
                hash = uint16_t(((hash & 1) ? 0x8000 : 0) + (hash >> 1) + byte);
        }
        if (ascii && hash != le16(stream + 4))
            continue;
        if (attr & 0x10) {
            if (dirs && length > 0)
                dirs->push_back(uint32_t(cluster));
            continue;
        }
        if (length == 0)
            continue;
        RememberedFile f;
        f.name = name;
        f.deleted = !inUse;
        f.exfat = true;
        f.contiguous = flags & 2;
        f.firstCluster = uint32_t(cluster);
        f.firstByte = v.clusterByte(cluster);
        f.size = length;
        const uint32_t m = le32(e + 12);
        f.modifiedWall = fatWallClock(uint16_t(m >> 16), uint16_t(m & 0xFFFF), e[21]);
        if (e[23] & 0x80) {
            f.offsetKnown = true;
            f.offsetMinutes = 15 * ((e[23] & 0x40) ? int(e[23] & 0x7F) - 128 : int(e[23] & 0x7F));
        }
        f.entrySector = sectorNumber;
        f.entrySlot = int(i);
        out.push_back(std::move(f));
    }
    return out;
}

// ---- RememberedFile ----

qint64 RememberedFile::modifiedUtc() const
{
    if (offsetKnown)
        return modifiedWall - qint64(offsetMinutes) * 60;
    const QDateTime wall = QDateTime::fromSecsSinceEpoch(modifiedWall, Qt::UTC);
    return QDateTime(wall.date(), wall.time(), Qt::LocalTime).toSecsSinceEpoch();
}

QString RememberedFile::modifiedIso() const
{
    if (modifiedWall == 0)
        return QString();
    const qint64 utc = modifiedUtc();
    const int offset = offsetKnown ? offsetMinutes * 60 : QDateTime::fromSecsSinceEpoch(utc, Qt::LocalTime).offsetFromUtc();
    const int a = offset < 0 ? -offset : offset;
    return QDateTime::fromSecsSinceEpoch(utc + offset, Qt::UTC).toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"))
        + QLatin1Char(offset < 0 ? '-' : '+')
        + QStringLiteral("%1:%2").arg(a / 3600, 2, 10, QLatin1Char('0')).arg(a / 60 % 60, 2, 10, QLatin1Char('0'));
}

QString RememberedFile::extension() const
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : name.mid(dot + 1).toUpper();
}

// ---- Remnants ----

Remnants::Remnants(size_t maxEntries) : maxEntries_(maxEntries) {}

void Remnants::beginScan(uint64_t firstSector, uint64_t endSector, uint64_t mediumBytes)
{
    finder_ = std::make_unique<VolumeFinder>(firstSector, endSector, mediumBytes);
    crossings_.clear();
    wanted_ = 0;
    fatKnown_ = exfatKnown_ = false;
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.clear();
    byFirstByte_.clear();
    dirClusterBytes_.clear();
    volumes_.clear();
    found_.clear();
    pieces_.clear();
    dropped_ = 0;
    complete_ = false;
    resolved_ = false;
}

void Remnants::sector(uint64_t s, const unsigned char *bytes, size_t before, size_t after)
{
    if (!finder_)
        return;
    // Most sectors of a card teach the finder nothing: it says which ones may.
    if (s >= wanted_) {
        const size_t known = finder_->volumes().size();
        finder_->sector(s, bytes);
        wanted_ = finder_->nextWanted();
        if (finder_->volumes().size() != known) {
            std::lock_guard<std::mutex> lock(mutex_);
            volumes_ = finder_->volumes();
            for (const FatVolume &v : volumes_)
                (v.kind == FatVolume::ExFat ? exfatKnown_ : fatKnown_) = true;
        }
    }
    if (finder_->volumes().empty())
        return;
    const FatVolume *v = finder_->volumeAt(s * 512);
    if (!v || after < 512)
        return;
    // A cheap look first: a directory sector's first slot is an entry of its kind.
    std::vector<uint32_t> dirs;
    std::vector<RememberedFile> found;
    if (v->kind == FatVolume::ExFat) {
        if (!exfatDirectoryLike(bytes))
            return;
        found = exfatDirectoryEntries(*v, bytes, after, s, &dirs);
        // A set too long for what is left of its cluster: joined after the pass.
        const uint64_t inCluster = (s * 512 - v->heapByte) % v->clusterBytes;
        for (size_t i = 0; i < kSlots && s * 512 >= v->heapByte; ++i) {
            const unsigned char *e = bytes + i * kEntry;
            if ((e[0] & 0x7F) == 0x05 && e[1] >= 2 && e[1] <= 18 && inCluster + (i + 1 + e[1]) * kEntry > v->clusterBytes
                && crossings_.size() < maxEntries_)
                crossings_.push_back({s, i});
        }
    } else {
        if (!fatDirectoryLike(bytes))
            return;
        found = fatDirectoryEntries(*v, bytes, before, s, &dirs);
        if (v->kind != FatVolume::Fat12 && s * 512 >= v->heapByte && (s * 512 - v->heapByte) % v->clusterBytes == 0
            && !(found.empty() && dirs.empty()) && clusterStarts_.size() < maxEntries_)
            clusterStarts_.push_back(s);
    }
    keep(std::move(found), dirs, *v);
}

void Remnants::keep(std::vector<RememberedFile> &&found, const std::vector<uint32_t> &dirs, const FatVolume &v)
{
    if (found.empty() && dirs.empty())
        return;
    std::lock_guard<std::mutex> lock(mutex_);
    for (uint32_t c : dirs)
        if (dirClusterBytes_.size() < maxEntries_)
            dirClusterBytes_.push_back(v.clusterByte(c));
    for (RememberedFile &f : found) {
        if (entries_.size() >= maxEntries_) {
            ++dropped_;
            continue;
        }
        byFirstByte_.emplace(f.firstByte, entries_.size());
        entries_.push_back(std::move(f));
    }
}

namespace {
// An exFAT volume's FAT entry for cluster c: the cluster after it; 0 when it cannot be read.
uint32_t exfatNext(FragmentReader &reader, const FatVolume &v, uint64_t c)
{
    unsigned char b[4] = {};
    return reader.peek(v.fatByte + c * 4, b, 4) == 4 ? le32(b) : 0;
}
} // namespace

void Remnants::joinCrossingSets(FragmentReader &reader)
{
    std::vector<FatVolume> volumes;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        volumes = volumes_;
    }
    for (const Crossing &c : crossings_) {
        const uint64_t at = c.sector * 512 + c.slot * kEntry;
        const FatVolume *v = nullptr;
        for (const FatVolume &w : volumes)
            if (w.kind == FatVolume::ExFat && at >= w.heapByte && at < w.heapEnd())
                v = &w;
        if (!v)
            continue;
        const uint64_t cluster = 2 + (at - v->heapByte) / v->clusterBytes;
        const uint64_t head = v->clusterByte(cluster) + v->clusterBytes - at;  // under 19 entries
        // The next cluster on the medium was read with the set in the pass.
        const uint32_t next = exfatNext(reader, *v, cluster);
        if (next == cluster + 1 || !v->hasCluster(next) || head >= 19 * kEntry)
            continue;
        // The set from its first entry, as the directory goes on: the rest of its cluster, then
        // the next one's start, with nothing after the set taken for a set of its own.
        unsigned char set[512 + 19 * kEntry] = {};
        if (reader.peek(at, set, int64_t(head)) != int64_t(head) || set[1] > 18
            || reader.peek(v->clusterByte(next), set + head, int64_t(19 * kEntry - head)) != int64_t(19 * kEntry - head))
            continue;
        std::memset(set + (1 + set[1]) * kEntry, 0, sizeof set - (1 + set[1]) * kEntry);
        std::vector<uint32_t> dirs;
        std::vector<RememberedFile> found = exfatDirectoryEntries(*v, set, sizeof set, c.sector, &dirs);
        for (RememberedFile &f : found)
            f.entrySlot = int(c.slot);
        keep(std::move(found), dirs, *v);
    }
    crossings_.clear();
}

void Remnants::joinLongNames(FragmentReader &reader)
{
    std::vector<FatVolume> volumes;
    std::vector<uint64_t> firsts;  // a directory's first cluster has none before it
    {
        std::lock_guard<std::mutex> lock(mutex_);
        volumes = volumes_;
        firsts = dirClusterBytes_;
    }
    std::sort(firsts.begin(), firsts.end());
    constexpr uint64_t kMaxFatBytes = uint64_t(64) << 20;
    for (const FatVolume &v : volumes) {
        if (v.kind != FatVolume::Fat16 && v.kind != FatVolume::Fat32)
            continue;
        // The directory clusters that may go on from another one.
        std::vector<uint64_t> wanted;
        for (uint64_t s : clusterStarts_) {
            if (s * 512 < v.heapByte || s * 512 >= v.heapEnd())
                continue;
            const uint64_t c = 2 + (s * 512 - v.heapByte) / v.clusterBytes;
            if (!std::binary_search(firsts.begin(), firsts.end(), v.clusterByte(c)))
                wanted.push_back(c);
        }
        const uint64_t width = v.kind == FatVolume::Fat16 ? 2 : 4;
        if (wanted.empty() || (v.clusterCount + 2) * width > kMaxFatBytes)
            continue;
        std::sort(wanted.begin(), wanted.end());
        // Which cluster names each of them as its next: one read of the FAT.
        std::map<uint64_t, uint64_t> previous;
        std::vector<unsigned char> chunk(size_t(1) << 16);
        for (uint64_t first = 2; first < v.clusterCount + 2;) {
            const uint64_t count = std::min<uint64_t>(chunk.size() / width, v.clusterCount + 2 - first);
            if (reader.read(v.fatByte + first * width, chunk.data(), int64_t(count * width)) != int64_t(count * width))
                break;
            for (uint64_t k = 0; k < count; ++k) {
                const unsigned char *e = chunk.data() + k * width;
                const uint64_t next = width == 2 ? le16(e) : le32(e) & 0x0FFFFFFF;
                // One just before was read with it in the pass.
                if (next != first + k + 1 && std::binary_search(wanted.begin(), wanted.end(), next))
                    previous[next] = first + k;
            }
            first += count;
        }
        // Each such cluster's first sector read again after the end of the one before it.
        const size_t behind = size_t(std::min<uint64_t>(v.clusterBytes, 20 * kEntry));
        std::vector<RememberedFile> named;
        for (const auto &[c, p] : previous) {
            std::vector<unsigned char> buf(behind + 512);
            if (reader.peek(v.clusterByte(p) + v.clusterBytes - behind, buf.data(), int64_t(behind)) != int64_t(behind)
                || reader.peek(v.clusterByte(c), buf.data() + behind, 512) != 512)
                continue;
            for (RememberedFile &f : fatDirectoryEntries(v, buf.data() + behind, behind, v.clusterByte(c) / 512))
                named.push_back(std::move(f));
        }
        // An entry read in the pass without its long name takes it.
        std::lock_guard<std::mutex> lock(mutex_);
        std::map<std::pair<uint64_t, int>, size_t> at;
        for (size_t i = 0; i < entries_.size() && !named.empty(); ++i)
            at[{entries_[i].entrySector, entries_[i].entrySlot}] = i;
        for (RememberedFile &f : named) {
            const auto it = at.find({f.entrySector, f.entrySlot});
            if (it != at.end() && entries_[it->second].firstByte == f.firstByte && entries_[it->second].name != f.name)
                entries_[it->second] = std::move(f);
        }
    }
    clusterStarts_.clear();
}

void Remnants::endDirectories()
{
    complete_ = true;
}

void Remnants::noteFound(uint64_t startByte, uint64_t carvedBytes, const QString &type)
{
    std::lock_guard<std::mutex> lock(mutex_);
    found_.push_back({startByte, carvedBytes, type});
}

std::vector<FatVolume> Remnants::volumes() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return volumes_;
}

size_t Remnants::entryCount() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return entries_.size();
}

uint64_t Remnants::entriesDropped() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return dropped_;
}

std::optional<RememberedFile> Remnants::entryFor(uint64_t startByte, const QString &type) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    const auto [from, to] = byFirstByte_.equal_range(startByte);
    const RememberedFile *best = nullptr;
    int bestRank = -1;
    const QString t = type.toUpper();
    for (auto it = from; it != to; ++it) {
        const RememberedFile &f = entries_[it->second];
        // Its own type first, a live one before a deleted one; then the newest (the last to
        // write the cluster), and of two as new the later in its directory (made later).
        const int rank = (f.extension() == t ? 2 : 0) + (f.deleted ? 0 : 1);
        auto later = [](const RememberedFile &a, const RememberedFile &b) {
            if (a.modifiedWall != b.modifiedWall)
                return a.modifiedWall > b.modifiedWall;
            return a.entrySector != b.entrySector ? a.entrySector > b.entrySector : a.entrySlot > b.entrySlot;
        };
        if (!best || rank > bestRank || (rank == bestRank && later(f, *best))) {
            best = &f;
            bestRank = rank;
        }
    }
    if (!best)
        return std::nullopt;
    return *best;
}

std::vector<Piece> Remnants::piecesFor(uint64_t startByte) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = pieces_.find(startByte);
    return it == pieces_.end() ? std::vector<Piece>() : it->second;
}

QList<RememberedFile> Remnants::unmatched() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<uint64_t> starts;
    starts.reserve(found_.size());
    for (const Found &f : found_)
        starts.push_back(f.start);
    std::sort(starts.begin(), starts.end());
    QList<RememberedFile> out;
    for (const RememberedFile &f : entries_)
        if (!std::binary_search(starts.begin(), starts.end(), f.firstByte))
            out.append(f);
    return out;
}

namespace {
// Whether the first bytes at an entry's first cluster are those its extension's format starts
// with (for the types cameras write).
bool startsAsItsType(const RememberedFile &e, FragmentReader &m)
{
    unsigned char h[12];
    if (m.peek(e.firstByte, h, sizeof h) != int64_t(sizeof h))
        return false;
    const QString ext = e.extension();
    static const QStringList jpeg{"JPG", "JPEG", "JPE", "THM"}, iso{"MP4", "MOV", "M4V", "3GP", "HEIC", "HEIF", "CR3", "AVIF"},
        riff{"AVI", "WAV", "WEBP"}, tiff{"TIF", "TIFF", "CR2", "NEF", "NRW", "ARW", "SR2", "DNG", "PEF", "SRW", "ORF", "RW2", "ERF", "3FR", "DCR", "KDC"};
    if (jpeg.contains(ext))
        return h[0] == 0xFF && h[1] == 0xD8 && h[2] == 0xFF;
    if (iso.contains(ext))
        return std::memcmp(h + 4, "ftyp", 4) == 0 || std::memcmp(h + 4, "moov", 4) == 0 || std::memcmp(h + 4, "mdat", 4) == 0
               || std::memcmp(h + 4, "wide", 4) == 0 || std::memcmp(h + 4, "free", 4) == 0;
    if (riff.contains(ext))
        return std::memcmp(h, "RIFF", 4) == 0;
    if (tiff.contains(ext))
        return (h[0] == 'I' && h[1] == 'I') || (h[0] == 'M' && h[1] == 'M');
    if (ext == QLatin1String("PNG"))
        return std::memcmp(h, "\x89PNG", 4) == 0;
    return false;
}
} // namespace

void Remnants::resolveFragments(SectorReader &medium, uint64_t mediumBytes, const std::function<bool()> &cancel,
                                 uint64_t readBound)
{
    FragmentReader reader(medium, mediumBytes);
    joinCrossingSets(reader);
    joinLongNames(reader);
    // What the stage needs, copied out of the lock: it reads the medium for a while.
    std::vector<FatVolume> volumes;
    std::vector<Found> found;
    std::vector<uint64_t> dirs;
    std::vector<std::pair<uint64_t, RememberedFile>> candidates;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        volumes = volumes_;
        found = found_;
        dirs = dirClusterBytes_;
    }
    std::sort(found.begin(), found.end(), [](const Found &a, const Found &b) { return a.start < b.start; });
    found.erase(std::unique(found.begin(), found.end(), [](const Found &a, const Found &b) { return a.start == b.start; }), found.end());
    // What other known files hold: each found file from its start up to its entry's size or
    // its carve, never past the next found file; and the directory clusters.
    std::vector<std::optional<RememberedFile>> joined;
    {
        // A found file with no entry of its own inside the remembered size of an earlier one (a
        // camera's second picture or preview starting on a sector) is taken as part of it: it
        // neither ends that file's room nor holds clusters.
        std::vector<Found> kept;
        uint64_t coverEnd = 0;
        for (const Found &f : found) {
            std::optional<RememberedFile> e = entryFor(f.start, f.type);
            if (!e && f.start < coverEnd)
                continue;
            if (e)
                coverEnd = std::max(coverEnd, e->size > UINT64_MAX - f.start ? UINT64_MAX : f.start + e->size);
            kept.push_back(f);
            joined.push_back(std::move(e));
        }
        found.swap(kept);
    }
    // heldNamed: the same without the found files no entry names (see walkerRefusesForeignBytes).
    HeldMap held, heldNamed;
    const auto hold = [&](uint64_t start, uint64_t end, bool foundFile, bool named) {
        held.add(start, end, foundFile);
        if (named)
            heldNamed.add(start, end, foundFile);
    };
    for (size_t i = 0; i < found.size(); ++i) {
        const uint64_t next = i + 1 < found.size() ? found[i + 1].start : UINT64_MAX;
        const uint64_t reach = joined[i] ? joined[i]->size : found[i].carved;
        const uint64_t end = reach > UINT64_MAX - found[i].start ? UINT64_MAX : found[i].start + std::max<uint64_t>(reach, 1);
        hold(found[i].start, std::min(end, next), true, joined[i].has_value());
    }
    for (uint64_t d : dirs)
        for (const FatVolume &v : volumes)
            if (d >= v.heapByte && d < v.heapEnd())
                hold(d, d + v.clusterBytes, false, true);
    constexpr uint64_t kSlack = uint64_t(1) << 30;
    const uint64_t bound = readBound != 0 ? readBound : mediumBytes > UINT64_MAX - kSlack ? UINT64_MAX : mediumBytes + kSlack;
    const std::function<bool()> spent = [&] { return reader.bytesRead() > bound || (cancel && cancel()); };
    // Files this scan's types do not cover (the photos of a video scan) hold their clusters too,
    // when their first cluster still starts as their type does: a clip is then not joined
    // through a photo whose bytes its samples cannot tell from its own.
    std::vector<uint64_t> starts(found.size());
    for (size_t i = 0; i < found.size(); ++i)
        starts[i] = found[i].start;
    for (const RememberedFile &e : unmatched()) {
        if (spent())
            break;
        const auto next = std::upper_bound(starts.begin(), starts.end(), e.firstByte);
        const uint64_t limit = next == starts.end() ? UINT64_MAX : *next;
        if (e.size > 0 && e.size <= limit - e.firstByte && startsAsItsType(e, reader))
            hold(e.firstByte, e.firstByte + e.size, false, true);
    }
    for (size_t i = 0; i < found.size(); ++i) {
        if (spent())
            break;
        const std::optional<RememberedFile> &e = joined[i];
        if (!e || e->contiguous)
            continue;
        const FatVolume *vol = nullptr;
        for (const FatVolume &v : volumes)
            if (e->firstByte >= v.heapByte && e->firstByte < v.heapEnd())
                vol = &v;
        if (!vol)
            continue;
        // Room for it in one piece: up to the next found file.
        const uint64_t next = i + 1 < found.size() ? found[i + 1].start : vol->heapEnd();
        FragmentQuery q;
        q.type = found[i].type;
        q.startByte = found[i].start;
        q.size = e->size;
        q.contiguousRoom = next - found[i].start;
        q.volume = *vol;
        std::optional<std::vector<Piece>> p
            = findPieces(q, walkerRefusesForeignBytes(q.type) ? heldNamed : held, reader, spent);
        if (p && p->size() > 1) {
            std::lock_guard<std::mutex> lock(mutex_);
            pieces_[found[i].start] = *p;
        }
    }
    resolved_ = true;
}

void joinRemembered(ExportItem &item, const Remnants *remnants)
{
    if (!remnants)
        return;
    item.remembered = remnants->entryFor(item.startByte(), item.extension);
    item.pieces = item.remembered ? remnants->piecesFor(item.startByte()) : std::vector<Piece>();
}

} // namespace lumafind
