#include "DemoCard.h"

#include "TestSandbox.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {
// Copies keep the photos' file times, as a copy from a card does.
QStringList copyInto(const QList<DemoCard::Photo> &photos, const QString &workingFolder, bool withBarcodes)
{
    QDir().mkpath(workingFolder);
    QStringList written;
    for (const DemoCard::Photo &photo : photos) {
        const QString target =
            workingFolder + u'/' + (withBarcodes ? photo.barcode + u'_' : QString()) + QFileInfo(photo.path).fileName();
        struct stat st = {};
        if (!QFile::copy(photo.path, target) || ::stat(QFile::encodeName(photo.path).constData(), &st) != 0)
            continue;
        const timespec times[2] = {st.st_atim, st.st_mtim};
        if (::utimensat(AT_FDCWD, QFile::encodeName(target).constData(), times, 0) == 0)
            written << target;
    }
    return written;
}
} // namespace

DemoCard DemoCard::make(const QString &folder, int groups, int photosPerGroup, const QString &size,
                        const QStringList &extraArgs)
{
    DemoCard card;
    const CliRun cli = runCli(QStringList {u"make-card"_s, folder, u"--groups"_s, QString::number(groups),
                                           u"--photos"_s, QString::number(photosPerGroup), u"--size"_s, size}
                              + extraArgs);
    if (cli.status != 0) {
        std::fprintf(stderr, "make-card failed: %s\n", qPrintable(cli.err));
        return card;
    }
    const QJsonObject manifest = QJsonDocument::fromJson(readFile(folder + u"/lumisort-card.json"_s)).object();
    QHash<int, QString> barcodeOfGroup;
    for (const QJsonValue &entry : manifest.value(u"photos"_s).toArray()) {
        const QJsonObject o = entry.toObject();
        const int group = o.value(u"group"_s).toInt();
        if (o.value(u"barcodePhoto"_s).toBool())
            barcodeOfGroup.insert(group, o.value(u"barcode"_s).toString());
        card.photos.append(
            {folder + u'/' + o.value(u"path"_s).toString(), group, o.value(u"barcodePhoto"_s).toBool(), QString()});
    }
    // Only the barcode photo carries its code in the manifest; the group shares it.
    for (Photo &photo : card.photos)
        photo.barcode = barcodeOfGroup.value(photo.group);
    card.folder = folder;
    return card;
}

QStringList DemoCard::copyAssigned(const QString &workingFolder) const
{
    return copyInto(photos, workingFolder, true);
}

QStringList DemoCard::copyAsShot(const QString &workingFolder) const
{
    return copyInto(photos, workingFolder, false);
}
