#include "ReassignRecovery.h"

#include "ReassignJournal.h"
#include "RenamePlan.h"
#include "support/SafeFile.h"
#include "support/SystemLog.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <cerrno>
#include <csignal>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {
bool exists(const QString &path)
{
    struct stat st = {};
    return ::lstat(NativePath(path).c_str(), &st) == 0;
}

// Runs the rest of the cycle (each step only where its photo is still at the old name
// and the new one is free), then brings the parked photo out. Where it ended, or empty.
QString recoverParked(const QJsonObject &entry)
{
    const QString parked = entry.value(u"parked"_s).toString();
    if (parked.isEmpty() || !exists(parked))
        return {};
    for (const QJsonValue &value : entry.value(u"rest"_s).toArray()) {
        const QString from = value.toObject().value(u"old"_s).toString();
        const QString to = value.toObject().value(u"new"_s).toString();
        if (exists(from) && !exists(to)) {
            if (const FileResult r = SafeFile::renameNoReplace(from, to); !r)
                logLine(u"ReassignRecovery -> recover.... "_s + r.text());
        }
    }
    const QString from = entry.value(u"old"_s).toString();
    for (const QString &home : {entry.value(u"new"_s).toString(), from, RenamePlan::visibleFallback(from)}) {
        if (home.isEmpty())
            continue;
        if (const FileResult r = SafeFile::renameNoReplace(parked, home); r) {
            logLine(u"ReassignRecovery -> recover.... "_s + parked + u" is back as "_s + home);
            return home;
        }
    }
    logLine(u"oops somethign went wrong ReassignRecovery -> recover.... "_s + parked + u" could not be brought back"_s);
    return {};
}
} // namespace

QStringList ReassignRecovery::recoverInterrupted()
{
    QStringList recovered;
    const std::optional<QList<SafeFile::Entry>> journals = SafeFile::list(ReassignJournal::folder());
    if (!journals)
        return recovered;
    for (const SafeFile::Entry &file : *journals) {
        if (file.type != SafeFile::EntryType::Regular || !file.name.endsWith(".json"))
            continue;
        const QString path = file.path.toString();
        QFile in(path);
        if (!in.open(QIODevice::ReadOnly))
            continue;
        QJsonObject root = QJsonDocument::fromJson(in.readAll()).object();
        in.close();
        const QJsonArray parked = root.value(u"parked"_s).toArray();
        if (parked.isEmpty() || root.value(u"state"_s).toString() == u"recovered"_s)
            continue;
        if (root.value(u"state"_s).toString() == u"planned"_s && isRunning(root.value(u"pid"_s).toInteger()))
            continue;
        bool pending = false;
        const qsizetype before = recovered.size();
        for (const QJsonValue &entry : parked) {
            if (const QString home = recoverParked(entry.toObject()); !home.isEmpty())
                recovered.append(home);
            pending = pending || exists(entry.toObject().value(u"parked"_s).toString());
        }
        if (pending)
            continue; // tried again next time
        if (recovered.size() == before && root.value(u"state"_s).toString() == u"complete"_s)
            continue; // a run that finished its swaps itself keeps its record as it wrote it
        root.insert(u"state"_s, u"recovered"_s);
        QSaveFile out(path);
        if (!out.open(QIODevice::WriteOnly) || out.write(QJsonDocument(root).toJson()) < 0 || !out.commit())
            logLine(u"ReassignRecovery -> recover.... cannot write "_s + path + u": "_s + out.errorString());
    }
    return recovered;
}

bool ReassignRecovery::isRunning(qint64 pid)
{
    return pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno == EPERM);
}
