#include "TestMain.h"
#include "settings/SettingsQueries.h"

using namespace Qt::StringLiterals;

class TestSettingsQueries : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void standaloneRule_data()
    {
        QTest::addColumn<QVariant>("executable");
        QTest::addColumn<bool>("standalone");
        QTest::newRow("VimoSorter") << QVariant(u"VimoSorter"_s) << true;
        QTest::newRow("vimo") << QVariant(u"vimo"_s) << true;
        QTest::newRow("Sorter") << QVariant(u"Sorter"_s) << false;
        QTest::newRow("MyVimo") << QVariant(u"MyVimo"_s) << false;
        QTest::newRow("no entry") << QVariant() << false;
    }
    void standaloneRule()
    {
        QFETCH(QVariant, executable);
        QFETCH(bool, standalone);
        QVariantMap info {{u"CFBundleName"_s, u"Lumisort"_s}};
        if (executable.isValid())
            info.insert(u"CFBundleExecutable"_s, executable);
        QCOMPARE(SettingsQueries::isStandaloneApp(info), standalone);
    }
};

LUMISORT_CORE_TEST_MAIN(TestSettingsQueries)
#include "tst_settingsqueries.moc"
