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

    // Files are "relative path=bytes", or a name holding itself ("path/" is a folder).
    struct FilingRow
    {
        bool unassignedFolder; // cPrefDoUnassignedProcess
        int moveTag; // cPrefMoveUnasignedPhotoMethodTag
        QStringList present; // below the destination root
        QStringList work; // in the working folder
        QStringList after; // below the root afterwards
        QStringList stays; // names still in the working folder
        int moved, failures;
        QString said; // the summary's title, or with "\u2192" a line of its text ({root}: the destination)
    };

private Q_SLOTS:
    void init()
    {
        m_source = TestSandbox::instance().makeFolder(u"work"_s);
        m_root = TestSandbox::instance().makeFolder(u"dest"_s);
        store().setString(m_root, cPrefDestinationPath);
        store().removeObjectForKey(cPrefDailyFolderDateFormat);
        store().setInteger(1, cPrefOriginalNameFormatTag);
        unassignedGoToTheirFolder(false);
    }

    void filing_data()
    {
        QTest::addColumn<bool>("otherFileSystem"); // the destination's
        QTest::addColumn<FilingRow>("row");
        const auto row = [](const QString &name, bool other, bool folder, int tag, const QStringList &present,
                            const QStringList &work, const QStringList &after, const QStringList &stays, int moved,
                            int failures, const QString &said) {
            QTest::newRow(qPrintable(name))
                << other << FilingRow {folder, tag, present, work, after, stays, moved, failures, said};
        };
        const auto in = [](const QString &folder, const QStringList &names) {
            QStringList paths;
            for (const QString &name : names)
                paths << folder + name;
            return paths;
        };
        const QString none = u"Somehow NO Files to Move/Copy..."_s, d = u"daily/"_s, u = u"UNASSIGNED_PHOTOS/"_s;
        // Only photos are filed: the notes stay whatever their name says.
        const QString staying = u"Finished Moving ReAssigned Files - %1 in the Working Folder"_s;
        const QString notes = u"123_IMG_notes.txt"_s;
        const QStringList unassigned {u"IMG_0002.JPG"_s, u"UNKNOWN_IMG_0003.JPG"_s, u"unknown_a_b_c_d.jpg"_s};
        const QStringList mixed = QStringList {u"123_IMG_0001.JPG"_s} + unassigned + QStringList {notes};
        row(u"empty folder"_s, false, false, 0, {}, {}, {}, {}, 0, 0, none);
        row(u"all unassigned, left in place"_s, false, true, 0, {}, unassigned.mid(0, 2), {}, unassigned.mid(0, 2), 0,
            0, none);
        row(u"unassigned left in place, the rest filed"_s, false, false, 0, {}, mixed, in(d, mixed.mid(0, 1)),
            mixed.mid(1), 1, 0, staying.arg(u"4 Files Stay"_s));
        row(u"unassigned to their folder"_s, false, true, 1, {}, mixed, in(d, mixed.mid(0, 1)) + in(u, unassigned),
            {notes}, 1, 0, staying.arg(u"1 File Stays"_s));
        row(u"unassigned to be moved but no folder: daily folder"_s, false, false, 1, {}, mixed, in(d, mixed.mid(0, 4)),
            {notes}, 4, 0, staying.arg(u"1 File Stays"_s));
        // The photo reaches the daily folder instead, but the failed move shows.
        const QString blocked = u"UNASSIGNED_PHOTOS=a file where the folder should be"_s;
        row(u"unassigned folder blocked"_s, false, true, 1, {blocked}, {u"IMG_0002.JPG"_s},
            {blocked, d + u"IMG_0002.JPG"_s}, {}, 1, 1, u"Possible Issue(s) with Moving ReAssigned Files..."_s);

        // A second card of the same day restarts its numbering: names meet names already filed.
        const QString long255 = u"123_IMG_"_s + QString(243, u'A') + u".JPG"_s, photo = u"123_IMG_0004.JPG"_s;
        const QString p = d + photo, p2 = d + u"123_IMG_0004-2.JPG"_s, p3 = d + u"123_IMG_0004-3.JPG"_s;
        const QString arrow = photo + u" \u2192 {root}/"_s, a = u"=A"_s, b = u"=B"_s;
        for (const bool other : {false, true}) {
            const QString fs = other ? u", other fs"_s : QString();
            row(u"taken, identical: already filed"_s + fs, other, true, 1, {p + a}, {photo + a}, {p + a}, {}, 1, 0,
                arrow + p);
            row(u"taken, different: numbered name"_s + fs, other, true, 1, {p + a}, {photo + b}, {p2 + b, p + a}, {}, 1,
                0, arrow + p2);
            row(u"taken, numbered name taken too"_s + fs, other, true, 1, {p + a, p2 + u"=C"_s}, {photo + b},
                {p2 + u"=C"_s, p3 + b, p + a}, {}, 1, 0, arrow + p3);
            row(u"taken, identical to the numbered one"_s + fs, other, true, 1, {p + a, p2 + b}, {photo + b},
                {p2 + b, p + a}, {}, 1, 0, arrow + p2);
            row(u"taken, a folder has the name"_s + fs, other, true, 1, {p + u"/"_s}, {photo + b}, {p2 + b}, {}, 1, 0,
                arrow + p2);
            row(u"taken, unassigned photo"_s + fs, other, true, 1, {u + u"IMG_0001.JPG=A"_s}, {u"IMG_0001.JPG=B"_s},
                {u + u"IMG_0001-2.JPG=B"_s, u + u"IMG_0001.JPG=A"_s}, {}, 0, 0,
                u"IMG_0001.JPG \u2192 {root}/"_s + u + u"IMG_0001-2.JPG"_s);
            row(u"taken, too long for a number"_s + fs, other, true, 1, {d + long255 + a}, {long255 + b},
                {d + long255 + a}, {long255}, 0, 1, QString());
        }
    }

    void filing()
    {
        QFETCH(bool, otherFileSystem);
        QFETCH(FilingRow, row);
        std::optional<ScopedMount> mount;
        if (otherFileSystem) {
            mount.emplace(ScopedMount::tmpfs(m_root, u"4m"_s));
            SKIP_UNLESS_MOUNTED(*mount);
        }
        store().setBool(row.unassignedFolder, cPrefDoUnassignedProcess);
        store().setInteger(row.moveTag, cPrefMoveUnasignedPhotoMethodTag);
        for (const QString &file : std::as_const(row.present)) {
            if (file.endsWith(u'/'))
                QVERIFY(QDir().mkpath(m_root + u'/' + file));
            else
                QVERIFY(writeFile(m_root + u'/' + file.section(u'=', 0, 0), contentOf(file)));
        }
        for (const QString &file : std::as_const(row.work))
            QVERIFY(writeFile(m_source + u'/' + file.section(u'=', 0, 0), contentOf(file)));
        // Folders are never filed nor entered.
        QVERIFY(writeFile(m_source + u"/_extras/123_x.jpg"_s, "x"));
        QVERIFY(writeFile(m_source + u"/sub/123_y.jpg"_s, "y"));

        const FilingRun::Result result = FilingRun::run(m_source, m_root + u"/daily"_s);
        QVERIFY(result.summary);
        QStringList after;
        for (const QString &file : std::as_const(row.after))
            after << file.section(u'=', 0, 0) + u'=' + QString::fromUtf8(contentOf(file));
        QCOMPARE(filesWithContents(m_root), sorted(after)); // nothing replaced, no temporary left
        QCOMPARE(namesIn(m_source), sorted(row.stays));
        QVERIFY(QFileInfo::exists(m_source + u"/_extras/123_x.jpg"_s));
        QVERIFY(QFileInfo::exists(m_source + u"/sub/123_y.jpg"_s));
        QCOMPARE(result.summary->total, row.work.size());
        QCOMPARE(result.summary->moved, row.moved);
        QCOMPARE(result.summary->failures, row.failures);
        if (row.said.contains(u'\u2192'))
            QVERIFY2(result.summary->text.contains(row.said.replace(u"{root}"_s, m_root)),
                     qPrintable(result.summary->text));
        else if (!row.said.isEmpty())
            QCOMPARE(result.summary->title, row.said);
        if (row.moved > 0)
            QVERIFY2(result.summary->text.startsWith(u"Moved %1 out of %1 Allowed File"_s.arg(row.moved)),
                     qPrintable(result.summary->text));
    }

    void refusedBeforeAnythingMoves_data()
    {
        // How the working folder and the destination meet: {work} and {root} stand for them. A link or
        // a second mount of the working folder is made at {root}/link or {root}/bound first.
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("daily"); // "pattern:P": the rules' folder for the stored daily folder pattern P
        QTest::addColumn<int>("stop");
        QTest::addColumn<QString>("reason"); // part of the reason
        const int into = int(FilingRun::Stop::IntoItself), bad = int(FilingRun::Stop::BadDestination);
        const QString work = u"{work}"_s, inDaily = u"{root}/daily"_s, inside = u"inside the working"_s;
        const auto row = [](const char *name, const QString &source, const QString &daily, int stop,
                            const QString &why) { QTest::newRow(name) << source << daily << stop << why; };
        row("destination is the working folder", work, work, into, u"working folder itself"_s);
        row("destination inside the working folder", work, u"{work}/daily"_s, into, inside);
        row("destination reached through a link", work, u"{root}/link/daily"_s, into, inside);
        row("working folder mounted a second time", work, u"{root}/bound/daily"_s, into, inside);
        row("working folder inside the daily folder", u"{root}/daily/work"_s, inDaily, into,
            u"inside the destination"_s);
        row("unassigned folder is the working folder", u"{root}/UNASSIGNED_PHOTOS"_s, inDaily, into,
            u"unassigned-photos"_s);
        row("path through ..", work, u"{root}/daily/.."_s, bad, u"\"..\""_s);
        row("pattern: quoted ..", work, u"pattern:'..'"_s, bad, u"folder above"_s);
        row("pattern: ..", work, u"pattern:.."_s, bad, u"folder above"_s);
        row("pattern: quoted .", work, u"pattern:'.'"_s, bad, u"directly in the destination"_s);
        row("pattern: no name", work, u"pattern:j"_s, bad, u"no folder name"_s);
        row("pattern: blank", work, u"pattern:'  '"_s, bad, u"no folder name"_s);
    }

    void refusedBeforeAnythingMoves()
    {
        QFETCH(QString, source);
        QFETCH(QString, daily);
        QFETCH(int, stop);
        QFETCH(QString, reason);
        store().setBool(true, cPrefDoUnassignedProcess);
        source.replace(u"{work}"_s, m_source).replace(u"{root}"_s, m_root);
        daily.replace(u"{work}"_s, m_source).replace(u"{root}"_s, m_root);
        std::optional<ScopedMount> bound;
        if (daily.contains(u"/link/"_s))
            QVERIFY(QFile::link(m_source, m_root + u"/link"_s));
        if (daily.contains(u"/bound/"_s)) {
            bound.emplace(ScopedMount::bind(m_source, m_root + u"/bound"_s));
            SKIP_UNLESS_MOUNTED(*bound);
        }
        if (daily.startsWith(u"pattern:"_s)) {
            store().setString(daily.section(u':', 1), cPrefDailyFolderDateFormat);
            daily = *DestinationPathRules::formPathToImageInsideMainImagesFolder(QString());
            QCOMPARE(daily, m_root); // the rules never name a folder outside the destination
        }
        QVERIFY(writeFile(source + u"/123_IMG_0001.JPG"_s, "photo"));
        QVERIFY(writeFile(source + u"/IMG_0002.JPG"_s, "unassigned"));
        const QStringList before = filesWithContents(m_root), sourceBefore = filesWithContents(source);

        const FilingRun::Result result = FilingRun::run(source, daily);
        QCOMPARE(int(result.stop), stop);
        QVERIFY2(result.reason.contains(reason) && result.reason.endsWith(u"Nothing was moved."_s),
                 qPrintable(result.reason));
        QVERIFY(!result.summary);
        QCOMPARE(filesWithContents(source), sourceBefore);
        QCOMPARE(filesWithContents(m_root), before);
        QVERIFY(!QFileInfo::exists(m_source + u"/daily"_s));
    }

    void stopsWithoutSummary()
    {
        QCOMPARE(FilingRun::run(QString(), m_root).stop, FilingRun::Stop::MissingSource);
        QCOMPARE(FilingRun::run(m_source, QString()).stop, FilingRun::Stop::MissingDestination);
        const FilingRun::Result unlistable = FilingRun::run(m_source + u"/gone"_s, m_root + u"/daily"_s);
        QCOMPARE(unlistable.stop, FilingRun::Stop::Unlistable);
        QVERIFY(unlistable.reason.contains(u"ENOENT"_s));

        // A second run on the same folder while one holds it is refused.
        QVERIFY(writeFile(m_source + u"/123_a.jpg"_s, "a"));
        FilingRun::Result nested;
        FilingRun::run(m_source, m_root + u"/daily"_s, [&](const FilingRun::Event &) {
            if (nested.stop == FilingRun::Stop::None)
                nested = FilingRun::run(m_source, m_root + u"/other"_s);
        });
        QCOMPARE(nested.stop, FilingRun::Stop::AlreadyRunning);
        QVERIFY(!QFileInfo::exists(m_root + u"/other/123_a.jpg"_s));
        const QDir runtime(QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation));
        QVERIFY(runtime.entryList({u"lumisort-filing-*.lock"_s}, QDir::Files).isEmpty()); // released
    }

    void interruptedRunLosesNothing_data()
    {
        QTest::addColumn<bool>("full"); // else: quitting arrives while the first photo is on its way
        QTest::newRow("other file system, destination fills up mid-run") << true;
        QTest::newRow("stop requested") << false;
    }

    void interruptedRunLosesNothing()
    {
        QFETCH(bool, full);
        std::optional<ScopedMount> source, destination;
        if (full) {
            source.emplace(ScopedMount::tmpfs(TestSandbox::instance().makeFolder(u"srcfs"_s), u"8m"_s));
            SKIP_UNLESS_MOUNTED(*source);
            destination.emplace(ScopedMount::tmpfs(TestSandbox::instance().makeFolder(u"dstfs"_s), u"1m"_s));
            SKIP_UNLESS_MOUNTED(*destination);
        }
        const QString work = full ? source->folder() : m_source;
        const QString daily = (full ? destination->folder() : m_root) + u"/daily"_s;
        QHash<QString, QByteArray> photos;
        for (int i = 1; i <= (full ? 12 : 3); ++i) {
            const QString name = u"123_IMG_%1.JPG"_s.arg(i, 4, 10, QLatin1Char('0'));
            photos.insert(name, QByteArray(full ? 200 * 1024 : 16, char('a' + i)));
            QVERIFY(writeFile(work + u'/' + name, photos.value(name)));
        }
        std::atomic<bool> stop {false};
        const FilingRun::Result result = FilingRun::run(
            work, daily,
            [&](const FilingRun::Event &e) { stop = stop || (!full && e.kind == FilingRun::EventKind::Moving); },
            &stop);
        QVERIFY(result.summary);
        // Nothing lost: every photo is whole in exactly one place, and no temporary is left.
        for (auto it = photos.cbegin(); it != photos.cend(); ++it) {
            const bool filed = QFileInfo::exists(daily + u'/' + it.key());
            QVERIFY2(filed != QFileInfo::exists(work + u'/' + it.key()), qPrintable(it.key()));
            QCOMPARE(readFile((filed ? daily : work) + u'/' + it.key()), it.value());
        }
        QCOMPARE(namesIn(daily).size(), result.summary->moved);
        if (full) {
            QVERIFY(result.summary->moved > 0 && result.summary->moved < 12);
            QCOMPARE(result.summary->title, u"Possible Issue(s) with Moving ReAssigned Files..."_s);
            return;
        }
        // The photo under way finished (whichever was listed first); the others were never touched.
        QCOMPARE(result.summary->moved, 1);
        QCOMPARE(result.summary->notReached, 2);
        QCOMPARE(result.summary->title, u"Filing Stopped"_s);
        QVERIFY(result.summary->text.startsWith(u"Stopped on request: 2 files were not filed"_s));
    }

    void killedMoveIsCleanedUp_data()
    {
        // lumisort-cli killed while filing on an exFAT card, which has no rename that refuses to replace:
        // an empty claim holds the name first. The next run leaves only the photo. (A copy killed on its
        // way to another file system is a row of TestCrashRecovery::killedAndFinished.)
        QTest::addColumn<QString>("kill"); // "call@photo"/"call@target": the call on that path
        // Someone put an empty file of their own (an hour old, as a copied file keeps its time) in the claim's place.
        QTest::addColumn<bool>("replacedClaim");
        QTest::newRow("killed before renaming over the claim") << u"rename@photo"_s << false;
        QTest::newRow("killed right after claiming") << u"close@target"_s << false;
        QTest::newRow("someone else's empty file in the claim's place") << u"rename@photo"_s << true;
        QTest::newRow("someone else's empty file, claim not yet noted") << u"close@target"_s << true;
    }

    void killedMoveIsCleanedUp()
    {
        QFETCH(QString, kill);
        QFETCH(bool, replacedClaim);
        const QString strace = QStandardPaths::findExecutable(u"strace"_s);
        if (strace.isEmpty())
            QSKIP("strace is not installed");
        const QString base = TestSandbox::instance().makeFolder(u"killfs"_s);
        ScopedMount destination =
            ScopedMount::fuseImage(ScopedMount::FuseKind::ExFat, base + u"/card.img"_s, base + u"/mnt"_s, 16);
        SKIP_UNLESS_MOUNTED(destination);
        const QByteArray photo(300 * 1024, 'p');
        const QString name = u"123_IMG_0001.JPG"_s;
        // The working folder is on the card too, so the photo itself is renamed over the claim.
        const QString work = destination.folder() + u"/work"_s;
        QVERIFY(writeFile(work + u'/' + name, photo));
        const QString daily = destination.folder() + u"/day"_s, target = daily + u'/' + name;
        const QString call = kill.section(u'@', 0, 0);
        QProcess child;
        child.start(strace,
                    QStringList {u"-f"_s, u"-qq"_s, u"-o"_s, u"/dev/null"_s, u"-P"_s,
                                 kill.endsWith(u"@photo"_s) ? work + u'/' + name : target, u"-e"_s, u"trace="_s + call,
                                 u"-e"_s, u"inject="_s + call + u":signal=KILL:when=1"_s, TestSandbox::cliPath(),
                                 u"--set"_s, u"prefDestinationPath="_s + destination.folder(), u"--set"_s,
                                 u"prefDailyFolderDateFormat='day'"_s, u"file"_s, work});
        QVERIFY(child.waitForFinished(60000));
        QCOMPARE(readFile(work + u'/' + name), photo);
        QStringList expected {name + u'=' + QString::fromLatin1(photo)};
        QVERIFY2(QFileInfo(target).size() == 0, "the kill came before the claim or after the rename");
        if (replacedClaim) {
            QVERIFY(QFile::remove(target) && writeFile(target, QByteArray()));
            const timespec anHourAgo[2] = {{::time(nullptr) - 3600, 0}, {::time(nullptr) - 3600, 0}};
            QCOMPARE(::utimensat(AT_FDCWD, NativePath(target).c_str(), anHourAgo, 0), 0);
            expected = QStringList {u"123_IMG_0001-2.JPG="_s + QString::fromLatin1(photo), name + u'='};
        }
        QCOMPARE(SafeFile::removeStaleClaims(QString(daily)),
                 replacedClaim ? QList<NativePath>() : QList<NativePath> {QString(target)});
        QCOMPARE(QFileInfo::exists(target), replacedClaim);

        const FilingRun::Result result = FilingRun::run(work, daily);
        QVERIFY(result.summary);
        QCOMPARE(result.summary->moved, 1);
        QCOMPARE(filesWithContents(daily), expected); // no claim, record or temporary left
    }

private:
    static SettingsStore &store() { return SettingsStore::standard(); }
    static void unassignedGoToTheirFolder(bool yes)
    {
        store().setBool(yes, cPrefDoUnassignedProcess);
        store().setInteger(yes ? 1 : 0, cPrefMoveUnasignedPhotoMethodTag);
    }
    static QStringList namesIn(const QString &folder)
    {
        return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }
    // The bytes of a "path=bytes" file, or its name.
    static QByteArray contentOf(const QString &file)
    {
        return (file.contains(u'=') ? file.section(u'=', 1) : file.section(u'/', -1)).toUtf8();
    }
    static QStringList sorted(QStringList names)
    {
        names.sort();
        return names;
    }
    QString m_source;
    QString m_root; // destination root
};

LUMISORT_CORE_TEST_MAIN(TestFilingRun)
#include "tst_filingrun.moc"
