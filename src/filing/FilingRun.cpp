#include "FilingRun.h"

#include "DestinationPathRules.h"
#include "FilePlacement.h"
#include "model/ImageTypes.h"
#include "model/PhotoNameRule.h"
#include "settings/FolderSettings.h"
#include "settings/SettingsKeys.h"
#include "settings/SettingsStore.h"
#include "support/AbandonedLock.h"
#include "support/NearestExistingFolder.h"
#include "support/PathRelation.h"
#include "support/PathUtils.h"
#include "support/Plural.h"
#include "support/RunLock.h"
#include "support/SafeFile.h"
#include "support/SystemLog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

const QString cNothingMoved = u" Nothing was moved."_s;

bool hasDotComponent(const QByteArray &path)
{
    const QList<QByteArray> parts = path.split('/');
    return std::any_of(parts.cbegin(), parts.cend(),
                       [](const QByteArray &part) { return part == "." || part == ".."; });
}

// Every symbolic link resolved; the part that does not exist yet (a daily folder
// made by this run) is appended as written.
QByteArray canonicalPath(const QString &path)
{
    return NearestExistingFolder::resolved(NativePath(path)).bytes();
}

// Why filing from the working folder into the destination would file a folder into itself.
std::optional<QString> intoItselfProblem(const QString &srcPath, const QString &destPath,
                                         const std::optional<QString> &unassignedFolder)
{
    const QByteArray source = canonicalPath(srcPath);
    const QByteArray destination = canonicalPath(destPath);
    if (PathRelation::isSameOrInside(destination, source) && PathRelation::isSameOrInside(source, destination))
        return u"The destination folder "_s + destPath + u" is the working folder itself."_s;
    if (PathRelation::isSameOrInside(destination, source))
        return u"The destination folder "_s + destPath + u" is inside the working folder "_s + srcPath + u'.';
    if (PathRelation::isSameOrInside(source, destination))
        return u"The working folder "_s + srcPath + u" is inside the destination folder "_s + destPath + u'.';
    if (unassignedFolder && PathRelation::isSameOrInside(canonicalPath(*unassignedFolder), source))
        return u"The unassigned-photos folder "_s + *unassignedFolder + u" is inside the working folder "_s + srcPath
            + u'.';
    return std::nullopt;
}

FilingRun::Placement placementOf(FilePlacement::Outcome outcome)
{
    switch (outcome) {
    case FilePlacement::Outcome::MovedUnderNewName:
        return FilingRun::Placement::UnderNewName;
    case FilePlacement::Outcome::AlreadyFiled:
        return FilingRun::Placement::AlreadyFiled;
    case FilePlacement::Outcome::Moved:
    case FilePlacement::Outcome::Failed:
        break;
    }
    return FilingRun::Placement::AsNamed;
}

QString noticeLines(const QList<FilingRun::Notice> &notices)
{
    QString lines;
    for (const FilingRun::Notice &notice : notices)
        lines += u"\n"_s + notice.name + u" \u2192 "_s + notice.target;
    return lines;
}

// What killed runs left: a temporary copy (its original was still in place when the run
// was killed, so only a duplicate goes) and an empty claim holding a name where renames
// cannot refuse to replace (filed from, it would go out as a photo; filed into, it would
// push the real photo to a numbered name beside it).
void removeKilledLeftovers(const QString &folder)
{
    for (const NativePath &removed : SafeFile::removeKilledLeftovers(folder))
        logLine(u"FilingRun -> run.... left by a killed run, removed: "_s + removed.displayString());
}
// Photos on their way at once. A move to another file system spends most of its time
// waiting on the two disks (its copy's sync, its original's removal: on a disk mounted
// with discard and no journal, each removal waits for the device to discard the freed
// blocks), and the next photos are copied meanwhile; a thread that waits costs no CPU,
// and on a busy machine 16 finished in three quarters of the time of 8. Each photo still
// finishes its own sync, read-back and rename before its original goes.
constexpr qsizetype cPhotosInFlight = 16;

// Threads that place photos while the run's own thread tells their events in order.
class PlacementWorkers
{
public:
    explicit PlacementWorkers(qsizetype count)
    {
        for (qsizetype i = 0; i < count; ++i)
            m_threads.emplace_back([this] { work(); });
    }
    ~PlacementWorkers()
    {
        {
            std::lock_guard<std::mutex> locker(m_lock);
            m_closing = true;
        }
        m_wake.notify_all();
        for (std::thread &thread : m_threads)
            thread.join();
    }
    PlacementWorkers(const PlacementWorkers &) = delete;
    PlacementWorkers &operator=(const PlacementWorkers &) = delete;

    template<typename Job>
    auto run(Job job) -> std::future<decltype(job())>
    {
        auto task = std::make_shared<std::packaged_task<decltype(job())()>>(std::move(job));
        auto future = task->get_future();
        {
            std::lock_guard<std::mutex> locker(m_lock);
            m_queue.emplace_back([task] { (*task)(); });
        }
        m_wake.notify_one();
        return future;
    }

private:
    void work()
    {
        for (;;) {
            std::function<void()> job;
            {
                std::unique_lock<std::mutex> locker(m_lock);
                m_wake.wait(locker, [this] { return m_closing || !m_queue.empty(); });
                if (m_queue.empty())
                    return;
                job = std::move(m_queue.front());
                m_queue.pop_front();
            }
            job();
        }
    }

    std::mutex m_lock;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_queue;
    std::vector<std::thread> m_threads;
    bool m_closing = false;
};
} // namespace

// One run per working folder, whichever process starts it (the window or the command line).
QString FilingRun::lockPathFor(const QString &srcPath)
{
    return RunLock::filingPath(srcPath);
}

FilingRun::Summary FilingRun::summarize(qsizetype moved, qsizetype attempted, qsizetype total, qsizetype failures,
                                        const QList<Notice> &renamed, const QList<Notice> &alreadyFiled,
                                        const std::optional<Left> &stayed)
{
    Summary s;
    s.left = stayed.value_or(Left());
    const Left &left = s.left;
    s.failures = failures;
    s.moved = moved;
    s.attempted = attempted;
    s.total = total;
    s.renamed = renamed;
    s.alreadyFiled = alreadyFiled;
    // The words agree with their numbers ("1 File", "3 Files").
    const QString folderTotal = u"Folder has Total of "_s + Plural::count(total, u"File"_s, u"Files"_s);
    const QString counts = u"Moved "_s + QString::number(moved) + u" out of "_s
        + Plural::count(attempted, u"Allowed File"_s, u"Allowed Files"_s) + u".\n"_s + folderTotal;
    if (attempted == 0) {
        s.title = u"Somehow NO Files to Move/Copy..."_s;
        s.text = u"Hmm - No Files to Move/Copy???\n"_s + folderTotal;
    } else if (moved != attempted || failures != 0) {
        s.title = u"Possible Issue(s) with Moving ReAssigned Files..."_s;
        s.text = counts;
    } else if (const qsizetype staying = left.noBarcode + left.unknown + left.notPhotos; staying > 0) {
        // "ALL" only when the working folder keeps nothing.
        s.title = u"Finished Moving ReAssigned Files - "_s + Plural::count(staying, u"File Stays"_s, u"Files Stay"_s)
            + u" in the Working Folder"_s;
        s.text = counts;
    } else {
        s.title = u"Finished Moving ALL ReAssigned Files..."_s;
        s.text = counts;
    }
    QStringList reasons;
    if (left.noBarcode > 0)
        reasons << Plural::count(left.noBarcode, u"photo with no barcode yet"_s, u"photos with no barcode yet"_s);
    if (left.unknown > 0)
        reasons << Plural::count(left.unknown, u"unknown photo"_s, u"unknown photos"_s);
    if (left.notPhotos > 0)
        reasons << Plural::count(left.notPhotos, u"file that is not a photo"_s, u"files that are not photos"_s);
    if (left.failed > 0)
        reasons << Plural::count(left.failed, u"file that could not be moved"_s, u"files that could not be moved"_s);
    if (!reasons.isEmpty()) {
        const qsizetype count = left.noBarcode + left.unknown + left.notPhotos + left.failed;
        s.text += u"\n\n"_s + Plural::count(count, u"file stays"_s, u"files stay"_s) + u" in the working folder: "_s
            + reasons.join(u", "_s) + u'.';
    }
    if (!left.looksBarcoded.isEmpty())
        s.text += u"\n\nTaken for camera names by their count of \"_\" parts, so not filed; check whether "
                  "they carry a barcode:\n"_s
            + left.looksBarcoded.join(u'\n');
    if (!renamed.isEmpty())
        s.text += u"\n\nFiled under a new name, as a different photo already had the name:"_s + noticeLines(renamed);
    if (!alreadyFiled.isEmpty())
        s.text += u"\n\nAlready filed (an identical copy was there; the working copy was removed):"_s
            + noticeLines(alreadyFiled);
    return s;
}

FilingRun::Result FilingRun::run(const QString &srcPath, const QString &destPath,
                                 const std::function<void(const Event &)> &observer,
                                 const std::atomic<bool> *stopRequested)
{
    const auto tell = [&observer](const Event &e) {
        if (observer)
            observer(e);
    };
    Result result;
    const auto refuse = [&result](Stop stop, const QString &reason) {
        logLine(u"FilingRun -> run.... refused: "_s + reason);
        result.stop = stop;
        result.reason = reason;
        return result;
    };
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
    // The pattern also names the unassigned photos' daily folder, so it matters
    // even when the caller chose the destination itself.
    if (const std::optional<QString> problem = DestinationPathRules::storedDailyFolderPatternProblem())
        return refuse(Stop::BadDestination, *problem + cNothingMoved);
    // The folder the daily folders go into is judged as well: a daily folder in the home folder is fine,
    // the home folder full of daily folders is not what anyone chose.
    QStringList places {destPath};
    if (const std::optional<QString> root = SettingsStore::standard().stringForKey(cPrefDestinationPath))
        places << PathUtils::expandTilde(*root);
    for (const QString &place : std::as_const(places)) {
        if (const std::optional<QString> problem = FolderSettings::refusal(FolderSettings::Folder::Destination, place))
            return refuse(Stop::BadDestination, *problem + cNothingMoved);
    }
    if (hasDotComponent(NativePath(destPath).bytes()))
        return refuse(Stop::BadDestination,
                      u"The destination folder "_s + destPath + u" leads through \".\" or \"..\"."_s + cNothingMoved);
    RunLock lock(lockPathFor(srcPath));
    if (!lock.tryTake()) {
        logLine(u"FilingRun -> run.... a filing run is already working on "_s + srcPath + u"; refused"_s);
        result.stop = Stop::AlreadyRunning;
        result.reason = u"A filing run is already working on this folder."_s;
        return result;
    }
    if (const std::optional<QString> problem =
            intoItselfProblem(srcPath, destPath, DestinationPathRules::unassignedFolderPath()))
        return refuse(Stop::IntoItself, *problem + u" Filing a folder into itself is refused."_s + cNothingMoved);

    if (!QFileInfo(destPath).isDir()) {
        if (const FileResult made = SafeFile::makeFolders(destPath); !made)
            logLine(u"oops somethign went wrong "_s + made.text());
    }

    removeKilledLeftovers(srcPath);
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
    QList<Notice> renamed;
    QList<Notice> alreadyFiled;
    SafeFileCopyOptions options;
    // Nothing at the destination is ever replaced: another station may have filed
    // a different photo of the same name there.
    options.replace = SafeFileReplace::Never;
    // Renames within one file system are synced once at the end, not twice per photo.
    options.syncFolders = false;
    // The unassigned-photos folder is made (when enabled) once for the run.
    const std::optional<QString> unknownFolder = DestinationPathRules::getDestinationPathForUnknown();
    for (const QString &folder : {destPath, unknownFolder.value_or(QString())}) {
        if (folder.isEmpty())
            continue;
        removeKilledLeftovers(folder);
    }
    // Tells the observer and the log, and keeps the photos the summary must name.
    const auto filed = [&](const SafeFileEntry &file, const FilePlacement::Result &placed, EventKind kind,
                           qsizetype index) {
        const Notice notice {file.displayName, placed.target.displayString()};
        if (placed.outcome == FilePlacement::Outcome::MovedUnderNewName) {
            renamed.append(notice);
            logLine(u"FilingRun -> run.... "_s + notice.name + u" filed as "_s + notice.target
                    + u": a different photo already had its name"_s);
        } else if (placed.outcome == FilePlacement::Outcome::AlreadyFiled) {
            alreadyFiled.append(notice);
            logLine(u"FilingRun -> run.... "_s + notice.name + u" was already filed as "_s + notice.target
                    + u" (identical); the working copy was removed"_s);
        }
        Event event {kind, file.displayName, notice.target, QString(), index, total};
        event.placement = placementOf(placed.outcome);
        tell(event);
    };

    Left left;
    // The photos on their way, oldest first; each one's events are told once it is placed,
    // in the listing's order.
    struct Placed
    {
        std::optional<FilePlacement::Result> unassigned; // tried first in the unassigned-photos folder
        std::optional<FilePlacement::Result> daily;
    };
    struct Placing
    {
        SafeFileEntry file;
        qsizetype index = 0;
        std::future<Placed> placed;
    };
    std::deque<Placing> underWay;
    const auto movingTold = [&](const SafeFileEntry &file, qsizetype index) {
        const NativePath target = NativePath(destPath).child(file.name);
        tell({EventKind::Moving, file.displayName, target.displayString(), QString(), index, total});
        logLine(u"Copying TO:\n "_s + target.displayString());
    };
    const auto finishOldest = [&] {
        Placing p = std::move(underWay.front());
        underWay.pop_front();
        const Placed placed = p.placed.get();
        const QString name = p.file.displayName;
        if (placed.unassigned) {
            if (placed.unassigned->outcome != FilePlacement::Outcome::Failed) {
                filed(p.file, *placed.unassigned, EventKind::MovedUnassigned, p.index);
                return;
            }
            ++failures;
            logLine(u"File not saved:\n"_s + name + u": "_s + placed.unassigned->reason);
            movingTold(p.file, p.index);
        }
        ++attempted;
        if (placed.daily->outcome != FilePlacement::Outcome::Failed) {
            ++moved;
            filed(p.file, *placed.daily, EventKind::Moved, p.index);
        } else {
            ++failures;
            ++left.failed;
            logLine(u"File not saved:\n"_s + name + u": "_s + placed.daily->reason);
            tell({EventKind::Failed, name, placed.daily->target.displayString(), placed.daily->reason, p.index, total});
        }
    };
    const auto finishAll = [&] {
        while (!underWay.empty())
            finishOldest();
    };
    PlacementWorkers workers(cPhotosInFlight);

    const PhotoNameRule rule(srcPath);
    qsizetype notReached = 0;
    for (qsizetype i = 0; i < files.size(); ++i) {
        if (stopRequested && stopRequested->load()) {
            notReached = files.size() - i;
            logLine(u"FilingRun -> run.... stopped on request; "_s + Plural::count(notReached, u"file"_s, u"files"_s)
                    + u" left in "_s + NativePath::forDisplay(srcPath));
            break;
        }
        const SafeFileEntry &file = files.at(i);
        const QString name = file.displayName;
        const QString path = file.path.toString();
        // Only photos are filed, by the listing's own test: a document or a sidecar
        // whose name happens to have parts enough is not a customer's photo.
        if (!ImageTypes::isImageFile(path)) {
            finishAll();
            ++left.notPhotos;
            logLine(u"FilingRun -> run.... "_s + name + u" is not a photo; it stays in the working folder"_s);
            tell({EventKind::LeftInPlace, name, path, u"not a photo; left in the working folder"_s, i + 1, total});
            continue;
        }
        const PhotoNameRule::Reading reading = rule.read(path);
        const bool unassigned = reading.kind != PhotoNameRule::Kind::Barcoded;
        if (reading.looksBarcoded())
            left.looksBarcoded.append(name);

        if (unassigned && !moveUnassigned) {
            finishAll();
            logLine(u"Do Move Unknown Item is FALSE - so will file="_s + name + u" will remain in source folder...."_s);
            if (reading.kind == PhotoNameRule::Kind::Unknown)
                ++left.unknown;
            else
                ++left.noBarcode;
            tell({EventKind::LeftInPlace, name, path,
                  reading.kind == PhotoNameRule::Kind::Unknown ? u"unknown; left in the working folder"_s
                                                               : u"no barcode yet; left in the working folder"_s,
                  i + 1, total});
            continue;
        }
        const bool toUnassignedFolder = unassigned && unknownFolder;
        if (unassigned && !unknownFolder)
            logLine(u"UNASSIGNED Folder not found - will move to default destination folder...."_s);
        if (!toUnassignedFolder)
            movingTold(file, i + 1);
        const NativePath unassignedFolder(unknownFolder.value_or(QString()));
        const NativePath daily(destPath);
        underWay.push_back({file, i + 1, workers.run([file, toUnassignedFolder, unassignedFolder, daily, options] {
                                Placed placed;
                                if (toUnassignedFolder) {
                                    placed.unassigned =
                                        FilePlacement::place(file.path, unassignedFolder, file.name, options);
                                    if (placed.unassigned->outcome != FilePlacement::Outcome::Failed)
                                        return placed;
                                }
                                placed.daily = FilePlacement::place(file.path, daily, file.name, options);
                                return placed;
                            })});
        while (underWay.size() >= cPhotosInFlight)
            finishOldest();
    }
    finishAll();
    for (const QString &folder : {destPath, srcPath, unknownFolder.value_or(QString())}) {
        if (folder.isEmpty())
            continue;
        if (const FileResult synced = SafeFile::syncFolder(folder); !synced)
            logLine(u"FilingRun -> run.... "_s + synced.text());
    }
    result.summary = summarize(moved, attempted, total, failures, renamed, alreadyFiled, left);
    if (notReached > 0) {
        // A stopped run did not file everything: it must not read as "ALL".
        result.summary->notReached = notReached;
        result.summary->title = u"Filing Stopped"_s;
        result.summary->text = u"Stopped on request: "_s + Plural::count(notReached, u"file was"_s, u"files were"_s)
            + u" not filed and stayed in the working folder.\n\n"_s + result.summary->text;
    }
    return result;
}
