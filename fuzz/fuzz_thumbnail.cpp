// Thumbnails are made from whatever lies on a card: damaged, truncated or
// hostile JPEG, TIFF, PNG, HEIF and raw files. The last byte picks the file's
// suffix, which decides whether the raw path is tried.
#include "FuzzSupport.h"
#include "model/ThumbnailMaker.h"

#include <array>

using namespace Qt::StringLiterals;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const std::array<QString, 6> suffixes = {u"jpg"_s, u"tif"_s, u"png"_s, u"heic"_s, u"cr2"_s, u"dng"_s};
    const QString suffix = size > 0 ? suffixes[data[size - 1] % suffixes.size()] : suffixes[0];
    const QString path = FuzzSupport::writeScratchFile(u"card/photo."_s + suffix, FuzzSupport::bytes(data, size));
    const ThumbnailMaker::Result result = ThumbnailMaker::make(NativePath(path));
    if (!result.image.isNull()) {
        FUZZ_REQUIRE(std::max(result.image.width(), result.image.height()) <= ThumbnailMaker::cMaxPixelSize,
                     ThumbnailMaker::sourceName(result.source));
        FUZZ_REQUIRE(result.image.format() == QImage::Format_RGB32
                         || result.image.format() == QImage::Format_ARGB32_Premultiplied,
                     ThumbnailMaker::sourceName(result.source));
    }
    return 0;
}
