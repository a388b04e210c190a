#pragma once

#include <QList>
#include <QString>

// A camera card written by `lumisort-cli make-card`, read back from its manifest.
class DemoCard
{
public:
    struct Photo
    {
        QString path; // absolute
        int group = 0;
        bool barcodePhoto = false;
        QString barcode; // of the group
    };

    // Writes a card into folder (small photos unless a size is given); empty on failure.
    static DemoCard make(const QString &folder, int groups, int photosPerGroup,
                         const QString &size = QStringLiteral("320x240"), const QStringList &extraArgs = {});
    bool isValid() const { return !photos.isEmpty(); }

    // Copies the photos into a working folder as a corrected card looks: every
    // photo named "<barcode>_<camera name>", barcode photos included, file times kept.
    QStringList copyAssigned(const QString &workingFolder) const;
    // Copies the photos unchanged (camera names), file times kept.
    QStringList copyAsShot(const QString &workingFolder) const;

    QString folder;
    QList<Photo> photos;
};
