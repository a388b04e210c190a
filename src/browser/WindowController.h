#pragma once

#include <QObject>
#include <QSize>
#include <functional>

class MyVimoNSWindow;
class QAction;
class ViewController;
class RosterCommands;

// Owns the main window and its content, the browser; builds the menus and the
// toolbar, and offers one command of its own: browse another folder until quit.
class WindowController : public QObject
{
    Q_OBJECT

public:
    explicit WindowController(QObject *parent = nullptr);
    ~WindowController() override;

    MyVimoNSWindow *window() const { return m_window; }
    ViewController *contentViewController() const { return m_viewController; }

    QSize windowWillResize(MyVimoNSWindow *window, const QSize &proposed) const;
    void openAnotherFolder(QObject *sender = nullptr);
    void moveLeft(QObject *sender = nullptr);
    // Ends every sheet over the main window, then quits. While a run that moves
    // photos is under way it asks first; confirmed, the window stays (with the
    // run's progress) until every run reaches its safe point, then quits.
    void quit();
    bool isQuitPending() const { return m_quitPending; }

    // What the application-level menu entries do; the application installs its own.
    struct Commands
    {
        std::function<void()> loadNewCard;
        std::function<void()> openPreferences;
        std::function<void()> selectAll;
        std::function<void()> quit;
    };
    void setCommands(const Commands &commands) { m_commands = commands; }

    QAction *openAnotherFolderAction = nullptr;
    QAction *aboutAction = nullptr;
    QAction *showLogAction = nullptr;
    // Version, licence, and where the log and the settings are kept.
    static QString aboutText();
    void showAbout();
    QAction *loadNewCardAction = nullptr;
    QAction *preferencesAction = nullptr;
    QAction *selectAllAction = nullptr;
    QAction *quitAction = nullptr;
    // Gives the folder shown the names its last reassignment changed (a second time,
    // redoes it); asks first, and does nothing while a sheet is open.
    QAction *undoReassignmentAction = nullptr;
    // Picture day: the roster, its dock, its camera cards and its report.
    RosterCommands *rosterCommands = nullptr;
    void undoLastReassignment();

Q_SIGNALS:
    // Right before the application is told to quit.
    void quitting();

private:
    void windowDidLoad();
    void quitWhenRunsAreSafe();
    void quitNow();
    void buildMenusAndToolbar();

    Commands m_commands;
    bool m_quitPending = false;
    bool m_askingToQuit = false;
    MyVimoNSWindow *m_window = nullptr;
    ViewController *m_viewController = nullptr;
};
