#pragma once

#include "PhotoRenderer.h"

#include <QDateTime>
#include <QString>

// One photo file of the card, dated as shot.
class PhotoFile
{
public:
    // Written under a hidden temporary name and renamed, so a failed or
    // interrupted run never leaves a cut-off JPEG that looks like a photo.
    static bool write(const QString &path, const PhotoRenderer::Rendered &photo, const QDateTime &shot, QString *error);
};
