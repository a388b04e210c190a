#include "TestMain.h"
#include "reassign/ReassignJournal.h"
#include "reassign/ReassignRecovery.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>

using namespace Qt::StringLiterals;

namespace {
// The child: swaps "a" and "b" of a folder as a reassignment run does, journal and all.
int swapInChild(const QString &folder)
{
    const QList<RenamePlan::Step> steps {{folder + u"/a"_s, folder + u"/b"_s}, {folder + u"/b"_s, folder + u"/a"_s}};
    ReassignJournal journal;
    journal.begin(u"automatic"_s, {{steps[0].from, steps[0].to, {}, {}}, {steps[1].from, steps[1].to, {}, {}}});
    RenamePlan::execute(steps, [&journal](const RenamePlan::Parking &p) { return journal.noteParked(p); });
    return journal.complete({}) ? 0 : 1;
}
} // namespace

// A swap killed at each of its renames (a real SIGKILL at the system call) leaves
// every photo visible once, with its own bytes, after the recovery.
class TestReassignRecovery : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void killedDuringSwap_data();
    void killedDuringSwap();
};

void TestReassignRecovery::killedDuringSwap_data()
{
    QTest::addColumn<int>("killAt"); // the renameat2 call that is killed on entry
    QTest::addColumn<bool>("leftHidden");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("before the park") << 1 << false << QStringList {u"a=a"_s, u"b=b"_s};
    QTest::newRow("parked, nothing else") << 2 << true << QStringList {u"a=b"_s, u"b=a"_s};
    QTest::newRow("parked, the other moved") << 3 << true << QStringList {u"a=b"_s, u"b=a"_s};
}

void TestReassignRecovery::killedDuringSwap()
{
    QFETCH(int, killAt);
    QFETCH(bool, leftHidden);
    QFETCH(QStringList, expected);
    const QString strace = QStandardPaths::findExecutable(u"strace"_s);
    if (strace.isEmpty())
        QSKIP("strace is not installed");
    const QString folder = TestSandbox::instance().makeFolder(u"swap"_s);
    QVERIFY(writeFile(folder + u"/a"_s, "a"));
    QVERIFY(writeFile(folder + u"/b"_s, "b"));
    QProcess child;
    child.start(strace,
                {u"-f"_s, u"-qq"_s, u"-o"_s, u"/dev/null"_s, u"-e"_s,
                 u"inject=renameat2:signal=KILL:when="_s + QString::number(killAt),
                 QCoreApplication::applicationFilePath(), u"--swap-in"_s, folder});
    QVERIFY(child.waitForFinished(60000));
    const auto contents = [&folder] {
        QStringList found;
        for (const QString &name : QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name))
            found << name + u'=' + QString::fromUtf8(readFile(folder + u'/' + name));
        return found;
    };
    QCOMPARE(contents().size(), 2);
    QCOMPARE(contents().first().startsWith(RenamePlan::cParkPrefix), leftHidden);

    ReassignRecovery::recoverInterrupted();
    QCOMPARE(contents(), expected);
    ReassignRecovery::recoverInterrupted(); // a second start finds nothing more to do
    QCOMPARE(contents(), expected);
}

int main(int argc, char **argv)
{
    if (argc == 3 && qstrcmp(argv[1], "--swap-in") == 0)
        return swapInChild(QString::fromLocal8Bit(argv[2])); // on the parent's sandbox
    TestSandbox::setUpProcess();
    QCoreApplication app(argc, argv);
    TestReassignRecovery tc;
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_reassignrecovery.moc"
