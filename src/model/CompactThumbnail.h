#pragma once

#include <QByteArray>
#include <QImage>
#include <QRect>
#include <QSize>

// A thumbnail kept compressed: a few kilobytes of JPEG (PNG where it has
// transparency) instead of 70 KB of pixels, so every photo of a large folder
// can keep one. Decoded images are made on demand and only a bounded number
// of them is kept.
class CompactThumbnail
{
public:
    CompactThumbnail() = default; // no thumbnail
    static CompactThumbnail fromImage(const QImage &image);
    static CompactThumbnail fromBytes(const QByteArray &bytes, const QSize &size, quint64 shape = 0);
    // A small JPEG kept as the camera wrote it: shown cut to crop (its black bars
    // left out; an empty rectangle keeps all of it) and turned by the EXIF orientation,
    // so thousands of thumbnails cost no decoding and re-encoding before one is shown.
    // barsToFind: the bars above and below are found when it is first decoded, and crop
    // gives only the lines of picture between them.
    static CompactThumbnail fromEncoded(const QByteArray &jpeg, QRect crop, int orientation, bool barsToFind = false);

    bool isNull() const { return m_bytes.isEmpty(); }
    const QByteArray &bytes() const { return m_bytes; }
    // As shown: cut and turned (with bars still to be found, as if they were there).
    QSize size() const { return m_size; }
    // How the bytes are cut and turned, packed for storage (0: shown as decoded).
    quint64 shape() const { return m_shape; }
    // The decoded image (shared with the bounded cache of recently decoded ones).
    QImage image() const;

    // How many decoded thumbnails are kept at most (the screen's worth and some).
    static void setDecodedCacheCapacity(int images);
    static int decodedCacheCount();

private:
    QByteArray m_bytes;
    QSize m_size;
    quint64 m_shape = 0;
};
