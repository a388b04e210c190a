#include "SettingsStore.h"

#include "BundleInfo.h"
#include "support/PlistCodec.h"
#include "support/SafeFile.h"
#include "support/SystemLog.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QUrl>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <fcntl.h>
#include <limits>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {
constexpr auto cSaveDelay = std::chrono::milliseconds(300);

// Leading integer of a text, as the platform's settings reads it: " 42abc" gives 42.
qint64 leadingInteger(const QString &text)
{
    const QString t = text.trimmed();
    qsizetype end = 0;
    if (end < t.size() && (t.at(end) == u'-' || t.at(end) == u'+'))
        ++end;
    while (end < t.size() && t.at(end).isDigit())
        ++end;
    return t.left(end).toLongLong();
}

// A real read as an integer: out of range (or not a number) the plain conversion
// is undefined, so it saturates.
qint64 saturatedInteger(double value)
{
    if (std::isnan(value))
        return 0;
    if (value >= 0x1p63)
        return std::numeric_limits<qint64>::max();
    if (value < -0x1p63)
        return std::numeric_limits<qint64>::min();
    return qint64(value);
}
} // namespace

SettingsStore &SettingsStore::standard()
{
    static SettingsStore store(standardFilePath());
    return store;
}

QString SettingsStore::standardFilePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + u'/' + BundleInfo::bundleName()
        + u'/' + BundleInfo::bundleIdentifier() + u".plist"_s;
}

SettingsStore::SettingsStore(const QString &filePath)
    : m_filePath(filePath)
{
    load();
    m_saver = std::thread([this] { saverLoop(); });
}

SettingsStore::~SettingsStore()
{
    {
        std::lock_guard<std::mutex> guard(m_saveLock);
        m_stopSaver = true;
    }
    m_saveWake.notify_all();
    if (m_saver.joinable())
        m_saver.join();
    synchronize();
}

void SettingsStore::load()
{
    QFile file(m_filePath);
    if (!file.exists())
        return;
    QString error;
    QVariant content;
    if (file.open(QIODevice::ReadOnly))
        content = PlistCodec::parse(file.readAll(), &error);
    else
        error = file.errorString();
    if (content.typeId() == QMetaType::QVariantMap) {
        m_stored = content.toMap();
        return;
    }
    // Keep the damaged file for whoever wants to look at it; start from the defaults.
    const QString aside = m_filePath + u".damaged-"_s + QDateTime::currentDateTime().toString(u"yyyyMMdd-HHmmss-zzz"_s);
    const FileResult moved = SafeFile::renameNoReplace(m_filePath, aside);
    if (moved) {
        m_damagedAt = aside;
        m_loadNotice = u"the settings file "_s + NativePath::forDisplay(m_filePath) + u" was damaged and is kept as "_s
            + NativePath::forDisplay(aside)
            + u"; the factory settings are in use (the working and destination folders must be chosen again)"_s;
        logLine(u"SettingsStore -> load.... the settings file "_s + m_filePath + u" is damaged ("_s + error
                + u"); kept it as "_s + aside + u" and starting from the defaults"_s);
    } else {
        // It cannot even be moved aside: never write over it.
        m_persistenceDisabled = true;
        m_loadNotice = u"the settings file "_s + NativePath::forDisplay(m_filePath) + u" cannot be read ("_s + error
            + u") nor kept aside ("_s + moved.text()
            + u"); the factory settings are in use and no setting changed now is saved"_s;
        logLine(u"SettingsStore -> load.... the settings file "_s + m_filePath + u" cannot be read ("_s + error
                + u") nor kept aside ("_s + moved.text() + u"); settings will not be saved in this run"_s);
    }
}

QString SettingsStore::damagedFileKeptAt() const
{
    std::shared_lock guard(m_lock);
    return m_damagedAt;
}

QString SettingsStore::loadNotice() const
{
    std::shared_lock guard(m_lock);
    return m_loadNotice;
}

QVariant SettingsStore::normalized(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::QString:
    case QMetaType::Bool:
    case QMetaType::LongLong:
    case QMetaType::Double:
    case QMetaType::QByteArray:
    case QMetaType::QDateTime:
        return value;
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
        return QVariant(value.toLongLong());
    case QMetaType::Float:
        return QVariant(value.toDouble());
    case QMetaType::QUrl:
        return QVariant(value.toUrl().toString());
    case QMetaType::QDate:
        return QVariant(value.toDate().startOfDay());
    case QMetaType::QStringList:
    case QMetaType::QVariantList: {
        QVariantList list;
        for (const QVariant &item : value.toList()) {
            QVariant n = normalized(item);
            if (!n.isValid())
                return {};
            list.append(n);
        }
        return list;
    }
    case QMetaType::QVariantMap:
    case QMetaType::QVariantHash: {
        QVariantMap map;
        const QVariantMap in = value.toMap();
        for (auto it = in.cbegin(); it != in.cend(); ++it) {
            QVariant n = normalized(it.value());
            if (!n.isValid())
                return {};
            map.insert(it.key(), n);
        }
        return map;
    }
    default:
        return {};
    }
}

QVariant SettingsStore::objectForKey(const QString &key) const
{
    std::shared_lock guard(m_lock);
    if (auto it = m_overrides.constFind(key); it != m_overrides.cend())
        return *it;
    if (auto it = m_stored.constFind(key); it != m_stored.cend())
        return *it;
    return m_defaults.value(key);
}

std::optional<QString> SettingsStore::stringForKey(const QString &key) const
{
    const QVariant v = objectForKey(key);
    if (v.typeId() != QMetaType::QString)
        return std::nullopt;
    return v.toString();
}

std::optional<QByteArray> SettingsStore::dataForKey(const QString &key) const
{
    const QVariant v = objectForKey(key);
    if (v.typeId() != QMetaType::QByteArray)
        return std::nullopt;
    return v.toByteArray();
}

std::optional<QVariantList> SettingsStore::arrayForKey(const QString &key) const
{
    const QVariant v = objectForKey(key);
    if (v.typeId() != QMetaType::QVariantList)
        return std::nullopt;
    return v.toList();
}

std::optional<QVariantMap> SettingsStore::dictionaryForKey(const QString &key) const
{
    const QVariant v = objectForKey(key);
    if (v.typeId() != QMetaType::QVariantMap)
        return std::nullopt;
    return v.toMap();
}

bool SettingsStore::boolForKey(const QString &key) const
{
    const QVariant v = objectForKey(key);
    switch (v.typeId()) {
    case QMetaType::Bool:
        return v.toBool();
    case QMetaType::LongLong:
        return v.toLongLong() != 0;
    case QMetaType::Double:
        return v.toDouble() != 0.0;
    case QMetaType::QString: {
        const QString t = v.toString().trimmed();
        return t.compare(u"YES"_s, Qt::CaseInsensitive) == 0 || t.compare(u"true"_s, Qt::CaseInsensitive) == 0
            || leadingInteger(t) != 0;
    }
    default:
        return false;
    }
}

qint64 SettingsStore::integerForKey(const QString &key) const
{
    const QVariant v = objectForKey(key);
    switch (v.typeId()) {
    case QMetaType::Bool:
        return v.toBool() ? 1 : 0;
    case QMetaType::LongLong:
        return v.toLongLong();
    case QMetaType::Double:
        return saturatedInteger(v.toDouble());
    case QMetaType::QString:
        return leadingInteger(v.toString());
    default:
        return 0;
    }
}

double SettingsStore::doubleForKey(const QString &key) const
{
    const QVariant v = objectForKey(key);
    switch (v.typeId()) {
    case QMetaType::Bool:
    case QMetaType::LongLong:
    case QMetaType::Double:
        return v.toDouble();
    case QMetaType::QString:
        return v.toString().trimmed().toDouble();
    default:
        return 0.0;
    }
}

void SettingsStore::setObject(const QVariant &value, const QString &key)
{
    if (!value.isValid()) {
        removeObjectForKey(key);
        return;
    }
    const QVariant n = normalized(value);
    if (!n.isValid()) {
        logLine(u"SettingsStore -> setObject:forKey:.... refused a value of type "_s
                + QString::fromLatin1(value.typeName()) + u" for "_s + key);
        return;
    }
    {
        std::unique_lock guard(m_lock);
        m_stored.insert(key, n);
    }
    {
        std::lock_guard<std::mutex> guard(m_saveLock);
        m_dirty.insert(key, n);
    }
    scheduleSave();
}

void SettingsStore::removeObjectForKey(const QString &key)
{
    {
        std::unique_lock guard(m_lock);
        m_stored.remove(key);
    }
    {
        std::lock_guard<std::mutex> guard(m_saveLock);
        m_dirty.insert(key, QVariant());
    }
    scheduleSave();
}

void SettingsStore::registerDefaults(const QVariantMap &defaults)
{
    std::unique_lock guard(m_lock);
    for (auto it = defaults.cbegin(); it != defaults.cend(); ++it) {
        const QVariant n = normalized(it.value());
        if (n.isValid())
            m_defaults.insert(it.key(), n);
    }
}

void SettingsStore::setOverride(const QString &key, const QVariant &value)
{
    std::unique_lock guard(m_lock);
    const QVariant n = normalized(value);
    if (n.isValid())
        m_overrides.insert(key, n);
    else
        m_overrides.remove(key);
}

QVariantMap SettingsStore::dictionaryRepresentation() const
{
    std::shared_lock guard(m_lock);
    QVariantMap all = m_defaults;
    all.insert(m_stored);
    all.insert(m_overrides);
    return all;
}

QVariantMap SettingsStore::storedValues() const
{
    std::shared_lock guard(m_lock);
    return m_stored;
}

QVariantMap SettingsStore::registeredDefaults() const
{
    std::shared_lock guard(m_lock);
    return m_defaults;
}

void SettingsStore::scheduleSave()
{
    {
        std::lock_guard<std::mutex> guard(m_saveLock);
        m_saveRequested = true;
    }
    m_saveWake.notify_all();
}

void SettingsStore::saverLoop()
{
    std::unique_lock<std::mutex> guard(m_saveLock);
    for (;;) {
        m_saveWake.wait(guard, [this] { return m_saveRequested || m_stopSaver; });
        if (m_stopSaver)
            return;
        // Let a burst of writes (a status line per copied photo) end in one save.
        m_saveWake.wait_for(guard, cSaveDelay, [this] { return m_stopSaver; });
        if (m_stopSaver)
            return;
        m_saveRequested = false;
        guard.unlock();
        synchronize();
        guard.lock();
    }
}

bool SettingsStore::synchronize()
{
    std::lock_guard<std::mutex> fileGuard(m_fileLock);
    QHash<QString, QVariant> dirty;
    {
        std::lock_guard<std::mutex> guard(m_saveLock);
        dirty.swap(m_dirty);
    }
    if (dirty.isEmpty())
        return true;
    if (m_persistenceDisabled)
        return false;

    QVariantMap changes;
    QSet<QString> removals;
    for (auto it = dirty.cbegin(); it != dirty.cend(); ++it) {
        if (it.value().isValid())
            changes.insert(it.key(), it.value());
        else
            removals.insert(it.key());
    }
    if (writeFile(changes, removals))
        return true;
    // Keep the changes for the next attempt, unless newer ones came meanwhile.
    std::lock_guard<std::mutex> guard(m_saveLock);
    for (auto it = dirty.cbegin(); it != dirty.cend(); ++it) {
        if (!m_dirty.contains(it.key()))
            m_dirty.insert(it.key(), it.value());
    }
    return false;
}

bool SettingsStore::writeFile(const QVariantMap &changes, const QSet<QString> &removals)
{
    const QFileInfo info(m_filePath);
    const QString folder = info.absolutePath();
    if (FileResult made = SafeFile::makeFolders(folder); !made) {
        logLine(u"SettingsStore -> synchronize.... "_s + made.text());
        return false;
    }

    // Another process (the command-line tool) may have written other keys since we
    // loaded: start from what is on disk now and apply only our own changes.
    QVariantMap content;
    if (QFile::exists(m_filePath)) {
        QString error;
        const QVariant onDisk = PlistCodec::readFile(m_filePath, &error);
        if (onDisk.typeId() != QMetaType::QVariantMap) {
            logLine(u"SettingsStore -> synchronize.... "_s + m_filePath + u" became unreadable ("_s + error
                    + u"); not writing over it"_s);
            m_persistenceDisabled = true;
            return false;
        }
        content = onDisk.toMap();
    }
    content.insert(changes);
    for (const QString &key : removals)
        content.remove(key);

    QString error;
    const QByteArray xml = PlistCodec::toXml(content, &error);
    if (xml.isEmpty()) {
        logLine(u"SettingsStore -> synchronize.... cannot encode the settings: "_s + error);
        return false;
    }

    const QByteArray temp = QFile::encodeName(folder + u"/."_s + info.fileName() + u".XXXXXX"_s);
    QByteArray tempPath = temp;
    const int fd = ::mkstemp(tempPath.data());
    if (fd < 0) {
        logLine(u"SettingsStore -> synchronize.... "_s
                + FileResult::failure(u"create"_s, NativePath::fromBytes(temp), errno).text());
        return false;
    }
    const bool written = SafeFile::writeAll(fd, xml) && ::fsync(fd) == 0;
    const int writeErrno = errno;
    const bool closed = ::close(fd) == 0;
    if (!written || !closed) {
        ::unlink(tempPath.constData());
        logLine(
            u"SettingsStore -> synchronize.... "_s
            + FileResult::failure(u"write"_s, NativePath::fromBytes(tempPath), written ? errno : writeErrno).text());
        return false;
    }
    // Replacing the store file itself is intended: the new content is complete on disk first.
    if (::rename(tempPath.constData(), QFile::encodeName(m_filePath).constData()) != 0) {
        const int e = errno;
        ::unlink(tempPath.constData());
        logLine(u"SettingsStore -> synchronize.... "_s + FileResult::failure(u"rename"_s, m_filePath, e).text());
        return false;
    }
    SafeFile::syncFolder(folder);
    return true;
}
