#pragma once

#include <QString>

// Which files count as photos: whatever the shared MIME database calls an image
// (JPEG, TIFF, PNG, HEIC/HEIF, WebP, every camera raw type ...), judged by name
// and, where the name says nothing, by content.
class ImageTypes
{
public:
    static bool isImageFile(const QString &path);
};
