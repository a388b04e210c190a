#include "BarcodeCache.h"

#include "shell/BundleInfo.h"
#include "support/SafeFile.h"
#include "support/SystemLog.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutexLocker>
#include <QStandardPaths>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentMap>
#include <sqlite3.h>

using namespace Qt::StringLiterals;

namespace {
constexpr int cSchemaVersion = 1;
constexpr int cWriteBatch = 32;
// A reading takes a tenth of a second or more: waiting a little gathers a batch
// while losing at most the last few readings if the program is killed.
constexpr int cWriteDelayMs = 2000;

// Strictly increasing use stamps: several rows written in the same instant still
// leave in the order they were used.
qint64 nextUse()
{
    static std::atomic<qint64> last {0};
    qint64 candidate = QDateTime::currentMSecsSinceEpoch() * 1000;
    qint64 previous = last.load();
    while (!last.compare_exchange_weak(previous, std::max(candidate, previous + 1))) { }
    return std::max(candidate, previous + 1);
}

void bindIdentity(sqlite3_stmt *statement, int first, const FileIdentity &id)
{
    sqlite3_bind_int64(statement, first, sqlite3_int64(id.device));
    sqlite3_bind_int64(statement, first + 1, sqlite3_int64(id.inode));
    sqlite3_bind_int64(statement, first + 2, id.size);
    sqlite3_bind_int64(statement, first + 3, id.mtimeNs);
}

QByteArray encodeCodes(const QList<BarcodeReader::Code> &codes)
{
    QJsonArray list;
    for (const BarcodeReader::Code &code : codes) {
        QJsonArray corners;
        for (const QPointF &corner : code.position) {
            corners.append(corner.x());
            corners.append(corner.y());
        }
        list.append(QJsonObject {{u"text"_s, code.text}, {u"format"_s, code.format}, {u"position"_s, corners}});
    }
    return QJsonDocument(list).toJson(QJsonDocument::Compact);
}

std::optional<QList<BarcodeReader::Code>> decodeCodes(const QByteArray &json)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        return std::nullopt;
    QList<BarcodeReader::Code> codes;
    for (const QJsonValue &value : document.array()) {
        const QJsonObject object = value.toObject();
        if (!object.value(u"text"_s).isString())
            return std::nullopt;
        BarcodeReader::Code code;
        code.text = object.value(u"text"_s).toString();
        code.format = object.value(u"format"_s).toString();
        const QJsonArray corners = object.value(u"position"_s).toArray();
        for (qsizetype i = 0; i + 1 < corners.size(); i += 2)
            code.position.append(QPointF(corners.at(i).toDouble(), corners.at(i + 1).toDouble()));
        codes.append(code);
    }
    return codes;
}
} // namespace

BarcodeCache &BarcodeCache::standard()
{
    static BarcodeCache cache(standardDatabasePath());
    return cache;
}

QString BarcodeCache::standardDatabasePath()
{
    // A file of its own: the thumbnail cache writes in large batches of its own,
    // and neither should wait for the other's lock.
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + u'/' + BundleInfo::bundleName()
        + u"/barcodes.sqlite"_s;
}

BarcodeCache::BarcodeCache(const QString &databasePath, int limitRows)
    : m_path(databasePath)
    , m_limitRows(limitRows)
{
    if (!m_path.isEmpty())
        m_writer = std::thread([this] { writeBehind(); });
}

BarcodeCache::~BarcodeCache()
{
    {
        QMutexLocker locker(&m_diskLock);
        m_closing = true;
        m_writerWake.wakeAll();
    }
    if (m_writer.joinable())
        m_writer.join();
    QMutexLocker locker(&m_diskLock);
    flushLocked();
    closeLocked();
}

// --- memory -----------------------------------------------------------------------

BarcodeReader::Reading BarcodeCache::read(const NativePath &path)
{
    const std::optional<FileIdentity> identity = FileIdentity::of(path.bytes());
    if (identity) {
        if (std::optional<BarcodeReader::Reading> kept = findInMemory(*identity))
            return *kept;
        std::optional<BarcodeReader::Reading> onDisk;
        {
            QMutexLocker locker(&m_diskLock);
            onDisk = readLocked(*identity);
        }
        if (onDisk) {
            QMutexLocker locker(&m_memoryLock);
            m_memory.insert(*identity, *onDisk);
            return *onDisk;
        }
    }
    const BarcodeReader::Reading reading = BarcodeReader::read(path);
    ++m_decoded;
    // A file changed while it was read keeps no reading: its identity no longer
    // names what was read. One that gave no picture may still be being copied.
    if (identity && reading.readable && FileIdentity::of(path.bytes()) == identity)
        store(*identity, reading);
    return reading;
}

std::optional<BarcodeReader::Reading> BarcodeCache::known(const NativePath &path)
{
    const std::optional<FileIdentity> identity = FileIdentity::of(path.bytes());
    if (!identity)
        return std::nullopt;
    if (std::optional<BarcodeReader::Reading> kept = findInMemory(*identity))
        return kept;
    std::optional<BarcodeReader::Reading> onDisk;
    {
        QMutexLocker locker(&m_diskLock);
        onDisk = readLocked(*identity);
    }
    if (onDisk) {
        QMutexLocker locker(&m_memoryLock);
        m_memory.insert(*identity, *onDisk);
    }
    return onDisk;
}

std::optional<BarcodeReader::Reading> BarcodeCache::knownInMemory(const NativePath &path)
{
    const std::optional<FileIdentity> identity = FileIdentity::of(path.bytes());
    if (!identity)
        return std::nullopt;
    return findInMemory(*identity);
}

QList<BarcodeReader::Reading> BarcodeCache::readAll(const QList<NativePath> &paths)
{
    return QtConcurrent::blockingMapped<QList<BarcodeReader::Reading>>(
        QThreadPool::globalInstance(), paths, [this](const NativePath &path) { return read(path); });
}

std::optional<BarcodeReader::Reading> BarcodeCache::findInMemory(const FileIdentity &identity)
{
    QMutexLocker locker(&m_memoryLock);
    const auto found = m_memory.constFind(identity);
    if (found == m_memory.cend())
        return std::nullopt;
    return *found;
}

void BarcodeCache::store(const FileIdentity &identity, const BarcodeReader::Reading &reading)
{
    {
        QMutexLocker locker(&m_memoryLock);
        m_memory.insert(identity, reading);
    }
    QMutexLocker locker(&m_diskLock);
    if (m_path.isEmpty() || m_diskDisabled)
        return;
    m_pending.append({identity, reading});
    wakeWriterLocked();
}

// --- disk -------------------------------------------------------------------------

void BarcodeCache::wakeWriterLocked()
{
    // The first row of a batch starts the writer's wait, a full batch ends it; waking it
    // for every row would keep it taking the lock the readers need.
    const qsizetype waiting = m_pending.size() + m_touched.size();
    if (waiting == 1 || waiting >= cWriteBatch)
        m_writerWake.wakeAll();
}

void BarcodeCache::writeBehind()
{
    QMutexLocker locker(&m_diskLock);
    // Opened here, at once: checking a large database takes a moment the window
    // should not wait for when it asks for its first reading.
    openLocked();
    // Every turn either waits or writes out all that waits: never a turn that only holds the lock.
    while (!m_closing) {
        if (m_pending.isEmpty() && m_touched.isEmpty()) {
            m_writerWake.wait(&m_diskLock);
            continue;
        }
        if (m_pending.size() + m_touched.size() < cWriteBatch)
            m_writerWake.wait(&m_diskLock, QDeadlineTimer(cWriteDelayMs));
        if (!m_closing)
            flushLocked();
    }
}

bool BarcodeCache::flush()
{
    QMutexLocker locker(&m_diskLock);
    return flushLocked();
}

bool BarcodeCache::flushLocked()
{
    if (m_path.isEmpty() || m_diskDisabled) {
        m_pending.clear();
        m_touched.clear();
        return false;
    }
    if (m_pending.isEmpty() && m_touched.isEmpty())
        return openLocked();
    QList<Row> rows;
    rows.swap(m_pending);
    QList<FileIdentity> touched;
    touched.swap(m_touched);
    return writeLocked(rows, touched);
}

bool BarcodeCache::openLocked()
{
    if (m_db)
        return true;
    if (m_path.isEmpty() || m_diskDisabled)
        return false;
    const bool firstAttempt = !m_diskTried;
    m_diskTried = true;
    if (const FileResult made = SafeFile::makeFolders(QFileInfo(m_path).absolutePath()); !made) {
        logLine(u"BarcodeCache -> open.... "_s + made.text() + u"; keeping readings in memory only"_s);
        m_diskDisabled = true;
        m_pending.clear();
        m_touched.clear();
        return false;
    }
    const QByteArray path = QFile::encodeName(m_path);
    int status = sqlite3_open_v2(path.constData(), &m_db,
                                 SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    QString problem;
    if (status != SQLITE_OK) {
        problem = QString::fromUtf8(m_db ? sqlite3_errmsg(m_db) : sqlite3_errstr(status));
    } else {
        sqlite3_busy_timeout(m_db, 2000);
        sqlite3_stmt *check = nullptr;
        // A damaged file must not crash or mislead later reads.
        status = sqlite3_prepare_v2(m_db, "PRAGMA quick_check", -1, &check, nullptr);
        if (status == SQLITE_OK && sqlite3_step(check) == SQLITE_ROW) {
            const auto *answer = reinterpret_cast<const char *>(sqlite3_column_text(check, 0));
            if (!answer || qstrcmp(answer, "ok") != 0)
                problem = u"integrity check: "_s + QString::fromUtf8(answer ? answer : "no answer");
        } else {
            problem = QString::fromUtf8(sqlite3_errmsg(m_db));
        }
        sqlite3_finalize(check);
    }
    if (problem.isEmpty()) {
        int version = 0;
        sqlite3_stmt *v = nullptr;
        if (sqlite3_prepare_v2(m_db, "PRAGMA user_version", -1, &v, nullptr) == SQLITE_OK
            && sqlite3_step(v) == SQLITE_ROW)
            version = sqlite3_column_int(v, 0);
        sqlite3_finalize(v);
        const QByteArray schema = "PRAGMA journal_mode=WAL;"
                                  "PRAGMA synchronous=NORMAL;"
                                  "CREATE TABLE IF NOT EXISTS readings ("
                                  " device INTEGER NOT NULL, inode INTEGER NOT NULL, size INTEGER NOT NULL,"
                                  " mtime INTEGER NOT NULL, reader INTEGER NOT NULL, codes TEXT NOT NULL,"
                                  " pass INTEGER NOT NULL, pieces INTEGER NOT NULL, ms INTEGER NOT NULL,"
                                  " used INTEGER NOT NULL,"
                                  " PRIMARY KEY (device, inode, size, mtime)) WITHOUT ROWID;"
                                  "CREATE INDEX IF NOT EXISTS readings_used ON readings (used);";
        const QByteArray stale = "DELETE FROM readings WHERE reader <> " + QByteArray::number(cReaderVersion);
        if (version != 0 && version != cSchemaVersion) {
            problem = u"unknown cache version %1"_s.arg(version);
        } else if (sqlite3_exec(m_db, schema.constData(), nullptr, nullptr, nullptr) != SQLITE_OK
                   || sqlite3_exec(m_db,
                                   QByteArray("PRAGMA user_version=" + QByteArray::number(cSchemaVersion)).constData(),
                                   nullptr, nullptr, nullptr)
                       != SQLITE_OK
                   || sqlite3_exec(m_db, stale.constData(), nullptr, nullptr, nullptr) != SQLITE_OK
                   // The reader is asked for again: a program of another version may share the file.
                   || sqlite3_prepare_v2(m_db,
                                         "SELECT codes, pass, pieces, ms FROM readings"
                                         " WHERE device=? AND inode=? AND size=? AND mtime=? AND reader=?",
                                         -1, &m_select, nullptr)
                       != SQLITE_OK) {
            problem = QString::fromUtf8(sqlite3_errmsg(m_db));
        }
    }
    if (problem.isEmpty()) {
        sqlite3_stmt *count = nullptr;
        if (sqlite3_prepare_v2(m_db, "SELECT COUNT(*) FROM readings", -1, &count, nullptr) == SQLITE_OK
            && sqlite3_step(count) == SQLITE_ROW)
            m_diskRows = sqlite3_column_int64(count, 0);
        sqlite3_finalize(count);
        return true;
    }
    closeLocked();
    if (!firstAttempt) {
        m_diskDisabled = true;
        m_pending.clear();
        m_touched.clear();
        logLine(u"BarcodeCache -> open.... still unusable ("_s + problem + u"); memory only for this run"_s);
        return false;
    }
    discardDamagedLocked(problem);
    return openLocked();
}

void BarcodeCache::closeLocked()
{
    if (m_select)
        sqlite3_finalize(m_select);
    m_select = nullptr;
    if (m_db)
        sqlite3_close_v2(m_db);
    m_db = nullptr;
}

void BarcodeCache::discardDamagedLocked(const QString &why)
{
    // Only readings: nothing of value is lost by reading the photos again.
    logLine(u"BarcodeCache -> discarding the barcode cache "_s + m_path + u" ("_s + why + u")"_s);
    closeLocked();
    for (const QString &suffix : {QString(), u"-wal"_s, u"-shm"_s, u"-journal"_s})
        QFile::remove(m_path + suffix);
    m_diskRows = 0;
}

bool BarcodeCache::checkLocked(int status, const char *what)
{
    if (status == SQLITE_OK || status == SQLITE_DONE || status == SQLITE_ROW)
        return true;
    const QString message = QString::fromUtf8(m_db ? sqlite3_errmsg(m_db) : sqlite3_errstr(status));
    logLine(u"BarcodeCache -> "_s + QString::fromLatin1(what) + u".... "_s + message);
    if (status == SQLITE_CORRUPT || status == SQLITE_NOTADB) {
        discardDamagedLocked(message);
        m_diskTried = false;
    }
    return false;
}

std::optional<BarcodeReader::Reading> BarcodeCache::readLocked(const FileIdentity &identity)
{
    if (!openLocked())
        return std::nullopt;
    sqlite3_reset(m_select);
    bindIdentity(m_select, 1, identity);
    sqlite3_bind_int(m_select, 5, cReaderVersion);
    const int status = sqlite3_step(m_select);
    if (status != SQLITE_ROW) {
        checkLocked(status, "find");
        return std::nullopt;
    }
    const auto *text = static_cast<const char *>(sqlite3_column_blob(m_select, 0));
    const std::optional<QList<BarcodeReader::Code>> codes =
        decodeCodes(QByteArray(text, text ? sqlite3_column_bytes(m_select, 0) : 0));
    BarcodeReader::Reading reading;
    reading.readable = true;
    reading.pass = sqlite3_column_int(m_select, 1);
    reading.pieces = sqlite3_column_int(m_select, 2);
    reading.ms = sqlite3_column_int64(m_select, 3);
    sqlite3_reset(m_select);
    if (!codes)
        return std::nullopt; // read again, and the row replaced by the new reading
    reading.codes = *codes;
    m_touched.append(identity);
    wakeWriterLocked();
    return reading;
}

bool BarcodeCache::writeLocked(const QList<Row> &rows, const QList<FileIdentity> &touched)
{
    if (!openLocked())
        return false;
    if (!checkLocked(sqlite3_exec(m_db, "BEGIN", nullptr, nullptr, nullptr), "begin"))
        return false;
    sqlite3_stmt *insert = nullptr;
    sqlite3_stmt *touch = nullptr;
    bool ok = checkLocked(sqlite3_prepare_v2(m_db,
                                             "INSERT OR REPLACE INTO readings"
                                             " (device, inode, size, mtime, reader, codes, pass, pieces, ms, used)"
                                             " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
                                             -1, &insert, nullptr),
                          "prepare")
        && checkLocked(sqlite3_prepare_v2(
                           m_db, "UPDATE readings SET used=? WHERE device=? AND inode=? AND size=? AND mtime=?", -1,
                           &touch, nullptr),
                       "prepare");
    for (const Row &row : rows) {
        if (!ok)
            break;
        const QByteArray codes = encodeCodes(row.reading.codes);
        sqlite3_reset(insert);
        bindIdentity(insert, 1, row.identity);
        sqlite3_bind_int(insert, 5, cReaderVersion);
        sqlite3_bind_text(insert, 6, codes.constData(), int(codes.size()), SQLITE_STATIC);
        sqlite3_bind_int(insert, 7, row.reading.pass);
        sqlite3_bind_int(insert, 8, row.reading.pieces);
        sqlite3_bind_int64(insert, 9, row.reading.ms);
        sqlite3_bind_int64(insert, 10, nextUse());
        ok = checkLocked(sqlite3_step(insert), "store");
        ++m_diskRows; // an estimate: a row replaced counts too, set right when evicting
    }
    for (const FileIdentity &id : touched) {
        if (!ok)
            break;
        sqlite3_reset(touch);
        sqlite3_bind_int64(touch, 1, nextUse());
        bindIdentity(touch, 2, id);
        ok = checkLocked(sqlite3_step(touch), "touch");
    }
    sqlite3_finalize(insert);
    sqlite3_finalize(touch);
    if (!m_db)
        return false; // discarded as damaged on the way
    if (!checkLocked(sqlite3_exec(m_db, ok ? "COMMIT" : "ROLLBACK", nullptr, nullptr, nullptr), "commit"))
        return false;
    if (ok && m_diskRows > m_limitRows)
        evictLocked();
    return ok;
}

void BarcodeCache::evictLocked()
{
    sqlite3_stmt *count = nullptr;
    if (sqlite3_prepare_v2(m_db, "SELECT COUNT(*) FROM readings", -1, &count, nullptr) == SQLITE_OK
        && sqlite3_step(count) == SQLITE_ROW)
        m_diskRows = sqlite3_column_int64(count, 0);
    sqlite3_finalize(count);
    if (m_diskRows <= m_limitRows)
        return;
    // Down to nine tenths, so that eviction does not run at every batch.
    const qint64 excess = m_diskRows - (m_limitRows - m_limitRows / 10);
    sqlite3_stmt *remove = nullptr;
    if (!checkLocked(sqlite3_prepare_v2(m_db,
                                        "DELETE FROM readings WHERE (device, inode, size, mtime) IN"
                                        " (SELECT device, inode, size, mtime FROM readings ORDER BY used LIMIT ?)",
                                        -1, &remove, nullptr),
                     "evict")) {
        sqlite3_finalize(remove);
        return;
    }
    sqlite3_bind_int64(remove, 1, excess);
    if (checkLocked(sqlite3_step(remove), "evict"))
        m_diskRows -= sqlite3_changes(m_db);
    sqlite3_finalize(remove);
}
