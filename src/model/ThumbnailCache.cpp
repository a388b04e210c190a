#include "ThumbnailCache.h"

#include "ThumbnailMaker.h"

#include <QMutexLocker>
#include <sqlite3.h>

using namespace Qt::StringLiterals;

namespace {
constexpr int cSchemaVersion = 2; // 2: thumbnails kept as the camera wrote them, with their shape
constexpr int cFlushBatch = 64;
} // namespace

ThumbnailCache &ThumbnailCache::standard()
{
    static ThumbnailCache cache(standardDatabasePath());
    return cache;
}

QString ThumbnailCache::standardDatabasePath()
{
    return CacheDatabase::standardPath(u"thumbnails.sqlite"_s);
}

ThumbnailCache::ThumbnailCache(const QString &databasePath, qint64 limitBytes)
    : m_limit(limitBytes)
    , m_disk(databasePath,
             {.logName = u"ThumbnailCache"_s,
              .description = u"thumbnail cache"_s,
              .keptInMemory = u"thumbnails"_s,
              .schemaVersion = cSchemaVersion,
              .schema = "CREATE TABLE IF NOT EXISTS thumbnails ("
                        " device INTEGER NOT NULL, inode INTEGER NOT NULL, size INTEGER NOT NULL,"
                        " mtime INTEGER NOT NULL, width INTEGER NOT NULL, height INTEGER NOT NULL,"
                        " data BLOB, used INTEGER NOT NULL, shape INTEGER NOT NULL DEFAULT 0,"
                        " PRIMARY KEY (device, inode, size, mtime)) WITHOUT ROWID;"
                        "CREATE INDEX IF NOT EXISTS thumbnails_used ON thumbnails (used);",
              .lookup = "SELECT width, height, data, shape FROM thumbnails"
                        " WHERE device=? AND inode=? AND size=? AND mtime=?",
              .opened = [this] { return openedLocked(); },
              // Only thumbnails: nothing of value is lost by starting again.
              .discarded = [this] { m_diskBytes = 0; },
              .disabled = {}})
{ }

ThumbnailCache::~ThumbnailCache()
{
    flush();
    QMutexLocker locker(&m_diskLock);
    m_disk.close();
}

void ThumbnailCache::setLimitBytes(qint64 bytes)
{
    QMutexLocker locker(&m_diskLock);
    m_limit = bytes;
    if (m_disk.isOpen())
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
    result.thumbnail = ThumbnailMaker::makeCompact(path);
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
        if (!m_disk.usable())
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
    if (!m_disk.usable())
        return false;
    if (m_pending.isEmpty() && m_touched.isEmpty())
        return m_disk.open();
    QList<Row> rows;
    rows.swap(m_pending);
    QList<FileIdentity> touched;
    touched.swap(m_touched);
    return writeLocked(rows, touched);
}

qint64 ThumbnailCache::diskBytes()
{
    QMutexLocker locker(&m_diskLock);
    return m_disk.open() ? m_diskBytes : 0;
}

bool ThumbnailCache::openedLocked()
{
    // Every thumbnail can be made again from its photo and a damaged database is made anew,
    // so a batch need not wait for the disk: with other writes under way, each sync cost a
    // cold opening of thousands of photos more than all its decoding.
    sqlite3_exec(m_disk.handle(), "PRAGMA synchronous=OFF", nullptr, nullptr, nullptr);
    if (const auto bytes = m_disk.number("SELECT COALESCE(SUM(LENGTH(data)), 0) FROM thumbnails"))
        m_diskBytes = *bytes;
    return true;
}

std::optional<CompactThumbnail> ThumbnailCache::readLocked(const FileIdentity &identity)
{
    if (!m_disk.open())
        return std::nullopt;
    sqlite3_stmt *const select = m_disk.lookup();
    sqlite3_reset(select);
    CacheDatabase::bindIdentity(select, 1, identity);
    const int status = sqlite3_step(select);
    if (status != SQLITE_ROW) {
        m_disk.check(status, "find");
        return std::nullopt;
    }
    const QSize size(sqlite3_column_int(select, 0), sqlite3_column_int(select, 1));
    const void *blob = sqlite3_column_blob(select, 2);
    const int length = sqlite3_column_bytes(select, 2);
    const CompactThumbnail thumbnail =
        CompactThumbnail::fromBytes(blob ? QByteArray(static_cast<const char *>(blob), length) : QByteArray(), size,
                                    quint64(sqlite3_column_int64(select, 3)));
    sqlite3_reset(select);
    m_touched.append(identity);
    return thumbnail;
}

bool ThumbnailCache::writeLocked(const QList<Row> &rows, const QList<FileIdentity> &touched)
{
    const bool ok = m_disk.write(
        "INSERT OR REPLACE INTO thumbnails (device, inode, size, mtime, width, height, data, used, shape)"
        " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)",
        rows.size(),
        [&rows, this](sqlite3_stmt *insert, qsizetype index) {
            const Row &row = rows.at(index);
            CacheDatabase::bindIdentity(insert, 1, row.identity);
            sqlite3_bind_int(insert, 5, row.thumbnail.size().width());
            sqlite3_bind_int(insert, 6, row.thumbnail.size().height());
            if (row.thumbnail.isNull())
                sqlite3_bind_null(insert, 7); // remembered too: a damaged photo is not decoded at every reload
            else
                sqlite3_bind_blob(insert, 7, row.thumbnail.bytes().constData(), int(row.thumbnail.bytes().size()),
                                  SQLITE_STATIC);
            sqlite3_bind_int64(insert, 8, CacheDatabase::nextUse());
            sqlite3_bind_int64(insert, 9, qint64(row.thumbnail.shape()));
            m_diskBytes += row.thumbnail.bytes().size();
        },
        "UPDATE thumbnails SET used=? WHERE device=? AND inode=? AND size=? AND mtime=?", touched);
    if (ok && m_diskBytes > m_limit)
        evictLocked();
    return ok;
}

void ThumbnailCache::evictLocked()
{
    if (!m_disk.isOpen() || m_diskBytes <= m_limit)
        return;
    // Down to nine tenths, so that eviction does not run at every store.
    const qint64 target = m_limit - m_limit / 10;
    sqlite3_stmt *oldest = nullptr;
    sqlite3_stmt *remove = nullptr;
    if (!m_disk.check(sqlite3_prepare_v2(m_disk.handle(),
                                         "SELECT device, inode, size, mtime, COALESCE(LENGTH(data), 0) FROM thumbnails"
                                         " ORDER BY used, device, inode",
                                         -1, &oldest, nullptr),
                      "evict")
        || !m_disk.check(sqlite3_prepare_v2(m_disk.handle(),
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
    sqlite3_exec(m_disk.handle(), "BEGIN", nullptr, nullptr, nullptr);
    for (const FileIdentity &id : std::as_const(victims)) {
        sqlite3_reset(remove);
        CacheDatabase::bindIdentity(remove, 1, id);
        sqlite3_step(remove);
    }
    sqlite3_finalize(remove);
    sqlite3_exec(m_disk.handle(), "COMMIT", nullptr, nullptr, nullptr);
    m_diskBytes = bytes;
}
