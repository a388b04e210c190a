#include "TestMain.h"
#include "settings/BundleInfo.h"
#include "settings/CompanionSettings.h"
#include "settings/LogPaths.h"
#include "settings/MyAliasKit.h"
#include "settings/SettingsKeys.h"
#include "settings/SettingsStore.h"
#include "shell/AppDelegate.h"
#include "support/Alert.h"
#include "support/PlistCodec.h"
#include "support/TALVIK_Log.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>
#include <QLockFile>
#include <QProcess>
#include <QStandardPaths>
#include <csignal>
#include <unistd.h>

using namespace Qt::StringLiterals;

class TestAppDelegate : public QObject
{
    Q_OBJECT

    int m_savedStderr = -1;
    SettingsStore &store = SettingsStore::standard();

    // The program, under the given command (strace ... --) when there is one.
    static std::unique_ptr<QProcess> startApp(const QStringList &args, const QStringList &under = {})
    {
        auto p = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
        env.insert(u"LUMISORT_ALERTS_ANSWER_FIRST"_s, u"1"_s);
        p->setProcessEnvironment(env);
        const QString app = qEnvironmentVariable("LUMISORT_APP");
        under.isEmpty() ? p->start(app, args) : p->start(under.first(), under.mid(1) + QStringList {app} + args);
        p->waitForStarted();
        return p;
    }
    static bool endsWhenAsked(QProcess &p) { return p.terminate(), p.waitForFinished(10000); }
    static qint64 lockHolder()
    {
        qint64 pid = 0;
        return QLockFile(AppDelegate::instanceLockPath()).getLockInfo(&pid, nullptr, nullptr) ? pid : 0;
    }
    static bool serverUp()
    {
        QLocalSocket s;
        s.connectToServer(AppDelegate::instanceSocketName());
        return s.waitForConnected(200);
    }
    static QString savedSourcePath()
    {
        return SettingsStore(SettingsStore::standardFilePath()).stringForKey(cPrefSourcePath).value_or(QString());
    }
    static QString folder(const QString &name) { return TestSandbox::instance().makeFolder(name); }

private Q_SLOTS:
    void initTestCase()
    {
        // Start-up sends standard error into the log file: keep the test's own.
        m_savedStderr = ::dup(STDERR_FILENO);
        Alert::setTestMode(true);
    }
    void cleanupTestCase() { ::dup2(m_savedStderr, STDERR_FILENO); }
    void init()
    {
        TALVIK_Log::resetForTesting();
        ::dup2(m_savedStderr, STDERR_FILENO);
        Alert::resetForTesting();
        BundleInfo::resetInfoDictionaryForTesting();
        QFile::remove(CompanionSettings::preferencesFilePath());
        for (const QString &key : store.storedValues().keys())
            store.removeObjectForKey(key);
    }

    void startUpOnAFreshHome()
    {
        const QString home = TestSandbox::instance().home();
        const QString dirs = TestSandbox::instance().configHome() + u"/user-dirs.dirs"_s;
        // The desktop names its pictures folder in the user's language.
        QVERIFY(writeFile(dirs, "XDG_PICTURES_DIR=\"$HOME/Bilder\"\n"));
        // An earlier version's log and a journal of long ago, where it kept them.
        const QString former = LogPaths::formerLogFolder();
        const QString journal = former + u"/reassign-journal/20200101-120000-000-42-barcode.json"_s;
        QVERIFY(writeFile(former + u"/Lumisort.log"_s, "an earlier version's line\n")
                && writeFile(journal, R"({"time": "2020-01-01T12:00:00.000", "entries": []})"));
        QCOMPARE(QProcess::execute(u"touch"_s, {u"-d"_s, u"2020-01-01 12:00"_s, journal}), 0);
        AppDelegate delegate({u"lumisort"_s, u"--verbose"_s});
        QVERIFY(delegate.doInitializeStuff());
        // The log goes on from the earlier one, the move recorded in it; the old journal is gone.
        const QByteArray log = readFile(LogPaths::logFile());
        QVERIFY(log.startsWith("an earlier version's line\n") && log.contains("2 files moved"));
        QVERIFY(!QFileInfo::exists(home + u"/Library"_s));
        QVERIFY(QDir(LogPaths::journalFolder()).isEmpty());
        // A first start gets a working folder of its own there, made and remembered.
        QCOMPARE(store.stringForKey(cPrefSourcePath).value_or(QString()), home + u"/Bilder/Lumisort"_s);
        QVERIFY(QFileInfo(home + u"/Bilder/Lumisort"_s).isDir() && store.boolForKey(cPrefSourcePathIsValid));
        QFile::remove(dirs);
        QCOMPARE(*store.stringForKey(cPrefCameraCardFolderNames), u"DCIM,PRIVATE"_s); // factory defaults
        QVERIFY(!store.boolForKey(cPrefIsStandAloneApp) && !store.storedValues().contains(cPrefMainstayDisableScan));
        QVERIFY(QFileInfo(AppDelegate::getTemporaryDirectoryForThisApp()).isDir());
        // The log now has its file, with the arguments in it.
        QTRY_VERIFY(readFile(LogPaths::logFile()).contains("argument[1] = --verbose"));
    }

    void companionSettings_data()
    {
        QTest::addColumn<QString>("executable"); // its name tells the standalone build; empty: no name given
        QTest::addColumn<QVariantMap>("node"); // empty: a file without the "Mainstay/" node
        QTest::addColumn<bool>("binary");
        QTest::addColumn<bool>("standalone");
        QTest::addColumn<QVariant>("reverse"); // expected prefReverseAssignBarcode (invalid: untouched)
        QTest::addColumn<bool>("disableScanStored");
        const QVariantMap reverse {{u"reversescan"_s, u"TRUE"_s}};
        const QString companion = u"lumisort"_s;
        QTest::newRow("no node") << companion << QVariantMap() << false << false << QVariant() << false;
        QTest::newRow("TRUE") << companion << QVariantMap {{u"reversescan"_s, u"TRUE"_s}, {u"disablescan"_s, u"true"_s}}
                              << false << false << QVariant(true) << true;
        QTest::newRow("yes is not true, binary file")
            << companion << QVariantMap {{u"reversescan"_s, u"yes"_s}} << true << false << QVariant(false) << false;
        QTest::newRow("standalone build reads nothing")
            << u"VimoSorter"_s << reverse << false << true << QVariant() << false;
        QTest::newRow("vimo, standalone") << u"vimo"_s << reverse << false << true << QVariant() << false;
        for (const QString &name : {u"Sorter"_s, u"MyVimo"_s, QString()})
            QTest::addRow("%s, a companion build", qPrintable(name))
                << name << reverse << false << false << QVariant(true) << false;
    }
    void companionSettings()
    {
        QFETCH(QString, executable);
        QFETCH(QVariantMap, node);
        QFETCH(bool, binary);
        QFETCH(bool, standalone);
        QFETCH(QVariant, reverse);
        QFETCH(bool, disableScanStored);
        QVariantMap info = BundleInfo::infoDictionary();
        info.insert(u"CFBundleExecutable"_s, executable);
        if (executable.isEmpty())
            info.remove(u"CFBundleExecutable"_s);
        BundleInfo::setInfoDictionaryForTesting(info);
        const QString work = folder(u"companion-work"_s);
        const bool hasNode = !node.isEmpty();
        node.insert(u"savepath"_s, work);
        const QVariantMap root {
            {u"/"_s,
             QVariantMap {hasNode ? std::pair {u"Mainstay/"_s, node} : std::pair {u"Other/"_s, QVariantMap()}}}};
        writeFile(CompanionSettings::preferencesFilePath(),
                  binary ? PlistCodec::toBinary(root) : PlistCodec::toXml(root));
        store.setBool(true, cPrefAlwaysUseMainstayAsSourcePath);
        store.setString(u"/before"_s, cPrefReverseAssignBarcode); // a marker: untouched stays "/before"

        AppDelegate delegate({u"lumisort"_s});
        QVERIFY(delegate.doInitializeStuff());
        QCOMPARE(store.boolForKey(cPrefIsStandAloneApp), standalone);
        QCOMPARE(store.objectForKey(cPrefReverseAssignBarcode), reverse.isValid() ? reverse : QVariant(u"/before"_s));
        if (reverse.isValid())
            QCOMPARE(store.objectForKey(cPrefMainstayReverseScan), reverse);
        QCOMPARE(store.storedValues().contains(cPrefMainstayDisableScan), disableScanStored);
        // The save path is taken whenever asked for, standalone or not, as long as the node exists;
        // without the companion's folder a first start still gets one of its own.
        QCOMPARE(*store.stringForKey(cPrefSourcePath),
                 hasNode ? work : TestSandbox::instance().home() + u"/Pictures/Lumisort"_s);
        QVERIFY(!hasNode || store.boolForKey(cPrefSourcePathIsValid));
        if (!hasNode) {
            QTRY_COMPARE(Alert::shownForTesting().size(), 1);
            QCOMPARE(Alert::shownForTesting().first().messageText,
                     u"!!! Unable to Get Source Path From Mainstay !!!"_s);
        }
    }

    void openingRule_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("opened"); // the working folder it gives, below the dropped one; empty: none
        QTest::newRow(".JPEG only") << QStringList {u"a/IMG_0001.JPEG"_s} << QString();
        QTest::newRow("lower-case .jpg") << QStringList {u"x.jpg"_s} << u"."_s;
        QTest::newRow("a card's root: its one camera folder")
            << QStringList {u"DCIM/100CANON/IMG_0001.JPG"_s, u"DCIM/100CANON/IMG_0002.JPG"_s, u"MISC/x.txt"_s}
            << u"DCIM/100CANON"_s;
        QTest::newRow("two camera folders: the import is offered")
            << QStringList {u"DCIM/100CANON/IMG_0001.JPG"_s, u"DCIM/101CANON/IMG_0002.JPG"_s} << QString();
    }
    void openingRule()
    {
        QFETCH(QStringList, files);
        QFETCH(QString, opened);
        const QString dropped = folder(u"dropped"_s);
        for (const QString &file : std::as_const(files))
            QVERIFY(writeFile(dropped + u'/' + file, "x"));
        store.setString(u"/previous"_s, cPrefSourcePath);
        AppDelegate delegate({u"lumisort"_s});
        delegate.openFiles({dropped});
        QCOMPARE(*store.stringForKey(cPrefSourcePath),
                 opened.isEmpty() ? u"/previous"_s : QDir::cleanPath(dropped + u'/' + opened));
        const bool photos = files.constFirst().endsWith(u".JPG"_s, Qt::CaseInsensitive);
        QCOMPARE(Alert::beepsForTesting(), photos ? 0 : 2);
        // Photos in several folders are named with the offer to import them, never opened as an empty folder.
        QTRY_COMPARE(Alert::shownForTesting().size(), photos && opened.isEmpty() ? 1 : 0);
        if (photos && opened.isEmpty())
            QVERIFY(Alert::shownForTesting().constFirst().informativeText.contains(u"/DCIM/101CANON (1 photo)"_s));
    }

    void startUpCheckKeepsTheFolder_data()
    {
        QTest::addColumn<bool>("destination");
        QTest::addColumn<QString>("route"); // how the folder checked was set after the one chosen before
        QTest::newRow("destination as chosen") << true << QString();
        // "lumisort DIR" at start-up: the check that follows must not bring back the old working folder.
        QTest::newRow("working folder opened") << false << u"opened"_s;
        // Chosen in the preferences, then changed with the command-line tool: the next start keeps the new one.
        QTest::newRow("destination set from the command line") << true << u"command line"_s;
    }
    void startUpCheckKeepsTheFolder()
    {
        QFETCH(bool, destination);
        QFETCH(QString, route);
        const QString pathKey = destination ? cPrefDestinationPath : cPrefSourcePath;
        const QString validKey = destination ? cPrefDestinationPathIsValid : cPrefSourcePathIsValid;
        const QVariantMap request = destination ? AppDelegate::destinationRequest() : AppDelegate::sourceRequest();
        const QString chosen = folder(u"chosen"_s), next = folder(u"next"_s);
        store.setString(chosen, pathKey);
        MyAliasKit::savePath(chosen, destination ? cPrefDestinationPathAliasData : cPrefSourcePathAliasData);
        QString expected = route.isEmpty() ? chosen : next;
        if (route == u"opened"_s) {
            QVERIFY(writeFile(next + u"/IMG_0001.JPG"_s, "x"));
            AppDelegate({u"lumisort"_s}).openFiles({next});
        } else if (!route.isEmpty()) {
            QVERIFY(store.synchronize());
            QCOMPARE(runCli({u"settings"_s, u"set"_s, pathKey, next}).status, 0);
            // The next start reads what the tool wrote.
            const QVariantMap written = SettingsStore(SettingsStore::standardFilePath()).storedValues();
            for (auto it = written.cbegin(); it != written.cend(); ++it)
                store.setObject(it.value(), it.key());
        }
        AppDelegate::validateFolderPath(request);
        QCOMPARE(*store.stringForKey(pathKey), expected);
        QVERIFY(store.boolForKey(validKey));
        if (route == u"command line"_s) { // and the photos are filed there
            QVERIFY(store.synchronize());
            const QString work = folder(u"work"_s);
            QVERIFY(writeFile(work + u"/2000000000015_IMG_0001.JPG"_s, "photo"));
            QCOMPARE(runCli({u"--set"_s, u"prefDailyFolderDateFormat='day'"_s, u"file"_s, work}).status, 0);
            QVERIFY(QFile::exists(next + u"/day/2000000000015_IMG_0001.JPG"_s));
            QVERIFY(QDir(chosen).isEmpty());
        }
        // Renamed while the program was closed: followed.
        QVERIFY(QDir().rename(expected, expected + u"-renamed"_s));
        expected += u"-renamed"_s;
        AppDelegate::validateFolderPath(request);
        QCOMPARE(*store.stringForKey(pathKey), expected);
        QVERIFY(store.boolForKey(validKey));
        // Gone: told, and left as stored.
        QVERIFY(QDir(expected).removeRecursively());
        AppDelegate::validateFolderPath(request);
        QVERIFY(!store.boolForKey(validKey));
        QTRY_COMPARE(Alert::shownForTesting().size(), 1);
        QCOMPARE(Alert::shownForTesting().first().messageText, u"!!! Unable to Mount/Locate Destination Path !!!"_s);
        QCOMPARE(*store.stringForKey(pathKey), expected);
    }

    // A copy killed outright leaves a stale lock that does not block the next one; a
    // second copy then hands its folder to the running one and ends.
    void singleInstance()
    {
        // This process's own pending saves (the keys earlier tests changed) must land
        // before the program writes the file, or a late one would undo its change.
        store.synchronize();
        const auto crashed = startApp({});
        QTRY_VERIFY_WITH_TIMEOUT(serverUp(), 15000);
        ::kill(pid_t(crashed->processId()), SIGKILL);
        QVERIFY(crashed->waitForFinished(5000));
        const auto first = startApp({});
        QTRY_VERIFY_WITH_TIMEOUT(serverUp(), 15000);
        QCOMPARE(first->state(), QProcess::Running);

        const QString forwarded = folder(u"forwarded"_s);
        QVERIFY(writeFile(forwarded + u"/IMG_0001.JPG"_s, "x"));
        const auto second = startApp({forwarded});
        const qint64 secondPid = second->processId();
        QVERIFY(second->waitForFinished(15000));
        QCOMPARE(second->exitCode(), 0);
        const QString said = QString::fromUtf8(second->readAllStandardError());
        QVERIFY2(said.contains(u"ALERT: !!! Another Instance of This App is Already Running !!!"_s)
                     && said.contains(u"This App PID = "_s + QString::number(secondPid))
                     && said.contains(u"Existing Running App PID = "_s + QString::number(first->processId())),
                 qPrintable(said));
        // The running copy came forward and took the folder.
        QTRY_VERIFY_WITH_TIMEOUT(
            readFile(LogPaths::logFile()).contains(QByteArray("another copy asked: open " + forwarded.toUtf8())),
            10000);
        QTRY_COMPARE_WITH_TIMEOUT(savedSourcePath(), forwarded, 10000);
        QVERIFY(endsWhenAsked(*first));
    }

    void damagedSettingsAreToldOnce()
    {
        store.synchronize();
        const QFileInfo settings(SettingsStore::standardFilePath());
        QVERIFY(writeFile(settings.filePath(), "<?xml version=\"1.0\"?><plist><dict><key>prefSou"));
        QFile::remove(LogPaths::logFile());
        for (int start = 0; start < 2; ++start) {
            const auto app = startApp({});
            QTRY_VERIFY_WITH_TIMEOUT(readFile(LogPaths::logFile()).contains("applicationDidFinishLaunching"), 15000);
            QTest::qWait(500); // the new settings file is saved meanwhile
            QVERIFY(endsWhenAsked(*app));
        }
        const QFileInfoList aside = settings.dir().entryInfoList({settings.fileName() + u".damaged-*"_s});
        QCOMPARE(aside.size(), 1);
        const QByteArray log = readFile(LogPaths::logFile());
        QCOMPARE(log.count("ALERT: !!! The Settings Were Damaged !!!"), 1);
        QVERIFY(log.contains(QByteArray(" was damaged and is kept as " + aside.first().absoluteFilePath().toUtf8())));
        QFile::remove(aside.first().absoluteFilePath());
    }

    // Quit, and the copy takes 3 s to end (its folder watch is slow to go, as a thumbnail
    // still being made holds it up); a start meanwhile waits for it, then is the one running.
    void startWhileTheLastCopyIsEndingOpensAWindow()
    {
        const QString strace = QStandardPaths::findExecutable(u"strace"_s);
        if (strace.isEmpty())
            QSKIP("strace is not installed");
        store.setString(folder(u"watched"_s), cPrefSourcePath);
        store.synchronize();
        const auto ending = startApp({},
                                     QStringList {strace}
                                         + u"-f -qq -o /dev/null -e trace=inotify_rm_watch "
                                           "-e inject=inotify_rm_watch:delay_enter=3000000"_s.split(u' '));
        QTRY_VERIFY_WITH_TIMEOUT(serverUp(), 15000);
        const qint64 endingPid = lockHolder();
        QVERIFY(endingPid > 0);
        ::kill(pid_t(endingPid), SIGTERM);
        const QByteArray pid = QByteArray::number(endingPid);
        QTRY_VERIFY(readFile(LogPaths::logFile())
                        .contains(QByteArray("lumisort[" + pid + ':' + pid + "] main -> asked by a signal to quit")));

        const QString next = folder(u"next"_s);
        QVERIFY(writeFile(next + u"/IMG_0002.JPG"_s, "x"));
        const auto starting = startApp({next});
        QVERIFY(ending->waitForFinished(15000));
        QTRY_VERIFY_WITH_TIMEOUT(lockHolder() == starting->processId() && serverUp(), 15000);
        QVERIFY(!starting->readAllStandardError().contains("Another Instance"));
        QTRY_COMPARE(savedSourcePath(), next);
        QVERIFY(endsWhenAsked(*starting));
    }
};

LUMISORT_GUI_TEST_MAIN(TestAppDelegate)
#include "tst_appdelegate.moc"
