#include "shell/AppDelegate.h"
#include "shell/BundleInfo.h"
#include "support/SystemLog.h"

#include <QApplication>
#include <QIcon>

using namespace Qt::StringLiterals;

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(BundleInfo::bundleName());
    QApplication::setApplicationDisplayName(BundleInfo::value(u"CFBundleDisplayName"_s));
    QApplication::setApplicationVersion(BundleInfo::value(u"CFBundleShortVersionString"_s));
    QApplication::setOrganizationDomain(u"lumisort.org"_s);
    // The desktop entry is installed under the bundle identifier: the desktop finds the
    // window's entry and icon by this name (the Wayland app id).
    QApplication::setDesktopFileName(BundleInfo::bundleIdentifier());
    QApplication::setWindowIcon(QIcon(u":/icons/lumisort.png"_s));
    SystemLog::installQtMessageHandler();

    AppDelegate delegate(QApplication::arguments());
    if (!delegate.doInitializeStuff())
        return delegate.exitCode();
    delegate.applicationWillFinishLaunching();
    delegate.applicationDidFinishLaunching();
    return QApplication::exec();
}
