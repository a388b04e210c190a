#include "browser/MyVimoNSWindow.h"
#include "browser/WindowController.h"
#include "filing/CopyToMainFolderViewController.h"
#include "reassign/ReassignViewController.h"
#include "shell/BundleInfo.h"
#include "shell/FactoryDefaults.h"
#include "shell/SettingsStore.h"
#include "support/SystemLog.h"

#include <QApplication>

using namespace Qt::StringLiterals;

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(BundleInfo::bundleName());
    QApplication::setApplicationDisplayName(BundleInfo::value(u"CFBundleDisplayName"_s));
    QApplication::setApplicationVersion(BundleInfo::value(u"CFBundleShortVersionString"_s));
    QApplication::setDesktopFileName(u"lumisort"_s);
    SystemLog::installQtMessageHandler();

    SettingsStore &store = SettingsStore::standard();
    FactoryDefaults::registerInto(store);

    ReassignViewController::registerSheets();
    CopyToMainFolderViewController::registerSheet();

    WindowController controller;
    controller.window()->show();
    const int status = QApplication::exec();
    store.synchronize();
    return status;
}
