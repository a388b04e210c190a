#include "TestMain.h"
#include "support/SafeFile.h"

#include <QDir>
#include <QProcess>

using namespace Qt::StringLiterals;

// "lumisort-cli undo" after a real "auto" run of the tool, as a script would use them.
class TestUndoCommand : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void undo_data();
    void undo();
};

void TestUndoCommand::undo_data()
{
    QTest::addColumn<QStringList>("args"); // DIR stands for the folder
    QTest::addColumn<bool>("renameFirst");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("said"); // on standard output, or on standard error when refused
    QTest::newRow("dry run") << QStringList {u"undo"_s, u"--dry-run"_s, u"DIR"_s} << false << 0
                             << u"trash -> IMG_0001.JPG\n"_s;
    QTest::newRow("working folder by default") << QStringList {u"--set"_s, u"prefSourcePath=DIR"_s, u"undo"_s} << false
                                               << 0 << u"222_IMG_0002.JPG -> IMG_0002.JPG\n"_s;
    QTest::newRow("renamed since") << QStringList {u"undo"_s, u"DIR"_s} << true << 1
                                   << u"222_IMG_0002.JPG was renamed again since (now 3_IMG_0002.JPG)"_s;
}

void TestUndoCommand::undo()
{
    QFETCH(QStringList, args);
    QFETCH(bool, renameFirst);
    QFETCH(int, status);
    QFETCH(QString, said);
    const QString folder = TestSandbox::instance().makeFolder(u"work"_s);
    for (const QString &name : {u"IMG_0001.JPG"_s, u"IMG_0002.JPG"_s})
        QVERIFY(writeFile(folder + u'/' + name, name.toUtf8()));
    const auto names = [&folder] { return QDir(folder).entryList(QDir::Files, QDir::Name); };
    const QStringList before = names();
    QCOMPARE(QProcess::execute(TestSandbox::cliPath(), {u"auto"_s, folder, u"IMG_0001.JPG=222"_s}), 0);
    if (renameFirst)
        QVERIFY(SafeFile::renameNoReplace(QString(folder + u"/222_IMG_0002.JPG"_s),
                                          QString(folder + u"/3_IMG_0002.JPG"_s)));
    const QStringList after = names();

    QProcess cli;
    cli.start(TestSandbox::cliPath(), args.replaceInStrings(u"DIR"_s, folder));
    QVERIFY(cli.waitForFinished(30000));
    QCOMPARE(cli.exitCode(), status);
    const QString out = QString::fromUtf8(status == 0 ? cli.readAllStandardOutput() : cli.readAllStandardError());
    QVERIFY2(out.contains(said), qPrintable(out));
    // Only the real undo changes anything.
    QCOMPARE(names(), args.contains(u"undo"_s) && !args.contains(u"--dry-run"_s) && status == 0 ? before : after);
}

LUMISORT_CORE_TEST_MAIN(TestUndoCommand)
#include "tst_undocommand.moc"
