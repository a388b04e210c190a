#include "settings/BundleInfo.h"
#include "shell/AppDelegate.h"
#include "support/SystemLog.h"

#include <QApplication>
#include <QIcon>
#include <QLockFile>
#include <QSocketNotifier>
#include <csignal>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {
int g_quitSignalPipe[2] = {-1, -1};
// Made before anything else, so it goes last: a copy started while this one writes its
// caches and settings waits until all of it is done.
std::unique_ptr<QLockFile> g_instanceLock;

void onQuitSignal(int)
{
    const char byte = 'q';
    [[maybe_unused]] const ssize_t written = ::write(g_quitSignalPipe[1], &byte, 1);
}

// The session ending (SIGTERM) or Ctrl+C in a terminal quits as the Quit command does:
// runs stop at a safe point and the settings are saved, where the default would end
// the program wherever it is.
void quitOnSignals(AppDelegate &delegate)
{
    if (::pipe2(g_quitSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        logLine(u"main -> cannot watch for SIGTERM: "_s + qt_error_string(errno));
        return;
    }
    auto *notifier = new QSocketNotifier(g_quitSignalPipe[0], QSocketNotifier::Read, &delegate);
    QObject::connect(notifier, &QSocketNotifier::activated, &delegate, [&delegate] {
        char drained[16];
        while (::read(g_quitSignalPipe[0], drained, sizeof drained) > 0) { }
        logLine(u"main -> asked by a signal to quit"_s);
        delegate.ibQuitCommand();
    });
    struct sigaction action = {};
    action.sa_handler = onQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
}
} // namespace

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
    // Before the window, so that a signal is never missed once another copy can see this one.
    quitOnSignals(delegate);
    delegate.applicationWillFinishLaunching();
    delegate.applicationDidFinishLaunching();
    const int status = QApplication::exec();
    g_instanceLock = delegate.takeInstanceLock();
    return status;
}
