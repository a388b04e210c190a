#include "TestMain.h"
#include "roster/RosterSource.h"

using namespace Qt::StringLiterals;

class TestRosterSource : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        const QString path = TestSandbox::instance().makeFolder(u"source"_s) + u"/roster.csv"_s;
        writeFile(path, "id,First Name,Last Name,Class\nA1,Ann,Lee,3B\n"_ba);
        RosterSource::shared().open(path, -1, Roster::Header::FirstRow,
                                    std::make_shared<const Roster>(Roster::load(NativePath(path))));
    }

    void lookUp_data()
    {
        QTest::addColumn<QString>("code");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("text");
        QTest::newRow("a subject, in either case")
            << u" a1"_s << int(RosterSource::Lookup::Kind::Listed) << u"Ann Lee · 3B"_s;
        QTest::newRow("a code the roster lacks")
            << u"B7"_s << int(RosterSource::Lookup::Kind::Unlisted) << u"Not on the roster"_s;
        // The section of photos set aside as unknown is named by its marker, not by a code.
        QTest::newRow("the unknown marker") << u"UNKNOWN"_s << int(RosterSource::Lookup::Kind::NoRoster) << QString();
        QTest::newRow("no code") << QString() << int(RosterSource::Lookup::Kind::NoRoster) << QString();
    }
    void lookUp()
    {
        QFETCH(QString, code);
        QFETCH(int, kind);
        QFETCH(QString, text);
        const RosterSource::Lookup found = RosterSource::shared().lookUp(code);
        QCOMPARE(int(found.kind), kind);
        QCOMPARE(found.text, text);
    }
};

LUMISORT_CORE_TEST_MAIN(TestRosterSource)
#include "tst_rostersource.moc"
