#include "TestMain.h"
#include "support/Dispatch.h"
#include "support/SerialQueue.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QThread>
#include <atomic>
#include <numeric>

using namespace Qt::StringLiterals;

class TestDispatch : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Work for the main thread runs there, later (never inside the call, even from the main
    // thread), after its delay, and not at all once its context is gone; delayed background
    // work waits too, off the main thread.
    void mainAndBackground()
    {
        QElapsedTimer timer;
        timer.start();
        std::atomic<bool> posterWasMain {true}, backgroundOnMain {true};
        std::atomic<qint64> mainAt {-1}, delayedAt {-1}, backgroundAt {-1};
        QThread *ranOn = nullptr;
        Dispatch::inBackground([&] {
            posterWasMain = Dispatch::isMainThread();
            Dispatch::onMain([&] {
                ranOn = QThread::currentThread();
                mainAt = timer.elapsed();
            });
        });
        QObject context;
        Dispatch::onMainAfter(100, &context, [&] { delayedAt = timer.elapsed(); });
        Dispatch::inBackgroundAfter(100, [&] {
            backgroundOnMain = Dispatch::isMainThread();
            backgroundAt = timer.elapsed();
        });
        bool ranInline = false, ranWithoutContext = false;
        Dispatch::onMain([&] { ranInline = true; });
        QVERIFY(!ranInline);
        auto *gone = new QObject;
        Dispatch::onMain(gone, [&] { ranWithoutContext = true; });
        Dispatch::onMainAfter(10, gone, [&] { ranWithoutContext = true; });
        delete gone;

        QTRY_VERIFY(ranInline && mainAt >= 0 && delayedAt >= 0 && backgroundAt >= 0);
        QVERIFY(!posterWasMain && !backgroundOnMain && !ranWithoutContext);
        QCOMPARE(ranOn, QThread::currentThread());
        QVERIFY(delayedAt >= 100 && backgroundAt >= 100);
    }
    void serialQueueKeepsOrderOnOneThread()
    {
        SerialQueue queue(u"sounds"_s);
        QList<int> order;
        QMutex lock;
        std::atomic<int> concurrent {0}, maxConcurrent {0};
        for (int i = 0; i < 200; ++i)
            queue.async([&, i] {
                maxConcurrent = std::max(maxConcurrent.load(), int(++concurrent));
                QMutexLocker locker(&lock);
                order.append(i);
                --concurrent;
            });
        QList<int> expected(200);
        std::iota(expected.begin(), expected.end(), 0);
        queue.sync([] {});
        QCOMPARE(maxConcurrent.load(), 1);
        QCOMPARE(order, expected);
    }
};

LUMISORT_CORE_TEST_MAIN(TestDispatch)
#include "tst_dispatch.moc"
