#include "ReassignRecovery.h"

#include "support/NativePath.h"
#include "support/PathUtils.h"
#include "support/Plural.h"
#include "support/SafeFile.h"
#include "support/SystemLog.h"

#include <QFile>
#include <cerrno>
#include <csignal>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {
bool isFolder(const QString &path)
{
    struct stat st = {};
    return !path.isEmpty() && ::stat(NativePath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

QString shown(const QString &path)
{
    return NativePath::forDisplay(PathUtils::fileName(path));
}
} // namespace

QString ReassignRecovery::Finished::message() const
{
    const QString what = mode == u"undo"_s ? u"undo"_s : u"reassignment"_s;
    return u"An interrupted "_s + what + u" of "_s + Plural::count(result.photos, u"photo"_s, u"photos"_s)
        + u" was finished"_s;
}

QStringList ReassignRecovery::Finished::problems() const
{
    QStringList lines;
    for (const RenamePlan::Outcome &o : result.renames) {
        if (!o.error.isEmpty())
            lines << shown(o.from) + u" kept its name: "_s + NativePath::forDisplay(o.error);
    }
    for (const QString &path : result.kept)
        lines << shown(path) + u" could not go to the trash and stays in the folder"_s;
    for (const QString &path : result.stuck)
        lines << shown(path) + u" could not be brought back from the trash"_s;
    for (const QString &path : result.missing)
        lines << shown(path) + u" was not found under any of its names"_s;
    if (!result.journalError.isEmpty())
        lines << u"the record of the run could not be completed: "_s + result.journalError;
    return lines;
}

QList<ReassignRecovery::Finished> ReassignRecovery::finishInterrupted(const QString &folder)
{
    QList<Finished> finished;
    const QString wanted = folder.isEmpty() ? QString() : PathUtils::resolvedPath(folder);
    if (!folder.isEmpty() && wanted.isEmpty())
        return finished;
    // An empty claim a killed rename left would hold the very name a run must finish with.
    const auto clear = [](const QString &where) {
        for (const NativePath &removed : SafeFile::removeKilledLeftovers(NativePath(where)))
            logLine(u"ReassignRecovery -> finishInterrupted.... left by a killed run, removed: "_s
                    + removed.displayString());
    };
    if (!wanted.isEmpty())
        clear(wanted);
    for (const QString &path : ReassignJournal::pendingJournals()) {
        const ReassignJournal::Reading reading = ReassignJournal::read(path);
        if (!reading.record) {
            if (!reading.damage.isEmpty())
                logLine(u"oops somethign went wrong ReassignRecovery -> finishInterrupted.... "_s + path
                        + u" is damaged: "_s + reading.damage);
            continue;
        }
        const ReassignJournal::Record &record = *reading.record;
        if (isRunning(record.pid, record.pidStart))
            continue;
        const QString photos = ReassignJournal::folderOf(record);
        if ((!wanted.isEmpty() && photos != wanted) || !isFolder(photos))
            continue;
        // A completed record beside it: the run was done, only the pending copy was left.
        if (QFile::exists(ReassignJournal::completedPathOf(path))) {
            SafeFile::remove(path);
            continue;
        }
        if (wanted.isEmpty())
            clear(photos);
        Finished done {record.mode, JournaledRun::finish(record)};
        if (!done.result.started)
            continue;
        logLine(u"ReassignRecovery -> finishInterrupted.... "_s + done.message() + u" ("_s + path + u')');
        for (const QString &problem : done.problems())
            logLine(u"oops somethign went wrong ReassignRecovery -> finishInterrupted.... "_s + problem);
        finished.append(done);
    }
    return finished;
}

qint64 ReassignRecovery::processStart(qint64 pid)
{
    QFile stat(u"/proc/"_s + QString::number(pid) + u"/stat"_s);
    if (pid <= 0 || !stat.open(QIODevice::ReadOnly))
        return 0;
    // "pid (command) state ...": the command may hold spaces and brackets; field 22 counts from its end.
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    return fields.size() > 19 ? fields.at(19).toLongLong() : 0;
}

bool ReassignRecovery::isRunning(qint64 pid, qint64 start)
{
    if (pid <= 0 || (::kill(pid_t(pid), 0) != 0 && errno != EPERM))
        return false;
    return start == 0 || processStart(pid) == start;
}
