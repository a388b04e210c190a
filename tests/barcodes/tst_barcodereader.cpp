#define ZX_USE_UTF8 1

#include "DemoCard.h"
#include "TestMain.h"
#include "barcodes/BarcodeReader.h"

#include <QDir>
#include <QImageReader>
#include <QPainter>
#include <ZXing/BitMatrix.h>
#include <ZXing/MultiFormatWriter.h>

using namespace Qt::StringLiterals;

// Barcodes drawn into a real photo blown up to 24 MP, written as a camera would.
class TestBarcodeReader : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        m_background = QImage(TestSandbox::testDataFile(u"camera/Reconyx_HC500_Hyperfire.jpg"_s));
        QVERIFY(!m_background.isNull());
        m_background = m_background.scaled(6000, 4000).convertToFormat(QImage::Format_RGB32);
        m_folder = TestSandbox::instance().makeFolder(u"photos"_s);
    }
    void photos_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("text"); // empty: no barcode
        QTest::addColumn<QString>("format");
        QTest::addColumn<int>("pass");
        using F = ZXing::BarcodeFormat;
        const auto row = [this](const char *name, F format, const char *text, double width, double angle, int pass,
                                bool plain = false, int ink = 0) {
            QTest::newRow(name) << photoWith(QString::fromLatin1(name).replace(u' ', u'_'), format,
                                             QString::fromLatin1(text), width, angle, plain, ink)
                                << QString::fromLatin1(text) << QString::fromLatin1(ZXing::ToString(format)) << pass;
        };
        row("Code 128", F::Code128, "LS-4711 a", 0.25, 0, 1);
        row("Code 39", F::Code39, "LUMI-39", 0.25, 0, 1);
        row("EAN-13", F::EAN13, "4006381333931", 0.2, 0, 1);
        row("EAN-8", F::EAN8, "96385074", 0.15, 0, 1);
        row("UPC-A", F::UPCA, "036000291452", 0.2, 0, 1);
        row("ITF", F::ITF, "00012345678905", 0.35, 0, 1);
        row("QR", F::QRCode, "Studio 42 Lumisort", 0.12, 0, 1);
        row("Data Matrix", F::DataMatrix, "DM-2024-0815", 0.1, 0, 1);
        // A card held close before a studio backdrop: its squares are so large that no part of the first look
        // seems code-like.
        row("Data Matrix held close", F::DataMatrix, "CLOSE", 0.4, 0, 1, true);
        // Too small or too far turned for the first look: only the second finds them.
        row("small Code 128", F::Code128, "SMALL-6", 0.06, 0, 2);
        row("turned Code 128", F::Code128, "TURNED-25", 0.08, 25, 2);
        row("turned Data Matrix", F::DataMatrix, "TURNED-DM", 0.04, 25, 2);
        row("grey QR", F::QRCode, "Studio 42 client 11466", 0.12, 0, 2, false, 190);
        row("large turned Data Matrix", F::DataMatrix, "DM-24893", 0.2, 160, 2);
        // zxing's own search both ways once aborted the program on this one.
        row("Code 39 turned 45", F::Code39, "LS-12419", 0.12, 45, 2);
        for (const QString &folder : {u"camera"_s, u"orientation"_s}) {
            const QDir dir(TestSandbox::testDataDir() + u'/' + folder);
            for (const QString &name : dir.entryList(QDir::Files))
                if (name != u"README.md"_s && name != u"LICENSE"_s)
                    QTest::newRow(qPrintable(folder + u'/' + name))
                        << dir.filePath(name) << QString() << QString() << 0;
        }
        // A scene without a label, with the camera's text printed along its edge: its busiest parts are
        // read again at full size, and must show no code.
        const QString scene = m_folder + u"/scene.JPG"_s;
        QVERIFY(m_background.save(scene, "JPEG", 90));
        QTest::newRow("24 MP scene") << scene << QString() << QString() << 0;
    }
    void photos()
    {
        QFETCH(QString, path);
        QFETCH(QString, text);
        QFETCH(QString, format);
        QFETCH(int, pass);
        QVERIFY(!path.isEmpty());
        const BarcodeReader::Reading reading = BarcodeReader::read(NativePath(path));
        QCOMPARE(reading.codes.size(), text.isEmpty() ? 0 : 1);
        QCOMPARE(reading.codes.value(0).text, text);
        QCOMPARE(reading.codes.value(0).format, format);
        QCOMPARE(reading.pass, pass);
        qInfo("%s: pass %d, %lld ms", QTest::currentDataTag(), reading.pass, reading.ms);
    }
    // The same scene stored turned, with the orientation tag to put it upright:
    // the code is found where it stands in the upright picture (1 and 3 give the
    // same landscape scene, 6 and 8 the same portrait one).
    void uprightPosition()
    {
        QList<QPointF> centres;
        for (const QString &orientation : {u"1"_s, u"3"_s, u"6"_s, u"8"_s}) {
            const DemoCard card = DemoCard::make(TestSandbox::instance().makeFolder(u"card"_s + orientation), 1, 1,
                                                 u"3000x2000"_s, {u"--orientation"_s, orientation});
            QVERIFY(card.isValid());
            const BarcodeReader::Reading reading = BarcodeReader::read(NativePath(card.photos.first().path));
            QCOMPARE(reading.codes.value(0).text, card.photos.first().barcode);
            centres << reading.codes.first().position.boundingRect().center();
        }
        QVERIFY((centres.at(1) - centres.at(0)).manhattanLength() < 0.05);
        QVERIFY((centres.at(3) - centres.at(2)).manhattanLength() < 0.05);
    }

private:
    QString photoWith(const QString &name, ZXing::BarcodeFormat format, const QString &text, double widthFraction,
                      double angle, bool plain, int ink);
    QImage m_background;
    QString m_folder;
};

// A printed label held in the scene (or before a plain backdrop): the code in grey ink on white with a quiet
// zone, turned by angle degrees.
QString TestBarcodeReader::photoWith(const QString &name, ZXing::BarcodeFormat format, const QString &text,
                                     double widthFraction, double angle, bool plain, int ink)
{
    const bool linear = ZXing::BarcodeFormats(ZXing::BarcodeFormat::LinearCodes).testFlag(format);
    const ZXing::BitMatrix modules = ZXing::MultiFormatWriter(format).setMargin(0).encode(text.toStdString(), 0, 0);
    const int side = qRound(m_background.width() * widthFraction);
    const double module = double(side) / modules.width();
    const int height = linear ? side * 2 / 5 : qRound(module * modules.height());
    QImage label(side + qRound(module * 20), height + qRound(module * 20), QImage::Format_RGB32);
    label.fill(Qt::white);
    {
        QPainter p(&label);
        for (int y = 0; y < modules.height(); ++y)
            for (int x = 0; x < modules.width(); ++x)
                if (modules.get(x, y))
                    p.fillRect(QRectF(module * (10 + x), module * 10 + (linear ? 0 : module * y), module,
                                      linear ? height : module),
                               QColor(ink, ink, ink));
    }
    QImage photo = m_background;
    if (plain)
        photo.fill(QColor(70, 90, 95));
    QPainter p(&photo);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.translate(photo.width() * 0.6, photo.height() * 0.45);
    p.rotate(angle);
    p.drawImage(QPointF(-label.width() / 2.0, -label.height() / 2.0), label);
    p.end();
    const QString path = m_folder + u'/' + name + u".JPG"_s;
    if (!photo.save(path, "JPEG", 90))
        return {};
    return path;
}

LUMISORT_CORE_TEST_MAIN(TestBarcodeReader)
#include "tst_barcodereader.moc"
