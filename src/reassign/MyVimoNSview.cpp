#include "MyVimoNSview.h"

#include "support/SystemLog.h"

#include <QKeyEvent>

using namespace Qt::StringLiterals;

MyVimoNSview::MyVimoNSview(QWidget *parent)
    : QWidget(parent)
{
    setFocusPolicy(Qt::StrongFocus);
}

void MyVimoNSview::keyPressEvent(QKeyEvent *event)
{
    logLine(u"MyVimoNSview -> keyDown.... key="_s + QString::number(event->key()) + u" text=["_s + event->text()
            + u']');
    QWidget::keyPressEvent(event);
}
