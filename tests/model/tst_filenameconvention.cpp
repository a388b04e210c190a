#include "TestMain.h"
#include "model/FileNameConvention.h"

using namespace Qt::StringLiterals;

class TestFileNameConvention : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void barcodeIdAndUnknownTest_data();
    void barcodeIdAndUnknownTest();
};

void TestFileNameConvention::barcodeIdAndUnknownTest_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("barcode");
    QTest::addColumn<bool>("unknown");
    const QString original = FileNameConvention::cOriginalFileNameMarker;
    QTest::newRow("barcode and counter") << u"12345_0007.JPG"_s << u"12345"_s << false;
    QTest::newRow("space as separator") << u"12345 0007.jpg"_s << u"12345"_s << false;
    QTest::newRow("several separators") << u"AB12_x_y.tif"_s << u"AB12"_s << false;
    QTest::newRow("only the first part") << u"123_456_789.jpg"_s << u"123"_s << false;
    QTest::newRow("no separator") << u"DSC0001.JPG"_s << original << false;
    QTest::newRow("leading separator") << u"_0001.jpg"_s << QString() << false;
    QTest::newRow("trailing separator") << u"12345_.jpg"_s << u"12345"_s << false;
    QTest::newRow("doubled separator") << u"a__b.jpg"_s << u"a"_s << false;
    QTest::newRow("only the last extension goes") << u"123_a.b.jpg"_s << u"123"_s << false;
    QTest::newRow("dot in the barcode part") << u"1.5_x.jpg"_s << u"1.5"_s << false;
    QTest::newRow("no extension") << u"ABC_1"_s << u"ABC"_s << false;
    QTest::newRow("case is kept") << u"abc_1.jpg"_s << u"abc"_s << false;
    QTest::newRow("spaces are not trimmed") << u" 12_x.jpg"_s << QString() << false;
    QTest::newRow("path: last component only") << u"/work/77_a/DSC1.JPG"_s << original << false;
    QTest::newRow("Unknown") << u"Unknown_0001.JPG"_s << u"Unknown"_s << true;
    QTest::newRow("UNKNOWN") << u"UNKNOWN_0001.jpg"_s << u"UNKNOWN"_s << true;
    QTest::newRow("unknown without separator") << u"unknownphoto.jpg"_s << original << true;
    QTest::newRow("question mark") << u"?_IMG_1.jpg"_s << u"?"_s << true;
    QTest::newRow("word inside is not enough") << u"myunknown_1.jpg"_s << u"myunknown"_s << false;
}

void TestFileNameConvention::barcodeIdAndUnknownTest()
{
    QFETCH(QString, name);
    QFETCH(QString, barcode);
    QFETCH(bool, unknown);
    QCOMPARE(FileNameConvention::barcodeIdForName(name), barcode);
    QCOMPARE(FileNameConvention::barcodeIdForUrl(QUrl::fromLocalFile(u"/tmp/"_s + name.section(u'/', -1))), barcode);
    QCOMPARE(FileNameConvention::isUnknownPhoto(name), unknown);
}

LUMISORT_CORE_TEST_MAIN(TestFileNameConvention)
#include "tst_filenameconvention.moc"
