#pragma once

#include <QDateTime>
#include <QList>
#include <QSize>
#include <QString>

struct DemoCardOptions
{
    QString dir;
    int groups = 1;
    int photosPerGroup = 0;
    // As the sensor stores it, like a camera: orientations 5-8 show it as height x width.
    QSize size {6000, 4000};
    bool exifThumbnail = true;
    int orientation = 1;
    int quality = 90;
    quint64 seed = 0;
    int startNumber = 1;
};

// What a demo card holds, in shooting order: per customer a photo of a barcode
// card, then that customer's photos, named and timed as a camera would.
class DemoCardPlan
{
public:
    struct Photo
    {
        QString relativePath; // "DCIM/100CANON/IMG_0001.JPG"
        int group = 0;
        bool barcodePhoto = false;
        QString barcode; // only on barcode photos
        QDateTime shot; // the camera's local clock, as EXIF records it
    };

    static constexpr int cMaxPhotos = 1000000;
    static constexpr int cFilesPerFolder = 9999;

    static QList<Photo> photos(const DemoCardOptions &options);
    // EAN-13 in the restricted-circulation range (prefix 2), unique per group.
    static QString barcodeForGroup(quint64 seed, int group);
};
