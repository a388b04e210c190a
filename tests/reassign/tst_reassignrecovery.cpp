#include "ScopedMount.h"
#include "TestMain.h"
#include "reassign/ReassignJournal.h"
#include "support/SafeFile.h"

#include <QDir>
#include <QMap>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>

using namespace Qt::StringLiterals;

// Runs of the real command-line tool cut short by a SIGKILL at an exact system call,
// and runs that meet a full disk. After the next command that touches the folder,
// every photo has the name an uninterrupted run gives it, and undo gives back the
// names from before the run.
namespace {
using Names = QMap<QString, QByteArray>; // file name -> bytes

Names namesIn(const QString &folder)
{
    Names found;
    for (const QString &name : QDir(folder).entryList(QDir::Files | QDir::Hidden))
        found.insert(name, readFile(folder + u'/' + name));
    return found;
}

// 40 photos in name order; the 1st and the 21st are barcode photos.
void fillFolder(const QString &folder)
{
    for (int i = 1; i <= 40; ++i)
        QVERIFY(writeFile(folder + u"/IMG_%1.JPG"_s.arg(i, 4, 10, QChar(u'0')), "photo " + QByteArray::number(i)));
}

struct Ran
{
    int status = -1;
    bool killed = false;
    QString out;
    QString err;
};

Ran cli(const QStringList &args, const QString &killAt = {}, const QProcessEnvironment &env = {})
{
    QProcess process;
    if (!env.isEmpty())
        process.setProcessEnvironment(env);
    QStringList all {u"--set"_s, u"prefInputFolderSortKeySelectedIndex=1"_s};
    all << args;
    if (killAt.isEmpty()) {
        process.start(TestSandbox::cliPath(), all);
    } else {
        const QString call = killAt.section(u'@', 0, 0);
        process.start(QStandardPaths::findExecutable(u"strace"_s),
                      QStringList {u"-f"_s, u"-qq"_s, u"-o"_s, u"/dev/null"_s, u"-e"_s, u"trace="_s + call, u"-e"_s,
                                   u"inject="_s + call + u":signal=KILL:when="_s + killAt.section(u'@', 1),
                                   TestSandbox::cliPath()}
                          + all);
    }
    process.waitForFinished(60000);
    return {process.exitCode(), process.exitStatus() == QProcess::CrashExit || process.exitCode() == 128 + 9,
            QString::fromUtf8(process.readAllStandardOutput()), QString::fromUtf8(process.readAllStandardError())};
}

QStringList runArgs(const QString &kind, const QString &folder)
{
    if (kind == u"barcode"_s) {
        QStringList args {u"reassign"_s, u"--barcode"_s, u"4242"_s, u"--"_s};
        for (const QString &name : QDir(folder).entryList(QDir::Files, QDir::Name).mid(5, 20))
            args << folder + u'/' + name;
        return args;
    }
    return {u"auto"_s, folder, u"IMG_0001.JPG=2000000000015"_s, u"IMG_0021.JPG=2000000000022"_s};
}
} // namespace

class TestReassignRecovery : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void killedRunIsFinished_data();
    void killedRunIsFinished();
    void trashOnAFullDiskDeletesNothing();
    void journalThatCannotBeWrittenRenamesNothing();
    void damagedJournalIsNamed();
};

void TestReassignRecovery::initTestCase()
{
    if (QStandardPaths::findExecutable(u"strace"_s).isEmpty())
        QSKIP("strace is not installed");
}

void TestReassignRecovery::killedRunIsFinished_data()
{
    QTest::addColumn<QString>("kind"); // the run that is killed: "auto", "barcode", "undo" (of an auto run)
    QTest::addColumn<QString>("killAt"); // call@n (the journal itself takes the first rename)
    QTest::addColumn<QString>("toucher"); // the verb that next touches the folder
    QTest::newRow("automatic, 14 of 40 renamed") << u"auto"_s << u"renameat2@15"_s << u"sections"_s;
    QTest::newRow("automatic, killed at its first trashing") << u"auto"_s << u"renameat2@42"_s << u"undo"_s;
    QTest::newRow("automatic, killed before the first rename") << u"auto"_s << u"renameat2@2"_s << u"auto"_s;
    QTest::newRow("one barcode, 4 of 20 renamed") << u"barcode"_s << u"renameat2@5"_s << u"file"_s;
    QTest::newRow("undo, 9 renamed back") << u"undo"_s << u"renameat2@10"_s << u"sections"_s;
    QTest::newRow("undo, killed bringing a barcode photo back") << u"undo"_s << u"renameat2@40"_s << u"sections"_s;
}

void TestReassignRecovery::killedRunIsFinished()
{
    QFETCH(QString, kind);
    QFETCH(QString, killAt);
    QFETCH(QString, toucher);
    // What the whole run gives, in a twin folder.
    const QString twin = TestSandbox::instance().makeFolder(u"twin"_s);
    fillFolder(twin);
    const Names before = namesIn(twin);
    QCOMPARE(cli(runArgs(kind == u"undo"_s ? u"auto"_s : kind, twin)).status, 0);
    const Names renamed = namesIn(twin);
    QVERIFY(renamed != before);

    const QString folder = TestSandbox::instance().makeFolder(u"work"_s);
    fillFolder(folder);
    QString expectedMessage = u"An interrupted reassignment of "_s;
    Names whole = renamed;
    if (kind == u"undo"_s) {
        QCOMPARE(cli(runArgs(u"auto"_s, folder)).status, 0);
        expectedMessage = u"An interrupted undo of "_s;
        whole = before;
    }
    const QStringList killedArgs = kind == u"undo"_s ? QStringList {u"undo"_s, folder} : runArgs(kind, folder);
    const Ran killed = cli(killedArgs, killAt);
    QVERIFY2(killed.killed, qPrintable(killed.out + killed.err));
    QVERIFY2(namesIn(folder) != whole, "the kill came after the run had done everything");

    // Any command that acts on the folder finishes the run first.
    QStringList touch {toucher, folder};
    if (toucher == u"auto"_s)
        touch = runArgs(u"auto"_s, folder);
    if (toucher == u"file"_s)
        touch = {u"file"_s, folder, TestSandbox::instance().makeFolder(u"dest"_s) + u"/2026-12-07"_s};
    const Ran touched = cli(touch);
    QVERIFY2(touched.err.contains(expectedMessage), qPrintable(touched.err));
    Names now = namesIn(folder);
    if (toucher == u"file"_s) { // the finished run is filed, in the names it gives
        now.insert(namesIn(touch.last()));
        QCOMPARE(now, whole);
    } else if (toucher == u"undo"_s) { // finished, then undone
        QCOMPARE(now, before);
    } else {
        QCOMPARE(now, whole);
        // The finished run is undone like any other (an undone undo is a redo).
        QCOMPARE(cli({u"undo"_s, folder}).status, 0);
        QCOMPARE(namesIn(folder), kind == u"undo"_s ? renamed : before);
    }
    QVERIFY(ReassignJournal::pendingJournals().isEmpty());
}

// The trash on a full file system: the barcode photo keeps its camera name and stays,
// the run says so and fails; nothing is deleted.
void TestReassignRecovery::trashOnAFullDiskDeletesNothing()
{
    const QString root = TestSandbox::instance().makeFolder(u"full"_s);
    ScopedMount disk = ScopedMount::tmpfs(root, u"1m"_s);
    SKIP_UNLESS_MOUNTED(disk);
    const QString folder = root + u"/work"_s;
    fillFolder(folder);
    QVERIFY(SafeFile::makeFolders(NativePath(root + u"/share/Trash/files"_s)));
    QVERIFY(SafeFile::makeFolders(NativePath(root + u"/share/Trash/info"_s)));
    QByteArray filler(1024 * 1024, 'x');
    writeFile(root + u"/filler"_s, filler); // fails part way: the disk is full
    const Names before = namesIn(folder);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"XDG_DATA_HOME"_s, root + u"/share"_s);

    const Ran ran = cli(runArgs(u"auto"_s, folder), {}, env);
    QCOMPARE(ran.status, 1);
    QVERIFY2(ran.out.contains(u"IMG_0001.JPG kept"_s), qPrintable(ran.out));
    const Names after = namesIn(folder);
    QCOMPARE(after.size(), before.size());
    QCOMPARE(after.value(u"IMG_0001.JPG"_s), before.value(u"IMG_0001.JPG"_s));
    QCOMPARE(after.value(u"IMG_0021.JPG"_s), before.value(u"IMG_0021.JPG"_s));
    QCOMPARE(after.value(u"2000000000015_IMG_0002.JPG"_s), before.value(u"IMG_0002.JPG"_s));

    // And undo still gives every photo its name back.
    QCOMPARE(cli({u"undo"_s, folder}, {}, env).status, 0);
    QCOMPARE(namesIn(folder), before);
}

// The state folder on a full file system: the run renames nothing and says why.
void TestReassignRecovery::journalThatCannotBeWrittenRenamesNothing()
{
    const QString state = TestSandbox::instance().makeFolder(u"state"_s);
    ScopedMount disk = ScopedMount::tmpfs(state, u"64k"_s);
    SKIP_UNLESS_MOUNTED(disk);
    writeFile(state + u"/filler"_s, QByteArray(64 * 1024, 'x'));
    const QString folder = TestSandbox::instance().makeFolder(u"work"_s);
    fillFolder(folder);
    const Names before = namesIn(folder);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"XDG_STATE_HOME"_s, state);

    for (const QString &kind : {u"barcode"_s, u"auto"_s}) {
        const Ran ran = cli(runArgs(kind, folder), {}, env);
        QCOMPARE(ran.status, 1);
        QVERIFY2(ran.err.contains(u"nothing renamed: the journal cannot be written"_s), qPrintable(ran.err));
        QCOMPARE(namesIn(folder), before);
    }
}

void TestReassignRecovery::damagedJournalIsNamed()
{
    const QString folder = TestSandbox::instance().makeFolder(u"work"_s);
    fillFolder(folder);
    QCOMPARE(cli(runArgs(u"auto"_s, folder)).status, 0);
    const QString damaged = ReassignJournal::folder() + u"/29990101-000000-000-1-automatic.json"_s;
    QVERIFY(writeFile(damaged, QByteArray()));
    const Ran ran = cli({u"undo"_s, folder});
    QCOMPARE(ran.status, 1);
    QVERIFY2(ran.err.contains(damaged + u" is damaged"_s), qPrintable(ran.err));
    QVERIFY(QFile::remove(damaged));
}

LUMISORT_CORE_TEST_MAIN(TestReassignRecovery)
#include "tst_reassignrecovery.moc"
