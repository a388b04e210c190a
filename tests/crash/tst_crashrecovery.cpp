#include "CrashScenario.h"
#include "ScopedMount.h"
#include "TestMain.h"
#include "filing/FilingRun.h"
#include "reassign/JournaledRun.h"
#include "reassign/ReassignJournal.h"
#include "support/FreedesktopTrash.h"
#include "support/SafeFile.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QStandardPaths>
#include <algorithm>
#include <memory>
#include <optional>
#include <unistd.h>

using namespace Qt::StringLiterals;

// Each kind of run is killed with SIGKILL at reproducible random points (a file system
// call picked by strace, or a plain delay), on ext4 and on an exFAT card through FUSE.
// Then the folder is touched as the operator would touch it next: a reassignment or an
// undo is finished by the next command on its folder, a filing or an import is run
// again. Afterwards every photo has exactly the name and place an uninterrupted run
// gives it (a discarded barcode photo is in the trash), nothing else is left in the
// folders (no temporary, no empty claim, no pending journal, no kept staging), and an
// undo of a reassignment gives back the names from before it. A failure names the
// seed: LUMISORT_CRASH_SEED=<seed> gives the same photos and kill points again.

class TestCrashRecovery : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void killedAndFinished_data();
    void killedAndFinished();
    void killedAtAFixedPoint_data();
    void killedAtAFixedPoint();
    void faultStopsTheRun_data();
    void faultStopsTheRun();

private:
    Setup prepare(Kind kind, Fs fs, QRandomGenerator &random, const QString &name, const QString &folder = {});
    QProcess *start(const Setup &setup, const QStringList &args, const QStringList &straceArgs);
    Finished run(const Setup &setup, const KillPoint &kill, const QStringList &args = {});
    QString finishAfterKill(Kind kind, const Setup &setup, bool journalWaits, bool runBegan);
    QHash<QString, int> callCounts(const Setup &setup);

    quint64 m_seed = 0;
    QString m_strace;
    std::optional<ScopedMount> m_tmpfs;
    std::optional<ScopedMount> m_exfat;
    int m_folders = 0;
};

void TestCrashRecovery::initTestCase()
{
    bool given = false;
    m_seed = qEnvironmentVariable("LUMISORT_CRASH_SEED").toULongLong(&given);
    if (!given)
        m_seed = QRandomGenerator::system()->generate64();
    qInfo("LUMISORT_CRASH_SEED=%llu", static_cast<unsigned long long>(m_seed));
    QVERIFY2(!TestSandbox::cliPath().isEmpty(), "LUMISORT_CLI names no command-line tool");
    m_strace = QStandardPaths::findExecutable(u"strace"_s);
    if (m_strace.isEmpty())
        qInfo("strace is not installed: every kill is a timed one");
    m_tmpfs = ScopedMount::tmpfs(TestSandbox::instance().makeFolder(u"crash-tmpfs"_s), u"96m"_s);
    const QString image = TestSandbox::instance().makeFolder(u"crash-exfat-image"_s) + u"/card.img"_s;
    m_exfat = ScopedMount::fuseImage(ScopedMount::FuseKind::ExFat, image,
                                     TestSandbox::instance().makeFolder(u"crash-exfat"_s), 256);
}

void TestCrashRecovery::killedAndFinished_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("fs");
    const QList<std::pair<Kind, QString>> kinds {{Kind::OneBarcode, u"reassign to one barcode"_s},
                                                 {Kind::Automatic, u"automatic reassignment with chains"_s},
                                                 {Kind::Swaps, u"journaled renames with cycles and a chain"_s},
                                                 {Kind::Undo, u"undo of an automatic reassignment"_s},
                                                 {Kind::FilingSameFileSystem, u"filing on one file system"_s},
                                                 {Kind::FilingOtherFileSystem, u"filing onto another file system"_s},
                                                 {Kind::CardImport, u"card import"_s}};
    for (const Fs fs : {Fs::Ext4, Fs::ExFat}) {
        for (const auto &[kind, name] : kinds)
            QTest::addRow("%s, %s", qPrintable(name), fs == Fs::Ext4 ? "ext4" : "exFAT") << int(kind) << int(fs);
    }
}

Setup TestCrashRecovery::prepare(Kind kind, Fs fs, QRandomGenerator &random, const QString &name, const QString &folder)
{
    Setup s;
    s.folder = folder;
    if (s.folder.isEmpty())
        s.folder = fs == Fs::Ext4 ? TestSandbox::instance().makeFolder(name)
                                  : m_exfat->folder() + u"/%1-%2"_s.arg(name).arg(++m_folders);
    SafeFile::makeFolders(NativePath(s.folder));
    // A card is exFAT, the working folder stays on the work station's disk.
    s.working = (kind == Kind::CardImport ? TestSandbox::instance().makeFolder(name) : s.folder) + u"/work"_s;
    SafeFile::makeFolders(NativePath(s.working));
    s.trash = FreedesktopTrash::trashFolderFor(NativePath(s.working)).child(QByteArrayLiteral("files")).toString();
    s.roots = QStringList {s.working, s.trash};
    s.workRoots = QStringList {s.working};
    s.random = &random;
    switch (kind) {
    case Kind::OneBarcode:
        oneBarcode(s);
        break;
    case Kind::Automatic:
        automatic(s);
        break;
    case Kind::Swaps:
        swaps(s);
        break;
    case Kind::Undo: {
        // The whole automatic run first; its undo is the run that is killed.
        automatic(s);
        if (const Finished done = run(s, {}); done.exitCode != 0)
            qWarning("the automatic run before the undo failed: %s", qPrintable(done.output));
        for (Photo &p : s.photos)
            std::swap(p.expected, p.afterUndo);
        s.args = QStringList {u"undo"_s, s.working};
        break;
    }
    case Kind::FilingSameFileSystem:
        filing(s, s.folder + u"/dest/2024-05-06"_s);
        break;
    case Kind::FilingOtherFileSystem:
        filing(s,
               (fs == Fs::Ext4 ? m_tmpfs->folder() + u'/' + QFileInfo(s.folder).fileName()
                               : TestSandbox::instance().makeFolder(name + u"-dest"_s))
                   + u"/2024-05-06"_s);
        break;
    case Kind::CardImport:
        cardImport(s, s.folder + u"/card"_s);
        break;
    }
    return s;
}

QProcess *TestCrashRecovery::start(const Setup &setup, const QStringList &args, const QStringList &straceArgs)
{
    const bool child = args.value(0) == u"--swap-child"_s;
    const QString program = child ? QCoreApplication::applicationFilePath() : TestSandbox::cliPath();
    auto *process = new QProcess;
    process->setProcessChannelMode(QProcess::MergedChannels);
    process->setWorkingDirectory(setup.folder);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString &e : setup.env)
        env.insert(e.section(u'=', 0, 0), e.section(u'=', 1));
    process->setProcessEnvironment(env);
    if (straceArgs.isEmpty())
        process->start(program, args);
    else
        process->start(m_strace, QStringList {u"-f"_s, u"-qq"_s} + straceArgs + QStringList {u"--"_s, program} + args);
    process->waitForStarted();
    return process;
}

Finished TestCrashRecovery::run(const Setup &setup, const KillPoint &kill, const QStringList &args)
{
    QStringList strace;
    if (!kill.lockPath.isEmpty())
        strace = QStringList {u"-o"_s,       u"/dev/null"_s, u"-P"_s,
                              kill.lockPath, u"-e"_s,        u"inject=write:signal=KILL:when=1"_s};
    else if (!kill.call.isEmpty())
        strace = QStringList {u"-o"_s, u"/dev/null"_s,
                              u"-e"_s, u"trace="_s + kill.call,
                              u"-e"_s, u"inject=%1:signal=KILL:when=%2"_s.arg(kill.call).arg(kill.when)};
    std::unique_ptr<QProcess> process(start(setup, args.isEmpty() ? setup.args : args, strace));
    Finished f;
    if (kill.delayMs >= 0 && !process->waitForFinished(kill.delayMs)) {
        process->kill();
        process->waitForFinished();
        f.killed = true;
        return f;
    }
    process->waitForFinished(60000);
    f.killed = process->exitStatus() == QProcess::CrashExit || process->exitCode() == 128 + 9;
    f.exitCode = process->exitCode();
    f.output = QString::fromUtf8(process->readAll());
    return f;
}

QHash<QString, int> TestCrashRecovery::callCounts(const Setup &setup)
{
    const QString log = TestSandbox::instance().makeFolder(u"calls"_s) + u"/calls.log"_s;
    std::unique_ptr<QProcess> process(start(setup, setup.args, {u"-o"_s, log, u"-e"_s, u"trace="_s + cKillableCalls}));
    process->waitForFinished(60000);
    QHash<QString, QHash<QString, int>> perThread;
    const QStringList killable = cKillableCalls.split(u',');
    for (const QByteArray &line : readFile(log).split('\n')) {
        // "<thread id> <call>(<arguments>) = <result>"
        const QList<QByteArray> words = line.simplified().split(' ');
        if (words.size() < 2 || line.contains("resumed>"))
            continue;
        const QString call = QString::fromLatin1(words.at(1).left(words.at(1).indexOf('(')));
        if (killable.contains(call))
            ++perThread[call][QString::fromLatin1(words.at(0))];
    }
    QHash<QString, int> busiest;
    for (auto it = perThread.cbegin(); it != perThread.cend(); ++it) {
        for (const int n : it.value())
            busiest[it.key()] = std::min(65535, std::max(busiest.value(it.key()), n));
    }
    return busiest;
}

// What comes next after a crash. A reassignment or an undo is finished by the next
// command on its folder; only a run killed before its journal was on disk (nothing
// renamed yet) is begun again by the operator. Filing and the card import are run again.
QString TestCrashRecovery::finishAfterKill(Kind kind, const Setup &setup, bool journalWaits, bool runBegan)
{
    const auto again = [&](const QStringList &args) -> QString {
        const Finished f = run(setup, {}, args);
        return f.exitCode == 0 && !f.killed ? QString() : u"rerun "_s + args.join(u' ') + u" failed:\n"_s + f.output;
    };
    if (isReassignment(kind)) {
        const Finished touched = run(setup, {}, {u"sections"_s, setup.working});
        if (touched.exitCode != 0)
            return u"sections after the kill failed:\n"_s + touched.output;
        if (journalWaits != touched.output.contains(u"An interrupted "_s))
            return u"the finished run was not told, or one was told that never began:\n"_s + touched.output;
        return runBegan ? QString() : again(setup.args);
    }
    // The operator tries again a little later when told another run is working.
    QString failed = again(setup.args);
    for (int tries = 0; failed.contains(u"already working"_s) && tries < 20; ++tries) {
        QTest::qWait(250);
        failed = again(setup.args);
    }
    return failed;
}

void TestCrashRecovery::killedAndFinished()
{
    QFETCH(int, kind);
    QFETCH(int, fs);
    const auto k = Kind(kind);
    const auto f = Fs(fs);
    const QString tag = QString::fromLatin1(QTest::currentDataTag());
    if (f == Fs::ExFat)
        SKIP_UNLESS_MOUNTED(*m_exfat);
    if (k == Kind::FilingOtherFileSystem && f == Fs::Ext4)
        SKIP_UNLESS_MOUNTED(*m_tmpfs);
    QRandomGenerator random(quint32(m_seed ^ (m_seed >> 32)) + 7919u * quint32(kind) + 104729u * quint32(fs));
    const QString name = u"crash-%1-%2"_s.arg(kind).arg(fs);

    // One undisturbed run shows how long the work takes and which calls it makes.
    QElapsedTimer timer;
    Setup plain = prepare(k, f, random, name);
    timer.start();
    const Finished whole = run(plain, {});
    const int wholeMs = int(std::max<qint64>(timer.elapsed(), 20));
    QVERIFY2(whole.exitCode == 0, qPrintable(whole.output));
    QVERIFY2(misplacedPhotos(plain, censusOf(plain), false).isEmpty(),
             qPrintable(misplacedPhotos(plain, censusOf(plain), false)));
    QHash<QString, int> calls;
    if (!m_strace.isEmpty())
        calls = callCounts(prepare(k, f, random, name));
    QStringList callNames = calls.keys();
    callNames.sort();

    int kills = 0;
    int attempts = 0;
    int finishedFromJournal = 0;
    for (; kills < cKillsPerRow && attempts < cMostAttempts; ++attempts) {
        KillPoint kill;
        if (attempts % 3 == 2 || callNames.isEmpty()) {
            kill.delayMs = int(random.bounded(wholeMs + 1));
        } else {
            kill.call = callNames.at(int(random.bounded(quint32(callNames.size()))));
            kill.when = 1 + int(random.bounded(quint32(calls.value(kill.call))));
        }
        const Setup setup = prepare(k, f, random, name);
        const qsizetype journalsBefore = ReassignJournal::journalsNewestFirst().size();
        const QString context =
            u"%1, seed %2, attempt %3, killed %4"_s.arg(tag).arg(m_seed).arg(attempts).arg(kill.text());
        const Finished killed = run(setup, kill);
        if (!killed.killed)
            continue; // the run ended before the kill point
        ++kills;

        // A pending journal beside its completed record is a run that was done.
        const QStringList pending = ReassignJournal::pendingJournals();
        const bool journalWaits = std::any_of(pending.cbegin(), pending.cend(), [](const QString &path) {
            return !QFileInfo::exists(ReassignJournal::completedPathOf(path));
        });
        const bool runBegan = ReassignJournal::journalsNewestFirst().size() > journalsBefore;
        finishedFromJournal += journalWaits ? 1 : 0;
        const QString failed = finishAfterKill(k, setup, journalWaits, runBegan);
        QVERIFY2(failed.isEmpty(), qPrintable(context + u": "_s + failed));

        const Census finished = censusOf(setup);
        const QString misplaced = misplacedPhotos(setup, finished, false);
        QVERIFY2(misplaced.isEmpty(), qPrintable(context + u": after finishing:\n"_s + misplaced));
        const QString left = leftovers(setup, finished);
        QVERIFY2(left.isEmpty(), qPrintable(context + u": left in the folders: "_s + left));
        QVERIFY2(
            ReassignJournal::pendingJournals().isEmpty(),
            qPrintable(context + u": journals still pending: "_s + ReassignJournal::pendingJournals().join(u", "_s)));
        if (isReassignment(k)) {
            const Finished undone = run(setup, {}, {u"undo"_s, setup.working});
            QVERIFY2(undone.exitCode == 0, qPrintable(context + u": undo failed:\n"_s + undone.output));
            const QString notBack = misplacedPhotos(setup, censusOf(setup), true);
            QVERIFY2(notBack.isEmpty(),
                     qPrintable(context + u": after the undo:\n"_s + notBack + u"\n"_s + undone.output));
        }
    }
    qInfo("%s: %d kills in %d runs (a whole run takes %d ms), %d finished from their journal", qPrintable(tag), kills,
          attempts, wholeMs, finishedFromJournal);
    QVERIFY2(kills >= cKillsPerRow, qPrintable(u"only %1 runs were killed before they ended"_s.arg(kills)));
}

// Fixed kill points the random ones may miss, each followed by what the operator does
// next. A run killed between creating its lock file and writing its process id into it
// leaves an empty lock: the next run must still get through. On a FUSE card the next
// command may come after the card numbered its files afresh once the kernel forgot them
// (memory pressure, the card put in again): a photo hidden for a swap, or put in the
// trash, is still found; when another file took the name meant for a hidden photo, the
// photo ends under a name the operator can see. Any command that acts on the folder
// finishes a killed reassignment first, and the finished run is undone like any other.
void TestCrashRecovery::killedAtAFixedPoint_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("fs");
    QTest::addColumn<QString>("killAt"); // call@n (the journal takes the first rename), lock:<path>, or none
    QTest::addColumn<QString>("meanwhile"); // "forget": numbered afresh; "take": another file takes r2.JPG
    QTest::addColumn<QString>("next"); // the verb that next touches a reassigned folder ("again": the run)
    const QString lock = u"lock:"_s + QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    const auto row = [](const char *name, Kind kind, Fs fs, const QString &killAt, const QString &meanwhile = {},
                        const QString &next = u"sections"_s) {
        QTest::newRow(name) << int(kind) << int(fs) << killAt << meanwhile << next;
    };
    row("automatic, killed at its first trashing, undone", Kind::Automatic, Fs::Ext4, u"renameat2@13"_s, {}, u"undo"_s);
    row("automatic, killed before the first rename, run again", Kind::Automatic, Fs::Ext4, u"renameat2@2"_s, {},
        u"again"_s);
    row("one barcode, 4 of 12 renamed, filed", Kind::OneBarcode, Fs::Ext4, u"renameat2@5"_s, {}, u"file"_s);
    row("undo, killed bringing a barcode photo back", Kind::Undo, Fs::Ext4, u"renameat2@11"_s);
    row("not killed, undone through a link, a later run elsewhere stays", Kind::Automatic, Fs::Ext4, {}, {}, u"undo"_s);
    row("filing, taking its lock", Kind::FilingSameFileSystem, Fs::Ext4, u"lock:filing"_s);
    row("card import, taking its own lock", Kind::CardImport, Fs::Ext4, lock + u"/lumisort-card-import.lock"_s);
    row("card import, taking the filing lock", Kind::CardImport, Fs::Ext4, u"lock:filing"_s);
    row("card, swap cycle begun, files numbered afresh", Kind::Swaps, Fs::ExFat, u"rename@5"_s, u"forget"_s);
    row("card, swap cycle all but done, r2.JPG taken meanwhile", Kind::Swaps, Fs::ExFat, u"rename@7"_s, u"take"_s);
    row("card, a barcode photo in the trash, files numbered afresh", Kind::Automatic, Fs::ExFat, u"rename@13"_s,
        u"forget"_s);
}

void TestCrashRecovery::killedAtAFixedPoint()
{
    QFETCH(int, kind);
    QFETCH(int, fs);
    QFETCH(QString, killAt);
    QFETCH(QString, meanwhile);
    QFETCH(QString, next);
    if (Fs(fs) == Fs::ExFat)
        SKIP_UNLESS_MOUNTED(*m_exfat);
    if (m_strace.isEmpty())
        QSKIP("strace is not installed");
    QRandomGenerator random(quint32(m_seed) + quint32(qHash(QByteArray(QTest::currentDataTag()))));
    Setup setup = prepare(Kind(kind), Fs(fs), random, u"fixed"_s);
    KillPoint kill;
    if (killAt.startsWith(u"lock:"_s)) {
        kill.lockPath = killAt == u"lock:filing"_s ? FilingRun::lockPathFor(setup.working) : killAt.mid(5);
        // strace watches a path it can resolve
        SafeFile::makeFolders(NativePath(QFileInfo(kill.lockPath).path()), 0700);
    } else {
        kill.call = killAt.section(u'@', 0, 0);
        kill.when = killAt.section(u'@', 1).toInt();
    }
    Setup elsewhere;
    const auto inTrash = [&] { // photos and their info files
        return QDir(setup.trash).entryList(QDir::Files).size()
            + QDir(setup.trash + u"/../info"_s).entryList(QDir::Files).size();
    };
    qsizetype trashBefore = 0;
    if (killAt.isEmpty()) { // the whole run, then a later one in another folder
        QCOMPARE(run(setup, {}).exitCode, 0);
        elsewhere = prepare(Kind(kind), Fs(fs), random, u"elsewhere"_s);
        QCOMPARE(run(elsewhere, {}).exitCode, 0);
        trashBefore = inTrash();
    } else {
        const Finished killed = run(setup, kill);
        QVERIFY2(killed.killed, qPrintable(killed.output));
        QVERIFY2(!misplacedPhotos(setup, censusOf(setup), false).isEmpty(), "the run was done before the kill");
    }
    const auto forget = [] {
        ::sync();
        QFile dropCaches(u"/proc/sys/vm/drop_caches"_s);
        return dropCaches.open(QIODevice::WriteOnly) && dropCaches.write("2") == 1;
    };
    if (meanwhile == u"take"_s) {
        QVERIFY(writeFile(setup.working + u"/r2.JPG"_s, "another program's file"));
        setup.photos.first().expected = setup.working + u"/r1-kept-1.JPG"_s;
    } else if (meanwhile == u"forget"_s && !forget()) {
        QSKIP("the kernel's caches cannot be dropped here");
    }
    if (!isReassignment(Kind(kind))) {
        QCOMPARE(finishAfterKill(Kind(kind), setup, false, false), QString());
    } else {
        QStringList args = next == u"again"_s ? setup.args : QStringList {next, setup.working};
        if (next == u"file"_s) { // the finished run is filed, in the names it gives
            args << setup.folder + u"/2026-12-07"_s;
            setup.roots << args.last();
            for (Photo &p : setup.photos)
                p.expected = args.last() + u'/' + QFileInfo(p.expected).fileName();
        }
        if (killAt.isEmpty()) { // reached through a link, with a trailing "/.": the same folder
            args.last() = TestSandbox::instance().makeFolder(u"links"_s) + u"/work"_s;
            QVERIFY(QFile::link(setup.working, args.last()));
            args.last() += u"/."_s;
        }
        const Finished touched = run(setup, {}, args);
        const QString told =
            Kind(kind) == Kind::Undo ? u"An interrupted undo of "_s : u"An interrupted reassignment of "_s;
        QVERIFY2(touched.output.contains(told) != killAt.isEmpty(), qPrintable(touched.output));
    }
    QCOMPARE(misplacedPhotos(setup, censusOf(setup), next == u"undo"_s), QString());
    if (killAt.isEmpty()) { // out of the trash with its info; the other run's stay
        QCOMPARE(misplacedPhotos(elsewhere, censusOf(elsewhere), false), QString());
        QCOMPARE(inTrash(), trashBefore - 2 * 3); // three barcode photos, each with its info
    }
    QVERIFY(ReassignJournal::pendingJournals().isEmpty());
    if (isReassignment(Kind(kind)) && (next == u"sections"_s || next == u"again"_s) && meanwhile != u"take"_s
        && (meanwhile.isEmpty() || forget())) {
        const Finished undone = run(setup, {}, {u"undo"_s, setup.working});
        QVERIFY2(undone.exitCode == 0, qPrintable(undone.output));
        QCOMPARE(misplacedPhotos(setup, censusOf(setup), true), QString());
    }
}

// A run that meets a fault it cannot get past says why and fails. A barcode photo the
// trash will not take keeps its camera name and stays, never deleted, and undo still
// gives back every name; otherwise nothing is touched: a journal that cannot be written
// renames nothing, and an undo is refused whole, naming the one file that changed since
// the run (and no run is recorded).
void TestCrashRecovery::faultStopsTheRun_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("told");
    const QString unwritten = u"nothing renamed: the journal cannot be written"_s;
    QTest::newRow("trash on a full disk") << int(Kind::Automatic) << u"full trash"_s << u"CODE_0777.JPG kept"_s;
    QTest::newRow("journal on a full disk, one barcode") << int(Kind::OneBarcode) << u"full state"_s << unwritten;
    QTest::newRow("journal on a full disk, automatic") << int(Kind::Automatic) << u"full state"_s << unwritten;
    const auto undo = [](const char *name, const QString &fault, const QString &told) {
        QTest::newRow(name) << int(Kind::Automatic) << fault << told;
    };
    undo("undo, damaged journal", u"damaged"_s, u"29990101-000000-000-1-automatic.json is damaged"_s);
    undo("undo, renamed again", u"rename"_s, u"777_IMG_0002.JPG was renamed again since (now 9_IMG_0002.JPG)"_s);
    undo("undo, deleted", u"trash"_s, u"777_IMG_0002.JPG was deleted since"_s);
    undo("undo, filed", u"file"_s, u"777_IMG_0002.JPG was filed"_s);
    undo("undo, another file under its name", u"replace"_s, u"777_IMG_0002.JPG was replaced by another file"_s);
    undo("undo, changed in place", u"append"_s, u"777_IMG_0002.JPG was changed since"_s);
    undo("undo, barcode photo emptied from the trash", u"empty"_s, u"CODE_0777.JPG is no longer in the trash"_s);
    undo("undo, old name taken", u"occupy"_s, u"cannot take its name IMG_0002.JPG back"_s);
    undo("undo, older journal, file gone", u"old"_s, u"777_IMG_0002.JPG was renamed again, filed or deleted"_s);
    undo("undo, nothing to undo", u"none"_s, u"no reassignment of"_s);
}

void TestCrashRecovery::faultStopsTheRun()
{
    QFETCH(int, kind);
    QFETCH(QString, fault);
    QFETCH(QString, told);
    const QString full = TestSandbox::instance().makeFolder(u"full"_s);
    std::optional<ScopedMount> disk;
    if (fault.startsWith(u"full"_s)) {
        disk = ScopedMount::tmpfs(full, u"2m"_s);
        SKIP_UNLESS_MOUNTED(*disk);
    }
    QRandomGenerator random(quint32(m_seed) + quint32(qHash(QByteArray(QTest::currentDataTag()))));
    Setup setup = prepare(Kind(kind), Fs::Ext4, random, u"fault"_s, fault == u"full trash"_s ? full : QString());
    const QString photo = setup.working + u"/777_IMG_0002.JPG"_s;
    const QString planted[] = {ReassignJournal::folder() + u"/29990101-000000-000-1-automatic.json"_s,
                               ReassignJournal::folder() + u"/old.json"_s};
    const auto removePlanted = qScopeGuard([&] {
        for (const QString &path : planted)
            QFile::remove(path);
    });
    if (disk) {
        setup.env = QStringList {fault == u"full trash"_s ? u"XDG_DATA_HOME="_s + full : u"XDG_STATE_HOME="_s + full};
        setup.trash = full + u"/Trash/files"_s;
        QVERIFY(SafeFile::makeFolders(NativePath(setup.trash)));
        QVERIFY(SafeFile::makeFolders(NativePath(full + u"/Trash/info"_s)));
        setup.roots << setup.trash;
        for (Photo &p : setup.photos) {
            if (p.expected.endsWith(u'/'))
                p.expected = p.origin;
        }
        writeFile(full + u"/filler"_s, QByteArray(2 * 1024 * 1024, 'x')); // fails part way: the disk is full
    } else if (fault != u"none"_s) {
        QCOMPARE(run(setup, {}).exitCode, 0);
    }
    if (fault == u"damaged"_s) {
        QVERIFY(writeFile(planted[0], QByteArray()));
    } else if (fault == u"rename"_s) {
        QVERIFY(SafeFile::renameNoReplace(photo, QString(setup.working + u"/9_IMG_0002.JPG"_s)));
    } else if (fault == u"trash"_s) {
        QVERIFY(FreedesktopTrash::moveToTrash(photo).result);
    } else if (fault == u"file"_s) {
        QVERIFY(SafeFile::move(photo, QString(TestSandbox::instance().makeFolder(u"filed"_s) + u"/x.JPG"_s)));
    } else if (fault == u"replace"_s) {
        QVERIFY(writeFile(setup.working + u"/other"_s, "other"));
        QVERIFY(SafeFile::remove(photo));
        QVERIFY(SafeFile::renameNoReplace(QString(setup.working + u"/other"_s), photo));
    } else if (fault == u"append"_s) {
        QVERIFY(writeFile(photo, "rotated by an editor"));
    } else if (fault == u"empty"_s) {
        const ReassignJournal::Record done =
            ReassignJournal::read(ReassignJournal::journalsNewestFirst().first()).record.value();
        const auto trashed = std::find_if(done.entries.cbegin(), done.entries.cend(),
                                          [](const ReassignJournal::Entry &e) { return !e.trashPath.isEmpty(); });
        QVERIFY(trashed != done.entries.cend() && SafeFile::remove(trashed->trashPath));
    } else if (fault == u"occupy"_s) {
        QVERIFY(writeFile(setup.working + u"/IMG_0002.JPG"_s, "a new photo"));
    } else if (fault == u"old"_s) { // as an older version wrote it: no folder, no files as left
        const QString newest = ReassignJournal::journalsNewestFirst().first();
        QJsonObject root = QJsonDocument::fromJson(readFile(newest)).object();
        root.remove(u"folder"_s);
        QJsonArray entries;
        for (const QJsonValue &e : root.value(u"entries"_s).toArray()) {
            QJsonObject o = e.toObject();
            o.remove(u"left"_s);
            entries.append(o);
        }
        root.insert(u"entries"_s, entries);
        QVERIFY(SafeFile::remove(newest));
        QVERIFY(writeFile(planted[1], QJsonDocument(root).toJson()));
        QVERIFY(SafeFile::remove(photo));
    }
    if (!disk)
        setup.args = QStringList {u"undo"_s, setup.working};
    const QStringList before = filesWithContents(setup.working) + filesWithContents(setup.trash);
    const QStringList journals = QDir(ReassignJournal::folder()).entryList(QDir::Files);

    const Finished failed = run(setup, {});
    QCOMPARE(failed.exitCode, 1);
    QVERIFY2(failed.output.contains(told), qPrintable(failed.output));
    if (!disk) // an undo names the one file that changed, and no other
        QVERIFY2(failed.output.count(u"\n  "_s) == 1, qPrintable(failed.output));
    if (fault == u"full trash"_s) {
        QCOMPARE(misplacedPhotos(setup, censusOf(setup), false), QString());
        const Finished undone = run(setup, {}, {u"undo"_s, setup.working});
        QCOMPARE(undone.exitCode, 0);
        QCOMPARE(misplacedPhotos(setup, censusOf(setup), true), QString());
    } else {
        QCOMPARE(filesWithContents(setup.working) + filesWithContents(setup.trash), before);
        QCOMPARE(QDir(ReassignJournal::folder()).entryList(QDir::Files), journals);
    }
}

namespace {
// The child: renames as a reassignment run does, journal and all ("from to" pairs).
int renameInChild(const QStringList &pairs)
{
    QList<JournaledRun::Entry> entries;
    for (qsizetype i = 0; i + 1 < pairs.size(); i += 2)
        entries.append({pairs.at(i), pairs.at(i + 1)});
    return JournaledRun::run(u"automatic"_s, entries, QString()).failed() ? 1 : 0;
}
} // namespace

int main(int argc, char **argv)
{
    if (argc >= 2 && qstrcmp(argv[1], "--swap-child") == 0) {
        QCoreApplication app(argc, argv); // on the parent's sandbox
        return renameInChild(QCoreApplication::arguments().mid(2));
    }
    TestSandbox::setUpProcess();
    QCoreApplication app(argc, argv);
    TestCrashRecovery tc;
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_crashrecovery.moc"
