#include "CompactThumbnail.h"

#include <QBuffer>
#include <QCache>
#include <QImageReader>
#include <QImageWriter>
#include <QMutex>
#include <QMutexLocker>

namespace {
constexpr int cJpegQuality = 90;

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
    QImageWriter writer(&buffer, alpha ? "png" : "jpeg");
    if (!alpha)
        writer.setQuality(cJpegQuality);
    if (!writer.write(image))
        t.m_bytes.clear();
    t.m_size = image.size();
    return t;
}

CompactThumbnail CompactThumbnail::fromBytes(const QByteArray &bytes, const QSize &size)
{
    CompactThumbnail t;
    t.m_bytes = bytes;
    t.m_size = size;
    return t;
}

QImage CompactThumbnail::image() const
{
    if (m_bytes.isEmpty())
        return {};
    {
        QMutexLocker locker(&g_lock);
        if (const QImage *hit = decoded().object(m_bytes))
            return *hit;
    }
    QImage image = QImage::fromData(m_bytes);
    if (image.isNull())
        return image;
    QMutexLocker locker(&g_lock);
    decoded().insert(m_bytes, new QImage(image), 1);
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
