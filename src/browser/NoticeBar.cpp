#include "NoticeBar.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

using namespace Qt::StringLiterals;

NoticeBar::NoticeBar(QWidget *parent)
    : QFrame(parent)
    , textLabel(new QLabel(this))
    , actionButton(new QPushButton(this))
    , dismissButton(new QPushButton(u"Dismiss"_s, this))
{
    setObjectName(u"noticeBar"_s);
    setAutoFillBackground(true);
    setFrameShape(QFrame::StyledPanel);
    QPalette shade = palette();
    shade.setColor(QPalette::Window, QColor(255, 244, 200));
    shade.setColor(QPalette::WindowText, Qt::black);
    setPalette(shade);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(12, 6, 12, 6);
    layout->addWidget(textLabel, 1);
    layout->addWidget(actionButton);
    layout->addWidget(dismissButton);
    actionButton->setDefault(false);
    actionButton->setAutoDefault(false);
    dismissButton->setAutoDefault(false);
    connect(actionButton, &QPushButton::clicked, this, [this] {
        const std::function<void()> action = m_action;
        dismiss();
        if (action)
            action();
    });
    connect(dismissButton, &QPushButton::clicked, this, &NoticeBar::dismiss);
    hide();
}

void NoticeBar::offer(const QString &text, const QString &actionText, std::function<void()> action)
{
    textLabel->setText(text);
    actionButton->setText(actionText);
    m_action = std::move(action);
    show();
}

void NoticeBar::dismiss()
{
    m_action = nullptr;
    hide();
}
