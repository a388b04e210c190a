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
        QTest::addColumn<QString>("change"); // to the photo in the run, or to the database after it
        QTest::addColumn<bool>("decodable");
        QTest::addColumn<ThumbnailCache::Origin>("origin"); // of the thumbnail after the change
        QTest::addColumn<ThumbnailCache::Origin>("next"); // in the next run
        using O = ThumbnailCache::Origin;
        QTest::newRow("renamed") << u"renamed"_s << true << O::Memory << O::Disk;
        // A damaged photo is not decoded again at every reload either.
        QTest::newRow("renamed, no thumbnail") << u"renamed"_s << false << O::Memory << O::Disk;
        QTest::newRow("rewritten in place") << u"rewritten"_s << true << O::Decoded << O::Disk;
        QTest::newRow("replaced by another file of the same name") << u"replaced"_s << true << O::Decoded << O::Disk;
        // A damaged database is never a reason to fail: the thumbnail is made again.
        QTest::newRow("database overwritten") << u"garbage"_s << true << O::Memory << O::Decoded;
        QTest::newRow("database truncated") << u"truncated"_s << true << O::Memory << O::Decoded;
        QTest::newRow("a folder in the database's place") << u"folder"_s << true << O::Memory << O::Decoded;
    }
    // A thumbnail is kept for the file's content, whatever its name, in memory and for the next run.
    void whatBecameOfTheFileDecides()
    {
        QFETCH(QString, change);
        QFETCH(bool, decodable);
        QFETCH(ThumbnailCache::Origin, origin);
        QFETCH(ThumbnailCache::Origin, next);
        const QString db = databasePath();
        const QString tag = QString::fromLatin1(QTest::currentDataTag());
        const QString before = writePhoto(u"55555_IMG_"_s + tag + u".JPG"_s, Qt::red);
        if (!decodable)
            QVERIFY(writeFile(before, "not a jpeg at all"));
        const QString after = change == u"renamed"_s ? m_folder + u"/12345_IMG_"_s + tag + u".JPG"_s : before;
        const bool blue = change == u"rewritten"_s || change == u"replaced"_s;
        const auto hasColour = [&](const CompactThumbnail &thumbnail) {
            return decodable ? isOf(thumbnail, blue ? Qt::blue : Qt::red) : thumbnail.isNull();
        };
        {
            ThumbnailCache cache(db);
            const ThumbnailCache::Obtained first = cache.obtain(before);
            QCOMPARE(first.origin, ThumbnailCache::Origin::Decoded);
            QVERIFY(decodable ? isOf(first.thumbnail, Qt::red) : first.thumbnail.isNull());
            QVERIFY(std::max(first.thumbnail.size().width(), first.thumbnail.size().height()) <= 160);
            const QString bluePhoto = writePhoto(u"blue.JPG"_s, Qt::blue, 800);
            if (change == u"renamed"_s) {
                QVERIFY(QFile::rename(before, after));
            } else if (change == u"rewritten"_s) {
                QFile target(before);
                QVERIFY(target.open(QIODevice::WriteOnly | QIODevice::Truncate));
                target.write(readFile(bluePhoto));
            } else if (change == u"replaced"_s) {
                QVERIFY(QFile::remove(before));
                QVERIFY(QFile::rename(bluePhoto, after));
            }
            const ThumbnailCache::Obtained now = cache.obtain(after);
            QCOMPARE(now.origin, origin);
            QVERIFY(hasColour(now.thumbnail));
            QCOMPARE(cache.decodedCount(), origin == ThumbnailCache::Origin::Decoded ? 2 : 1);
            QVERIFY(cache.flush());
        }
        if (change == u"garbage"_s) {
            QVERIFY(writeFile(db, QByteArray(8192, 'x')));
        } else if (change == u"truncated"_s) {
            QFile::remove(db + u"-wal"_s);
            QVERIFY(QFile::resize(db, QFileInfo(db).size() / 3));
        } else if (change == u"folder"_s) {
            QVERIFY(QFile::remove(db) && QDir().mkpath(db));
        }
        ThumbnailCache reopened(db); // another run of the program
        const ThumbnailCache::Obtained fromDisk = reopened.obtain(after);
        QCOMPARE(fromDisk.origin, next);
        QCOMPARE(reopened.decodedCount(), next == ThumbnailCache::Origin::Decoded ? 1 : 0);
        QVERIFY(hasColour(fromDisk.thumbnail));
        QCOMPARE(reopened.flush(), change != u"folder"_s); // a folder in the way: memory only, but working
        if (next == ThumbnailCache::Origin::Decoded && change != u"folder"_s)
            QCOMPARE(ThumbnailCache(db).obtain(after).origin, ThumbnailCache::Origin::Disk);
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
