#include "TestMain.h"
#include "model/FileNameConvention.h"
#include "model/PhotoNameRule.h"
#include "settings/SettingsKeys.h"
#include "settings/SettingsStore.h"
#include "support/SafeFile.h"

using namespace Qt::StringLiterals;

class TestFileNameConvention : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void barcodeIdAndUnknownTest_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("barcode");
        QTest::addColumn<bool>("unknown");
        const QString original = FileNameConvention::cOriginalFileNameMarker;
        QTest::newRow("barcode and counter") << u"12345_0007.JPG"_s << u"12345"_s << false;
        QTest::newRow("space as separator") << u"12345 0007.jpg"_s << u"12345"_s << false;
        QTest::newRow("several separators") << u"AB12_x_y.tif"_s << u"AB12"_s << false;
        QTest::newRow("no separator") << u"DSC0001.JPG"_s << original << false;
        QTest::newRow("leading separator") << u"_0001.jpg"_s << QString() << false;
        QTest::newRow("doubled separator") << u"a__b.jpg"_s << u"a"_s << false;
        QTest::newRow("only the last extension goes") << u"123_a.b.jpg"_s << u"123"_s << false;
        QTest::newRow("no extension") << u"ABC_1"_s << u"ABC"_s << false;
        QTest::newRow("spaces are not trimmed") << u" 12_x.jpg"_s << QString() << false;
        QTest::newRow("path: last component only") << u"/work/77_a/DSC1.JPG"_s << original << false;
        QTest::newRow("Unknown") << u"Unknown_0001.JPG"_s << u"Unknown"_s << true;
        QTest::newRow("UNKNOWN") << u"UNKNOWN_0001.jpg"_s << u"UNKNOWN"_s << true;
        QTest::newRow("unknown without separator") << u"unknownphoto.jpg"_s << original << true;
        QTest::newRow("question mark") << u"?_IMG_1.jpg"_s << u"?"_s << true;
        QTest::newRow("word inside is not enough") << u"myunknown_1.jpg"_s << u"myunknown"_s << false;
    }
    void barcodeIdAndUnknownTest()
    {
        QFETCH(QString, name);
        QFETCH(QString, barcode);
        QFETCH(bool, unknown);
        QCOMPARE(FileNameConvention::barcodeIdForName(name), barcode);
        QCOMPARE(FileNameConvention::isUnknownPhoto(name), unknown);
    }
    void whatTheFolderKnows_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("damaged"); // the folder's record cannot be read
        QTest::addColumn<QString>("reading"); // "original", "unknown" or the barcode; "?" after it: by part count
        QTest::newRow("imported, no \"_\"") << u"DSCN0010.JPG"_s << false << u"original"_s;
        QTest::newRow("imported, three parts") << u"IMG_20261207_093012.jpg"_s << false << u"original"_s;
        QTest::newRow("barcode before an imported name") << u"P26-0417_DSCN0010.JPG"_s << false << u"P26-0417"_s;
        QTest::newRow("barcode before an imported name of three parts")
            << u"2_IMG_20261207_093012.jpg"_s << false << u"2"_s;
        QTest::newRow("given by a reassignment") << u"X_1_DSCN9999.JPG"_s << false << u"X_1"_s;
        QTest::newRow("unknown marker first") << u"UNKNOWN_DSCN0010.JPG"_s << false << u"unknown"_s;
        QTest::newRow("not recorded, two parts") << u"P26-0417_DSCN0012.jpg"_s << false << u"original?"_s;
        QTest::newRow("not recorded, three parts") << u"123_IMG_0001.JPG"_s << false << u"123?"_s;
        QTest::newRow("damaged record: part count") << u"IMG_20261207_093012.jpg"_s << true << u"IMG?"_s;
    }
    // Each reading from a new rule: what the card import and the reassignment recorded is read from disk.
    void whatTheFolderKnows()
    {
        QFETCH(QString, name);
        QFETCH(bool, damaged);
        QFETCH(QString, reading);
        SettingsStore::standard().setInteger(1, cPrefOriginalNameFormatTag);
        const QString folder = TestSandbox::instance().makeFolder(u"work"_s);
        QVERIFY(PhotoNameRecord::recordImport(folder, {u"DSCN0010.JPG"_s, u"IMG_20261207_093012.jpg"_s}));
        QVERIFY(PhotoNameRecord::recordGiven({{folder + u"/DSCN9999.JPG"_s, folder + u"/X_1_DSCN9999.JPG"_s}}));
        if (damaged) {
            QVERIFY(SafeFile::writeDurably(NativePath(PhotoNameRecord::recordPathFor(folder)),
                                           "{\"folder\": ", SafeFileReplace::Atomically));
        }
        const PhotoNameRule::Reading read = PhotoNameRule(folder).read(folder + u'/' + name);
        const QString kind = read.kind == PhotoNameRule::Kind::Original ? u"original"_s
            : read.kind == PhotoNameRule::Kind::Unknown                 ? u"unknown"_s
                                                                        : read.barcode;
        QCOMPARE(kind + (read.guessed ? u"?"_s : QString()), reading);
    }
};

LUMISORT_CORE_TEST_MAIN(TestFileNameConvention)
#include "tst_filenameconvention.moc"
