#include "FolderSettings.h"

#include "MyAliasKit.h"
#include "SettingsKeys.h"
#include "SettingsStore.h"
#include "support/FileStatus.h"
#include "support/FreedesktopTrash.h"
#include "support/MountTable.h"
#include "support/NativePath.h"
#include "support/NearestExistingFolder.h"
#include "support/PathUtils.h"

#include <QDir>
#include <QFileInfo>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {
QString roleName(FolderSettings::Folder folder)
{
    return folder == FolderSettings::Folder::Working ? u"The working folder "_s : u"The destination folder "_s;
}

bool isDirectory(const QString &path)
{
    struct stat info = {};
    return ::stat(NativePath(path).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Resolved as far as it exists, the rest appended as written.
QString resolvedAsFarAsItExists(const QString &path)
{
    return NearestExistingFolder::resolved(NativePath(QDir::cleanPath(path))).toString();
}

// The volume holding the folder, when it is a camera card: never the file system of
// the system or of the home folder, which are the operator's own disks.
std::optional<QString> cardHolding(const QString &resolved)
{
    const std::optional<MountTable> table = MountTable::read();
    const std::optional<MountTable::Mount> mount = table ? table->mountFor(NativePath(resolved).bytes()) : std::nullopt;
    if (!mount)
        return std::nullopt;
    for (const QString &own : {u"/"_s, QDir::homePath()}) {
        const std::optional<struct stat> info = FileStatus::of(NativePath(own));
        if (info && info->st_dev == mount->device)
            return std::nullopt;
    }
    const QString point = NativePath::fromBytes(mount->mountPoint).toString();
    const QString names = SettingsStore::standard().stringForKey(cPrefCameraCardFolderNames).value_or(QString());
    if (const std::optional<QString> camera = FolderSettings::cameraFolderOn(point, names))
        return point + u" (it holds "_s + *camera + u')';
    return std::nullopt;
}
} // namespace

FolderSettings::Keys FolderSettings::keysFor(Folder folder)
{
    if (folder == Folder::Working)
        return {cPrefSourcePath, cPrefSourcePathAliasData, cPrefSourcePathIsValid};
    return {cPrefDestinationPath, cPrefDestinationPathAliasData, cPrefDestinationPathIsValid};
}

std::optional<FolderSettings::Folder> FolderSettings::folderForPathKey(const QString &key)
{
    for (const Folder folder : {Folder::Working, Folder::Destination}) {
        if (keysFor(folder).path == key)
            return folder;
    }
    return std::nullopt;
}

std::optional<QString> FolderSettings::refusal(Folder folder, const QString &path)
{
    const QString expanded = PathUtils::expandTilde(path.trimmed());
    if (!expanded.startsWith(u'/'))
        return std::nullopt;
    const QString resolved = resolvedAsFarAsItExists(expanded);
    const QString named = roleName(folder) + path;
    if (const std::optional<NativePath> trash = FreedesktopTrash::trashHolding(NativePath(resolved)))
        return named + u" is in the trash ("_s + trash->toString()
            + u"): emptying the trash would delete the photos kept there."_s;
    if (resolved == u"/"_s)
        return named + u" is the root folder."_s;
    if (resolved == resolvedAsFarAsItExists(QDir::homePath()))
        return named + u" is the home folder itself."_s;
    // A working folder may be a folder of a card opened to be sorted: importing never empties
    // the card it comes from, and filing takes the photos off it.
    if (const std::optional<QString> card = folder == Folder::Destination ? cardHolding(resolved) : std::nullopt)
        return named + u" is on the camera card "_s + *card + u", which is formatted after the day."_s;
    return std::nullopt;
}

void FolderSettings::store(Folder folder, const QString &path)
{
    SettingsStore &store = SettingsStore::standard();
    const Keys keys = keysFor(folder);
    const QString expanded = PathUtils::expandTilde(path);
    store.setString(path, keys.path);
    if (const std::optional<QByteArray> reference = MyAliasKit::aliasDataForPath(expanded))
        store.setObject(*reference, keys.alias);
    else
        store.removeObjectForKey(keys.alias);
    store.setBool(isDirectory(expanded), keys.valid);
    store.synchronize();
}

void FolderSettings::storeForThisRun(Folder folder, const QString &path)
{
    SettingsStore &store = SettingsStore::standard();
    const Keys keys = keysFor(folder);
    const QString expanded = PathUtils::expandTilde(path);
    store.setOverride(keys.path, path);
    // An empty reference finds nothing, where none at all would let the stored one show through.
    store.setOverride(keys.alias, MyAliasKit::aliasDataForPath(expanded).value_or(QByteArray()));
    store.setOverride(keys.valid, isDirectory(expanded));
}

void FolderSettings::remove(Folder folder)
{
    SettingsStore &store = SettingsStore::standard();
    const Keys keys = keysFor(folder);
    for (const QString &key : {keys.path, keys.alias, keys.valid})
        store.removeObjectForKey(key);
}

QStringList FolderSettings::cameraFolderNames(const QString &folderNames)
{
    QStringList names;
    for (const QString &part : folderNames.split(u',')) {
        const QString name = part.trimmed();
        if (!name.isEmpty())
            names.append(name);
    }
    return names;
}

std::optional<QString> FolderSettings::cameraFolderOn(const QString &volumeRoot, const QString &folderNames)
{
    for (const QString &name : cameraFolderNames(folderNames)) {
        if (isDirectory(volumeRoot + u'/' + name))
            return name;
    }
    return std::nullopt;
}
