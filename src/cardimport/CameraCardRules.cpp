#include "CameraCardRules.h"

#include "VolumeInfo.h"
#include "settings/FolderSettings.h"
#include "support/SafeFile.h"
#include "support/SystemLog.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {

bool isDirectory(const QString &path)
{
    struct stat info = {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The attributes the original read and logged before asking about the volume.
QString attributesText(const QString &path, QString *error)
{
    struct stat info = {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0) {
        *error = QString::fromLocal8Bit(strerror(errno));
        return {};
    }
    return u"{type: directory, size: %1, mode: %2, uid: %3, gid: %4, modified: %5}"_s.arg(info.st_size)
        .arg(info.st_mode & 07777, 4, 8, QLatin1Char('0'))
        .arg(info.st_uid)
        .arg(info.st_gid)
        .arg(QDateTime::fromSecsSinceEpoch(info.st_mtim.tv_sec).toString(Qt::ISODate));
}

QString mapText(const QVariantMap &map)
{
    QStringList parts;
    for (auto it = map.cbegin(); it != map.cend(); ++it)
        parts.append(it.key() + u" = "_s + it.value().toString());
    return u"{"_s + parts.join(u"; "_s) + u"}"_s;
}

} // namespace

QStringList CameraCardRules::namesAtMount(const QString &folderNames)
{
    return FolderSettings::cameraFolderNames(folderNames);
}

std::optional<QString> CameraCardRules::cameraFolderAtMount(const QString &devicePath, const QString &folderNames)
{
    return FolderSettings::cameraFolderOn(devicePath, folderNames);
}

bool CameraCardRules::isRecoveryVolume(const QString &devicePath)
{
    return devicePath.compare(u"/Volumes/Recovery HD"_s, Qt::CaseInsensitive) == 0;
}

bool CameraCardRules::isCameraCard(const QString &volumeName, const QString &volumesRoot,
                                   const std::optional<QString> &folderNames)
{
    bool found = false;
    if (!folderNames)
        return false;
    for (const QString &part : folderNames->split(u',')) {
        const QString searchPath = volumesRoot + u'/' + volumeName + u'/' + part;
        if (!isDirectory(searchPath))
            continue;
        QString error;
        const QString attributes = attributesText(searchPath, &error);
        if (attributes.isEmpty())
            logLine(u"oops somethingwrong with attributesOfItemAtPath "_s + error);
        else
            logLine(u"isCameraCard.... "_s + searchPath + u" attributes "_s + attributes);
        const QVariantMap info = VolumeInfo::getFileSystemInfoForPath(searchPath);
        logLine(u"isCameraCard.... fileSystemInfo "_s + mapText(info));
        if (info.value(VolumeInfo::cIsUnmountable).toString() == u"true"_s) {
            logLine(u"found unmountable volume...!!!"_s);
            found = true;
        }
    }
    return found;
}

std::optional<QString> CameraCardRules::findExistingCard(const QStringList &volumesRoots,
                                                         const std::optional<QString> &folderNames)
{
    QStringList cleanRoots;
    for (const QString &root : volumesRoots)
        cleanRoots.append(QDir::cleanPath(root));
    SafeFileListOptions everything;
    everything.skipHidden = false;
    for (const QString &root : std::as_const(cleanRoots)) {
        FileResult error;
        const std::optional<QList<SafeFileEntry>> entries = SafeFile::list(root, everything, &error);
        if (!entries) {
            // Most desktops create only some of the roots.
            if (error.errorNumber() != ENOENT)
                logLine(u"oops somethingwrong with contentsOfDirectoryAtPath "_s + error.text());
            continue;
        }
        QStringList names;
        for (const SafeFileEntry &entry : *entries)
            names.append(QFile::decodeName(entry.name));
        names.sort();
        for (const QString &name : std::as_const(names)) {
            const QString volume = root + u'/' + name;
            if (cleanRoots.contains(volume))
                continue;
            if (isCameraCard(name, root, folderNames))
                return volume;
        }
    }
    return std::nullopt;
}
