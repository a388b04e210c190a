#include "TestMain.h"
#include "reassign/BarcodeEntryRules.h"

using namespace Qt::StringLiterals;

class TestBarcodeEntryRules : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void entry_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("enforced");
        QTest::addColumn<QString>("problem"); // a part of the refusal; empty: taken
        QTest::newRow("13 digits") << u"4006381333931"_s << true << QString();
        QTest::newRow("longer") << u"40063813339312"_s << true << QString();
        QTest::newRow("letters count") << u"UNKNOWNPHOTOS"_s << true << QString();
        QTest::newRow("empty") << QString() << true << QString();
        // The refusal says which rule, and where it is set.
        QTest::newRow("too short") << u"12345"_s << true
                                   << u"\"12345\" was refused. The barcode length rule asks for at least 13 "
                                      u"characters; this one has 5 (the rule is set in Preferences, Reassignment, "
                                      u"\u201cRequired length\u201d)."_s;
        QTest::newRow("rule off") << u"12345"_s << false << QString();
        QTest::newRow("a path, rule off") << u"../x"_s << false << u"\"../x\" was refused."_s;
        // A scanner's line endings: only the first line is the code.
        QTest::newRow("first line") << u" 123\r\n\r\n4006381333931 "_s << true << u"\"123\" was refused."_s;
    }
    void entry()
    {
        QFETCH(QString, typed);
        QFETCH(bool, enforced);
        QFETCH(QString, problem);
        const std::optional<QString> rejection =
            BarcodeEntryRules(enforced, 13).rejectionOf(BarcodeEntryRules::entryOf(typed));
        QCOMPARE(rejection.has_value(), !problem.isEmpty());
        if (rejection)
            QVERIFY2(rejection->startsWith(problem), qPrintable(*rejection));
    }
    void readings()
    {
        const BarcodeEntryRules rules(true, 13);
        // The card's code is proposed before a small second code and a web address.
        QCOMPARE(rules.proposalOrder({u"42"_s, u"https://x.example/a"_s, u"4006381333931"_s}),
                 (QStringList {u"4006381333931"_s, u"42"_s, u"https://x.example/a"_s}));
        // One length agreed on by every acceptable code, shorter than the rule: offered.
        QCOMPARE(rules.agreedLength({{u"a"_s, {u"P26-0417"_s, u"a/b"_s}}, {u"b"_s, {u"P26-0418"_s}}}), qsizetype(8));
        QCOMPARE(rules.agreedLength({{u"a"_s, {u"P26-0417"_s}}, {u"b"_s, {u"P26-04189"_s}}}), std::nullopt);
        QCOMPARE(rules.agreedLength({{u"a"_s, {u"4006381333931"_s}}}), std::nullopt);
        QCOMPARE(BarcodeEntryRules(false, 13).agreedLength({{u"a"_s, {u"P26-0417"_s}}}), std::nullopt);
        // A refused reading is shown as read, not as typed.
        QVERIFY(rules.proposalProblem(u"12345"_s)->startsWith(u"\"12345\" was read in this photo. The barcode"_s));
        QCOMPARE(rules.proposalProblem(u"4006381333931"_s), std::nullopt);
    }
};

LUMISORT_CORE_TEST_MAIN(TestBarcodeEntryRules)
#include "tst_barcodeentryrules.moc"
