#include "EmptyFolderHint.h"

#include "support/NativePath.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

EmptyFolderHint::EmptyFolderHint(QWidget *parent)
    : QFrame(parent)
    , titleLabel(new QLabel(this))
    , nextStepLabel(new QLabel(this))
    , loadCardButton(new QPushButton(u"Load New Card…"_s, this))
    , preferencesButton(new QPushButton(u"Preferences…"_s, this))
    , destinationLabel(new QLabel(this))
    , destinationButton(new QPushButton(u"Choose a Destination Folder…"_s, this))
{
    setObjectName(u"emptyFolderHint"_s);
    setAutoFillBackground(true);
    QPalette calm = palette();
    calm.setColor(QPalette::Window, QColor(40, 40, 40));
    calm.setColor(QPalette::WindowText, QColor(235, 235, 235));
    setPalette(calm);
    QFont big = titleLabel->font();
    big.setPointSizeF(big.pointSizeF() * 1.4);
    big.setBold(true);
    titleLabel->setFont(big);
    for (QLabel *label : {titleLabel, nextStepLabel, destinationLabel}) {
        label->setWordWrap(true);
        label->setAlignment(Qt::AlignCenter);
        label->setPalette(calm);
    }
    nextStepLabel->setText(u"Insert a camera card: Lumisort offers to import it.\n"
                           "Or press Load New Card… to copy photos from a card or a folder, "
                           "or choose the working folder in Preferences."_s);
    destinationLabel->setText(u"No destination folder is set: photos cannot be filed until one is chosen."_s);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(32, 28, 32, 28);
    layout->setSpacing(12);
    layout->addWidget(titleLabel);
    layout->addWidget(nextStepLabel);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(loadCardButton);
    buttons->addWidget(preferencesButton);
    buttons->addStretch();
    layout->addLayout(buttons);
    layout->addSpacing(8);
    layout->addWidget(destinationLabel);
    auto *destination = new QHBoxLayout;
    destination->addStretch();
    destination->addWidget(destinationButton);
    destination->addStretch();
    layout->addLayout(destination);

    connect(loadCardButton, &QPushButton::clicked, this, &EmptyFolderHint::loadCardRequested);
    connect(preferencesButton, &QPushButton::clicked, this, &EmptyFolderHint::preferencesRequested);
    connect(destinationButton, &QPushButton::clicked, this, &EmptyFolderHint::preferencesRequested);
    setDestinationMissing(false);
}

void EmptyFolderHint::setFolder(const QString &folder, bool folderExists)
{
    const QString shown = NativePath::forDisplay(folder);
    titleLabel->setText(folderExists ? QString(u"No photos in "_s + shown)
                                     : QString(u"The working folder "_s + shown + u" cannot be found"_s));
}

void EmptyFolderHint::setDestinationMissing(bool missing)
{
    destinationLabel->setVisible(missing);
    destinationButton->setVisible(missing);
}
