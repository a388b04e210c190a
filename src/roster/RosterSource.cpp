#include "RosterSource.h"

#include "model/BarcodeText.h"
#include "model/FileNameConvention.h"
#include "settings/MyAliasKit.h"
#include "settings/SettingsKeys.h"
#include "settings/SettingsStore.h"
#include "support/SystemLog.h"

#include <QFileInfo>
#include <QtConcurrent/QtConcurrentRun>
#include <utility>

using namespace Qt::StringLiterals;

RosterSource &RosterSource::shared()
{
    static RosterSource source;
    return source;
}

RosterSource::RosterSource()
{
    // A save is a burst of events (a new file written, renamed over, its folder changed): read once, after it.
    m_settle.setSingleShot(true);
    m_settle.setInterval(300);
    connect(&m_settle, &QTimer::timeout, this, &RosterSource::reload);
    connect(&m_watcher, &QFileSystemWatcher::fileChanged, &m_settle, qOverload<>(&QTimer::start));
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, [this] {
        // Only the roster's own folder is watched, to see the file come back under its name.
        if (!m_watcher.files().contains(m_path) && QFileInfo::exists(m_path))
            m_settle.start();
    });
    connect(&m_loading, &QFutureWatcher<Roster>::finished, this, &RosterSource::loaded);
}

QString RosterSource::describe(const RosterSubject &subject)
{
    QString text = subject.displayName.isEmpty() ? u"(no name)"_s : subject.displayName;
    if (!subject.className.isEmpty())
        text += u" · "_s + subject.className;
    return text;
}

RosterSource::Lookup RosterSource::lookUp(const QString &code) const
{
    const QString id = code.trimmed();
    // The marker of photos set aside as unknown (the browser's "UNKNOWN" section) is no code a
    // roster could lack: calling it a misread would send the operator hunting for nothing.
    if (!m_roster || id.isEmpty() || BarcodeText::problem(id) || FileNameConvention::isUnknownPhoto(id))
        return {};
    if (const RosterSubject *subject = m_roster->find(id))
        return {Lookup::Kind::Listed, describe(*subject)};
    return {Lookup::Kind::Unlisted, u"Not on the roster"_s};
}

void RosterSource::open(const QString &path, int idColumn, Roster::Header header, std::shared_ptr<const Roster> loaded)
{
    ++m_generation;
    m_path = QFileInfo(path).absoluteFilePath();
    m_idColumn = idColumn;
    m_header = header;
    m_roster = std::move(loaded);
    SettingsStore &store = SettingsStore::standard();
    store.setString(m_path, cPrefRosterPath);
    store.setInteger(idColumn, cPrefRosterIdColumn);
    store.setBool(header == Roster::Header::FirstRow, cPrefRosterHasHeader);
    rememberFile();
    logLine(u"RosterSource -> open.... "_s + m_path + u": "_s
            + QString::number(m_roster ? m_roster->subjects().size() : 0) + u" subjects"_s);
    watch();
    Q_EMIT changed();
}

void RosterSource::close()
{
    SettingsStore &store = SettingsStore::standard();
    for (const QString &key : {cPrefRosterPath, cPrefRosterPathAliasData, cPrefRosterIdColumn, cPrefRosterHasHeader})
        store.removeObjectForKey(key);
    ++m_generation;
    m_path.clear();
    m_roster.reset();
    watch();
    Q_EMIT changed();
}

void RosterSource::restore()
{
    SettingsStore &store = SettingsStore::standard();
    QString path = store.stringForKey(cPrefRosterPath).value_or(QString());
    const QVariant alias = store.objectForKey(cPrefRosterPathAliasData);
    // A path set by hand (the command line) names the file meant; the reference only finds a file
    // moved away. Either way the reference is made anew once the file is read.
    if (!QFileInfo(path).isFile() && alias.isValid()) {
        QString resolved;
        if (MyAliasKit::resolveAliasFromData(alias.toByteArray(), &resolved)) {
            if (resolved != path) {
                logLine(u"RosterSource -> restore.... the roster moved from "_s + path + u" to "_s + resolved);
                store.setString(resolved, cPrefRosterPath);
            }
            path = resolved;
        }
    }
    if (path.isEmpty())
        return;
    ++m_generation;
    m_path = path;
    m_idColumn = int(store.integerForKey(cPrefRosterIdColumn));
    m_header = store.boolForKey(cPrefRosterHasHeader) ? Roster::Header::FirstRow : Roster::Header::None;
    reload();
}

void RosterSource::rememberFile()
{
    // A spreadsheet saves a new file under the name: the reference must find that one, not the one it
    // replaced; and with none, an old reference must not lead back to another roster.
    SettingsStore &store = SettingsStore::standard();
    if (const std::optional<QByteArray> alias = MyAliasKit::aliasDataForPath(m_path))
        store.setObject(QVariant(*alias), cPrefRosterPathAliasData);
    else
        store.removeObjectForKey(cPrefRosterPathAliasData);
}

void RosterSource::watch()
{
    if (const QStringList watched = m_watcher.files() + m_watcher.directories(); !watched.isEmpty())
        m_watcher.removePaths(watched);
    if (m_path.isEmpty())
        return;
    if (QFileInfo::exists(m_path))
        m_watcher.addPath(m_path);
    m_watcher.addPath(QFileInfo(m_path).absolutePath());
}

void RosterSource::reload()
{
    if (m_path.isEmpty())
        return;
    if (m_loading.isRunning()) {
        m_reloadAgain = true;
        return;
    }
    watch();
    m_loadingGeneration = m_generation;
    m_loading.setFuture(QtConcurrent::run([path = m_path, column = m_idColumn, header = m_header] {
        return Roster::load(NativePath(path), column, header);
    }));
}

void RosterSource::loaded()
{
    const Roster roster = m_loading.result();
    // The file changed (or another was restored) while it was read: what was read is already old.
    if (std::exchange(m_reloadAgain, false)) {
        reload();
        return;
    }
    // Read for a roster since closed or replaced: the operator's later choice stands.
    if (m_loadingGeneration != m_generation)
        return;
    if (roster.status() != Roster::Status::Loaded) {
        // A file half written by a spreadsheet, or taken away: the roster read last stays.
        const QString why = roster.status() == Roster::Status::NeedsIdColumn
            ? u"The roster "_s + m_path + u" no longer has the column of its ids."_s
            : roster.error();
        logLine(u"RosterSource -> loaded.... "_s + why);
        Q_EMIT loadFailed(why);
        return;
    }
    m_roster = std::make_shared<const Roster>(roster);
    rememberFile();
    logLine(u"RosterSource -> loaded.... "_s + m_path + u": "_s + QString::number(roster.subjects().size())
            + u" subjects"_s);
    Q_EMIT changed();
}
