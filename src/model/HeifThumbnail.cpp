#include "HeifThumbnail.h"

#include "ImageFitting.h"

#include <QList>
#include <algorithm>
#include <exiv2/exiv2.hpp>
#include <libheif/heif.h>
#include <memory>

namespace {

struct HeifDeleter
{
    void operator()(heif_context *context) const { heif_context_free(context); }
    void operator()(heif_image_handle *handle) const { heif_image_handle_release(handle); }
    void operator()(heif_image *image) const { heif_image_release(image); }
    void operator()(heif_decoding_options *options) const { heif_decoding_options_free(options); }
};
template<typename T>
using HeifPtr = std::unique_ptr<T, HeifDeleter>;

// For the result only: libheif turns the picture by the container's own
// transforms, and the EXIF copy of the orientation must not be applied again.
int heifExifOrientation(heif_image_handle *handle)
{
    heif_item_id id = 0;
    if (heif_image_handle_get_list_of_metadata_block_IDs(handle, "Exif", &id, 1) != 1)
        return 0;
    const size_t size = heif_image_handle_get_metadata_size(handle, id);
    if (size < 8 || size > size_t(ImageFitting::cMaxEmbeddedBytes))
        return 0;
    QByteArray block(qsizetype(size), Qt::Uninitialized);
    if (heif_image_handle_get_metadata(handle, id, block.data()).code != heif_error_Ok)
        return 0;
    const auto *bytes = reinterpret_cast<const uchar *>(block.constData());
    const quint32 offset = (quint32(bytes[0]) << 24) | (quint32(bytes[1]) << 16) | (quint32(bytes[2]) << 8) | bytes[3];
    if (offset > size - 8)
        return 0;
    try {
        Exiv2::ExifData exif;
        Exiv2::ExifParser::decode(exif, bytes + 4 + offset, uint32_t(size - 4 - offset));
        return ImageFitting::exifOrientation(exif);
    } catch (...) {
        return 0;
    }
}

// The pixels are copied (or scaled into a new image) before libheif's buffer goes away.
QImage decodeHeif(heif_image_handle *handle, int maxPixelSize)
{
    const bool alpha = heif_image_handle_has_alpha_channel(handle);
    const HeifPtr<heif_decoding_options> options(heif_decoding_options_alloc());
    if (options && options->version >= 2)
        options->convert_hdr_to_8bit = 1;
    heif_image *decoded = nullptr;
    const heif_error error =
        heif_decode_image(handle, &decoded, heif_colorspace_RGB,
                          alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, options.get());
    const HeifPtr<heif_image> image(decoded);
    if (error.code != heif_error_Ok || !image)
        return {};
    int stride = 0;
    const uint8_t *pixels = heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    const int width = heif_image_get_width(image.get(), heif_channel_interleaved);
    const int height = heif_image_get_height(image.get(), heif_channel_interleaved);
    if (!pixels || width <= 0 || height <= 0
        || heif_image_get_bits_per_pixel(image.get(), heif_channel_interleaved) != (alpha ? 32 : 24))
        return {};
    const QImage::Format format = !alpha                   ? QImage::Format_RGB888
        : heif_image_handle_is_premultiplied_alpha(handle) ? QImage::Format_RGBA8888_Premultiplied
                                                           : QImage::Format_RGBA8888;
    const QImage wrapped(pixels, width, height, stride, format);
    const QSize target = ImageFitting::fittedSize(wrapped.size(), maxPixelSize);
    return target == wrapped.size() ? wrapped.copy()
                                    : wrapped.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

} // namespace

void HeifThumbnail::initializeLibrary()
{
    heif_init(nullptr);
}

bool HeifThumbnail::isHeif(const QByteArray &header)
{
    return heif_check_filetype(reinterpret_cast<const uint8_t *>(header.constData()), int(header.size()))
        == heif_filetype_yes_supported;
}

void HeifThumbnail::make(const NativePath &path, int maxPixelSize, bool thumbnails, ThumbnailMaker::Result &result)
{
    const HeifPtr<heif_context> context(heif_context_alloc());
    if (!context || heif_context_read_from_file(context.get(), path.c_str(), nullptr).code != heif_error_Ok)
        return;
    heif_image_handle *primaryHandle = nullptr;
    if (heif_context_get_primary_image_handle(context.get(), &primaryHandle).code != heif_error_Ok)
        return;
    const HeifPtr<heif_image_handle> primary(primaryHandle);
    result.imageSize =
        QSize(heif_image_handle_get_ispe_width(primary.get()), heif_image_handle_get_ispe_height(primary.get()));
    result.orientation = heifExifOrientation(primary.get());

    // The smallest thumbnail item that still fills the thumbnail, else the largest.
    const int count = thumbnails ? std::clamp(heif_image_handle_get_number_of_thumbnails(primary.get()), 0, 16) : 0;
    QList<heif_item_id> ids(count);
    heif_image_handle_get_list_of_thumbnail_IDs(primary.get(), ids.data(), count);
    HeifPtr<heif_image_handle> best;
    int bestLonger = 0;
    for (const heif_item_id id : std::as_const(ids)) {
        heif_image_handle *handle = nullptr;
        if (heif_image_handle_get_thumbnail(primary.get(), id, &handle).code != heif_error_Ok)
            continue;
        HeifPtr<heif_image_handle> thumbnail(handle);
        const int longer =
            std::max(heif_image_handle_get_width(thumbnail.get()), heif_image_handle_get_height(thumbnail.get()));
        const bool better =
            !best || (bestLonger < maxPixelSize ? longer > bestLonger : longer >= maxPixelSize && longer < bestLonger);
        if (better) {
            best = std::move(thumbnail);
            bestLonger = longer;
        }
    }
    if (best) {
        result.image = ImageFitting::finished(decodeHeif(best.get(), maxPixelSize), maxPixelSize);
        if (!result.image.isNull()) {
            result.source = ThumbnailMaker::Source::HeifThumbnail;
            return;
        }
    }
    if (ImageFitting::pixelCount(result.imageSize) > ImageFitting::cMaxDecodePixels)
        return;
    result.image = ImageFitting::finished(decodeHeif(primary.get(), maxPixelSize), maxPixelSize);
    if (!result.image.isNull())
        result.source = ThumbnailMaker::Source::HeifImage;
}
