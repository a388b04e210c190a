#include "DemoCard.h"
#include "TestMain.h"
#include "barcodes/BarcodeCache.h"
#include "support/SafeFile.h"

#include <QFile>
#include <sqlite3.h>

using namespace Qt::StringLiterals;

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

// Readings kept on disk between runs, on demo cards whose barcode photos show EAN-13 codes.
class TestBarcodeCache : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void readingsOutliveTheRun_data()
    {
        QTest::addColumn<QByteArray>("damage"); // between the runs: an SQL statement, or what overwrites the file
        QTest::newRow("intact") << QByteArray();
        // Readings that cannot be used are read again, and those kept in turn.
        QTest::newRow("not a database") << QByteArray("lost sectors ").repeated(400);
        QTest::newRow("older reader") << QByteArray("UPDATE readings SET reader = reader - 1");
        QTest::newRow("codes garbled") << QByteArray("UPDATE readings SET codes = '[{\"te'");
    }
    void readingsOutliveTheRun()
    {
        QFETCH(QByteArray, damage);
        const QString tag = QString::fromLatin1(QTest::currentDataTag()).replace(u' ', u'-');
        const DemoCard card = DemoCard::make(TestSandbox::instance().makeFolder(tag), 1, 2);
        QVERIFY(card.isValid());
        const QString barcode = card.photos.at(0).barcode;
        const NativePath barcodePhoto(card.photos.at(0).path);
        const NativePath plainPhoto(card.photos.at(1).path);
        const NativePath unreadable(card.folder + u"/IMG_9999.JPG"_s);
        QVERIFY(SafeFile::copy(plainPhoto, unreadable, {}));
        QVERIFY(QFile::resize(unreadable.toString(), 100)); // still being copied
        const QString database = databaseIn(tag + u"-db"_s);

        BarcodeReader::Reading first;
        {
            BarcodeCache cache(database);
            first = cache.read(barcodePhoto);
            QCOMPARE(first.codes.value(0).text, barcode);
            QVERIFY(cache.read(plainPhoto).codes.isEmpty());
            QVERIFY(!cache.read(unreadable).readable);
            // Written in the background while the run goes on, not only at its end.
            QTRY_VERIFY_WITH_TIMEOUT(BarcodeCache(database).known(barcodePhoto), 10000);
        }
        if (!damage.isEmpty())
            QVERIFY(damage.startsWith("UPDATE") ? sql(database, damage.constData()) : writeFile(database, damage));

        BarcodeCache next(database);
        if (damage.isEmpty()) {
            const BarcodeReader::Reading kept = next.known(barcodePhoto).value();
            QCOMPARE(
                std::tuple(kept.readable, kept.codes.size(), kept.codes.first().format, kept.pass, kept.pieces,
                           kept.ms),
                std::tuple(true, first.codes.size(), first.codes.first().format, first.pass, first.pieces, first.ms));
            QCOMPARE(kept.codes.first().position, first.codes.first().position);
            QVERIFY(next.known(plainPhoto));
        } else {
            QVERIFY(!next.known(barcodePhoto) && !next.known(plainPhoto));
            QCOMPARE(next.read(barcodePhoto).codes.value(0).text, barcode);
        }
        QVERIFY(!next.known(unreadable));
        const int decoded = damage.isEmpty() ? 0 : 1;
        QCOMPARE(next.decodedCount(), decoded);

        // Renamed: the same content, not read again.
        const NativePath renamed(card.folder + u"/" + barcode + u"_IMG.JPG"_s);
        QVERIFY(SafeFile::renameNoReplace(barcodePhoto, renamed));
        QCOMPARE(next.read(renamed).codes.value(0).text, barcode);
        QCOMPARE(next.decodedCount(), decoded);

        // Written anew under the same name: read again, and that reading kept in turn.
        QFile target(plainPhoto.toString());
        QVERIFY(target.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QVERIFY(target.write(readFile(renamed.toString())) > 0);
        target.close();
        QCOMPARE(next.read(plainPhoto).codes.value(0).text, barcode);
        QCOMPARE(next.decodedCount(), decoded + 1);
        QVERIFY(next.flush());
        BarcodeCache last(database);
        QCOMPARE(last.known(plainPhoto).value().codes.value(0).text, barcode);
        QCOMPARE(last.known(renamed).value().codes.value(0).text, barcode);
    }

    void leastRecentlyUsedGoFirst()
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
};

LUMISORT_CORE_TEST_MAIN(TestBarcodeCache)
#include "tst_barcodecache.moc"
