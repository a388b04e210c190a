#include "TestMain.h"
#include "model/ThumbnailCache.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>

using namespace Qt::StringLiterals;

// Thumbnails remembered by file identity, in memory and in the SQLite file,
// on real photo files in the sandbox.
class TestThumbnailCache : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void whatBecameOfTheFileDecides_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("decodable");
        QTest::addColumn<ThumbnailCache::Origin>("origin"); // of the thumbnail after the change
        QTest::newRow("renamed") << u"renamed"_s << true << ThumbnailCache::Origin::Memory;
        // A damaged photo is not decoded again at every reload either.
        QTest::newRow("renamed, no thumbnail") << u"renamed"_s << false << ThumbnailCache::Origin::Memory;
        QTest::newRow("rewritten in place") << u"rewritten"_s << true << ThumbnailCache::Origin::Decoded;
        QTest::newRow("replaced by another file of the same name")
            << u"replaced"_s << true << ThumbnailCache::Origin::Decoded;
    }
    // A thumbnail is kept for the file's content, whatever its name, in memory and for the next run.
    void whatBecameOfTheFileDecides()
    {
        QFETCH(QString, change);
        QFETCH(bool, decodable);
        QFETCH(ThumbnailCache::Origin, origin);
        const QString db = databasePath();
        const QString tag = QString::fromLatin1(QTest::currentDataTag());
        const QString before = writePhoto(u"55555_IMG_"_s + tag + u".JPG"_s, Qt::red);
        if (!decodable)
            QVERIFY(writeFile(before, "not a jpeg at all"));
        const QString after = change == u"renamed"_s ? m_folder + u"/12345_IMG_"_s + tag + u".JPG"_s : before;
        const auto hasColour = [&](const CompactThumbnail &thumbnail) {
            return decodable ? isOf(thumbnail, change == u"renamed"_s ? Qt::red : Qt::blue) : thumbnail.isNull();
        };
        {
            ThumbnailCache cache(db);
            const ThumbnailCache::Obtained first = cache.obtain(before);
            QCOMPARE(first.origin, ThumbnailCache::Origin::Decoded);
            QVERIFY(decodable ? isOf(first.thumbnail, Qt::red) : first.thumbnail.isNull());
            QVERIFY(std::max(first.thumbnail.size().width(), first.thumbnail.size().height()) <= 160);
            const QString blue = writePhoto(u"blue.JPG"_s, Qt::blue, 800);
            if (change == u"renamed"_s) {
                QVERIFY(QFile::rename(before, after));
            } else if (change == u"rewritten"_s) {
                QFile target(before);
                QVERIFY(target.open(QIODevice::WriteOnly | QIODevice::Truncate));
                target.write(readFile(blue));
            } else {
                QVERIFY(QFile::remove(before));
                QVERIFY(QFile::rename(blue, after));
            }
            const ThumbnailCache::Obtained now = cache.obtain(after);
            QCOMPARE(now.origin, origin);
            QVERIFY(hasColour(now.thumbnail));
            QCOMPARE(cache.decodedCount(), origin == ThumbnailCache::Origin::Decoded ? 2 : 1);
            QVERIFY(cache.flush());
        }
        ThumbnailCache reopened(db); // another run of the program
        const ThumbnailCache::Obtained fromDisk = reopened.obtain(after);
        QCOMPARE(fromDisk.origin, ThumbnailCache::Origin::Disk);
        QCOMPARE(reopened.decodedCount(), 0);
        QVERIFY(hasColour(fromDisk.thumbnail));
    }
    void damagedDatabaseIsRebuilt_data()
    {
        QTest::addColumn<int>("damage"); // 0 garbage, 1 truncated, 2 a folder where the file goes
        QTest::newRow("garbage") << 0;
        QTest::newRow("truncated") << 1;
        QTest::newRow("a folder in its place") << 2;
    }
    void damagedDatabaseIsRebuilt()
    {
        QFETCH(int, damage);
        const QString db = databasePath();
        const QString photo = writePhoto(u"B_%1.JPG"_s.arg(damage), Qt::green);
        {
            ThumbnailCache cache(db);
            for (int i = 0; i < 20; ++i)
                cache.obtain(writePhoto(u"C_%1_%2.JPG"_s.arg(damage).arg(i), QColor::fromHsv(i * 15, 200, 200)));
            QVERIFY(cache.flush());
        }
        if (damage == 0) {
            QVERIFY(writeFile(db, QByteArray(8192, 'x')));
        } else if (damage == 1) {
            QFile::remove(db + u"-wal"_s);
            QVERIFY(QFile::resize(db, QFileInfo(db).size() / 3));
        } else {
            QVERIFY(QFile::remove(db) && QDir().mkpath(db));
        }
        ThumbnailCache cache(db);
        const ThumbnailCache::Obtained got = cache.obtain(photo);
        QVERIFY(!got.thumbnail.isNull()); // never a reason to fail
        QCOMPARE(got.origin, ThumbnailCache::Origin::Decoded);
        QCOMPARE(cache.flush(), damage != 2); // a folder in the way: memory only, but working
        if (damage != 2) {
            ThumbnailCache again(db);
            QCOMPARE(again.obtain(photo).origin, ThumbnailCache::Origin::Disk);
        }
    }
    void evictsLeastRecentlyUsedAtTheLimit()
    {
        const QString db = databasePath();
        QStringList photos;
        for (int i = 0; i < 30; ++i)
            photos << writePhoto(u"D_%1.JPG"_s.arg(i), QColor::fromHsv(i * 12, 255, 255));
        qint64 oneThumbnail = 0;
        {
            ThumbnailCache cache(db, 1LL << 30);
            for (const QString &p : std::as_const(photos)) {
                oneThumbnail = std::max<qint64>(oneThumbnail, cache.obtain(p).thumbnail.bytes().size());
                QVERIFY(cache.flush()); // one write each: the use order is the photo order
            }
        }
        // Room for about ten: the first twenty are the least recently used.
        const qint64 limit = oneThumbnail * 10;
        ThumbnailCache cache(db, limit);
        QVERIFY(cache.diskBytes() > limit);
        cache.setLimitBytes(limit);
        QVERIFY(cache.diskBytes() <= limit);
        QCOMPARE(cache.find(*FileIdentity::of(QFile::encodeName(photos.first()))).has_value(), false);
        QVERIFY(cache.find(*FileIdentity::of(QFile::encodeName(photos.last()))).has_value());
    }

private:
    QString m_folder;
    // A JPEG of one colour, big enough that its thumbnail is scaled down.
    QString writePhoto(const QString &name, QColor colour, int width = 640)
    {
        if (m_folder.isEmpty())
            m_folder = TestSandbox::instance().makeFolder(u"photos"_s);
        QImage image(width, width * 2 / 3, QImage::Format_RGB32);
        image.fill(colour);
        const QString path = m_folder + u'/' + name;
        image.save(path, "JPEG", 90);
        return path;
    }
    static QString databasePath() { return TestSandbox::instance().makeFolder(u"cache"_s) + u"/thumbs.sqlite"_s; }
    static bool isOf(const CompactThumbnail &t, QColor colour)
    {
        const QImage image = t.image();
        const QColor centre = image.pixelColor(image.width() / 2, image.height() / 2);
        return std::abs(centre.red() - colour.red()) + std::abs(centre.green() - colour.green())
            + std::abs(centre.blue() - colour.blue())
            < 40;
    }
};

LUMISORT_CORE_TEST_MAIN(TestThumbnailCache)
#include "tst_thumbnailcache.moc"
