#include "ScopedMount.h"
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
    void deeplyNestedFileIsKeptAside()
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
    void setReplacesAValueOfAnotherType_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("text");
        QTest::newRow("key without a default") << u"prefSourcePath"_s << u"/srv/work"_s;
        QTest::newRow("key with a text default") << u"prefCameraCardFolderNames"_s << u"DCIM"_s;
    }
    void setReplacesAValueOfAnotherType()
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
    void foldersWherePhotosAreLost_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>(
            "folder"); // {data}, {home}, {card}, {disk} and {link} (to the card) stand for folders
        QTest::addColumn<QString>("reason"); // empty: taken
        const QString work = u"prefSourcePath"_s, dest = u"prefDestinationPath"_s;
        QTest::newRow("home trash") << work << u"{data}/Trash/files"_s << u"in the trash"_s;
        QTest::newRow("volume trash of the user") << work << u"{disk}/.Trash-0/files"_s << u"in the trash"_s;
        QTest::newRow("volume trash shared") << dest << u"{disk}/.Trash/0/files/day"_s << u"in the trash"_s;
        QTest::newRow("home folder itself") << dest << u"{home}"_s << u"home folder itself"_s;
        QTest::newRow("root folder") << work << u"/"_s << u"root folder"_s;
        QTest::newRow("camera card") << dest << u"{card}"_s << u"camera card"_s;
        QTest::newRow("folder to be made on the card") << dest << u"{card}/DCIM/sorted"_s << u"camera card"_s;
        QTest::newRow("link to the card") << dest << u"{link}"_s << u"camera card"_s;
        QTest::newRow("disk without a camera folder") << dest << u"{disk}/sorted"_s << QString();
        QTest::newRow("working folder in a card's folder") << work << u"{card}/DCIM/100CANON"_s << QString();
    }
    // Every route that sets a folder judges it by the same rule, and a folder taken is stored with its reference.
    void foldersWherePhotosAreLost()
    {
        QFETCH(QString, key);
        QFETCH(QString, folder);
        QFETCH(QString, reason);
        TestSandbox &sandbox = TestSandbox::instance();
        const QString media = sandbox.makeFolder(u"media"_s);
        ScopedMount card = ScopedMount::tmpfs(media + u"/EOS_DIGITAL"_s);
        SKIP_UNLESS_MOUNTED(card);
        ScopedMount disk = ScopedMount::tmpfs(media + u"/BACKUP"_s);
        SKIP_UNLESS_MOUNTED(disk);
        QVERIFY(QDir().mkpath(card.folder() + u"/DCIM/100CANON"_s));
        QFile::remove(sandbox.root() + u"/link"_s);
        QVERIFY(QFile::link(card.folder(), sandbox.root() + u"/link"_s));
        folder.replace(u"{data}"_s, sandbox.dataHome())
            .replace(u"{home}"_s, sandbox.home())
            .replace(u"{card}"_s, card.folder())
            .replace(u"{disk}"_s, disk.folder())
            .replace(u"{link}"_s, sandbox.root() + u"/link"_s);
        QVERIFY(QDir().mkpath(sandbox.dataHome() + u"/Trash/files"_s));
        const QString before = sandbox.makeFolder(u"chosen before"_s);
        QCOMPARE(cli({u"settings"_s, u"set"_s, key, before}).status, 0);

        const Run set = cli({u"settings"_s, u"set"_s, key, folder});
        const Run once = cli({u"--set"_s, key + u'=' + folder, u"settings"_s, u"get"_s, key});
        QCOMPARE(set.status, reason.isEmpty() ? 0 : 1);
        QCOMPARE(once.status, reason.isEmpty() ? 0 : 1);
        QVERIFY2(set.err.contains(reason) && once.err.contains(reason), qPrintable(set.err + once.err));
        const QString stored = reason.isEmpty() ? folder : before;
        QCOMPARE(cli({u"settings"_s, u"get"_s, key}).out, stored + u'\n');
        // The reference is the stored folder's, so that the start-up check cannot bring another back.
        const QString list = cli({u"settings"_s, u"list"_s}).out;
        QCOMPARE(list.contains(key + u"AliasData\tdata\tstored\t"_s), QFileInfo(stored).isDir());
        QVERIFY(
            list.contains(key + u"IsValid\tbool\tstored\t"_s + (QFileInfo(stored).isDir() ? u"true"_s : u"false"_s)));
    }

private:
    static QString settingsFile()
    {
        return TestSandbox::instance().configHome() + u"/Lumisort/org.lumisort.Lumisort.plist"_s;
    }
    using Run = CliRun;
    static Run cli(const QStringList &args) { return runCli(args); }
};

LUMISORT_CORE_TEST_MAIN(TestSettingsCommand)
#include "tst_settingscommand.moc"
