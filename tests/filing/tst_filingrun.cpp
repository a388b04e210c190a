#include "ScopedMount.h"
#include "TestMain.h"
#include "filing/DestinationPathRules.h"
#include "filing/FilingRun.h"
#include "settings/SettingsKeys.h"
#include "settings/SettingsStore.h"
#include "support/SafeFile.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <fcntl.h>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

class TestFilingRun : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void filing_data();
    void filing();
    void nameTaken_data();
    void nameTaken();
    void refusedBeforeAnythingMoves_data();
    void refusedBeforeAnythingMoves();
    void failedUnassignedMoveIsNeverAllFine();
    void stopsWithoutSummary();
    void acrossFileSystemsWithAFullDestination();
    void killedMoveIsCleanedUp_data();
    void killedMoveIsCleanedUp();
    void stopRequestEndsBetweenPhotos();

private:
    QString m_source;
    QString m_root; // destination root
    static QStringList namesIn(const QString &folder)
    {
        return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }
    // "relative/path=bytes" for every file below the folder, hidden ones included.
    static QStringList contentsOf(const QString &folder) { return filesWithContents(folder); }
};

void TestFilingRun::init()
{
    m_source = TestSandbox::instance().makeFolder(u"work"_s);
    m_root = TestSandbox::instance().makeFolder(u"dest"_s);
    SettingsStore &store = SettingsStore::standard();
    store.setString(m_root, cPrefDestinationPath);
    store.removeObjectForKey(cPrefDailyFolderDateFormat);
    store.setInteger(1, cPrefOriginalNameFormatTag);
    store.setBool(false, cPrefDoUnassignedProcess);
    store.setInteger(0, cPrefMoveUnasignedPhotoMethodTag);
}

void TestFilingRun::filing_data()
{
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<bool>("unassignedFolder");
    QTest::addColumn<int>("moveTag");
    QTest::addColumn<QStringList>("filed"); // in the daily folder afterwards
    QTest::addColumn<QStringList>("unassigned"); // in UNASSIGNED_PHOTOS afterwards
    QTest::addColumn<QStringList>("stayed"); // still in the working folder
    QTest::addColumn<QString>("title");
    const QString none = u"Somehow NO Files to Move/Copy..."_s;
    // Only photos are filed: the notes stay whatever their name says.
    const QString staying = u"Finished Moving ReAssigned Files - %1 in the Working Folder"_s;
    const QStringList mixed {u"123_IMG_0001.JPG"_s, u"IMG_0002.JPG"_s, u"UNKNOWN_IMG_0003.JPG"_s,
                             u"unknown_a_b_c_d.jpg"_s, u"123_IMG_notes.txt"_s};
    QTest::newRow("empty folder") << QStringList() << false << 0 << QStringList() << QStringList() << QStringList()
                                  << none;
    QTest::newRow("all unassigned, left in place")
        << QStringList {u"IMG_0002.JPG"_s, u"UNKNOWN_IMG_0003.JPG"_s} << true << 0 << QStringList() << QStringList()
        << QStringList {u"IMG_0002.JPG"_s, u"UNKNOWN_IMG_0003.JPG"_s} << none;
    QTest::newRow("unassigned left in place, the rest filed")
        << mixed << false << 0 << QStringList {u"123_IMG_0001.JPG"_s} << QStringList()
        << QStringList {u"IMG_0002.JPG"_s, u"UNKNOWN_IMG_0003.JPG"_s, u"unknown_a_b_c_d.jpg"_s, u"123_IMG_notes.txt"_s}
        << staying.arg(u"4 Files Stay"_s);
    QTest::newRow("unassigned to their folder")
        << mixed << true << 1 << QStringList {u"123_IMG_0001.JPG"_s}
        << QStringList {u"IMG_0002.JPG"_s, u"UNKNOWN_IMG_0003.JPG"_s, u"unknown_a_b_c_d.jpg"_s}
        << QStringList {u"123_IMG_notes.txt"_s} << staying.arg(u"1 File Stays"_s);
    QTest::newRow("unassigned to be moved but no folder: daily folder")
        << mixed << false << 1 << mixed.mid(0, 4) << QStringList() << QStringList {u"123_IMG_notes.txt"_s}
        << staying.arg(u"1 File Stays"_s);
}

void TestFilingRun::filing()
{
    QFETCH(QStringList, files);
    QFETCH(bool, unassignedFolder);
    QFETCH(int, moveTag);
    QFETCH(QStringList, filed);
    QFETCH(QStringList, unassigned);
    QFETCH(QStringList, stayed);
    QFETCH(QString, title);
    SettingsStore::standard().setBool(unassignedFolder, cPrefDoUnassignedProcess);
    SettingsStore::standard().setInteger(moveTag, cPrefMoveUnasignedPhotoMethodTag);
    for (const QString &name : files)
        QVERIFY(writeFile(m_source + u'/' + name, name.toUtf8()));
    // Folders are never filed nor entered.
    QVERIFY(writeFile(m_source + u"/_extras/123_x.jpg"_s, "x"));
    QVERIFY(writeFile(m_source + u"/sub/123_y.jpg"_s, "y"));

    const QString daily = m_root + u"/daily"_s;
    const FilingRun::Result result = FilingRun::run(m_source, daily);
    QVERIFY(result.summary);
    QCOMPARE(result.summary->title, title);
    QCOMPARE(result.summary->total, files.size());
    QCOMPARE(result.summary->moved, filed.size());
    std::sort(filed.begin(), filed.end());
    std::sort(unassigned.begin(), unassigned.end());
    std::sort(stayed.begin(), stayed.end());
    QCOMPARE(namesIn(daily), filed);
    QCOMPARE(namesIn(m_root + u"/UNASSIGNED_PHOTOS"_s), unassigned);
    QCOMPARE(namesIn(m_source), stayed);
    QVERIFY(QFileInfo::exists(m_source + u"/_extras/123_x.jpg"_s));
    QVERIFY(QFileInfo::exists(m_source + u"/sub/123_y.jpg"_s));
    for (const QString &name : std::as_const(filed))
        QCOMPARE(readFile(daily + u'/' + name), name.toUtf8());
}

void TestFilingRun::nameTaken_data()
{
    // A second card of the same day restarts its numbering: names meet names already filed.
    // Files are "relative path=bytes" below the destination root ("path/" is a folder).
    QTest::addColumn<bool>("otherFileSystem");
    QTest::addColumn<QStringList>("present");
    QTest::addColumn<QString>("photo"); // "name=bytes" in the working folder
    QTest::addColumn<QStringList>("after"); // below the root afterwards
    QTest::addColumn<bool>("stays"); // the photo is still in the working folder
    QTest::addColumn<QString>("named"); // in the summary text; empty: nothing named
    const QString long255 = u"123_IMG_"_s + QString(243, u'A') + u".JPG"_s;
    const QString d = u"daily/"_s, u = u"UNASSIGNED_PHOTOS/"_s, p = u"123_IMG_0004.JPG"_s;
    for (const bool other : {false, true}) {
        const auto row = [other](const char *name) {
            return &(QTest::newRow(qPrintable(QString::fromLatin1(name) + (other ? u", other fs"_s : QString())))
                     << other);
        };
        *row("identical: already filed") << QStringList {d + p + u"=A"_s} << p + u"=A"_s
                                         << QStringList {d + p + u"=A"_s} << false << d + p;
        *row("different: numbered name") << QStringList {d + p + u"=A"_s} << p + u"=B"_s
                                         << QStringList {d + u"123_IMG_0004-2.JPG=B"_s, d + p + u"=A"_s} << false
                                         << d + u"123_IMG_0004-2.JPG"_s;
        *row("numbered name taken too") << QStringList {d + p + u"=A"_s, d + u"123_IMG_0004-2.JPG=C"_s}
                                        << p
                + u"=B"_s << QStringList {d + u"123_IMG_0004-2.JPG=C"_s, d + u"123_IMG_0004-3.JPG=B"_s, d + p + u"=A"_s}
                                        << false << d + u"123_IMG_0004-3.JPG"_s;
        *row("identical to the numbered one")
            << QStringList {d + p + u"=A"_s, d + u"123_IMG_0004-2.JPG=B"_s} << p + u"=B"_s
            << QStringList {d + u"123_IMG_0004-2.JPG=B"_s, d + p + u"=A"_s} << false << d + u"123_IMG_0004-2.JPG"_s;
        *row("a folder has the name") << QStringList {d + p + u"/"_s} << p + u"=B"_s
                                      << QStringList {d + u"123_IMG_0004-2.JPG=B"_s} << false
                                      << d + u"123_IMG_0004-2.JPG"_s;
        *row("unassigned photo") << QStringList {u + u"IMG_0001.JPG=A"_s} << u"IMG_0001.JPG=B"_s
                                 << QStringList {u + u"IMG_0001-2.JPG=B"_s, u + u"IMG_0001.JPG=A"_s} << false
                                 << u + u"IMG_0001-2.JPG"_s;
        *row("too long for a number") << QStringList {d + long255 + u"=A"_s} << long255 + u"=B"_s
                                      << QStringList {d + long255 + u"=A"_s} << true << QString();
    }
}

void TestFilingRun::nameTaken()
{
    QFETCH(bool, otherFileSystem);
    QFETCH(QStringList, present);
    QFETCH(QString, photo);
    QFETCH(QStringList, after);
    QFETCH(bool, stays);
    QFETCH(QString, named);
    std::optional<ScopedMount> mount;
    if (otherFileSystem) {
        mount.emplace(ScopedMount::tmpfs(m_root, u"4m"_s));
        SKIP_UNLESS_MOUNTED(*mount);
    }
    SettingsStore::standard().setBool(true, cPrefDoUnassignedProcess);
    SettingsStore::standard().setInteger(1, cPrefMoveUnasignedPhotoMethodTag);
    for (const QString &file : std::as_const(present)) {
        if (file.endsWith(u'/'))
            QVERIFY(QDir().mkpath(m_root + u'/' + file));
        else
            QVERIFY(writeFile(m_root + u'/' + file.section(u'=', 0, 0), file.section(u'=', 1).toUtf8()));
    }
    const QString name = photo.section(u'=', 0, 0);
    QVERIFY(writeFile(m_source + u'/' + name, photo.section(u'=', 1).toUtf8()));

    const FilingRun::Result result = FilingRun::run(m_source, m_root + u"/daily"_s);
    QVERIFY(result.summary);
    QCOMPARE(contentsOf(m_root), after); // nothing replaced, no temporary left
    QCOMPARE(namesIn(m_source), stays ? QStringList {name} : QStringList());
    QCOMPARE(result.summary->failures, stays ? 1 : 0);
    if (!named.isEmpty())
        QVERIFY2(result.summary->text.contains(name + u" \u2192 "_s + m_root + u'/' + named),
                 qPrintable(result.summary->text));
    if (stays || named.startsWith(u"UNASSIGNED"_s))
        QCOMPARE(result.summary->moved, 0);
    else
        QCOMPARE(result.summary->text.left(32), u"Moved 1 out of 1 Allowed File.\nF"_s);
}

void TestFilingRun::refusedBeforeAnythingMoves_data()
{
    // How the working folder and the destination meet; "pattern:" rows store a daily folder pattern.
    QTest::addColumn<QString>("layout");
    QTest::addColumn<int>("stop");
    QTest::addColumn<QString>("reason"); // part of the reason
    const int into = int(FilingRun::Stop::IntoItself), bad = int(FilingRun::Stop::BadDestination);
    QTest::newRow("destination is the working folder") << u"same"_s << into << u"working folder itself"_s;
    QTest::newRow("destination inside the working folder") << u"inside"_s << into << u"inside the working"_s;
    QTest::newRow("destination reached through a link") << u"link"_s << into << u"inside the working"_s;
    QTest::newRow("working folder mounted a second time") << u"bind"_s << into << u"inside the working"_s;
    QTest::newRow("working folder inside the daily folder") << u"below"_s << into << u"inside the destination"_s;
    QTest::newRow("unassigned folder is the working folder") << u"unassigned"_s << into << u"unassigned-photos"_s;
    QTest::newRow("path through ..") << u"dotdot"_s << bad << u"\"..\""_s;
    QTest::newRow("pattern: quoted ..") << u"pattern:'..'"_s << bad << u"folder above"_s;
    QTest::newRow("pattern: ..") << u"pattern:.."_s << bad << u"folder above"_s;
    QTest::newRow("pattern: quoted .") << u"pattern:'.'"_s << bad << u"directly in the destination"_s;
    QTest::newRow("pattern: no name") << u"pattern:j"_s << bad << u"no folder name"_s;
    QTest::newRow("pattern: blank") << u"pattern:'  '"_s << bad << u"no folder name"_s;
}

void TestFilingRun::refusedBeforeAnythingMoves()
{
    QFETCH(QString, layout);
    QFETCH(int, stop);
    QFETCH(QString, reason);
    SettingsStore &store = SettingsStore::standard();
    store.setBool(true, cPrefDoUnassignedProcess);
    QString source = m_source;
    QString daily = m_root + u"/daily"_s;
    std::optional<ScopedMount> bound;
    if (layout == u"same"_s) {
        daily = m_source;
    } else if (layout == u"inside"_s) {
        daily = m_source + u"/daily"_s;
    } else if (layout == u"link"_s) {
        QVERIFY(QFile::link(m_source, m_root + u"/link"_s));
        daily = m_root + u"/link/daily"_s;
    } else if (layout == u"bind"_s) {
        bound.emplace(ScopedMount::bind(m_source, m_root + u"/bound"_s));
        SKIP_UNLESS_MOUNTED(*bound);
        daily = m_root + u"/bound/daily"_s;
    } else if (layout == u"below"_s) {
        source = daily + u"/work"_s;
    } else if (layout == u"unassigned"_s) {
        source = m_root + u"/UNASSIGNED_PHOTOS"_s;
    } else if (layout == u"dotdot"_s) {
        daily = m_root + u"/daily/.."_s;
    } else {
        store.setString(layout.section(u':', 1), cPrefDailyFolderDateFormat);
        daily = *DestinationPathRules::formPathToImageInsideMainImagesFolder(QString());
        QCOMPARE(daily, m_root); // the rules never name a folder outside the destination
    }
    QVERIFY(writeFile(source + u"/123_IMG_0001.JPG"_s, "photo"));
    QVERIFY(writeFile(source + u"/IMG_0002.JPG"_s, "unassigned"));
    const QStringList before = contentsOf(m_root);
    const QStringList sourceBefore = contentsOf(source);

    const FilingRun::Result result = FilingRun::run(source, daily);
    QCOMPARE(int(result.stop), stop);
    QVERIFY2(result.reason.contains(reason) && result.reason.endsWith(u"Nothing was moved."_s),
             qPrintable(result.reason));
    QVERIFY(!result.summary);
    QCOMPARE(contentsOf(source), sourceBefore);
    QCOMPARE(contentsOf(m_root), before);
    QVERIFY(!QFileInfo::exists(m_source + u"/daily"_s));
}

void TestFilingRun::failedUnassignedMoveIsNeverAllFine()
{
    SettingsStore::standard().setBool(true, cPrefDoUnassignedProcess);
    SettingsStore::standard().setInteger(1, cPrefMoveUnasignedPhotoMethodTag);
    QVERIFY(writeFile(m_root + u"/UNASSIGNED_PHOTOS"_s, "a file where the folder should be"));
    QVERIFY(writeFile(m_source + u"/IMG_0002.JPG"_s, "photo"));
    const FilingRun::Result result = FilingRun::run(m_source, m_root + u"/daily"_s);
    // The photo reached the daily folder instead, but the failed move shows.
    QCOMPARE(readFile(m_root + u"/daily/IMG_0002.JPG"_s), QByteArray("photo"));
    QCOMPARE(result.summary->title, u"Possible Issue(s) with Moving ReAssigned Files..."_s);
}

void TestFilingRun::stopsWithoutSummary()
{
    QCOMPARE(FilingRun::run(QString(), m_root).stop, FilingRun::Stop::MissingSource);
    QCOMPARE(FilingRun::run(m_source, QString()).stop, FilingRun::Stop::MissingDestination);
    const FilingRun::Result unlistable = FilingRun::run(m_source + u"/gone"_s, m_root + u"/daily"_s);
    QCOMPARE(unlistable.stop, FilingRun::Stop::Unlistable);
    QVERIFY(unlistable.reason.contains(u"ENOENT"_s));

    // A second run on the same folder while one holds it is refused.
    QVERIFY(writeFile(m_source + u"/123_a.jpg"_s, "a"));
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    QDir runtimeDir(runtime);
    FilingRun::Result nested;
    FilingRun::run(m_source, m_root + u"/daily"_s, [&](const FilingRun::Event &) {
        if (nested.stop == FilingRun::Stop::None)
            nested = FilingRun::run(m_source, m_root + u"/other"_s);
    });
    QCOMPARE(nested.stop, FilingRun::Stop::AlreadyRunning);
    QVERIFY(!QFileInfo::exists(m_root + u"/other/123_a.jpg"_s));
    QVERIFY(runtimeDir.entryList({u"lumisort-filing-*.lock"_s}, QDir::Files).isEmpty()); // released
}

void TestFilingRun::acrossFileSystemsWithAFullDestination()
{
    // Working folder and destination on two file systems; the destination fills up mid-run.
    ScopedMount source = ScopedMount::tmpfs(TestSandbox::instance().makeFolder(u"srcfs"_s), u"8m"_s);
    SKIP_UNLESS_MOUNTED(source);
    ScopedMount destination = ScopedMount::tmpfs(TestSandbox::instance().makeFolder(u"dstfs"_s), u"1m"_s);
    SKIP_UNLESS_MOUNTED(destination);
    QHash<QString, QByteArray> photos;
    for (int i = 1; i <= 12; ++i) {
        const QString name = u"123_IMG_%1.JPG"_s.arg(i, 4, 10, QLatin1Char('0'));
        QByteArray bytes(200 * 1024, char('a' + i));
        photos.insert(name, bytes);
        QVERIFY(writeFile(source.folder() + u'/' + name, bytes));
    }
    const QString daily = destination.folder() + u"/daily"_s;
    const FilingRun::Result result = FilingRun::run(source.folder(), daily);
    QVERIFY(result.summary);
    QVERIFY(result.summary->moved > 0);
    QVERIFY(result.summary->moved < 12);
    QCOMPARE(result.summary->title, u"Possible Issue(s) with Moving ReAssigned Files..."_s);
    // Nothing lost: every photo is whole in exactly one place, and no temporary is left.
    for (auto it = photos.cbegin(); it != photos.cend(); ++it) {
        const bool filed = QFileInfo::exists(daily + u'/' + it.key());
        const bool kept = QFileInfo::exists(source.folder() + u'/' + it.key());
        QVERIFY2(filed != kept, qPrintable(it.key()));
        QCOMPARE(readFile((filed ? daily : source.folder()) + u'/' + it.key()), it.value());
    }
    QCOMPARE(namesIn(daily).size(), result.summary->moved);
}

void TestFilingRun::killedMoveIsCleanedUp_data()
{
    // lumisort-cli killed while filing; the next run leaves only the photo.
    QTest::addColumn<bool>("exFat"); // else tmpfs
    QTest::addColumn<QString>("kill"); // "call", or "call@photo"/"call@target" to count only calls on that path
    // Someone put an empty file of their own (an hour old, as a copied file keeps its time) in the claim's place.
    QTest::addColumn<bool>("replacedClaim");
    QTest::newRow("copy onto tmpfs, killed while writing it") << false << u"fchmod"_s << false;
    // exFAT has no rename that refuses to replace: an empty claim holds the name first.
    QTest::newRow("exFAT, killed before renaming over the claim") << true << u"rename@photo"_s << false;
    QTest::newRow("exFAT, killed right after claiming") << true << u"close@target"_s << false;
    QTest::newRow("exFAT, someone else's empty file in the claim's place") << true << u"rename@photo"_s << true;
    QTest::newRow("exFAT, someone else's empty file, claim not yet noted") << true << u"close@target"_s << true;
}

void TestFilingRun::killedMoveIsCleanedUp()
{
    QFETCH(bool, exFat);
    QFETCH(QString, kill);
    QFETCH(bool, replacedClaim);
    const QString strace = QStandardPaths::findExecutable(u"strace"_s);
    if (strace.isEmpty())
        QSKIP("strace is not installed");
    const QString base = TestSandbox::instance().makeFolder(u"killfs"_s);
    ScopedMount destination = exFat
        ? ScopedMount::fuseImage(ScopedMount::FuseKind::ExFat, base + u"/card.img"_s, base + u"/mnt"_s, 16)
        : ScopedMount::tmpfs(base, u"4m"_s);
    SKIP_UNLESS_MOUNTED(destination);
    const QByteArray photo(300 * 1024, 'p');
    const QString name = u"123_IMG_0001.JPG"_s;
    // On exFAT the working folder is on the card too, so the photo itself is renamed over the claim.
    const QString work = exFat ? destination.folder() + u"/work"_s : m_source;
    QVERIFY(writeFile(work + u'/' + name, photo));
    const QString daily = destination.folder() + u"/day"_s;
    const QString target = daily + u'/' + name;
    QStringList traced {u"-e"_s, u"inject="_s + kill.section(u'@', 0, 0) + u":signal=KILL:when=1"_s};
    if (kill.contains(u'@')) // strace tells a path only once it exists
        traced = QStringList {u"-P"_s, kill.endsWith(u"@photo"_s) ? work + u'/' + name : target, u"-e"_s,
                              u"trace="_s + kill.section(u'@', 0, 0)}
            + traced;
    QProcess child;
    child.start(strace,
                QStringList {u"-f"_s, u"-qq"_s, u"-o"_s, u"/dev/null"_s} + traced
                    + QStringList {TestSandbox::cliPath(), u"--set"_s, u"prefDestinationPath="_s + destination.folder(),
                                   u"--set"_s, u"prefDailyFolderDateFormat='day'"_s, u"file"_s, work});
    QVERIFY(child.waitForFinished(60000));
    QCOMPARE(readFile(work + u'/' + name), photo);
    QStringList expected {name + u'=' + QString::fromLatin1(photo)};
    if (exFat) {
        QVERIFY2(QFileInfo(target).size() == 0, "the kill came before the claim or after the rename");
        if (replacedClaim) {
            QVERIFY(QFile::remove(target));
            QVERIFY(writeFile(target, QByteArray()));
            const timespec anHourAgo[2] = {{::time(nullptr) - 3600, 0}, {::time(nullptr) - 3600, 0}};
            QCOMPARE(::utimensat(AT_FDCWD, NativePath(target).c_str(), anHourAgo, 0), 0);
            expected = QStringList {u"123_IMG_0001-2.JPG="_s + QString::fromLatin1(photo), name + u'='};
        }
        QCOMPARE(SafeFile::removeStaleClaims(QString(daily)),
                 replacedClaim ? QList<NativePath>() : QList<NativePath> {QString(target)});
        QCOMPARE(QFileInfo::exists(target), replacedClaim);
    } else {
        const QStringList left = namesIn(daily);
        QCOMPARE(left.size(), 1);
        QVERIFY2(left.first().startsWith(u".lumisort-"_s) && left.first().endsWith(u".part"_s),
                 qPrintable(left.first()));
    }

    const FilingRun::Result result = FilingRun::run(work, daily);
    QVERIFY(result.summary);
    QCOMPARE(result.summary->moved, 1);
    QCOMPARE(contentsOf(daily), expected); // no claim, record or temporary left
}

void TestFilingRun::stopRequestEndsBetweenPhotos()
{
    for (const QString &name : {u"123_IMG_0001.JPG"_s, u"123_IMG_0002.JPG"_s, u"123_IMG_0003.JPG"_s})
        QVERIFY(writeFile(m_source + u'/' + name, name.toUtf8()));
    std::atomic<bool> stop {false};
    const QString daily = m_root + u"/daily"_s;
    // Quitting arrives while the first photo is on its way.
    const FilingRun::Result result = FilingRun::run(
        m_source, daily,
        [&stop](const FilingRun::Event &e) {
            if (e.kind == FilingRun::EventKind::Moving)
                stop = true;
        },
        &stop);
    QVERIFY(result.summary);
    // The photo under way finished (whichever was listed first); the others were never touched.
    const QStringList filed = namesIn(daily);
    QCOMPARE(filed.size(), 1);
    QCOMPARE(readFile(daily + u'/' + filed.first()), filed.first().toUtf8());
    QStringList stayed = namesIn(m_source);
    QCOMPARE(stayed.size(), 2);
    stayed << filed;
    stayed.sort();
    QCOMPARE(stayed, (QStringList {u"123_IMG_0001.JPG"_s, u"123_IMG_0002.JPG"_s, u"123_IMG_0003.JPG"_s}));
    QCOMPARE(result.summary->notReached, 2);
    QCOMPARE(result.summary->title, u"Filing Stopped"_s);
    QVERIFY(result.summary->text.startsWith(u"Stopped on request: 2 files were not filed"_s));
}

LUMISORT_CORE_TEST_MAIN(TestFilingRun)
#include "tst_filingrun.moc"
