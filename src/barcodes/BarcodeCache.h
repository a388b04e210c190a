#pragma once

#include "BarcodeReader.h"
#include "model/CacheDatabase.h"
#include "model/FileIdentity.h"

#include <QHash>
#include <QList>
#include <QMutex>
#include <QSet>
#include <QString>
#include <QThreadPool>
#include <QWaitCondition>
#include <atomic>
#include <optional>
#include <thread>

// What was read from each photo, kept by file content rather than by name:
// renaming a photo (which is what giving it a barcode does) does not read it
// again, while a file written anew under the same name is read afresh. Kept in
// memory, and on disk in one SQLite database of its own under the cache folder
// so that the next run reads nothing it read before; bounded in rows (the least
// recently used go first). A photo that gave no picture is not kept: it may still
// be being copied. Readings made by an earlier reader are not used. A damaged
// database is thrown away and made anew; the cache is never a reason for a
// reading to fail. Thread-safe.
class BarcodeCache
{
public:
    // Raised whenever BarcodeReader may find other codes in the same photo than
    // it did before: the readings kept on disk by the earlier one are dropped.
    static constexpr int cReaderVersion = 4;
    static constexpr int cDefaultLimitRows = 200000;

    // The program's cache: "<XDG cache>/Lumisort/barcodes.sqlite".
    static BarcodeCache &standard();
    static QString standardDatabasePath();

    // An empty path keeps everything in memory only.
    explicit BarcodeCache(const QString &databasePath = {}, int limitRows = cDefaultLimitRows);
    ~BarcodeCache();
    BarcodeCache(const BarcodeCache &) = delete;
    BarcodeCache &operator=(const BarcodeCache &) = delete;

    // A photo read by two threads at once is decoded once: the second waits for the first.
    BarcodeReader::Reading read(const NativePath &path);
    // For a photo that may be renamed to `movedTo` while it is read (an import's staged copy
    // on its way to the working folder): read where it is, kept when found unchanged in either place.
    BarcodeReader::Reading read(const NativePath &path, const NativePath &movedTo);
    // Reads it later on threads of the cache's own at the lowest priority, in the order given;
    // the caller never waits, and a photo gone by then is skipped. What is still queued when
    // the cache goes is dropped.
    void readLater(const NativePath &path, const NativePath &movedTo);
    // Blocks until every reading asked for with readLater is done (the readers run in the
    // idle class, so on a busy machine no time limit says when).
    void waitForReadingsLater();
    // The reading kept for the file as it is now, without reading it.
    std::optional<BarcodeReader::Reading> known(const NativePath &path);
    // The same from memory only: never waits for the disk, so the window may ask.
    std::optional<BarcodeReader::Reading> knownInMemory(const NativePath &path);
    // Reads the photos on the global thread pool (every core), in the order given.
    QList<BarcodeReader::Reading> readAll(const QList<NativePath> &paths);

    // Writes what is waiting for the disk now rather than in the background;
    // true when the disk cache is usable.
    bool flush();
    const QString &databasePath() const { return m_disk.path(); }

    // How many photos were decoded rather than taken from the cache.
    int decodedCount() const { return m_decoded.load(); }

private:
    struct Row
    {
        FileIdentity identity;
        BarcodeReader::Reading reading;
    };
    std::optional<BarcodeReader::Reading> findInMemory(const FileIdentity &identity);
    // Memory first, then the disk; what the disk had is kept in memory too.
    std::optional<BarcodeReader::Reading> find(const FileIdentity &identity);
    void store(const FileIdentity &identity, const BarcodeReader::Reading &reading);
    void wakeWriterLocked();
    void writeBehind();
    bool flushLocked();
    bool openedLocked();
    std::optional<BarcodeReader::Reading> readLocked(const FileIdentity &identity);
    bool writeLocked(const QList<Row> &rows, const QList<FileIdentity> &touched);
    void evictLocked();

    int m_limitRows;
    QMutex m_memoryLock;
    QHash<FileIdentity, BarcodeReader::Reading> m_memory;

    QMutex m_diskLock;
    CacheDatabase m_disk;
    qint64 m_diskRows = 0;
    QList<Row> m_pending;
    QList<FileIdentity> m_touched;
    // The writer, a thread of each cache on disk, opens the database and then
    // writes the rows in batches, so neither the readers nor the window wait for the disk.
    QWaitCondition m_writerWake;
    std::thread m_writer;
    bool m_closing = false;

    std::atomic<int> m_decoded = 0;

    // Under m_memoryLock: photos being decoded now, and the wait for one to be done.
    QSet<FileIdentity> m_decoding;
    QWaitCondition m_decodingDone;
    QThreadPool m_later;
};
