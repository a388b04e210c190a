#include "ImageFitting.h"

#include <QTransform>
#include <algorithm>
#include <exiv2/exiv2.hpp>

QSize ImageFitting::fittedSize(QSize size, int maxPixelSize)
{
    const int longer = std::max(size.width(), size.height());
    if (longer <= maxPixelSize || longer <= 0)
        return size;
    const double factor = double(maxPixelSize) / longer;
    return {std::max(1, qRound(size.width() * factor)), std::max(1, qRound(size.height() * factor))};
}

QImage ImageFitting::finished(QImage image, int maxPixelSize)
{
    if (image.isNull())
        return {};
    const QSize target = fittedSize(image.size(), maxPixelSize);
    if (target != image.size())
        image = image.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    const QImage::Format format = image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32;
    if (image.format() != format)
        image.convertTo(format);
    image.setDevicePixelRatio(1);
    return image;
}

// The same mapping Qt uses for EXIF orientation: mirror or flip first, then turn clockwise.
QImage ImageFitting::upright(const QImage &image, int orientation)
{
    switch (orientation) {
    case 2:
        return image.mirrored(true, false);
    case 3:
        return image.mirrored(true, true);
    case 4:
        return image.mirrored(false, true);
    case 5:
        return image.mirrored(false, true).transformed(QTransform().rotate(90));
    case 6:
        return image.transformed(QTransform().rotate(90));
    case 7:
        return image.mirrored(true, false).transformed(QTransform().rotate(90));
    case 8:
        return image.transformed(QTransform().rotate(270));
    default:
        return image;
    }
}

int ImageFitting::exifOrientation(const Exiv2::ExifData &exif)
{
    for (const char *key : {"Exif.Image.Orientation", "Exif.PanasonicRaw.Orientation"}) {
        const auto it = exif.findKey(Exiv2::ExifKey(key));
        if (it != exif.end() && it->count() > 0) {
            const long value = it->toLong();
            if (value >= 1 && value <= 8)
                return int(value);
        }
    }
    return 0;
}
