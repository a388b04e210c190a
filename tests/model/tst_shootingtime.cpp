#include "TestMain.h"
#include "model/FileIdentity.h"
#include "model/ShootingTime.h"

#include <QFile>
#include <QTimeZone>
#include <exiv2/exiv2.hpp>

using namespace Qt::StringLiterals;

namespace {
using Tags = QList<std::pair<QByteArray, QByteArray>>; // EXIF key, value

// exiv2 writes the tags into the file, as another program would have.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
bool writeTags(const QString &path, const Tags &tags)
{
    try {
        auto image = Exiv2::ImageFactory::open(QFile::encodeName(path).toStdString());
        image->readMetadata();
        Exiv2::ExifData &exif = image->exifData();
        for (const auto &[key, value] : tags)
            exif[key.toStdString()] = value.toStdString();
        image->writeMetadata();
        return true;
    } catch (const std::exception &e) {
        qWarning("exiv2: %s", e.what());
        return false;
    }
}
#pragma GCC diagnostic pop

} // namespace

// Shooting times of real camera files, and of files whose tags another writer set.
class TestShootingTime : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QVERIFY2(!TestSandbox::testDataDir().isEmpty(), "the shared test photos are missing"); }
    void cameraFiles_data()
    {
        QTest::addColumn<QString>("file"); // of the shared test photos
        QTest::addColumn<Tags>("tags"); // written into a copy first, as another program would
        QTest::addColumn<QString>("expected"); // ISO 8601, local time without an offset; empty: none
        const QString canon = u"camera/Canon_40D.jpg"_s;
        QTest::newRow("Canon JPEG, little-endian") << canon << Tags() << u"2008-05-30T15:56:01"_s;
        QTest::newRow("Fujifilm JPEG, big-endian")
            << u"camera/Fujifilm_FinePix_E500.jpg"_s << Tags() << u"2006-08-17T09:24:48"_s;
        QTest::newRow("Nikon JPEG") << u"camera/Nikon_D70.jpg"_s << Tags() << u"2008-03-15T09:52:01"_s;
        QTest::newRow("damaged picture data") << u"camera/corrupted.jpg"_s << Tags() << u"2015-09-08T11:02:17"_s;
        QTest::newRow("HEIC, offset east, sub-seconds")
            << u"camera/iphone_13_pro_max.HEIC"_s << Tags() << u"2022-02-16T12:55:41.762+01:00"_s;
        QTest::newRow("HEIC, offset west") << u"camera/IMG_5195.HEIC"_s << Tags() << u"2021-04-11T15:47:53.054-05:00"_s;
        QTest::newRow("EXIF without a shooting time") << u"camera/Reconyx_HC500_Hyperfire.jpg"_s << Tags() << QString();
        QTest::newRow("invalid EXIF") << u"camera/invalid_image00971.jpg"_s << Tags() << QString();
        QTest::newRow("TIFF without EXIF") << u"camera/BSG1.tiff"_s << Tags() << QString();
        QTest::newRow("JPEG, tenths and an offset")
            << canon << Tags {{"Exif.Photo.SubSecTimeOriginal", "5"}, {"Exif.Photo.OffsetTimeOriginal", "+02:00"}}
            << u"2008-05-30T15:56:01.500+02:00"_s;
        QTest::newRow("JPEG, unknown time")
            << canon << Tags {{"Exif.Photo.DateTimeOriginal", "0000:00:00 00:00:00"}} << QString();
        QTest::newRow("JPEG, blank time")
            << canon << Tags {{"Exif.Photo.DateTimeOriginal", "    :  :     :  :  "}} << QString();
        QTest::newRow("JPEG, offset that is no offset")
            << canon << Tags {{"Exif.Photo.OffsetTimeOriginal", "   :  "}} << u"2008-05-30T15:56:01"_s;
        QTest::newRow("TIFF, hundredths and a half-hour offset")
            << u"camera/BSG1.tiff"_s
            << Tags {{"Exif.Photo.DateTimeOriginal", "2024:02:29 23:59:58"},
                     {"Exif.Photo.SubSecTimeOriginal", "25"},
                     {"Exif.Photo.OffsetTimeOriginal", "-03:30"}}
            << u"2024-02-29T23:59:58.250-03:30"_s;
    }
    void cameraFiles()
    {
        QFETCH(QString, file);
        QFETCH(Tags, tags);
        QFETCH(QString, expected);
        QString path = TestSandbox::testDataFile(file);
        if (!tags.isEmpty()) {
            const QString copy =
                TestSandbox::instance().makeFolder(u"written"_s) + u"/IMG_0001."_s + file.section(u'.', -1);
            QVERIFY(QFile::copy(path, copy));
            QVERIFY(QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner));
            QVERIFY(writeTags(copy, tags));
            path = copy;
        }
        const std::optional<QDateTime> shot = ShootingTime::read(path);
        QCOMPARE(shot.has_value(), !expected.isEmpty());
        if (shot)
            QCOMPARE(shot->toMSecsSinceEpoch(), QDateTime::fromString(expected, Qt::ISODateWithMs).toMSecsSinceEpoch());
    }
    void storeServesTheNextRun_data()
    {
        QTest::addColumn<QByteArray>("damage"); // "", "cut off", "overwritten"
        QTest::addColumn<int>("readsAfterDamage");
        QTest::newRow("intact") << QByteArray() << 0;
        QTest::newRow("cut off while appending") << QByteArray("cut off") << 0;
        QTest::newRow("overwritten") << QByteArray("overwritten") << 2;
    }
    // A program started anew finds what the last one read, also for a photo renamed since; a
    // damaged store is never misread, only read around and started anew.
    void storeServesTheNextRun()
    {
        QFETCH(QByteArray, damage);
        QFETCH(int, readsAfterDamage);
        QFile::remove(ShootingTime::standardStorePath());
        ShootingTime::resetForTesting();
        const QString folder = TestSandbox::instance().makeFolder(u"stored"_s);
        QString dated = folder + u"/A_1.jpg"_s;
        const QString plain = folder + u"/A_2.jpg"_s;
        QVERIFY(QFile::copy(TestSandbox::testDataFile(u"camera/Canon_40D.jpg"_s), dated));
        QVERIFY(QFile::copy(TestSandbox::testDataFile(u"orientation/Landscape_1.jpg"_s), plain));
        const auto check = [&] {
            const auto of = [](const QString &path) {
                return ShootingTime::of(path, *FileIdentity::of(QFile::encodeName(path)), QTimeZone::systemTimeZone());
            };
            return of(dated) == QDateTime(QDate(2008, 5, 30), QTime(15, 56, 1)) && !of(plain);
        };
        QVERIFY(check());
        QCOMPARE(ShootingTime::readsForTesting(), 2);
        ShootingTime::flush();
        QVERIFY(QFile::rename(dated, folder + u"/B_A_1.jpg"_s));
        dated = folder + u"/B_A_1.jpg"_s;

        QFile store(ShootingTime::standardStorePath());
        QVERIFY(store.open(QIODevice::ReadWrite));
        if (damage == "cut off") {
            store.seek(store.size());
            store.write("LSt1 half a record");
        } else if (damage == "overwritten") {
            store.write("something else entirely");
        }
        store.close();
        ShootingTime::resetForTesting();
        QVERIFY(check());
        QCOMPARE(ShootingTime::readsForTesting(), readsAfterDamage);

        // What is known now is on disk again, whole.
        ShootingTime::flush();
        ShootingTime::resetForTesting();
        QVERIFY(check());
        QCOMPARE(ShootingTime::readsForTesting(), 0);
    }
};

LUMISORT_CORE_TEST_MAIN(TestShootingTime)
#include "tst_shootingtime.moc"
