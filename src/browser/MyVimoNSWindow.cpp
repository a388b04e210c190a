#include "MyVimoNSWindow.h"

#include "support/SystemLog.h"

#include <QCloseEvent>
#include <QKeyEvent>

using namespace Qt::StringLiterals;

MyVimoNSWindow::MyVimoNSWindow(QWidget *parent)
    : QMainWindow(parent)
{
    setFocusPolicy(Qt::StrongFocus);
}

void MyVimoNSWindow::keyPressEvent(QKeyEvent *event)
{
    logLine(u"MyVimoNSWindow -> keyDown.... key="_s + QString::number(event->key()));
    if (event->key() == Qt::Key_Left && event->modifiers() == Qt::NoModifier)
        Q_EMIT moveLeftReached();
    QMainWindow::keyPressEvent(event);
}

void MyVimoNSWindow::closeEvent(QCloseEvent *event)
{
    if (m_closeGuard && !m_closeGuard()) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
    if (event->isAccepted())
        Q_EMIT closing();
}
