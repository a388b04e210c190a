#include "CardOffer.h"

#include "CameraCardRules.h"
#include "CardCopyRun.h"
#include "MountWatcher.h"
#include "settings/SettingsKeys.h"
#include "settings/SettingsStore.h"
#include "support/Dispatch.h"
#include "support/NotificationCenter.h"
#include "support/NotificationNames.h"
#include "support/PathUtils.h"
#include "support/SystemLog.h"

#include <QFileInfo>

using namespace Qt::StringLiterals;

CardOffer::CardOffer(QObject *parent)
    : QObject(parent)
    , m_watcher(new MountWatcher(this))
{
    connect(m_watcher, &MountWatcher::mounted, this, &CardOffer::mounted);
    connect(m_watcher, &MountWatcher::unmounted, this, [](const QString &path) {
        NotificationCenter::defaultCenter().post(NotificationNames::mycardwithdrawn,
                                                 {{NotificationKeys::NSDevicePath, path}});
    });
}

CardOffer::~CardOffer() = default;

void CardOffer::tellKeptStaging()
{
    const QString working = SettingsStore::standard().stringForKey(cPrefSourcePath).value_or(QString());
    const QStringList kept =
        working.isEmpty() ? QStringList() : CardCopyRun::keptStagingFolders(PathUtils::expandTilde(working));
    NotificationCenter::defaultCenter().post(NotificationNames::mykeptstaging, {{NotificationKeys::folders, kept}});
}

bool CardOffer::start()
{
    NotificationCenter::defaultCenter().addObserver(this, NotificationNames::myRefreshId,
                                                    [](const Notification &) { tellKeptStaging(); });
    Dispatch::onMain(this, [] { tellKeptStaging(); });
    if (m_watcher->start())
        return true;
    logLine(u"CardOffer.... the mount table cannot be watched; cards are not offered"_s);
    return false;
}

bool CardOffer::isCameraCard(const QString &mountPath)
{
    if (CameraCardRules::isRecoveryVolume(mountPath))
        return false;
    const QString names = SettingsStore::standard().stringForKey(cPrefCameraCardFolderNames).value_or(QString());
    return CameraCardRules::cameraFolderAtMount(mountPath, names).has_value();
}

void CardOffer::mounted(const QString &mountPath)
{
    // Looking into a card that is still settling may take a moment: not on the window's thread.
    Dispatch::inBackground([mountPath] {
        if (!isCameraCard(mountPath)) {
            logLine(u"CardOffer.... "_s + mountPath + u" is no camera card"_s);
            return;
        }
        logLine(u"CardOffer.... camera card at "_s + mountPath);
        NotificationCenter::defaultCenter().post(NotificationNames::mycardoffered,
                                                 {{NotificationKeys::NSDevicePath, mountPath},
                                                  {NotificationKeys::volumename, QFileInfo(mountPath).fileName()}});
    });
}
