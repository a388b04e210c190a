#include "ReassignJournal.h"

#include "shell/LogPaths.h"
#include "support/SafeFile.h"
#include "support/SystemLog.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

using namespace Qt::StringLiterals;

QString ReassignJournal::folder()
{
    return LogPaths::logFolder() + u"/reassign-journal"_s;
}

bool ReassignJournal::begin(const QString &mode, const QList<Entry> &planned)
{
    m_mode = mode;
    m_path = folder() + u'/' + QDateTime::currentDateTime().toString(u"yyyyMMdd-HHmmss-zzz"_s) + u'-'
        + QString::number(QCoreApplication::applicationPid()) + u'-' + mode + u".json"_s;
    m_planned = planned;
    return write(u"planned"_s, planned);
}

bool ReassignJournal::noteParked(const RenamePlan::Parking &parking)
{
    m_parked.append(parking);
    return write(u"planned"_s, m_planned);
}

bool ReassignJournal::complete(const QList<Entry> &done)
{
    return write(u"complete"_s, done);
}

bool ReassignJournal::write(const QString &state, const QList<Entry> &entries)
{
    if (m_path.isEmpty())
        return false;
    if (const FileResult made = SafeFile::makeFolders(folder()); !made) {
        logLine(u"ReassignJournal -> write.... "_s + made.text());
        return false;
    }
    QJsonArray list;
    for (const Entry &e : entries) {
        QJsonObject o {{u"old"_s, e.oldPath}, {u"new"_s, e.newPath}};
        if (!e.finalPath.isEmpty())
            o.insert(u"final"_s, e.finalPath);
        if (!e.trashPath.isEmpty())
            o.insert(u"trash"_s, e.trashPath);
        list.append(o);
    }
    const auto stepObject = [](const RenamePlan::Step &step) {
        return QJsonObject {{u"old"_s, step.from}, {u"new"_s, step.to}};
    };
    QJsonArray parked;
    for (const RenamePlan::Parking &p : std::as_const(m_parked)) {
        QJsonArray rest;
        for (const RenamePlan::Step &step : p.rest)
            rest.append(stepObject(step));
        QJsonObject o = stepObject(p.step);
        o.insert(u"parked"_s, p.parkedPath);
        o.insert(u"rest"_s, rest);
        parked.append(o);
    }
    const QJsonObject root {{u"mode"_s, m_mode},
                            {u"state"_s, state},
                            {u"pid"_s, QCoreApplication::applicationPid()},
                            {u"parked"_s, parked},
                            {u"time"_s, QDateTime::currentDateTime().toString(Qt::ISODateWithMs)},
                            {u"entries"_s, list}};
    // The journal file itself may be replaced: the new version is complete before it takes the name.
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(root).toJson()) < 0 || !file.commit()) {
        logLine(u"ReassignJournal -> write.... cannot write "_s + m_path + u": "_s + file.errorString());
        return false;
    }
    return true;
}
