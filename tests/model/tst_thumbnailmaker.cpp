#include "TestMain.h"
#include "model/ThumbnailMaker.h"

#include <QBuffer>
#include <QImageReader>
#include <QtEndian>
#include <cstdlib>
#include <jpeglib.h>

using namespace Qt::StringLiterals;

using Source = ThumbnailMaker::Source;
Q_DECLARE_METATYPE(ThumbnailMaker::Source)

namespace {

// Compares pictures, not bytes: a wrong turn or mirror moves the whole scene.
double distance(const QImage &a, const QImage &b)
{
    const auto small = [](const QImage &image) {
        return image.scaled(16, 16, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
            .convertToFormat(QImage::Format_Grayscale8);
    };
    const QImage x = small(a), y = small(b);
    double sum = 0;
    for (int i = 0; i < 256; ++i)
        sum += std::abs(x.constScanLine(i / 16)[i % 16] - y.constScanLine(i / 16)[i % 16]);
    return sum / 256;
}

QByteArray jpeg(const QImage &image, int quality = 90)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "jpeg", quality);
    return bytes;
}

// A camera-style JPEG: an EXIF block holding the orientation and a JPEG thumbnail, then the main image.
QByteArray jpegWithThumbnail(const QImage &main, const QImage &thumbnail, quint16 orientation)
{
    const QByteArray thumb = jpeg(thumbnail);
    const auto le = [](quint32 value, int bytes) {
        value = qToLittleEndian(value);
        return QByteArray(reinterpret_cast<const char *>(&value), bytes);
    };
    QByteArray tiff = "II*\0"_ba + le(8, 4);
    const auto entry = [&](quint16 tag, quint16 type, quint32 value) {
        tiff += le(tag, 2) + le(type, 2) + le(1, 4) + le(value, 4);
    };
    tiff += le(1, 2); // IFD0: the orientation only
    entry(0x0112, 3, orientation);
    tiff += le(26, 4) + le(3, 2); // IFD1 follows
    entry(0x0103, 3, 6); // JPEG compressed
    entry(0x0201, 4, 68); // the thumbnail right after IFD1
    entry(0x0202, 4, quint32(thumb.size()));
    const QByteArray app1 = "Exif"_ba + QByteArray(2, '\0') + tiff + le(0, 4) + thumb;
    const quint16 length = qToBigEndian(quint16(app1.size() + 2));
    return "\xFF\xD8\xFF\xE1"_ba + QByteArray(reinterpret_cast<const char *>(&length), 2) + app1 + jpeg(main).mid(2);
}

// Written through libjpeg: Qt's writer sets no restart interval, and cameras do.
QByteArray jpegByLibjpeg(const QImage &image, bool progressive, unsigned restartInterval)
{
    const bool grey = image.isGrayscale();
    const QImage pixels = image.convertToFormat(grey ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
    jpeg_compress_struct info = {};
    jpeg_error_mgr error = {};
    info.err = jpeg_std_error(&error);
    jpeg_create_compress(&info);
    unsigned char *out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &out, &size);
    info.image_width = JDIMENSION(pixels.width());
    info.image_height = JDIMENSION(pixels.height());
    info.input_components = grey ? 1 : 3;
    info.in_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&info);
    if (progressive)
        jpeg_simple_progression(&info);
    info.restart_interval = restartInterval;
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<uchar *>(pixels.constScanLine(int(info.next_scanline)));
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    const QByteArray bytes(reinterpret_cast<const char *>(out), qsizetype(size));
    std::free(out);
    return bytes;
}

QImage filled(QSize size, QColor color)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(color);
    return image;
}

// A picture framed by black bars at the given insets.
QImage framed(QSize size, QMargins bars)
{
    QImage image = filled(size, Qt::black);
    const QRect inside = image.rect().marginsRemoved(bars);
    for (int y = inside.top(); y <= inside.bottom(); ++y) {
        for (int x = inside.left(); x <= inside.right(); ++x)
            image.setPixel(x, y, qRgb(200, 40 + x, 40 + y));
    }
    return image;
}

} // namespace

class TestThumbnailMaker : public QObject
{
    Q_OBJECT

    QString m_folder;

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(!TestSandbox::testDataDir().isEmpty(), "the shared test photos are missing");
        m_folder = TestSandbox::instance().makeFolder(u"thumbs"_s);
    }
    void files_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content"); // null: no such file
        QTest::addColumn<Source>("source");
        QTest::addColumn<QSize>("imageSize");
        QTest::addColumn<int>("orientation");
        QTest::addColumn<QSize>("size"); // invalid: at most the thumbnail size, upright
        QTest::addColumn<QImage>("upright"); // what the picture must look like; null: no bars instead
        const auto camera = [](const QString &name) {
            return readFile(TestSandbox::testDataFile(u"camera/"_s + name));
        };
        const auto row = [](const char *tag, const QString &name, const QByteArray &content, Source source,
                            QSize imageSize, int orientation, QSize size = {}, const QImage &upright = {}) {
            QTest::newRow(tag) << name << content << source << imageSize << orientation << size << upright;
        };
        // Each orientation photo decoded, and its stored pixels as an embedded thumbnail turned by the
        // photo's orientation: both come out upright.
        for (const QString &shape : {u"Landscape_"_s, u"Portrait_"_s}) {
            const QString folder = TestSandbox::testDataFile(u"orientation"_s) + u'/';
            const QImage upright = ThumbnailMaker::make(QString(folder + shape + u"1.jpg"_s)).image;
            for (int orientation = 0; orientation <= 8; ++orientation) {
                const QString name = shape + QString::number(orientation) + u".jpg"_s;
                QImageReader reader(folder + name);
                reader.setAutoTransform(false);
                const bool turned =
                    (reader.size().width() > reader.size().height()) != (upright.width() > upright.height());
                const QImage stored = reader.read().scaled(turned ? upright.size().transposed() : upright.size(),
                                                           Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
                row(qPrintable(name), name, readFile(folder + name), Source::ScaledDecode, reader.size(), orientation,
                    upright.size(), upright);
                row(qPrintable(u"embedded "_s + name), name,
                    jpegWithThumbnail(filled(stored.size(), Qt::gray), stored, quint16(orientation)), Source::Embedded,
                    stored.size(), orientation, upright.size(), upright);
            }
        }
        const auto cameraRow = [&](const char *tag, const QString &file, Source source, QSize imageSize,
                                   int orientation) { row(tag, file, camera(file), source, imageSize, orientation); };
        // The thumbnail bigger than the shrunk main image is still the one to show.
        cameraRow("Canon 40D", u"Canon_40D.jpg"_s, Source::Embedded, {100, 68}, 1);
        cameraRow("turned thumbnail", u"canon_hdr_NO.jpg"_s, Source::Embedded, {2048, 1536}, 6);
        cameraRow("damaged image data", u"corrupted.jpg"_s, Source::Embedded, {3648, 2736}, 1);
        cameraRow("no thumbnail", u"Fujifilm_FinePix_E500.jpg"_s, Source::ScaledDecode, {59, 100}, 1);
        cameraRow("no tags", u"Reconyx_HC500_Hyperfire.jpg"_s, Source::ScaledDecode, {2048, 1536}, 0);
        cameraRow("invalid EXIF", u"invalid_image00971.jpg"_s, Source::ScaledDecode, {636, 227}, 0);
        cameraRow("HEIC thumbnail", u"iphone_13_pro_max.HEIC"_s, Source::HeifThumbnail, {4032, 3024}, 6);
        cameraRow("HEIC image", u"IMG_5195.HEIC"_s, Source::HeifImage, {2566, 3313}, 0);
        cameraRow("TIFF", u"BSG1.tiff"_s, Source::OtherFormat, {635, 348}, 1);
        const QByteArray canon = camera(u"canon_hdr_NO.jpg"_s);
        row("truncated, thumbnail intact", u"cut2.jpg"_s, canon.left(canon.size() / 2), Source::Embedded, {2048, 1536},
            6);

        // Made here: embedded thumbnails letterboxed by the camera lose their bars.
        const auto madeRow = [&](const char *tag, QSize main, const QImage &thumbnail, int orientation, Source source,
                                 QSize size) {
            row(tag, u"made.jpg"_s, jpegWithThumbnail(filled(main, Qt::darkGreen), thumbnail, quint16(orientation)),
                source, main, orientation, size);
        };
        madeRow("letterboxed 3:2", {600, 400}, framed({160, 120}, {0, 6, 0, 7}), 1, Source::Embedded, {160, 107});
        madeRow("uneven bars", {600, 400}, framed({160, 120}, {0, 9, 0, 4}), 1, Source::Embedded, {160, 107});
        madeRow("pillarboxed square, turned", {300, 300}, framed({160, 120}, {20, 0, 20, 0}), 8, Source::Embedded,
                {120, 120});
        madeRow("stretched, no bars", {600, 400}, framed({160, 120}, {}), 1, Source::Embedded, {160, 120});
        madeRow("left sideways", {600, 400}, framed({120, 160}, {}), 1, Source::ScaledDecode, {160, 107});
        // 45.6 MP: over Qt's default allocation limit when decoded at full size.
        row("large photo", u"made.jpg"_s, jpeg(filled({8000, 5700}, Qt::red), 50), Source::ScaledDecode, {8000, 5700},
            0, {160, 114});
        // Plain JPEGs shrunk while decoding: the scale still covers the thumbnail, every layout keeps its colours.
        const auto plainRow = [&](const char *tag, QSize main, QSize size, bool grey = false, bool progressive = false,
                                  unsigned restartInterval = 0) {
            QImage scene(main, QImage::Format_RGB32);
            for (int y = 0; y < main.height(); ++y) {
                for (int x = 0; x < main.width(); ++x)
                    scene.setPixel(
                        x, y, qRgb(255 * x / main.width(), 255 * y / main.height(), 3 * x < main.width() ? 230 : 20));
            }
            if (grey)
                scene.convertTo(QImage::Format_Grayscale8);
            row(tag, u"plain.jpg"_s, jpegByLibjpeg(scene, progressive, restartInterval), Source::ScaledDecode, main, 0,
                size, scene);
        };
        plainRow("an eighth is too small", {1000, 600}, {160, 96});
        plainRow("panorama", {3000, 150}, {160, 8});
        plainRow("grey", {2400, 1600}, {160, 107}, true);
        plainRow("progressive", {1200, 800}, {160, 107}, false, true);
        plainRow("smaller than a thumbnail", {100, 60}, {100, 60});
        plainRow("restart markers", {1800, 1200}, {160, 107}, false, false, 7);

        const QByteArray reconyx = camera(u"Reconyx_HC500_Hyperfire.jpg"_s);
        const QByteArray heic = camera(u"iphone_13_pro_max.HEIC"_s);
        row("empty", u"empty.jpg"_s, ""_ba, Source::None, {}, 0);
        row("text named .jpg", u"x.jpg"_s, "not a photo\n"_ba, Source::None, {}, 0);
        row("text named .nef", u"x.nef"_s, "not a photo\n"_ba, Source::None, {}, 0);
        row("missing", u"missing.jpg"_s, QByteArray(), Source::None, {}, 0);
        row("truncated JPEG", u"cut.jpg"_s, reconyx.left(reconyx.size() * 2 / 3), Source::None, {}, 0);
        row("truncated HEIC", u"cut.heic"_s, heic.left(100000), Source::None, {}, 0);
        row("JPEG start, then noise", u"noise.jpg"_s, "\xFF\xD8\xFF\xDA\x00\x02"_ba + QByteArray(5000, '\xFF'),
            Source::None, {}, 0);
    }
    void files()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QFETCH(Source, source);
        QFETCH(QSize, imageSize);
        QFETCH(int, orientation);
        QFETCH(QSize, size);
        QFETCH(QImage, upright);
        const QString path = m_folder + u'/' + name;
        if (!content.isNull())
            QVERIFY(writeFile(path, content));
        const ThumbnailMaker::Result result = ThumbnailMaker::make(path);
        QCOMPARE(ThumbnailMaker::sourceName(result.source), ThumbnailMaker::sourceName(source));
        QCOMPARE(result.image.isNull(), source == Source::None);
        // What the cache keeps (an embedded JPEG as the camera wrote it, cut and turned when shown) is the same
        // picture.
        const CompactThumbnail kept = ThumbnailMaker::makeCompact(path);
        QCOMPARE(kept.isNull(), source == Source::None);
        if (source == Source::None)
            return;
        QCOMPARE(kept.image().size(), result.image.size());
        QVERIFY2(distance(kept.image(), result.image) < 3,
                 qPrintable(QString::number(distance(kept.image(), result.image))));
        QCOMPARE(result.imageSize, imageSize);
        QCOMPARE(result.orientation, orientation);
        QVERIFY((QList {QImage::Format_RGB32, QImage::Format_ARGB32_Premultiplied}.contains(result.image.format())));
        if (!upright.isNull()) {
            QCOMPARE(result.image.size(), size);
            QVERIFY2(distance(result.image, upright) < 3, qPrintable(QString::number(distance(result.image, upright))));
            // The measure tells a mirrored or upside-down picture apart.
            QVERIFY(distance(result.image.mirrored(true, false), upright) > 15
                    && distance(result.image.mirrored(false, true), upright) > 15);
        } else if (size.isValid()) {
            QCOMPARE(result.image.size(), size);
            // No bar is left on any edge, in either form.
            for (const QImage &image : {result.image, kept.image()}) {
                const QImage grey = image.convertToFormat(QImage::Format_Grayscale8);
                for (const QPoint corner : {QPoint(0, 0), QPoint(grey.width() - 1, grey.height() - 1)})
                    QVERIFY2(grey.pixelColor(corner).value() > 40,
                             qPrintable(QString::number(grey.pixelColor(corner).value())));
            }
        } else {
            QVERIFY(std::max(result.image.width(), result.image.height()) <= ThumbnailMaker::cMaxPixelSize);
            // Shown upright: turned (orientation 5 to 8), a picture's sides swap.
            QCOMPARE(result.image.height() > result.image.width(),
                     (imageSize.height() > imageSize.width()) != (orientation >= 5));
            const ThumbnailMaker::Result smaller = ThumbnailMaker::make(path, 40);
            QCOMPARE(smaller.source, source);
            QCOMPARE(std::max(smaller.image.width(), smaller.image.height()), 40);
        }
    }
};

LUMISORT_CORE_TEST_MAIN(TestThumbnailMaker)
#include "tst_thumbnailmaker.moc"
