#include "ScopedMount.h"
#include "TestMain.h"
#include "reassign/ReassignJournal.h"
#include "support/SafeFile.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using namespace Qt::StringLiterals;

class TestReassignJournal : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void pruneByAge_data()
    {
        QTest::addColumn<int>("writtenDaysAgo"); // the time inside; -1: none (an older journal)
        QTest::addColumn<int>("fileDaysAgo");
        QTest::addColumn<bool>("photoStillHidden");
        QTest::addColumn<bool>("kept");
        QTest::newRow("recent") << 89 << 89 << false << true;
        QTest::newRow("old") << 91 << 91 << false << false;
        QTest::newRow("old, without a time inside") << -1 << 120 << false << false;
        QTest::newRow("old, rewritten lately by a recovery") << 200 << 3 << false << true;
        QTest::newRow("file touched, old time inside") << 3 << 200 << false << true;
        QTest::newRow("old, a photo still waits to be brought back") << 200 << 200 << true << true;
    }
    void pruneByAge()
    {
        QFETCH(int, writtenDaysAgo);
        QFETCH(int, fileDaysAgo);
        QFETCH(bool, photoStillHidden);
        QFETCH(bool, kept);
        qputenv("XDG_STATE_HOME", QFile::encodeName(TestSandbox::instance().makeFolder(u"state"_s)));
        const QDateTime now = QDateTime::currentDateTime();
        const QString hidden = TestSandbox::instance().makeFolder(u"photos"_s) + u"/.IMG_0001.JPG.swap"_s;
        if (photoStillHidden)
            QVERIFY(writeFile(hidden, "photo"));
        QJsonObject root {{u"state"_s, u"complete"_s},
                          {u"parked"_s, QJsonArray {QJsonObject {{u"parked"_s, hidden}}}},
                          {u"entries"_s, QJsonArray()}};
        if (writtenDaysAgo >= 0)
            root.insert(u"time"_s, now.addDays(-writtenDaysAgo).toString(Qt::ISODateWithMs));
        const QString journal = ReassignJournal::folder() + u"/20240101-120000-000-42-barcode.json"_s;
        const QString newer = ReassignJournal::folder() + u"/29990101-120000-000-43-barcode.json"_s;
        QVERIFY(writeFile(journal, QJsonDocument(root).toJson()));
        QVERIFY(writeFile(newer, "{}"));
        QFile file(journal);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(now.addDays(-fileDaysAgo), QFileDevice::FileModificationTime));
        file.close();

        QCOMPARE(ReassignJournal::prune(90, now), kept ? 0 : 1);
        QCOMPARE(QFile::exists(journal), kept);
        QVERIFY(QFile::exists(newer));
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

LUMISORT_CORE_TEST_MAIN(TestReassignJournal)
#include "tst_reassignjournal.moc"
