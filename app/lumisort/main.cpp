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
    QApplication::setDesktopFileName(u"lumisort"_s);
    QApplication::setWindowIcon(QIcon(u":/icons/lumisort.png"_s));
    SystemLog::installQtMessageHandler();

    AppDelegate delegate(QApplication::arguments());
    if (!delegate.doInitializeStuff())
        return delegate.exitCode();
    delegate.applicationWillFinishLaunching();
    delegate.applicationDidFinishLaunching();
    return QApplication::exec();
}
