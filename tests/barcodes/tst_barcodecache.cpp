#include "DemoCard.h"
#include "TestMain.h"
#include "barcodes/BarcodeCache.h"
#include "support/SafeFile.h"

#include <QFile>
#include <sqlite3.h>

using namespace Qt::StringLiterals;

// Readings kept on disk between runs, on demo cards whose barcode photos show EAN-13 codes.
class TestBarcodeCache : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void readingsOutliveTheRun();
    void unusableDiskReadingsAreReadAgain_data();
    void unusableDiskReadingsAreReadAgain();
    void leastRecentlyUsedGoFirst();
};

namespace {
QString databaseIn(const QString &name)
{
    return TestSandbox::instance().makeFolder(name) + u"/cache/barcodes.sqlite"_s;
}

bool sql(const QString &database, const char *statement)
{
    sqlite3 *db = nullptr;
    bool ok = sqlite3_open(QFile::encodeName(database).constData(), &db) == SQLITE_OK
        && sqlite3_exec(db, statement, nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return ok;
}
} // namespace

void TestBarcodeCache::readingsOutliveTheRun()
{
    const DemoCard card = DemoCard::make(TestSandbox::instance().makeFolder(u"card"_s), 1, 2);
    QVERIFY(card.isValid());
    const NativePath barcodePhoto(card.photos.at(0).path);
    const NativePath plainPhoto(card.photos.at(1).path);
    const NativePath unreadable(card.folder + u"/IMG_9999.JPG"_s);
    QVERIFY(SafeFile::copy(plainPhoto, unreadable, {}));
    QVERIFY(QFile::resize(unreadable.toString(), 100)); // still being copied
    const QString database = databaseIn(u"outlive"_s);

    BarcodeReader::Reading first;
    {
        BarcodeCache cache(database);
        first = cache.read(barcodePhoto);
        QCOMPARE(first.codes.value(0).text, card.photos.at(0).barcode);
        QVERIFY(cache.read(plainPhoto).codes.isEmpty());
        QVERIFY(!cache.read(unreadable).readable);
        // Written in the background while the run goes on, not only at its end.
        QTRY_VERIFY_WITH_TIMEOUT(BarcodeCache(database).known(barcodePhoto), 10000);
    }

    BarcodeCache next(database);
    const std::optional<BarcodeReader::Reading> kept = next.known(barcodePhoto);
    QVERIFY(kept);
    QVERIFY(kept->readable);
    QCOMPARE(kept->codes.size(), first.codes.size());
    QCOMPARE(kept->codes.first().format, first.codes.first().format);
    QCOMPARE(kept->codes.first().position, first.codes.first().position);
    QCOMPARE(std::tuple(kept->pass, kept->pieces, kept->ms), std::tuple(first.pass, first.pieces, first.ms));
    QVERIFY(next.known(plainPhoto));
    QVERIFY(!next.known(unreadable));

    // Renamed: the same content, not read again.
    const NativePath renamed(card.folder + u"/" + card.photos.at(0).barcode + u"_IMG.JPG"_s);
    QVERIFY(SafeFile::renameNoReplace(barcodePhoto, renamed));
    QCOMPARE(next.read(renamed).codes.value(0).text, card.photos.at(0).barcode);
    QCOMPARE(next.decodedCount(), 0);

    // Written anew under the same name: read again, and that reading kept in turn.
    QFile source(renamed.toString());
    QFile target(plainPhoto.toString());
    QVERIFY(source.open(QIODevice::ReadOnly) && target.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QVERIFY(target.write(source.readAll()) > 0);
    target.close();
    QCOMPARE(next.read(plainPhoto).codes.value(0).text, card.photos.at(0).barcode);
    QCOMPARE(next.decodedCount(), 1);
    QVERIFY(next.flush());
    QCOMPARE(BarcodeCache(database).known(plainPhoto).value().codes.value(0).text, card.photos.at(0).barcode);
}

void TestBarcodeCache::unusableDiskReadingsAreReadAgain_data()
{
    QTest::addColumn<QByteArray>("damage");
    QTest::addColumn<bool>("overwriteFile");
    QTest::newRow("not a database") << QByteArray("lost sectors ").repeated(400) << true;
    QTest::newRow("older reader") << QByteArray("UPDATE readings SET reader = reader - 1") << false;
    QTest::newRow("codes garbled") << QByteArray("UPDATE readings SET codes = '[{\"te'") << false;
}

void TestBarcodeCache::unusableDiskReadingsAreReadAgain()
{
    QFETCH(QByteArray, damage);
    QFETCH(bool, overwriteFile);
    const QString tag = QString::fromLatin1(QTest::currentDataTag()).replace(u' ', u'-');
    const DemoCard card = DemoCard::make(TestSandbox::instance().makeFolder(tag), 1, 1);
    QVERIFY(card.isValid());
    const NativePath photo(card.photos.first().path);
    const QString database = databaseIn(tag + u"-db"_s);
    QVERIFY(BarcodeCache(database).read(photo).readable);

    if (overwriteFile) {
        QFile file(database);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QVERIFY(file.write(damage) == damage.size());
    } else {
        QVERIFY(sql(database, damage.constData()));
    }

    BarcodeCache cache(database);
    QVERIFY(!cache.known(photo));
    QCOMPARE(cache.read(photo).codes.value(0).text, card.photos.first().barcode);
    QCOMPARE(cache.decodedCount(), 1);
    QVERIFY(cache.flush());
    BarcodeCache next(database);
    QCOMPARE(next.read(photo).codes.value(0).text, card.photos.first().barcode);
    QCOMPARE(next.decodedCount(), 0);
}

void TestBarcodeCache::leastRecentlyUsedGoFirst()
{
    const DemoCard card = DemoCard::make(TestSandbox::instance().makeFolder(u"lru"_s), 1, 3);
    QVERIFY(card.isValid());
    const QString database = databaseIn(u"lru-db"_s);
    const NativePath a(card.photos.at(0).path), b(card.photos.at(1).path), c(card.photos.at(2).path);
    {
        BarcodeCache cache(database, 2);
        cache.read(a);
        cache.read(b);
    }
    {
        BarcodeCache cache(database, 2);
        QVERIFY(cache.known(a)); // used again: b is now the oldest
        cache.read(c);
    }
    BarcodeCache cache(database, 2);
    QVERIFY(cache.known(a));
    QVERIFY(!cache.known(b));
    QVERIFY(cache.known(c));
}

LUMISORT_CORE_TEST_MAIN(TestBarcodeCache)
#include "tst_barcodecache.moc"
