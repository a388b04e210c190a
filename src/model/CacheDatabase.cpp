#include "CacheDatabase.h"

#include "settings/BundleInfo.h"
#include "support/SafeFile.h"
#include "support/SystemLog.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <atomic>
#include <sqlite3.h>

using namespace Qt::StringLiterals;

QString CacheDatabase::standardPath(const QString &fileName)
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + u'/' + BundleInfo::bundleName()
        + u'/' + fileName;
}

CacheDatabase::CacheDatabase(const QString &path, Setup setup)
    : m_path(path)
    , m_setup(std::move(setup))
{ }

CacheDatabase::~CacheDatabase()
{
    close();
}

QString CacheDatabase::log(const QString &text) const
{
    return m_setup.logName + u" -> "_s + text;
}

void CacheDatabase::giveUp()
{
    m_disabled = true;
    if (m_setup.disabled)
        m_setup.disabled();
}

bool CacheDatabase::open()
{
    if (m_db)
        return true;
    if (!usable())
        return false;
    const bool firstAttempt = !m_tried;
    m_tried = true;
    if (const FileResult made = SafeFile::makeFolders(QFileInfo(m_path).absolutePath()); !made) {
        logLine(log(u"open.... "_s + made.text() + u"; keeping "_s + m_setup.keptInMemory + u" in memory only"_s));
        giveUp();
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
        const int version = int(number("PRAGMA user_version").value_or(0));
        const QByteArray pragmas = "PRAGMA journal_mode=WAL;"
                                   "PRAGMA synchronous=NORMAL;";
        const QByteArray stamp = "PRAGMA user_version=" + QByteArray::number(m_setup.schemaVersion);
        if (version != 0 && version != m_setup.schemaVersion) {
            problem = u"unknown cache version %1"_s.arg(version);
        } else if (sqlite3_exec(m_db, QByteArray(pragmas + m_setup.schema).constData(), nullptr, nullptr, nullptr)
                       != SQLITE_OK
                   || sqlite3_exec(m_db, stamp.constData(), nullptr, nullptr, nullptr) != SQLITE_OK
                   || sqlite3_prepare_v2(m_db, m_setup.lookup.constData(), -1, &m_lookup, nullptr) != SQLITE_OK
                   || (m_setup.opened && !m_setup.opened())) {
            problem = QString::fromUtf8(sqlite3_errmsg(m_db));
        }
    }
    if (problem.isEmpty())
        return true;
    close();
    if (!firstAttempt) {
        logLine(log(u"open.... still unusable ("_s + problem + u"); memory only for this run"_s));
        giveUp();
        return false;
    }
    discardDamaged(problem);
    return open();
}

void CacheDatabase::close()
{
    sqlite3_finalize(m_lookup);
    m_lookup = nullptr;
    if (m_db)
        sqlite3_close_v2(m_db);
    m_db = nullptr;
}

void CacheDatabase::discardDamaged(const QString &why)
{
    // Only what can be made again is kept here: nothing of value is lost by starting again.
    logLine(log(u"discarding the "_s + m_setup.description + u' ' + m_path + u" ("_s + why + u")"_s));
    close();
    for (const QString &suffix : {QString(), u"-wal"_s, u"-shm"_s, u"-journal"_s})
        QFile::remove(m_path + suffix);
    if (m_setup.discarded)
        m_setup.discarded();
}

bool CacheDatabase::check(int status, const char *what)
{
    if (status == SQLITE_OK || status == SQLITE_DONE || status == SQLITE_ROW)
        return true;
    const QString message = QString::fromUtf8(m_db ? sqlite3_errmsg(m_db) : sqlite3_errstr(status));
    logLine(log(QString::fromLatin1(what) + u".... "_s + message));
    if (status == SQLITE_CORRUPT || status == SQLITE_NOTADB) {
        discardDamaged(message);
        m_tried = false;
    }
    return false;
}

bool CacheDatabase::exec(const char *sql, const char *what)
{
    return check(sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr), what);
}

std::optional<qint64> CacheDatabase::number(const char *sql)
{
    std::optional<qint64> result;
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_prepare_v2(m_db, sql, -1, &statement, nullptr) == SQLITE_OK && sqlite3_step(statement) == SQLITE_ROW)
        result = sqlite3_column_int64(statement, 0);
    sqlite3_finalize(statement);
    return result;
}

bool CacheDatabase::write(const char *insert, qsizetype rowCount,
                          const std::function<void(sqlite3_stmt *, qsizetype)> &bindRow, const char *touch,
                          const QList<FileIdentity> &touched)
{
    if (!open())
        return false;
    if (!exec("BEGIN", "begin"))
        return false;
    sqlite3_stmt *inserting = nullptr;
    sqlite3_stmt *touching = nullptr;
    bool ok = check(sqlite3_prepare_v2(m_db, insert, -1, &inserting, nullptr), "prepare")
        && check(sqlite3_prepare_v2(m_db, touch, -1, &touching, nullptr), "prepare");
    for (qsizetype row = 0; ok && row < rowCount; ++row) {
        sqlite3_reset(inserting);
        bindRow(inserting, row);
        ok = check(sqlite3_step(inserting), "store");
    }
    for (const FileIdentity &id : touched) {
        if (!ok)
            break;
        sqlite3_reset(touching);
        sqlite3_bind_int64(touching, 1, nextUse());
        bindIdentity(touching, 2, id);
        ok = check(sqlite3_step(touching), "touch");
    }
    sqlite3_finalize(inserting);
    sqlite3_finalize(touching);
    if (!m_db)
        return false; // discarded as damaged on the way
    return exec(ok ? "COMMIT" : "ROLLBACK", "commit") && ok;
}

qint64 CacheDatabase::nextUse()
{
    static std::atomic<qint64> last {0};
    qint64 candidate = QDateTime::currentMSecsSinceEpoch() * 1000;
    qint64 previous = last.load();
    while (!last.compare_exchange_weak(previous, std::max(candidate, previous + 1))) { }
    return std::max(candidate, previous + 1);
}

void CacheDatabase::bindIdentity(sqlite3_stmt *statement, int first, const FileIdentity &id)
{
    sqlite3_bind_int64(statement, first, sqlite3_int64(id.device));
    sqlite3_bind_int64(statement, first + 1, sqlite3_int64(id.inode));
    sqlite3_bind_int64(statement, first + 2, id.size);
    sqlite3_bind_int64(statement, first + 3, id.mtimeNs);
}
