#include "ThumbnailMaker.h"

#include "HeifThumbnail.h"
#include "ImageFitting.h"
#include "JpegScaledDecoder.h"
#include "ThumbnailBars.h"
#include "support/SystemLog.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <exiv2/exiv2.hpp>
#include <fcntl.h>
#include <libraw/libraw.h>
#include <memory>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// Files decoded in full are read into memory first (to check a JPEG is complete); nothing this big is a photo.
constexpr qint64 cMaxInMemoryFileBytes = 512LL * 1024 * 1024;
// Thousands of progressive scans make libjpeg spin for minutes on a few kilobytes.
constexpr int cMaxJpegScans = 1000;
// An "embedded thumbnail" this large is really a second full-size page (multi-page TIFF).
constexpr qsizetype cMaxThumbnailBytes = 1024 * 1024;
// Qt's default of 128 MB rejects a 45 MP photo in formats decoded at full size.
constexpr int cAllocationLimitMb = 1024;

const std::array<QByteArrayView, 9> cRawSuffixes = {"cr2", "cr3", "nef", "nrw", "arw", "raf", "dng", "orf", "rw2"};

// Walks the markers to the end of the image: a truncated copy (card pulled out
// mid-copy) has no end marker, and Qt would paint the missing part grey.
bool isCompleteJpeg(QByteArrayView data)
{
    const auto *bytes = reinterpret_cast<const uchar *>(data.data());
    const qsizetype size = data.size();
    if (size < 4 || bytes[0] != 0xFF || bytes[1] != 0xD8)
        return false;
    int scans = 0;
    qsizetype pos = 2;
    while (pos + 1 < size) {
        if (bytes[pos] != 0xFF) {
            ++pos;
            continue;
        }
        const uchar marker = bytes[pos + 1];
        pos += 2;
        if (marker == 0xD9)
            return true;
        if (marker == 0xFF) {
            --pos;
            continue;
        }
        if (marker == 0x01 || marker == 0x00 || (marker >= 0xD0 && marker <= 0xD7))
            continue;
        if (pos + 2 > size)
            return false;
        const int length = (bytes[pos] << 8) | bytes[pos + 1];
        if (length < 2 || pos + length > size)
            return false;
        pos += length;
        if (marker != 0xDA)
            continue;
        if (++scans > cMaxJpegScans)
            return false;
        // Entropy-coded data: only FF 00 (stuffing), restart markers and fill bytes are not a next marker.
        while (pos < size) {
            const void *next = std::memchr(bytes + pos, 0xFF, size_t(size - pos));
            if (!next)
                return false;
            pos = static_cast<const uchar *>(next) - bytes;
            if (pos + 1 >= size)
                return false;
            const uchar after = bytes[pos + 1];
            if (after == 0x00 || (after >= 0xD0 && after <= 0xD7))
                pos += 2;
            else if (after == 0xFF)
                ++pos;
            else
                break;
        }
    }
    return false;
}

// Decodes with the reader's own downscaling where the format has one (JPEG
// decodes at 1/2, 1/4 or 1/8 size), so a full-size image never exists.
QImage readScaled(QIODevice *device, const QByteArray &format, int maxPixelSize, bool autoTransform,
                  QSize *storedSize = nullptr)
{
    QImageReader reader(device, format);
    reader.setAutoTransform(autoTransform);
    // Rotation follows scaling, so the scaled size is given unrotated.
    const QSize size = reader.size();
    if (storedSize && size.isValid())
        *storedSize = size;
    if (ImageFitting::pixelCount(size) > ImageFitting::cMaxDecodePixels)
        return {};
    if (size.isValid()) {
        const QSize target = ImageFitting::fittedSize(size, maxPixelSize);
        if (target != size)
            reader.setScaledSize(target);
    }
    const QImage image = reader.read();
    return ImageFitting::finished(image, maxPixelSize);
}

QImage decodeEmbedded(const QByteArray &bytes, int maxPixelSize)
{
    if (bytes.startsWith("\xFF\xD8")) {
        if (!isCompleteJpeg(bytes))
            return {};
        // Qt's reader costs more in finding its plugin and converting than a thumbnail costs to decode.
        const QImage image = JpegScaledDecoder::decode(bytes, maxPixelSize);
        if (!image.isNull())
            return ImageFitting::finished(image, maxPixelSize);
    }
    QBuffer buffer;
    buffer.setData(bytes);
    if (!buffer.open(QIODevice::ReadOnly))
        return {};
    const QByteArray format = QImageReader::imageFormat(&buffer);
    if (format.isEmpty())
        return {};
    return readScaled(&buffer, format, maxPixelSize, false);
}

// A thumbnail left over from before the photo was turned in software shows it sideways.
bool matchesShape(QSize thumbnail, QSize main)
{
    if (thumbnail.isEmpty() || main.isEmpty())
        return true;
    const auto shape = [](QSize s) {
        const double aspect = double(s.width()) / s.height();
        return aspect > 1.2 ? 1 : aspect < 1 / 1.2 ? -1 : 0;
    };
    return shape(thumbnail) * shape(main) >= 0;
}

// ---- the file itself --------------------------------------------------------------------------------------------

// Opens without blocking: a FIFO or device named like a photo must not hang the loader.
class PhotoFile
{
public:
    explicit PhotoFile(const NativePath &path)
    {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0)
            return;
        struct stat info = {};
        if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0
            || !m_file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
            ::close(fd);
            return;
        }
        m_size = info.st_size;
        // Enough for the segments before a camera JPEG's scan, EXIF thumbnail included, in one read.
        m_header = m_file.read(16 * 1024);
    }

    bool isOpen() const { return !m_header.isEmpty(); }
    const QByteArray &header() const { return m_header; }

    // A JPEG's segments up to its first scan (EXIF, thumbnail, frame size), read on as
    // far as they go, so its metadata needs no second open; empty when they run past
    // the limit or the file ends first.
    QByteArray jpegHead()
    {
        constexpr qsizetype cMaxHeadBytes = 256 * 1024;
        const auto byteAt = [this](qsizetype at) { return uchar(m_header.at(at)); };
        qsizetype pos = 2;
        while (true) {
            if (!readHeaderTo(pos + 4, cMaxHeadBytes))
                return {};
            if (byteAt(pos) != 0xFF)
                return {};
            const uchar marker = byteAt(pos + 1);
            if (marker == 0xFF) {
                ++pos; // fill byte
                continue;
            }
            if (marker == 0xDA || marker == 0xD9)
                return m_header.first(pos + 2);
            if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8))
                return {}; // no segments in order: let the library look at the whole file
            pos += 2 + ((byteAt(pos + 2) << 8) | byteAt(pos + 3));
        }
    }

    QByteArray readAll()
    {
        if (m_size > cMaxInMemoryFileBytes || !m_file.seek(0))
            return {};
        return m_file.readAll();
    }

private:
    bool readHeaderTo(qsizetype bytes, qsizetype limit)
    {
        if (bytes <= m_header.size())
            return true;
        if (bytes > limit || bytes > m_size)
            return false;
        // Grown in steps, so a head longer than the first read costs one or two reads more.
        const qsizetype want = std::min<qint64>(std::max(bytes, 4 * m_header.size()), std::min<qint64>(limit, m_size));
        if (!m_file.seek(m_header.size()))
            return false;
        m_header.append(m_file.read(want - m_header.size()));
        return bytes <= m_header.size();
    }

    QFile m_file;
    qint64 m_size = 0;
    QByteArray m_header;
};

// ---- exiv2 ------------------------------------------------------------------------------------------------------

class ExifReader
{
public:
    // head: the file's leading bytes when they hold all its metadata (a JPEG's segments before the scan).
    explicit ExifReader(const NativePath &path, const QByteArray &head = {})
    {
        try {
            if (head.isEmpty())
                m_image.reset(Exiv2::ImageFactory::open(std::string(path.c_str()), false).release());
            else
                m_image.reset(Exiv2::ImageFactory::open(reinterpret_cast<const Exiv2::byte *>(head.constData()),
                                                        long(head.size()))
                                  .release());
            if (!m_image.get())
                return;
            m_image->readMetadata();
            size = QSize(m_image->pixelWidth(), m_image->pixelHeight());
            orientation = ImageFitting::exifOrientation(m_image->exifData());
        } catch (...) {
            m_image.reset();
        }
    }

    bool isOpen() const { return m_image.get() != nullptr; }

    QByteArray thumbnail() const
    {
        if (!isOpen())
            return {};
        try {
            const Exiv2::ExifThumbC thumb(m_image->exifData());
            const Exiv2::DataBuf data = thumb.copy();
            if (data.size_ <= 0 || data.size_ > cMaxThumbnailBytes)
                return {};
            return QByteArray(reinterpret_cast<const char *>(data.pData_), qsizetype(data.size_));
        } catch (...) {
            return {};
        }
    }

    // Tries the previews in order of preference until one decodes: the smallest
    // that still fills the thumbnail, then larger ones, then the too-small ones.
    template<typename Decode>
    QImage firstPreview(int maxPixelSize, Decode decode) const
    {
        if (!isOpen())
            return {};
        try {
            const Exiv2::PreviewManager manager(*m_image);
            Exiv2::PreviewPropertiesList list = manager.getPreviewProperties();
            const auto rank = [maxPixelSize](const Exiv2::PreviewProperties &p) {
                const qint64 longer = std::max(p.width_, p.height_);
                return longer >= maxPixelSize ? longer : ImageFitting::cMaxDecodePixels - longer;
            };
            std::stable_sort(list.begin(), list.end(), [&](const auto &a, const auto &b) { return rank(a) < rank(b); });
            for (const Exiv2::PreviewProperties &properties : list) {
                if (properties.size_ == 0 || properties.size_ > ImageFitting::cMaxEmbeddedBytes)
                    continue;
                const Exiv2::PreviewImage preview = manager.getPreviewImage(properties);
                const QImage image =
                    decode(QByteArray(reinterpret_cast<const char *>(preview.pData()), qsizetype(preview.size())));
                if (!image.isNull())
                    return image;
            }
        } catch (...) { }
        return {};
    }

    QSize size;
    int orientation = 0;

private:
    // Not exiv2's own AutoPtr: that is std::auto_ptr, which clang warns is deprecated.
    std::unique_ptr<Exiv2::Image> m_image;
};

// The embedded thumbnail turned like the main image, when it shows the same picture.
QImage embeddedThumbnail(const QByteArray &bytes, const ExifReader &exif, int maxPixelSize)
{
    QImage image = decodeEmbedded(bytes, maxPixelSize);
    if (image.isNull() || !matchesShape(image.size(), exif.size))
        return {};
    return ImageFitting::finished(ImageFitting::upright(ThumbnailBars::without(image, exif.size), exif.orientation),
                                  maxPixelSize);
}

// The embedded JPEG as it is, when it needs no shrinking and its bars, if it has any, lie above and below:
// nothing of it is decoded but the header, and the decoder is set up, which checks its tables. Its bars are
// found when it is first shown, which decodes it anyway. Nothing when it takes the usual way.
std::optional<CompactThumbnail> keptEmbedded(const QByteArray &bytes, const ExifReader &exif, int maxPixelSize)
{
    if (!bytes.startsWith("\xFF\xD8") || !isCompleteJpeg(bytes))
        return std::nullopt;
    const QSize size = JpegScaledDecoder::checkedSize(bytes);
    if (size.isEmpty() || ImageFitting::fittedSize(size, maxPixelSize) != size || !matchesShape(size, exif.size))
        return std::nullopt;
    const std::optional<ThumbnailBars::Layout> layout = ThumbnailBars::layout(size, exif.size);
    if (!layout)
        return CompactThumbnail::fromEncoded(bytes, QRect(QPoint(0, 0), size), exif.orientation);
    if (!layout->rows)
        return std::nullopt;
    return CompactThumbnail::fromEncoded(bytes, QRect(0, 0, size.width(), layout->content), exif.orientation, true);
}

// ---- camera raw -------------------------------------------------------------------------------------------------

void ignoreDataError(void *, const char *, const int) { }

QImage librawPreview(const NativePath &path, int maxPixelSize, ThumbnailMaker::Result &result)
{
    auto raw = std::make_unique<LibRaw>();
    raw->set_dataerror_handler(ignoreDataError, nullptr);
    if (raw->open_file(path.c_str()) != LIBRAW_SUCCESS)
        return {};
    if (result.imageSize.isEmpty())
        result.imageSize = QSize(raw->imgdata.sizes.width, raw->imgdata.sizes.height);
    if (result.orientation == 0) {
        switch (raw->imgdata.sizes.flip) {
        case 3:
            result.orientation = 3;
            break;
        case 5:
            result.orientation = 8;
            break;
        case 6:
            result.orientation = 6;
            break;
        default:
            break;
        }
    }
    if (raw->unpack_thumb() != LIBRAW_SUCCESS)
        return {};
    int error = 0;
    const std::unique_ptr<libraw_processed_image_t, void (*)(libraw_processed_image_t *)> thumb(
        raw->dcraw_make_mem_thumb(&error), LibRaw::dcraw_clear_mem);
    if (!thumb || error != LIBRAW_SUCCESS)
        return {};
    QImage image;
    if (thumb->type == LIBRAW_IMAGE_JPEG) {
        image = decodeEmbedded(QByteArray(reinterpret_cast<const char *>(thumb->data), thumb->data_size), maxPixelSize);
    } else if (thumb->type == LIBRAW_IMAGE_BITMAP && thumb->colors == 3 && thumb->bits == 8
               && qint64(thumb->width) * thumb->height * 3 <= thumb->data_size) {
        const QImage wrapped(thumb->data, thumb->width, thumb->height, thumb->width * 3, QImage::Format_RGB888);
        image = wrapped.scaled(ImageFitting::fittedSize(wrapped.size(), maxPixelSize), Qt::IgnoreAspectRatio,
                               Qt::SmoothTransformation);
    }
    if (image.isNull() || !matchesShape(image.size(), result.imageSize))
        return {};
    return ImageFitting::finished(
        ImageFitting::upright(ThumbnailBars::without(image, result.imageSize), result.orientation), maxPixelSize);
}

void makeFromRaw(const NativePath &path, const ExifReader &exif, int maxPixelSize, bool thumbnails,
                 ThumbnailMaker::Result &result)
{
    result.imageSize = exif.size;
    result.orientation = exif.orientation;
    if (thumbnails)
        result.image = embeddedThumbnail(exif.thumbnail(), exif, maxPixelSize);
    if (!result.image.isNull()) {
        result.source = ThumbnailMaker::Source::Embedded;
        return;
    }
    result.image = exif.firstPreview(
        maxPixelSize, [&](const QByteArray &bytes) { return embeddedThumbnail(bytes, exif, maxPixelSize); });
    if (!result.image.isNull()) {
        result.source = ThumbnailMaker::Source::RawPreview;
        return;
    }
    result.image = librawPreview(path, maxPixelSize, result);
    if (!result.image.isNull())
        result.source = ThumbnailMaker::Source::RawPreview;
}

// ---- JPEG and the other formats Qt reads -------------------------------------------------------------------------

bool isQtPhotoFormat(const QByteArray &format)
{
    static constexpr std::array<QByteArrayView, 6> formats = {"jpeg", "png", "tiff", "webp", "gif", "bmp"};
    return std::find(formats.begin(), formats.end(), QByteArrayView(format)) != formats.end();
}

bool hasRawSuffix(const NativePath &path)
{
    const QByteArray name = path.fileNameBytes();
    const qsizetype dot = name.lastIndexOf('.');
    if (dot < 0)
        return false;
    const QByteArray suffix = name.mid(dot + 1).toLower();
    return std::find(cRawSuffixes.begin(), cRawSuffixes.end(), QByteArrayView(suffix)) != cRawSuffixes.end();
}

void makeFromQtFormat(PhotoFile &file, const QByteArray &format, const ExifReader &exif, int maxPixelSize,
                      bool thumbnails, ThumbnailMaker::Result &result, std::optional<CompactThumbnail> *kept,
                      int *toTurn)
{
    result.imageSize = exif.size;
    result.orientation = exif.orientation;
    if (kept && thumbnails && (format == "jpeg" || format == "tiff")) {
        *kept = keptEmbedded(exif.thumbnail(), exif, maxPixelSize);
        if (*kept) {
            result.source = ThumbnailMaker::Source::Embedded;
            return;
        }
    }
    if (thumbnails && (format == "jpeg" || format == "tiff")) {
        result.image = embeddedThumbnail(exif.thumbnail(), exif, maxPixelSize);
        if (!result.image.isNull()) {
            result.source = ThumbnailMaker::Source::Embedded;
            return;
        }
    }
    const QByteArray bytes = file.readAll();
    if (bytes.isEmpty() || (format == "jpeg" && !isCompleteJpeg(bytes)))
        return;
    if (format == "jpeg" && toTurn) {
        QSize size;
        result.image = JpegScaledDecoder::decodeGrey(bytes, maxPixelSize, &size);
        if (!result.image.isNull()) {
            if (result.imageSize.isEmpty())
                result.imageSize = size;
            result.source = ThumbnailMaker::Source::ScaledDecode;
            *toTurn = result.orientation;
            return;
        }
    }
    // Pictures read for their barcodes keep the reader's exact pixels.
    if (format == "jpeg" && thumbnails) {
        QSize size;
        const QImage stored = JpegScaledDecoder::decode(bytes, maxPixelSize, &size);
        if (!stored.isNull()) {
            if (result.imageSize.isEmpty())
                result.imageSize = size;
            result.image = ImageFitting::finished(ImageFitting::upright(stored, result.orientation), maxPixelSize);
            result.source = ThumbnailMaker::Source::ScaledDecode;
            return;
        }
    }
    QBuffer buffer;
    buffer.setData(bytes);
    if (!buffer.open(QIODevice::ReadOnly))
        return;
    QSize size;
    result.image = readScaled(&buffer, format, maxPixelSize, true, &size);
    if (result.imageSize.isEmpty())
        result.imageSize = size;
    if (!result.image.isNull())
        result.source = format == "jpeg" ? ThumbnailMaker::Source::ScaledDecode : ThumbnailMaker::Source::OtherFormat;
}

} // namespace

void ThumbnailMaker::initializeLibraries()
{
    static std::once_flag once;
    std::call_once(once, [] {
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
        Exiv2::XmpParser::initialize();
        Exiv2::enableBMFF(true); // CR3 raw files are BMFF containers
        HeifThumbnail::initializeLibrary();
        const int limit = QImageReader::allocationLimit();
        if (limit != 0 && limit < cAllocationLimitMb)
            QImageReader::setAllocationLimit(cAllocationLimitMb);
    });
}

ThumbnailMaker::Result ThumbnailMaker::make(const NativePath &path, int maxPixelSize)
{
    return decode(path, maxPixelSize, true);
}

CompactThumbnail ThumbnailMaker::makeCompact(const NativePath &path)
{
    std::optional<CompactThumbnail> kept;
    const Result result = decode(path, cMaxPixelSize, true, &kept);
    return kept ? *kept : CompactThumbnail::fromImage(result.image);
}

ThumbnailMaker::Result ThumbnailMaker::picture(const NativePath &path, int maxPixelSize)
{
    return decode(path, maxPixelSize, false);
}

ThumbnailMaker::Result ThumbnailMaker::greyPicture(const NativePath &path, int maxPixelSize, int *toTurn)
{
    *toTurn = 0;
    Result result = decode(path, maxPixelSize, false, nullptr, toTurn);
    if (!result.image.isNull() && result.image.format() != QImage::Format_Grayscale8)
        result.image = result.image.convertToFormat(QImage::Format_Grayscale8);
    return result;
}

ThumbnailMaker::Result ThumbnailMaker::decode(const NativePath &path, int maxPixelSize, bool thumbnails,
                                              std::optional<CompactThumbnail> *kept, int *toTurn)
{
    initializeLibraries();
    Result result;
    maxPixelSize = std::max(1, maxPixelSize);
    PhotoFile file(path);
    if (!file.isOpen())
        return result;
    const QByteArray &header = file.header();
    try {
        if (HeifThumbnail::isHeif(header)) {
            HeifThumbnail::make(path, maxPixelSize, thumbnails, result);
            return result;
        }
        // Asking every image plugin costs more than an embedded thumbnail: a JPEG says so in its first bytes.
        QByteArray format;
        if (header.startsWith("\xFF\xD8\xFF")) {
            format = "jpeg";
        } else {
            QBuffer headerBuffer;
            headerBuffer.setData(header);
            headerBuffer.open(QIODevice::ReadOnly);
            format = QImageReader::imageFormat(&headerBuffer);
        }
        if (hasRawSuffix(path) && format != "jpeg") {
            makeFromRaw(path, ExifReader(path), maxPixelSize, thumbnails, result);
            return result;
        }
        if (isQtPhotoFormat(format))
            makeFromQtFormat(file, format, ExifReader(path, format == "jpeg" ? file.jpegHead() : QByteArray()),
                             maxPixelSize, thumbnails, result, kept, toTurn);
    } catch (const std::exception &error) {
        logLine(u"No thumbnail for "_s + path.toString() + u": "_s + QString::fromLocal8Bit(error.what()));
        result = {};
    } catch (...) {
        result = {};
    }
    return result;
}

QString ThumbnailMaker::sourceName(Source source)
{
    switch (source) {
    case Source::None:
        return u"none"_s;
    case Source::Embedded:
        return u"embedded"_s;
    case Source::ScaledDecode:
        return u"scaled decode"_s;
    case Source::RawPreview:
        return u"raw preview"_s;
    case Source::HeifThumbnail:
        return u"heif thumbnail"_s;
    case Source::HeifImage:
        return u"heif image"_s;
    case Source::OtherFormat:
        return u"other format"_s;
    }
    return u"none"_s;
}
