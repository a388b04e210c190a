#include "ScopedMount.h"
#include "TestMain.h"
#include "reassign/ReassignJournal.h"
#include "reassign/ReassignRun.h"
#include "reassign/ReassignUndo.h"
#include "support/FreedesktopTrash.h"
#include "support/SafeFile.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>

using namespace Qt::StringLiterals;

namespace {
using Snapshot = QMap<QString, QByteArray>; // name -> bytes, hidden files included

Snapshot snapshot(const QString &folder)
{
    Snapshot found;
    for (const QString &name : QDir(folder).entryList(QDir::Files | QDir::Hidden))
        found.insert(name, readFile(folder + u'/' + name));
    return found;
}

QString trashFiles()
{
    return TestSandbox::instance().dataHome() + u"/Trash/files"_s;
}

// An automatic run with a chain (IMG_0002 takes the name 222_IMG_0002 leaves) and a
// barcode photo that goes to the trash.
void automaticRun(const QString &folder)
{
    const QStringList names {u"IMG_0001.JPG"_s, u"IMG_0002.JPG"_s, u"222_IMG_0002.JPG"_s};
    QList<QUrl> urls;
    for (const QString &name : names) {
        QVERIFY(writeFile(folder + u'/' + name, name.toUtf8()));
        urls << QUrl::fromLocalFile(folder + u'/' + name);
    }
    const ReassignRun::Report report = ReassignRun::automatic(urls, {{urls.first().toLocalFile(), u"222"_s}}, false);
    QCOMPARE(report.trashed.size(), 1);
}

// Two photos swapping names, recorded as the runs record them.
void swapRun(const QString &folder)
{
    QVERIFY(writeFile(folder + u"/111_A.JPG"_s, "first"));
    QVERIFY(writeFile(folder + u"/222_A.JPG"_s, "second"));
    const QList<RenamePlan::Step> steps {{folder + u"/111_A.JPG"_s, folder + u"/222_A.JPG"_s},
                                         {folder + u"/222_A.JPG"_s, folder + u"/111_A.JPG"_s}};
    ReassignJournal journal;
    QVERIFY(journal.begin(u"barcode"_s, {{steps[0].from, steps[0].to, {}, {}}, {steps[1].from, steps[1].to, {}, {}}}));
    QList<ReassignJournal::Entry> done;
    for (const RenamePlan::Outcome &o :
         RenamePlan::execute(steps, [&journal](const RenamePlan::Parking &p) { return journal.noteParked(p); }))
        done.append({o.from, o.to, o.finalPath, {}});
    QVERIFY(journal.complete(done));
}

QString newestJournal()
{
    QStringList names = QDir(ReassignJournal::folder()).entryList({u"*.json"_s}, QDir::Files, QDir::Name);
    return names.isEmpty() ? QString() : ReassignJournal::folder() + u'/' + names.last();
}

// The journal as an older version wrote it: no folder, no record of the files left.
void makeOld(const QString &path)
{
    QJsonObject root = QJsonDocument::fromJson(readFile(path)).object();
    root.remove(u"folder"_s);
    QJsonArray entries;
    for (const QJsonValue &e : root.value(u"entries"_s).toArray()) {
        QJsonObject o = e.toObject();
        o.remove(u"left"_s);
        entries.append(o);
    }
    root.insert(u"entries"_s, entries);
    QVERIFY(SafeFile::remove(path));
    QVERIFY(writeFile(path, QJsonDocument(root).toJson()));
}
} // namespace

class TestReassignUndo : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void undoRedoUndo_data();
    void undoRedoUndo();
    void changedFileRefusesTheWholeUndo_data();
    void changedFileRefusesTheWholeUndo();
    void onlyTheFolderOwnRunIsUndone();
    void runsBegunTogetherKeepTheirOwnJournals();
};

void TestReassignUndo::undoRedoUndo_data()
{
    QTest::addColumn<bool>("swap");
    QTest::addColumn<bool>("oldJournal");
    QTest::newRow("chain and a trashed barcode photo") << false << false;
    QTest::newRow("swap") << true << false;
    QTest::newRow("journal of an older version") << false << true;
}

void TestReassignUndo::undoRedoUndo()
{
    QFETCH(bool, swap);
    QFETCH(bool, oldJournal);
    const QString folder = TestSandbox::instance().makeFolder(u"undo"_s);
    const QStringList trashBefore = QDir(trashFiles()).entryList(QDir::Files);
    Snapshot before;
    if (swap) {
        before = {{u"111_A.JPG"_s, "first"}, {u"222_A.JPG"_s, "second"}};
        swapRun(folder);
    } else {
        before = {{u"IMG_0001.JPG"_s, "IMG_0001.JPG"},
                  {u"IMG_0002.JPG"_s, "IMG_0002.JPG"},
                  {u"222_IMG_0002.JPG"_s, "222_IMG_0002.JPG"}};
        automaticRun(folder);
    }
    if (oldJournal)
        makeOld(newestJournal());
    const Snapshot after = snapshot(folder);
    QVERIFY(after != before);
    const qsizetype trashedByRun = QDir(trashFiles()).entryList(QDir::Files).size() - trashBefore.size();

    const ReassignUndo::Report undone = ReassignUndo::run(folder);
    QVERIFY2(undone.plan.isSound(), qPrintable(undone.plan.refusals.join(u'\n')));
    QVERIFY(!undone.failed());
    QCOMPARE(undone.plan.namesBack(), before.size());
    QCOMPARE(snapshot(folder), before);
    // Out of the trash with its info: the trash looks as before the run.
    QCOMPARE(QDir(trashFiles()).entryList(QDir::Files), trashBefore);
    QCOMPARE(QDir(trashFiles() + u"/../info"_s).entryList(QDir::Files).size(), trashBefore.size());

    const ReassignUndo::Report redone = ReassignUndo::run(folder);
    QVERIFY2(redone.plan.isSound(), qPrintable(redone.plan.refusals.join(u'\n')));
    QCOMPARE(redone.plan.mode, u"undo"_s);
    QCOMPARE(snapshot(folder), after);
    QCOMPARE(redone.trashed.size(), trashedByRun);
    QVERIFY(redone.journalPath != undone.journalPath);

    const ReassignUndo::Report again = ReassignUndo::run(folder);
    QVERIFY2(again.plan.isSound(), qPrintable(again.plan.refusals.join(u'\n')));
    QCOMPARE(snapshot(folder), before);
}

void TestReassignUndo::changedFileRefusesTheWholeUndo_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<QString>("reason");
    QTest::newRow("renamed again") << u"rename"_s << u"222_IMG_0002.JPG was renamed again since (now 9_IMG_0002.JPG)"_s;
    QTest::newRow("deleted") << u"trash"_s << u"222_IMG_0002.JPG was deleted since"_s;
    QTest::newRow("filed") << u"file"_s << u"222_IMG_0002.JPG was filed"_s;
    QTest::newRow("another file under its name") << u"replace"_s << u"222_IMG_0002.JPG was replaced by another file"_s;
    QTest::newRow("changed in place") << u"append"_s << u"222_IMG_0002.JPG was changed since"_s;
    QTest::newRow("barcode photo emptied from the trash") << u"empty"_s << u"IMG_0001.JPG is no longer in the trash"_s;
    QTest::newRow("old name taken") << u"occupy"_s << u"cannot take its name IMG_0002.JPG back"_s;
    QTest::newRow("older journal, file gone") << u"old"_s << u"222_IMG_0002.JPG was renamed again, filed or deleted"_s;
}

void TestReassignUndo::changedFileRefusesTheWholeUndo()
{
    QFETCH(QString, change);
    QFETCH(QString, reason);
    const QString folder = TestSandbox::instance().makeFolder(u"changed"_s);
    automaticRun(folder);
    const QString photo = folder + u"/222_IMG_0002.JPG"_s;
    const std::optional<ReassignJournal::Record> run = ReassignJournal::read(newestJournal());
    QVERIFY(run);
    QString trashed;
    for (const ReassignJournal::Entry &e : run->entries)
        trashed += e.trashPath;
    if (change == u"rename"_s) {
        QVERIFY(SafeFile::renameNoReplace(photo, QString(folder + u"/9_IMG_0002.JPG"_s)));
    } else if (change == u"trash"_s) {
        QVERIFY(FreedesktopTrash::moveToTrash(photo).result);
    } else if (change == u"file"_s) {
        QVERIFY(
            SafeFile::move(photo, QString(TestSandbox::instance().makeFolder(u"filed"_s) + u"/222_IMG_0002.JPG"_s)));
    } else if (change == u"replace"_s) {
        QVERIFY(writeFile(folder + u"/other"_s, "other"));
        QVERIFY(SafeFile::remove(photo));
        QVERIFY(SafeFile::renameNoReplace(QString(folder + u"/other"_s), photo));
    } else if (change == u"append"_s) {
        QVERIFY(writeFile(photo, "rotated by an editor"));
    } else if (change == u"empty"_s) {
        QVERIFY(SafeFile::remove(trashed));
    } else if (change == u"occupy"_s) {
        QVERIFY(writeFile(folder + u"/IMG_0002.JPG"_s, "a new photo"));
    } else if (change == u"old"_s) {
        makeOld(newestJournal());
        QVERIFY(SafeFile::remove(photo));
    }
    const Snapshot folderBefore = snapshot(folder);
    const Snapshot trashBefore = snapshot(trashFiles());
    const QStringList journals = QDir(ReassignJournal::folder()).entryList(QDir::Files);

    const ReassignUndo::Report report = ReassignUndo::run(folder);
    QVERIFY(!report.plan.isSound());
    QVERIFY(report.failed());
    QCOMPARE(report.plan.refusals.size(), 1);
    QVERIFY2(report.plan.refusals.first().contains(reason), qPrintable(report.plan.refusals.first()));
    // Nothing touched, not even the photos that did not change, and no run recorded.
    QCOMPARE(snapshot(folder), folderBefore);
    QCOMPARE(snapshot(trashFiles()), trashBefore);
    QCOMPARE(QDir(ReassignJournal::folder()).entryList(QDir::Files), journals);
}

void TestReassignUndo::onlyTheFolderOwnRunIsUndone()
{
    const QString mine = TestSandbox::instance().makeFolder(u"mine"_s);
    const QString other = TestSandbox::instance().makeFolder(u"other"_s);
    QCOMPARE(ReassignUndo::plan(mine).refusals.size(), 1); // nothing to undo yet
    swapRun(mine);
    const Snapshot afterMine = snapshot(mine);
    swapRun(other); // a later run elsewhere
    // Reached through a link, with a trailing "/.": the same folder.
    const QString link = TestSandbox::instance().makeFolder(u"links"_s) + u"/mine"_s;
    QVERIFY(QFile::link(mine, link));
    QVERIFY(ReassignUndo::run(link + u"/."_s).plan.isSound());
    QVERIFY(snapshot(mine) != afterMine);
    QCOMPARE(snapshot(other), (Snapshot {{u"111_A.JPG"_s, "second"}, {u"222_A.JPG"_s, "first"}}));
}

void TestReassignUndo::runsBegunTogetherKeepTheirOwnJournals()
{
    // Undo and redo in quick succession: neither record may replace the other, and the
    // later one must sort last. On tmpfs a record is written well within a millisecond.
    QVERIFY(SafeFile::makeFolders(ReassignJournal::folder()));
    const ScopedMount fast = ScopedMount::tmpfs(ReassignJournal::folder());
    SKIP_UNLESS_MOUNTED(fast);
    QStringList paths;
    for (int i = 0; i < 20; ++i) {
        ReassignJournal journal;
        QVERIFY(journal.begin(i % 2 ? u"undo"_s : u"barcode"_s, {}));
        paths << journal.path();
    }
    QStringList sorted = paths;
    sorted.removeDuplicates();
    QCOMPARE(sorted.size(), paths.size());
    std::sort(sorted.begin(), sorted.end());
    QCOMPARE(sorted, paths);
}

LUMISORT_CORE_TEST_MAIN(TestReassignUndo)
#include "tst_reassignundo.moc"
