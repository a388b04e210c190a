#include "ThumbnailCache.h"

#include "ThumbnailMaker.h"
#include "shell/BundleInfo.h"
#include "support/SafeFile.h"
#include "support/SystemLog.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QStandardPaths>
#include <sqlite3.h>

using namespace Qt::StringLiterals;

namespace {
constexpr int cSchemaVersion = 1;
constexpr int cFlushBatch = 64;

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
} // namespace

ThumbnailCache &ThumbnailCache::standard()
{
    static ThumbnailCache cache(standardDatabasePath());
    return cache;
}

QString ThumbnailCache::standardDatabasePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + u'/' + BundleInfo::bundleName()
        + u"/thumbnails.sqlite"_s;
}

ThumbnailCache::ThumbnailCache(const QString &databasePath, qint64 limitBytes)
    : m_path(databasePath)
    , m_limit(limitBytes)
{ }

ThumbnailCache::~ThumbnailCache()
{
    flush();
    QMutexLocker locker(&m_diskLock);
    closeLocked();
}

void ThumbnailCache::setLimitBytes(qint64 bytes)
{
    QMutexLocker locker(&m_diskLock);
    m_limit = bytes;
    if (m_db)
        evictLocked();
}

// --- memory -----------------------------------------------------------------------

ThumbnailCache::Obtained ThumbnailCache::obtain(const NativePath &path)
{
    Obtained result;
    result.identity = FileIdentity::of(path.bytes());
    if (result.identity) {
        {
            QMutexLocker locker(&m_memoryLock);
            const auto it = m_memory.constFind(*result.identity);
            if (it != m_memory.cend()) {
                result.thumbnail = *it;
                result.origin = Origin::Memory;
                ++m_reused;
                return result;
            }
        }
        std::optional<CompactThumbnail> onDisk;
        {
            QMutexLocker locker(&m_diskLock);
            onDisk = readLocked(*result.identity);
        }
        if (onDisk) {
            QMutexLocker locker(&m_memoryLock);
            m_memory.insert(*result.identity, *onDisk);
            result.thumbnail = *onDisk;
            result.origin = Origin::Disk;
            ++m_reused;
            return result;
        }
    }
    result.thumbnail = CompactThumbnail::fromImage(ThumbnailMaker::make(path).image);
    result.origin = Origin::Decoded;
    ++m_decoded;
    // The file may have changed while it was read: only remember it under the
    // identity it still has.
    if (result.identity && FileIdentity::of(path.bytes()) == result.identity)
        store(*result.identity, result.thumbnail);
    return result;
}

std::optional<CompactThumbnail> ThumbnailCache::find(const FileIdentity &identity)
{
    {
        QMutexLocker locker(&m_memoryLock);
        const auto it = m_memory.constFind(identity);
        if (it != m_memory.cend())
            return *it;
    }
    QMutexLocker locker(&m_diskLock);
    return readLocked(identity);
}

std::optional<CompactThumbnail> ThumbnailCache::findInMemory(const FileIdentity &identity)
{
    QMutexLocker locker(&m_memoryLock);
    const auto it = m_memory.constFind(identity);
    if (it == m_memory.cend())
        return std::nullopt;
    ++m_reused;
    return *it;
}

void ThumbnailCache::store(const FileIdentity &identity, const CompactThumbnail &thumbnail)
{
    {
        QMutexLocker locker(&m_memoryLock);
        m_memory.insert(identity, thumbnail);
    }
    bool full = false;
    {
        QMutexLocker locker(&m_diskLock);
        if (m_path.isEmpty() || m_diskDisabled)
            return;
        m_pending.append({identity, thumbnail});
        full = m_pending.size() >= cFlushBatch;
    }
    if (full)
        flush();
}

void ThumbnailCache::retainInMemoryOnly(const QSet<FileIdentity> &identities)
{
    QMutexLocker locker(&m_memoryLock);
    for (auto it = m_memory.begin(); it != m_memory.end();) {
        if (identities.contains(it.key()))
            ++it;
        else
            it = m_memory.erase(it);
    }
}

void ThumbnailCache::clearMemory()
{
    QMutexLocker locker(&m_memoryLock);
    m_memory.clear();
}

int ThumbnailCache::memoryCount()
{
    QMutexLocker locker(&m_memoryLock);
    return int(m_memory.size());
}

void ThumbnailCache::resetCounters()
{
    m_decoded = 0;
    m_reused = 0;
}

// --- disk -------------------------------------------------------------------------

bool ThumbnailCache::flush()
{
    QMutexLocker locker(&m_diskLock);
    if (m_path.isEmpty() || m_diskDisabled)
        return false;
    if (m_pending.isEmpty() && m_touched.isEmpty())
        return openLocked();
    QList<Row> rows;
    rows.swap(m_pending);
    QList<FileIdentity> touched;
    touched.swap(m_touched);
    return writeLocked(rows, touched);
}

qint64 ThumbnailCache::diskBytes()
{
    QMutexLocker locker(&m_diskLock);
    return openLocked() ? m_diskBytes : 0;
}

bool ThumbnailCache::openLocked()
{
    if (m_db)
        return true;
    if (m_path.isEmpty() || m_diskDisabled)
        return false;
    const bool firstAttempt = !m_diskTried;
    m_diskTried = true;
    if (const FileResult made = SafeFile::makeFolders(QFileInfo(m_path).absolutePath()); !made) {
        logLine(u"ThumbnailCache -> open.... "_s + made.text() + u"; keeping thumbnails in memory only"_s);
        m_diskDisabled = true;
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
        // A quick integrity check: a damaged file must not crash or mislead later reads.
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
                                  "CREATE TABLE IF NOT EXISTS thumbnails ("
                                  " device INTEGER NOT NULL, inode INTEGER NOT NULL, size INTEGER NOT NULL,"
                                  " mtime INTEGER NOT NULL, width INTEGER NOT NULL, height INTEGER NOT NULL,"
                                  " data BLOB, used INTEGER NOT NULL,"
                                  " PRIMARY KEY (device, inode, size, mtime)) WITHOUT ROWID;"
                                  "CREATE INDEX IF NOT EXISTS thumbnails_used ON thumbnails (used);";
        if (version != 0 && version != cSchemaVersion) {
            problem = u"unknown cache version %1"_s.arg(version);
        } else if (sqlite3_exec(m_db, schema.constData(), nullptr, nullptr, nullptr) != SQLITE_OK
                   || sqlite3_exec(m_db,
                                   QByteArray("PRAGMA user_version=" + QByteArray::number(cSchemaVersion)).constData(),
                                   nullptr, nullptr, nullptr)
                       != SQLITE_OK
                   || sqlite3_prepare_v2(m_db,
                                         "SELECT width, height, data FROM thumbnails"
                                         " WHERE device=? AND inode=? AND size=? AND mtime=?",
                                         -1, &m_select, nullptr)
                       != SQLITE_OK) {
            problem = QString::fromUtf8(sqlite3_errmsg(m_db));
        }
    }
    if (problem.isEmpty()) {
        sqlite3_stmt *sum = nullptr;
        if (sqlite3_prepare_v2(m_db, "SELECT COALESCE(SUM(LENGTH(data)), 0) FROM thumbnails", -1, &sum, nullptr)
                == SQLITE_OK
            && sqlite3_step(sum) == SQLITE_ROW)
            m_diskBytes = sqlite3_column_int64(sum, 0);
        sqlite3_finalize(sum);
        return true;
    }
    closeLocked();
    if (!firstAttempt) {
        m_diskDisabled = true;
        logLine(u"ThumbnailCache -> open.... still unusable ("_s + problem + u"); memory only for this run"_s);
        return false;
    }
    discardDamagedLocked(problem);
    return openLocked();
}

void ThumbnailCache::closeLocked()
{
    if (m_select)
        sqlite3_finalize(m_select);
    m_select = nullptr;
    if (m_db)
        sqlite3_close_v2(m_db);
    m_db = nullptr;
}

void ThumbnailCache::discardDamagedLocked(const QString &why)
{
    // Only thumbnails: nothing of value is lost by starting again.
    logLine(u"ThumbnailCache -> discarding the thumbnail cache "_s + m_path + u" ("_s + why + u")"_s);
    closeLocked();
    for (const QString &suffix : {QString(), u"-wal"_s, u"-shm"_s, u"-journal"_s})
        QFile::remove(m_path + suffix);
    m_diskBytes = 0;
}

bool ThumbnailCache::checkLocked(int status, const char *what)
{
    if (status == SQLITE_OK || status == SQLITE_DONE || status == SQLITE_ROW)
        return true;
    const QString message = QString::fromUtf8(m_db ? sqlite3_errmsg(m_db) : sqlite3_errstr(status));
    logLine(u"ThumbnailCache -> "_s + QString::fromLatin1(what) + u".... "_s + message);
    if (status == SQLITE_CORRUPT || status == SQLITE_NOTADB) {
        discardDamagedLocked(message);
        m_diskTried = false;
    }
    return false;
}

std::optional<CompactThumbnail> ThumbnailCache::readLocked(const FileIdentity &identity)
{
    if (!openLocked())
        return std::nullopt;
    sqlite3_reset(m_select);
    bindIdentity(m_select, 1, identity);
    const int status = sqlite3_step(m_select);
    if (status != SQLITE_ROW) {
        checkLocked(status, "find");
        return std::nullopt;
    }
    const QSize size(sqlite3_column_int(m_select, 0), sqlite3_column_int(m_select, 1));
    const void *blob = sqlite3_column_blob(m_select, 2);
    const int length = sqlite3_column_bytes(m_select, 2);
    const CompactThumbnail thumbnail =
        CompactThumbnail::fromBytes(blob ? QByteArray(static_cast<const char *>(blob), length) : QByteArray(), size);
    sqlite3_reset(m_select);
    m_touched.append(identity);
    return thumbnail;
}

bool ThumbnailCache::writeLocked(const QList<Row> &rows, const QList<FileIdentity> &touched)
{
    if (!openLocked())
        return false;
    if (!checkLocked(sqlite3_exec(m_db, "BEGIN", nullptr, nullptr, nullptr), "begin"))
        return false;
    sqlite3_stmt *insert = nullptr;
    sqlite3_stmt *touch = nullptr;
    bool ok = checkLocked(sqlite3_prepare_v2(m_db,
                                             "INSERT OR REPLACE INTO thumbnails"
                                             " (device, inode, size, mtime, width, height, data, used)"
                                             " VALUES (?, ?, ?, ?, ?, ?, ?, ?)",
                                             -1, &insert, nullptr),
                          "prepare")
        && checkLocked(sqlite3_prepare_v2(
                           m_db, "UPDATE thumbnails SET used=? WHERE device=? AND inode=? AND size=? AND mtime=?", -1,
                           &touch, nullptr),
                       "prepare");
    for (const Row &row : rows) {
        if (!ok)
            break;
        sqlite3_reset(insert);
        bindIdentity(insert, 1, row.identity);
        sqlite3_bind_int(insert, 5, row.thumbnail.size().width());
        sqlite3_bind_int(insert, 6, row.thumbnail.size().height());
        if (row.thumbnail.isNull())
            sqlite3_bind_null(insert, 7); // remembered too: a damaged photo is not decoded at every reload
        else
            sqlite3_bind_blob(insert, 7, row.thumbnail.bytes().constData(), int(row.thumbnail.bytes().size()),
                              SQLITE_STATIC);
        sqlite3_bind_int64(insert, 8, nextUse());
        ok = checkLocked(sqlite3_step(insert), "store");
        m_diskBytes += row.thumbnail.bytes().size();
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
    if (ok && m_diskBytes > m_limit)
        evictLocked();
    return ok;
}

void ThumbnailCache::evictLocked()
{
    if (!m_db || m_diskBytes <= m_limit)
        return;
    // Down to nine tenths, so that eviction does not run at every store.
    const qint64 target = m_limit - m_limit / 10;
    sqlite3_stmt *oldest = nullptr;
    sqlite3_stmt *remove = nullptr;
    if (!checkLocked(sqlite3_prepare_v2(m_db,
                                        "SELECT device, inode, size, mtime, COALESCE(LENGTH(data), 0) FROM thumbnails"
                                        " ORDER BY used, device, inode",
                                        -1, &oldest, nullptr),
                     "evict")
        || !checkLocked(sqlite3_prepare_v2(m_db,
                                           "DELETE FROM thumbnails WHERE device=? AND inode=? AND size=? AND mtime=?",
                                           -1, &remove, nullptr),
                        "evict")) {
        sqlite3_finalize(oldest);
        sqlite3_finalize(remove);
        return;
    }
    QList<FileIdentity> victims;
    qint64 bytes = m_diskBytes;
    while (bytes > target && sqlite3_step(oldest) == SQLITE_ROW) {
        victims.append({quint64(sqlite3_column_int64(oldest, 0)), quint64(sqlite3_column_int64(oldest, 1)),
                        sqlite3_column_int64(oldest, 2), sqlite3_column_int64(oldest, 3)});
        bytes -= sqlite3_column_int64(oldest, 4);
    }
    sqlite3_finalize(oldest);
    sqlite3_exec(m_db, "BEGIN", nullptr, nullptr, nullptr);
    for (const FileIdentity &id : std::as_const(victims)) {
        sqlite3_reset(remove);
        bindIdentity(remove, 1, id);
        sqlite3_step(remove);
    }
    sqlite3_finalize(remove);
    sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr);
    m_diskBytes = bytes;
}
