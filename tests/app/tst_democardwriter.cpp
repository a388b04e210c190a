#define ZX_USE_UTF8 1

#include "TestMain.h"

#include <QFileInfo>
#include <QImageReader>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <ZXing/ReadBarcode.h>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <exiv2/exiv2.hpp>

using namespace Qt::StringLiterals;

namespace {

struct Exif
{
    QString dateTimeOriginal;
    int orientation = 0;
    QImage thumbnail;
};

Exif readExif(const QString &path)
{
    auto image = Exiv2::ImageFactory::open(path.toStdString());
    image->readMetadata();
    const Exiv2::ExifData &data = image->exifData();
    const auto date = data.findKey(Exiv2::ExifKey("Exif.Photo.DateTimeOriginal"));
    const auto orientation = data.findKey(Exiv2::ExifKey("Exif.Image.Orientation"));
    const Exiv2::DataBuf thumb = Exiv2::ExifThumbC(data).copy();
    return {date == data.end() ? QString() : QString::fromStdString(date->toString()),
            orientation == data.end() ? 0 : int(orientation->toLong()),
            thumb.size_ > 0 ? QImage::fromData(thumb.pData_, int(thumb.size_), "JPEG") : QImage()};
}
#pragma GCC diagnostic pop

QString readBarcode(const QImage &photo)
{
    const QImage grey = photo.convertToFormat(QImage::Format_Grayscale8);
    const ZXing::Result result = ZXing::ReadBarcode(
        {grey.constBits(), grey.width(), grey.height(), ZXing::ImageFormat::Lum, int(grey.bytesPerLine())},
        ZXing::DecodeHints().setFormats(ZXing::BarcodeFormat::EAN13));
    return result.isValid() ? QString::fromStdString(result.text()) : QString();
}

QImage readPhoto(const QString &path, bool upright)
{
    QImageReader reader(path);
    reader.setAutoTransform(upright);
    return reader.read();
}

// Small enough that sensor noise and JPEG loss average out, large enough to see the picture.
double difference(const QImage &a, const QImage &b)
{
    const QSize small = a.size().scaled(48, 48, Qt::KeepAspectRatio);
    const QImage x =
        a.scaled(small, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).convertToFormat(QImage::Format_RGB32);
    const QImage y =
        b.scaled(small, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).convertToFormat(QImage::Format_RGB32);
    double sum = 0;
    for (int row = 0; row < small.height(); ++row)
        for (int col = 0; col < small.width(); ++col)
            sum += std::abs(qGray(x.pixel(col, row)) - qGray(y.pixel(col, row)));
    return sum / (small.width() * small.height());
}

} // namespace

// The demo card as benchmarks, demos and other tests make it through the command-line tool,
// checked through independent readers (exiv2, ZXing, Qt's image reader).
class TestDemoCardWriter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // The demo card generator as benchmarks and demos call it, checked through independent readers.
    void cardMatchesManifest()
    {
        const QString dir = TestSandbox::instance().makeFolder(u"card"_s);
        const CliRun run = makeCard(dir, u"--groups 3 --photos=2 --size 640x480 --seed 7 --start-number 9997"_s);
        QCOMPARE(run.status, 0);
        QVERIFY(run.out.contains(u"wrote 9 photos"_s));
        const QJsonObject card = manifest(dir);
        const QJsonArray photos = card.value(u"photos"_s).toArray();
        QCOMPARE(photos.size(), 9);

        // The counter runs past 9999 into the next folder, as a camera's does; nothing else is left behind.
        QStringList expected, found;
        for (int i = 0; i < 9; ++i)
            expected << (i < 3 ? u"DCIM/100CANON/IMG_%1.JPG"_s.arg(9997 + i)
                               : u"DCIM/101CANON/IMG_000%1.JPG"_s.arg(i - 2));
        for (const QString &file : filesWithContents(dir))
            found << file.section(u'=', 0, 0);
        QCOMPARE(found, expected + QStringList {u"lumisort-card.json"_s});

        QSet<QString> barcodes;
        qint64 previousShot = 0;
        for (int i = 0; i < photos.size(); ++i) {
            const QJsonObject photo = photos.at(i).toObject();
            const QString path = dir + u'/' + photo.value(u"path"_s).toString();
            QCOMPARE(photo.value(u"path"_s).toString(), expected.at(i));
            // One end-of-image marker for the thumbnail, one for the photo, nothing after it.
            QVERIFY2(readFile(path).endsWith("\xff\xd9") && readFile(path).count("\xff\xd9") == 2, qPrintable(path));
            const QImage image = readPhoto(path, true);
            const QString barcode = photo.value(u"barcode"_s).toString();
            QCOMPARE(readBarcode(image), barcode);
            if (i % 3 == 0) { // read as EAN-13, so its check digit holds
                barcodes.insert(barcode);
            } else { // a flat or cartoon picture would compress to a fraction of this
                QVERIFY2(QFileInfo(path).size() > 640 * 480 / 8, qPrintable(path));
            }
            const QDateTime shot = QDateTime::fromString(photo.value(u"shot"_s).toString(), Qt::ISODate);
            QVERIFY(shot.toSecsSinceEpoch() > previousShot);
            previousShot = shot.toSecsSinceEpoch();
            QCOMPARE(QFileInfo(path).lastModified().toSecsSinceEpoch(), previousShot);
            const Exif exif = readExif(path);
            QCOMPARE(exif.dateTimeOriginal, shot.toString(u"yyyy:MM:dd HH:mm:ss"_s));
            QCOMPARE(exif.thumbnail.size(), QSize(160, 120));
        }
        QCOMPARE(barcodes.size(), 3);
    }

    void orientationStoresUprightPicture_data()
    {
        QTest::addColumn<int>("orientation");
        for (int k = 1; k <= 8; ++k)
            QTest::addRow("%d", k) << k;
    }

    // The same portrait picture, stored as each orientation demands: a viewer
    // applying the tag must see what an untagged card shows.
    void orientationStoresUprightPicture()
    {
        QFETCH(int, orientation);
        const auto make = [&](int k) {
            const QString dir = TestSandbox::instance().makeFolder(u"oriented"_s);
            const QString size = k >= 5 ? u"640x480"_s : u"480x640"_s;
            const CliRun run =
                makeCard(dir, u"--groups 1 --photos 1 --seed 5 --size %1 --orientation %2"_s.arg(size).arg(k));
            return run.status == 0 ? dir + u"/DCIM/100CANON/IMG_000"_s : QString();
        };
        const QString reference = make(1), oriented = make(orientation);
        QVERIFY(!reference.isEmpty() && !oriented.isEmpty());
        for (const QString &number : {u"1.JPG"_s, u"2.JPG"_s}) {
            const QString path = oriented + number;
            if (orientation == 1) // same arguments, same bytes: benchmarks compare runs
                QCOMPARE(readFile(path), readFile(reference + number));
            const QImage upright = readPhoto(path, true), stored = readPhoto(path, false);
            QCOMPARE(upright.size(), QSize(480, 640));
            QVERIFY2(difference(upright, readPhoto(reference + number, true)) < 4, qPrintable(path));
            if (orientation != 1 && stored.size() == upright.size())
                QVERIFY(difference(stored, upright) > 10);
            // The thumbnail is stored like the photo, so one tag turns both upright.
            const Exif exif = readExif(path);
            QCOMPARE(exif.orientation, orientation);
            const QSize fitted = stored.size().scaled(160, 120, Qt::KeepAspectRatio);
            const QRect content(QPoint((160 - fitted.width()) / 2, (120 - fitted.height()) / 2), fitted);
            QVERIFY(difference(exif.thumbnail.copy(content), stored) < 4);
        }
    }

private:
    static CliRun makeCard(const QString &dir, const QString &options)
    {
        return runCli(QStringList {u"make-card"_s, dir} + options.split(u' '));
    }
    static QJsonObject manifest(const QString &dir)
    {
        return QJsonDocument::fromJson(readFile(dir + u"/lumisort-card.json"_s)).object();
    }
};

LUMISORT_CORE_TEST_MAIN(TestDemoCardWriter)
#include "tst_democardwriter.moc"
