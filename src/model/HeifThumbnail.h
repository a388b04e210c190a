#pragma once

#include "ThumbnailMaker.h"

// The preview of a HEIF photo: the smallest thumbnail item that still fills the
// thumbnail, else the primary image decoded and scaled. libheif turns the picture
// by the container's own transforms; the EXIF orientation is only reported.
class HeifThumbnail
{
public:
    static void initializeLibrary();
    // From the first bytes of the file.
    static bool isHeif(const QByteArray &header);
    // Fills in what it can: the photo's size and orientation even when no picture decodes.
    static void make(const NativePath &path, int maxPixelSize, bool thumbnails, ThumbnailMaker::Result &result);
};
