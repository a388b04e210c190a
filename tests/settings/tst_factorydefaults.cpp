#include "TestMain.h"
#include "settings/FactoryDefaults.h"
#include "settings/SettingsKeys.h"

using namespace Qt::StringLiterals;

class TestFactoryDefaults : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void noDefaultShadowsTheDailyFolderPattern()
    {
        QString error;
        const QVariantMap defaults = FactoryDefaults::load(&error);
        QVERIFY2(!defaults.isEmpty(), qPrintable(error));
        // Removing the stored pattern must mean "no daily folder".
        QVERIFY(!defaults.contains(cPrefDailyFolderDateFormat));
    }
};

LUMISORT_CORE_TEST_MAIN(TestFactoryDefaults)
#include "tst_factorydefaults.moc"
