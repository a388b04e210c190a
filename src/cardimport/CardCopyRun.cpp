#include "CardCopyRun.h"

#include "KeptStaging.h"
#include "VolumeEjector.h"
#include "filing/FilingRun.h"
#include "model/ImageTypes.h"
#include "model/PhotoNameRule.h"
#include "settings/BundleInfo.h"
#include "settings/FolderSettings.h"
#include "settings/SettingsKeys.h"
#include "settings/SettingsStore.h"
#include "support/AbandonedLock.h"
#include "support/FreedesktopTrash.h"
#include "support/MountTable.h"
#include "support/NumberedName.h"
#include "support/PathUtils.h"
#include "support/SafeFile.h"
#include "support/SystemLog.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLockFile>
#include <QMap>
#include <QMutex>
#include <QMutexLocker>
#include <QSet>
#include <QStandardPaths>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <thread>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

struct Planned
{
    SafeFileEntry entry;
    qint64 size = 0;
    NativePath staged;
};

// The order a person reads the card in: each folder's names sorted, a folder's
// contents right after it. Same-named photos are decided by this order, so the
// first folder of a card (100CANON before 101CANON) keeps the name.
bool walkOrder(const SafeFileEntry &a, const SafeFileEntry &b)
{
    const QList<QByteArray> pa = a.path.bytes().split('/');
    const QList<QByteArray> pb = b.path.bytes().split('/');
    return std::lexicographical_compare(pa.cbegin(), pa.cend(), pb.cbegin(), pb.cend());
}

// The path as it will be met on disk: links resolved when it exists, else cleaned.
QString comparable(const QString &path)
{
    const QString expanded = QDir::cleanPath(PathUtils::expandTilde(path));
    const QString resolved = PathUtils::resolvedPath(expanded);
    return resolved.isEmpty() ? expanded : resolved;
}

bool isSameOrInside(const QString &inner, const QString &outer)
{
    if (outer == u"/"_s)
        return inner.startsWith(u'/');
    return inner == outer || (inner.startsWith(outer) && inner.at(outer.size()) == u'/');
}

std::optional<struct stat> statOf(const QString &path)
{
    struct stat info = {};
    if (::stat(NativePath(path).c_str(), &info) != 0)
        return std::nullopt;
    return info;
}

// A folder that does not exist yet will live on the file system of its nearest existing ancestor.
NativePath nearestExisting(NativePath path)
{
    struct stat info = {};
    while (::stat(path.c_str(), &info) != 0) {
        const NativePath parent = path.parent();
        if (parent == path || parent.isEmpty())
            return {};
        path = parent;
    }
    return path;
}

std::optional<dev_t> deviceOf(const NativePath &path)
{
    const NativePath existing = nearestExisting(path);
    struct stat info = {};
    if (existing.isEmpty() || ::stat(existing.c_str(), &info) != 0)
        return std::nullopt;
    return info.st_dev;
}

QString cacheStagingFolder()
{
    QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (cache.isEmpty())
        cache = QDir::homePath() + u"/.cache"_s;
    return cache + u'/' + BundleInfo::bundleIdentifier() + u"/card-staging"_s;
}

// A hidden folder beside the working folder: one per user, so that nobody else's can be taken over.
QString besideStagingFolder(const QString &resolvedWorking)
{
    const QString parent = QFileInfo(resolvedWorking).path();
    return (parent == u"/"_s ? QString() : parent) + u"/.lumisort-staging-"_s + QString::number(::getuid());
}

QString megabytes(qint64 bytes)
{
    return QString::number(double(bytes) / 1e6, 'f', 1) + u" MB"_s;
}

// Free room on the file system that holds (or will hold) a folder; nothing when it cannot be read.
std::optional<qint64> freeBytes(const NativePath &folder, qint64 *blockSize)
{
    const NativePath existing = nearestExisting(folder);
    struct statvfs info = {};
    if (existing.isEmpty() || ::statvfs(existing.c_str(), &info) != 0)
        return std::nullopt;
    *blockSize = qint64(std::max<unsigned long>(info.f_frsize, 512));
    return qint64(info.f_bavail) * qint64(info.f_frsize);
}

// Each file takes whole blocks, and its name a little more.
qint64 roomNeeded(const QList<Planned> &plan, qint64 blockSize)
{
    qint64 needed = blockSize;
    for (const Planned &p : plan)
        needed += (p.size + blockSize - 1) / blockSize * blockSize + blockSize;
    return needed;
}

QString listText(const QList<CardCopyRun::Skip> &skips, qsizetype shown = 5)
{
    QStringList lines;
    for (qsizetype i = 0; i < skips.size() && i < shown; ++i)
        lines.append(skips.at(i).name + u": "_s + skips.at(i).reason);
    if (skips.size() > shown)
        lines.append(u"... and %1 more"_s.arg(skips.size() - shown));
    return lines.join(u'\n');
}

bool isImage(const SafeFileEntry &entry)
{
    // The whole path lets the type be judged by content where the name says nothing.
    return ImageTypes::isImageFile(entry.path.toString());
}

QString photosText(qsizetype n)
{
    return n == 1 ? u"1 photo"_s : u"%1 photos"_s.arg(n);
}

// Deletes a staging folder of this run's own copies (never anything of the operator's),
// on raw names, never following links.
FileResult removeStagedCopies(const NativePath &folder)
{
    SafeFileListOptions everything;
    everything.skipHidden = false;
    FileResult error;
    const std::optional<QList<SafeFileEntry>> entries = SafeFile::list(folder, everything, &error);
    if (!entries)
        return error;
    for (const SafeFileEntry &entry : *entries) {
        if (entry.type == SafeFileEntryType::Directory) {
            if (FileResult r = removeStagedCopies(entry.path); !r)
                return r;
        } else if (::unlink(entry.path.c_str()) != 0) {
            return FileResult::failure(u"remove"_s, entry.path, errno);
        }
    }
    if (::rmdir(folder.c_str()) != 0)
        return FileResult::failure(u"remove folder"_s, folder, errno);
    return SafeFile::syncFolder(folder.parent());
}

bool isEmptyFolder(const NativePath &folder)
{
    SafeFileListOptions everything;
    everything.skipHidden = false;
    const std::optional<QList<SafeFileEntry>> entries = SafeFile::list(folder, everything);
    return entries && entries->isEmpty();
}

// Moves a staging folder out of the way of later runs, under a dated name beside it.
QString keepAside(const NativePath &staging)
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

// Half-made copies and empty name claims of a run that was killed while copying: the
// originals are still where they were copied from, so only a partial duplicate goes.
void removeKilledLeftovers(const NativePath &folder)
{
    for (const NativePath &removed : SafeFile::removeKilledLeftovers(folder))
        logLine(u"CardCopyRun.... left by a killed run, removed: "_s + removed.displayString());
}

// The staging folder, made afresh and private. Photos another run left there are
// never cleared: the card they came from may be gone, so they are kept aside.
FileResult prepareStaging(const NativePath &staging, QString *earlierKept)
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

class Reporter
{
public:
    explicit Reporter(const CardCopyRun::Options &options)
        : m_options(options)
    { }
    void status(const QString &text)
    {
        QMutexLocker locker(&m_lock);
        if (m_options.status)
            m_options.status(text);
    }
    void progress(const CardCopyRun::Progress &p, bool force)
    {
        QMutexLocker locker(&m_lock);
        if (!m_options.progress)
            return;
        // Drawn at a human pace, not once per megabyte.
        if (!force && m_last.isValid() && m_last.elapsed() < 100)
            return;
        m_last.start();
        m_options.progress(p);
    }
    void copied(const QString &name, qint64 bytes)
    {
        QMutexLocker locker(&m_lock);
        if (m_options.copied)
            m_options.copied(name, bytes);
    }

private:
    const CardCopyRun::Options &m_options;
    QMutex m_lock;
    QElapsedTimer m_last;
};

// Waits while another process holds the lock. A lock that cannot be made at all
// (a full or read-only folder) only loses the exclusion; the run itself then reports what fails.
void lockWaiting(QLockFile &lock, Reporter &report, const QString &waitingStatus)
{
    lock.setStaleLockTime(0); // a crashed holder is recognised by its process id
    if (lock.tryLock(0))
        return;
    if (lock.error() != QLockFile::LockFailedError) {
        logLine(u"CardCopyRun.... cannot take the lock "_s + lock.fileName());
        return;
    }
    report.status(waitingStatus);
    // A holder killed while taking the lock may have left it empty, naming nobody.
    while (!lock.tryLock(250)) {
        if (lock.error() != QLockFile::LockFailedError) {
            logLine(u"CardCopyRun.... cannot take the lock "_s + lock.fileName());
            return;
        }
        AbandonedLock::removeIfAbandoned(lock.fileName());
    }
}

// One import at a time per user, whichever program (sheet or command line) runs it.
QString importLockPath()
{
    QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (runtime.isEmpty())
        runtime = QDir::tempPath();
    return runtime + u"/lumisort-card-import.lock"_s;
}

// Why the working folder may not receive this card: it is the card, lies on it,
// or holds it. A card's volume is any file system but the ones holding the
// system, the home folder or the destination: those are the operator's own
// disks, from which a folder (unassigned photos, say) may well be imported.
QString overlapWithCard(const QString &card, const QString &working, const QString &destination)
{
    if (isSameOrInside(working, card))
        return working == card ? u"the working folder is the folder being imported"_s
                               : u"the working folder lies inside the folder being imported"_s;
    if (isSameOrInside(card, working))
        return u"the folder being imported lies inside the working folder"_s;
    const std::optional<struct stat> cardInfo = statOf(card);
    const std::optional<struct stat> workingInfo = statOf(working);
    if (!cardInfo || !workingInfo)
        return {};
    const std::optional<MountTable> table = MountTable::read();
    const std::optional<MountTable::Mount> cardMount = table ? table->mountFor(NativePath(card).bytes()) : std::nullopt;
    const std::optional<MountTable::Mount> workingMount =
        table ? table->mountFor(NativePath(working).bytes()) : std::nullopt;
    const bool sameMount = cardMount && workingMount && cardMount->id == workingMount->id;
    if (cardInfo->st_dev != workingInfo->st_dev && !sameMount)
        return {};
    for (const QString &own : {u"/"_s, QDir::homePath(), destination}) {
        const std::optional<struct stat> ownInfo = own.isEmpty() ? std::nullopt : statOf(PathUtils::expandTilde(own));
        if (ownInfo && ownInfo->st_dev == cardInfo->st_dev)
            return {};
    }
    const QString point = cardMount ? NativePath::fromBytes(cardMount->mountPoint).toString() : card;
    return u"the working folder is on the same volume as the folder being imported ("_s + point + u')';
}

// One name of each part count, the first met of each.
QString namingExamples(const QStringList &names)
{
    QMap<int, QString> example;
    for (const QString &name : names) {
        if (!example.contains(PhotoNameRecord::namePartCount(name)))
            example.insert(PhotoNameRecord::namePartCount(name), NativePath::forDisplay(name));
    }
    return QStringList(example.cbegin(), example.cend()).join(u", "_s);
}

} // namespace

QString CardCopyRun::Result::summary() const
{
    const QString copied = u"%1 of %2 photos copied from the card"_s.arg(staged).arg(planned);
    switch (outcome) {
    case Outcome::Transferred:
        return u"Done - %1 imported"_s.arg(photosText(transferred))
            + (numbered.isEmpty() ? QString()
                                  : u", %1 of them under a numbered name (another photo of the card had theirs)"_s.arg(
                                      numbered.size()))
            + (mixedNames.isEmpty() ? QString() : u"; the card mixes naming styles"_s);
    case Outcome::CardUnreadable:
        return u"Stopped - the card cannot be read; nothing was copied"_s;
    case Outcome::Refused:
        return u"Stopped - nothing was copied"_s;
    case Outcome::StagingIncomplete:
        return u"Stopped - only "_s + copied + u"; the working folder was left as it was"_s;
    case Outcome::NoPhotos:
        return u"Stopped - no photos on the card"_s;
    case Outcome::NoWorkingFolder:
        return u"Stopped - no working folder; nothing was copied"_s;
    case Outcome::WorkingFolderRefused:
        return u"Stopped - "_s + copied + u", but the working folder could not be cleared"_s;
    case Outcome::TransferIncomplete:
        return u"Stopped - only %1 of %2 photos were put in the working folder"_s.arg(transferred).arg(staged);
    }
    return {};
}

QString CardCopyRun::stagingFolderFor(const QString &workingFolder)
{
    const QString inCache = cacheStagingFolder();
    const std::optional<struct stat> working =
        workingFolder.isEmpty() ? std::nullopt : statOf(PathUtils::expandTilde(workingFolder));
    if (!working || !S_ISDIR(working->st_mode))
        return inCache;
    if (deviceOf(NativePath(inCache)) == working->st_dev)
        return inCache;
    const QString resolved = PathUtils::resolvedPath(PathUtils::expandTilde(workingFolder));
    const QString parent = QFileInfo(resolved).path();
    const std::optional<struct stat> parentInfo = statOf(parent);
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

QStringList CardCopyRun::keptStagingFolders(const QString &workingFolder)
{
    QStringList folders;
    QList<NativePath> places {NativePath(stagingFolderFor(workingFolder))};
    if (NativePath(cacheStagingFolder()) != places.constFirst())
        places.append(NativePath(cacheStagingFolder()));
    // Checked only when no import runs: a running one fills its staging folder, and takes
    // over a killed one's (keeping it aside) before anything else.
    QLockFile importLock(importLockPath());
    importLock.setStaleLockTime(0);
    const bool idle = importLock.tryLock(0);
    for (const NativePath &staging : std::as_const(places)) {
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

qsizetype CardCopyRun::photosInFolder(const QString &folder)
{
    SafeFileListOptions walk;
    walk.recursive = true;
    qsizetype photos = 0;
    const std::optional<QList<SafeFileEntry>> entries = SafeFile::list(NativePath(folder), walk);
    for (const SafeFileEntry &entry : entries.value_or(QList<SafeFileEntry>())) {
        if (entry.type == SafeFileEntryType::Regular && isImage(entry))
            ++photos;
    }
    return photos;
}

qsizetype CardCopyRun::unfiledBarcodedPhotos(const QString &folder)
{
    // Filing takes the photos at the top of the folder, by the folder's name rule.
    const PhotoNameRule rule(folder);
    qsizetype barcoded = 0;
    for (const SafeFileEntry &entry : SafeFile::list(NativePath(folder)).value_or(QList<SafeFileEntry>())) {
        if (entry.type == SafeFileEntryType::Regular && isImage(entry)
            && rule.read(entry.path.toString()).kind == PhotoNameRule::Kind::Barcoded)
            ++barcoded;
    }
    return barcoded;
}

QString CardCopyRun::leftOverText(qsizetype photos, qsizetype barcoded)
{
    if (barcoded <= 0)
        return photosText(photos);
    const QString which = barcoded == 1 && photos == 1 ? u"it carries a barcode and was never filed"_s
        : barcoded == photos                           ? u"all of them carry a barcode and were never filed"_s
        : barcoded == 1                                ? u"1 of them carries a barcode and was never filed"_s
                        : u"%1 of them carry a barcode and were never filed"_s.arg(barcoded);
    return photosText(photos) + u" ("_s + which + u')';
}

SerialQueue &CardCopyRun::queue()
{
    static SerialQueue runs(u"card import runs"_s);
    return runs;
}

CardCopyRun::Options CardCopyRun::Options::fromSettings(const QString &cardFolder)
{
    SettingsStore &store = SettingsStore::standard();
    Options o;
    o.cardFolder = cardFolder;
    o.workingFolder = PathUtils::expandTilde(store.stringForKey(cPrefSourcePath).value_or(QString()));
    o.stagingFolder = stagingFolderFor(o.workingFolder);
    o.destinationFolder = PathUtils::expandTilde(store.stringForKey(cPrefDestinationPath).value_or(QString()));
    o.ejectPath = store.stringForKey(cPrefTempMountVolume).value_or(QString());
    return o;
}

CardCopyRun::ProtectedRoots CardCopyRun::ProtectedRoots::real()
{
    return {u"/"_s, QDir::homePath()};
}

std::optional<QString> CardCopyRun::refusalToEmpty(const QString &path, const QStringList &alsoProtected,
                                                   const ProtectedRoots &roots)
{
    if (path.isEmpty())
        return u"no folder given"_s;
    const QString cleaned = QDir::cleanPath(PathUtils::expandTilde(path));
    const std::optional<struct stat> info = statOf(cleaned);
    if (!info)
        return u"the folder does not exist"_s;
    if (!S_ISDIR(info->st_mode))
        return u"not a folder"_s;
    const QString folder = PathUtils::resolvedPath(cleaned);
    if (folder.isEmpty())
        return u"the folder cannot be resolved"_s;
    if (const QString root = comparable(roots.root); !root.isEmpty() && isSameOrInside(root, folder))
        return u"it is the root folder"_s;
    if (const QString home = comparable(roots.home); !home.isEmpty() && isSameOrInside(home, folder))
        return u"it is or holds the home folder "_s + home;
    // A folder in the trash is never emptied into the trash: its photos would be trashed into themselves.
    if (const std::optional<NativePath> trash = FreedesktopTrash::trashHolding(NativePath(folder)))
        return u"it is in the trash "_s + trash->toString();

    const std::optional<MountTable> table = MountTable::read();
    const std::optional<struct stat> parentInfo = statOf(QFileInfo(folder).path());
    if ((parentInfo && parentInfo->st_dev != info->st_dev) || (table && table->mountAt(NativePath(folder).bytes())))
        return u"it is a mount point"_s;
    if (table) {
        for (const MountTable::Mount &m : table->mounts()) {
            const QString point = NativePath::fromBytes(m.mountPoint).toString();
            if (isSameOrInside(point, folder))
                return u"it holds the mount point "_s + point;
        }
    }
    const QString destination = SettingsStore::standard().stringForKey(cPrefDestinationPath).value_or(QString());
    if (!destination.isEmpty() && isSameOrInside(comparable(destination), folder))
        return u"it is or holds the destination folder "_s + destination;
    for (const QString &kept : alsoProtected) {
        if (!kept.isEmpty() && isSameOrInside(comparable(kept), folder))
            return u"it is or holds "_s + kept;
    }
    return std::nullopt;
}

bool CardCopyRun::removeFolderAtPath(const QString &path, const QStringList &alsoProtected, QString *reason)
{
    return removeFolderAtPath(path, alsoProtected, reason, ProtectedRoots::real());
}

bool CardCopyRun::removeFolderAtPath(const QString &path, const QStringList &alsoProtected, QString *reason,
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
    if (const std::optional<QString> refusal = refusalToEmpty(folder.isEmpty() ? path : folder, alsoProtected, roots))
        return refuse(*refusal);
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

CardCopyRun::Result CardCopyRun::run(const Options &options)
{
    QElapsedTimer runTimer;
    runTimer.start();
    Reporter report(options);
    Result result;
    const QString working = options.workingFolder;
    const QString stagingPath = options.stagingFolder.isEmpty() ? stagingFolderFor(working) : options.stagingFolder;
    result.stagingFolder = stagingPath;
    const NativePath staging(stagingPath);
    const auto finish = [&](Outcome outcome) {
        result.outcome = outcome;
        result.seconds = runTimer.nsecsElapsed() / 1e9;
        if (!result.message.isEmpty())
            logLine(u"CardCopyRun.... "_s + result.message);
        return result;
    };
    const auto refuse = [&](const QString &message) {
        result.message = message + u"\n\nNothing was copied; the working folder was left as it was."_s;
        return finish(Outcome::Refused);
    };

    report.status(u"Copying Files from Card..."_s);

    // Another process (the command-line tool) may be importing meanwhile.
    QLockFile importLock(importLockPath());
    lockWaiting(importLock, report, u"Waiting for another card import to finish..."_s);

    const QString card = PathUtils::resolvedPath(options.cardFolder);
    FileResult walkError;
    QList<FileResult> walkErrors;
    SafeFileListOptions walk;
    walk.recursive = true;
    const std::optional<QList<SafeFileEntry>> listed =
        card.isEmpty() ? std::nullopt : SafeFile::list(NativePath(card), walk, &walkError, &walkErrors);
    if (!listed) {
        logLine(u".... Error with DirectoryEnumerator?????? "_s + options.cardFolder
                + (card.isEmpty() ? QString() : u": "_s + walkError.text()));
        result.message = u"The card's folder cannot be read: "_s + options.cardFolder;
        return finish(Outcome::CardUnreadable);
    }

    for (const FileResult &e : std::as_const(walkErrors)) {
        logLine(u"directoryEnumerator error: "_s + e.text() + u"."_s);
        result.walkErrors.append(e.text());
    }
    QList<SafeFileEntry> entries = *listed;
    std::stable_sort(entries.begin(), entries.end(), walkOrder);

    // Which photos go where. Every photo keeps its name where no earlier one (in the
    // order above) has it; the others take the first free numbered name, as filing
    // does. Names differing only in case count as one: staging or the working folder
    // may be on a file system (exFAT) that does not tell them apart.
    QList<Planned> plan;
    QList<qsizetype> repeated;
    QSet<QString> taken;
    QList<NativePath> cardFiles; // where a copy kept by an earlier import may also be
    Progress progress;
    const auto nameKey = [](const QByteArray &name) { return NativePath::decode(name).toCaseFolded(); };
    const auto planCopy = [&](const SafeFileEntry &entry, const QByteArray &name) {
        taken.insert(nameKey(name));
        struct stat info = {};
        const qint64 size = ::lstat(entry.path.c_str(), &info) == 0 ? qint64(info.st_size) : 0;
        plan.append({entry, size, staging.child(name)});
        progress.bytesTotal += size;
    };
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const SafeFileEntry &entry = entries.at(i);
        if (entry.type != SafeFileEntryType::Regular)
            continue;
        ++result.entries;
        cardFiles.append(entry.path);
        if (!isImage(entry))
            continue;
        ++result.photos;
        if (taken.contains(nameKey(entry.name)))
            repeated.append(i);
        else
            planCopy(entry, entry.name);
    }
    for (const qsizetype i : std::as_const(repeated)) {
        const SafeFileEntry &entry = entries.at(i);
        std::optional<QByteArray> freeName;
        for (int number = 2; number <= NumberedName::cMostNumbers && !freeName; ++number) {
            const std::optional<QByteArray> candidate = NumberedName::make(entry.name, number);
            if (!candidate)
                break;
            if (!taken.contains(nameKey(*candidate)))
                freeName = candidate;
        }
        if (!freeName) {
            result.failed.append({entry.path.toString(),
                                  u"another photo of the card has its name, and no numbered name is free for it"_s});
            continue;
        }
        logLine(u"CardCopyRun.... "_s + entry.path.displayString() + u" is imported as "_s
                + NativePath::forDisplay(NativePath::decode(*freeName))
                + u": an earlier photo of the card has its name"_s);
        result.numbered.append({entry.path.toString(), NativePath::decode(*freeName)});
        planCopy(entry, *freeName);
    }
    progress.filesTotal = plan.size();
    result.planned = plan.size();

    // The working folder is checked before anything is copied: copies that could not
    // be put anywhere would only become a second place where photos wait.
    const std::optional<struct stat> workingInfo = working.isEmpty() ? std::nullopt : statOf(working);
    if (!workingInfo || !S_ISDIR(workingInfo->st_mode)) {
        result.message = working.isEmpty()
            ? u"No working folder is set; nothing was copied."_s
            : u"The working folder "_s + working + u" does not exist; nothing was copied."_s;
        return finish(Outcome::NoWorkingFolder);
    }
    if (const std::optional<QString> refusal = FolderSettings::refusal(FolderSettings::Folder::Working, working))
        return refuse(*refusal + u" The card "_s + card + u" is not imported there."_s);
    const QString workingResolved = comparable(working);
    if (const QString overlap = overlapWithCard(card, workingResolved, options.destinationFolder); !overlap.isEmpty())
        return refuse(u"The card "_s + card + u" cannot be imported into the working folder "_s + working + u": "_s
                      + overlap + u'.');
    const QString stagingResolved = comparable(stagingPath);
    if (isSameOrInside(card, stagingResolved) || isSameOrInside(stagingResolved, card)
        || isSameOrInside(workingResolved, stagingResolved) || isSameOrInside(stagingResolved, workingResolved))
        return refuse(u"The staging folder "_s + stagingResolved
                      + u" overlaps the folder to import or the working folder."_s);
    result.workingFolderPhotos = photosInFolder(working);
    result.workingFolderBarcoded = unfiledBarcodedPhotos(working);
    if (result.workingFolderPhotos > 0 && !options.discardWorkingFolder)
        return refuse(u"The working folder "_s + working + u" holds "_s
                      + leftOverText(result.workingFolderPhotos, result.workingFolderBarcoded)
                      + u" that would be moved to the trash to make room for the card, and nobody agreed to that."_s);
    // Importing the rest would report a card done that still holds a photo nowhere else.
    if (!result.failed.isEmpty())
        return refuse(
            u"No name is free in the working folder for %1 of the card:\n"_s.arg(photosText(result.failed.size()))
            + listText(result.failed) + u"\n\nEvery photo is still on the card."_s);

    QString earlierKept;
    if (FileResult r = prepareStaging(staging, &earlierKept); !r)
        return refuse(u"The staging folder cannot be made: "_s + r.text());
    // Copies that are not needed (the card, not ejected, still holds every photo) go; others are kept.
    const auto dropStaging = [&] {
        if (FileResult r = removeStagedCopies(staging); !r)
            logLine(u"CardCopyRun.... "_s + r.text());
    };

    // What earlier imports kept (a killed run's copies among them) goes once each of its
    // files is found on this card or in the working folder, before the working folder is cleared.
    QStringList keptFolders = KeptStaging::foldersBeside(staging);
    if (NativePath(cacheStagingFolder()) != staging)
        keptFolders += KeptStaging::foldersBeside(NativePath(cacheStagingFolder()));
    keptFolders.removeDuplicates();
    if (!keptFolders.isEmpty()) {
        report.status(u"Checking the photos that an earlier import kept..."_s);
        QList<NativePath> elsewhere = cardFiles;
        SafeFileListOptions everything;
        everything.skipHidden = false;
        everything.recursive = true;
        for (const SafeFileEntry &e :
             SafeFile::list(NativePath(working), everything).value_or(QList<SafeFileEntry>())) {
            if (e.type == SafeFileEntryType::Regular)
                elsewhere.append(e.path);
        }
        const KeptStaging::Sweep sweep = KeptStaging::clear(keptFolders, elsewhere);
        result.removedKeptFolders = sweep.removed;
        for (const KeptStaging::Kept &k : sweep.kept)
            result.earlierKept.append({k.folder, k.reason});
    }
    QString earlierNote;
    if (!result.earlierKept.isEmpty()) {
        QStringList folders;
        for (const Skip &k : std::as_const(result.earlierKept))
            folders.append(k.name + u" ("_s + k.reason + u')');
        earlierNote = u"\n\nPhotos that an earlier import kept are still in:\n"_s + folders.join(u'\n')
            + u"\nThey may be the only copies: once each is safe elsewhere, remove the folder."_s;
    }

    // Room for every photo, where it is staged and (when that is another file system)
    // where it goes; what the working folder holds now moves to a trash on its own file system.
    QList<NativePath> places {staging};
    if (deviceOf(staging) != workingInfo->st_dev)
        places.append(NativePath(working));
    for (const NativePath &place : std::as_const(places)) {
        qint64 blockSize = 4096;
        const std::optional<qint64> room = freeBytes(place, &blockSize);
        const qint64 needed = roomNeeded(plan, blockSize);
        if (room && *room < needed) {
            dropStaging();
            result.message = u"There is not enough room for the card's photos: they need %1, and only %2 is free "
                             "where %3 goes.\n\nNothing was copied; the working folder was left as it was."_s.arg(
                                 megabytes(needed), megabytes(*room), place.toString())
                + earlierNote;
            return finish(Outcome::Refused);
        }
    }

    // Staging: the copies are synced and read back; several run at once so that
    // one file's sync and read-back overlap the next one's copying.
    QElapsedTimer copyTimer;
    copyTimer.start();
    std::atomic<qsizetype> next {0};
    std::atomic<qsizetype> filesDone {0};
    std::atomic<qsizetype> filesFailed {0};
    std::atomic<qint64> bytesDone {0};
    QMutex resultLock;
    QList<std::optional<FileResult>> outcomes(plan.size());
    const auto snapshot = [&] {
        Progress p = progress;
        p.filesDone = filesDone.load();
        p.filesFailed = filesFailed.load();
        p.bytesDone = bytesDone.load();
        p.seconds = copyTimer.nsecsElapsed() / 1e9;
        return p;
    };
    const auto worker = [&] {
        for (;;) {
            const qsizetype i = next.fetch_add(1);
            if (i >= plan.size())
                return;
            const Planned &item = plan.at(i);
            report.status(u"Copying Photo: "_s + item.entry.displayName);
            std::int64_t counted = 0;
            SafeFileCopyOptions copyOptions;
            // Synced and read back from the page cache: reading the whole card's worth
            // from the disk again would double the import time (a write error still
            // shows as a failed sync).
            copyOptions.readBackFromDisk = false;
            copyOptions.progress = [&](std::int64_t done, std::int64_t) {
                bytesDone += done - counted;
                counted = done;
                report.progress(snapshot(), false);
                return true;
            };
            SafeFileCopyReport copyReport;
            const FileResult r = SafeFile::copy(item.entry.path, item.staged, copyOptions, &copyReport);
            bytesDone -= counted;
            if (r) {
                bytesDone += copyReport.bytes;
                ++filesDone;
                report.copied(item.entry.displayName, copyReport.bytes);
            } else {
                ++filesFailed;
                logLine(u"oops somethingwrong with copyItemAtURL "_s + r.text());
            }
            report.progress(snapshot(), true);
            QMutexLocker locker(&resultLock);
            outcomes[i] = r;
        }
    };
    const int threads = std::clamp(options.copyThreads, 1, 8);
    std::vector<std::thread> helpers;
    for (int t = 1; t < threads && t < plan.size(); ++t)
        helpers.emplace_back(worker);
    worker();
    for (std::thread &t : helpers)
        t.join();
    result.copySeconds = copyTimer.nsecsElapsed() / 1e9;

    QList<NativePath> staged;
    for (qsizetype i = 0; i < plan.size(); ++i) {
        const FileResult &r = *outcomes.at(i);
        if (r) {
            ++result.staged;
            result.bytes += plan.at(i).size;
            staged.append(plan.at(i).staged);
        } else {
            result.failed.append({plan.at(i).entry.path.toString(), r.text()});
        }
    }
    logLine(u"CardCopyRun.... staged %1 of %2 photos (%3 bytes) in %4 s"_s.arg(result.staged)
                .arg(plan.size())
                .arg(result.bytes)
                .arg(result.copySeconds, 0, 'f', 2));

    // The working folder is cleared only for a complete, checked staging copy.
    Outcome stop = Outcome::Transferred;
    if (!result.failed.isEmpty()) {
        stop = Outcome::StagingIncomplete;
        result.message = u"Only %1 of %2 photos could be copied from the card:\n"_s.arg(result.staged).arg(plan.size())
            + listText(result.failed);
    } else if (!result.walkErrors.isEmpty()) {
        stop = Outcome::StagingIncomplete;
        QStringList shown = result.walkErrors.mid(0, 5);
        result.message = u"Part of the card could not be read, so photos may be missing:\n"_s + shown.join(u'\n');
    } else if (result.photos == 0) {
        stop = Outcome::NoPhotos;
        result.message = u"No photos were found on the card at "_s + options.cardFolder + u'.';
    }
    if (stop != Outcome::Transferred) {
        result.message += u"\n\nThe working folder was left as it was. The card was not ejected."_s + earlierNote;
        result.outcome = stop;
        report.status(result.summary());
        dropStaging();
        return finish(stop);
    }
    report.status(u"Done - Copying Files from Card..."_s);

    // The filing run's own lock: the folder is never cleared while photos are filed out of it.
    // It is cleared before the card is ejected, so that a folder that cannot be
    // cleared leaves the card in place with every photo on it.
    QLockFile filingLock(FilingRun::lockPathFor(working));
    lockWaiting(filingLock, report, u"Waiting for the filing run on the working folder to finish..."_s);
    removeKilledLeftovers(NativePath(working));
    const qsizetype photosNow = photosInFolder(working);
    QString refusal;
    if (photosNow > 0 && !options.discardWorkingFolder) {
        refusal = u"it now holds "_s + photosText(photosNow) + u", and nobody agreed to move them to the trash"_s;
    } else if (!removeFolderAtPath(working, {stagingPath, card, options.destinationFolder}, &refusal)) {
        refusal = u"it could not be cleared: "_s + refusal;
    }
    if (!refusal.isEmpty()) {
        result.message = u"The working folder "_s + working + u" was not filled: "_s + refusal
            + u".\n\nNothing was copied into it; what was cleared from it is in the trash. The card was not "
              "ejected and still holds every photo."_s
            + earlierNote;
        dropStaging();
        result.outcome = Outcome::WorkingFolderRefused;
        report.status(result.summary());
        return finish(Outcome::WorkingFolderRefused);
    }

    if (!options.ejectPath.isEmpty()) {
        if (options.eject)
            options.eject(options.ejectPath);
        else
            VolumeEjector::unmountAndEjectDeviceAtPath(options.ejectPath);
        result.ejected = true;
    }
    report.status(u"Done - Copying Files from Card..."_s);
    if (options.settleMs > 0)
        QThread::msleep(ulong(options.settleMs));

    // What the card brought in is recorded before it arrives: a photo in the folder is
    // never without its record. A card mixing naming styles has no part count to agree on.
    QStringList importedNames;
    for (const NativePath &from : std::as_const(staged))
        importedNames.append(NativePath::decode(from.fileNameBytes()));
    if (const FileResult recorded = PhotoNameRecord::recordImport(working, importedNames); !recorded)
        logLine(u"CardCopyRun.... the imported names are not recorded: "_s + recorded.text());
    if (!PhotoNameRecord::agreedPartCount(importedNames) && !importedNames.isEmpty()) {
        result.mixedNames = namingExamples(importedNames);
        logLine(u"CardCopyRun.... the card mixes naming styles ("_s + result.mixedNames
                + u"); its photos are told by the names imported, not by their count of \"_\" parts"_s);
    }

    // Renames on one file system; elsewhere checked copies whose staged originals then go.
    const NativePath workingFolder(working);
    SafeFileCopyOptions moveOptions;
    moveOptions.syncFolders = false;
    for (const NativePath &from : std::as_const(staged)) {
        const QByteArray name = from.fileNameBytes();
        report.status(u"Transferring Photo: "_s + QString::fromUtf8(name));
        if (const FileResult r = SafeFile::move(from, workingFolder.child(name), moveOptions); !r) {
            logLine(u"oops somethingwrong with transfer "_s + r.text());
            result.failed.append({QString::fromUtf8(name), r.text()});
            continue;
        }
        ++result.transferred;
    }
    for (const NativePath &folder : {workingFolder, staging}) {
        if (FileResult r = SafeFile::syncFolder(folder); !r)
            logLine(u"CardCopyRun.... "_s + r.text());
    }

    if (!result.failed.isEmpty()) {
        // These photos may exist nowhere else now: out of the way of every later run.
        result.keptFolder = keepAside(staging);
        const QString kept = result.keptFolder.isEmpty() ? stagingPath : result.keptFolder;
        result.message =
            u"The working folder was cleared, but %1 of %2 photos could not be put there:\n"_s.arg(result.failed.size())
                .arg(staged.size())
            + listText(result.failed) + u"\n\nThose photos are kept in "_s + kept + u'.'
            + (result.ejected ? QString() : u" The card was not ejected."_s) + earlierNote;
        if (result.keptFolder.isEmpty())
            result.keptFolder = stagingPath;
        result.outcome = Outcome::TransferIncomplete;
        report.status(result.summary());
        return finish(Outcome::TransferIncomplete);
    }
    if (::rmdir(staging.c_str()) != 0)
        logLine(u"CardCopyRun.... "_s + FileResult::failure(u"remove folder"_s, staging, errno).text());
    else if (FileResult r = SafeFile::syncFolder(staging.parent()); !r)
        logLine(u"CardCopyRun.... "_s + r.text());
    if (!result.mixedNames.isEmpty())
        result.message = u"The card mixes naming styles ("_s + result.mixedNames
            + u"), so the number of \"_\" in a name cannot tell whether it carries a barcode. The names the card "
              "brought in are kept: a photo carries a barcode once one is put in front of its name."_s;
    result.message = QString(result.message + earlierNote).trimmed();
    logLine(u"CardCopyRun.... transferred %1 photos into %2"_s.arg(result.transferred).arg(working));
    return finish(Outcome::Transferred);
}
