#include "HeaderView.h"

#include "support/NotificationCenter.h"
#include "support/NotificationNames.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPaintEvent>
#include <QPainter>
#include <QPushButton>

using namespace Qt::StringLiterals;

const QString HeaderView::cIdentifier = u"HeaderView"_s;

HeaderView::HeaderView(QWidget *parent)
    : QWidget(parent)
    , sectionTitle(new QLabel(this))
    , imageCount(new QLabel(this))
    , subjectLabel(new QLabel(this))
    , ibButton(new QPushButton(u"Reassign Marked Photos…"_s, this))
    , applyButton(new QPushButton(u"Apply Barcodes…"_s, this))
{
    // Nothing behind it is drawn first: it covers all of its rectangle itself.
    setAttribute(Qt::WA_OpaquePaintEvent);
    applyButton->setObjectName(u"applyButton"_s);
    applyButton->setFocusPolicy(Qt::NoFocus);
    applyButton->setToolTip(u"Reassign the folder's photos by the barcodes read in them, after checking each one"_s);
    sectionTitle->setObjectName(u"sectionTitle"_s);
    imageCount->setObjectName(u"imageCount"_s);
    subjectLabel->setObjectName(u"subjectLabel"_s);
    subjectLabel->setTextFormat(Qt::PlainText);
    ibButton->setObjectName(u"ibButton"_s);
    QFont bold = sectionTitle->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.15);
    sectionTitle->setFont(bold);
    ibButton->setFocusPolicy(Qt::NoFocus);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(12, 4, 12, 4);
    layout->addWidget(sectionTitle);
    layout->addSpacing(12);
    // The name gives way first in a narrow window: the barcode and the count must stay readable.
    subjectLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    layout->addWidget(subjectLabel, 1);
    layout->addSpacing(16);
    layout->addWidget(imageCount);
    layout->addWidget(applyButton);
    layout->addWidget(ibButton);
    connect(ibButton, &QPushButton::clicked, this, &HeaderView::doButton);
    connect(applyButton, &QPushButton::clicked, this, &HeaderView::doApplyButton);
}

void HeaderView::paintEvent(QPaintEvent *event)
{
    // The grey that white at 0.8 and opacity 0.8 makes over the black grid, but opaque:
    // pinned at the top, the photos and names scrolling under it must not show through.
    QPainter painter(this);
    painter.fillRect(event->rect(), QColor::fromRgbF(0.64f, 0.64f, 0.64f));
}

void HeaderView::doButton()
{
    NotificationCenter::defaultCenter().post(NotificationNames::myCustomId0,
                                             {{NotificationKeys::title, sectionTitle->text()},
                                              {NotificationKeys::sectionid, QString::number(sectionid)},
                                              {NotificationKeys::command, NotificationValues::dosomething}});
}

void HeaderView::doApplyButton()
{
    NotificationCenter::defaultCenter().post(NotificationNames::myApplyBarcodesId,
                                             {{NotificationKeys::command, NotificationValues::dosomething}});
}

void HeaderView::showSubject(const QString &text, bool unlisted)
{
    subjectLabel->setText(unlisted ? u"⚠ "_s + text : text);
    // A code the roster lacks is most likely a misread: it must stand out from a name, in words
    // and not only in colour.
    QFont font = subjectLabel->font();
    font.setItalic(unlisted);
    font.setBold(!unlisted);
    subjectLabel->setFont(font);
    subjectLabel->setStyleSheet(unlisted ? u"color: #8a1c00"_s : QString());
}
