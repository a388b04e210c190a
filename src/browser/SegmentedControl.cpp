#include "SegmentedControl.h"

#include <QHBoxLayout>
#include <QToolButton>

SegmentedControl::SegmentedControl(const QStringList &labels, QWidget *parent)
    : QWidget(parent)
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    for (int i = 0; i < labels.size(); ++i) {
        auto *button = new QToolButton(this);
        button->setText(labels.at(i));
        button->setAutoRaise(false);
        layout->addWidget(button);
        connect(button, &QToolButton::clicked, this, [this, i] { activate(i); });
    }
}

void SegmentedControl::activate(int segment)
{
    m_selected = segment;
    Q_EMIT activated(segment);
}
