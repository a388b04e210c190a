#include "TestMain.h"
#include "reassign/BarcodeEntryRules.h"
#include "reassign/ReassignSession.h"
#include "settings/SettingsKeys.h"
#include "settings/SettingsStore.h"

using namespace Qt::StringLiterals;

class TestReassignSession : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { SettingsStore::standard().setInteger(200, cPrefRadioSet1SelectedTag); }
    void order_data()
    {
        QTest::addColumn<bool>("readings");
        QTest::addColumn<bool>("reverse");
        QTest::addColumn<QStringList>("sorted");
        QTest::addColumn<int>("first");
        const QStringList given {u"b.jpg"_s, u"a b.jpg"_s, u"a!b.jpg"_s, u"B.jpg"_s, u"Ä.jpg"_s};
        // By the percent-escaped text, case first: not the order of the plain paths.
        const QStringList sorted {u"Ä.jpg"_s, u"B.jpg"_s, u"a!b.jpg"_s, u"a b.jpg"_s, u"b.jpg"_s};
        QTest::newRow("sorted") << false << false << sorted << 0;
        QTest::newRow("reversed starts at the end") << false << true << sorted << 4;
        // Readings come in the order the photos were taken, and are checked from the first.
        QTest::newRow("readings keep their order") << true << true << given << 0;
    }
    void order()
    {
        QFETCH(bool, readings);
        QFETCH(bool, reverse);
        QFETCH(QStringList, sorted);
        QFETCH(int, first);
        ReassignSession session;
        session.sortedurlsWithBarcodes->insert(u"/w/old.jpg"_s, u"1"_s);
        session.takeReadings(readings ? QVariant(QVariantMap {}) : QVariant(), BarcodeEntryRules(false, 0));
        session.takePhotos(urls({u"b.jpg"_s, u"a b.jpg"_s, u"a!b.jpg"_s, u"B.jpg"_s, u"Ä.jpg"_s}), reverse);
        QCOMPARE(*session.sortedurlstochange, urls(sorted));
        QCOMPARE(session.curindex, first);
        QCOMPARE(session.curindexString, QString::number(first));
        QVERIFY(session.sortedurlsWithBarcodes->isEmpty());
    }
    void readingsBeginGroups()
    {
        ReassignSession session;
        const BarcodeEntryRules rules(true, 13);
        session.takeReadings(QVariantMap {{u"/w/a"_s, QStringList {u"12345"_s}},
                                          {u"/w/b"_s, QStringList {u"42"_s, u"4006381333931"_s}},
                                          {u"/w/c"_s, QStringList {u"https://x.example/1"_s, u"4006381333931"_s}}},
                             rules);
        session.takePhotos(urls({u"a"_s, u"b"_s, u"c"_s}), false);
        // A barcode taken replaces the one taken before for the same photo; a photo whose barcode
        // was not taken still begins a group, with no barcode.
        session.moveTo(1);
        QVERIFY(session.record(u"777"_s));
        QVERIFY(session.record(u"4006381333931"_s));
        QVERIFY(!session.record(QString()));
        QCOMPARE(session.acceptedFor(u"/w/b"_s), u"4006381333931"_s);
        const QHash<QString, QString> barcodes = session.barcodesForRun();
        QCOMPARE(barcodes,
                 (QHash<QString, QString> {
                     {u"/w/a"_s, QString()}, {u"/w/b"_s, u"4006381333931"_s}, {u"/w/c"_s, QString()}}));
        // Those whose readings give no barcode either stop the run, the first of them shown.
        const ReassignSession::Unresolved unresolved = session.unresolvedReadings(barcodes, rules);
        QCOMPARE(unresolved.first, 0);
        QCOMPARE(unresolved.photos.size(), 2);
        QCOMPARE(unresolved.photos.at(1).first, u"/w/c"_s);
    }

private:
    static QList<QUrl> urls(const QStringList &names)
    {
        QList<QUrl> list;
        for (const QString &name : names)
            list << QUrl::fromLocalFile(u"/w/"_s + name);
        return list;
    }
};

LUMISORT_CORE_TEST_MAIN(TestReassignSession)
#include "tst_reassignsession.moc"
