#pragma once

#include "CacheDatabase.h"
#include "CompactThumbnail.h"
#include "FileIdentity.h"
#include "support/NativePath.h"

#include <QHash>
#include <QList>
#include <QMutex>
#include <QSet>
#include <QString>
#include <atomic>
#include <optional>

// Thumbnails kept by file identity (device, inode, size, modification time),
// so a rename keeps them and a reload after a correction decodes nothing: in
// memory for the folder shown, and on disk in one SQLite database of small
// JPEG blobs under the cache folder, bounded in size (the least recently used
// go first). A damaged database is thrown away and made anew; the cache is
// never a reason for a load to fail. Thread-safe.
class ThumbnailCache
{
public:
    static constexpr qint64 cDefaultLimitBytes = 512LL * 1024 * 1024;

    // The program's cache: "<XDG cache>/Lumisort/thumbnails.sqlite".
    static ThumbnailCache &standard();
    static QString standardDatabasePath();

    // An empty path keeps everything in memory only.
    ThumbnailCache(const QString &databasePath, qint64 limitBytes = cDefaultLimitBytes);
    ~ThumbnailCache();
    ThumbnailCache(const ThumbnailCache &) = delete;
    ThumbnailCache &operator=(const ThumbnailCache &) = delete;

    enum class Origin
    {
        Memory,
        Disk,
        Decoded
    };
    struct Obtained
    {
        CompactThumbnail thumbnail; // null: the file gives no thumbnail
        Origin origin = Origin::Decoded;
        std::optional<FileIdentity> identity;
    };
    // The thumbnail of a file: remembered, read from disk, or made now.
    Obtained obtain(const NativePath &path);

    std::optional<CompactThumbnail> find(const FileIdentity &identity);
    std::optional<CompactThumbnail> findInMemory(const FileIdentity &identity);
    void store(const FileIdentity &identity, const CompactThumbnail &thumbnail);
    // Forgets, in memory, every thumbnail but these (the folder now shown).
    void retainInMemoryOnly(const QSet<FileIdentity> &identities);
    void clearMemory();
    // Writes what is waiting for the disk; true when the disk cache is usable.
    bool flush();

    qint64 limitBytes() const { return m_limit; }
    void setLimitBytes(qint64 bytes);
    qint64 diskBytes();
    int memoryCount();
    const QString &databasePath() const { return m_disk.path(); }

    // Counters since the cache was made (or reset): thumbnails made from image data,
    // and thumbnails taken from memory or disk.
    qint64 decodedCount() const { return m_decoded.load(); }
    qint64 reusedCount() const { return m_reused.load(); }
    void resetCounters();

private:
    struct Row
    {
        FileIdentity identity;
        CompactThumbnail thumbnail;
    };
    bool openedLocked();
    std::optional<CompactThumbnail> readLocked(const FileIdentity &identity);
    bool writeLocked(const QList<Row> &rows, const QList<FileIdentity> &touched);
    void evictLocked();

    qint64 m_limit;
    QMutex m_memoryLock;
    QHash<FileIdentity, CompactThumbnail> m_memory;

    QMutex m_diskLock;
    CacheDatabase m_disk;
    qint64 m_diskBytes = 0;
    QList<Row> m_pending;
    QList<FileIdentity> m_touched;

    std::atomic<qint64> m_decoded {0};
    std::atomic<qint64> m_reused {0};
};
