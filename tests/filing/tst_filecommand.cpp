#include "ScopedMount.h"
#include "TestMain.h"
#include "TracedEnvironment.h"
#include "filing/FilingRun.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <array>

using namespace Qt::StringLiterals;

// `lumisort-cli file` as a script runs it: a real process on the sandbox's settings,
// filing a second card of the same day whose numbering restarted.
class TestFileCommand : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_work = TestSandbox::instance().makeFolder(u"work"_s);
        m_root = TestSandbox::instance().makeFolder(u"dest"_s);
    }

    // The same names across file systems are rows of TestFilingRun::nameTaken; here is what the command
    // says. A card mixing naming styles, a second card of the day whose numbering restarted, documents
    // and a photo renamed by hand: what the import brought in and what reassignments gave (each command
    // a new process, reading the folder's record from disk) decide what is filed, not the part count,
    // and the sections agree with what filing takes.
    void filesExactlyTheBarcodedPhotos()
    {
        const QString card = TestSandbox::instance().makeFolder(u"card"_s);
        for (const QString &name :
             {u"DSCN0010.JPG"_s, u"HMD_Nokia_8.3_5G.jpg"_s, u"IMG_0001.JPG"_s, u"IMG_20261207_093012.jpg"_s})
            QVERIFY(writeFile(card + u"/DCIM/100MIXED/"_s + name, name.toUtf8()));
        const CliRun imported = cli({u"--set"_s, u"prefSourcePath="_s + m_work, u"import"_s, card});
        QCOMPARE(imported.status, 0);
        QVERIFY2(imported.out.contains(u"mixes naming styles"_s), qPrintable(imported.out));
        const QString day = m_root + u"/day/"_s, unassigned = m_root + u"/UNASSIGNED_PHOTOS/day/"_s;
        const QString p4 = u"2000000000015_IMG_0004.JPG"_s, p5 = u"2000000000015_IMG_0005.JPG"_s;
        const QStringList notPhotos {u"2000000000015_DSCN0010.THM"_s, u"2000000000015_DSCN0010.XMP"_s,
                                     u"2000000000015_clip_0001.MOV"_s, u"a_b_c"_s, u"tax_return_2024.pdf"_s};
        for (const QString &name : notPhotos)
            QVERIFY(writeFile(m_work + u'/' + name, name.toUtf8()));
        QVERIFY(writeFiles({day + p4 + u"=first card 4"_s, day + p5 + u"=first card 5"_s,
                            unassigned + u"IMG_0001.JPG=first card 1"_s, m_work + u'/' + p4 + u"=second card 4"_s,
                            m_work + u'/' + p5 + u"=first card 5"_s, // filed before
                            m_work + u"/2000000000015_IMG_0006.JPG=second card 6"_s,
                            m_work + u"/P26-0417_DSCN0012.jpg=by hand"_s}));
        for (const QString &given : {u"2000000000015 DSCN0010.JPG"_s, u"2000000000022 IMG_20261207_093012.jpg"_s,
                                     u"2000000000039 2000000000022_IMG_20261207_093012.jpg"_s})
            QCOMPARE(
                cli({u"reassign"_s, u"--barcode"_s, given.section(u' ', 0, 0), m_work + u'/' + given.section(u' ', 1)})
                    .status,
                0);
        QStringList shown;
        const QJsonDocument sections = QJsonDocument::fromJson(cli({u"sections"_s, u"--json"_s, m_work}).out.toUtf8());
        for (const QJsonValue &section : sections[u"sections"_s].toArray())
            for (const QJsonValue &photo : section[u"photos"_s].toArray())
                shown << section[u"barcodeid"_s].toString() + u' ' + photo.toString();
        shown.sort(); // the photos' order follows their times, which the copies may share
        QCOMPARE(shown,
                 QStringList({u"2000000000015 2000000000015_DSCN0010.JPG"_s, u"2000000000015 "_s + p4,
                              u"2000000000015 "_s + p5, u"2000000000015 2000000000015_IMG_0006.JPG"_s,
                              u"2000000000039 2000000000039_IMG_20261207_093012.jpg"_s,
                              u"?originalFileName? HMD_Nokia_8.3_5G.jpg"_s, u"?originalFileName? IMG_0001.JPG"_s,
                              u"?originalFileName? P26-0417_DSCN0012.jpg"_s}));

        const CliRun run = cli({u"file"_s, m_work});
        QCOMPARE(run.status, 0);
        QCOMPARE(filesWithContents(m_root),
                 QStringList({u"UNASSIGNED_PHOTOS/day/HMD_Nokia_8.3_5G.jpg=HMD_Nokia_8.3_5G.jpg"_s,
                              u"UNASSIGNED_PHOTOS/day/IMG_0001-2.JPG=IMG_0001.JPG"_s,
                              u"UNASSIGNED_PHOTOS/day/IMG_0001.JPG=first card 1"_s,
                              u"UNASSIGNED_PHOTOS/day/P26-0417_DSCN0012.jpg=by hand"_s,
                              u"day/2000000000015_DSCN0010.JPG=DSCN0010.JPG"_s,
                              u"day/2000000000015_IMG_0004-2.JPG=second card 4"_s, u"day/"_s + p4 + u"=first card 4"_s,
                              u"day/"_s + p5 + u"=first card 5"_s, u"day/2000000000015_IMG_0006.JPG=second card 6"_s,
                              u"day/2000000000039_IMG_20261207_093012.jpg=IMG_20261207_093012.jpg"_s}));
        QCOMPARE(QDir(m_work).entryList(QDir::Files, QDir::Name), notPhotos);
        for (
            const QString &line : QStringList {
                u"moved\t"_s + p4 + u'\t' + day + u"2000000000015_IMG_0004-2.JPG\tnew name"_s,
                u"moved\t"_s + p5 + u'\t' + day + p5 + u"\talready filed"_s,
                u"unassigned\tIMG_0001.JPG\t"_s + unassigned + u"IMG_0001-2.JPG\tnew name"_s,
                p4 + u" \u2192 "_s + day + u"2000000000015_IMG_0004-2.JPG"_s, p5 + u" \u2192 "_s + day + p5,
                u"Finished Moving ReAssigned Files - 5 Files Stay in the Working Folder\nMoved 5 out of 5 Allowed Files."_s,
                u"5 files stay in the working folder: 5 files that are not photos."_s,
                u"check whether they carry a barcode:\nP26-0417_DSCN0012.jpg"_s})
            QVERIFY2(run.out.contains(line), qPrintable(run.out));
    }

    void refused_data()
    {
        QTest::addColumn<QString>("pattern"); // of the daily folder
        // {trash} and {home} stand for folders; empty: the settings' destination.
        QTest::addColumn<QString>("destination");
        QTest::addColumn<bool>("stored"); // in the settings file, as a hand edit or an older version left it
        QTest::addColumn<QString>("reason");
        // Each kind of folder the rule refuses (a camera card, a link to it, a disk without a camera
        // folder accepted) is a row of TestCommandLine::options, and a destination inside the working folder
        // one of TestFilingRun::refusedBeforeAnythingMoves; here, that filing asks the rule for a
        // destination given on the command line and for one stored.
        QTest::newRow("daily folder pattern of '..'")
            << u"'..'"_s << QString() << false << u"folder above the destination"_s;
        QTest::newRow("home trash") << u"'day'"_s << u"{trash}/files"_s << false << u"in the trash"_s;
        QTest::newRow("home folder itself") << u"'day'"_s << u"{home}"_s << true << u"home folder itself"_s;
    }

    void refused()
    {
        QFETCH(QString, pattern);
        QFETCH(QString, destination);
        QFETCH(bool, stored);
        QFETCH(QString, reason);
        TestSandbox &sandbox = TestSandbox::instance();
        destination.replace(u"{trash}"_s, sandbox.dataHome() + u"/Trash"_s).replace(u"{home}"_s, sandbox.home());
        QVERIFY(writeFile(m_work + u"/123_IMG_0001.JPG"_s, "photo"));
        const QString settingsFile = sandbox.configHome() + u"/Lumisort/org.lumisort.Lumisort.plist"_s;
        if (stored)
            QVERIFY(
                writeFile(settingsFile,
                          "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>prefDestinationPath</key><string>"
                              + destination.toUtf8() + "</string></dict></plist>"));
        const auto forget = qScopeGuard([&] { QFile::remove(settingsFile); });

        QStringList settings {u"--set"_s, u"prefDailyFolderDateFormat="_s + pattern};
        if (destination.isEmpty())
            settings << u"--set"_s << u"prefDestinationPath="_s + m_root;
        const bool given = !stored && !destination.isEmpty();
        const CliRun run =
            runCli(settings + QStringList {u"file"_s, m_work} + (given ? QStringList {destination} : QStringList()));
        QCOMPARE(run.status, 1);
        QVERIFY2(run.err.contains(reason), qPrintable(run.err));
        QCOMPARE(filesWithContents(m_work), QStringList {u"123_IMG_0001.JPG=photo"_s});
        QVERIFY(QDir(m_root).isEmpty());
        QVERIFY(QDir(QFileInfo(m_root).path()).entryList({u"123_*"_s}, QDir::Files).isEmpty());
        if (destination.isEmpty()) {
            const CliRun shown = runCli(settings + QStringList {u"daily-folder"_s});
            QCOMPARE(shown.status, 1);
            QVERIFY2(shown.out.contains(u"refused pattern\t"_s) && shown.out.contains(reason), qPrintable(shown.out));
        }
    }

    void nameTakenWhileRenaming()
    {
        // Another work station files a different photo of the same name into the shared
        // folder while this one's rename is on its way: the other photo must stay.
        const QString strace = QStandardPaths::findExecutable(u"strace"_s);
        if (strace.isEmpty())
            QSKIP("strace is not installed");
        const QString day = m_root + u"/day/"_s;
        QVERIFY(writeFile(m_work + u"/123_IMG_0004.JPG"_s, "this station"));
        QVERIFY(QDir().mkpath(day));
        const QString trace = TestSandbox::instance().makeFolder(u"trace"_s) + u"/renames"_s;
        QProcess p;
        p.setProcessEnvironment(tracedEnvironment());
        p.start(strace,
                QStringList {u"-f"_s, u"-qq"_s, u"-o"_s, trace, u"-e"_s, u"trace=rename,renameat,renameat2"_s, u"-e"_s,
                             u"inject=rename,renameat,renameat2:delay_enter=3000000"_s, TestSandbox::cliPath()}
                    + settings() + QStringList {u"file"_s, m_work});
        // strace has written the rename's start and holds the call back for three seconds,
        // ample time for the other station's photo to land first.
        QVERIFY(
            waitUntil([&] { return readFile(trace).contains(QByteArray(day.toUtf8() + "123_IMG_0004.JPG")); }, 30000));
        QVERIFY(writeFile(day + u"123_IMG_0004.JPG"_s, "other station"));
        const CliRun run = finish(p);
        QCOMPARE(run.status, 0);
        QCOMPARE(filesWithContents(day),
                 QStringList({u"123_IMG_0004-2.JPG=this station"_s, u"123_IMG_0004.JPG=other station"_s}));
        QVERIFY2(run.out.contains(u"123_IMG_0004.JPG \u2192 "_s + day + u"123_IMG_0004-2.JPG"_s), qPrintable(run.out));
    }

    void twoStationsAtOnce_data()
    {
        QTest::addColumn<bool>("exFat"); // the shared destination, else ext4
        QTest::addColumn<bool>("workOnDestination"); // the working folders are on it too
        QTest::newRow("ext4") << false << true;
        QTest::newRow("exFAT, working folders on ext4") << true << false;
        QTest::newRow("exFAT, working folders on it too") << true << true;
    }

    void twoStationsAtOnce()
    {
        // Two work stations file cards of the same names into one shared folder at the same
        // moment; some photos are the same on both (the one card filed from two places).
        QFETCH(bool, exFat);
        QFETCH(bool, workOnDestination);
        std::optional<ScopedMount> mount;
        if (exFat) {
            mount.emplace(ScopedMount::fuseImage(ScopedMount::FuseKind::ExFat, m_work + u"/card.img"_s,
                                                 m_root + u"/share"_s, 64));
            SKIP_UNLESS_MOUNTED(*mount);
        }
        const QString share = mount ? mount->folder() : m_root;
        const QString stations = workOnDestination ? share : TestSandbox::instance().makeFolder(u"stations"_s);
        constexpr int cFiller = 64 * 1024;
        for (int round = 1; round <= 20; ++round) {
            const QString into = share + u"/round"_s + QString::number(round);
            QStringList expected; // "name without its number=what follows the filler"
            std::array<QString, 2> work;
            std::array<QProcess, 2> runs;
            for (int station = 0; station < 2; ++station) {
                work[station] = stations + u"/station%1-%2"_s.arg(station).arg(round);
                for (int i = 1; i <= 6; ++i) {
                    const bool same = i % 2 == 1;
                    const QString name = u"2000000000015_IMG_%1.JPG"_s.arg(i, 4, 10, QLatin1Char('0'));
                    const QString tag = same ? u"same"_s : u"station "_s + QString::number(station);
                    QVERIFY(
                        writeFile(work[station] + u'/' + name, QByteArray(cFiller, 'a' + char(i)) + tag.toLatin1()));
                    if (!same || station == 0)
                        expected << name + u'=' + tag;
                }
            }
            for (int station = 0; station < 2; ++station)
                runs[station].start(TestSandbox::cliPath(), settings() + QStringList {u"file"_s, work[station], into});
            const std::array<CliRun, 2> done {finish(runs[0]), finish(runs[1])};
            for (int station = 0; station < 2; ++station) {
                QVERIFY2(done[station].status == 0,
                         qPrintable(u"round %1, station %2:\n"_s.arg(round).arg(station) + done[station].out
                                    + done[station].err));
                QVERIFY2(QDir(work[station]).isEmpty(), qPrintable(done[station].out));
            }
            // Each photo once: a different one under the next number, the same one only once.
            QStringList filed;
            for (const QString &file : filesWithContents(into))
                filed << file.section(u'=', 0, 0) + u'=' + file.section(u'=', 1).mid(cFiller);
            const QStringList asFiled = filed;
            filed.replaceInStrings(u"-2.JPG="_s, u".JPG="_s);
            filed.sort();
            expected.sort();
            QVERIFY2(filed == expected, qPrintable(u"round %1:\n"_s.arg(round) + asFiled.join(u'\n')));
        }
    }

    void oneRunPerFolderHoweverItIsTyped()
    {
        const QString link = TestSandbox::instance().makeFolder(u"links"_s) + u"/work"_s;
        QVERIFY(QFile::link(m_work, link));
        const QString lockPath = FilingRun::lockPathFor(m_work);
        for (const QString &typed :
             QStringList {link, link + u'/', m_work + u'/', m_work + u"/../"_s + QFileInfo(m_work).fileName()})
            QVERIFY2(FilingRun::lockPathFor(typed) == lockPath, qPrintable(typed));

        QVERIFY(writeFile(m_work + u"/123_IMG_0001.JPG"_s, "photo"));
        QLockFile running(lockPath); // a run on the folder as first typed
        QVERIFY(running.tryLock(0));
        const CliRun second = cli({u"file"_s, link + u'/'});
        QCOMPARE(second.status, 1);
        QVERIFY2(second.err.contains(u"already working"_s), qPrintable(second.err));
        QCOMPARE(filesWithContents(m_work), QStringList {u"123_IMG_0001.JPG=photo"_s});
    }

private:
    // The daily folder is "day" whatever the clock says.
    QStringList settings() const
    {
        return {u"--set"_s, u"prefDestinationPath="_s + m_root, u"--set"_s, u"prefDailyFolderDateFormat='day'"_s,
                u"--set"_s, u"prefDoUnassignedProcess=true"_s,  u"--set"_s, u"prefMoveUnasignedPhotoMethodTag=1"_s,
                u"--set"_s, u"prefOriginalNameFormatTag=1"_s};
    }
    static CliRun finish(QProcess &p)
    {
        p.waitForFinished(60000);
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
                QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
    }
    CliRun cli(const QStringList &args) const { return runCli(settings() + args, QString(), 60000); }
    // Each "path=bytes" written.
    static bool writeFiles(const QStringList &files)
    {
        return std::all_of(files.cbegin(), files.cend(), [](const QString &file) {
            return writeFile(file.section(u'=', 0, 0), file.section(u'=', 1).toUtf8());
        });
    }
    QString m_work;
    QString m_root;
};

LUMISORT_CORE_TEST_MAIN(TestFileCommand)
#include "tst_filecommand.moc"
