#include "CardCopyRun.h"

#include "VolumeEjector.h"
#include "filing/FilingRun.h"
#include "model/ImageTypes.h"
#include "shell/AppPaths.h"
#include "shell/SettingsKeys.h"
#include "shell/SettingsStore.h"
#include "support/MountTable.h"
#include "support/PathUtils.h"
#include "support/SafeFile.h"
#include "support/SystemLog.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
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
// first folder of a card (100CANON before 101CANON) wins.
bool walkOrder(const SafeFileEntry &a, const SafeFileEntry &b)
{
    const QList<QByteArray> pa = a.path.bytes().split('/');
    const QList<QByteArray> pb = b.path.bytes().split('/');
    return std::lexicographical_compare(pa.cbegin(), pa.cend(), pb.cbegin(), pb.cend());
}

QString canonical(const QString &path)
{
    char *resolved = ::realpath(QFile::encodeName(path).constData(), nullptr);
    if (!resolved)
        return {};
    const QString out = QFile::decodeName(resolved);
    std::free(resolved);
    return out;
}

// The path as it will be met on disk: links resolved when it exists, else cleaned.
QString comparable(const QString &path)
{
    const QString expanded = QDir::cleanPath(PathUtils::expandTilde(path));
    const QString resolved = canonical(expanded);
    return resolved.isEmpty() ? expanded : resolved;
}

bool isSameOrInside(const QString &inner, const QString &outer)
{
    if (outer == u"/"_s)
        return inner.startsWith(u'/');
    return inner == outer || (inner.startsWith(outer) && inner.at(outer.size()) == u'/');
}

// Deletes everything below a folder, on raw names, never following links
// and never crossing into another file system.
FileResult emptyFolder(const NativePath &folder, dev_t device)
{
    SafeFileListOptions everything;
    everything.skipHidden = false;
    FileResult error;
    const std::optional<QList<SafeFileEntry>> entries = SafeFile::list(folder, everything, &error);
    if (!entries)
        return error;
    FileResult first;
    const auto note = [&first](const FileResult &r) {
        if (first.ok() && !r.ok())
            first = r;
    };
    for (const SafeFileEntry &entry : *entries) {
        struct stat info = {};
        if (::lstat(entry.path.c_str(), &info) != 0) {
            note(FileResult::failure(u"stat"_s, entry.path, errno));
            continue;
        }
        if (S_ISDIR(info.st_mode)) {
            if (info.st_dev != device) {
                note(FileResult::failure(u"remove"_s, entry.path, u"another file system is mounted there"_s, EXDEV));
                continue;
            }
            if (FileResult r = emptyFolder(entry.path, device); !r) {
                note(r);
                continue;
            }
            if (::rmdir(entry.path.c_str()) != 0)
                note(FileResult::failure(u"remove folder"_s, entry.path, errno));
        } else if (::unlink(entry.path.c_str()) != 0) {
            note(FileResult::failure(u"remove"_s, entry.path, errno));
        }
    }
    if (FileResult r = SafeFile::syncFolder(folder); !r)
        note(r);
    return first;
}

FileResult removeTree(const NativePath &folder)
{
    struct stat info = {};
    if (::lstat(folder.c_str(), &info) != 0)
        return FileResult::failure(u"stat"_s, folder, errno);
    if (!S_ISDIR(info.st_mode))
        return SafeFile::remove(folder);
    if (FileResult r = emptyFolder(folder, info.st_dev); !r)
        return r;
    if (::rmdir(folder.c_str()) != 0)
        return FileResult::failure(u"remove folder"_s, folder, errno);
    return {};
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
    // The whole path lets the type be judged by content where the name says nothing;
    // a name that is no valid UTF-8 is judged by its readable part.
    return ImageTypes::isImageFile(entry.path.isValidUtf8() ? entry.path.toString() : entry.displayName);
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
    lock.lock();
}

} // namespace

QString CardCopyRun::stagingFolderPath()
{
    return AppPaths::temporaryDirectoryForThisApp() + u"/copyOfCard"_s;
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
    o.stagingFolder = stagingFolderPath();
    o.workingFolder = PathUtils::expandTilde(store.stringForKey(cPrefSourcePath).value_or(QString()));
    o.destinationFolder = PathUtils::expandTilde(store.stringForKey(cPrefDestinationPath).value_or(QString()));
    o.ejectPath = store.stringForKey(cPrefTempMountVolume).value_or(QString());
    return o;
}

bool CardCopyRun::removeFolderAtPath(const QString &path, const QStringList &alsoProtected, QString *reason)
{
    const auto refuse = [&](const QString &why) {
        logLine(u"removeFolderAtPath.... refused for "_s + path + u": "_s + why);
        if (reason)
            *reason = why;
        return false;
    };
    if (path.isEmpty())
        return refuse(u"no folder given"_s);
    const QString cleaned = QDir::cleanPath(PathUtils::expandTilde(path));
    struct stat info = {};
    if (::stat(QFile::encodeName(cleaned).constData(), &info) != 0)
        return refuse(u"the folder does not exist"_s);
    if (!S_ISDIR(info.st_mode))
        return refuse(u"not a folder"_s);
    const QString folder = canonical(cleaned);
    if (folder.isEmpty())
        return refuse(u"the folder cannot be resolved"_s);
    if (folder == u"/"_s)
        return refuse(u"it is the root folder"_s);
    if (const QString home = comparable(QDir::homePath()); !home.isEmpty() && isSameOrInside(home, folder))
        return refuse(u"it is or holds the home folder "_s + home);

    const std::optional<MountTable> table = MountTable::read();
    struct stat parentInfo = {};
    const QByteArray parentBytes = QFile::encodeName(QFileInfo(folder).path());
    if ((::stat(parentBytes.constData(), &parentInfo) == 0 && parentInfo.st_dev != info.st_dev)
        || (table && table->mountAt(QFile::encodeName(folder))))
        return refuse(u"it is a mount point"_s);
    if (table) {
        for (const MountTable::Mount &m : table->mounts()) {
            const QString point = QFile::decodeName(m.mountPoint);
            if (isSameOrInside(point, folder))
                return refuse(u"it holds the mount point "_s + point);
        }
    }
    const QString destination = SettingsStore::standard().stringForKey(cPrefDestinationPath).value_or(QString());
    if (!destination.isEmpty() && isSameOrInside(comparable(destination), folder))
        return refuse(u"it is or holds the destination folder "_s + destination);
    for (const QString &kept : alsoProtected) {
        if (!kept.isEmpty() && isSameOrInside(comparable(kept), folder))
            return refuse(u"it is or holds "_s + kept);
    }

    if (FileResult r = emptyFolder(NativePath(folder), info.st_dev); !r) {
        logLine(u"removeFolderAtPath.... "_s + r.text());
        if (reason)
            *reason = r.text();
        return false;
    }
    logLine(u"removeFolderAtPath.... emptied "_s + folder);
    return true;
}

CardCopyRun::Result CardCopyRun::run(const Options &options)
{
    QElapsedTimer runTimer;
    runTimer.start();
    Reporter report(options);
    Result result;
    const QString stagingPath = options.stagingFolder.isEmpty() ? stagingFolderPath() : options.stagingFolder;
    result.stagingFolder = stagingPath;
    const auto finish = [&](Outcome outcome) {
        result.outcome = outcome;
        result.seconds = runTimer.nsecsElapsed() / 1e9;
        return result;
    };

    report.status(u"Copying Files from Card..."_s);

    // Another process (the command-line tool) may be importing into the same staging folder.
    QDir().mkpath(QFileInfo(stagingPath).path());
    QLockFile importLock(stagingPath + u".lock"_s);
    lockWaiting(importLock, report, u"Waiting for another card import to finish..."_s);

    const QString card = canonical(options.cardFolder);
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
    // Clearing the staging folder must never reach the photos being imported.
    const QString stagingResolved = comparable(stagingPath);
    const bool workingInStaging =
        !options.workingFolder.isEmpty() && isSameOrInside(comparable(options.workingFolder), stagingResolved);
    if (isSameOrInside(card, stagingResolved) || isSameOrInside(stagingResolved, card) || workingInStaging) {
        logLine(u"CardCopyRun.... refused: the staging folder "_s + stagingResolved
                + u" overlaps the card or the working folder"_s);
        result.message = u"The staging folder "_s + stagingResolved
            + u" overlaps the folder to import or the working folder; nothing was copied."_s;
        return finish(Outcome::StagingIncomplete);
    }
    for (const FileResult &e : std::as_const(walkErrors)) {
        logLine(u"directoryEnumerator error: "_s + e.text() + u"."_s);
        result.walkErrors.append(e.text());
    }
    QList<SafeFileEntry> entries = *listed;
    std::stable_sort(entries.begin(), entries.end(), walkOrder);

    // Staging folder, made afresh. Failures are logged; the copies below then fail and say so.
    const NativePath staging(stagingPath);
    struct stat existing = {};
    if (::lstat(staging.c_str(), &existing) == 0) {
        if (FileResult r = removeTree(staging); !r)
            logLine(u"oops somethingwrong with removeItemAtPath "_s + r.text());
    }
    if (FileResult r = SafeFile::makeFolders(staging); !r)
        logLine(u"oops somethingwrong with createDirectoryAtPath "_s + r.text());

    // Which photos go where: the first of several same-named photos wins.
    QList<Planned> plan;
    QHash<QByteArray, QString> firstOfName;
    Progress progress;
    for (const SafeFileEntry &entry : std::as_const(entries)) {
        if (entry.type != SafeFileEntryType::Regular)
            continue;
        ++result.entries;
        if (!isImage(entry))
            continue;
        ++result.photos;
        const NativePath target = staging.child(entry.name);
        if (const auto it = firstOfName.constFind(entry.name); it != firstOfName.constEnd()) {
            const FileResult clash = FileResult::failure(u"copy"_s, target, EEXIST);
            logLine(u"oops somethingwrong with copyItemAtURL "_s + clash.text() + u" ("_s + entry.path.toString()
                    + u")"_s);
            result.sameName.append({entry.path.toString(), u"same name as "_s + *it + u", which was copied"_s});
            continue;
        }
        firstOfName.insert(entry.name, entry.path.toString());
        struct stat info = {};
        const qint64 size = ::lstat(entry.path.c_str(), &info) == 0 ? qint64(info.st_size) : 0;
        plan.append({entry, size, target});
        progress.bytesTotal += size;
    }
    progress.filesTotal = plan.size();

    // Staging: the copies are synced and read back; several run at once so that
    // one file's sync and read-back overlap the next one's copying.
    QElapsedTimer copyTimer;
    copyTimer.start();
    std::atomic<qsizetype> next {0};
    std::atomic<qsizetype> filesDone {0};
    std::atomic<qint64> bytesDone {0};
    QMutex resultLock;
    QList<std::optional<FileResult>> outcomes(plan.size());
    const auto snapshot = [&] {
        Progress p = progress;
        p.filesDone = filesDone.load();
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
                report.copied(item.entry.displayName, copyReport.bytes);
            } else {
                logLine(u"oops somethingwrong with copyItemAtURL "_s + r.text());
            }
            ++filesDone;
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

    report.status(u"Done - Copying Files from Card..."_s);

    // The working folder is emptied only for a complete, checked staging copy.
    Outcome stop = Outcome::Transferred;
    if (!result.failed.isEmpty()) {
        stop = Outcome::StagingIncomplete;
        result.message =
            u"%1 of %2 photos could not be copied from the card:\n"_s.arg(result.failed.size()).arg(plan.size())
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
        result.message += u"\n\nThe working folder was left as it was. The card was not ejected."_s;
        logLine(u"CardCopyRun.... stopped before the working folder: "_s + result.message);
        return finish(stop);
    }

    if (!options.ejectPath.isEmpty()) {
        if (options.eject)
            options.eject(options.ejectPath);
        else
            VolumeEjector::unmountAndEjectDeviceAtPath(options.ejectPath);
    }
    report.status(u"Done - Copying Files from Card..."_s);
    if (options.settleMs > 0)
        QThread::msleep(ulong(options.settleMs));

    const QString working = options.workingFolder;
    if (working.isEmpty()) {
        logLine(u"CardCopyRun.... no working folder is set; nothing transferred"_s);
        return finish(Outcome::NoWorkingFolder);
    }
    struct stat workingInfo = {};
    if (::stat(QFile::encodeName(working).constData(), &workingInfo) != 0 || !S_ISDIR(workingInfo.st_mode)) {
        logLine(u"CardCopyRun.... the working folder "_s + working + u" does not exist; nothing transferred"_s);
        return finish(Outcome::NoWorkingFolder);
    }

    // The filing run's own lock: the folder is never emptied while photos are filed out of it.
    QLockFile filingLock(FilingRun::lockPathFor(working));
    lockWaiting(filingLock, report, u"Waiting for the filing run on the working folder to finish..."_s);
    QString refusal;
    const QStringList protectedFolders {stagingPath, card, options.destinationFolder};
    if (!removeFolderAtPath(working, protectedFolders, &refusal)) {
        result.message = u"The working folder "_s + working + u" was not replaced: "_s + refusal
            + u".\n\nThe card's photos are in "_s + stagingPath + u'.';
        return finish(Outcome::WorkingFolderRefused);
    }

    const NativePath workingFolder(working);
    struct stat stagingInfo = {};
    const bool sameFileSystem = ::stat(staging.c_str(), &stagingInfo) == 0 && stagingInfo.st_dev == workingInfo.st_dev;
    for (const NativePath &from : std::as_const(staged)) {
        const QByteArray name = from.fileNameBytes();
        const NativePath to = workingFolder.child(name);
        report.status(u"Transferring Photo: "_s + QString::fromUtf8(name));
        bool linked = false;
        if (sameFileSystem) {
            if (::link(from.c_str(), to.c_str()) == 0) {
                linked = true;
            } else if (errno != EXDEV && errno != EPERM && errno != EMLINK && errno != ENOTSUP) {
                const FileResult r = FileResult::failure(u"link"_s, to, errno);
                logLine(u"oops somethingwrong with transfer "_s + r.text());
                result.failed.append({QString::fromUtf8(name), r.text()});
                continue;
            }
        }
        if (!linked) {
            if (const FileResult r = SafeFile::copy(from, to); !r) {
                logLine(u"oops somethingwrong with transfer "_s + r.text());
                result.failed.append({QString::fromUtf8(name), r.text()});
                continue;
            }
        }
        ++result.transferred;
    }
    if (FileResult r = SafeFile::syncFolder(workingFolder); !r)
        logLine(u"CardCopyRun.... "_s + r.text());

    if (!result.failed.isEmpty()) {
        // The next run would clear the staging folder: keep these photos out of its way.
        const QString kept = stagingPath + u"-kept-"_s + QDateTime::currentDateTime().toString(u"yyyyMMdd-HHmmss"_s);
        const FileResult moved = SafeFile::renameNoReplace(staging, NativePath(kept));
        result.keptFolder = moved ? kept : stagingPath;
        result.message =
            u"The working folder was emptied, but %1 photos could not be put there:\n"_s.arg(result.failed.size())
            + listText(result.failed) + u"\n\nAll the card's photos are kept in "_s + result.keptFolder + u'.';
        logLine(u"CardCopyRun.... "_s + result.message);
        return finish(Outcome::TransferIncomplete);
    }
    logLine(u"CardCopyRun.... transferred %1 photos into %2"_s.arg(result.transferred).arg(working));
    return finish(Outcome::Transferred);
}
