#include "StagingFolder.h"

#include "KeptStaging.h"
#include "settings/BundleInfo.h"
#include "support/FileStatus.h"
#include "support/NearestExistingFolder.h"
#include "support/PathUtils.h"
#include "support/RunLock.h"
#include "support/SafeFile.h"
#include "support/SystemLog.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <cerrno>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// A hidden folder beside the working folder: one per user, so that nobody else's can be taken over.
QString besideStagingFolder(const QString &resolvedWorking)
{
    const QString parent = QFileInfo(resolvedWorking).path();
    return (parent == u"/"_s ? QString() : parent) + u"/.lumisort-staging-"_s + QString::number(::getuid());
}

bool isEmptyFolder(const NativePath &folder)
{
    SafeFileListOptions everything;
    everything.skipHidden = false;
    const std::optional<QList<SafeFileEntry>> entries = SafeFile::list(folder, everything);
    return entries && entries->isEmpty();
}

} // namespace

QString StagingFolder::cacheFolder()
{
    QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (cache.isEmpty())
        cache = QDir::homePath() + u"/.cache"_s;
    return cache + u'/' + BundleInfo::bundleIdentifier() + u"/card-staging"_s;
}

QString StagingFolder::folderFor(const QString &workingFolder)
{
    const QString inCache = cacheFolder();
    const std::optional<struct stat> working =
        workingFolder.isEmpty() ? std::nullopt : FileStatus::of(PathUtils::expandTilde(workingFolder));
    if (!working || !S_ISDIR(working->st_mode))
        return inCache;
    if (NearestExistingFolder::deviceOf(NativePath(inCache)) == working->st_dev)
        return inCache;
    const QString resolved = PathUtils::resolvedPath(PathUtils::expandTilde(workingFolder));
    const QString parent = QFileInfo(resolved).path();
    const std::optional<struct stat> parentInfo = FileStatus::of(parent);
    if (resolved.isEmpty() || resolved == u"/"_s || !parentInfo || parentInfo->st_dev != working->st_dev
        || ::access(NativePath(parent).c_str(), W_OK | X_OK) != 0)
        return inCache;
    const QString beside = besideStagingFolder(resolved);
    struct stat existing = {};
    if (::lstat(NativePath(beside).c_str(), &existing) == 0
        && (!S_ISDIR(existing.st_mode) || existing.st_uid != ::getuid()))
        return inCache;
    return beside;
}

QStringList StagingFolder::keptFolders(const QString &workingFolder)
{
    QStringList folders;
    // Checked only when no import runs: a running one fills its staging folder, and takes
    // over a killed one's (keeping it aside) before anything else.
    RunLock importLock(RunLock::cardImportPath());
    const bool idle = importLock.tryTake();
    for (const NativePath &staging : placesFor(NativePath(folderFor(workingFolder)))) {
        folders += KeptStaging::foldersBeside(staging);
        SafeFileListOptions everything;
        everything.skipHidden = false;
        const std::optional<QList<SafeFileEntry>> left = SafeFile::list(staging, everything);
        if (idle && left && !left->isEmpty())
            folders.append(staging.toString());
    }
    folders.removeDuplicates();
    return folders;
}

QList<NativePath> StagingFolder::placesFor(const NativePath &staging)
{
    QList<NativePath> places {staging};
    if (NativePath(cacheFolder()) != staging)
        places.append(NativePath(cacheFolder()));
    return places;
}

FileResult StagingFolder::removeCopies(const NativePath &folder)
{
    SafeFileListOptions everything;
    everything.skipHidden = false;
    FileResult error;
    const std::optional<QList<SafeFileEntry>> entries = SafeFile::list(folder, everything, &error);
    if (!entries)
        return error;
    for (const SafeFileEntry &entry : *entries) {
        if (entry.type == SafeFileEntryType::Directory) {
            if (FileResult r = removeCopies(entry.path); !r)
                return r;
        } else if (::unlink(entry.path.c_str()) != 0) {
            return FileResult::failure(u"remove"_s, entry.path, errno);
        }
    }
    if (::rmdir(folder.c_str()) != 0)
        return FileResult::failure(u"remove folder"_s, folder, errno);
    return SafeFile::syncFolder(folder.parent());
}

QString StagingFolder::keepAside(const NativePath &staging)
{
    const QByteArray base =
        KeptStaging::keptPrefix(staging) + QDateTime::currentDateTime().toString(u"yyyyMMdd-HHmmss"_s).toLatin1();
    for (int n = 1; n < 1000; ++n) {
        const NativePath kept = staging.parent().child(n == 1 ? base : base + '-' + QByteArray::number(n));
        const FileResult moved = SafeFile::renameNoReplace(staging, kept);
        if (moved)
            return kept.toString();
        if (moved.errorNumber() != EEXIST && moved.errorNumber() != ENOTEMPTY) {
            logLine(u"CardCopyRun.... cannot keep the staging folder aside: "_s + moved.text());
            return {};
        }
    }
    return {};
}

void StagingFolder::removeKilledLeftovers(const NativePath &folder)
{
    for (const NativePath &removed : SafeFile::removeKilledLeftovers(folder))
        logLine(u"CardCopyRun.... left by a killed run, removed: "_s + removed.displayString());
}

FileResult StagingFolder::prepare(const NativePath &staging, QString *earlierKept)
{
    if (FileResult r = SafeFile::makeFolders(staging.parent(), 0700); !r)
        return r;
    struct stat info = {};
    if (::lstat(staging.c_str(), &info) == 0) {
        if (!S_ISDIR(info.st_mode) || info.st_uid != ::getuid())
            return FileResult::failure(u"create staging folder"_s, staging,
                                       u"something that is not a folder of this user is in the way"_s, EEXIST);
        removeKilledLeftovers(staging);
        if (isEmptyFolder(staging)) {
            if (::rmdir(staging.c_str()) != 0)
                return FileResult::failure(u"remove folder"_s, staging, errno);
        } else {
            *earlierKept = keepAside(staging);
            if (earlierKept->isEmpty())
                return FileResult::failure(u"create staging folder"_s, staging,
                                           u"an earlier import left photos there that cannot be kept aside"_s, EEXIST);
            logLine(u"CardCopyRun.... photos left by an earlier import were kept in "_s + *earlierKept);
        }
    }
    if (::mkdir(staging.c_str(), 0700) != 0)
        return FileResult::failure(u"create staging folder"_s, staging, errno);
    // The mode asked of mkdir is narrowed by the umask; the folder must still be usable.
    if (::chmod(staging.c_str(), 0700) != 0)
        return FileResult::failure(u"create staging folder"_s, staging, errno);
    return SafeFile::syncFolder(staging.parent());
}
