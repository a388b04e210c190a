#include "ReassignUndo.h"

#include "ReassignJournal.h"
#include "ReassignRecovery.h"
#include "support/FileStatus.h"
#include "support/FreedesktopTrash.h"
#include "support/PathUtils.h"
#include "support/SafeFile.h"
#include "support/SystemLog.h"

#include <QHash>
#include <QSet>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {
using Kind = ReassignUndo::Kind;
using Step = ReassignUndo::Step;

bool exists(const QString &path)
{
    struct stat st = {};
    return ::lstat(NativePath(path).c_str(), &st) == 0;
}

QString shown(const QString &path)
{
    return NativePath::forDisplay(PathUtils::fileName(path));
}

bool sameInode(const FileIdentity &a, const FileIdentity &b)
{
    return a.device == b.device && a.inode == b.inode;
}

// The newest completed run on the folder. A run of it still going, and a damaged
// journal newer than that run (it may be this folder's last run), each refuse the undo.
std::optional<ReassignJournal::Record> newestFinished(const QString &folder, QStringList &refusals)
{
    QStringList damaged;
    for (const QString &path : ReassignJournal::journalsNewestFirst()) {
        const ReassignJournal::Reading reading = ReassignJournal::read(path);
        if (!reading.record) {
            if (!reading.damage.isEmpty())
                damaged << u"the reassignment journal "_s + path + u" is damaged ("_s + reading.damage
                        + u"): it may record the last reassignment of this folder; move it aside to undo an earlier one"_s;
            continue;
        }
        const ReassignJournal::Record &record = *reading.record;
        if (ReassignJournal::folderOf(record) != folder)
            continue;
        if (record.isPending()) {
            if (ReassignRecovery::isRunning(record.pid, record.pidStart))
                refusals << u"a reassignment of this folder is still running"_s;
            else
                refusals << u"an interrupted reassignment of this folder could not be finished (see the log)"_s;
            return std::nullopt;
        }
        refusals << damaged;
        return record;
    }
    refusals << damaged;
    return std::nullopt;
}

// Where a file of the folder went, by its inode: another name in the folder, or the trash.
struct Whereabouts
{
    QString inFolder;
    bool inTrash = false;
};
Whereabouts find(const FileIdentity &id, const QString &folder)
{
    Whereabouts found;
    const auto search = [&id](const NativePath &where) -> QString {
        const std::optional<QList<SafeFile::Entry>> entries = SafeFile::list(where, {false, false, false});
        if (!entries)
            return {};
        for (const SafeFile::Entry &entry : *entries) {
            const std::optional<FileIdentity> now = FileIdentity::of(entry.path.bytes());
            if (entry.type == SafeFile::EntryType::Regular && now && sameInode(*now, id))
                return entry.path.toString();
        }
        return {};
    };
    found.inFolder = search(folder);
    if (const NativePath trash = FreedesktopTrash::trashFolderFor(folder); found.inFolder.isEmpty() && !trash.isEmpty())
        found.inTrash = !search(trash.child(QByteArrayLiteral("files"))).isEmpty();
    return found;
}

// Why the file the run left at step.from is not there as it was; empty when it is.
QString changeOf(const Step &step, const QString &folder)
{
    const QString name = shown(step.kind == Kind::Restore ? step.to : step.from);
    const std::optional<FileIdentity> now = FileIdentity::of(NativePath(step.from).bytes());
    if (!step.expected) // an older journal knows names only
        return now ? QString() : name + u" was renamed again, filed or deleted since"_s;
    if (now && *now == *step.expected)
        return {};
    // A FUSE card numbers a file afresh once the kernel has forgotten it (memory pressure,
    // the card put in again): there its name, size and time tell it.
    if (now && now->size == step.expected->size && now->mtimeNs == step.expected->mtimeNs
        && !FileStatus::hasLastingInodeNumbers(NativePath(step.from).parent()))
        return {};
    if (now && sameInode(*now, *step.expected))
        return name + u" was changed since"_s;
    const Whereabouts found = find(*step.expected, folder);
    if (step.kind == Kind::Restore) {
        if (!found.inFolder.isEmpty())
            return name + u" was taken out of the trash since (now "_s + shown(found.inFolder) + u')';
        return name + u" is no longer in the trash"_s;
    }
    if (!found.inFolder.isEmpty())
        return name + u" was renamed again since (now "_s + shown(found.inFolder) + u')';
    if (found.inTrash)
        return name + u" was deleted since (it is in the trash)"_s;
    if (now)
        return name + u" was replaced by another file since"_s;
    return name + u" was filed or moved out of the folder since"_s;
}

// What gives an entry of the run back (nothing for a photo the run left where it was).
std::optional<Step> reverseOf(const ReassignJournal::Entry &e)
{
    if (e.restored && !e.finalPath.isEmpty() && e.finalPath != e.oldPath)
        return Step {Kind::Trash, e.finalPath, QString(), e.left};
    if (!e.trashPath.isEmpty())
        return Step {Kind::Restore, e.trashPath, e.oldPath, e.left};
    if (!e.finalPath.isEmpty() && e.finalPath != e.oldPath)
        return Step {Kind::Rename, e.finalPath, e.oldPath, e.left};
    return std::nullopt;
}
} // namespace

qsizetype ReassignUndo::Plan::namesBack() const
{
    return std::count_if(steps.cbegin(), steps.cend(), [](const Step &s) { return s.kind != Kind::Trash; });
}

qsizetype ReassignUndo::Plan::backToTrash() const
{
    return steps.size() - namesBack();
}

bool ReassignUndo::Report::failed() const
{
    return !plan.isSound() || JournaledRun::Result::failed();
}

ReassignUndo::Plan ReassignUndo::plan(const QString &folder)
{
    Plan plan;
    const QString dir = PathUtils::resolvedPath(folder);
    const std::optional<ReassignJournal::Record> record =
        dir.isEmpty() ? std::nullopt : newestFinished(dir, plan.refusals);
    if (!record) {
        if (plan.refusals.isEmpty())
            plan.refusals.append(u"no reassignment of "_s + NativePath::forDisplay(folder) + u" to undo"_s);
        return plan;
    }
    plan.journalPath = record->path;
    plan.mode = record->mode;
    for (const ReassignJournal::Entry &e : record->entries) {
        if (e.trashPath == u"deleted"_s) {
            plan.refusals.append(shown(e.oldPath) + u" was deleted when the trash failed and cannot come back"_s);
            continue;
        }
        if (const std::optional<Step> step = reverseOf(e))
            plan.steps.append(*step);
    }

    // Every file is checked before any is touched, and one change refuses the whole
    // undo: giving back only some names would leave a group of photos half under the
    // barcode they had and half under the one they were given, which neither the
    // operator nor a second undo could tell apart any more.
    QSet<QString> leaving; // names the plan frees
    for (const Step &step : std::as_const(plan.steps)) {
        if (step.kind != Kind::Restore)
            leaving.insert(step.from);
    }
    QSet<QString> claimed;
    for (const Step &step : std::as_const(plan.steps)) {
        if (const QString change = changeOf(step, dir); !change.isEmpty()) {
            plan.refusals.append(change);
            continue;
        }
        if (step.kind == Kind::Trash)
            continue;
        if (claimed.contains(step.to))
            plan.refusals.append(u"two photos would take the name "_s + shown(step.to));
        else if (exists(step.to) && !leaving.contains(step.to))
            plan.refusals.append(shown(step.from) + u" cannot take its name "_s + shown(step.to)
                                 + u" back: another file has it now"_s);
        claimed.insert(step.to);
    }
    return plan;
}

ReassignUndo::Report ReassignUndo::run(const QString &folder)
{
    logLine(u"ReassignUndo -> run.... "_s + folder);
    // A run cut short is finished first, so the checks see the folder as it is meant to be.
    ReassignRecovery::finishInterrupted(folder);
    Report report;
    report.plan = plan(folder);
    if (!report.plan.isSound()) {
        logLine(u"ReassignUndo -> run.... refused: "_s + report.plan.refusals.join(u"; "_s));
        return report;
    }
    logLine(u"ReassignUndo -> run.... undoing "_s + report.plan.journalPath);
    QList<JournaledRun::Entry> entries;
    for (const Step &step : std::as_const(report.plan.steps)) {
        entries.append({step.from, step.kind == Kind::Trash ? step.from : step.to});
        entries.last().kind = step.kind;
    }
    static_cast<JournaledRun::Result &>(report) =
        JournaledRun::run(u"undo"_s, entries, PathUtils::resolvedPath(folder));
    return report;
}
