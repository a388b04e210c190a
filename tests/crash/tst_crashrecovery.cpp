#include "ScopedMount.h"
#include "TestMain.h"
#include "cardimport/CardCopyRun.h"
#include "filing/FilingRun.h"
#include "reassign/ReassignJournal.h"
#include "reassign/ReassignRecovery.h"
#include "support/FreedesktopTrash.h"
#include "support/SafeFile.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <algorithm>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <utime.h>

using namespace Qt::StringLiterals;

// Each scenario's run is killed with SIGKILL at reproducible random points (a file
// system call picked by strace, or a plain delay), then run again. After the kill
// no photo may be missing; after the rerun every photo is where the work puts it,
// exactly once and byte for byte, and no hidden temporary is left. A failure names
// the seed: LUMISORT_CRASH_SEED=<seed> gives the same photos and kill points again.
namespace {

enum class Scenario
{
    OneBarcode,
    Automatic,
    Swaps,
    FilingSameFileSystem,
    FilingOntoTmpfs,
    CardImport
};

constexpr int cKillsPerScenario = 21;
constexpr int cMostAttempts = 60;
// The calls where a kill can split a file operation; start-up (opening libraries) is left out.
const QString cKillableCalls =
    u"renameat2,rename,renameat,link,linkat,unlink,unlinkat,fsync,fdatasync,copy_file_range,write,mkdir"_s;

struct Photo
{
    QByteArray id; // hash of its bytes
    QByteArray bytes;
    QString origin;
    // After the rerun, its one copy is at this path (or below it, when it ends in "/"); empty: anywhere.
    QString expected;
    QString barcode; // the group it belongs to, for the automatic run's rerun
    bool cardCopy = false; // the card keeps the original: copies may also wait in the trash or a kept staging
};

struct Setup
{
    QString folder;
    QString working;
    QStringList args; // the run that is killed
    QList<Photo> photos;
    QStringList roots; // everywhere a photo may be
    QStringList workRoots; // where no temporary may stay, and where a card copy counts
};

struct KillPoint
{
    QString call; // empty: a delay
    int when = 0;
    int delayMs = -1; // neither: the run is left alone
    QString lockPath; // kills at the first write into this lock file instead
    QString text() const
    {
        if (!lockPath.isEmpty())
            return u"while taking "_s + lockPath;
        return call.isEmpty() ? u"after %1 ms"_s.arg(delayMs) : u"at %1 call %2"_s.arg(call).arg(when);
    }
};

struct Census
{
    QHash<QByteArray, QStringList> places;
    QStringList temporaries;
};

QByteArray idOf(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha1);
}

bool isBelow(const QString &path, const QString &folder)
{
    return path.startsWith(folder.endsWith(u'/') ? folder : folder + u'/');
}

QList<SafeFileEntry> everythingBelow(const QString &folder)
{
    SafeFileListOptions all;
    all.skipHidden = false;
    all.recursive = true;
    return SafeFile::list(NativePath(folder), all).value_or(QList<SafeFileEntry>());
}

Census censusOf(const Setup &setup)
{
    QSet<qint64> sizes;
    for (const Photo &p : setup.photos)
        sizes.insert(p.bytes.size());
    Census census;
    for (const QString &root : setup.roots) {
        for (const SafeFileEntry &e : everythingBelow(root)) {
            struct stat info = {};
            if (e.type != SafeFileEntryType::Regular || ::lstat(e.path.c_str(), &info) != 0
                || !sizes.contains(qint64(info.st_size)))
                continue;
            census.places[idOf(readFile(e.path.toString()))].append(e.path.toString());
        }
    }
    for (const QString &root : setup.workRoots) {
        for (const SafeFileEntry &e : everythingBelow(root)) {
            if (e.type == SafeFileEntryType::Regular && e.name.startsWith(".lumisort-"))
                census.temporaries.append(e.path.toString());
        }
    }
    return census;
}

// The copies that count for a photo: a card photo's extra copies in the trash or in
// a staging folder kept aside are the program's caution, not a second photo.
QStringList countedPlaces(const Setup &setup, const Census &census, const Photo &photo)
{
    QStringList places = census.places.value(photo.id);
    if (photo.cardCopy) {
        places.removeIf([&setup](const QString &path) {
            return std::none_of(setup.workRoots.cbegin(), setup.workRoots.cend(),
                                [&path](const QString &root) { return isBelow(path, root); });
        });
        places.removeIf([](const QString &path) { return path.contains(u"-kept-"_s); });
    }
    return places;
}

QString lostPhotos(const Setup &setup, const Census &census)
{
    QStringList lost;
    for (const Photo &p : setup.photos) {
        if (census.places.value(p.id).isEmpty() && !p.cardCopy)
            lost.append(p.origin);
    }
    return lost.join(u", "_s);
}

QString misplacedPhotos(const Setup &setup, const Census &census)
{
    QStringList wrong;
    for (const Photo &p : setup.photos) {
        const QStringList places = countedPlaces(setup, census, p);
        const bool placed = places.size() == 1
            && (p.expected.isEmpty() || places.first() == p.expected
                || (p.expected.endsWith(u'/') && isBelow(places.first(), p.expected)));
        if (!placed)
            wrong.append(p.origin + u" -> ["_s + places.join(u", "_s) + u"] expected "_s
                         + (p.expected.isEmpty() ? u"anywhere"_s : p.expected));
    }
    return wrong.join(u"\n"_s);
}

QString changedCardPhotos(const Setup &setup)
{
    QStringList changed;
    for (const Photo &p : setup.photos) {
        if (p.cardCopy && readFile(p.origin) != p.bytes)
            changed.append(p.origin);
    }
    return changed.join(u", "_s);
}

bool setTime(const QString &path, qint64 seconds)
{
    const struct utimbuf times = {seconds, seconds};
    return ::utime(QFile::encodeName(path).constData(), &times) == 0;
}

class Fixture
{
public:
    Fixture(QRandomGenerator &random, Setup &setup)
        : m_random(random)
        , m_setup(setup)
    { }
    // A photo of its own content (no two alike), written at path with a file time that keeps the order.
    Photo &add(const QString &path, const QString &expected, const QString &barcode = {})
    {
        QByteArray bytes(qsizetype(8 + m_random.bounded(20000, 120000) / 4 * 4), Qt::Uninitialized);
        m_random.fillRange(reinterpret_cast<quint32 *>(bytes.data()), bytes.size() / 4);
        writeFile(path, bytes);
        setTime(path, 1700000000 + m_setup.photos.size() * 10);
        m_setup.photos.append({idOf(bytes), bytes, path, expected, barcode, false});
        return m_setup.photos.last();
    }

private:
    QRandomGenerator &m_random;
    Setup &m_setup;
};

void oneBarcode(Fixture &fixture, Setup &s)
{
    s.args = QStringList {u"reassign"_s, u"--barcode"_s, u"4242"_s, u"--"_s};
    const QStringList shapes {u"%1_IMG_%2.JPG|4242_IMG_%2.JPG"_s, u"UNKNOWN_IMG_%2.JPG|4242_IMG_%2.JPG"_s,
                              u"IMG_%2.JPG|4242_IMG_%2.JPG"_s, u"DSC%2.JPG|4242_DSC%2.JPG"_s,
                              u"555_DSC%2.JPG|4242_555_DSC%2.JPG"_s};
    for (int i = 0; i < 12; ++i) {
        const QStringList shape =
            shapes.at(i % shapes.size()).arg(QString::number(100 + i), QString::number(1000 + i)).split(u'|');
        fixture.add(s.working + u'/' + shape.at(0), s.working + u'/' + shape.at(1));
        s.args.append(s.working + u'/' + shape.at(0));
    }
}

// In shooting-time order (the file times), so renaming keeps each photo in its group. Two
// chains: a photo's new name is held by a photo of the next group, which moves first.
void automatic(Fixture &fixture, Setup &s)
{
    s.args = QStringList {u"--set"_s, u"prefInputFolderSortKeySelectedIndex=1"_s, u"auto"_s, s.working};
    const QList<QStringList> order {
        {u"IMG_0001.JPG"_s, {}},        {u"CODE_0777.JPG"_s, u"777"_s}, {u"IMG_0002.JPG"_s, u"777"_s},
        {u"c1.JPG"_s, u"777"_s},        {u"IMG_0003.JPG"_s, u"777"_s},  {u"CODE_0888.JPG"_s, u"888"_s},
        {u"777_c1.JPG"_s, u"888"_s},    {u"IMG_0004.JPG"_s, u"888"_s},  {u"c2.JPG"_s, u"888"_s},
        {u"CODE_0999.JPG"_s, u"999"_s}, {u"888_c2.JPG"_s, u"999"_s},    {u"IMG_0005.JPG"_s, u"999"_s},
    };
    for (const QStringList &item : order) {
        const QString &name = item.at(0);
        const QString &barcode = item.at(1);
        if (name.startsWith(u"CODE_"_s)) {
            // Discarded into the trash; a rerun cannot discard it, so it may also stay, visible.
            fixture.add(s.working + u'/' + name, QString());
            s.args.append(name + u'=' + barcode);
        } else {
            const QString expected = barcode.isEmpty() ? name : barcode + u'_' + name;
            fixture.add(s.working + u'/' + name, s.working + u'/' + expected, barcode);
        }
    }
    s.roots.append(FreedesktopTrash::homeTrash().child(QByteArrayLiteral("files")).toString());
}

// Cycles (a three-way rotation and a swap) and a chain, as a reassignment run renames them.
void swaps(Fixture &fixture, Setup &s)
{
    const QString w = s.working + u'/';
    const QList<QPair<QString, QString>> steps {{w + u"r1.JPG"_s, w + u"r2.JPG"_s}, {w + u"r2.JPG"_s, w + u"r3.JPG"_s},
                                                {w + u"r3.JPG"_s, w + u"r1.JPG"_s}, {w + u"s1.JPG"_s, w + u"s2.JPG"_s},
                                                {w + u"s2.JPG"_s, w + u"s1.JPG"_s}, {w + u"h1.JPG"_s, w + u"h2.JPG"_s},
                                                {w + u"h2.JPG"_s, w + u"h3.JPG"_s}, {w + u"h3.JPG"_s, w + u"h4.JPG"_s}};
    s.args = QStringList {u"--swap-child"_s};
    for (const auto &[from, to] : steps) {
        fixture.add(from, to);
        s.args << from << to;
    }
}

void filing(Fixture &fixture, Setup &s, const QString &destination)
{
    s.args = QStringList {u"file"_s, s.working, destination};
    s.roots.append(destination);
    s.workRoots.append(destination);
    for (int i = 0; i < 12; ++i) {
        const QString name = u"%1_IMG_%2.JPG"_s.arg(31 + i % 3).arg(2000 + i);
        const Photo &p = fixture.add(s.working + u'/' + name, destination + u'/' + name);
        if (i == 0) // filed before, by a run that was killed or by another station
            writeFile(destination + u'/' + name, p.bytes);
    }
    // A different photo already has the name of the second: it keeps it, ours takes a numbered one.
    s.photos[1].expected.replace(u".JPG"_s, u"-2.JPG"_s);
    const QString taken = s.photos.at(1).origin.section(u'/', -1);
    fixture.add(destination + u'/' + taken, destination + u'/' + taken);
    for (int i = 0; i < 2; ++i) {
        const QString left = s.working + u"/UNKNOWN_IMG_%1.JPG"_s.arg(3000 + i);
        fixture.add(left, left);
    }
}

void cardImport(Fixture &fixture, Setup &s)
{
    const QString card = s.folder + u"/card"_s;
    const QString staging = CardCopyRun::stagingFolderFor(s.working);
    s.args = QStringList {u"--set"_s,
                          u"prefSourcePath="_s + s.working,
                          u"import"_s,
                          u"--discard-working-folder"_s,
                          u"--threads"_s,
                          u"2"_s,
                          card};
    const QString trash = FreedesktopTrash::homeTrash().child(QByteArrayLiteral("files")).toString();
    s.roots = QStringList {s.working, QFileInfo(staging).path(), trash};
    s.workRoots = QStringList {s.working, QFileInfo(staging).path()};
    for (int i = 0; i < 12; ++i) {
        const QString name = u"IMG_%1.JPG"_s.arg(4000 + i);
        const QString folder = card + (i < 8 ? u"/DCIM/100CANON/"_s : u"/DCIM/101CANON/"_s);
        fixture.add(folder + name, s.working + u'/' + name).cardCopy = true;
    }
    for (int i = 0; i < 3; ++i) // the last card's photos, which the operator agreed to discard
        fixture.add(s.working + u"/OLD_%1.JPG"_s.arg(5000 + i), trash + u'/');
}

struct Finished
{
    bool killed = false;
    int exitCode = -1;
    QString output;
};

Finished runToEnd(QProcess &process)
{
    Finished f;
    process.waitForFinished(60000);
    f.killed = process.exitStatus() == QProcess::CrashExit;
    f.exitCode = process.exitCode();
    f.output = QString::fromUtf8(process.readAll());
    return f;
}

} // namespace

class TestCrashRecovery : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void killedAndRerun_data();
    void killedAndRerun();
    void killedWhileTakingALock_data();
    void killedWhileTakingALock();
    void cleanupTestCase();

private:
    Setup prepare(Scenario scenario, QRandomGenerator &random, const QString &name);
    QProcess *start(const Setup &setup, const QStringList &straceArgs);
    Finished run(const Setup &setup, const KillPoint &kill);
    QString rerun(Scenario scenario, const Setup &setup);
    // Calls of each kind the whole run makes in its busiest thread.
    QHash<QString, int> callCounts(const Setup &setup);

    quint64 m_seed = 0;
    QString m_strace;
    std::optional<ScopedMount> m_tmpfs;
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
}

void TestCrashRecovery::cleanupTestCase()
{
    m_tmpfs.reset();
}

void TestCrashRecovery::killedAndRerun_data()
{
    QTest::addColumn<int>("row");
    QTest::newRow("reassign to one barcode") << int(Scenario::OneBarcode);
    QTest::newRow("automatic reassignment with chains") << int(Scenario::Automatic);
    QTest::newRow("renames with cycles and a chain") << int(Scenario::Swaps);
    QTest::newRow("filing on one file system") << int(Scenario::FilingSameFileSystem);
    QTest::newRow("filing onto tmpfs") << int(Scenario::FilingOntoTmpfs);
    QTest::newRow("card import") << int(Scenario::CardImport);
}

Setup TestCrashRecovery::prepare(Scenario scenario, QRandomGenerator &random, const QString &name)
{
    Setup s;
    s.folder = TestSandbox::instance().makeFolder(name);
    s.working = s.folder + u"/work"_s;
    SafeFile::makeFolders(NativePath(s.working));
    s.roots = QStringList {s.working};
    s.workRoots = QStringList {s.working};
    Fixture fixture(random, s);
    switch (scenario) {
    case Scenario::OneBarcode:
        oneBarcode(fixture, s);
        break;
    case Scenario::Automatic:
        automatic(fixture, s);
        break;
    case Scenario::Swaps:
        swaps(fixture, s);
        break;
    case Scenario::FilingSameFileSystem:
        filing(fixture, s, s.folder + u"/dest/2024-05-06"_s);
        break;
    case Scenario::FilingOntoTmpfs:
        filing(fixture, s, m_tmpfs->folder() + u'/' + QFileInfo(s.folder).fileName() + u"/2024-05-06"_s);
        break;
    case Scenario::CardImport:
        cardImport(fixture, s);
        break;
    }
    return s;
}

QProcess *TestCrashRecovery::start(const Setup &setup, const QStringList &straceArgs)
{
    const bool child = setup.args.value(0) == u"--swap-child"_s;
    const QString program = child ? QCoreApplication::applicationFilePath() : TestSandbox::cliPath();
    auto *process = new QProcess;
    process->setProcessChannelMode(QProcess::MergedChannels);
    process->setWorkingDirectory(setup.folder);
    if (straceArgs.isEmpty())
        process->start(program, setup.args);
    else
        process->start(m_strace, straceArgs + QStringList {u"--"_s, program} + setup.args);
    process->waitForStarted();
    return process;
}

Finished TestCrashRecovery::run(const Setup &setup, const KillPoint &kill)
{
    QStringList strace;
    if (!kill.lockPath.isEmpty())
        strace = QStringList {u"-f"_s, u"-qq"_s,      u"-o"_s, u"/dev/null"_s,
                              u"-P"_s, kill.lockPath, u"-e"_s, u"inject=write:signal=KILL:when=1"_s};
    else if (!kill.call.isEmpty())
        strace = QStringList {u"-f"_s, u"-qq"_s,

                              u"-o"_s, u"/dev/null"_s,
                              u"-e"_s, u"trace="_s + kill.call,
                              u"-e"_s, u"inject=%1:signal=KILL:when=%2"_s.arg(kill.call).arg(kill.when)};
    std::unique_ptr<QProcess> process(start(setup, strace));
    if (kill.delayMs >= 0 && !process->waitForFinished(kill.delayMs)) {
        process->kill();
        process->waitForFinished();
        Finished f;
        f.killed = true;
        return f;
    }
    return runToEnd(*process);
}

QHash<QString, int> TestCrashRecovery::callCounts(const Setup &setup)
{
    const QString log = setup.folder + u"/calls.log"_s;
    std::unique_ptr<QProcess> process(
        start(setup, {u"-f"_s, u"-qq"_s, u"-o"_s, log, u"-e"_s, u"trace="_s + cKillableCalls}));
    runToEnd(*process);
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

// What the operator (and the next start) does after a crash. Filing and the card
// import are simply run again. The one-barcode run is given the folder's photos
// again. The automatic run cannot be repeated (it would put a second barcode in
// front of the renamed photos): each group's photos still under their old names
// get their barcode, the later groups first, as their photos hold names the
// earlier ones take. The swaps: the next start finishes a cycle that was under
// way, then the renames not yet done run.
QString TestCrashRecovery::rerun(Scenario scenario, const Setup &setup)
{
    const auto again = [&](const QStringList &args) -> QString {
        Setup copy = setup;
        copy.args = args;
        const Finished f = run(copy, {});
        return f.exitCode == 0 && !f.killed ? QString() : u"rerun "_s + args.join(u' ') + u" failed:\n"_s + f.output;
    };
    switch (scenario) {
    case Scenario::OneBarcode: {
        QStringList args {u"reassign"_s, u"--barcode"_s, u"4242"_s, u"--"_s};
        for (const SafeFileEntry &e : SafeFile::list(NativePath(setup.working)).value_or(QList<SafeFileEntry>()))
            args.append(e.path.toString());
        return again(args);
    }
    case Scenario::Automatic: {
        const Census census = censusOf(setup);
        for (const QString &barcode : {u"999"_s, u"888"_s, u"777"_s}) {
            QStringList args {u"reassign"_s, u"--barcode"_s, barcode, u"--"_s};
            for (const Photo &p : setup.photos) {
                if (p.barcode == barcode && census.places.value(p.id) == QStringList {p.origin})
                    args.append(p.origin);
            }
            if (args.size() > 4)
                if (const QString failed = again(args); !failed.isEmpty())
                    return failed;
        }
        return {};
    }
    case Scenario::Swaps: {
        ReassignRecovery::recoverInterrupted();
        const Census census = censusOf(setup);
        QStringList args {u"--swap-child"_s};
        for (const Photo &p : setup.photos) {
            if (census.places.value(p.id) == QStringList {p.origin})
                args << p.origin << p.expected;
        }
        return args.size() > 1 ? again(args) : QString();
    }
    case Scenario::FilingSameFileSystem:
    case Scenario::FilingOntoTmpfs:
    case Scenario::CardImport: {
        // The operator tries again a little later when told another run is working.
        QString failed = again(setup.args);
        for (int tries = 0; failed.contains(u"already working"_s) && tries < 20; ++tries) {
            QTest::qWait(250);
            failed = again(setup.args);
        }
        return failed;
    }
    }
    return {};
}

void TestCrashRecovery::killedAndRerun()
{
    QFETCH(int, row);
    const auto scenario = Scenario(row);
    const QString tag = QString::fromLatin1(QTest::currentDataTag());
    if (scenario == Scenario::FilingOntoTmpfs) {
        if (!m_tmpfs)
            m_tmpfs = ScopedMount::tmpfs(TestSandbox::instance().makeFolder(u"crash-tmpfs"_s), u"96m"_s);
        SKIP_UNLESS_MOUNTED(*m_tmpfs);
    }
    QRandomGenerator random(quint32(m_seed ^ (m_seed >> 32)) + 7919u * quint32(scenario));
    const QString name = u"crash-%1"_s.arg(int(scenario));

    // One undisturbed run shows how long the work takes and which calls it makes.
    QElapsedTimer timer;
    timer.start();
    Setup plain = prepare(scenario, random, name);
    const Finished whole = run(plain, {});
    QVERIFY2(whole.exitCode == 0, qPrintable(whole.output));
    const int wholeMs = int(std::max<qint64>(timer.elapsed(), 20));
    QVERIFY2(misplacedPhotos(plain, censusOf(plain)).isEmpty(), qPrintable(misplacedPhotos(plain, censusOf(plain))));
    QHash<QString, int> calls;
    if (!m_strace.isEmpty())
        calls = callCounts(prepare(scenario, random, name));
    QStringList callNames = calls.keys();
    callNames.sort();

    int kills = 0;
    int attempts = 0;
    int leftoverCopies = 0; // of card photos, in the trash or a kept staging folder
    int barcodePhotosLeft = 0; // in the working folder: only the killed run could have discarded them
    for (; kills < cKillsPerScenario && attempts < cMostAttempts; ++attempts) {
        KillPoint kill;
        if (attempts % 3 == 2 || callNames.isEmpty()) {
            kill.delayMs = int(random.bounded(wholeMs + 1));
        } else {
            kill.call = callNames.at(int(random.bounded(quint32(callNames.size()))));
            kill.when = 1 + int(random.bounded(quint32(calls.value(kill.call))));
        }
        const Setup setup = prepare(scenario, random, name);
        const QString context =
            u"%1, seed %2, attempt %3, killed %4"_s.arg(tag).arg(m_seed).arg(attempts).arg(kill.text());
        const Finished killed = run(setup, kill);
        if (!killed.killed)
            continue; // the run ended before the kill point
        ++kills;

        const Census afterKill = censusOf(setup);
        const QString lost = lostPhotos(setup, afterKill);
        QVERIFY2(lost.isEmpty(), qPrintable(context + u": lost after the kill: "_s + lost));
        const QString changed = changedCardPhotos(setup);
        QVERIFY2(changed.isEmpty(), qPrintable(context + u": the card changed: "_s + changed));

        const QString failed = rerun(scenario, setup);
        QVERIFY2(failed.isEmpty(), qPrintable(context + u": "_s + failed));
        const Census afterRerun = censusOf(setup);
        const QString misplaced = misplacedPhotos(setup, afterRerun);
        QVERIFY2(misplaced.isEmpty(), qPrintable(context + u": after the rerun:\n"_s + misplaced));
        QVERIFY2(afterRerun.temporaries.isEmpty(),
                 qPrintable(context + u": temporaries left: "_s + afterRerun.temporaries.join(u", "_s)));
        for (const Photo &p : setup.photos) {
            leftoverCopies += int(afterRerun.places.value(p.id).size() - countedPlaces(setup, afterRerun, p).size());
            if (p.expected.isEmpty() && isBelow(afterRerun.places.value(p.id).value(0), setup.working))
                ++barcodePhotosLeft;
        }
    }
    qInfo("%s: %d kills in %d runs (a whole run takes %d ms); afterwards %d extra copies of card photos, %d barcode "
          "photos still in the working folder",
          qPrintable(tag), kills, attempts, wholeMs, leftoverCopies, barcodePhotosLeft);
    QVERIFY2(kills >= cKillsPerScenario, qPrintable(u"only %1 runs were killed before they ended"_s.arg(kills)));
}

// A run killed between creating its lock file and writing its process id into it
// leaves an empty lock: the next run must still get through.
void TestCrashRecovery::killedWhileTakingALock_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("lock");
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    QTest::newRow("filing") << int(Scenario::FilingSameFileSystem) << u"filing"_s;
    QTest::newRow("card import, its own lock")
        << int(Scenario::CardImport) << runtime + u"/lumisort-card-import.lock"_s;
    QTest::newRow("card import, the filing lock") << int(Scenario::CardImport) << u"filing"_s;
}

void TestCrashRecovery::killedWhileTakingALock()
{
    QFETCH(int, row);
    QFETCH(QString, lock);
    if (m_strace.isEmpty())
        QSKIP("strace is not installed");
    const auto scenario = Scenario(row);
    QRandomGenerator random(quint32(m_seed) + quint32(qHash(QByteArray(QTest::currentDataTag()))));
    const Setup setup = prepare(scenario, random, u"lock-%1"_s.arg(row));
    KillPoint kill;
    kill.lockPath = lock == u"filing"_s ? FilingRun::lockPathFor(setup.working) : lock;
    SafeFile::makeFolders(NativePath(QFileInfo(kill.lockPath).path()), 0700); // strace watches a path it can resolve
    const Finished killed = run(setup, kill);
    QVERIFY2(killed.killed, qPrintable(killed.output));
    const QString failed = rerun(scenario, setup);
    QVERIFY2(failed.isEmpty(), qPrintable(failed));
    const QString misplaced = misplacedPhotos(setup, censusOf(setup));
    QVERIFY2(misplaced.isEmpty(), qPrintable(misplaced));
}

namespace {
// The child: renames as a reassignment run does, journal and all ("from to" pairs).
int renameInChild(const QStringList &pairs)
{
    QList<RenamePlan::Step> steps;
    QList<ReassignJournal::Entry> planned;
    for (qsizetype i = 0; i + 1 < pairs.size(); i += 2) {
        steps.append({pairs.at(i), pairs.at(i + 1)});
        planned.append({pairs.at(i), pairs.at(i + 1), {}, {}});
    }
    ReassignJournal journal;
    journal.begin(u"automatic"_s, planned);
    const QList<RenamePlan::Outcome> outcomes =
        RenamePlan::execute(steps, [&journal](const RenamePlan::Parking &p) { return journal.noteParked(p); });
    const bool allRenamed =
        std::all_of(outcomes.cbegin(), outcomes.cend(), [](const RenamePlan::Outcome &o) { return o.renamed; });
    return journal.complete({}) && allRenamed ? 0 : 1;
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
