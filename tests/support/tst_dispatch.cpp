#include "TestMain.h"
#include "support/Dispatch.h"
#include "support/SerialQueue.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QThread>
#include <atomic>

using namespace Qt::StringLiterals;

class TestDispatch : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void onMainRunsLaterOnTheMainThread()
    {
        std::atomic<bool> ran {false};
        std::atomic<bool> posterWasMain {true};
        QThread *ranOn = nullptr;
        Dispatch::inBackground([&] {
            posterWasMain = Dispatch::isMainThread();
            Dispatch::onMain([&] {
                ranOn = QThread::currentThread();
                ran = true;
            });
        });
        QTRY_VERIFY(ran);
        QVERIFY(!posterWasMain);
        QCOMPARE(ranOn, QThread::currentThread());

        bool ranInline = false;
        Dispatch::onMain([&] { ranInline = true; });
        QVERIFY(!ranInline); // never inside the call, even from the main thread
        QTRY_VERIFY(ranInline);
    }
    void contextGoneMeansNotRun()
    {
        bool ran = false;
        auto *context = new QObject;
        Dispatch::onMain(context, [&] { ran = true; });
        Dispatch::onMainAfter(10, context, [&] { ran = true; });
        delete context;
        QTest::qWait(50);
        QVERIFY(!ran);
    }
    void delayedWorkWaitsAndLandsOnTheRightThread()
    {
        QElapsedTimer timer;
        timer.start();
        std::atomic<qint64> mainAt {-1}, backgroundAt {-1};
        std::atomic<bool> backgroundOnMain {true};
        QObject context;
        Dispatch::onMainAfter(100, &context, [&] { mainAt = timer.elapsed(); });
        Dispatch::inBackgroundAfter(100, [&] {
            backgroundOnMain = Dispatch::isMainThread();
            backgroundAt = timer.elapsed();
        });
        QTRY_VERIFY(mainAt >= 0 && backgroundAt >= 0);
        QVERIFY(mainAt >= 100);
        QVERIFY(backgroundAt >= 100);
        QVERIFY(!backgroundOnMain);
    }
    void serialQueueKeepsOrderOnOneThread()
    {
        SerialQueue queue(u"sounds"_s);
        QList<int> order;
        QMutex lock;
        std::atomic<int> concurrent {0}, maxConcurrent {0};
        for (int i = 0; i < 200; ++i) {
            queue.async([&, i] {
                const int now = ++concurrent;
                maxConcurrent = std::max(maxConcurrent.load(), now);
                {
                    QMutexLocker locker(&lock);
                    order.append(i);
                }
                --concurrent;
            });
        }
        int last = -1;
        queue.sync([&] { last = order.size(); });
        QCOMPARE(last, 200);
        QCOMPARE(maxConcurrent.load(), 1);
        for (int i = 0; i < order.size(); ++i)
            QCOMPARE(order.at(i), i);
    }
};

LUMISORT_CORE_TEST_MAIN(TestDispatch)
#include "tst_dispatch.moc"
