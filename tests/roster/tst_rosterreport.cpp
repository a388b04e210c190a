#include "TestMain.h"
#include "roster/RosterReport.h"
#include "settings/SettingsKeys.h"
#include "settings/SettingsStore.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using namespace Qt::StringLiterals;

class TestRosterReport : public QObject
{
    Q_OBJECT

    QString m_root;

    QString folderWith(const QString &name, const QStringList &files)
    {
        const QString folder = m_root + u'/' + name;
        QDir().mkpath(folder);
        for (const QString &file : files) {
            QDir().mkpath(QFileInfo(folder + u'/' + file).path());
            writeFile(folder + u'/' + file, QByteArray());
        }
        return folder;
    }
    Roster roster(const QByteArray &csv)
    {
        writeFile(m_root + u"/roster.csv"_s, csv);
        return Roster::load(NativePath(m_root + u"/roster.csv"_s));
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_root = TestSandbox::instance().makeFolder(u"report"_s);
        // Names of two "_" parts are a camera's own ("IMG_0001.JPG"), of three a barcoded one.
        SettingsStore::standard().setInteger(1, cPrefOriginalNameFormatTag);
    }

    void counts_data()
    {
        QTest::addColumn<int>("minimum");
        QTest::addColumn<QStringList>("rows"); // "id:counts:mark", in card order
        QTest::newRow("one photo is enough")
            << 1 << QStringList {u"A4:0,0,0:No photos"_s, u"A2:1,0,0:OK"_s, u"A1:2,1,0:OK"_s, u"A3:0,1,0:OK"_s};
        QTest::newRow("two are asked for") << 2
                                           << QStringList {u"A4:0,0,0:No photos"_s, u"A2:1,0,0:Fewer than 2"_s,
                                                           u"A1:2,1,0:OK"_s, u"A3:0,1,0:Fewer than 2"_s};
    }
    void counts()
    {
        QFETCH(int, minimum);
        QFETCH(QStringList, rows);
        const Roster subjects = roster("id,First Name,Last Name,Class\nA1,Ann,Lee,3B\nA2,Bo,Kim,3B\n"
                                       "A3,Cy,Ng,10A\nA4,Dee,Fox,2A\n"_ba);
        const QString working =
            folderWith(u"working"_s,
                       {u"A1_IMG_0001.JPG"_s, u"A1_IMG_0002.NEF"_s, u"a2_IMG_0003.jpg"_s, u"IMG_0004.JPG"_s,
                        u"unknown_IMG_0005.JPG"_s, u"?_IMG_0006.JPG"_s, u"_A3_IMG_0007.JPG"_s, u"-A3_IMG_0014.JPG"_s,
                        u"A3_notes.txt"_s, u"A3_IMG_0008.XMP"_s, u".A3_IMG_0009.JPG"_s, u"sub/A3_IMG_0010.JPG"_s,
                        u"ZZ9_IMG_0011.JPG"_s, u"zz9_IMG_0012.JPG"_s, u"B7_IMG_0013.JPG"_s});
        const QString today = folderWith(u"today"_s, {u"A1_IMG_0020.JPG"_s, u"A3_IMG_0021.JPG"_s});
        const RosterReport report = RosterReport::make(
            subjects, {{u"Working folder"_s, working}, {u"Today"_s, today}, {u"Tomorrow"_s, m_root + u"/not-yet"_s}},
            minimum);

        QStringList found;
        for (const RosterReport::Row &row : report.rows()) {
            QStringList counts;
            for (int count : row.counts)
                counts.append(QString::number(count));
            found.append(row.subject.id + u':' + counts.join(u',') + u':'
                         + RosterReport::markText(row.mark, report.minimumPhotos()));
        }
        QCOMPARE(found, rows);
        QCOMPARE(report.missingCount(), 1);
        QCOMPARE(report.shortCount(), minimum == 2 ? 2 : 0);
        QVERIFY(report.problems().isEmpty());
        // Codes no subject holds gather in either case, by id.
        QCOMPARE(report.strays().size(), 2);
        QCOMPARE(report.strays()[0].id, u"B7"_s);
        QCOMPARE(report.strays()[1].id, u"ZZ9"_s);
        QCOMPARE(report.strays()[1].counts, QList<int>({2, 0, 0}));
        QCOMPARE(report.strays()[1].total, 2);
    }

    void filedNamesCarryTheirBarcode()
    {
        // The working folder's record of names stays behind at the filing: in the destination a name
        // of two parts is still a barcoded one, where a folder without a record takes it for a camera's.
        const Roster subjects = roster("id,name\nA1,Ann\n"_ba);
        const QString filed = folderWith(
            u"filed"_s, {u"A1_DSCN0020.JPG"_s, u"A1_IMG_0021.JPG"_s, u"DSCN0022.JPG"_s, u"unknown_IMG_1.JPG"_s});
        const RosterReport report =
            RosterReport::make(subjects, {{u"As found"_s, filed}, {u"Today"_s, filed, true}}, 1);
        QCOMPARE(report.rows()[0].counts, QList<int>({1, 2}));
        QVERIFY(report.strays().isEmpty());
    }

    void unreadableFolderIsAProblem()
    {
        const Roster subjects = roster("id,name\nA1,Ann\n"_ba);
        writeFile(m_root + u"/a-file"_s, QByteArray());
        const RosterReport report = RosterReport::make(subjects, {{u"Today"_s, m_root + u"/a-file"_s}}, 1);
        QCOMPARE(report.problems().size(), 1);
        QVERIFY2(report.problems()[0].contains(u"Today"_s) && report.problems()[0].contains(u"ENOTDIR"_s),
                 qPrintable(report.problems()[0]));
        QCOMPARE(report.rows().size(), 1);
    }

    void formats()
    {
        const Roster subjects = roster("\xEF\xBB\xBFid;name;class;teacher\r\n"
                                       "7;\"Garc\xC3\xAD\x61, Zo\xC3\xAB\";4;\"Ms \"\"Ro\"\"\"\r\n8;Ann;4;\r\n"_ba);
        const QString today = folderWith(u"formats"_s, {u"8_IMG_1.JPG"_s, u"8_IMG_2.JPG"_s, u"X1_IMG_3.JPG"_s});
        const RosterReport report = RosterReport::make(subjects, {{u"To, \"day\""_s, today}}, 1);

        QCOMPARE(report.toCsv(),
                 "\xEF\xBB\xBFId,Name,Class,Teacher,\"To, \"\"day\"\"\",Total,Status\r\n"
                 "8,Ann,4,,2,2,OK\r\n"
                 "7,\"Garc\xC3\xAD\x61, Zo\xC3\xAB\",4,\"Ms \"\"Ro\"\"\",0,0,No photos\r\n"
                 "X1,,,,1,1,Not on the roster\r\n"_ba);

        QJsonParseError error;
        const QJsonObject json = QJsonDocument::fromJson(report.toJson(), &error).object();
        QCOMPARE(error.error, QJsonParseError::NoError);
        QCOMPARE(json[u"missing"_s].toInt(), 1);
        QCOMPARE(json[u"subjects"_s][1][u"name"_s].toString(), u"García, Zoë"_s);
        QCOMPARE(json[u"subjects"_s][1][u"status"_s].toString(), u"missing"_s);
        QCOMPARE(json[u"notOnRoster"_s][0][u"counts"_s].toArray(), QJsonArray({1}));
        QCOMPARE(json[u"folders"_s][0][u"path"_s].toString(), today);

        const QString text = report.toText();
        QVERIFY2(text.indexOf(u"García, Zoë"_s) < text.indexOf(u"Not on the roster"_s)
                     && text.indexOf(u"Not on the roster"_s) < text.indexOf(u"X1"_s) && !text.contains(u"Ann"_s),
                 qPrintable(text));
        QVERIFY2(text.endsWith(u"2 subjects: 1 with photos, 1 without; 1 code not on the roster\n"_s),
                 qPrintable(text));
    }
};

LUMISORT_CORE_TEST_MAIN(TestRosterReport)
#include "tst_rosterreport.moc"
