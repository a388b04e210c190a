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

// A camera card as a school photographer brings it back: per customer a photo
// of a barcode card, then that customer's photos. Everything but the run time
// follows from the options, so tests and benchmarks can rely on the content.
class DemoCardWriter
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

    explicit DemoCardWriter(const DemoCardOptions &options);

    // Every photo in shooting order.
    const QList<Photo> &photos() const { return m_photos; }
    // Writes the photos, then the manifest; false with a message on the first failure.
    bool write(QString *error);
    qint64 bytesWritten() const { return m_bytesWritten; }

    static QString manifestFileName();
    // EAN-13 in the restricted-circulation range (prefix 2), unique per group.
    static QString barcodeForGroup(quint64 seed, int group);

private:
    bool writeManifest(QString *error) const;

    DemoCardOptions m_options;
    QList<Photo> m_photos;
    qint64 m_bytesWritten = 0;
};
