#include "CameraExif.h"

#include <QPainter>

// exiv2 0.27 still spells its smart pointers std::auto_ptr.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <exiv2/exiv2.hpp>
#pragma GCC diagnostic pop

using namespace Qt::StringLiterals;

namespace {

constexpr QSize cThumbnailSize {160, 120};

} // namespace

QImage CameraExif::thumbnailOf(const QImage &stored)
{
    QImage reduced = stored;
    if (stored.width() > 4 * cThumbnailSize.width() || stored.height() > 4 * cThumbnailSize.height())
        reduced = stored.scaled(cThumbnailSize * 4, Qt::KeepAspectRatio, Qt::FastTransformation);
    const QImage fitted = reduced.scaled(cThumbnailSize, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    QImage thumbnail(cThumbnailSize, QImage::Format_RGB888);
    thumbnail.fill(Qt::black);
    QPainter p(&thumbnail);
    p.drawImage((cThumbnailSize.width() - fitted.width()) / 2, (cThumbnailSize.height() - fitted.height()) / 2, fitted);
    return thumbnail;
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
QByteArray CameraExif::segment(const DemoCardPlan::Photo &photo, const DemoCanvas &c, const QByteArray &thumbnail,
                               QString *error)
{
    Exiv2::Blob blob;
    try {
        Exiv2::ExifData exif;
        const std::string when = photo.shot.toString(u"yyyy:MM:dd HH:mm:ss"_s).toStdString();
        exif["Exif.Image.Make"] = std::string("Canon");
        exif["Exif.Image.Model"] = std::string("Canon EOS 5D Mark IV");
        exif["Exif.Image.Orientation"] = uint16_t(c.orientation);
        exif["Exif.Image.XResolution"] = Exiv2::URational(72, 1);
        exif["Exif.Image.YResolution"] = Exiv2::URational(72, 1);
        exif["Exif.Image.ResolutionUnit"] = uint16_t(2);
        exif["Exif.Image.DateTime"] = when;
        exif["Exif.Photo.ExposureTime"] = Exiv2::URational(1, 125);
        exif["Exif.Photo.FNumber"] = Exiv2::URational(56, 10);
        exif["Exif.Photo.ISOSpeedRatings"] = uint16_t(100);
        exif["Exif.Photo.DateTimeOriginal"] = when;
        exif["Exif.Photo.DateTimeDigitized"] = when;
        exif["Exif.Photo.FocalLength"] = Exiv2::URational(85, 1);
        exif["Exif.Photo.ColorSpace"] = uint16_t(1);
        exif["Exif.Photo.PixelXDimension"] = uint32_t(c.stored.width());
        exif["Exif.Photo.PixelYDimension"] = uint32_t(c.stored.height());
        if (!thumbnail.isEmpty()) {
            Exiv2::ExifThumb(exif).setJpegThumbnail(reinterpret_cast<const Exiv2::byte *>(thumbnail.constData()),
                                                    long(thumbnail.size()), Exiv2::URational(72, 1),
                                                    Exiv2::URational(72, 1), 2);
        }
        Exiv2::ExifParser::encode(blob, Exiv2::littleEndian, exif);
    } catch (const std::exception &e) {
        *error =
            u"could not make the EXIF data of "_s + photo.relativePath + u": "_s + QString::fromStdString(e.what());
        return {};
    }
    static constexpr char cHeader[] = "Exif\0";
    const qsizetype length = 2 + qsizetype(sizeof cHeader) + qsizetype(blob.size());
    if (length > 0xffff) {
        *error = u"the EXIF data of "_s + photo.relativePath + u" is too large"_s;
        return {};
    }
    QByteArray segment;
    segment.reserve(2 + length);
    segment.append(char(0xff)).append(char(0xe1)).append(char(length >> 8)).append(char(length & 0xff));
    segment.append(cHeader, sizeof cHeader);
    segment.append(reinterpret_cast<const char *>(blob.data()), qsizetype(blob.size()));
    return segment;
}
#pragma GCC diagnostic pop

qsizetype CameraExif::jpegBodyOffset(const QByteArray &jpeg)
{
    const auto byte = [&](qsizetype i) { return uchar(jpeg.at(i)); };
    if (jpeg.size() > 6 && byte(2) == 0xff && byte(3) == 0xe0)
        return std::min(jpeg.size(), 4 + (qsizetype(byte(4)) << 8 | byte(5)));
    return 2;
}
