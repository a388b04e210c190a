#include "ReassignJournal.h"

#include "ReassignRecovery.h"
#include "settings/LogPaths.h"
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
#include <algorithm>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {
constexpr QLatin1StringView cPendingSuffix {".pending.json"};
constexpr QLatin1StringView cSuffix {".json"};

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

const QList<std::pair<ReassignJournal::Kind, QString>> &kindNames()
{
    static const QList<std::pair<ReassignJournal::Kind, QString>> names {{ReassignJournal::Kind::Rename, u"rename"_s},
                                                                         {ReassignJournal::Kind::Discard, u"discard"_s},
                                                                         {ReassignJournal::Kind::Restore, u"restore"_s},
                                                                         {ReassignJournal::Kind::Trash, u"trash"_s}};
    return names;
}

QString kindName(ReassignJournal::Kind kind)
{
    for (const auto &[k, name] : kindNames()) {
        if (k == kind)
            return name;
    }
    return {};
}

ReassignJournal::Kind kindFrom(const QString &name)
{
    for (const auto &[k, n] : kindNames()) {
        if (n == name)
            return k;
    }
    return ReassignJournal::Kind::Rename;
}

QStringList journalFiles()
{
    QStringList paths;
    for (const SafeFile::Entry &file : SafeFile::list(ReassignJournal::folder()).value_or(QList<SafeFile::Entry>())) {
        if (file.type == SafeFile::EntryType::Regular && file.name.endsWith(".json"))
            paths.append(file.path.toString());
    }
    return paths;
}

// An older version marked a run "planned" and completed it in the same file: one never
// completed was cut short. Renamed as pending, it is found without reading every journal.
void adoptOlderPlannedJournal(const QString &path, const QJsonObject &root)
{
    if (path.endsWith(cPendingSuffix) || root.value(u"state"_s).toString() != u"planned"_s
        || ReassignRecovery::isRunning(root.value(u"pid"_s).toInteger(), root.value(u"pidStart"_s).toInteger()))
        return;
    const QString pending = path.chopped(cSuffix.size()) + cPendingSuffix;
    if (const FileResult moved = SafeFile::renameNoReplace(path, pending); !moved)
        logLine(u"ReassignJournal -> prune.... "_s + moved.text());
}
} // namespace

QString ReassignJournal::folder()
{
    return LogPaths::journalFolder();
}

QStringList ReassignJournal::journalsNewestFirst()
{
    QStringList paths = journalFiles();
    std::sort(paths.begin(), paths.end(),
              [](const QString &a, const QString &b) { return PathUtils::fileName(a) > PathUtils::fileName(b); });
    return paths;
}

QString ReassignJournal::completedPathOf(const QString &pendingPath)
{
    return pendingPath.chopped(cPendingSuffix.size()) + cSuffix;
}

QStringList ReassignJournal::pendingJournals()
{
    QStringList pending = journalFiles();
    pending.removeIf([](const QString &path) { return !path.endsWith(cPendingSuffix); });
    std::sort(pending.begin(), pending.end());
    return pending;
}

int ReassignJournal::prune(int maxAgeDays, const QDateTime &now)
{
    const std::optional<QList<SafeFile::Entry>> files = SafeFile::list(folder(), {false, false, false});
    if (!files)
        return 0;
    const QDateTime limit = now.addDays(-maxAgeDays);
    int removed = 0;
    for (const SafeFile::Entry &file : *files) {
        if (file.type != SafeFile::EntryType::Regular)
            continue;
        // A journal write cut short by a kill.
        if (SafeFile::isStaleTemporary(file.name)) {
            SafeFile::remove(file.path);
            continue;
        }
        if (!file.name.endsWith(".json") || file.name.endsWith(cPendingSuffix.data()))
            continue;
        struct stat st = {};
        if (::stat(file.path.c_str(), &st) != 0)
            continue;
        QFile in(file.path.toString());
        if (!in.open(QIODevice::ReadOnly))
            continue;
        const QJsonObject root = QJsonDocument::fromJson(in.readAll()).object();
        in.close();
        adoptOlderPlannedJournal(file.path.toString(), root);
        // A recovery rewrites the file without the time: the later of the two counts.
        QDateTime last = QDateTime::fromSecsSinceEpoch(st.st_mtim.tv_sec);
        if (const QDateTime written = QDateTime::fromString(root.value(u"time"_s).toString(), Qt::ISODateWithMs);
            written.isValid() && written > last)
            last = written;
        if (last >= limit)
            continue;
        // The only record of where a photo hidden for a swap by an older version lies.
        bool waiting = false;
        for (const QJsonValue &parked : root.value(u"parked"_s).toArray()) {
            struct stat p = {};
            const QString path = parked.toObject().value(u"parked"_s).toString();
            waiting = waiting || (!path.isEmpty() && ::lstat(NativePath(path).c_str(), &p) == 0);
        }
        if (waiting || !QFile::exists(file.path.toString()))
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

QString ReassignJournal::begin(const QString &mode, const QList<Entry> &planned, const QString &photoFolder)
{
    m_mode = mode;
    m_pid = QCoreApplication::applicationPid();
    m_pidStart = ReassignRecovery::processStart(m_pid);
    m_time = QDateTime::currentDateTime().toString(Qt::ISODateWithMs);
    m_path = folder() + u'/' + nextStamp() + u'-' + QString::number(m_pid) + u'-' + mode + cPendingSuffix;
    m_folder = photoFolder;
    if (m_folder.isEmpty() && !planned.isEmpty())
        m_folder = PathUtils::resolvedPath(NativePath(planned.first().oldPath).parent().toString());
    if (const FileResult made = SafeFile::makeFolders(folder()); !made)
        return made.text();
    return write(m_path, u"planned"_s, planned, false);
}

void ReassignJournal::resume(const Record &record)
{
    m_path = record.path;
    m_mode = record.mode;
    m_folder = record.folder;
    m_pid = record.pid;
    m_pidStart = record.pidStart;
    m_time = QDateTime::currentDateTime().toString(Qt::ISODateWithMs);
    m_resumed = true;
}

QString ReassignJournal::complete(const QList<Entry> &done)
{
    QList<Entry> entries = done;
    for (Entry &e : entries) {
        const QString where = e.trashPath.isEmpty() || e.trashPath == u"deleted"_s ? e.finalPath : e.trashPath;
        if (!e.left && !where.isEmpty())
            e.left = FileIdentity::of(NativePath(where).bytes());
    }
    if (!m_path.endsWith(cPendingSuffix))
        return u"no pending journal to complete"_s;
    const QString completed = completedPathOf(m_path);
    // Replacing is safe here: a completed file of the same name is this run's own, written
    // by an earlier attempt to finish it that was cut short before the pending one went.
    if (const QString error = write(completed, u"complete"_s, entries, true); !error.isEmpty())
        return error;
    if (const FileResult gone = SafeFile::remove(m_path); !gone)
        return gone.text();
    m_path = completed;
    return {};
}

ReassignJournal::Reading ReassignJournal::read(const QString &path)
{
    Reading reading;
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly))
        return reading;
    const QByteArray bytes = in.readAll();
    QJsonParseError error {};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (bytes.trimmed().isEmpty()) {
        reading.damage = u"it is empty"_s;
        return reading;
    }
    if (error.error != QJsonParseError::NoError) {
        reading.damage = u"it is cut short or garbled ("_s + error.errorString() + u" at byte "_s
            + QString::number(error.offset) + u')';
        return reading;
    }
    const QJsonObject root = document.object();
    if (!document.isObject() || !root.value(u"entries"_s).isArray()) {
        reading.damage = u"it holds no list of photos"_s;
        return reading;
    }
    Record record;
    record.path = path;
    record.mode = root.value(u"mode"_s).toString();
    record.state = path.endsWith(cPendingSuffix) ? u"planned"_s : root.value(u"state"_s).toString();
    record.folder = root.value(u"folder"_s).toString();
    record.pid = root.value(u"pid"_s).toInteger();
    record.pidStart = root.value(u"pidStart"_s).toString().toLongLong();
    record.finishedAfterInterruption = root.value(u"finishedAfterInterruption"_s).toBool();
    for (const QJsonValue &value : root.value(u"entries"_s).toArray()) {
        const QJsonObject o = value.toObject();
        record.entries.append({o.value(u"old"_s).toString(), o.value(u"new"_s).toString(),
                               o.value(u"final"_s).toString(), o.value(u"trash"_s).toString(),
                               identityFrom(o.value(u"left"_s)), o.value(u"restored"_s).toBool(),
                               kindFrom(o.value(u"kind"_s).toString()), identityFrom(o.value(u"was"_s))});
    }
    for (const QJsonValue &value : root.value(u"parked"_s).toArray()) {
        const QJsonObject o = value.toObject();
        record.parked.insert(o.value(u"old"_s).toString(), o.value(u"parked"_s).toString());
    }
    reading.record = record;
    return reading;
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

QString ReassignJournal::write(const QString &path, const QString &state, const QList<Entry> &entries, bool replace)
{
    QJsonArray list;
    for (const Entry &e : entries) {
        QJsonObject o {{u"old"_s, e.oldPath}, {u"new"_s, e.newPath}};
        if (e.kind != Kind::Rename)
            o.insert(u"kind"_s, kindName(e.kind));
        if (e.was)
            o.insert(u"was"_s, identityObject(*e.was));
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
    QJsonObject root {{u"version"_s, 2},
                      {u"mode"_s, m_mode},
                      {u"state"_s, state},
                      {u"pid"_s, m_pid},
                      {u"pidStart"_s, QString::number(m_pidStart)},
                      {u"time"_s, m_time},
                      {u"entries"_s, list}};
    if (!m_folder.isEmpty())
        root.insert(u"folder"_s, m_folder);
    if (m_resumed)
        root.insert(u"finishedAfterInterruption"_s, true);
    const QByteArray bytes = QJsonDocument(root).toJson(QJsonDocument::Compact);
    const FileResult written =
        SafeFile::writeDurably(path, bytes, replace ? SafeFile::Replace::Atomically : SafeFile::Replace::Never);
    QString error = written ? QString() : written.text();
    // What the next start will read is what counts, not what was handed to the kernel.
    if (error.isEmpty()) {
        QFile back(path);
        if (!back.open(QIODevice::ReadOnly) || back.readAll() != bytes)
            error = u"the journal "_s + path + u" reads back differently from what was written"_s;
    }
    if (!error.isEmpty())
        logLine(u"oops somethign went wrong ReassignJournal -> write.... "_s + error);
    return error;
}
