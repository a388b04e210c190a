#include "DemoCard.h"
#include "TestMain.h"
#include "barcodes/BarcodeCache.h"
#include "barcodes/BarcodeScanScheduler.h"

#include <QSignalSpy>
#include <QThread>

using namespace Qt::StringLiterals;

namespace {
// Path -> first code of each result handed over; a photo handed over twice adds a "twice" entry.
QHash<QString, QString> codesOf(const QSignalSpy &spy)
{
    QHash<QString, QString> codes;
    for (const QList<QVariant> &call : spy) {
        for (const auto &result : call.at(0).value<QList<BarcodeScanScheduler::Result>>()) {
            const QString path = result.path.toString();
            codes.insert((codes.contains(path) ? u"twice "_s : QString()) + path, result.reading.codes.value(0).text);
        }
    }
    return codes;
}
} // namespace

// Background reading of a demo card: the barcode photos show EAN-13 codes.
class TestBarcodeScanScheduler : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cancelledRunStaysSilentAndKnownPhotosAreNotReadAgain()
    {
        const DemoCard card = DemoCard::make(TestSandbox::instance().makeFolder(u"card"_s), 4, 6);
        QVERIFY(card.isValid());
        QList<NativePath> paths;
        QHash<QString, QString> expected;
        for (const DemoCard::Photo &photo : card.photos) {
            paths.append(NativePath(photo.path));
            expected.insert(photo.path, photo.barcodePhoto ? photo.barcode : QString());
        }

        BarcodeCache cache;
        BarcodeScanScheduler cancelled(cache);
        QSignalSpy cancelledArrived(&cancelled, &BarcodeScanScheduler::arrived);
        QSignalSpy cancelledFinished(&cancelled, &BarcodeScanScheduler::finished);
        cancelled.start(paths);
        cancelled.cancel();
        QVERIFY(!cancelled.isRunning());

        // The second run hands over its last batch after the cancelled one would have
        // handed over its first: by then that one must still be silent.
        BarcodeScanScheduler scanner(cache);
        QSignalSpy arrived(&scanner, &BarcodeScanScheduler::arrived);
        QSignalSpy finished(&scanner, &BarcodeScanScheduler::finished);
        scanner.start(paths);
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 60000);
        QCOMPARE(codesOf(arrived), expected);
        QCOMPARE(cancelledArrived.size() + cancelledFinished.size(), 0);
        // The cancelled run's readers stopped after the photos they had in hand.
        const int decoded = cache.decodedCount();
        QVERIFY2(decoded <= paths.size() + QThread::idealThreadCount(), qPrintable(QString::number(decoded)));

        // Known readings come at once, before start() returns, and nothing is decoded again.
        arrived.clear();
        scanner.start(paths);
        QCOMPARE(codesOf(arrived), expected);
        QCOMPARE(scanner.toReadCount(), 0);
        QTRY_COMPARE(finished.size(), 2);
        QCOMPARE(cache.decodedCount(), decoded);
    }
};

LUMISORT_CORE_TEST_MAIN(TestBarcodeScanScheduler)
#include "tst_barcodescanscheduler.moc"
