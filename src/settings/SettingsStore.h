#pragma once

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <thread>

// The process-wide key-value store of every setting. Reads consult, in order:
// the run's overrides (--set on the command line, never saved), the values the
// program stored (kept in an XML property list), then the registered defaults.
// Values are property-list values: text, Boolean, integer, real, data, date,
// list, dictionary. Any thread may read or write single keys at any time.
class SettingsStore
{
public:
    // The store of this program: "<XDG config>/Lumisort/<bundle identifier>.plist".
    static SettingsStore &standard();
    static QString standardFilePath();

    explicit SettingsStore(const QString &filePath);
    ~SettingsStore();
    SettingsStore(const SettingsStore &) = delete;
    SettingsStore &operator=(const SettingsStore &) = delete;

    QVariant objectForKey(const QString &key) const;
    // A read of a missing key, or of a value of another type, gives nothing.
    std::optional<QString> stringForKey(const QString &key) const;
    std::optional<QByteArray> dataForKey(const QString &key) const;
    std::optional<QVariantList> arrayForKey(const QString &key) const;
    std::optional<QVariantMap> dictionaryForKey(const QString &key) const;
    // Missing keys read as false and 0; numbers and the texts "YES"/"true"/digits convert.
    bool boolForKey(const QString &key) const;
    qint64 integerForKey(const QString &key) const;
    double doubleForKey(const QString &key) const;

    // An invalid QVariant removes the key.
    void setObject(const QVariant &value, const QString &key);
    void setString(const QString &value, const QString &key) { setObject(value, key); }
    void setBool(bool value, const QString &key) { setObject(value, key); }
    void setInteger(qint64 value, const QString &key) { setObject(value, key); }
    void setDouble(double value, const QString &key) { setObject(value, key); }
    void removeObjectForKey(const QString &key);

    void registerDefaults(const QVariantMap &defaults);
    // Overrides for this run only (not saved); an invalid value drops the override.
    void setOverride(const QString &key, const QVariant &value);

    // Every visible value: overrides over stored values over registered defaults.
    QVariantMap dictionaryRepresentation() const;
    QVariantMap storedValues() const;
    QVariantMap registeredDefaults() const;

    // Writes pending changes now. False when the file could not be written (logged).
    bool synchronize();

    const QString &filePath() const { return m_filePath; }
    // Where a damaged store file was put aside at load time; empty when none was.
    QString damagedFileKeptAt() const;
    // What the operator must be told about the store file as it was loaded: damaged and
    // kept aside (naming where), or neither readable nor movable (so nothing is saved in
    // this run). Empty when it loaded as it should. One sentence, no line breaks.
    QString loadNotice() const;

    // Normalises a value to the property-list types (int → qint64, QStringList → list,
    // QUrl → text); invalid for types a property list cannot hold.
    static QVariant normalized(const QVariant &value);

private:
    void load();
    void scheduleSave();
    void saverLoop();
    bool writeFile(const QVariantMap &changes, const QSet<QString> &removals);

    QString m_filePath;
    mutable std::shared_mutex m_lock;
    QVariantMap m_overrides;
    QVariantMap m_stored;
    QVariantMap m_defaults;
    QString m_damagedAt;
    QString m_loadNotice;
    bool m_persistenceDisabled = false;

    // Changed keys not yet written; the file is re-read and these applied on top,
    // so another process (the command-line tool) writing other keys is not undone.
    std::mutex m_saveLock;
    std::condition_variable m_saveWake;
    QHash<QString, QVariant> m_dirty; // invalid value = removed
    bool m_saveRequested = false;
    bool m_stopSaver = false;
    std::thread m_saver;
    std::mutex m_fileLock;
};
