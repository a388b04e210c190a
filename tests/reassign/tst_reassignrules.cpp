#include "TestMain.h"
#include "reassign/ReassignRules.h"
#include "settings/SettingsKeys.h"
#include "settings/SettingsStore.h"

using namespace Qt::StringLiterals;

class TestReassignRules : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void oneBarcodeNames_data()
    {
        QTest::addColumn<QString>("barcode");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("expected"); // empty: left alone
        QTest::addColumn<QStringList>("recorded"); // names a card import brought in, "name=code" given ones
        QTest::newRow("old barcode replaced")
            << u"12345"_s << u"55555_IMG_0001.JPG"_s << u"12345_IMG_0001.JPG"_s << QStringList();
        QTest::newRow("UNKNOWN removed") << u"12345"_s << u"UNKNOWN_IMG_0001.JPG"_s << u"12345_IMG_0001.JPG"_s
                                         << QStringList();
        QTest::newRow("two pieces: nothing dropped")
            << u"12345"_s << u"IMG_0001.JPG"_s << u"12345_IMG_0001.JPG"_s << QStringList();
        QTest::newRow("no separator") << u"12345"_s << u"DSC0001.JPG"_s << u"12345_DSC0001.JPG"_s << QStringList();
        QTest::newRow("barcode kept when only two pieces")
            << u"12345"_s << u"55555_DSC0001.JPG"_s << u"12345_55555_DSC0001.JPG"_s << QStringList();
        QTest::newRow("already this barcode") << u"12345"_s << u"12345_IMG_0001.JPG"_s << QString() << QStringList();
        QTest::newRow("prefix test on the base name") << u"1234"_s << u"12345_0007.JPG"_s << QString() << QStringList();
        QTest::newRow("marking unknown") << u"UNKNOWN"_s << u"55555_IMG_0001.JPG"_s << u"UNKNOWN_IMG_0001.JPG"_s
                                         << QStringList();
        QTest::newRow("unknown inside, any case")
            << u"9"_s << u"IMG_Unknown_1.JPG"_s << u"9_IMG_1.JPG"_s << QStringList();
        QTest::newRow("extension case kept") << u"7"_s << u"1_a_b.jpeg"_s << u"7_a_b.jpeg"_s << QStringList();
        QTest::newRow("prefix test is case-sensitive")
            << u"abc"_s << u"ABC_1.jpg"_s << u"abc_ABC_1.jpg"_s << QStringList();
        const QStringList phone {u"IMG_20261207_093012.jpg"_s};
        QTest::newRow("imported phone name kept whole")
            << u"B"_s << u"IMG_20261207_093012.jpg"_s << u"B_IMG_20261207_093012.jpg"_s << phone;
        QTest::newRow("barcode of an imported phone name replaced")
            << u"B"_s << u"A_IMG_20261207_093012.jpg"_s << u"B_IMG_20261207_093012.jpg"_s << phone;
        QTest::newRow("barcode given to a name without \"_\" replaced")
            << u"B"_s << u"A_DSCN0010.jpg"_s << u"B_DSCN0010.jpg"_s << QStringList {u"A_DSCN0010.jpg=A"_s};
    }
    void oneBarcodeNames()
    {
        QFETCH(QString, barcode);
        QFETCH(QString, name);
        QFETCH(QString, expected);
        QFETCH(QStringList, recorded);
        SettingsStore::standard().setInteger(1, cPrefOriginalNameFormatTag);
        PhotoNameRecord record;
        for (const QString &entry : recorded) {
            if (entry.contains(u'='))
                record.given.insert(entry.section(u'=', 0, 0), entry.section(u'=', 1));
            else
                record.originals.insert(entry);
        }
        const std::optional<QString> renamed =
            ReassignRules::newFileNameForBarcode(name, barcode, PhotoNameRule(record));
        QCOMPARE(renamed, expected.isEmpty() ? std::nullopt : std::optional<QString>(expected));
    }
    void automaticPlans_data()
    {
        QTest::addColumn<QStringList>("folder"); // names in folder order
        QTest::addColumn<QStringList>("barcodes"); // "name=code"
        QTest::addColumn<bool>("reverse");
        QTest::addColumn<QStringList>("expected"); // new names in processing order, "-" for none
        const QStringList abcde {u"a"_s, u"b"_s, u"c"_s, u"d"_s, u"e"_s};
        const QStringList codes {u"b=777"_s, u"d=888"_s};
        QTest::newRow("forward") << abcde << codes << false
                                 << QStringList {u"-"_s, u"777_b"_s, u"777_c"_s, u"888_d"_s, u"888_e"_s};
        QTest::newRow("reversed") << abcde << codes << true
                                  << QStringList {u"-"_s, u"888_d"_s, u"888_c"_s, u"777_b"_s, u"777_a"_s};
        QTest::newRow("no barcode entered")
            << abcde << QStringList() << false << QStringList {u"-"_s, u"-"_s, u"-"_s, u"-"_s, u"-"_s};
        QTest::newRow("a second barcode id in front")
            << QStringList {u"b.jpg"_s, u"555_x.jpg"_s} << QStringList {u"b.jpg=777"_s} << false
            << QStringList {u"777_b.jpg"_s, u"777_555_x.jpg"_s};
    }
    void automaticPlans()
    {
        QFETCH(QStringList, folder);
        QFETCH(QStringList, barcodes);
        QFETCH(bool, reverse);
        QFETCH(QStringList, expected);
        QStringList paths;
        for (const QString &name : folder)
            paths << u"/work/"_s + name;
        QHash<QString, QString> codeOf;
        for (const QString &b : barcodes)
            codeOf.insert(u"/work/"_s + b.section(u'=', 0, 0), b.section(u'=', 1));
        const QList<ReassignRules::WorkEntry> work = ReassignRules::automaticWorkList(paths, codeOf, reverse);
        QStringList got;
        for (const ReassignRules::WorkEntry &entry : work) {
            got << (entry.newname ? entry.newname->mid(6) : u"-"_s);
            QCOMPARE(entry.code.has_value(), codeOf.contains(entry.path));
        }
        QCOMPARE(got, expected);
    }
};

LUMISORT_CORE_TEST_MAIN(TestReassignRules)
#include "tst_reassignrules.moc"
