// Capture dates and embedded pictures, per format family. The libraries are handed only bytes
// in memory that the file's extent bounds, their answers are checked against those bytes, and
// anything they throw is caught: hostile bytes cost a date or a preview, never the program.
#include "metadata.h"

#include <QBuffer>
#include <QDate>
#include <QDateTime>
#include <QHash>
#include <QImageReader>
#include <QTime>
#include <QtEndian>
#include <climits>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include <exiv2/bmffimage.hpp>
#include <exiv2/cr2image.hpp>
#include <exiv2/crwimage.hpp>
#include <exiv2/error.hpp>
#include <exiv2/exif.hpp>
#include <exiv2/image.hpp>
#include <exiv2/jpgimage.hpp>
#include <exiv2/mrwimage.hpp>
#include <exiv2/orfimage.hpp>
#include <exiv2/preview.hpp>
#include <exiv2/rafimage.hpp>
#include <exiv2/rw2image.hpp>
#include <exiv2/tiffimage.hpp>
#include <exiv2/xmp_exiv2.hpp>
#include <libheif/heif.h>
#include <libraw/libraw.h>

namespace lumafind {

namespace {

constexpr qint64 kSecondsFrom1904To1970 = 2082844800;
constexpr qint64 kMaxPicturePixels = 64 * 1000 * 1000;  // what a decoded preview may hold

bool plausible(const QDateTime &dt)
{
    return dt.isValid() && dt.toSecsSinceEpoch() >= 0 && dt.date().year() < 2100;
}

std::optional<CaptureTime> fromUtc(qint64 utc)
{
    const QDateTime dt = QDateTime::fromSecsSinceEpoch(utc, Qt::UTC);
    if (!plausible(dt))
        return std::nullopt;
    // The instant is known; it is shown in the local zone of that time.
    return CaptureTime{utc, QDateTime::fromSecsSinceEpoch(utc, Qt::LocalTime).offsetFromUtc()};
}

// A wall-clock time the camera wrote, in the zone it names or (none named) the local zone.
std::optional<CaptureTime> fromWallClock(const QDate &date, const QTime &time, std::optional<int> offset)
{
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    const QDateTime dt = offset ? QDateTime(date, time, Qt::OffsetFromUTC, *offset) : QDateTime(date, time, Qt::LocalTime);
    if (!plausible(dt))
        return std::nullopt;
    return CaptureTime{dt.toSecsSinceEpoch(), dt.offsetFromUtc()};
}

// The whole file when it is in memory, else its first `most` bytes read into `store`.
QByteArrayView headOf(ByteSource &file, const QByteArrayView *inMemory, QByteArray &store, uint64_t most = kMetadataHeadBytes)
{
    if (inMemory)
        return inMemory->first(qsizetype(std::min<uint64_t>(uint64_t(inMemory->size()), most)));
    store.resize(qsizetype(std::min(file.size(), most)));
    store.resize(qsizetype(std::max<int64_t>(0, file.read(0, store.data(), store.size()))));
    return store;
}

// ---- Exiv2 ----

std::recursive_mutex gXmpMutex;
void xmpLock(void *, bool lock)
{
    lock ? gXmpMutex.lock() : gXmpMutex.unlock();
}

void exivInit()
{
    static std::once_flag once;
    std::call_once(once, [] {
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);  // hostile bytes would fill the terminal
        Exiv2::XmpParser::initialize(xmpLock, nullptr);
        Exiv2::enableBMFF(true);                       // HEIF, AVIF and CR3
    });
}

// Only the image types our families hand over; Exiv2's video readers are never reached.
bool exivTypeAllowed(int type)
{
    switch (type) {
    case Exiv2::ImageType::jpeg: case Exiv2::ImageType::tiff: case Exiv2::ImageType::cr2:
    case Exiv2::ImageType::crw: case Exiv2::ImageType::mrw: case Exiv2::ImageType::orf:
    case Exiv2::ImageType::raf: case Exiv2::ImageType::rw2: case Exiv2::ImageType::bmff:
        return true;
    default:
        return false;
    }
}

// The image with its metadata read, or null. Exiv2 reads the bytes in place (no copy); they
// must outlive the image.
Exiv2::Image::AutoPtr exivOpen(QByteArrayView bytes)
{
    exivInit();
    if (bytes.size() < 16 || bytes.size() > qsizetype(LONG_MAX))
        return Exiv2::Image::AutoPtr();
    const auto *data = reinterpret_cast<const Exiv2::byte *>(bytes.data());
    const long size = long(bytes.size());
    if (!exivTypeAllowed(Exiv2::ImageFactory::getType(data, size)))
        return Exiv2::Image::AutoPtr();
    Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(data, size);
    if (!image.get())
        return image;
    try {
        image->readMetadata();
    } catch (const Exiv2::AnyError &) {
        // Bytes that go wrong after the Exif block (a file cut short in its picture data)
        // leave what was read before them, which stands on its own.
    }
    return image;
}

std::optional<CaptureTime> exivDateOf(QByteArrayView bytes)
{
    try {
        Exiv2::Image::AutoPtr image = exivOpen(bytes);
        if (!image.get())
            return std::nullopt;
        const Exiv2::ExifData &exif = image->exifData();
        auto text = [&](const char *key) {
            const auto it = exif.findKey(Exiv2::ExifKey(key));
            return it == exif.end() ? QString() : QString::fromStdString(it->toString()).trimmed();
        };
        // When the picture was taken; raw files of some makers keep it in the first directory;
        // a file without either has at least the time it was written.
        static const char *const kDates[][2] = {
            {"Exif.Photo.DateTimeOriginal", "Exif.Photo.OffsetTimeOriginal"},
            {"Exif.Image.DateTimeOriginal", "Exif.Photo.OffsetTimeOriginal"},
            {"Exif.Photo.DateTimeDigitized", "Exif.Photo.OffsetTimeDigitized"},
            {"Exif.Image.DateTime", "Exif.Photo.OffsetTime"},
        };
        for (const auto &d : kDates)
            if (const auto t = exifCaptureTime(text(d[0]), text(d[1])))
                return t;
    } catch (const std::exception &) {
    } catch (...) {
    }
    return std::nullopt;
}

std::optional<CaptureTime> exivDate(ByteSource &file, const QByteArrayView *inMemory)
{
    QByteArray store;
    return exivDateOf(headOf(file, inMemory, store));
}

std::optional<CaptureTime> jpegDate(ByteSource &file, const QByteArrayView *inMemory)
{
    // A JPEG's Exif lies in its first segments, before its image data: a megabyte holds them.
    QByteArray store;
    return exivDateOf(headOf(file, inMemory, store, uint64_t(1) << 20));
}

} // namespace

QImage decodePicture(QByteArrayView bytes, int maxPixels)
{
    QByteArray shared = QByteArray::fromRawData(bytes.data(), bytes.size());
    QBuffer in(&shared);
    in.open(QIODevice::ReadOnly);
    QImageReader reader(&in);
    reader.setAutoTransform(true);
    reader.setAllocationLimit(256);  // MiB: larger pictures are not decoded
    const QSize full = reader.size();
    if (full.isValid() && !full.isEmpty())
        reader.setScaledSize(full.scaled(maxPixels, maxPixels, Qt::KeepAspectRatio).expandedTo(QSize(1, 1)));
    QImage img = reader.read();
    if (!img.isNull() && (img.width() > maxPixels || img.height() > maxPixels))
        img = img.scaled(maxPixels, maxPixels, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return img;
}

namespace {

QImage exivPicture(QByteArrayView bytes, int maxPixels)
{
    try {
        Exiv2::Image::AutoPtr image = exivOpen(bytes);
        if (!image.get())
            return {};
        Exiv2::PreviewManager previews(*image);
        const Exiv2::PreviewPropertiesList list = previews.getPreviewProperties();
        // Largest first (the list is sorted by area); one that is too big, lies outside the
        // bytes or does not decode gives way to the next.
        for (auto it = list.rbegin(); it != list.rend(); ++it) {
            if (it->size_ == 0 || it->size_ > kMaxPreviewBytes || uint64_t(it->size_) > uint64_t(bytes.size()) + 65536)
                continue;
            const Exiv2::PreviewImage preview = previews.getPreviewImage(*it);
            if (preview.size() == 0 || preview.size() > kMaxPreviewBytes || !preview.pData())
                continue;
            QImage img = decodePicture(QByteArrayView(reinterpret_cast<const char *>(preview.pData()), qsizetype(preview.size())),
                                      maxPixels);
            if (!img.isNull())
                return img;
        }
    } catch (const std::exception &) {
    } catch (...) {
    }
    return {};
}

// ---- LibRaw ----

std::unique_ptr<LibRaw> librawOpen(QByteArrayView bytes)
{
    if (bytes.size() < 16)
        return nullptr;
    auto raw = std::make_unique<LibRaw>(LIBRAW_OPIONS_NO_MEMERR_CALLBACK | LIBRAW_OPIONS_NO_DATAERR_CALLBACK);
    raw->imgdata.params.max_raw_memory_mb = unsigned(kMaxPreviewBytes >> 20);  // its default is 2 GiB
    // LibRaw only reads the buffer; its interface is not const.
    if (raw->open_buffer(const_cast<char *>(bytes.data()), size_t(bytes.size())) != LIBRAW_SUCCESS)
        return nullptr;
    return raw;
}

} // namespace

QImage librawPicture(QByteArrayView bytes, int maxPixels)
{
    try {
        std::unique_ptr<LibRaw> raw = librawOpen(bytes);
        if (!raw)
            return {};
        const libraw_thumbnail_t &t = raw->imgdata.thumbnail;
        // The declared size first: nothing larger than the bytes, or than we would keep, is read.
        if (t.tlength == 0 || uint64_t(t.tlength) > kMaxPreviewBytes || uint64_t(t.tlength) > uint64_t(bytes.size()))
            return {};
        if (raw->unpack_thumb() != LIBRAW_SUCCESS || !t.thumb || t.tlength == 0 || uint64_t(t.tlength) > kMaxPreviewBytes)
            return {};
        if (t.tformat == LIBRAW_THUMBNAIL_JPEG)
            return decodePicture(QByteArrayView(t.thumb, qsizetype(t.tlength)), maxPixels);
        if (t.tformat == LIBRAW_THUMBNAIL_BITMAP && t.tcolors == 3 && t.twidth > 0 && t.theight > 0
            && qint64(t.twidth) * t.theight <= kMaxPicturePixels && uint64_t(t.twidth) * t.theight * 3 <= uint64_t(t.tlength)) {
            const QImage view(reinterpret_cast<const uchar *>(t.thumb), t.twidth, t.theight, t.twidth * 3, QImage::Format_RGB888);
            return view.scaled(maxPixels, maxPixels, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        }
    } catch (...) {
    }
    return {};
}

namespace {

// LibRaw's own reading of the date (X3F and the like that Exiv2 does not read): a local time
// it has already turned into an instant in this machine's zone.
std::optional<CaptureTime> librawDate(QByteArrayView bytes)
{
    try {
        std::unique_ptr<LibRaw> raw = librawOpen(bytes);
        if (raw && raw->imgdata.other.timestamp > 0)
            return fromUtc(qint64(raw->imgdata.other.timestamp));
    } catch (...) {
    }
    return std::nullopt;
}

// ---- libheif ----

void heifInit()
{
    static std::once_flag once;
    std::call_once(once, [] { heif_init(nullptr); });
}

QImage heifPicture(QByteArrayView bytes, int maxPixels)
{
    heifInit();
    if (bytes.size() < 12 || heif_check_filetype(reinterpret_cast<const uint8_t *>(bytes.data()), 12) == heif_filetype_no)
        return {};
    std::unique_ptr<heif_context, void (*)(heif_context *)> ctx(heif_context_alloc(), heif_context_free);
    if (!ctx)
        return {};
    heif_context_set_max_decoding_threads(ctx.get(), 0);  // the thumbnail pool has its own threads
    if (heif_context_read_from_memory_without_copy(ctx.get(), bytes.data(), size_t(bytes.size()), nullptr).code != heif_error_Ok)
        return {};
    using Handle = std::unique_ptr<heif_image_handle, void (*)(const heif_image_handle *)>;
    heif_image_handle *raw = nullptr;
    if (heif_context_get_primary_image_handle(ctx.get(), &raw).code != heif_error_Ok || !raw)
        return {};
    Handle primary(raw, heif_image_handle_release);
    auto pixels = [](const heif_image_handle *h) {
        return qint64(heif_image_handle_get_width(h)) * heif_image_handle_get_height(h);
    };
    auto longer = [](const heif_image_handle *h) { return std::max(heif_image_handle_get_width(h), heif_image_handle_get_height(h)); };
    // The smallest thumbnail that fills the size asked for, else the primary picture, else the
    // largest thumbnail.
    Handle chosen(nullptr, heif_image_handle_release), largest(nullptr, heif_image_handle_release);
    heif_item_id ids[8];
    const int n = heif_image_handle_get_list_of_thumbnail_IDs(primary.get(), ids, 8);
    for (int i = 0; i < n; ++i) {
        heif_image_handle *th = nullptr;
        if (heif_image_handle_get_thumbnail(primary.get(), ids[i], &th).code != heif_error_Ok || !th)
            continue;
        Handle thumb(th, heif_image_handle_release);
        if (pixels(th) <= 0 || pixels(th) > kMaxPicturePixels)
            continue;
        if (longer(th) >= maxPixels && (!chosen || pixels(th) < pixels(chosen.get())))
            chosen = std::move(thumb);
        else if (!largest || pixels(th) > pixels(largest.get()))
            largest = std::move(thumb);
    }
    if (!chosen && pixels(primary.get()) > 0 && pixels(primary.get()) <= kMaxPicturePixels)
        chosen = std::move(primary);
    if (!chosen)
        chosen = std::move(largest);
    if (!chosen)
        return {};
    heif_image *decoded = nullptr;
    if (heif_decode_image(chosen.get(), &decoded, heif_colorspace_RGB, heif_chroma_interleaved_RGB, nullptr).code != heif_error_Ok
        || !decoded)
        return {};
    std::unique_ptr<heif_image, void (*)(const heif_image *)> img(decoded, heif_image_release);
    int stride = 0;
    const uint8_t *plane = heif_image_get_plane_readonly(img.get(), heif_channel_interleaved, &stride);
    const int w = heif_image_get_width(img.get(), heif_channel_interleaved), h = heif_image_get_height(img.get(), heif_channel_interleaved);
    if (!plane || w <= 0 || h <= 0 || stride < w * 3 || qint64(w) * h > kMaxPicturePixels)
        return {};
    const QImage view(plane, w, h, stride, QImage::Format_RGB888);
    if (w <= maxPixels && h <= maxPixels)
        return view.copy();
    return view.scaled(maxPixels, maxPixels, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

// ---- Our own: ISO media, PNG, AVCHD ----

std::optional<CaptureTime> isoDate(ByteSource &file, const QByteArrayView *)
{
    return isoMediaCaptureTime(file);
}

std::optional<CaptureTime> pngDate(ByteSource &file, const QByteArrayView *)
{
    return pngCaptureTime(file);
}

template <int PacketSize>
std::optional<CaptureTime> avchdDate(ByteSource &file, const QByteArrayView *inMemory)
{
    QByteArray store;
    constexpr uint64_t kHead = 4 << 20;  // the first frames carry it
    QByteArrayView head = inMemory ? *inMemory : QByteArrayView();
    if (!inMemory) {
        store.resize(qsizetype(std::min(file.size(), kHead)));
        store.resize(qsizetype(std::max<int64_t>(0, file.read(0, store.data(), store.size()))));
        head = store;
    }
    return avchdCaptureTime(head.first(qsizetype(std::min<uint64_t>(uint64_t(head.size()), kHead))), PacketSize);
}

std::optional<CaptureTime> rawDate(ByteSource &file, const QByteArrayView *inMemory)
{
    QByteArray store;
    const QByteArrayView head = headOf(file, inMemory, store);
    if (auto t = exivDateOf(head))
        return t;
    return librawDate(head);
}

QImage rawPicture(QByteArrayView bytes, int maxPixels)
{
    QImage img = exivPicture(bytes, maxPixels);
    return img.isNull() ? librawPicture(bytes, maxPixels) : img;
}

// ---- The families ----

struct Reader {
    const char *name;
    std::optional<CaptureTime> (*date)(ByteSource &, const QByteArrayView *);  // the whole file, when in memory
    QImage (*picture)(QByteArrayView, int);  // null: none carried
    bool previewFirst;
};

const Reader kExifPhoto{"Exif (Exiv2)", jpegDate, exivPicture, false};
const Reader kTiff{"Exif (Exiv2), embedded preview (Exiv2, LibRaw)", rawDate, rawPicture, false};
const Reader kRaw{"camera raw: Exif (Exiv2, LibRaw), embedded preview (Exiv2, LibRaw)", rawDate, rawPicture, true};
const Reader kHeif{"HEIF: Exif (Exiv2), picture (libheif)", exivDate, heifPicture, true};
const Reader kIso{"ISO media movie header", isoDate, nullptr, false};
const Reader kPng{"PNG tIME", pngDate, nullptr, false};
const Reader kM2ts{"AVCHD recording date (192-byte packets)", avchdDate<192>, nullptr, false};
const Reader kTs{"AVCHD recording date", avchdDate<188>, nullptr, false};

const Reader *readerOf(const QString &type)
{
    static const QHash<QString, const Reader *> table = {
        {"JPG", &kExifPhoto}, {"TIF", &kTiff},  {"PNG", &kPng},  {"NEF", &kRaw},  {"DNG", &kRaw},  {"ARW", &kRaw},
        {"CR2", &kRaw},       {"ORF", &kRaw},   {"RW2", &kRaw},  {"PEF", &kRaw},  {"SRW", &kRaw},  {"ERF", &kRaw},
        {"3FR", &kRaw},       {"DCR", &kRaw},   {"KDC", &kRaw},  {"IIQ", &kRaw},  {"MOS", &kRaw},  {"MEF", &kRaw},
        {"MRW", &kRaw},       {"RAF", &kRaw},   {"CRW", &kRaw},  {"X3F", &kRaw},  {"CR3", &kRaw},  {"HEIC", &kHeif},
        {"AVIF", &kHeif},     {"MP4", &kIso},   {"MOV", &kIso},  {"M4V", &kIso},  {"3GP", &kIso},  {"M4A", &kIso},
        {"MTS", &kM2ts},      {"TS", &kTs},
    };
    return table.value(type.toUpper(), nullptr);
}

int bcd(uint8_t b)
{
    return (b >> 4) < 10 && (b & 15) < 10 ? (b >> 4) * 10 + (b & 15) : -1;
}

} // namespace

QString CaptureTime::iso() const
{
    const QDateTime local = QDateTime::fromSecsSinceEpoch(utc + offset, Qt::UTC);
    const int a = offset < 0 ? -offset : offset;
    return local.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) + QLatin1Char(offset < 0 ? '-' : '+')
        + QStringLiteral("%1:%2").arg(a / 3600, 2, 10, QLatin1Char('0')).arg(a / 60 % 60, 2, 10, QLatin1Char('0'));
}

std::optional<CaptureTime> exifCaptureTime(const QString &dateTime, const QString &offset)
{
    // "YYYY:MM:DD HH:MM:SS"; unset fields are blanks or zeros, which give no valid date.
    const QString s = dateTime.trimmed();
    if (s.size() < 19)
        return std::nullopt;
    auto field = [&](int at, int len) {
        bool ok = false;
        const int v = s.mid(at, len).toInt(&ok);
        return ok && !s.mid(at, len).contains(u' ') ? v : -1;
    };
    const QDate date(field(0, 4), field(5, 2), field(8, 2));
    const QTime time(field(11, 2), field(14, 2), field(17, 2));
    std::optional<int> zone;
    const QString o = offset.trimmed();
    if (o.size() == 6 && (o[0] == u'+' || o[0] == u'-') && o[3] == u':') {
        bool okH = false, okM = false;
        const int h = o.mid(1, 2).toInt(&okH), m = o.mid(4, 2).toInt(&okM);
        if (okH && okM && h <= 14 && m < 60)
            zone = (o[0] == u'-' ? -1 : 1) * (h * 3600 + m * 60);
    }
    return fromWallClock(date, time, zone);
}

std::optional<CaptureTime> isoMediaCaptureTime(ByteSource &file)
{
    // Top-level boxes up to the movie box, then its children up to the movie header. Only box
    // headers are read; each step moves forward by the box's size, and the steps are capped.
    const uint64_t size = file.size();
    uint64_t at = 0, end = size;
    bool inMovie = false;
    for (int steps = 0; steps < 4096 && at + 8 <= end; ++steps) {
        const auto small = file.be32(at);
        char type[4];
        if (!small || !file.get(at + 4, type, 4))
            return std::nullopt;
        uint64_t boxSize = *small, header = 8;
        if (boxSize == 1) {
            const auto large = file.be64(at + 8);
            if (!large)
                return std::nullopt;
            boxSize = *large;
            header = 16;
        } else if (boxSize == 0) {
            boxSize = end - at;  // to the end of its parent
        }
        if (boxSize < header || boxSize > end - at)
            return std::nullopt;
        if (!inMovie && std::memcmp(type, "moov", 4) == 0) {
            inMovie = true;
            end = at + boxSize;
            at += header;
            continue;
        }
        if (inMovie && std::memcmp(type, "mvhd", 4) == 0) {
            const auto version = file.u8(at + header);
            if (!version || *version > 1 || boxSize < header + (*version == 1 ? 12 : 8))
                return std::nullopt;
            const std::optional<uint64_t> created = *version == 1 ? file.be64(at + header + 4)
                                                                  : std::optional<uint64_t>(file.be32(at + header + 4));
            // Zero is "not set"; times before 1970 are a clock that was never set.
            if (!created || *created <= uint64_t(kSecondsFrom1904To1970) || *created > uint64_t(INT64_MAX))
                return std::nullopt;
            return fromUtc(qint64(*created) - kSecondsFrom1904To1970);
        }
        at += boxSize;
    }
    return std::nullopt;
}

std::optional<CaptureTime> pngCaptureTime(ByteSource &file)
{
    static const char kSignature[] = "\x89PNG\r\n\x1a\n";
    char sig[8];
    if (!file.get(0, sig, 8) || std::memcmp(sig, kSignature, 8) != 0)
        return std::nullopt;
    const uint64_t size = file.size();
    // Chunk headers only: each step passes a whole chunk (at least 12 bytes).
    for (uint64_t at = 8; at + 12 <= size;) {
        const auto length = file.be32(at);
        char type[4];
        if (!length || *length > 0x7FFFFFFFu || !file.get(at + 4, type, 4))
            return std::nullopt;
        if (std::memcmp(type, "IEND", 4) == 0)
            return std::nullopt;
        if (std::memcmp(type, "tIME", 4) == 0) {
            unsigned char t[7];
            if (*length != 7 || !file.get(at + 8, t, 7))
                return std::nullopt;
            // Universal time, as the format says.
            const QDateTime dt(QDate(qFromBigEndian<quint16>(t), t[2], t[3]), QTime(t[4], t[5], std::min<int>(t[6], 59)), Qt::UTC);
            return dt.isValid() ? fromUtc(dt.toSecsSinceEpoch()) : std::nullopt;
        }
        const uint64_t next = at + 12 + *length;
        if (next > size)
            return std::nullopt;
        at = next;
    }
    return std::nullopt;
}

std::optional<CaptureTime> avchdCaptureTime(QByteArrayView head, int packetSize)
{
    // The recording date is in the video's SEI "user data unregistered" messages: this UUID,
    // "MDPM", a count, then five-byte entries (a tag and four bytes). 0x18 holds a byte of
    // unknown meaning and the year and month, 0x19 the day and time, all BCD, in the camera's
    // local time. The transport packets' payloads are joined per stream first, so a message
    // split over two packets is still found.
    static const unsigned char kUuid[20] = {0x17, 0xee, 0x8c, 0x60, 0xf8, 0x4d, 0x11, 0xd9, 0x8c, 0xd6,
                                            0x08, 0x00, 0x20, 0x0c, 0x9a, 0x66, 'M',  'D',  'P',  'M'};
    if (packetSize != 188 && packetSize != 192)
        return std::nullopt;
    const int lead = packetSize - 188;
    std::map<int, QByteArray> streams;
    for (qsizetype at = 0; at + packetSize <= head.size(); at += packetSize) {
        const auto *p = reinterpret_cast<const unsigned char *>(head.data() + at + lead);
        if (p[0] != 0x47)
            return std::nullopt;  // not a transport stream, or not one of this packet size
        const int pid = ((p[1] & 0x1F) << 8) | p[2];
        const int control = (p[3] >> 4) & 3;
        if (pid == 0x1FFF || !(control & 1))
            continue;
        int payload = 4;
        if (control == 3)
            payload += 1 + p[4];
        if (payload >= 188)
            continue;
        if (streams.size() >= 32 && !streams.count(pid))
            continue;
        streams[pid].append(reinterpret_cast<const char *>(p + payload), 188 - payload);
    }
    const QByteArrayView uuid(reinterpret_cast<const char *>(kUuid), 20);
    for (const auto &[pid, es] : streams) {
        for (qsizetype found = es.indexOf(uuid); found >= 0; found = es.indexOf(uuid, found + 1)) {
            // The message body without the bytes that keep start codes out of NAL units.
            QByteArray body;
            int zeros = 0;
            for (qsizetype i = found + 20; i < es.size() && body.size() < 1 + 5 * 255; ++i) {
                const auto c = uint8_t(es[i]);
                if (zeros >= 2 && c == 3) {
                    zeros = 0;
                    continue;
                }
                zeros = c == 0 ? zeros + 1 : 0;
                body.append(char(c));
            }
            if (body.isEmpty())
                continue;
            const int count = uint8_t(body[0]);
            int year = -1, month = -1, day = -1, hour = -1, minute = -1, second = -1;
            for (int k = 0; k < count && 1 + 5 * (k + 1) <= body.size(); ++k) {
                const auto *e = reinterpret_cast<const uint8_t *>(body.constData() + 1 + 5 * k);
                if (e[0] == 0x18 && bcd(e[2]) >= 0 && bcd(e[3]) >= 0) {
                    year = bcd(e[2]) * 100 + bcd(e[3]);
                    month = bcd(e[4]);
                } else if (e[0] == 0x19) {
                    day = bcd(e[1]);
                    hour = bcd(e[2]);
                    minute = bcd(e[3]);
                    second = bcd(e[4]);
                }
            }
            if (year >= 0 && day >= 0)
                if (const auto t = fromWallClock(QDate(year, month, day), QTime(hour, minute, second), std::nullopt))
                    return t;
        }
    }
    return std::nullopt;
}

std::optional<CaptureTime> captureTime(const QString &type, ByteSource &file)
{
    const Reader *r = readerOf(type);
    return r ? r->date(file, nullptr) : std::nullopt;
}

std::optional<CaptureTime> captureTime(const QString &type, QByteArrayView bytes)
{
    const Reader *r = readerOf(type);
    if (!r)
        return std::nullopt;
    MemorySource src(bytes);
    return r->date(src, &bytes);
}

QImage embeddedPicture(const QString &type, QByteArrayView bytes, int maxPixels)
{
    const Reader *r = readerOf(type);
    if (!r || !r->picture || bytes.isEmpty())
        return {};
    return r->picture(bytes.first(qsizetype(std::min<uint64_t>(uint64_t(bytes.size()), kMetadataHeadBytes))), maxPixels);
}

bool previewFirst(const QString &type)
{
    const Reader *r = readerOf(type);
    return r && r->previewFirst;
}

QString metadataFamily(const QString &type)
{
    const Reader *r = readerOf(type);
    return r ? QString::fromLatin1(r->name) : QString();
}

} // namespace lumafind
