#pragma once

#include <QSizeF>
#include <QString>

// Separator between the barcode id and the rest of a photo's file name.
inline const QString cDefaultComponentSeparator1 = QStringLiteral("_");
// Name of the folder that takes photos without a barcode.
inline const QString cStringForUNASSIGNED_PHOTOS = QStringLiteral("UNASSIGNED_PHOTOS");
// Thumbnail item size at zoom factor 1, and the zoom limits.
inline constexpr QSizeF cDefaultItemSize {200.0, 200.0};
inline constexpr double cMinScaleFactor = 0.75;
inline constexpr double cMaxScaleFactor = 3.0;
