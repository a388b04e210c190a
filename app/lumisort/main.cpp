#include "shell/BundleInfo.h"
#include "shell/FactoryDefaults.h"
#include "shell/SettingsKeys.h"
#include "shell/SettingsStore.h"
#include "support/PathUtils.h"
#include "support/SystemLog.h"

#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QVBoxLayout>

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

    QString workingFolder = store.stringForKey(cPrefSourcePath).value_or(QString());
    if (workingFolder.isEmpty())
        workingFolder = store.stringForKey(cPrefSourcePathFactory).value_or(QString());
    workingFolder = PathUtils::expandTilde(workingFolder);

    QMainWindow window;
    window.setWindowTitle(BundleInfo::value(u"CFBundleDisplayName"_s));
    auto *label = new QLabel(u"Working folder: "_s + workingFolder);
    label->setObjectName(u"workingFolderLabel"_s);
    label->setMargin(24);
    window.setCentralWidget(label);
    QMenu *fileMenu = window.menuBar()->addMenu(u"&File"_s);
    fileMenu->addAction(u"&Quit"_s, QKeySequence::Quit, &app, &QApplication::quit);
    window.resize(640, 240);
    window.show();

    const int status = QApplication::exec();
    store.synchronize();
    return status;
}
