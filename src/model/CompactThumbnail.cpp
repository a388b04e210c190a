#include "CompactThumbnail.h"

#include "ImageFitting.h"
#include "ThumbnailBars.h"

#include <QBuffer>
#include <QCache>
#include <QImageReader>
#include <QImageWriter>
#include <QMutex>
#include <QMutexLocker>
#include <QSysInfo>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>

namespace {
constexpr int cJpegQuality = 90;

struct CompressError
{
    jpeg_error_mgr base;
    std::jmp_buf jump;
};

[[noreturn]] void jumpOnCompressError(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<CompressError *>(info->err)->jump, 1);
}

// libjpeg itself, as Qt's writer would call it, without the writer's plugin look-up and row
// conversions: for a folder of thousands these cost more than the compression. libjpeg leaves
// with longjmp, so only plain data lives on this frame until the bytes are copied out.
QByteArray encodeRgb32(const QImage &image)
{
    jpeg_compress_struct info = {};
    CompressError error = {};
    unsigned char *out = nullptr;
    unsigned long outSize = 0;
    info.err = jpeg_std_error(&error.base);
    error.base.error_exit = jumpOnCompressError;
    if (setjmp(error.jump)) {
        jpeg_destroy_compress(&info);
        std::free(out);
        return {};
    }
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, &out, &outSize);
    info.image_width = JDIMENSION(image.width());
    info.image_height = JDIMENSION(image.height());
    info.input_components = 4;
    info.in_color_space = JCS_EXT_BGRX;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, cJpegQuality, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        auto row = const_cast<JSAMPROW>(image.constScanLine(int(info.next_scanline)));
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    QByteArray bytes(reinterpret_cast<const char *>(out), qsizetype(outSize));
    std::free(out);
    return bytes;
}

QMutex g_lock;
QCache<QByteArray, QImage> &decoded()
{
    // Keyed by the bytes themselves (QByteArray hashing is cheap next to decoding,
    // and identical thumbnails share one image).
    static QCache<QByteArray, QImage> cache(600);
    return cache;
}
} // namespace

CompactThumbnail CompactThumbnail::fromImage(const QImage &image)
{
    CompactThumbnail t;
    if (image.isNull())
        return t;
    QBuffer buffer(&t.m_bytes);
    buffer.open(QIODevice::WriteOnly);
    const bool alpha = image.hasAlphaChannel();
    if (image.format() == QImage::Format_RGB32 && QSysInfo::ByteOrder == QSysInfo::LittleEndian) {
        t.m_bytes = encodeRgb32(image);
        if (!t.m_bytes.isEmpty()) {
            t.m_size = image.size();
            return t;
        }
    }
    QImageWriter writer(&buffer, alpha ? "png" : "jpeg");
    if (!alpha)
        writer.setQuality(cJpegQuality);
    if (!writer.write(image))
        t.m_bytes.clear();
    t.m_size = image.size();
    return t;
}

CompactThumbnail CompactThumbnail::fromBytes(const QByteArray &bytes, const QSize &size, quint64 shape)
{
    CompactThumbnail t;
    t.m_bytes = bytes;
    t.m_size = size;
    t.m_shape = shape;
    return t;
}

namespace {
// 12 bits for each side of the crop and 4 for the orientation; bit 52 says the bars above and below are still
// to be found (the crop then gives the lines of picture between them); bit 63 says a shape is there.
constexpr quint64 cShaped = 1ULL << 63;
constexpr quint64 cBarsToFind = 1ULL << 52;

quint64 packShape(QRect crop, int orientation, bool barsToFind)
{
    const auto field = [](int value, int shift) { return quint64(value & 0xFFF) << shift; };
    return cShaped | field(crop.x(), 0) | field(crop.y(), 12) | field(crop.width(), 24) | field(crop.height(), 36)
        | (quint64(orientation & 0xF) << 48) | (barsToFind ? cBarsToFind : 0);
}

QRect cropOf(quint64 shape)
{
    const auto field = [shape](int shift) { return int((shape >> shift) & 0xFFF); };
    return {field(0), field(12), field(24), field(36)};
}

int orientationOf(quint64 shape)
{
    return int((shape >> 48) & 0xF);
}
} // namespace

CompactThumbnail CompactThumbnail::fromEncoded(const QByteArray &jpeg, QRect crop, int orientation, bool barsToFind)
{
    CompactThumbnail t;
    t.m_bytes = jpeg;
    t.m_shape = packShape(crop, orientation, barsToFind);
    QSize shown = crop.size();
    if (orientation >= 5 && orientation <= 8)
        shown.transpose();
    t.m_size = shown;
    return t;
}

QImage CompactThumbnail::image() const
{
    if (m_bytes.isEmpty())
        return {};
    // Bytes kept as the camera wrote them may be shown cut or turned in more than one way.
    const QByteArray key = m_shape == 0 ? m_bytes : m_bytes + QByteArray::number(m_shape);
    {
        QMutexLocker locker(&g_lock);
        if (const QImage *hit = decoded().object(key))
            return *hit;
    }
    QImage image = QImage::fromData(m_bytes);
    if (image.isNull())
        return image;
    if (m_shape != 0) {
        QRect crop = cropOf(m_shape);
        if (m_shape & cBarsToFind)
            crop = ThumbnailBars::picture(
                image, ThumbnailBars::Layout {true, image.height(), crop.height(), image.height() - crop.height()});
        if (!crop.isEmpty() && crop != image.rect())
            image = image.copy(crop);
        image = ImageFitting::upright(image, orientationOf(m_shape));
        if (image.format() != QImage::Format_RGB32)
            image.convertTo(QImage::Format_RGB32);
    }
    QMutexLocker locker(&g_lock);
    decoded().insert(key, new QImage(image), 1);
    return image;
}

void CompactThumbnail::setDecodedCacheCapacity(int images)
{
    QMutexLocker locker(&g_lock);
    decoded().setMaxCost(images);
}

int CompactThumbnail::decodedCacheCount()
{
    QMutexLocker locker(&g_lock);
    return int(decoded().count());
}
