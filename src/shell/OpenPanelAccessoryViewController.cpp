#include "OpenPanelAccessoryViewController.h"

#include "settings/SettingsKeys.h"
#include "settings/SettingsStore.h"
#include "support/FolderPanel.h"
#include "support/PathUtils.h"

#include <QEventLoop>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>
#include <memory>

using namespace Qt::StringLiterals;

OpenPanelAccessoryViewController::OpenPanelAccessoryViewController(QWidget *parent)
    : QWidget(parent)
    , ibProgressIndicator(new QProgressBar(this))
    , ibStatusField(new QLabel(this))
{
    ibProgressIndicator->setTextVisible(false);
    ibStatusField->setText(fStatusString);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(ibStatusField);
    layout->addWidget(ibProgressIndicator);

    SettingsStore::standard().setString(fStatusString, cPrefAccessoryString1);
    startProgressIndicator();
}

void OpenPanelAccessoryViewController::startProgressIndicator()
{
    if (ibProgressIndicator)
        ibProgressIndicator->setRange(0, 0);
}

void OpenPanelAccessoryViewController::stopProgressIndicator()
{
    if (!ibProgressIndicator)
        return;
    ibProgressIndicator->setRange(0, 1);
    ibProgressIndicator->setValue(1);
}

std::optional<QString> OpenPanelAccessoryViewController::selectFolderUrl()
{
    FolderPanel::Options options;
    options.title = u"Select a Folder"_s;
    options.canCreateDirectories = true;
    options.startFolder =
        PathUtils::expandTilde(SettingsStore::standard().stringForKey(cPrefSourcePath).value_or(QString()));
    // Through the shared panel (without a window it is application-modal) so tests can answer it.
    auto answer = std::make_shared<std::optional<QString>>();
    auto answered = std::make_shared<bool>(false);
    QEventLoop loop;
    FolderPanel::beginSheet(nullptr, options, [answer, answered, &loop](const std::optional<QString> &path) {
        *answer = path;
        *answered = true;
        loop.quit();
    });
    if (!*answered)
        loop.exec();
    return *answer;
}
