#pragma once

#include "CompactThumbnail.h"
#include "support/NativePath.h"

#include <QImage>
#include <QSize>
#include <optional>

// Makes the small upright preview of a photo file, as cheaply as the file
// allows: the embedded EXIF thumbnail when there is one, a scaled JPEG decode,
// a raw file's embedded preview, a HEIF thumbnail item, or a scaled decode of
// any other image format. Never decodes a full-size image when a smaller
// source exists, never keeps one in memory. Thread-safe: the loader calls it
// from several threads at once.
class ThumbnailMaker
{
public:
    static constexpr int cMaxPixelSize = 160;

    enum class Source
    {
        None,
        Embedded,
        ScaledDecode,
        RawPreview,
        HeifThumbnail,
        HeifImage,
        OtherFormat
    };

    struct Result
    {
        QImage image; // null when the file gives no thumbnail
        Source source = Source::None;
        QSize imageSize; // pixel size of the photo itself (stored orientation), when known
        int orientation = 0; // EXIF orientation 1-8, 0 when absent
    };

    static Result make(const NativePath &path, int maxPixelSize = cMaxPixelSize);
    // The thumbnail at cMaxPixelSize as it is kept: an embedded JPEG small enough is
    // kept as the camera wrote it (with its cut and turn), anything else is made and compressed.
    static CompactThumbnail makeCompact(const NativePath &path);
    // The picture itself at up to maxPixelSize, for reading what it shows: never
    // an embedded thumbnail, which is too coarse for that (a raw file still gives
    // its embedded preview, the nearest to the picture it holds).
    static Result picture(const NativePath &path, int maxPixelSize);
    // The picture's brightness alone (Grayscale8) at up to maxPixelSize, for reading codes. A JPEG
    // is given as stored, and toTurn gets its EXIF orientation (ImageFitting::upright puts it upright):
    // turning a 24 MP picture costs more than turning the parts of it that are read. Any other file is
    // given upright, toTurn 0.
    static Result greyPicture(const NativePath &path, int maxPixelSize, int *toTurn);
    static QString sourceName(Source source); // "embedded", "scaled decode", "raw preview", ...

    // exiv2 needs its XMP parser set up once before threads use it.
    static void initializeLibraries();

private:
    static Result decode(const NativePath &path, int maxPixelSize, bool thumbnails,
                         std::optional<CompactThumbnail> *kept = nullptr, int *toTurn = nullptr);
};
