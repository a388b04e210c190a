#pragma once

#include <QString>

// Which files count as photos: whatever the shared MIME database calls an image
// (JPEG, TIFF, PNG, HEIC/HEIF, WebP, every camera raw type ...), judged by name
// when the name has an extension (a sidecar never counts, whatever it holds),
// and by content only when it has none.
class ImageTypes
{
public:
    static bool isImageFile(const QString &path);
};
