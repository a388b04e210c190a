#include "TestMain.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

using namespace Qt::StringLiterals;

// The command-line tool as a script would use it: a real process on the
// sandbox's settings file.
class TestSettingsCommand : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void setGetAndTypes();
    void overrideLastsOneRun();
    void badArgumentsExitWithUsage_data();
    void badArgumentsExitWithUsage();
    void deeplyNestedFileIsKeptAside();
    void setReplacesAValueOfAnotherType_data();
    void setReplacesAValueOfAnotherType();

private:
    static QString settingsFile()
    {
        return TestSandbox::instance().configHome() + u"/Lumisort/org.lumisort.Lumisort.plist"_s;
    }
    struct Run
    {
        int status = -1;
        QString out;
        QString err;
    };
    Run cli(const QStringList &args)
    {
        QProcess p;
        p.start(TestSandbox::cliPath(), args);
        p.waitForFinished(30000);
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
                QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
    }
};

void TestSettingsCommand::setGetAndTypes()
{
    QCOMPARE(cli({u"--version"_s}).out.trimmed(), u"lumisort-cli "_s + QStringLiteral(LUMISORT_VERSION));
    QCOMPARE(cli({u"settings"_s, u"set"_s, u"prefSourcePath"_s, u"/srv/work space"_s}).status, 0);
    QCOMPARE(cli({u"settings"_s, u"get"_s, u"prefSourcePath"_s}).out, u"/srv/work space\n"_s);
    // A key with a registered integer default keeps the integer type.
    QCOMPARE(cli({u"settings"_s, u"set"_s, u"prefReassignedBarcodeRequiredLength"_s, u"12"_s}).status, 0);
    const Run list = cli({u"settings"_s, u"list"_s});
    QVERIFY(list.out.contains(u"prefReassignedBarcodeRequiredLength\tint\tstored\t12\n"_s));
    QVERIFY(list.out.contains(u"prefCameraCardFolderNames\tstring\tdefault\t"_s));
    QCOMPARE(cli({u"settings"_s, u"set"_s, u"prefReassignedBarcodeRequiredLength"_s, u"twelve"_s}).status, 2);
    QCOMPARE(cli({u"settings"_s, u"set"_s, u"prefLastUserInfo"_s,
                  u"<plist><dict><key>sectionid</key><string>3</string></dict></plist>"_s, u"--type"_s, u"plist"_s})
                 .status,
             0);
    QCOMPARE(cli({u"settings"_s, u"get"_s, u"prefLastUserInfo"_s}).out, u"{\"sectionid\":\"3\"}\n"_s);
    QCOMPARE(cli({u"settings"_s, u"remove"_s, u"prefSourcePath"_s}).status, 0);
    const Run missing = cli({u"settings"_s, u"get"_s, u"prefSourcePath"_s});
    QCOMPARE(missing.status, 1);
    QVERIFY(missing.err.contains(u"no value"_s));
}

void TestSettingsCommand::overrideLastsOneRun()
{
    const Run overridden = cli({u"--set"_s, u"prefInputFolderSortKeySelectedIndex=0"_s, u"settings"_s, u"get"_s,
                                u"prefInputFolderSortKeySelectedIndex"_s});
    QCOMPARE(overridden.out, u"0\n"_s);
    QCOMPARE(cli({u"settings"_s, u"get"_s, u"prefInputFolderSortKeySelectedIndex"_s}).out, u"1\n"_s);
}

void TestSettingsCommand::badArgumentsExitWithUsage_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::newRow("no verb") << QStringList();
    QTest::newRow("unknown verb") << QStringList {u"frobnicate"_s};
    QTest::newRow("unknown option") << QStringList {u"--colour"_s, u"settings"_s};
    QTest::newRow("--set without value") << QStringList {u"--set"_s, u"prefX"_s, u"settings"_s};
    QTest::newRow("settings get without key") << QStringList {u"settings"_s, u"get"_s};
    QTest::newRow("unknown type") << QStringList {u"settings"_s, u"set"_s, u"k"_s, u"v"_s, u"--type"_s, u"blob"_s};
}

void TestSettingsCommand::badArgumentsExitWithUsage()
{
    QFETCH(QStringList, args);
    const Run run = cli(args);
    QCOMPARE(run.status, 2);
    QVERIFY(run.err.contains(u"usage:"_s));
}

void TestSettingsCommand::deeplyNestedFileIsKeptAside()
{
    const int depth = 50000;
    QVERIFY(writeFile(settingsFile(),
                      "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>k</key>"
                          + QByteArray("<array>").repeated(depth) + QByteArray("</array>").repeated(depth)
                          + "</dict></plist>"));
    const Run run = cli({u"settings"_s, u"get"_s, u"prefCameraCardFolderNames"_s});
    QCOMPARE(run.status, 0);
    QCOMPARE(run.out, u"DCIM,PRIVATE\n"_s);
    QVERIFY(!QFile::exists(settingsFile()));
    const QFileInfoList aside = QDir(QFileInfo(settingsFile()).absolutePath())
                                    .entryInfoList({u"org.lumisort.Lumisort.plist.damaged-*"_s}, QDir::Files);
    QCOMPARE(aside.size(), 1);
    QCOMPARE(aside.first().size(), qint64(depth) * 15 + 75);
    // Told once, in one line naming the file kept aside; the log (the application's) says it too.
    QVERIFY2(run.err.endsWith(aside.first().absoluteFilePath()
                              + u"; the factory settings are in use (the working and destination folders must be "
                                "chosen again)\n"_s)
                 && run.err.count(u'\n') == 1,
             qPrintable(run.err));
    QCOMPARE(cli({u"settings"_s, u"get"_s, u"prefCameraCardFolderNames"_s}).err, QString());
    const QByteArray log = readFile(TestSandbox::instance().home() + u"/.local/state/Lumisort/Lumisort.log"_s);
    QVERIFY(log.contains("lumisort-cli[") && log.contains(aside.first().absoluteFilePath().toUtf8()));
    QFile::remove(aside.first().absoluteFilePath());
}

void TestSettingsCommand::setReplacesAValueOfAnotherType_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("text");
    QTest::newRow("key without a default") << u"prefSourcePath"_s << u"/srv/work"_s;
    QTest::newRow("key with a text default") << u"prefCameraCardFolderNames"_s << u"DCIM"_s;
}

void TestSettingsCommand::setReplacesAValueOfAnotherType()
{
    QFETCH(QString, key);
    QFETCH(QString, text);
    // An integer too large for its type, as a hand edit leaves it.
    QVERIFY(writeFile(settingsFile(),
                      "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>" + key.toUtf8()
                          + "</key><integer>99999999999999999999999</integer></dict></plist>"));
    QCOMPARE(cli({u"settings"_s, u"set"_s, key, text}).status, 0);
    QCOMPARE(cli({u"settings"_s, u"get"_s, key}).out, text + u'\n');
    QVERIFY(cli({u"settings"_s, u"list"_s}).out.contains(key + u"\tstring\tstored\t"_s + text + u'\n'));
}

LUMISORT_CORE_TEST_MAIN(TestSettingsCommand)
#include "tst_settingscommand.moc"
