#pragma once

#include <QFrame>
#include <functional>

class QLabel;
class QPushButton;

// A bar across the top of the window that offers one thing (import a card just put
// in) and can be dismissed. It never acts by itself: only its button does.
class NoticeBar : public QFrame
{
    Q_OBJECT

public:
    explicit NoticeBar(QWidget *parent = nullptr);

    void offer(const QString &text, const QString &actionText, std::function<void()> action);
    void dismiss();

    QLabel *textLabel = nullptr;
    QPushButton *actionButton = nullptr;
    QPushButton *dismissButton = nullptr;

private:
    std::function<void()> m_action;
};
