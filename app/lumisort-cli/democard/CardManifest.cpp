#include "CardManifest.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

using namespace Qt::StringLiterals;

QString CardManifest::fileName()
{
    return u"lumisort-card.json"_s;
}

bool CardManifest::write(const DemoCardOptions &options, const QList<DemoCardPlan::Photo> &photos, QString *error)
{
    QJsonArray entries;
    for (const DemoCardPlan::Photo &photo : photos) {
        QJsonObject entry {{u"path"_s, photo.relativePath},
                           {u"group"_s, photo.group},
                           {u"barcodePhoto"_s, photo.barcodePhoto},
                           {u"shot"_s, photo.shot.toString(Qt::ISODate)}};
        if (photo.barcodePhoto)
            entry.insert(u"barcode"_s, photo.barcode);
        entries.append(entry);
    }
    const QString size = QString::number(options.size.width()) + u"x"_s + QString::number(options.size.height());
    const QJsonObject manifest {
        {u"photos"_s, entries},
        {u"groups"_s, options.groups},
        {u"photosPerGroup"_s, options.photosPerGroup},
        {u"size"_s, size},
        {u"orientation"_s, options.orientation},
        {u"exifThumbnail"_s, options.exifThumbnail},
        {u"seed"_s, QString::number(options.seed)},
    };
    QSaveFile file(QDir(options.dir).filePath(fileName()));
    if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(manifest).toJson()) < 0 || !file.commit()) {
        *error = u"could not write "_s + file.fileName() + u": "_s + file.errorString();
        return false;
    }
    return true;
}
