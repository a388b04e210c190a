#pragma once

#include "BarcodeScanScheduler.h"
#include "model/ImageFile.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QUrl>
#include <QVariantMap>
#include <functional>

class BarcodeCache;

// The codes read so far in each photo of the folder shown, by path, filled in by a
// background scan that starts anew with each listing.
class BarcodeReadings : public QObject
{
    Q_OBJECT

public:
    explicit BarcodeReadings(BarcodeCache &cache, QObject *parent = nullptr);

    BarcodeScanScheduler *scanner() { return &m_scanner; }
    // Forgets every reading first: a file written anew under an old name must not keep
    // its predecessor's. Readings still valid come back at once.
    void start(const QList<ImageFilePtr> &files);

    // The badge a photo's thumbnail shows: the first code, and how many more there are.
    static QString badgeText(const QStringList &codes);
    QString badgeFor(const QString &path) const { return badgeText(m_readings.value(path)); }

    // A group: a barcode photo and the photos after it (before it, in reverse) up to the next
    // barcode photo. Only groups read through to the next barcode photo read are found: a photo
    // not yet read may be a barcode photo that takes the rest of its group.
    struct Found
    {
        QList<QUrl> barcodePhotos; // in the folder's order
        QVariantMap codesOf; // path -> the codes read in it
        QList<QUrl> groupedPhotos; // the photos of the groups found, in the folder's order
        qsizetype unread = 0;
        qsizetype waiting = 0; // photos of groups not found for want of a reading, the unread among them
        qsizetype leftOut = 0; // photos leaveOut named
    };
    // A photo leaveOut names ends the group before it and, with the photos after it up to the
    // next barcode photo, is found in none.
    Found find(const QList<ImageFilePtr> &files, bool reverse = false,
               const std::function<bool(qsizetype index)> &leaveOut = {}) const;

Q_SIGNALS:
    void changed();

private:
    // An empty list: read, and nothing found.
    QHash<QString, QStringList> m_readings;
    // Declared last, so it goes first: what it hands over while stopping lands in m_readings.
    BarcodeScanScheduler m_scanner;
};
