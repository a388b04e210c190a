#include "TestMain.h"
#include "support/SafeFile.h"

#include <QDir>
#include <QProcess>

using namespace Qt::StringLiterals;

// "lumisort-cli undo" as a script would use it, after a real "auto" run of the tool.
class TestUndoCommand : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void undo_data();
    void undo();

private:
    struct Run
    {
        int status = -1;
        QString out;
        QString err;
    };
    static Run cli(const QStringList &args)
    {
        QProcess p;
        p.start(TestSandbox::cliPath(), args);
        p.waitForFinished(30000);
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
                QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
    }
    static QStringList names(const QString &folder) { return QDir(folder).entryList(QDir::Files, QDir::Name); }
};

void TestUndoCommand::undo_data()
{
    QTest::addColumn<QString>("setup"); // "", "renamed", "no run"
    QTest::addColumn<QStringList>("args"); // DIR stands for the folder
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("said"); // on standard output, or on standard error when refused
    QTest::addColumn<bool>("undone");
    QTest::newRow("dry run") << QString() << QStringList {u"undo"_s, u"--dry-run"_s, u"DIR"_s} << 0
                             << u"trash -> IMG_0001.JPG\n"_s << false;
    QTest::newRow("working folder by default")
        << QString() << QStringList {u"--set"_s, u"prefSourcePath=DIR"_s, u"undo"_s} << 0
        << u"222_IMG_0002.JPG -> IMG_0002.JPG\n"_s << true;
    QTest::newRow("renamed since") << u"renamed"_s << QStringList {u"undo"_s, u"DIR"_s} << 1
                                   << u"222_IMG_0002.JPG was renamed again since (now 3_IMG_0002.JPG)"_s << false;
    QTest::newRow("nothing to undo") << u"no run"_s << QStringList {u"undo"_s, u"DIR"_s} << 1 << u"no reassignment of"_s
                                     << false;
}

void TestUndoCommand::undo()
{
    QFETCH(QString, setup);
    QFETCH(QStringList, args);
    QFETCH(int, status);
    QFETCH(QString, said);
    QFETCH(bool, undone);
    const QString folder = TestSandbox::instance().makeFolder(u"work"_s);
    for (const QString &name : {u"IMG_0001.JPG"_s, u"IMG_0002.JPG"_s})
        QVERIFY(writeFile(folder + u'/' + name, name.toUtf8()));
    const QStringList before = names(folder);
    if (setup != u"no run"_s)
        QCOMPARE(cli({u"auto"_s, folder, u"IMG_0001.JPG=222"_s}).status, 0);
    if (setup == u"renamed"_s)
        QVERIFY(SafeFile::renameNoReplace(QString(folder + u"/222_IMG_0002.JPG"_s),
                                          QString(folder + u"/3_IMG_0002.JPG"_s)));
    const QStringList after = names(folder);

    args.replaceInStrings(u"DIR"_s, folder);
    const Run run = cli(args);
    QCOMPARE(run.status, status);
    QVERIFY2((status == 0 ? run.out : run.err).contains(said), qPrintable(run.out + run.err));
    QCOMPARE(names(folder), undone ? before : after);
}

LUMISORT_CORE_TEST_MAIN(TestUndoCommand)
#include "tst_undocommand.moc"
