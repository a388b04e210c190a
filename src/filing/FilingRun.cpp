#include "FilingRun.h"

#include "DestinationPathRules.h"
#include "shell/SettingsKeys.h"
#include "shell/SettingsStore.h"
#include "support/SafeFile.h"
#include "support/SystemLog.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QStandardPaths>

using namespace Qt::StringLiterals;

// One run per working folder, whichever process starts it (the window or the command line).
QString FilingRun::lockPathFor(const QString &srcPath)
{
    QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (runtime.isEmpty())
        runtime = QDir::tempPath();
    const QByteArray key =
        QCryptographicHash::hash(QFileInfo(srcPath).absoluteFilePath().toUtf8(), QCryptographicHash::Sha1)
            .toHex()
            .left(16);
    return runtime + u"/lumisort-filing-"_s + QString::fromLatin1(key) + u".lock"_s;
}

FilingRun::Summary FilingRun::summarize(qsizetype moved, qsizetype attempted, qsizetype total, qsizetype failures)
{
    Summary s;
    s.failures = failures;
    s.moved = moved;
    s.attempted = attempted;
    s.total = total;
    const QString counts = u"Moved "_s + QString::number(moved) + u" out of "_s + QString::number(attempted)
        + u" Allowed Files.\nFolder has Total of "_s + QString::number(total) + u" Files"_s;
    if (attempted == 0) {
        s.title = u"Somehow NO Files to Move/Copy..."_s;
        s.text = u"Hmm - No Files to Move/Copy???\nFolder has Total of "_s + QString::number(total) + u" Files"_s;
    } else if (moved == attempted && failures == 0) {
        s.title = u"Finished Moving ALL ReAssigned Files..."_s;
        s.text = counts;
    } else {
        s.title = u"Possible Issue(s) with Moving ReAssigned Files..."_s;
        s.text = counts;
    }
    return s;
}

FilingRun::Result FilingRun::run(const QString &srcPath, const QString &destPath,
                                 const std::function<void(const Event &)> &observer)
{
    const auto tell = [&observer](const Event &e) {
        if (observer)
            observer(e);
    };
    Result result;
    if (srcPath.isEmpty()) {
        logLine(u"srcpath does NOT exist??? ["_s + srcPath + u"]"_s);
        result.stop = Stop::MissingSource;
        return result;
    }
    if (destPath.isEmpty()) {
        logLine(u"destPath does NOT exist??? ["_s + destPath + u"]"_s);
        result.stop = Stop::MissingDestination;
        return result;
    }
    QLockFile lock(lockPathFor(srcPath));
    lock.setStaleLockTime(0); // a crashed run's lock is recognised by its process id instead
    if (!lock.tryLock(0)) {
        logLine(u"FilingRun -> run.... a filing run is already working on "_s + srcPath + u"; refused"_s);
        result.stop = Stop::AlreadyRunning;
        result.reason = u"A filing run is already working on this folder."_s;
        return result;
    }

    if (!QFileInfo(destPath).isDir()) {
        if (const FileResult made = SafeFile::makeFolders(destPath); !made)
            logLine(u"oops somethign went wrong "_s + made.text());
    }

    FileResult listError;
    const std::optional<QList<SafeFileEntry>> entries = SafeFile::list(srcPath, {}, &listError);
    if (!entries) {
        logLine(u"FilingRun -> run.... cannot list "_s + srcPath + u": "_s + listError.text());
        result.stop = Stop::Unlistable;
        result.reason = listError.text();
        return result;
    }
    QList<SafeFileEntry> files;
    for (const SafeFileEntry &entry : *entries) {
        if (entry.type != SafeFileEntryType::Directory && !entry.name.isEmpty())
            files.append(entry);
    }

    SettingsStore &store = SettingsStore::standard();
    const bool moveUnassigned = store.integerForKey(cPrefMoveUnasignedPhotoMethodTag) == 1;
    const qsizetype total = files.size();
    qsizetype attempted = 0;
    qsizetype moved = 0;
    qsizetype failures = 0;
    SafeFileCopyOptions replacing;
    replacing.replace = SafeFileReplace::Atomically;
    // Renames within one file system are synced once at the end, not twice per photo.
    replacing.syncFolders = false;
    // The unassigned-photos folder is made (when enabled) once for the run.
    const std::optional<QString> unknownFolder = DestinationPathRules::getDestinationPathForUnknown();

    for (qsizetype i = 0; i < files.size(); ++i) {
        const SafeFileEntry &file = files.at(i);
        const QString name = file.displayName;
        const NativePath target = NativePath(destPath).child(file.name);
        const QString path = file.path.toString();
        const bool unassigned =
            DestinationPathRules::checkIfIsUnknown(path).has_value() || DestinationPathRules::checkIfIsOriginal(path);
        Event event {EventKind::Moving, name, target.toString(), QString(), i + 1, total};

        if (unassigned && !moveUnassigned) {
            logLine(u"Do Move Unknown Item is FALSE - so will file="_s + name + u" will remain in source folder...."_s);
            tell({EventKind::LeftInPlace, name, path, u"no barcode yet; left in the working folder"_s, i + 1, total});
            continue;
        }
        if (unassigned && unknownFolder) {
            const NativePath unassignedTarget = NativePath(*unknownFolder).child(file.name);
            if (const FileResult r = SafeFile::move(file.path, unassignedTarget, replacing); r) {
                tell({EventKind::MovedUnassigned, name, unassignedTarget.toString(), QString(), i + 1, total});
                continue;
            } else {
                ++failures;
                logLine(u"File not saved:\n"_s + r.text());
            }
        } else if (unassigned) {
            logLine(u"UNASSIGNED Folder not found - will move to default destination folder...."_s);
        }

        tell(event);
        logLine(u"Copying TO:\n "_s + target.toString());
        ++attempted;
        // Replaced in one step: the new file is complete before it takes the name,
        // so a failure never leaves the destination without either file.
        if (const FileResult r = SafeFile::move(file.path, target, replacing); r) {
            ++moved;
            tell({EventKind::Moved, name, target.toString(), QString(), i + 1, total});
        } else {
            ++failures;
            logLine(u"File not saved:\n"_s + r.text());
            tell({EventKind::Failed, name, target.toString(), r.text(), i + 1, total});
        }
    }
    for (const QString &folder : {destPath, srcPath, unknownFolder.value_or(QString())}) {
        if (folder.isEmpty())
            continue;
        if (const FileResult synced = SafeFile::syncFolder(folder); !synced)
            logLine(u"FilingRun -> run.... "_s + synced.text());
    }
    result.summary = summarize(moved, attempted, total, failures);
    return result;
}
