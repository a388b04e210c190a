#include "TestMain.h"
#include "roster/Roster.h"

#include <QDir>
#include <QStringEncoder>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

class TestRoster : public QObject
{
    Q_OBJECT

    QString written(const QByteArray &bytes)
    {
        const QString path = TestSandbox::instance().makeFolder(u"roster"_s) + u"/roster.csv"_s;
        writeFile(path, bytes);
        return path;
    }

private Q_SLOTS:
    void reads_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("subjects"); // "id|name|class|others", by class then name
        QTest::addColumn<QStringList>("problems"); // "line:a word of the reason"
        QTest::newRow("school export: BOM, semicolons, quotes, accents, CRLF")
            << "\xEF\xBB\xBFStudent ID;First Name;Last Name;Grade;Teacher;Allergy\r\n"
               "1002;Jos\xC3\xA9;\"O\"\"Brien\";Grade 10;Mr Li;\"nuts; eggs\"\r\n"
               "1001;\"Zo\xC3\xAB\"; \"Garc\xC3\xAD\x61, Jr.\" ;\"Grade 2\";Mme Lef\xC3\xA8vre;\r\n"_ba
            << QStringList {u"1001|Zoë García, Jr.|Grade 2|"_s, u"1002|José O\"Brien|Grade 10|nuts; eggs"_s}
            << QStringList();
        QTest::newRow("Windows-1252") << "id,name,class\n8,\x93\x42ob\x94 \x80,3B\n7,Ren\xE9\x65 M\xFCller,3B\n"_ba
                                      << QStringList {u"8|“Bob” €|3B|"_s, u"7|Renée Müller|3B|"_s} << QStringList();
        QTest::newRow("tabs, CR line ends")
            << "Barcode\tFirst name\tLast name\tgroup\r55\tAnn\tLee\tB\r56\tBo\tKim\tA\r"_ba
            << QStringList {u"56|Bo Kim|A|"_s, u"55|Ann Lee|B|"_s} << QStringList();
        QStringEncoder utf16(QStringEncoder::Utf16LE, QStringEncoder::Flag::WriteBom);
        QTest::newRow("Excel Unicode text")
            << QByteArray(utf16(u"ID\tName\n5\tÅsa\n"_s)) << QStringList {u"5|Åsa||"_s} << QStringList();
        QTest::newRow("Excel's separator line") << "sep=;\r\nid;name\r\n1;Ann, B\r\n2\r\n"_ba
                                                << QStringList {u"1|Ann, B||"_s} << QStringList {u"4:missing"_s};
        QTest::newRow("line break in quotes")
            << "id,name\n1,\"Ann\r\nMarie\"\n2\n3,Cy\n"_ba << QStringList {u"1|Ann\r\nMarie||"_s, u"3|Cy||"_s}
            << QStringList {u"4:missing"_s};
        QTest::newRow("ragged rows") << "id,name,class\n1,Ann,3\n2,Bo\n3,Smith, John,4\n4,Cy,5,\n"_ba
                                     << QStringList {u"1|Ann|3|"_s, u"4|Cy|5|"_s}
                                     << QStringList {u"3:missing"_s, u"4:not in quotes"_s};
        QTest::newRow("duplicate ids") << "id,name\n1,Ann\n2,Bo\n1,Cy\n"_ba << QStringList {u"1|Ann||"_s, u"2|Bo||"_s}
                                       << QStringList {u"4:line 2"_s};
        QTest::newRow("ids that are no barcode")
            << "id,name\n../x,Ann\n..,Bo\n-rf,Cy\n,,\n,Dee\n9,Eve\n"_ba << QStringList {u"9|Eve||"_s}
            << QStringList {u"2:\"/\""_s, u"3:\"..\""_s, u"4:\"-\""_s, u"6:no id"_s};
        QTest::newRow("quote never closed")
            << "id,name\n1,Ann\n2,\"Bo\n3,Cy\n"_ba << QStringList {u"1|Ann||"_s} << QStringList {u"3:never closed"_s};
    }
    void reads()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, subjects);
        QFETCH(QStringList, problems);
        const Roster roster = Roster::load(written(bytes));
        QCOMPARE(roster.status(), Roster::Status::Loaded);
        QStringList found;
        for (const qsizetype at : roster.byClassThenName()) {
            const RosterSubject &subject = roster.subjects()[at];
            QCOMPARE(roster.find(subject.id), &subject);
            found << QStringList {subject.id, subject.displayName, subject.className, subject.others.join(u',')}.join(
                u'|');
        }
        QCOMPARE(found, subjects);
        QStringList reported;
        for (const Roster::RowProblem &problem : roster.problems()) {
            const QString expected = problems.value(reported.size());
            reported << QString::number(problem.line) + u':'
                    + (problem.reason.contains(expected.section(u':', 1)) ? expected.section(u':', 1) : problem.reason);
        }
        QCOMPARE(reported, problems);
    }

    void refuses_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("why");
        QTest::newRow("empty") << u"file"_s << QByteArray() << u"empty"_s;
        QTest::newRow("blank lines") << u"file"_s << "\r\n\r\n"_ba << u"empty"_s;
        QTest::newRow("header only") << u"file"_s << "id,name\r\n"_ba << u"no subjects"_s;
        QTest::newRow("NUL byte") << u"file"_s << "id,name\n1,A\0nn\n"_ba << u"NUL"_s;
        QTest::newRow("workbook") << u"file"_s << "PK\x03\x04\x14\0\0\0"_ba << u"CSV"_s;
        QTest::newRow("missing") << u"missing"_s << QByteArray() << u"ENOENT"_s;
        QTest::newRow("folder") << u"folder"_s << QByteArray() << u"folder"_s;
        QTest::newRow("named pipe") << u"fifo"_s << QByteArray() << u"ordinary"_s;
        QTest::newRow("a 50 MB export, sparse") << u"large"_s << QByteArray() << u"20 MB"_s;
    }
    void refuses()
    {
        QFETCH(QString, kind);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, why);
        QString path = written(bytes);
        if (kind == u"missing")
            QFile::remove(path);
        if (kind == u"folder")
            path = QFileInfo(path).path();
        if (kind == u"fifo") {
            QFile::remove(path);
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        }
        if (kind == u"large")
            QVERIFY(QFile(path).resize(50 * 1000 * 1000));
        const Roster roster = Roster::load(path);
        QCOMPARE(roster.status(), Roster::Status::Refused);
        QVERIFY2(roster.error().contains(why), qPrintable(roster.error()));
        QVERIFY(roster.subjects().isEmpty());
    }

    void idColumnChosen()
    {
        const QString path = written("Code,Name,Room\n5,Ann,3\n"_ba);
        Roster roster = Roster::load(path);
        QCOMPARE(roster.status(), Roster::Status::NeedsIdColumn);
        QCOMPARE(roster.columns(), (QStringList {u"Code"_s, u"Name"_s, u"Room"_s}));
        roster = Roster::load(path, 3);
        QCOMPARE(roster.status(), Roster::Status::NeedsIdColumn);
        roster = Roster::load(path, 0);
        QCOMPARE(roster.status(), Roster::Status::Loaded);
        QCOMPARE(roster.find(u"5"_s)->displayName, u"Ann"_s);
        QCOMPARE(roster.otherColumns(), QStringList {u"Room"_s});

        const QString headless = written("5,Ann,3\n6,Bo,3\n"_ba);
        QCOMPARE(Roster::load(headless).status(), Roster::Status::NeedsIdColumn);
        roster = Roster::load(headless, 0, Roster::Header::None);
        QCOMPARE(roster.status(), Roster::Status::Loaded);
        QCOMPARE(roster.subjects().size(), 2);
        QCOMPARE(roster.subjects().first().others, (QStringList {u"Ann"_s, u"3"_s}));
    }
};

LUMISORT_CORE_TEST_MAIN(TestRoster)
#include "tst_roster.moc"
