#include "TestMain.h"
#include "shell/SettingsKeys.h"
#include "shell/SettingsQueries.h"
#include "shell/SettingsStore.h"

using namespace Qt::StringLiterals;

class TestSettingsQueries : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { SettingsStore::standard().removeObjectForKey(cPrefRadioSet1SelectedTag); }
    void modeRule_data();
    void modeRule();
    void standaloneRule_data();
    void standaloneRule();
};

void TestSettingsQueries::modeRule_data()
{
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<qint64>("afterQuery");
    QTest::addColumn<bool>("automatic");
    QTest::newRow("201 becomes 200") << QVariant(201) << qint64(200) << false;
    QTest::newRow("nothing stored, no default") << QVariant() << qint64(200) << false;
    QTest::newRow("zero") << QVariant(0) << qint64(200) << false;
    QTest::newRow("202 stored as text") << QVariant(u"202"_s) << qint64(202) << true;
}

void TestSettingsQueries::modeRule()
{
    QFETCH(QVariant, stored);
    QFETCH(qint64, afterQuery);
    QFETCH(bool, automatic);
    SettingsStore &store = SettingsStore::standard();
    store.setObject(stored, cPrefRadioSet1SelectedTag);
    QCOMPARE(SettingsQueries::isAutoReassignMode(), automatic);
    QCOMPARE(store.integerForKey(cPrefRadioSet1SelectedTag), afterQuery);
    // The rule writes its answer back: a missing value is stored as 200.
    QCOMPARE(store.storedValues().value(cPrefRadioSet1SelectedTag).toLongLong(), afterQuery);
}

void TestSettingsQueries::standaloneRule_data()
{
    QTest::addColumn<QVariant>("executable");
    QTest::addColumn<bool>("standalone");
    QTest::newRow("VimoSorter") << QVariant(u"VimoSorter"_s) << true;
    QTest::newRow("vimo") << QVariant(u"vimo"_s) << true;
    QTest::newRow("Sorter") << QVariant(u"Sorter"_s) << false;
    QTest::newRow("MyVimo") << QVariant(u"MyVimo"_s) << false;
    QTest::newRow("no entry") << QVariant() << false;
}

void TestSettingsQueries::standaloneRule()
{
    QFETCH(QVariant, executable);
    QFETCH(bool, standalone);
    QVariantMap info {{u"CFBundleName"_s, u"Lumisort"_s}};
    if (executable.isValid())
        info.insert(u"CFBundleExecutable"_s, executable);
    QCOMPARE(SettingsQueries::isStandaloneApp(info), standalone);
}

LUMISORT_CORE_TEST_MAIN(TestSettingsQueries)
#include "tst_settingsqueries.moc"
