#include "AppDelegate.h"

#include "AppPaths.h"
#include "PreferencesViewController.h"
#include "StateFolderMove.h"
#include "browser/MyVimoNSWindow.h"
#include "browser/ViewController.h"
#include "browser/WindowController.h"
#include "cardimport/CardOffer.h"
#include "cardimport/LoadCardViewController.h"
#include "filing/CopyToMainFolderViewController.h"
#include "reassign/ReassignJournal.h"
#include "reassign/ReassignViewController.h"
#include "roster/RosterSource.h"
#include "settings/BundleInfo.h"
#include "settings/CompanionSettings.h"
#include "settings/FactoryDefaults.h"
#include "settings/FolderSettings.h"
#include "settings/LogPaths.h"
#include "settings/MyAliasKit.h"
#include "settings/SettingsKeys.h"
#include "settings/SettingsQueries.h"
#include "settings/SettingsStore.h"
#include "support/Alert.h"
#include "support/Dispatch.h"
#include "support/NotificationCenter.h"
#include "support/NotificationNames.h"
#include "support/Plural.h"
#include "support/SafeFile.h"
#include "support/SystemLog.h"
#include "support/TALVIK_Log.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QLockFile>
#include <QMap>
#include <QPointer>
#include <QStandardPaths>
#include <QThread>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {
const QString cKeyForPath = u"keyForDestinationPath"_s;
const QString cKeyForValid = u"keyForDestinationPathIsValid"_s;
const QString cKeyForAlias = u"keyForDestinationPathAliasData"_s;

void beepTwice()
{
    Alert::beep();
    Alert::beep();
}
} // namespace

AppDelegate::AppDelegate(const QStringList &arguments, QObject *parent)
    : QObject(parent)
    , m_arguments(arguments)
{
    for (const QString &argument : arguments.mid(1)) {
        if (!argument.startsWith(u'-'))
            m_pathsToOpen.append(QFileInfo(argument).absoluteFilePath());
    }
    connect(&m_singleInstance, &SingleInstance::activateRequested, this, &AppDelegate::bringToFront);
    connect(&m_singleInstance, &SingleInstance::openRequested, this,
            [this](const QString &path) { openFiles({path}); });
}

AppDelegate::~AppDelegate()
{
    m_singleInstance.stopServer();
    m_cardOffer.reset();
    m_windowController.reset();
}

QString AppDelegate::instanceLockPath()
{
    return SingleInstance::lockPath();
}

QString AppDelegate::instanceSocketName()
{
    return SingleInstance::socketName();
}

// --- start-up ----------------------------------------------------------------------

bool AppDelegate::doInitializeStuff()
{
    if (checkForDuplicateRunningInstances()) {
        m_exitCode = 0;
        return false;
    }
    logLine(u"....NSLog GETTING RE-DIRECTED....."_s);
    // Before the log is opened, so that the log of an earlier version is carried on, not begun anew.
    StateFolderMove::run();
    // The facility creates no folders: start-up does.
    SafeFile::makeFolders(LogPaths::logFolder());
    TALVIK_Log::setLogFile(LogPaths::logFile());
    // A photo a killed reassignment left under its hidden swap name is brought back before anything lists the folder.
    ReassignJournal::prune();
    doTestStuff(m_arguments);

    SettingsStore &store = SettingsStore::standard();
    if (!FactoryDefaults::registerInto(store)) {
        Alert::runModal({Alert::Style::Critical,
                         u"!!! Cannot Start !!!"_s,
                         u"The built-in factory settings of this program are missing or damaged."_s,
                         {u"OK"_s}});
        m_exitCode = 1;
        return false;
    }
    store.setString(versionText(BundleInfo::infoDictionary()), cPrefVersionString);

    const bool standalone = SettingsQueries::isStandaloneApp();
    store.setBool(standalone, cPrefIsStandAloneApp);
    store.removeObjectForKey(cPrefMainstayDisableScan);
    if (!standalone) {
        store.setBool(false, cPrefIsStandAloneApp);
        if (const std::optional<QString> reverse = getMainstayObjectForKey(u"reversescan"_s)) {
            const bool on = reverse->toLower() == u"true"_s;
            store.setBool(on, cPrefMainstayReverseScan);
            logLine(u"AppDelegate -> doInitializeStuff.... prefMainstayReverseScan = "_s
                    + (on ? u"true"_s : u"false"_s));
            store.setBool(store.boolForKey(cPrefMainstayReverseScan), cPrefReverseAssignBarcode);
        }
        if (const std::optional<QString> disable = getMainstayObjectForKey(u"disablescan"_s))
            store.setBool(disable->toLower() == u"true"_s, cPrefMainstayDisableScan);
    } else {
        logLine(u"This App is Standalone App...."_s);
        store.setBool(true, cPrefIsStandAloneApp);
    }

    SettingsQueries::validateReassignMode();

    if (store.boolForKey(cPrefAlwaysUseMainstayAsSourcePath)) {
        if (const std::optional<QString> savePath = getMainstaySavePath()) {
            FolderSettings::store(FolderSettings::Folder::Working, *savePath);
        } else {
            logLine(u"savepath is empty???"_s);
            Dispatch::inBackground([] {
                Dispatch::onMain([] {
                    Alert::beginSheet(nullptr,
                                      {Alert::Style::Warning,
                                       u"!!! Unable to Get Source Path From Mainstay !!!"_s,
                                       u"Please run and configure the Vimo Mainstay app at leastt once!\n\n"_s,
                                       {u"OK"_s}});
                });
            });
        }
    }

    // First start: a working folder where the desktop keeps pictures, made now, so that the
    // window shows a real (empty) folder and a card has somewhere to go.
    if (!store.stringForKey(cPrefSourcePath)) {
        const QString folder = AppPaths::defaultWorkingFolder();
        if (const FileResult made = SafeFile::makeFolders(folder); made) {
            FolderSettings::store(FolderSettings::Folder::Working, folder);
            logLine(u"AppDelegate -> first start.... working folder "_s + folder);
        } else {
            logLine(u"AppDelegate -> first start.... cannot make the working folder: "_s + made.text());
        }
    }

    const QVariantMap all = store.dictionaryRepresentation();
    for (auto it = all.cbegin(); it != all.cend(); ++it)
        logLine(u"setting "_s + it.key() + u" = "_s
                + (it.value().metaType() == QMetaType::fromType<QByteArray>()
                       ? u"<"_s + QString::number(it.value().toByteArray().size()) + u" bytes of data>"_s
                       : it.value().toString()));
    logLine(u"home = "_s + QDir::homePath());
    logLine(u"documents = "_s + QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation));

    const QString temporary = getTemporaryDirectoryForThisApp();
    if (const FileResult made = SafeFile::makeFolders(temporary); made)
        logLine(u"temporary directory = "_s + temporary);
    else
        logLine(u"found error = "_s + made.text());
    return true;
}

void AppDelegate::doTestStuff(const QStringList &arguments)
{
    for (qsizetype i = 0; i < arguments.size(); ++i)
        logLine(u"argument["_s + QString::number(i) + u"] = "_s + arguments.at(i));
}

QString AppDelegate::versionText(const QVariantMap &info)
{
    const auto entry = [&info](const char *key, const QString &missing) {
        const QVariant v = info.value(QString::fromLatin1(key));
        return v.typeId() == QMetaType::QString ? v.toString() : missing;
    };
    return entry("CFBundleShortVersionString", u"Unknown?"_s) + u" [xc-"_s + entry("DTXcode", u"???"_s) + u" sdk-"_s
        + entry("DTSDKName", u"???"_s) + u"]"_s;
}

void AppDelegate::applicationWillFinishLaunching()
{
    ReassignViewController::registerSheets();
    CopyToMainFolderViewController::registerSheet();
    LoadCardViewController::registerSheet();
    PreferencesViewController::registerSheet();

    // Folders given on the command line become the working folder before the browser loads it.
    if (!m_pathsToOpen.isEmpty())
        openFiles(m_pathsToOpen);

    checkStartUpStuff();
    m_windowController = std::make_unique<WindowController>();
    WindowController *wc = m_windowController.get();
    // The application's own commands answer these menu entries.
    wc->setCommands({[this] { doLoadNewCard(); }, [this] { doOpenPref(); }, [this] { doSelectAll(); },
                     [this] { ibQuitCommand(); }});
    QApplication::setQuitOnLastWindowClosed(applicationShouldTerminateAfterLastWindowClosed());
    connect(qApp, &QApplication::aboutToQuit, this, &AppDelegate::applicationWillTerminate);
    connect(wc, &WindowController::quitting, &m_singleInstance, &SingleInstance::stopServer);
    wc->window()->show();
    bringToFront();
    // The day's roster is read again as the window opens: the names come onto the headers as soon as it is read.
    RosterSource::shared().restore();
    m_singleInstance.startServer();
    // Cards put in while the window is idle are offered in the window (never imported unasked).
    m_cardOffer = std::make_unique<CardOffer>();
    m_cardOffer->start();
}

void AppDelegate::applicationDidFinishLaunching()
{
    logLine(u"AppDelegate -> applicationDidFinishLaunching...."_s);
    // Said once: the damaged file is out of the way, and the next start finds the new one.
    QString notice = SettingsStore::standard().loadNotice();
    if (!notice.isEmpty() && m_windowController) {
        notice[0] = notice.at(0).toUpper();
        Alert::beginSheet(m_windowController->window(),
                          {Alert::Style::Warning, u"!!! The Settings Were Damaged !!!"_s, notice + u'.', {u"OK"_s}});
    }
}

void AppDelegate::applicationWillTerminate()
{
    logLine(u"AppDelegate -> applicationWillTerminate...."_s);
    m_singleInstance.stopServer();
    SettingsStore::standard().synchronize();
}

// --- single instance ---------------------------------------------------------------------

bool AppDelegate::checkForDuplicateRunningInstances()
{
    return m_singleInstance.anotherCopyRuns(m_pathsToOpen);
}

std::unique_ptr<QLockFile> AppDelegate::takeInstanceLock()
{
    return m_singleInstance.takeLock();
}

void AppDelegate::bringToFront()
{
    if (!m_windowController)
        return;
    MyVimoNSWindow *window = m_windowController->window();
    window->show();
    window->setWindowState((window->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    window->raise();
    window->activateWindow();
}

// --- opening folders ---------------------------------------------------------------------

void AppDelegate::openFiles(const QStringList &paths)
{
    if (paths.isEmpty()) {
        beepTwice();
        return;
    }
    const QString first = paths.first();
    if (!QFileInfo::exists(first)) {
        beepTwice();
        return;
    }
    // A card's root holds no photo itself: they sit in its camera folders, at any depth.
    const QString root = QDir::cleanPath(first);
    QMap<QString, qsizetype> photosByFolder;
    QDirIterator it(first, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (QFileInfo::exists(path) && QFileInfo(path).suffix().compare(u"jpg"_s, Qt::CaseInsensitive) == 0)
            ++photosByFolder[QDir::cleanPath(QFileInfo(path).path())];
    }
    if (photosByFolder.isEmpty()) {
        beepTwice();
        return;
    }
    // The window shows one folder's photos: one that holds none would open empty.
    QString chosen = first;
    if (!photosByFolder.contains(root)) {
        if (photosByFolder.size() > 1) {
            offerImport(root, photosByFolder);
            return;
        }
        chosen = photosByFolder.firstKey();
        logLine(u"AppDelegate -> openFiles.... the photos of "_s + first + u" are all in "_s + chosen);
    }
    if (const std::optional<QString> refusal = FolderSettings::refusal(FolderSettings::Folder::Working, chosen)) {
        logLine(u"AppDelegate -> openFiles.... refused: "_s + *refusal);
        Alert::beginSheet(m_windowController ? m_windowController->window() : nullptr,
                          {Alert::Style::Warning,
                           u"This Folder Cannot Be Opened"_s,
                           *refusal + u"\n\nThe working folder was left as it was."_s,
                           {u"OK"_s}});
        return;
    }
    FolderSettings::store(FolderSettings::Folder::Working, chosen);
    // A running window shows it at once, as if the operator had chosen it.
    if (m_windowController)
        openFolderInBrowser(chosen);
}

void AppDelegate::offerImport(const QString &folder, const QMap<QString, qsizetype> &photosByFolder)
{
    QString where;
    for (auto it = photosByFolder.cbegin(); it != photosByFolder.cend(); ++it)
        where += u"\n"_s + NativePath::forDisplay(it.key()) + u" ("_s
            + Plural::count(it.value(), u"photo"_s, u"photos"_s) + u')';
    logLine(u"AppDelegate -> openFiles.... the photos of "_s + folder
            + u" are in several folders; offering to import"_s);
    // Asked once the window is there: at start-up the folder is opened before it is made.
    Dispatch::onMain(this, [this, folder, where] {
        Alert::beginSheet(m_windowController ? m_windowController->window() : nullptr,
                          {Alert::Style::Warning,
                           u"The Photos Are in Several Folders"_s,
                           NativePath::forDisplay(folder) + u" holds no photos itself; they are in:"_s + where
                               + u"\n\nImport them all into the working folder, as from a camera card?"_s,
                           {u"Cancel"_s, u"Import Card"_s}},
                          [this, folder](int response) {
                              if (response == Alert::cSecondButtonReturn && m_windowController)
                                  m_windowController->contentViewController()->performSegue(
                                      u"dummyButtonSegue3"_s, {{u"offeredCard"_s, folder}});
                          });
    });
}

void AppDelegate::openFolderInBrowser(const QString &folder)
{
    m_windowController->contentViewController()->browseFolder(folder);
    bringToFront();
}

// --- folder checks -----------------------------------------------------------------------------

QVariantMap AppDelegate::destinationRequest()
{
    return {{cKeyForPath, cPrefDestinationPath},
            {cKeyForValid, cPrefDestinationPathIsValid},
            {cKeyForAlias, cPrefDestinationPathAliasData}};
}

QVariantMap AppDelegate::sourceRequest()
{
    return {{cKeyForPath, cPrefSourcePath},
            {cKeyForValid, cPrefSourcePathIsValid},
            {cKeyForAlias, cPrefSourcePathAliasData}};
}

void AppDelegate::checkStartUpStuff()
{
    Dispatch::inBackground([] {
        validateFolderPath(destinationRequest());
        validateFolderPath(sourceRequest());
    });
}

void AppDelegate::validateFolderPath(const QVariantMap &request)
{
    SettingsStore &store = SettingsStore::standard();
    const QString pathKey = request.value(cKeyForPath).toString();
    const QString validKey = request.value(cKeyForValid).toString();
    const QString aliasKey = request.value(cKeyForAlias).toString();
    store.setBool(false, validKey);
    const std::optional<QByteArray> alias = store.dataForKey(aliasKey);
    if (!alias) {
        const std::optional<QString> path = store.stringForKey(pathKey);
        if (path && QFileInfo::exists(*path)) {
            MyAliasKit::savePath(*path, aliasKey);
            store.setBool(true, validKey);
        }
        return;
    }
    QString resolved;
    if (MyAliasKit::resolveAliasFromData(*alias, &resolved)) {
        logLine(u"Great didResolve = yes"_s);
        // A folder opened meanwhile has stored a new reference: its path stands.
        if (store.dataForKey(aliasKey) != alias)
            return;
        store.setBool(true, validKey);
        if (!resolved.isEmpty())
            store.setString(resolved, pathKey);
        return;
    }
    logLine(u"BOOOOO didresolve = NO"_s);
    Dispatch::onMain([] {
        Alert::beginSheet(nullptr,
                          {Alert::Style::Warning,
                           u"!!! Unable to Mount/Locate Destination Path !!!"_s,
                           u"\nUnable to find path:\n???????? \n\n"_s,
                           {u"OK"_s}});
    });
}

// --- commands -------------------------------------------------------------------------------------

void AppDelegate::doLoadNewCard()
{
    NotificationCenter::defaultCenter().post(NotificationNames::myloadnewcard,
                                             {{NotificationKeys::command, NotificationValues::loadnewcard}});
}

void AppDelegate::doOpenPref()
{
    NotificationCenter::defaultCenter().post(NotificationNames::myOpenPrefId,
                                             {{NotificationKeys::command, NotificationValues::openpref}});
}

void AppDelegate::doSelectAll()
{
    NotificationCenter::defaultCenter().post(NotificationNames::mySelectAll,
                                             {{NotificationKeys::command, NotificationValues::selectall}});
}

void AppDelegate::ibQuitCommand()
{
    if (m_windowController)
        m_windowController->quit(); // ends every sheet first
    else
        QApplication::quit();
}

void AppDelegate::quitButtonAction()
{
    ibQuitCommand();
}

QString AppDelegate::getTemporaryDirectoryForThisApp()
{
    return AppPaths::temporaryDirectoryForThisApp();
}

std::optional<QString> AppDelegate::getMainstayObjectForKey(const std::optional<QString> &key)
{
    return CompanionSettings::objectForKey(key);
}

std::optional<QString> AppDelegate::getMainstaySavePath()
{
    return CompanionSettings::savePath();
}
