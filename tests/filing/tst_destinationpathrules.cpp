#include "TestMain.h"
#include "filing/DestinationPathRules.h"
#include "settings/SettingsKeys.h"
#include "settings/SettingsStore.h"

#include <QDir>
#include <QFileInfo>

using namespace Qt::StringLiterals;

class TestDestinationPathRules : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        for (const QString &key :
             {cPrefDestinationPath, cPrefDailyFolderDateFormat, cPrefDoUnassignedProcess, cPrefOriginalNameFormatTag})
            store.removeObjectForKey(key);
        m_destination = TestSandbox::instance().makeFolder(u"destination"_s);
    }
    void cleanup() { DestinationPathRules::setClockForTesting(nullptr); }
    void dailyFolderName_data()
    {
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QString>("expected");
        const QDateTime before(QDate(2026, 12, 5), QTime(2, 59, 59));
        const QDateTime at(QDate(2026, 12, 5), QTime(3, 0, 0));
        QTest::newRow("02:59 belongs to the day before") << before << u"yyyyMMdd"_s << u"20261204"_s;
        QTest::newRow("03:00 starts the day") << at << u"yyyyMMdd"_s << u"20261205"_s;
        QTest::newRow("slashes become colons") << at << u"MM/dd/yyyy"_s << u"12:05:2026"_s;
        QTest::newRow("quoted literal text") << at << u"'Day' D"_s << u"Day 339"_s;
        // Unicode symbols, not Qt's: "YYYY" is the week-based year.
        const QDateTime newYearsEve(QDate(2018, 12, 31), QTime(12, 0));
        QTest::newRow("calendar year") << newYearsEve << u"yyyy"_s << u"2018"_s;
        QTest::newRow("week-based year") << newYearsEve << u"YYYY"_s << u"2019"_s;
        QTest::newRow("single-letter month") << at << u"M-d-yy"_s << u"12-5-26"_s;
    }
    void dailyFolderName()
    {
        QFETCH(QDateTime, now);
        QFETCH(QString, pattern);
        QFETCH(QString, expected);
        DestinationPathRules::setClockForTesting([now] { return now; });
        QCOMPARE(DestinationPathRules::performDateFormatString(pattern), std::optional<QString>(expected));
        store.setString(pattern, cPrefDailyFolderDateFormat);
        QCOMPARE(DestinationPathRules::getDailyFolderName(), std::optional<QString>(expected));
    }
    // Filing with and without a daily folder pattern or unassigned folder is met by TestFilingRun::filing
    // and TestFileCommand; here, the paths the other callers ask for.
    void destinationFolders()
    {
        DestinationPathRules::setClockForTesting([] { return QDateTime(QDate(2026, 12, 5), QTime(9, 0)); });
        store.setString(m_destination + u'/', cPrefDestinationPath); // a trailing "/" is not doubled
        store.setString(u"yyyyMMdd"_s, cPrefDailyFolderDateFormat);
        store.setBool(false, cPrefDoUnassignedProcess);
        const QString daily = m_destination + u"/20261205"_s;
        QCOMPARE(DestinationPathRules::getDuplicateFolderPath(cPrefDestinationPath, cPrefDailyFolderDateFormat),
                 std::optional<QString>(daily));
        QCOMPARE(DestinationPathRules::formPathToImageInsideMainImagesFolder(u"A_1.jpg"_s),
                 std::optional<QString>(daily + u"/A_1.jpg"_s));
        QCOMPARE(DestinationPathRules::formPathToImageInsideMainImagesFolder(QString()), std::optional<QString>(daily));
        QVERIFY(!DestinationPathRules::getDestinationPathForUnknown());
        QVERIFY(!QFileInfo::exists(m_destination + u"/UNASSIGNED_PHOTOS"_s));

        store.setBool(true, cPrefDoUnassignedProcess);
        const std::optional<QString> unknownFolder = DestinationPathRules::getDestinationPathForUnknown();
        QCOMPARE(unknownFolder, std::optional<QString>(m_destination + u"/UNASSIGNED_PHOTOS/20261205"_s));
        QVERIFY(QFileInfo(*unknownFolder).isDir()); // created on the way
        QCOMPARE(DestinationPathRules::getDestinationPathForUnknown(), unknownFolder); // existing is fine

        // Without a destination folder there is nowhere to file, and nothing is created here.
        store.removeObjectForKey(cPrefDestinationPath);
        QVERIFY(!DestinationPathRules::formPathToImageInsideMainImagesFolder(u"A_1.jpg"_s));
        QVERIFY(!DestinationPathRules::getDestinationPathForUnknown());
        QVERIFY(!QFileInfo::exists(QDir::currentPath() + u"/UNASSIGNED_PHOTOS"_s));
    }
    void originalNameTest_data()
    {
        QTest::addColumn<int>("tag");
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("original");
        QTest::newRow("tag 0: one part") << 0 << u"DSC0001.JPG"_s << true;
        QTest::newRow("tag 0: two parts") << 0 << u"IMG_0001.JPG"_s << false;
        QTest::newRow("tag 1: two parts") << 1 << u"IMG_0001.JPG"_s << true;
        QTest::newRow("tag 1: barcode in front") << 1 << u"12345_IMG_0001.JPG"_s << false;
        QTest::newRow("tag 1: doubled separator") << 1 << u"IMG__0001.JPG"_s << true;
        QTest::newRow("tag 1: blank part dropped") << 1 << u"IMG_ _0001.JPG"_s << true;
        QTest::newRow("tag 2: three parts") << 2 << u"12345_IMG_0001.JPG"_s << true;
        QTest::newRow("tag 2: four parts") << 2 << u"9_12345_IMG_0001.JPG"_s << false;
        QTest::newRow("another tag: never") << 7 << u"DSC0001.JPG"_s << false;
    }
    void originalNameTest()
    {
        QFETCH(int, tag);
        QFETCH(QString, name);
        QFETCH(bool, original);
        store.setInteger(tag, cPrefOriginalNameFormatTag);
        QCOMPARE(DestinationPathRules::checkIfIsOriginal(u"/work/"_s + name), original);
    }

private:
    SettingsStore &store = SettingsStore::standard();
    QString m_destination;
};

LUMISORT_CORE_TEST_MAIN(TestDestinationPathRules)
#include "tst_destinationpathrules.moc"
