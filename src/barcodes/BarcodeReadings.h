#pragma once

#include "BarcodeScanScheduler.h"
#include "model/ImageFile.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QUrl>
#include <QVariantMap>

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

    struct Found
    {
        QList<QUrl> barcodePhotos; // in the folder's order
        QVariantMap codesOf; // path -> the codes read in it
        qsizetype unread = 0;
    };
    Found find(const QList<ImageFilePtr> &files) const;

Q_SIGNALS:
    void changed();

private:
    // An empty list: read, and nothing found.
    QHash<QString, QStringList> m_readings;
    // Declared last, so it goes first: what it hands over while stopping lands in m_readings.
    BarcodeScanScheduler m_scanner;
};
