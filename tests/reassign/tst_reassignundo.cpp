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

using namespace Qt::StringLiterals;

namespace {
QString trashFiles()
{
    return TestSandbox::instance().dataHome() + u"/Trash/files"_s;
}

// An automatic run with a chain (IMG_0002 takes the name 222_IMG_0002 leaves) and a
// barcode photo (IMG_0001) that goes to the trash.
void automaticRun(const QString &folder)
{
    QList<QUrl> urls;
    for (const QString &name : {u"IMG_0001.JPG"_s, u"IMG_0002.JPG"_s, u"222_IMG_0002.JPG"_s}) {
        QVERIFY(writeFile(folder + u'/' + name, name.toUtf8()));
        urls << QUrl::fromLocalFile(folder + u'/' + name);
    }
    QCOMPARE(ReassignRun::automatic(urls, {{urls.first().toLocalFile(), u"222"_s}}, false).trashed.size(), 1);
}

QString newestJournal()
{
    return ReassignJournal::folder() + u'/'
        + QDir(ReassignJournal::folder()).entryList({u"*.json"_s}, QDir::Files, QDir::Name).last();
}
} // namespace

class TestReassignUndo : public QObject
{
    Q_OBJECT

private Q_SLOTS:

    void undoRedoUndo()
    {
        const QString folder = TestSandbox::instance().makeFolder(u"undo"_s);
        const QString other = TestSandbox::instance().makeFolder(u"other"_s);
        const QStringList trashBefore = QDir(trashFiles()).entryList(QDir::Files);
        automaticRun(folder);
        const QStringList before {u"222_IMG_0002.JPG=222_IMG_0002.JPG"_s, u"IMG_0001.JPG=IMG_0001.JPG"_s,
                                  u"IMG_0002.JPG=IMG_0002.JPG"_s};
        const auto after = filesWithContents(folder);
        automaticRun(other); // a later run elsewhere stays as it is
        const auto otherAfter = filesWithContents(other);
        // Reached through a link, with a trailing "/.": the same folder.
        const QString link = TestSandbox::instance().makeFolder(u"links"_s) + u"/undo"_s;
        QVERIFY(QFile::link(folder, link));

        const ReassignUndo::Report undone = ReassignUndo::run(link + u"/."_s);
        QVERIFY2(undone.plan.isSound(), qPrintable(undone.plan.refusals.join(u'\n')));
        QVERIFY(!undone.failed());
        QCOMPARE(undone.plan.namesBack(), 3);
        QCOMPARE(filesWithContents(folder), before);
        QCOMPARE(filesWithContents(other), otherAfter);
        // Out of the trash with its info.
        QCOMPARE(QDir(trashFiles()).entryList(QDir::Files).size(), trashBefore.size() + 1); // the other run's
        QCOMPARE(QDir(trashFiles() + u"/../info"_s).entryList(QDir::Files).size(), trashBefore.size() + 1);

        const ReassignUndo::Report redone = ReassignUndo::run(folder);
        QCOMPARE(redone.plan.mode, u"undo"_s);
        QCOMPARE(filesWithContents(folder), after);
        QCOMPARE(redone.trashed.size(), 1);

        QVERIFY(ReassignUndo::run(folder).plan.isSound());
        QCOMPARE(filesWithContents(folder), before);
    }

    void changedFileRefusesTheWholeUndo_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("reason");
        QTest::newRow("renamed again") << u"rename"_s
                                       << u"222_IMG_0002.JPG was renamed again since (now 9_IMG_0002.JPG)"_s;
        QTest::newRow("deleted") << u"trash"_s << u"222_IMG_0002.JPG was deleted since"_s;
        QTest::newRow("filed") << u"file"_s << u"222_IMG_0002.JPG was filed"_s;
        QTest::newRow("another file under its name")
            << u"replace"_s << u"222_IMG_0002.JPG was replaced by another file"_s;
        QTest::newRow("changed in place") << u"append"_s << u"222_IMG_0002.JPG was changed since"_s;
        QTest::newRow("barcode photo emptied from the trash")
            << u"empty"_s << u"IMG_0001.JPG is no longer in the trash"_s;
        QTest::newRow("old name taken") << u"occupy"_s << u"cannot take its name IMG_0002.JPG back"_s;
        QTest::newRow("older journal, file gone")
            << u"old"_s << u"222_IMG_0002.JPG was renamed again, filed or deleted"_s;
        QTest::newRow("nothing to undo") << u"none"_s << u"no reassignment of"_s;
    }

    void changedFileRefusesTheWholeUndo()
    {
        QFETCH(QString, change);
        QFETCH(QString, reason);
        const QString folder = TestSandbox::instance().makeFolder(u"changed"_s);
        if (change != u"none"_s)
            automaticRun(folder);
        const QString photo = folder + u"/222_IMG_0002.JPG"_s;
        if (change == u"rename"_s) {
            QVERIFY(SafeFile::renameNoReplace(photo, QString(folder + u"/9_IMG_0002.JPG"_s)));
        } else if (change == u"trash"_s) {
            QVERIFY(FreedesktopTrash::moveToTrash(photo).result);
        } else if (change == u"file"_s) {
            QVERIFY(SafeFile::move(photo, QString(TestSandbox::instance().makeFolder(u"filed"_s) + u"/x.JPG"_s)));
        } else if (change == u"replace"_s) {
            QVERIFY(writeFile(folder + u"/other"_s, "other"));
            QVERIFY(SafeFile::remove(photo));
            QVERIFY(SafeFile::renameNoReplace(QString(folder + u"/other"_s), photo));
        } else if (change == u"append"_s) {
            QVERIFY(writeFile(photo, "rotated by an editor"));
        } else if (change == u"empty"_s) {
            const std::optional<ReassignJournal::Record> run = ReassignJournal::read(newestJournal()).record;
            for (const ReassignJournal::Entry &e : run.value().entries)
                QVERIFY(e.trashPath.isEmpty() || SafeFile::remove(e.trashPath));
        } else if (change == u"occupy"_s) {
            QVERIFY(writeFile(folder + u"/IMG_0002.JPG"_s, "a new photo"));
        } else if (change == u"old"_s) { // as an older version wrote it: no folder, no files as left
            QJsonObject root = QJsonDocument::fromJson(readFile(newestJournal())).object();
            root.remove(u"folder"_s);
            QJsonArray entries;
            for (const QJsonValue &e : root.value(u"entries"_s).toArray()) {
                QJsonObject o = e.toObject();
                o.remove(u"left"_s);
                entries.append(o);
            }
            root.insert(u"entries"_s, entries);
            QVERIFY(SafeFile::remove(newestJournal()));
            QVERIFY(writeFile(ReassignJournal::folder() + u"/old.json"_s, QJsonDocument(root).toJson()));
            QVERIFY(SafeFile::remove(photo));
        }
        const auto folderBefore = filesWithContents(folder);
        const auto trashBefore = filesWithContents(trashFiles());
        const QStringList journals = QDir(ReassignJournal::folder()).entryList(QDir::Files);

        const ReassignUndo::Report report = ReassignUndo::run(folder);
        QVERIFY(report.failed());
        QCOMPARE(report.plan.refusals.size(), 1);
        QVERIFY2(report.plan.refusals.first().contains(reason), qPrintable(report.plan.refusals.first()));
        // Nothing touched, not even the photos that did not change, and no run recorded.
        QCOMPARE(filesWithContents(folder), folderBefore);
        QCOMPARE(filesWithContents(trashFiles()), trashBefore);
        QCOMPARE(QDir(ReassignJournal::folder()).entryList(QDir::Files), journals);
    }

    void runsBegunTogetherKeepTheirOwnJournals()
    {
        // Undo and redo in quick succession: neither record may replace the other, and the
        // later one must sort last. On tmpfs a record is written well within a millisecond.
        QVERIFY(SafeFile::makeFolders(ReassignJournal::folder()));
        const ScopedMount fast = ScopedMount::tmpfs(ReassignJournal::folder());
        SKIP_UNLESS_MOUNTED(fast);
        QStringList paths;
        for (int i = 0; i < 20; ++i) {
            ReassignJournal journal;
            QVERIFY(journal.begin(i % 2 ? u"undo"_s : u"barcode"_s, {}).isEmpty());
            paths << journal.path();
        }
        QVERIFY2(std::adjacent_find(paths.cbegin(), paths.cend(), std::greater_equal<>()) == paths.cend(),
                 qPrintable(paths.join(u'\n')));
    }
};

LUMISORT_CORE_TEST_MAIN(TestReassignUndo)
#include "tst_reassignundo.moc"
