#include "ScopedMount.h"
#include "TestMain.h"
#include "settings/LogPaths.h"
#include "shell/StateFolderMove.h"

#include <QDir>
#include <QDirIterator>
#include <QMap>

using namespace Qt::StringLiterals;

namespace {
QMap<QString, QByteArray> tree(const QString &folder) // relative path -> bytes
{
    QMap<QString, QByteArray> found;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        found.insert(QDir(folder).relativeFilePath(path), readFile(path));
    }
    return found;
}

// A home of its own for each case.
QString freshHome()
{
    const QString home = TestSandbox::instance().makeFolder(u"home"_s);
    qputenv("HOME", QFile::encodeName(home));
    qunsetenv("XDG_STATE_HOME");
    return home;
}
} // namespace

class TestStateFolderMove : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void movesOnceAndKeepsBoth_data()
    {
        QTest::addColumn<QString>("foreign"); // a file not of this program, below the home folder
        QTest::addColumn<QString>("left"); // the folder that must remain; all below it are gone
        QTest::addColumn<QString>("stateHome"); // XDG_STATE_HOME, "~" the home folder; null: unset
        QTest::addColumn<QString>("state"); // the state folder it gives
        const QString standard = u"~/.local/state/Lumisort"_s;
        QTest::newRow("nothing else") << QString() << u"."_s << QString() << standard;
        QTest::newRow("another log beside, state folder set")
            << u"Library/Logs/Other.log"_s << u"Library/Logs"_s << u"~/state/"_s << u"~/state/Lumisort"_s;
        QTest::newRow("another file inside, relative state folder ignored")
            << u"Library/Logs/Vimo/notes.txt"_s << u"Library/Logs/Vimo"_s << u"state"_s << standard;
    }
    void movesOnceAndKeepsBoth()
    {
        QFETCH(QString, foreign);
        QFETCH(QString, left);
        QFETCH(QString, stateHome);
        QFETCH(QString, state);
        const QString home = freshHome();
        const QString former = home + u"/Library/Logs/Vimo"_s;
        if (!stateHome.isNull())
            qputenv("XDG_STATE_HOME", QFile::encodeName(stateHome.replace(u"~"_s, home)));
        QCOMPARE(LogPaths::stateFolder(), state.replace(u"~"_s, home));
        for (const auto &[path, bytes] : {std::pair<QString, QByteArray> {former + u"/Lumisort.log"_s, "old log\n"},
                                          {former + u"/Lumisort_old.log"_s, "older log\n"},
                                          {former + u"/reassign-journal/a.json"_s, "a"},
                                          {former + u"/reassign-journal/b.json"_s, "old b"},
                                          {state + u"/Lumisort.log"_s, "new log\n"},
                                          {state + u"/reassign-journal/b.json"_s, "new b"}})
            QVERIFY(writeFile(path, bytes));
        if (!foreign.isEmpty())
            QVERIFY(writeFile(home + u'/' + foreign, "not ours"));

        QVERIFY(!StateFolderMove::run().isEmpty());
        QMap<QString, QByteArray> moved = tree(state);
        const QByteArray log = moved.take(u"Lumisort.log"_s);
        QVERIFY2(log.startsWith("new log\n") && log.contains("4 files moved"), log.constData());
        QCOMPARE(moved,
                 (QMap<QString, QByteArray> {{u"Lumisort (moved).log"_s, "old log\n"},
                                             {u"Lumisort_old.log"_s, "older log\n"},
                                             {u"reassign-journal/a.json"_s, "a"},
                                             {u"reassign-journal/b.json"_s, "new b"},
                                             {u"reassign-journal/b (moved).json"_s, "old b"}}));
        QCOMPARE(tree(home + u"/Library"_s).keys(),
                 foreign.isEmpty() ? QStringList() : QStringList {foreign.mid(u"Library/"_s.size())});
        for (QString folder = u"Library/Logs/Vimo"_s; folder != left; folder = QFileInfo(folder).path())
            QVERIFY2(!QFileInfo::exists(home + u'/' + folder), qPrintable(folder));
        QVERIFY(QFileInfo(home + u'/' + left).isDir());

        // The next start finds nothing to do.
        const QMap<QString, QByteArray> after = tree(state);
        QVERIFY(StateFolderMove::run().isEmpty());
        QCOMPARE(tree(state), after);
    }
    void failedMoveLeavesTheFilesAndIsTriedAgain()
    {
        const QString home = freshHome();
        const QString former = home + u"/Library/Logs/Vimo"_s;
        QVERIFY(writeFile(former + u"/Lumisort.log"_s, "old log\n"));
        QVERIFY(writeFile(former + u"/reassign-journal/a.json"_s, "a"));
        const QMap<QString, QByteArray> before = tree(former);
        {
            ScopedMount readOnly = ScopedMount::readOnlyBind(former);
            SKIP_UNLESS_MOUNTED(readOnly);
            const QString report = StateFolderMove::run().join(u'\n');
            QVERIFY2(report.contains(u"EROFS"_s) && report.contains(u"2 left where they were"_s), qPrintable(report));
            QCOMPARE(tree(former), before);
            QVERIFY(!QFileInfo::exists(LogPaths::journalFolder() + u"/a.json"_s));
            QVERIFY(readFile(LogPaths::logFile()).contains("EROFS")); // the reason is in the log
        }
        QVERIFY(!StateFolderMove::run().isEmpty());
        QVERIFY(!QFileInfo::exists(home + u"/Library"_s));
        QCOMPARE(readFile(LogPaths::journalFolder() + u"/a.json"_s), QByteArray("a"));
    }
};

LUMISORT_CORE_TEST_MAIN(TestStateFolderMove)
#include "tst_statefoldermove.moc"
