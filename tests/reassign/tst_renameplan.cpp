#include "TestMain.h"
#include "reassign/RenamePlan.h"

#include <QDir>
#include <QFile>

using namespace Qt::StringLiterals;

// Real renames in a sandbox folder: every photo ends under its intended name
// or its old one, never missing and never overwritten.
class TestRenamePlan : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void renames_data()
    {
        QTest::addColumn<QStringList>("files"); // existing names; each holds its own name as content
        QTest::addColumn<QStringList>("steps"); // "from>to"
        QTest::addColumn<QStringList>("expected"); // "name=content" of the folder afterwards
        QTest::addColumn<int>("failures");
        QTest::newRow("two photos claim one name: the first wins")
            << QStringList {u"111_IMG_0001.JPG"_s, u"222_IMG_0001.JPG"_s}
            << QStringList {u"111_IMG_0001.JPG>333_IMG_0001.JPG"_s, u"222_IMG_0001.JPG>333_IMG_0001.JPG"_s}
            << QStringList {u"222_IMG_0001.JPG=222_IMG_0001.JPG"_s, u"333_IMG_0001.JPG=111_IMG_0001.JPG"_s} << 1;
        QTest::newRow("name held by a file outside the run")
            << QStringList {u"a"_s, u"x"_s} << QStringList {u"a>x"_s} << QStringList {u"a=a"_s, u"x=x"_s} << 1;
        QTest::newRow("chain in an awkward order")
            << QStringList {u"a"_s, u"b"_s, u"c"_s} << QStringList {u"a>b"_s, u"b>c"_s, u"c>d"_s}
            << QStringList {u"b=a"_s, u"c=b"_s, u"d=c"_s} << 0;
        QTest::newRow("swap") << QStringList {u"a"_s, u"b"_s} << QStringList {u"a>b"_s, u"b>a"_s}
                              << QStringList {u"a=b"_s, u"b=a"_s} << 0;
        QTest::newRow("three-way cycle") << QStringList {u"a"_s, u"b"_s, u"c"_s}
                                         << QStringList {u"a>b"_s, u"b>c"_s, u"c>a"_s}
                                         << QStringList {u"a=c"_s, u"b=a"_s, u"c=b"_s} << 0;
        QTest::newRow("chain blocked at its end stays whole")
            << QStringList {u"a"_s, u"b"_s, u"x"_s} << QStringList {u"a>b"_s, u"b>x"_s}
            << QStringList {u"a=a"_s, u"b=b"_s, u"x=x"_s} << 2;
        QTest::newRow("no-op and vanished photo")
            << QStringList {u"a"_s} << QStringList {u"a>a"_s, u"gone>z"_s} << QStringList {u"a=a"_s} << 1;
        // A name too long is not tried, and says why in words the operator can act on.
        const QString longest(255, u'x');
        QTest::newRow("255 bytes fit") << QStringList {u"a"_s} << QStringList {u"a>"_s + longest}
                                       << QStringList {longest + u"=a"_s} << 0;
        QTest::newRow("256 bytes") << QStringList {u"a"_s} << QStringList {u"a>"_s + longest + u'x'}
                                   << QStringList {u"a=a"_s} << 1;
        QTest::newRow("128 two-byte letters")
            << QStringList {u"a"_s} << QStringList {u"a>"_s + QString(128, u'ß')} << QStringList {u"a=a"_s} << 1;
    }
    void renames()
    {
        QFETCH(QStringList, files);
        QFETCH(QStringList, steps);
        QFETCH(QStringList, expected);
        QFETCH(int, failures);
        const QString folder = TestSandbox::instance().makeFolder(u"plan"_s);
        for (const QString &name : files)
            QVERIFY(writeFile(folder + u'/' + name, name.toUtf8()));
        QList<RenamePlan::Step> plan;
        for (const QString &s : steps)
            plan.append({folder + u'/' + s.section(u'>', 0, 0), folder + u'/' + s.section(u'>', 1)});

        const QList<RenamePlan::Outcome> outcomes = RenamePlan::execute(plan);
        QCOMPARE(outcomes.size(), plan.size());
        int failed = 0;
        for (const RenamePlan::Outcome &o : outcomes) {
            failed += o.error.isEmpty() ? 0 : 1;
            QCOMPARE(o.renamed, o.finalPath == o.to && o.from != o.to);
            if (o.to.section(u'/', -1).toUtf8().size() > 255)
                QVERIFY2(o.error.contains(u"256 bytes long, more than the 255"_s), qPrintable(o.error));
        }
        QCOMPARE(failed, failures);
        QStringList after;
        for (const QString &name : QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name))
            after << name + u'=' + QString::fromUtf8(readFile(folder + u'/' + name));
        QCOMPARE(after, expected); // nothing lost, nothing hidden, nothing overwritten
    }
};

LUMISORT_CORE_TEST_MAIN(TestRenamePlan)
#include "tst_renameplan.moc"
