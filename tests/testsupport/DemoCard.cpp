#include "DemoCard.h"

#include "TestSandbox.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {
bool copyKeepingTimes(const QString &from, const QString &to)
{
    if (!QFile::copy(from, to))
        return false;
    struct stat st = {};
    if (::stat(QFile::encodeName(from).constData(), &st) != 0)
        return false;
    const timespec times[2] = {st.st_atim, st.st_mtim};
    return ::utimensat(AT_FDCWD, QFile::encodeName(to).constData(), times, 0) == 0;
}
} // namespace

DemoCard DemoCard::make(const QString &folder, int groups, int photosPerGroup, const QString &size,
                        const QStringList &extraArgs)
{
    DemoCard card;
    QProcess cli;
    cli.start(TestSandbox::cliPath(),
              QStringList {u"make-card"_s, folder, u"--groups"_s, QString::number(groups), u"--photos"_s,
                           QString::number(photosPerGroup), u"--size"_s, size}
                  + extraArgs);
    if (!cli.waitForFinished(120000) || cli.exitCode() != 0) {
        std::fprintf(stderr, "make-card failed: %s\n", cli.readAllStandardError().constData());
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
    QDir().mkpath(workingFolder);
    QStringList written;
    for (const Photo &photo : photos) {
        const QString target = workingFolder + u'/' + photo.barcode + u'_' + QFileInfo(photo.path).fileName();
        if (copyKeepingTimes(photo.path, target))
            written << target;
    }
    return written;
}

QStringList DemoCard::copyAsShot(const QString &workingFolder) const
{
    QDir().mkpath(workingFolder);
    QStringList written;
    for (const Photo &photo : photos) {
        const QString target = workingFolder + u'/' + QFileInfo(photo.path).fileName();
        if (copyKeepingTimes(photo.path, target))
            written << target;
    }
    return written;
}
