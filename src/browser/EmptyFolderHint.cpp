#include "EmptyFolderHint.h"

#include "settings/SettingsKeys.h"
#include "settings/SettingsStore.h"
#include "support/NativePath.h"
#include "support/NotificationCenter.h"
#include "support/NotificationNames.h"

#include <QEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

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

    // The same commands as the menus'.
    connect(loadCardButton, &QPushButton::clicked, this, [] {
        NotificationCenter::defaultCenter().post(NotificationNames::myloadnewcard,
                                                 {{NotificationKeys::command, NotificationValues::loadnewcard}});
    });
    const auto openPreferences = [] {
        NotificationCenter::defaultCenter().post(NotificationNames::myOpenPrefId,
                                                 {{NotificationKeys::command, NotificationValues::openpref}});
    };
    connect(preferencesButton, &QPushButton::clicked, this, openPreferences);
    connect(destinationButton, &QPushButton::clicked, this, openPreferences);
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

void EmptyFolderHint::showOver(QWidget *grid, const QString &folder)
{
    if (m_grid != grid) {
        if (m_grid)
            m_grid->removeEventFilter(this);
        m_grid = grid;
        m_grid->installEventFilter(this);
    }
    setFolder(folder, !folder.isEmpty() && QFileInfo(folder).isDir());
    setDestinationMissing(
        SettingsStore::standard().stringForKey(cPrefDestinationPath).value_or(QString()).trimmed().isEmpty());
    place();
    show();
    raise();
}

bool EmptyFolderHint::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_grid && (event->type() == QEvent::Resize || event->type() == QEvent::Move) && isVisible())
        place();
    return QFrame::eventFilter(watched, event);
}

void EmptyFolderHint::place()
{
    // The grid's own geometry: the hint is its sibling, not its child, so it never scrolls.
    const QRect area = m_grid->geometry();
    const int width = std::min(area.width() - 40, 640);
    const QSize size(width, heightForWidth(width) > 0 ? heightForWidth(width) : sizeHint().height());
    setGeometry(QRect(QPoint(area.center().x() - size.width() / 2, area.top() + 120), size));
}
