#pragma once

#include <QMainWindow>
#include <functional>

// The main window. Takes keyboard focus and hands every key to the standard
// handling; no key has a meaning of its own here.
class MyVimoNSWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MyVimoNSWindow(QWidget *parent = nullptr);
    bool acceptsFirstResponder() const { return true; }
    // Asked before the window closes; false keeps it open.
    void setCloseGuard(std::function<bool()> guard) { m_closeGuard = std::move(guard); }

Q_SIGNALS:
    void closing();
    // A left arrow that nothing inside the window took.
    void moveLeftReached();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    std::function<bool()> m_closeGuard;
};
