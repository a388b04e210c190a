#include "ReassignJournal.h"

#include "shell/LogPaths.h"
#include "support/PathUtils.h"
#include "support/SafeFile.h"
#include "support/SystemLog.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QSaveFile>
#include <QThread>
#include <cstdlib>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {
// The time that begins a journal's name, after that of every run this process began
// before: two runs begun within the same millisecond (an undo straight after a redo)
// would otherwise share a name, or sort by their modes instead of their order. A
// sequence number keeps the order there, and when the clock is set back.
QString nextStamp()
{
    static QMutex mutex;
    static QString last;
    static int repeated = 0;
    QMutexLocker lock(&mutex);
    const QString now = QDateTime::currentDateTime().toString(u"yyyyMMdd-HHmmss-zzz"_s);
    if (now > last) {
        last = now;
        repeated = 0;
        return now;
    }
    return last + u'.' + QString::number(++repeated).rightJustified(6, u'0');
}

// Numbers as text: an inode or a time in nanoseconds does not survive a JSON double.
QJsonObject identityObject(const FileIdentity &id)
{
    return {{u"dev"_s, QString::number(id.device)},
            {u"ino"_s, QString::number(id.inode)},
            {u"size"_s, QString::number(id.size)},
            {u"mtimeNs"_s, QString::number(id.mtimeNs)}};
}

std::optional<FileIdentity> identityFrom(const QJsonValue &value)
{
    const QJsonObject o = value.toObject();
    if (o.isEmpty())
        return std::nullopt;
    bool ok[4] = {};
    const FileIdentity id {
        o.value(u"dev"_s).toString().toULongLong(&ok[0]), o.value(u"ino"_s).toString().toULongLong(&ok[1]),
        o.value(u"size"_s).toString().toLongLong(&ok[2]), o.value(u"mtimeNs"_s).toString().toLongLong(&ok[3])};
    if (!ok[0] || !ok[1] || !ok[2] || !ok[3])
        return std::nullopt;
    return id;
}
} // namespace

QString ReassignJournal::folder()
{
    return LogPaths::journalFolder();
}

int ReassignJournal::prune(int maxAgeDays, const QDateTime &now)
{
    const std::optional<QList<SafeFile::Entry>> files = SafeFile::list(folder());
    if (!files)
        return 0;
    const QDateTime limit = now.addDays(-maxAgeDays);
    int removed = 0;
    for (const SafeFile::Entry &file : *files) {
        if (file.type != SafeFile::EntryType::Regular || !file.name.endsWith(".json"))
            continue;
        struct stat st = {};
        if (::stat(file.path.c_str(), &st) != 0)
            continue;
        QFile in(file.path.toString());
        if (!in.open(QIODevice::ReadOnly))
            continue;
        const QJsonObject root = QJsonDocument::fromJson(in.readAll()).object();
        // A recovery rewrites the file without the time: the later of the two counts.
        QDateTime last = QDateTime::fromSecsSinceEpoch(st.st_mtim.tv_sec);
        if (const QDateTime written = QDateTime::fromString(root.value(u"time"_s).toString(), Qt::ISODateWithMs);
            written.isValid() && written > last)
            last = written;
        if (last >= limit)
            continue;
        // The only record of where a photo hidden for a swap lies.
        bool waiting = false;
        for (const QJsonValue &parked : root.value(u"parked"_s).toArray()) {
            struct stat p = {};
            const QString path = parked.toObject().value(u"parked"_s).toString();
            waiting = waiting || (!path.isEmpty() && ::lstat(NativePath(path).c_str(), &p) == 0);
        }
        if (waiting)
            continue;
        if (const FileResult gone = SafeFile::remove(file.path); gone)
            ++removed;
        else
            logLine(u"ReassignJournal -> prune.... "_s + gone.text());
    }
    if (removed > 0)
        logLine(u"ReassignJournal -> prune.... deleted "_s + QString::number(removed) + u" journals older than "_s
                + QString::number(maxAgeDays) + u" days"_s);
    return removed;
}

bool ReassignJournal::begin(const QString &mode, const QList<Entry> &planned, const QString &photoFolder)
{
    m_mode = mode;
    m_path = folder() + u'/' + nextStamp() + u'-' + QString::number(QCoreApplication::applicationPid()) + u'-' + mode
        + u".json"_s;
    m_folder = photoFolder;
    if (m_folder.isEmpty() && !planned.isEmpty())
        m_folder = PathUtils::resolvedPath(NativePath(planned.first().oldPath).parent().toString());
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
    QList<Entry> entries = done;
    for (Entry &e : entries) {
        const QString where = e.trashPath.isEmpty() || e.trashPath == u"deleted"_s ? e.finalPath : e.trashPath;
        if (!e.left && !where.isEmpty())
            e.left = FileIdentity::of(NativePath(where).bytes());
    }
    return write(u"complete"_s, entries);
}

std::optional<ReassignJournal::Record> ReassignJournal::read(const QString &path)
{
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QJsonDocument document = QJsonDocument::fromJson(in.readAll());
    if (!document.isObject())
        return std::nullopt;
    const QJsonObject root = document.object();
    Record record;
    record.path = path;
    record.mode = root.value(u"mode"_s).toString();
    record.state = root.value(u"state"_s).toString();
    record.folder = root.value(u"folder"_s).toString();
    record.pid = root.value(u"pid"_s).toInteger();
    for (const QJsonValue &value : root.value(u"entries"_s).toArray()) {
        const QJsonObject o = value.toObject();
        record.entries.append({o.value(u"old"_s).toString(), o.value(u"new"_s).toString(),
                               o.value(u"final"_s).toString(), o.value(u"trash"_s).toString(),
                               identityFrom(o.value(u"left"_s)), o.value(u"restored"_s).toBool()});
    }
    return record;
}

QString ReassignJournal::folderOf(const Record &record)
{
    if (!record.folder.isEmpty())
        return record.folder;
    for (const Entry &e : record.entries) {
        if (const QString folder = PathUtils::resolvedPath(NativePath(e.oldPath).parent().toString());
            !folder.isEmpty())
            return folder;
    }
    return {};
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
        if (e.left)
            o.insert(u"left"_s, identityObject(*e.left));
        if (e.restored)
            o.insert(u"restored"_s, true);
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
    QJsonObject root {{u"mode"_s, m_mode},
                      {u"state"_s, state},
                      {u"pid"_s, QCoreApplication::applicationPid()},
                      {u"parked"_s, parked},
                      {u"time"_s, QDateTime::currentDateTime().toString(Qt::ISODateWithMs)},
                      {u"entries"_s, list}};
    if (!m_folder.isEmpty())
        root.insert(u"folder"_s, m_folder);
    // The journal file itself may be replaced: the new version is complete before it takes the name.
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(root).toJson()) < 0 || !file.commit()) {
        logLine(u"ReassignJournal -> write.... cannot write "_s + m_path + u": "_s + file.errorString());
        return false;
    }
    return true;
}
