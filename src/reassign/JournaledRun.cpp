#include "JournaledRun.h"

#include "model/PhotoNameRecord.h"
#include "support/FileStatus.h"
#include "support/FreedesktopTrash.h"
#include "support/NativePath.h"
#include "support/PathUtils.h"
#include "support/SafeFile.h"
#include "support/SystemLog.h"
#include "support/TrashOrKeep.h"

#include <QLockFile>
#include <algorithm>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {
using Entry = ReassignJournal::Entry;
using Kind = ReassignJournal::Kind;

enum class Where
{
    AtOld,
    AtNew,
    Parked, // hidden for a swap
    InTrash,
    Missing
};
struct Located
{
    Where where = Where::AtOld;
    QString path; // for Parked and InTrash
};

bool exists(const QString &path)
{
    struct stat st = {};
    return ::lstat(NativePath(path).c_str(), &st) == 0;
}

std::optional<FileIdentity> identityAt(const QString &path)
{
    return FileIdentity::of(NativePath(path).bytes());
}

// The same file. Where the file system numbers its files anew (a FUSE card mounted
// again), the size and time still tell a photo from the others of its folder.
bool isSame(const std::optional<FileIdentity> &now, const FileIdentity &was)
{
    return now && *now == was;
}
bool looksSame(const std::optional<FileIdentity> &now, const FileIdentity &was)
{
    return now && now->size == was.size && now->mtimeNs == was.mtimeNs;
}

// Files of a folder by identity, listed once and only when a photo is under neither name.
class Hideouts
{
public:
    Hideouts(const QString &folder, const QHash<QString, QString> &olderParked)
        : m_folder(folder)
        , m_olderParked(olderParked)
    { }

    QString parked(const Entry &e)
    {
        if (const QString older = m_olderParked.value(e.oldPath); !older.isEmpty() && exists(older))
            return older;
        if (!e.was)
            return {};
        if (!m_parkedListed) {
            m_parkedListed = true;
            m_parked = identities(NativePath(m_folder), QByteArray(RenamePlan::cParkPrefix.data()));
        }
        if (const QString same = m_parked.value(*e.was); !same.isEmpty())
            return same;
        // A FUSE card numbers a file afresh once the kernel has forgotten it (memory pressure,
        // the card put in again): the hidden name, which ends in the photo's old one, and
        // the size and time still tell it.
        const QString oldName = PathUtils::fileName(e.oldPath);
        for (auto it = m_parked.cbegin(); it != m_parked.cend(); ++it) {
            const QString name = PathUtils::fileName(it.value()).mid(RenamePlan::cParkPrefix.size());
            if (name.section(u'-', 1) == oldName && looksSame(it.key(), *e.was))
                return it.value();
        }
        return {};
    }

    // Only the same file counts here, or else the one copy that can be it: the trash may
    // hold older copies of the same photo.
    QString trashed(const Entry &e)
    {
        if (!e.was)
            return {};
        if (!m_trashListed) {
            m_trashListed = true;
            if (const NativePath trash = FreedesktopTrash::trashFolderFor(NativePath(m_folder)); !trash.isEmpty()) {
                const NativePath files = trash.child(QByteArrayLiteral("files"));
                m_trash = identities(files, {});
                m_trashNumberedAfresh = !FileStatus::hasLastingInodeNumbers(files);
            }
        }
        if (const QString same = m_trash.value(*e.was); !same.isEmpty() || !m_trashNumberedAfresh)
            return same;
        // On a FUSE card that numbered its files afresh: the one file of the photo's name
        // (with the number the trash adds to a name it holds) and its size and time; none
        // while an older copy leaves a doubt.
        const QString name = PathUtils::fileName(e.kind == Kind::Trash ? e.oldPath : e.newPath);
        QString found;
        for (auto it = m_trash.cbegin(); it != m_trash.cend(); ++it) {
            const QString trashedName = PathUtils::fileName(it.value());
            bool numbered = false;
            if (trashedName.startsWith(name + u'.'))
                trashedName.mid(name.size() + 1).toUInt(&numbered);
            if ((trashedName == name || numbered) && looksSame(it.key(), *e.was)) {
                if (!found.isEmpty())
                    return {};
                found = it.value();
            }
        }
        return found;
    }

private:
    static QHash<FileIdentity, QString> identities(const NativePath &folder, const QByteArray &prefix)
    {
        QHash<FileIdentity, QString> found;
        for (const SafeFile::Entry &entry :
             SafeFile::list(folder, {false, false, false}).value_or(QList<SafeFile::Entry>())) {
            if (entry.type != SafeFile::EntryType::Regular || !entry.name.startsWith(prefix))
                continue;
            if (const std::optional<FileIdentity> id = FileIdentity::of(entry.path.bytes()))
                found.insert(*id, entry.path.toString());
        }
        return found;
    }

    QString m_folder;
    QHash<QString, QString> m_olderParked;
    bool m_parkedListed = false;
    bool m_trashListed = false;
    bool m_trashNumberedAfresh = false;
    QHash<FileIdentity, QString> m_parked;
    QHash<FileIdentity, QString> m_trash;
};

Located locate(const Entry &e, Hideouts &hideouts)
{
    const bool fromTrash = e.kind == Kind::Restore;
    if (!e.was) {
        // An older journal knows names only: a name held by one side alone tells.
        if (e.kind != Kind::Trash && exists(e.newPath) && !exists(e.oldPath))
            return {Where::AtNew, {}};
        if (exists(e.oldPath))
            return {Where::AtOld, {}};
        if (const QString parked = hideouts.parked(e); !parked.isEmpty())
            return {Where::Parked, parked};
        return {Where::Missing, {}};
    }
    const std::optional<FileIdentity> atNew = e.kind == Kind::Trash ? std::nullopt : identityAt(e.newPath);
    const std::optional<FileIdentity> atOld = identityAt(e.oldPath);
    if (isSame(atNew, *e.was))
        return {Where::AtNew, {}};
    if (isSame(atOld, *e.was))
        return {Where::AtOld, {}};
    if (!fromTrash) {
        if (const QString parked = hideouts.parked(e); !parked.isEmpty())
            return {Where::Parked, parked};
    }
    if (e.kind == Kind::Discard || e.kind == Kind::Trash) {
        if (const QString trashed = hideouts.trashed(e); !trashed.isEmpty())
            return {Where::InTrash, trashed};
    }
    if (looksSame(atNew, *e.was) && !looksSame(atOld, *e.was))
        return {Where::AtNew, {}};
    if (looksSame(atOld, *e.was))
        return {Where::AtOld, {}};
    return {Where::Missing, {}};
}

QString shown(const QString &path)
{
    return NativePath::forDisplay(PathUtils::fileName(path));
}

// A photo hidden for a swap that cannot take its new name is not left where the operator
// cannot see it: it gets its old name back, else a visible one. Where it is now.
QString unhide(const QString &parked, const QString &oldPath)
{
    for (const QString &home : {oldPath, RenamePlan::visibleFallback(oldPath)}) {
        if (home.isEmpty())
            continue;
        const FileResult back = SafeFile::renameNoReplace(parked, home);
        if (back) {
            logLine(u"JournaledRun -> finish.... "_s + oldPath + u" could not take its new name; it is now "_s + home);
            return home;
        }
        logLine(u"oops somethign went wrong "_s + back.text());
    }
    return parked;
}

JournaledRun::Result execute(ReassignJournal &journal, QList<Entry> entries, const QList<Located> &located,
                             bool resumed)
{
    JournaledRun::Result result;
    result.started = true;
    result.photos = entries.size();
    result.journalPath = journal.path();

    // Into the trash first, then the renames, then out of the trash: each frees names the next may take.
    for (qsizetype i = 0; i < entries.size(); ++i) {
        Entry &e = entries[i];
        if (e.kind != Kind::Trash)
            continue;
        e.finalPath = e.oldPath;
        if (located.at(i).where == Where::InTrash) {
            e.trashPath = located.at(i).path;
            result.trashed << e.oldPath;
        } else if (located.at(i).where == Where::AtOld) {
            const TrashOrKeep::Outcome discarded = TrashOrKeep::discard(e.oldPath);
            if (discarded.trashed) {
                e.trashPath = discarded.trashedFile;
                result.trashed << e.oldPath;
            } else {
                result.kept << e.oldPath;
            }
        } else {
            e.finalPath.clear();
            result.missing << e.oldPath;
        }
    }

    QList<RenamePlan::Step> steps;
    QList<qsizetype> stepOf(entries.size(), -1);
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const Entry &e = entries.at(i);
        if (e.kind != Kind::Rename && e.kind != Kind::Discard)
            continue;
        const Where where = located.at(i).where;
        if (where == Where::AtOld || where == Where::Parked) {
            stepOf[i] = steps.size();
            steps.append({where == Where::Parked ? located.at(i).path : e.oldPath, e.newPath});
        }
    }
    const QList<RenamePlan::Outcome> outcomes = RenamePlan::execute(steps);
    for (qsizetype i = 0; i < entries.size(); ++i) {
        Entry &e = entries[i];
        if (e.kind != Kind::Rename && e.kind != Kind::Discard)
            continue;
        RenamePlan::Outcome outcome {e.oldPath, e.newPath, e.newPath, true, QString()};
        if (stepOf.at(i) >= 0) {
            outcome = outcomes.at(stepOf.at(i));
            outcome.from = e.oldPath;
            if (!outcome.renamed && located.at(i).where == Where::Parked) {
                outcome.finalPath = unhide(located.at(i).path, e.oldPath);
                if (outcome.finalPath != e.oldPath)
                    outcome.error += u" (it is now "_s + shown(outcome.finalPath) + u')';
            }
        } else if (located.at(i).where == Where::Missing) {
            outcome = {e.oldPath, e.newPath, QString(), false,
                       shown(e.oldPath) + u" is under neither its old nor its new name any more"_s};
            result.missing << e.oldPath;
        }
        e.finalPath = outcome.finalPath;
        result.renames.append(outcome);
    }

    for (qsizetype i = 0; i < entries.size(); ++i) {
        Entry &e = entries[i];
        if (e.kind != Kind::Restore)
            continue;
        e.finalPath = e.oldPath;
        const Where where = located.at(i).where;
        if (where == Where::Missing) {
            e.finalPath.clear();
            result.missing << e.oldPath;
            continue;
        }
        if (where == Where::AtOld) {
            if (const FileResult back = FreedesktopTrash::restore(e.oldPath, e.newPath); !back) {
                logLine(u"oops somethign went wrong "_s + back.text());
                result.stuck << e.newPath;
                continue;
            }
        }
        e.finalPath = e.newPath;
        e.restored = true;
        result.restored << e.newPath;
    }

    // A barcode photo goes only once renamed by this run: never a file that happened to
    // hold the name meant for it. One the trash will not take is not deleted: it gets
    // its camera name back, so that no filing takes it for a photo of the group.
    for (qsizetype i = 0; i < entries.size(); ++i) {
        Entry &e = entries[i];
        if (e.kind != Kind::Discard)
            continue;
        if (located.at(i).where == Where::InTrash) {
            e.trashPath = located.at(i).path;
            result.trashed << e.newPath;
            continue;
        }
        if (e.finalPath != e.newPath)
            continue;
        const TrashOrKeep::Outcome discarded = TrashOrKeep::discard(e.newPath, e.oldPath);
        if (discarded.trashed) {
            e.trashPath = discarded.trashedFile;
            result.trashed << e.newPath;
            continue;
        }
        e.finalPath = discarded.keptAt;
        result.kept << discarded.keptAt;
    }

    if (resumed) {
        for (const Entry &e : std::as_const(entries))
            logLine(u"JournaledRun -> finish.... "_s + e.oldPath + u" -> "_s
                    + (e.trashPath.isEmpty() ? (e.finalPath.isEmpty() ? u"(not found)"_s : e.finalPath)
                                             : u"trash "_s + e.trashPath));
    }
    // Filing and the browser tell a barcode the program gave from a camera's name by this record.
    QList<std::pair<QString, QString>> given;
    for (const Entry &e : std::as_const(entries)) {
        if (e.kind == Kind::Rename && !e.newPath.isEmpty() && e.finalPath == e.newPath)
            given.append({e.oldPath, e.newPath});
    }
    if (!given.isEmpty()) {
        if (const FileResult recorded = PhotoNameRecord::recordGiven(given); !recorded)
            logLine(u"oops somethign went wrong JournaledRun.... the names given are not recorded: "_s
                    + recorded.text());
    }
    result.journalError = journal.complete(entries);
    result.journalPath = journal.path();
    result.outcome = entries;
    return result;
}
} // namespace

bool JournaledRun::Result::failed() const
{
    return !started || !journalError.isEmpty() || !kept.isEmpty() || !stuck.isEmpty() || !missing.isEmpty()
        || std::any_of(renames.cbegin(), renames.cend(), [](const auto &o) { return !o.error.isEmpty(); });
}

JournaledRun::Result JournaledRun::run(const QString &mode, const QList<Entry> &entries, const QString &folder)
{
    if (entries.isEmpty()) {
        Result nothing;
        nothing.started = true;
        return nothing;
    }
    QList<Entry> planned = entries;
    for (Entry &e : planned)
        e.was = identityAt(e.oldPath);
    ReassignJournal journal;
    if (const QString error = journal.begin(mode, planned, folder); !error.isEmpty()) {
        Result refused;
        refused.photos = planned.size();
        refused.journalError = error;
        logLine(u"oops somethign went wrong JournaledRun -> run.... nothing renamed: the journal cannot be written: "_s
                + error);
        return refused;
    }
    return execute(journal, planned, QList<Located>(planned.size()), false);
}

JournaledRun::Result JournaledRun::finish(const ReassignJournal::Record &record)
{
    // A window and a command may both come to finish the same run.
    QLockFile lock(record.path + u".lock"_s);
    if (!lock.tryLock(0)) {
        Result busy;
        busy.journalError = u"another process is finishing "_s + record.path;
        return busy;
    }
    logLine(u"JournaledRun -> finish.... "_s + record.path);
    QList<Entry> entries = record.entries;
    for (Entry &e : entries) {
        e.finalPath.clear();
        e.trashPath.clear();
        e.left.reset();
        e.restored = false;
    }
    Hideouts hideouts(ReassignJournal::folderOf(record), record.parked);
    QList<Located> located;
    located.reserve(entries.size());
    for (const Entry &e : std::as_const(entries))
        located.append(locate(e, hideouts));
    ReassignJournal journal;
    journal.resume(record);
    return execute(journal, entries, located, true);
}
