#pragma once

#include <QString>
#include <QUrl>

// How a photo's file name carries its barcode id: the first "_"-separated part
// of the base name, spaces counting as separators.
class FileNameConvention
{
public:
    // The barcode id of a name without any separator.
    static const QString cOriginalFileNameMarker; // "?originalFileName?"

    // Reads the barcode id from a file name or path (only the last component counts).
    static QString barcodeIdForName(const QString &fileNameOrPath);
    static QString barcodeIdForUrl(const QUrl &url);

    // A photo not tied to any barcode: its base name, lower-cased, begins with "?" or "unknown".
    static bool isUnknownPhoto(const QString &path);
};
