#pragma once

#include <QImage>
#include <QSize>

namespace Exiv2 {
class ExifData;
}

// Shapes whatever a photo file gave into a thumbnail: the size it is fitted to,
// upright by its EXIF orientation, in the pixel format the grid paints fastest.
class ImageFitting
{
public:
    // Above this, a "photo" is a decompression bomb or garbage, never a camera file.
    static constexpr qint64 cMaxDecodePixels = 256LL * 1000 * 1000;
    // Raw files carry full-size JPEG previews of a few megabytes; more than this is broken metadata.
    static constexpr qsizetype cMaxEmbeddedBytes = 64LL * 1024 * 1024;

    static QSize fittedSize(QSize size, int maxPixelSize);
    static qint64 pixelCount(QSize size) { return qint64(size.width()) * size.height(); }
    // Every thumbnail leaves in one of two formats at display size, whatever its source.
    static QImage finished(QImage image, int maxPixelSize);
    static QImage upright(const QImage &image, int orientation);
    // 1-8, or 0 when the EXIF data gives none (raw files of some makers keep it under their own key).
    static int exifOrientation(const Exiv2::ExifData &exif);
};
