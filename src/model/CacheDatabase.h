#pragma once

#include "FileIdentity.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <functional>
#include <optional>

struct sqlite3;
struct sqlite3_stmt;

// The SQLite file behind a cache of things that can always be made again:
// opened lazily, checked for damage, and thrown away and made anew when
// damaged, so the cache is never a reason for anything else to fail. When even
// a fresh file cannot be used, the disk is given up for the rest of the run and
// the cache lives in memory. Not thread-safe: its cache serialises the calls.
class CacheDatabase
{
public:
    struct Setup
    {
        QString logName; // "ThumbnailCache": the front of every log line
        QString description; // "thumbnail cache": what is discarded
        QString keptInMemory; // "thumbnails": what is kept in memory when the disk cannot be had
        int schemaVersion = 1;
        QByteArray schema; // run on every open: tables and indexes made if missing
        QByteArray lookup; // the query that finds a row, kept prepared while open
        // After the schema: whatever the cache reads or clears at start; false on an
        // SQLite error, which counts as damage.
        std::function<bool()> opened;
        // After a damaged file was removed.
        std::function<void()> discarded;
        // The disk was given up for this run.
        std::function<void()> disabled;
    };

    // "<XDG cache>/Lumisort/<fileName>": where the program keeps its caches.
    static QString standardPath(const QString &fileName);

    // An empty path never opens anything.
    CacheDatabase(const QString &path, Setup setup);
    ~CacheDatabase();
    CacheDatabase(const CacheDatabase &) = delete;
    CacheDatabase &operator=(const CacheDatabase &) = delete;

    const QString &path() const { return m_path; }
    // False when there is no file, or the disk was given up for this run.
    bool usable() const { return !m_path.isEmpty() && !m_disabled; }
    // Opens (and if need be remakes) the file; true when it is ready.
    bool open();
    void close();
    sqlite3 *handle() const { return m_db; }
    sqlite3_stmt *lookup() const { return m_lookup; }
    bool isOpen() const { return m_db != nullptr; }

    // True when the status is a success; otherwise logs it under what, and a damaged
    // file is discarded so the next open makes it anew.
    bool check(int status, const char *what);
    bool exec(const char *sql, const char *what);
    // The first column of the first row, when the query gives one.
    std::optional<qint64> number(const char *sql);
    // One transaction: insert stepped once for each of rowCount rows after bindRow bound
    // them, then touch (used=?, then the identity) for each identity read since the last
    // write. Rolled back when a step fails; true when committed.
    bool write(const char *insert, qsizetype rowCount, const std::function<void(sqlite3_stmt *, qsizetype)> &bindRow,
               const char *touch, const QList<FileIdentity> &touched);

    // Strictly increasing use stamps: several rows written in the same instant still
    // leave in the order they were used.
    static qint64 nextUse();
    static void bindIdentity(sqlite3_stmt *statement, int first, const FileIdentity &id);

private:
    void discardDamaged(const QString &why);
    void giveUp();
    QString log(const QString &text) const;

    QString m_path;
    Setup m_setup;
    sqlite3 *m_db = nullptr;
    sqlite3_stmt *m_lookup = nullptr;
    bool m_tried = false;
    bool m_disabled = false;
};
