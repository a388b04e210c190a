#pragma once

#include <QObject>
#include <QSize>

class MyVimoNSWindow;
class QAction;
class ViewController;

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
    // Ends every sheet over the main window, then quits.
    void quit();

    QAction *openAnotherFolderAction = nullptr;
    QAction *loadNewCardAction = nullptr;
    QAction *preferencesAction = nullptr;
    QAction *selectAllAction = nullptr;
    QAction *quitAction = nullptr;

private:
    void windowDidLoad();
    void buildMenusAndToolbar();

    MyVimoNSWindow *m_window = nullptr;
    ViewController *m_viewController = nullptr;
};
