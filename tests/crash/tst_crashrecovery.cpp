#include "ScopedMount.h"
#include "TestMain.h"
#include "cardimport/CardCopyRun.h"
#include "filing/FilingRun.h"
#include "reassign/JournaledRun.h"
#include "reassign/ReassignJournal.h"
#include "support/FreedesktopTrash.h"
#include "support/SafeFile.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <algorithm>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

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
namespace {

enum class Kind
{
    OneBarcode,
    Automatic,
    Swaps,
    Undo,
    FilingSameFileSystem,
    FilingOtherFileSystem,
    CardImport
};
enum class Fs
{
    Ext4,
    ExFat
};

constexpr int cKillsPerRow = 20;
constexpr int cMostAttempts = 60;
// The calls where a kill can split a file operation (rename: FUSE paths); start-up is left out.
const QString cKillableCalls =
    u"renameat2,rename,renameat,link,linkat,unlink,unlinkat,fsync,fdatasync,copy_file_range,write,mkdir"_s;

bool isReassignment(Kind kind)
{
    return kind == Kind::OneBarcode || kind == Kind::Automatic || kind == Kind::Swaps || kind == Kind::Undo;
}

struct Photo
{
    QByteArray id; // hash of its bytes
    QByteArray bytes;
    QString origin;
    // Where its one copy is after the run (below it, when it ends in "/").
    QString expected;
    // Where it is after an undo of the finished reassignment.
    QString afterUndo;
    bool cardCopy = false; // the card keeps the original
};

struct Setup
{
    QString folder;
    QString working;
    QString trash; // the trash's files/ folder that takes the working folder's photos
    QString staging; // of the card import; it and any staging kept aside must be gone at the end
    QStringList args; // the run that is killed
    QList<Photo> photos;
    QStringList roots; // everywhere a photo may be
    QStringList workRoots; // where nothing but the photos that belong there may stay
    QRandomGenerator *random = nullptr;
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

struct Finished
{
    bool killed = false;
    int exitCode = -1;
    QString output;
};

using Census = QHash<QByteArray, QStringList>; // photo id -> where its copies are

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
            if (e.type == SafeFileEntryType::Regular && ::lstat(e.path.c_str(), &info) == 0
                && sizes.contains(qint64(info.st_size)))
                census[idOf(readFile(e.path.toString()))].append(e.path.toString());
        }
    }
    return census;
}

QString lostPhotos(const Setup &setup, const Census &census)
{
    QStringList lost;
    for (const Photo &p : setup.photos) {
        if (census.value(p.id).isEmpty() && !p.cardCopy)
            lost.append(p.origin);
    }
    return lost.join(u", "_s);
}

// Each photo once, where it belongs; a card photo also stays on the card, and a copy of
// it may wait in the trash (an import cut short after clearing the working folder).
QString misplacedPhotos(const Setup &setup, const Census &census, bool undone)
{
    QStringList wrong;
    for (const Photo &p : setup.photos) {
        QStringList places = census.value(p.id);
        if (p.cardCopy)
            places.removeIf([&](const QString &path) { return path == p.origin || isBelow(path, setup.trash); });
        const QString &expected = undone ? p.afterUndo : p.expected;
        const bool placed = places.size() == 1
            && (places.first() == expected || (expected.endsWith(u'/') && isBelow(places.first(), expected)));
        if (!placed)
            wrong.append(p.origin + u" -> ["_s + places.join(u", "_s) + u"] expected "_s + expected);
    }
    return wrong.join(u"\n"_s);
}

// Anything in the working folders but the photos: a temporary, an empty claim, a photo
// hidden for a swap, a staging folder kept aside.
QString leftovers(const Setup &setup, const Census &census)
{
    QSet<QString> photos;
    for (const QStringList &places : census)
        for (const QString &place : places)
            photos.insert(place);
    QStringList found;
    for (const QString &root : setup.workRoots) {
        for (const SafeFileEntry &e : everythingBelow(root)) {
            if (e.type == SafeFileEntryType::Regular && !photos.contains(e.path.toString()))
                found << e.path.toString();
        }
    }
    if (!setup.staging.isEmpty()) {
        for (const SafeFileEntry &e : SafeFile::list(NativePath(QFileInfo(setup.staging).path()), {false, false, false})
                                          .value_or(QList<SafeFileEntry>())) {
            if (e.path.toString().startsWith(setup.staging))
                found << e.path.toString();
        }
    }
    return found.join(u", "_s);
}

bool setTime(const QString &path, qint64 seconds)
{
    const struct utimbuf times = {seconds, seconds};
    return ::utime(QFile::encodeName(path).constData(), &times) == 0;
}

// A photo of its own content (no two alike), with a file time that keeps the order.
Photo &add(Setup &s, const QString &path, const QString &expected, const QString &afterUndo = {})
{
    QByteArray bytes(qsizetype(8 + s.random->bounded(20000, 120000) / 4 * 4), Qt::Uninitialized);
    s.random->fillRange(reinterpret_cast<quint32 *>(bytes.data()), bytes.size() / 4);
    writeFile(path, bytes);
    setTime(path, 1700000000 + s.photos.size() * 10);
    s.photos.append({idOf(bytes), bytes, path, expected, afterUndo.isEmpty() ? path : afterUndo, false});
    return s.photos.last();
}

void oneBarcode(Setup &s)
{
    s.args = QStringList {u"reassign"_s, u"--barcode"_s, u"4242"_s, u"--"_s};
    const QStringList shapes {u"%1_IMG_%2.JPG|4242_IMG_%2.JPG"_s, u"UNKNOWN_IMG_%2.JPG|4242_IMG_%2.JPG"_s,
                              u"IMG_%2.JPG|4242_IMG_%2.JPG"_s, u"DSC%2.JPG|4242_DSC%2.JPG"_s,
                              u"555_DSC%2.JPG|4242_555_DSC%2.JPG"_s};
    for (int i = 0; i < 12; ++i) {
        const QStringList shape =
            shapes.at(i % shapes.size()).arg(QString::number(100 + i), QString::number(1000 + i)).split(u'|');
        add(s, s.working + u'/' + shape.at(0), s.working + u'/' + shape.at(1));
        s.args.append(s.working + u'/' + shape.at(0));
    }
}

// In shooting-time order (the file times), so renaming keeps each photo in its group. Two
// chains: a photo's new name is held by a photo of the next group, which moves first.
void automatic(Setup &s)
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
            add(s, s.working + u'/' + name, s.trash + u'/');
            s.args.append(name + u'=' + barcode);
        } else {
            add(s, s.working + u'/' + name, s.working + u'/' + (barcode.isEmpty() ? name : barcode + u'_' + name));
        }
    }
}

// Cycles (a three-way rotation and a swap) and a chain, as a journaled run renames them.
void swaps(Setup &s)
{
    const QString w = s.working + u'/';
    const QList<QPair<QString, QString>> steps {{w + u"r1.JPG"_s, w + u"r2.JPG"_s}, {w + u"r2.JPG"_s, w + u"r3.JPG"_s},
                                                {w + u"r3.JPG"_s, w + u"r1.JPG"_s}, {w + u"s1.JPG"_s, w + u"s2.JPG"_s},
                                                {w + u"s2.JPG"_s, w + u"s1.JPG"_s}, {w + u"h1.JPG"_s, w + u"h2.JPG"_s},
                                                {w + u"h2.JPG"_s, w + u"h3.JPG"_s}, {w + u"h3.JPG"_s, w + u"h4.JPG"_s}};
    s.args = QStringList {u"--swap-child"_s};
    for (const auto &[from, to] : steps) {
        add(s, from, to);
        s.args << from << to;
    }
}

void filing(Setup &s, const QString &destination)
{
    s.args = QStringList {u"file"_s, s.working, destination};
    s.roots.append(destination);
    s.workRoots.append(destination);
    for (int i = 0; i < 12; ++i) {
        const QString name = u"%1_IMG_%2.JPG"_s.arg(31 + i % 3).arg(2000 + i);
        const Photo &p = add(s, s.working + u'/' + name, destination + u'/' + name);
        if (i == 0) // filed before, by a run that was killed or by another station
            writeFile(destination + u'/' + name, p.bytes);
    }
    // A different photo already has the name of the second: it keeps it, ours takes a numbered one.
    s.photos[1].expected.replace(u".JPG"_s, u"-2.JPG"_s);
    const QString taken = s.photos.at(1).origin.section(u'/', -1);
    add(s, destination + u'/' + taken, destination + u'/' + taken);
    for (int i = 0; i < 2; ++i) {
        const QString left = s.working + u"/UNKNOWN_IMG_%1.JPG"_s.arg(3000 + i);
        add(s, left, left);
    }
}

void cardImport(Setup &s, const QString &card)
{
    s.staging = CardCopyRun::stagingFolderFor(s.working);
    s.args = QStringList {u"--set"_s,
                          u"prefSourcePath="_s + s.working,
                          u"import"_s,
                          u"--discard-working-folder"_s,
                          u"--threads"_s,
                          u"2"_s,
                          card};
    s.roots = QStringList {s.working, QFileInfo(s.staging).path(), s.trash, card};
    for (int i = 0; i < 12; ++i) {
        const QString name = u"IMG_%1.JPG"_s.arg(4000 + i);
        const QString folder = card + (i < 8 ? u"/DCIM/100CANON/"_s : u"/DCIM/101CANON/"_s);
        add(s, folder + name, s.working + u'/' + name).cardCopy = true;
    }
    for (int i = 0; i < 3; ++i) // the last card's photos, which the operator agreed to discard
        add(s, s.working + u"/OLD_%1.JPG"_s.arg(5000 + i), s.trash + u'/');
}

} // namespace

class TestCrashRecovery : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void killedAndFinished_data();
    void killedAndFinished();
    void killedWhileTakingALock_data();
    void killedWhileTakingALock();
    void killedOnACard_data();
    void killedOnACard();
    void cleanupTestCase();

private:
    QString baseFolder(Fs fs, const QString &name);
    Setup prepare(Kind kind, Fs fs, QRandomGenerator &random, const QString &name);
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

void TestCrashRecovery::cleanupTestCase()
{
    m_exfat.reset();
    m_tmpfs.reset();
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

QString TestCrashRecovery::baseFolder(Fs fs, const QString &name)
{
    if (fs == Fs::Ext4)
        return TestSandbox::instance().makeFolder(name);
    const QString folder = m_exfat->folder() + u"/%1-%2"_s.arg(name).arg(++m_folders);
    SafeFile::makeFolders(NativePath(folder));
    return folder;
}

Setup TestCrashRecovery::prepare(Kind kind, Fs fs, QRandomGenerator &random, const QString &name)
{
    Setup s;
    s.folder = baseFolder(fs, name);
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

        const QString lost = lostPhotos(setup, censusOf(setup));
        QVERIFY2(lost.isEmpty(), qPrintable(context + u": lost after the kill: "_s + lost));
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

// A run killed between creating its lock file and writing its process id into it
// leaves an empty lock: the next run must still get through.
void TestCrashRecovery::killedWhileTakingALock_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("lock");
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    QTest::newRow("filing") << int(Kind::FilingSameFileSystem) << u"filing"_s;
    QTest::newRow("card import, its own lock") << int(Kind::CardImport) << runtime + u"/lumisort-card-import.lock"_s;
    QTest::newRow("card import, the filing lock") << int(Kind::CardImport) << u"filing"_s;
}

void TestCrashRecovery::killedWhileTakingALock()
{
    QFETCH(int, kind);
    QFETCH(QString, lock);
    if (m_strace.isEmpty())
        QSKIP("strace is not installed");
    QRandomGenerator random(quint32(m_seed) + quint32(qHash(QByteArray(QTest::currentDataTag()))));
    const Setup setup = prepare(Kind(kind), Fs::Ext4, random, u"lock-%1"_s.arg(kind));
    KillPoint kill;
    kill.lockPath = lock == u"filing"_s ? FilingRun::lockPathFor(setup.working) : lock;
    SafeFile::makeFolders(NativePath(QFileInfo(kill.lockPath).path()), 0700); // strace watches a path it can resolve
    const Finished killed = run(setup, kill);
    QVERIFY2(killed.killed, qPrintable(killed.output));
    const QString failed = finishAfterKill(Kind(kind), setup, false, false);
    QVERIFY2(failed.isEmpty(), qPrintable(failed));
    const QString misplaced = misplacedPhotos(setup, censusOf(setup), false);
    QVERIFY2(misplaced.isEmpty(), qPrintable(misplaced));
}

// A run on a FUSE card killed at the given rename call is finished by the next command,
// and then undone, after the card numbered its files afresh once the kernel forgot them
// (memory pressure, the card put in again): a photo hidden for a swap, or put in the
// trash, is still found. When another file took the name meant for a hidden photo, the
// photo ends under a name the operator can see.
void TestCrashRecovery::killedOnACard_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("killAt");
    QTest::addColumn<bool>("nameTaken");
    QTest::newRow("swap cycle begun, files numbered afresh") << int(Kind::Swaps) << 5 << false;
    QTest::newRow("swap cycle all but done, r2.JPG taken meanwhile") << int(Kind::Swaps) << 7 << true;
    QTest::newRow("a barcode photo in the trash, files numbered afresh") << int(Kind::Automatic) << 13 << false;
}

void TestCrashRecovery::killedOnACard()
{
    QFETCH(int, kind);
    QFETCH(int, killAt);
    QFETCH(bool, nameTaken);
    SKIP_UNLESS_MOUNTED(*m_exfat);
    if (m_strace.isEmpty())
        QSKIP("strace is not installed");
    QRandomGenerator random {quint32(m_seed)};
    Setup setup = prepare(Kind(kind), Fs::ExFat, random, u"card"_s);
    KillPoint kill;
    kill.call = u"rename"_s;
    kill.when = killAt;
    QVERIFY(run(setup, kill).killed);
    const auto forget = [] {
        ::sync();
        QFile dropCaches(u"/proc/sys/vm/drop_caches"_s);
        return dropCaches.open(QIODevice::WriteOnly) && dropCaches.write("2") == 1;
    };
    if (nameTaken) {
        QVERIFY(writeFile(setup.working + u"/r2.JPG"_s, "another program's file"));
        setup.photos.first().expected = setup.working + u"/r1-kept-1.JPG"_s;
    } else if (!forget()) {
        QSKIP("the kernel's caches cannot be dropped here");
    }
    QCOMPARE(finishAfterKill(Kind(kind), setup, true, true), QString());
    QCOMPARE(misplacedPhotos(setup, censusOf(setup), false), QString());
    if (!nameTaken && forget()) {
        const Finished undone = run(setup, {}, {u"undo"_s, setup.working});
        QVERIFY2(undone.exitCode == 0, qPrintable(undone.output));
        QCOMPARE(misplacedPhotos(setup, censusOf(setup), true), QString());
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
