#include "BarcodeCache.h"

#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutexLocker>
#include <QThread>
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
    return CacheDatabase::standardPath(u"barcodes.sqlite"_s);
}

BarcodeCache::BarcodeCache(const QString &databasePath, int limitRows)
    : m_limitRows(limitRows)
    , m_disk(databasePath,
             {.logName = u"BarcodeCache"_s,
              .description = u"barcode cache"_s,
              .keptInMemory = u"readings"_s,
              .schemaVersion = cSchemaVersion,
              .schema = "CREATE TABLE IF NOT EXISTS readings ("
                        " device INTEGER NOT NULL, inode INTEGER NOT NULL, size INTEGER NOT NULL,"
                        " mtime INTEGER NOT NULL, reader INTEGER NOT NULL, codes TEXT NOT NULL,"
                        " pass INTEGER NOT NULL, pieces INTEGER NOT NULL, ms INTEGER NOT NULL,"
                        " used INTEGER NOT NULL,"
                        " PRIMARY KEY (device, inode, size, mtime)) WITHOUT ROWID;"
                        "CREATE INDEX IF NOT EXISTS readings_used ON readings (used);",
              // The reader is asked for again: a program of another version may share the file.
              .lookup = "SELECT codes, pass, pieces, ms FROM readings"
                        " WHERE device=? AND inode=? AND size=? AND mtime=? AND reader=?",
              .opened = [this] { return openedLocked(); },
              // Only readings: nothing of value is lost by reading the photos again.
              .discarded = [this] { m_diskRows = 0; },
              .disabled =
                  [this] {
                      m_pending.clear();
                      m_touched.clear();
                  }})
{
    // The idle class on Linux, as the window's readers: a card being copied or a window in
    // use takes the cores first.
    m_later.setThreadPriority(QThread::IdlePriority);
    m_later.setMaxThreadCount(std::max(1, QThread::idealThreadCount()));
    if (!m_disk.path().isEmpty())
        m_writer = std::thread([this] { writeBehind(); });
}

BarcodeCache::~BarcodeCache()
{
    m_later.clear();
    m_later.waitForDone();
    {
        QMutexLocker locker(&m_diskLock);
        m_closing = true;
        m_writerWake.wakeAll();
    }
    if (m_writer.joinable())
        m_writer.join();
    QMutexLocker locker(&m_diskLock);
    flushLocked();
    m_disk.close();
}

// --- memory -----------------------------------------------------------------------

BarcodeReader::Reading BarcodeCache::read(const NativePath &path)
{
    return read(path, path);
}

BarcodeReader::Reading BarcodeCache::read(const NativePath &path, const NativePath &movedTo)
{
    NativePath at = path;
    std::optional<FileIdentity> identity = FileIdentity::of(path.bytes());
    if (!identity && movedTo != path) {
        at = movedTo;
        identity = FileIdentity::of(movedTo.bytes());
    }
    if (identity) {
        if (std::optional<BarcodeReader::Reading> kept = find(*identity))
            return *kept;
        // An import's reader and the window's may reach the same photo together.
        QMutexLocker locker(&m_memoryLock);
        while (m_decoding.contains(*identity))
            m_decodingDone.wait(&m_memoryLock);
        if (const auto done = m_memory.constFind(*identity); done != m_memory.cend())
            return *done;
        m_decoding.insert(*identity);
    }
    BarcodeReader::Reading reading = BarcodeReader::read(at);
    // Moved into the working folder between the look at its identity and its opening: a reading that lags
    // behind the import met the staged name gone, and the photo was then read again in the window.
    if (!reading.readable && identity && at != movedTo && FileIdentity::of(movedTo.bytes()) == identity)
        reading = BarcodeReader::read(movedTo);
    ++m_decoded;
    // A file changed while it was read keeps no reading: its identity no longer
    // names what was read. One that gave no picture may still be being copied.
    if (identity && reading.readable
        && (FileIdentity::of(path.bytes()) == identity || FileIdentity::of(movedTo.bytes()) == identity))
        store(*identity, reading);
    if (identity) {
        QMutexLocker locker(&m_memoryLock);
        m_decoding.remove(*identity);
        m_decodingDone.wakeAll();
    }
    return reading;
}

void BarcodeCache::readLater(const NativePath &path, const NativePath &movedTo)
{
    m_later.start([this, path, movedTo] { read(path, movedTo); });
}

void BarcodeCache::waitForReadingsLater()
{
    m_later.waitForDone();
}

std::optional<BarcodeReader::Reading> BarcodeCache::known(const NativePath &path)
{
    const std::optional<FileIdentity> identity = FileIdentity::of(path.bytes());
    if (!identity)
        return std::nullopt;
    return find(*identity);
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

std::optional<BarcodeReader::Reading> BarcodeCache::find(const FileIdentity &identity)
{
    if (std::optional<BarcodeReader::Reading> kept = findInMemory(identity))
        return kept;
    std::optional<BarcodeReader::Reading> onDisk;
    {
        QMutexLocker locker(&m_diskLock);
        onDisk = readLocked(identity);
    }
    if (onDisk) {
        QMutexLocker locker(&m_memoryLock);
        m_memory.insert(identity, *onDisk);
    }
    return onDisk;
}

void BarcodeCache::store(const FileIdentity &identity, const BarcodeReader::Reading &reading)
{
    {
        QMutexLocker locker(&m_memoryLock);
        m_memory.insert(identity, reading);
    }
    QMutexLocker locker(&m_diskLock);
    if (!m_disk.usable())
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
    m_disk.open();
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
    if (!m_disk.usable()) {
        m_pending.clear();
        m_touched.clear();
        return false;
    }
    if (m_pending.isEmpty() && m_touched.isEmpty())
        return m_disk.open();
    QList<Row> rows;
    rows.swap(m_pending);
    QList<FileIdentity> touched;
    touched.swap(m_touched);
    return writeLocked(rows, touched);
}

bool BarcodeCache::openedLocked()
{
    const QByteArray stale = "DELETE FROM readings WHERE reader <> " + QByteArray::number(cReaderVersion);
    if (sqlite3_exec(m_disk.handle(), stale.constData(), nullptr, nullptr, nullptr) != SQLITE_OK)
        return false;
    if (const auto rows = m_disk.number("SELECT COUNT(*) FROM readings"))
        m_diskRows = *rows;
    return true;
}

std::optional<BarcodeReader::Reading> BarcodeCache::readLocked(const FileIdentity &identity)
{
    if (!m_disk.open())
        return std::nullopt;
    sqlite3_stmt *const select = m_disk.lookup();
    sqlite3_reset(select);
    CacheDatabase::bindIdentity(select, 1, identity);
    sqlite3_bind_int(select, 5, cReaderVersion);
    const int status = sqlite3_step(select);
    if (status != SQLITE_ROW) {
        m_disk.check(status, "find");
        return std::nullopt;
    }
    const auto *text = static_cast<const char *>(sqlite3_column_blob(select, 0));
    const std::optional<QList<BarcodeReader::Code>> codes =
        decodeCodes(QByteArray(text, text ? sqlite3_column_bytes(select, 0) : 0));
    BarcodeReader::Reading reading;
    reading.readable = true;
    reading.pass = sqlite3_column_int(select, 1);
    reading.pieces = sqlite3_column_int(select, 2);
    reading.ms = sqlite3_column_int64(select, 3);
    sqlite3_reset(select);
    if (!codes)
        return std::nullopt; // read again, and the row replaced by the new reading
    reading.codes = *codes;
    m_touched.append(identity);
    wakeWriterLocked();
    return reading;
}

bool BarcodeCache::writeLocked(const QList<Row> &rows, const QList<FileIdentity> &touched)
{
    const bool ok = m_disk.write(
        "INSERT OR REPLACE INTO readings (device, inode, size, mtime, reader, codes, pass, pieces, ms, used)"
        " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
        rows.size(),
        [&rows, this](sqlite3_stmt *insert, qsizetype index) {
            const Row &row = rows.at(index);
            const QByteArray codes = encodeCodes(row.reading.codes);
            CacheDatabase::bindIdentity(insert, 1, row.identity);
            sqlite3_bind_int(insert, 5, cReaderVersion);
            sqlite3_bind_text(insert, 6, codes.constData(), int(codes.size()), SQLITE_TRANSIENT);
            sqlite3_bind_int(insert, 7, row.reading.pass);
            sqlite3_bind_int(insert, 8, row.reading.pieces);
            sqlite3_bind_int64(insert, 9, row.reading.ms);
            sqlite3_bind_int64(insert, 10, CacheDatabase::nextUse());
            ++m_diskRows; // an estimate: a row replaced counts too, set right when evicting
        },
        "UPDATE readings SET used=? WHERE device=? AND inode=? AND size=? AND mtime=?", touched);
    if (ok && m_diskRows > m_limitRows)
        evictLocked();
    return ok;
}

void BarcodeCache::evictLocked()
{
    if (const auto rows = m_disk.number("SELECT COUNT(*) FROM readings"))
        m_diskRows = *rows;
    if (m_diskRows <= m_limitRows)
        return;
    // Down to nine tenths, so that eviction does not run at every batch.
    const qint64 excess = m_diskRows - (m_limitRows - m_limitRows / 10);
    sqlite3_stmt *remove = nullptr;
    if (!m_disk.check(sqlite3_prepare_v2(m_disk.handle(),
                                         "DELETE FROM readings WHERE (device, inode, size, mtime) IN"
                                         " (SELECT device, inode, size, mtime FROM readings ORDER BY used LIMIT ?)",
                                         -1, &remove, nullptr),
                      "evict")) {
        sqlite3_finalize(remove);
        return;
    }
    sqlite3_bind_int64(remove, 1, excess);
    if (m_disk.check(sqlite3_step(remove), "evict"))
        m_diskRows -= sqlite3_changes(m_disk.handle());
    sqlite3_finalize(remove);
}
