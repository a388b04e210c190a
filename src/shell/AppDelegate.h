#pragma once

#include "SingleInstance.h"

#include <QList>
#include <QMap>
#include <QObject>
#include <QStringList>
#include <QVariantMap>
#include <memory>
#include <optional>

class CardOffer;
class QLockFile;
class WindowController;

// The first object of the program: makes sure only one copy runs, sends the log
// into its file, installs the default settings, records the version, imports the
// companion's settings, checks the stored folders in the background, and answers
// the application's commands and the folders it is asked to open.
class AppDelegate : public QObject
{
    Q_OBJECT

public:
    explicit AppDelegate(const QStringList &arguments, QObject *parent = nullptr);
    ~AppDelegate() override;

    // Start-up, in order. False when this copy must end (another one runs, or
    // the program cannot start); exitCode() then says how.
    bool doInitializeStuff();
    int exitCode() const { return m_exitCode; }
    void applicationWillFinishLaunching();
    void applicationDidFinishLaunching();
    void applicationWillTerminate();
    bool applicationShouldTerminateAfterLastWindowClosed() const { return true; }
    // Folders (or files) the program is asked to open: a folder holding a file with
    // the extension "jpg" (any case) becomes the working folder; one holding them only
    // below, in a single folder, gives that folder; in several, the import is offered.
    void openFiles(const QStringList &paths);

    // Single instance: true when another copy already runs (it has been asked to
    // come to the front and open the paths). A copy that is ending is waited for.
    bool checkForDuplicateRunningInstances();
    // The single-instance lock, for the program to give up only when its process ends.
    std::unique_ptr<QLockFile> takeInstanceLock();
    static void doTestStuff(const QStringList &arguments);

    void checkStartUpStuff();
    static void validateFolderPath(const QVariantMap &request);
    static QVariantMap destinationRequest();
    static QVariantMap sourceRequest();
    static QString versionText(const QVariantMap &info);

    // Commands of the menus.
    void doLoadNewCard();
    void doOpenPref();
    void doSelectAll();
    void ibQuitCommand();
    void quitButtonAction();

    // Services other parts use.
    static QString getTemporaryDirectoryForThisApp();
    static std::optional<QString> getMainstayObjectForKey(const std::optional<QString> &key);
    static std::optional<QString> getMainstaySavePath();

    WindowController *windowController() const { return m_windowController.get(); }
    // Where the single-instance lock and socket live (per user).
    static QString instanceLockPath();
    static QString instanceSocketName();

private:
    void bringToFront();
    void openFolderInBrowser(const QString &folder);
    void offerImport(const QString &folder, const QMap<QString, qsizetype> &photosByFolder);

    QStringList m_arguments;
    QStringList m_pathsToOpen;
    SingleInstance m_singleInstance;
    std::unique_ptr<WindowController> m_windowController;
    std::unique_ptr<CardOffer> m_cardOffer;
    int m_exitCode = 0;
};
