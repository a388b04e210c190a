#include "FolderClearing.h"

#include "settings/SettingsKeys.h"
#include "settings/SettingsStore.h"
#include "support/FileStatus.h"
#include "support/FreedesktopTrash.h"
#include "support/MountTable.h"
#include "support/PathRelation.h"
#include "support/PathUtils.h"
#include "support/SafeFile.h"
#include "support/SystemLog.h"

#include <QDir>
#include <QFileInfo>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace { } // namespace

QString FolderClearing::comparable(const QString &path)
{
    const QString expanded = QDir::cleanPath(PathUtils::expandTilde(path));
    const QString resolved = PathUtils::resolvedPath(expanded);
    return resolved.isEmpty() ? expanded : resolved;
}

FolderClearing::ProtectedRoots FolderClearing::ProtectedRoots::real()
{
    return {u"/"_s, QDir::homePath()};
}

std::optional<QString> FolderClearing::refusal(const QString &path, const QStringList &alsoProtected,
                                               const ProtectedRoots &roots)
{
    if (path.isEmpty())
        return u"no folder given"_s;
    const QString cleaned = QDir::cleanPath(PathUtils::expandTilde(path));
    const std::optional<struct stat> info = FileStatus::of(cleaned);
    if (!info)
        return u"the folder does not exist"_s;
    if (!S_ISDIR(info->st_mode))
        return u"not a folder"_s;
    const QString folder = PathUtils::resolvedPath(cleaned);
    if (folder.isEmpty())
        return u"the folder cannot be resolved"_s;
    if (const QString root = comparable(roots.root); !root.isEmpty() && PathRelation::isSameOrInside(root, folder))
        return u"it is the root folder"_s;
    if (const QString home = comparable(roots.home); !home.isEmpty() && PathRelation::isSameOrInside(home, folder))
        return u"it is or holds the home folder "_s + home;
    // A folder in the trash is never emptied into the trash: its photos would be trashed into themselves.
    if (const std::optional<NativePath> trash = FreedesktopTrash::trashHolding(NativePath(folder)))
        return u"it is in the trash "_s + trash->toString();

    const std::optional<MountTable> table = MountTable::read();
    const std::optional<struct stat> parentInfo = FileStatus::of(QFileInfo(folder).path());
    if ((parentInfo && parentInfo->st_dev != info->st_dev) || (table && table->mountAt(NativePath(folder).bytes())))
        return u"it is a mount point"_s;
    if (table) {
        for (const MountTable::Mount &m : table->mounts()) {
            const QString point = NativePath::fromBytes(m.mountPoint).toString();
            if (PathRelation::isSameOrInside(point, folder))
                return u"it holds the mount point "_s + point;
        }
    }
    const QString destination = SettingsStore::standard().stringForKey(cPrefDestinationPath).value_or(QString());
    if (!destination.isEmpty() && PathRelation::isSameOrInside(comparable(destination), folder))
        return u"it is or holds the destination folder "_s + destination;
    for (const QString &kept : alsoProtected) {
        if (!kept.isEmpty() && PathRelation::isSameOrInside(comparable(kept), folder))
            return u"it is or holds "_s + kept;
    }
    return std::nullopt;
}

bool FolderClearing::empty(const QString &path, const QStringList &alsoProtected, QString *reason,
                           const ProtectedRoots &roots)
{
    const auto refuse = [&](const QString &why) {
        logLine(u"removeFolderAtPath.... refused for "_s + path + u": "_s + why);
        if (reason)
            *reason = why;
        return false;
    };
    // The resolved folder is what is checked and what is emptied: never two readings of the path.
    const QString folder = PathUtils::resolvedPath(QDir::cleanPath(PathUtils::expandTilde(path)));
    if (const std::optional<QString> refused = refusal(folder.isEmpty() ? path : folder, alsoProtected, roots))
        return refuse(*refused);
    if (folder.isEmpty())
        return refuse(u"the folder cannot be resolved"_s);

    SafeFileListOptions everything;
    everything.skipHidden = false;
    FileResult listError;
    const std::optional<QList<SafeFileEntry>> entries = SafeFile::list(NativePath(folder), everything, &listError);
    if (!entries)
        return refuse(listError.text());
    qsizetype trashed = 0;
    for (const SafeFileEntry &entry : *entries) {
        // Never deleted outright: what the trash does not take stays where it is, and clearing stops.
        const FreedesktopTrash::Outcome moved = FreedesktopTrash::moveToTrash(entry.path);
        if (!moved.result) {
            return refuse(u"the trash did not take "_s + entry.path.toString() + u" ("_s + moved.result.text()
                          + u"); "_s
                          + u"%1 of %2 items had been moved to the trash"_s.arg(trashed).arg(entries->size()));
        }
        ++trashed;
    }
    logLine(u"removeFolderAtPath.... moved %1 items of "_s.arg(trashed) + folder + u" to the trash"_s);
    return true;
}
