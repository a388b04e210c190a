#include "RenamePlan.h"

#include "support/SafeFile.h"
#include "support/SystemLog.h"

#include <QFileInfo>
#include <QHash>
#include <QRandomGenerator>
#include <QSet>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {
bool exists(const QString &path)
{
    struct stat st = {};
    return ::lstat(NativePath(path).c_str(), &st) == 0;
}

QString parentOf(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(u'/');
    return slash <= 0 ? u"/"_s : path.left(slash);
}

void logFailure(const FileResult &result)
{
    logLine(u"oops somethign went wrong "_s + result.text());
}

} // namespace

bool RenamePlan::isNameTooLong(const QString &path)
{
    return NativePath(path).fileNameBytes().size() > cMaxNameBytes;
}

QString RenamePlan::visibleFallback(const QString &path)
{
    const QFileInfo info(path);
    const QString suffix = info.suffix().isEmpty() ? QString() : u'.' + info.suffix();
    for (int n = 1; n < 1000; ++n) {
        const QString candidate =
            info.absolutePath() + u'/' + info.completeBaseName() + u"-kept-"_s + QString::number(n) + suffix;
        if (!exists(candidate))
            return candidate;
    }
    return {};
}

QList<RenamePlan::Outcome> RenamePlan::execute(const QList<Step> &steps)
{
    QList<Outcome> outcomes;
    outcomes.reserve(steps.size());
    for (const Step &step : steps)
        outcomes.append({step.from, step.to, step.from, false, QString()});

    // Settle the claims: the first photo to claim a name gets it.
    QHash<QString, qsizetype> claimOf; // target -> step
    QHash<QString, qsizetype> moverOf; // source -> step
    QList<bool> active(steps.size(), false);
    for (qsizetype i = 0; i < steps.size(); ++i) {
        const Step &step = steps.at(i);
        if (step.from == step.to || moverOf.contains(step.from))
            continue;
        if (isNameTooLong(step.to)) {
            outcomes[i].error = u"the new name would be "_s
                + QString::number(NativePath(step.to).fileNameBytes().size()) + u" bytes long, more than the "_s
                + QString::number(cMaxNameBytes) + u" a file name can have"_s;
            logLine(u"oops somethign went wrong rename "_s + step.from + u": "_s + outcomes.at(i).error);
            continue;
        }
        if (claimOf.contains(step.to)) {
            outcomes[i].error = u"rename "_s + step.from + u": to "_s + step.to
                + u" [EEXIST (another photo of this run takes that name)]"_s;
            logLine(u"oops somethign went wrong "_s + outcomes.at(i).error);
            continue;
        }
        claimOf.insert(step.to, i);
        moverOf.insert(step.from, i);
        active[i] = true;
    }

    QSet<QString> folders;
    QList<bool> done(steps.size(), false);
    const auto run = [&](qsizetype i, const QString &from) {
        const FileResult r = SafeFile::renameNoReplace(from, steps.at(i).to, false);
        done[i] = true;
        folders.insert(parentOf(steps.at(i).to));
        folders.insert(parentOf(steps.at(i).from));
        if (r) {
            outcomes[i].renamed = true;
            outcomes[i].finalPath = steps.at(i).to;
        } else {
            outcomes[i].error = r.text();
            logFailure(r);
        }
        return r.ok();
    };
    // The step that is waiting for a photo to leave the name it wants.
    const auto waitingFor = [&](const QString &source) -> qsizetype {
        const auto it = claimOf.constFind(source);
        return it == claimOf.cend() || done.at(*it) || !active.at(*it) ? -1 : *it;
    };

    // Chains: start where the wanted name is not held by another mover of the run,
    // then follow each freed name to the photo that wants it.
    for (qsizetype i = 0; i < steps.size(); ++i) {
        if (!active.at(i) || done.at(i))
            continue;
        const auto holder = moverOf.constFind(steps.at(i).to);
        if (holder != moverOf.cend() && active.at(*holder) && !done.at(*holder))
            continue; // waits for the holder, or is part of a cycle
        qsizetype current = i;
        while (current >= 0) {
            run(current, steps.at(current).from);
            current = waitingFor(steps.at(current).from);
        }
    }

    // Cycles (photos swapping names): park one photo under a temporary name, run
    // the rest of the cycle, then give the parked photo its name.
    for (qsizetype i = 0; i < steps.size(); ++i) {
        if (!active.at(i) || done.at(i))
            continue;
        const QString parked = parentOf(steps.at(i).from) + u'/' + cParkPrefix
            + QString::number(QRandomGenerator::global()->generate64(), 36) + u'-'
            + QFileInfo(steps.at(i).from).fileName();
        if (const FileResult r = SafeFile::renameNoReplace(steps.at(i).from, parked, false); !r) {
            done[i] = true;
            outcomes[i].error = r.text();
            logFailure(r);
            continue; // the others of the cycle now fail on names still taken, and stay
        }
        qsizetype current = waitingFor(steps.at(i).from);
        while (current >= 0 && current != i) {
            run(current, steps.at(current).from);
            current = waitingFor(steps.at(current).from);
        }
        if (run(i, parked))
            continue;
        // Its new name is not free after all: back to the old name, or a visible one.
        for (const QString &home : {steps.at(i).from, visibleFallback(steps.at(i).from)}) {
            if (!home.isEmpty() && SafeFile::renameNoReplace(parked, home, false)) {
                outcomes[i].finalPath = home;
                if (home != steps.at(i).from)
                    logLine(u"RenamePlan -> execute.... "_s + steps.at(i).from
                            + u" could take neither its new nor its old name; it is now "_s + home);
                break;
            }
        }
        if (outcomes.at(i).finalPath == steps.at(i).from && exists(parked)) {
            outcomes[i].finalPath = parked;
            logLine(u"RenamePlan -> execute.... "_s + steps.at(i).from + u" is kept as "_s + parked);
        }
    }

    // One sync per folder instead of one per rename: the renames survive a crash together.
    for (const QString &folder : std::as_const(folders)) {
        if (const FileResult synced = SafeFile::syncFolder(folder); !synced)
            logLine(u"RenamePlan -> execute.... "_s + synced.text());
    }
    return outcomes;
}
