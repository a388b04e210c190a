#include "TestMain.h"
#include "shell/BundleInfo.h"
#include "shell/FactoryDefaults.h"
#include "shell/SettingsKeys.h"
#include "shell/SettingsStore.h"

using namespace Qt::StringLiterals;

class TestFactoryDefaults : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void holdsWhatTheProgramReads();
    void sortChoicesAndPrompts();
    void bundleInformation();
};

void TestFactoryDefaults::holdsWhatTheProgramReads()
{
    QString error;
    const QVariantMap defaults = FactoryDefaults::load(&error);
    QVERIFY2(!defaults.isEmpty(), qPrintable(error));
    for (const QString &key :
         {cPrefCameraCardFolderNames, cPrefInputFolderSortKeyList, cPrefInputFolderSortKeySelectedIndex,
          cPrefSourcePathFactory, cPrefReassignPromptDict, cPrefDoReassignAllTheseToUnknownStringFormat,
          cPrefReassignedBarcodeRequiredLength, cPrefDateFormatterTag})
        QVERIFY2(defaults.contains(key), qPrintable(key));
    // Removing the stored pattern must mean "no daily folder": no default may shadow it.
    QVERIFY(!defaults.contains(cPrefDailyFolderDateFormat));
    QCOMPARE(defaults.value(cPrefReassignedBarcodeRequiredLength).toLongLong(), 13);
    QCOMPARE(defaults.value(cPrefDateFormatterTag).toLongLong(), 1);
    QVERIFY(defaults.value(cPrefSourcePathFactory).toString().startsWith(u"~/Pictures/"_s));
    QVERIFY(defaults.value(cPrefCameraCardFolderNames).toString().split(u',').contains(u"DCIM"_s));
}

void TestFactoryDefaults::sortChoicesAndPrompts()
{
    SettingsStore store(TestSandbox::instance().makeFolder(u"fd"_s) + u"/s.plist"_s);
    QVERIFY(FactoryDefaults::registerInto(store));
    const QVariantList sortChoices = *store.arrayForKey(cPrefInputFolderSortKeyList);
    QCOMPARE(sortChoices.size(), 2);
    QCOMPARE(sortChoices.at(0).toMap().value(u"key"_s).toString(), u"NSURLLocalizedNameKey"_s);
    QCOMPARE(sortChoices.at(1).toMap().value(u"key"_s).toString(), u"NSURLCreationDateKey"_s);
    QCOMPARE(store.integerForKey(cPrefInputFolderSortKeySelectedIndex), 1);
    const QVariantMap prompts = *store.dictionaryForKey(cPrefReassignPromptDict);
    for (const QString &entry : {u"unknown"_s, u"200"_s, u"202"_s})
        QVERIFY2(!prompts.value(entry).toString().isEmpty(), qPrintable(entry));
    QVERIFY(store.stringForKey(cPrefDoReassignAllTheseToUnknownStringFormat)->contains(u"[val1]"_s));
}

void TestFactoryDefaults::bundleInformation()
{
    const QVariantMap info = BundleInfo::infoDictionary();
    QCOMPARE(info.value(u"CFBundleName"_s).toString(), u"Lumisort"_s);
    for (const char *key : {"CFBundleDisplayName", "CFBundleIdentifier", "CFBundleExecutable",
                            "CFBundleShortVersionString", "DTXcode", "DTSDKName"})
        QVERIFY2(!info.value(QString::fromLatin1(key)).toString().isEmpty(), key);
    QCOMPARE(info.value(u"CFBundleShortVersionString"_s).toString(), QStringLiteral(LUMISORT_VERSION));
    QVERIFY(info.value(u"DTSDKName"_s).toString().contains(QString::fromLatin1(qVersion())));
}

LUMISORT_CORE_TEST_MAIN(TestFactoryDefaults)
#include "tst_factorydefaults.moc"
