#include "TestMain.h"
#include "support/NotificationCenter.h"

#include <QHash>
#include <QMutex>
#include <QSet>
#include <QThread>
#include <QtConcurrent>
#include <atomic>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

// Which observers are inside a callback, and which are gone, kept outside the
// observers so that a late call is seen even where it would not crash.
struct CallLedger
{
    QMutex lock;
    QHash<int, int> inside;
    QSet<int> gone;
    int lateCalls = 0;

    void enter(int id)
    {
        QMutexLocker locker(&lock);
        ++inside[id];
        lateCalls += gone.contains(id) ? 1 : 0;
    }
    void leave(int id)
    {
        QMutexLocker locker(&lock);
        --inside[id];
    }
    void removed(int id)
    {
        QMutexLocker locker(&lock);
        gone.insert(id);
        lateCalls += inside.value(id);
    }
};

// A sheet-like observer whose handler works on its own members and which
// unregisters itself when it is closed.
class MemberTouchingObserver : public QObject
{
public:
    MemberTouchingObserver(int id, CallLedger &ledger)
        : m_id(id)
        , m_ledger(ledger)
    {
        NotificationCenter::defaultCenter().addObserver(this, u"stress"_s, [this, id, &ledger](const Notification &n) {
            ledger.enter(id);
            QThread::yieldCurrentThread();
            m_seen->append(n.name);
            m_seen->removeFirst();
            ledger.leave(id);
        });
    }
    ~MemberTouchingObserver() override
    {
        NotificationCenter::defaultCenter().removeObserver(this);
        m_ledger.removed(m_id);
    }

private:
    int m_id;
    CallLedger &m_ledger;
    std::unique_ptr<QStringList> m_seen = std::make_unique<QStringList>();
};

} // namespace

class TestNotificationCenter : public QObject
{
    Q_OBJECT

    NotificationCenter &center = NotificationCenter::defaultCenter();

private Q_SLOTS:
    void deliversSynchronouslyOnThePostingThread()
    {
        QObject observer;
        QThread *seenOn = nullptr, *poster = nullptr;
        Notification seen;
        center.addObserver(&observer, u"myRefreshId"_s, [&](const Notification &n) {
            seenOn = QThread::currentThread();
            seen = n;
        });
        auto job = QtConcurrent::run([&] {
            poster = QThread::currentThread();
            center.post(u"myRefreshId"_s, {{u"command"_s, u"refresh"_s}});
            // Synchronous: the handler has run before post returns.
            return seenOn == QThread::currentThread();
        });
        QVERIFY(job.result());
        QCOMPARE(seenOn, poster);
        QCOMPARE(seen.userInfo.value(u"command"_s).toString(), u"refresh"_s);
        QVERIFY(seen.hasUserInfo);
        center.postWithoutUserInfo(u"myRefreshId"_s);
        QVERIFY(!seen.hasUserInfo);
        center.removeObserver(&observer);
    }

    // Only observers registered when a post is made, for its name, and not removed, are called.
    void whoIsCalled()
    {
        QObject a, b;
        int aCalls = 0, bCalls = 0;
        center.addObserver(&a, u"mySelectAll"_s, [&](const Notification &) {
            ++aCalls;
            // A registration made during delivery does not receive this post.
            center.addObserver(&b, u"mySelectAll"_s, [&](const Notification &) { ++bCalls; });
        });
        center.post(u"mySelectAll"_s, {});
        QCOMPARE(aCalls, 1);
        QCOMPARE(bCalls, 0);
        center.post(u"myOpenPrefId"_s, {}); // other names do not reach them
        QCOMPARE(aCalls, 1);
        center.removeObserver(&a);
        center.removeObserver(&b);

        int calls = 0;
        auto *destroyed = new QObject;
        center.addObserver(destroyed, u"one"_s, [&](const Notification &) { ++calls; });
        delete destroyed;
        QCOMPARE(center.observerCount(u"one"_s), 0);
        QObject observer;
        center.addObserver(&observer, u"one"_s, [&](const Notification &) { ++calls; });
        const quint64 token = center.addObserver(&observer, u"two"_s, [&](const Notification &) { ++calls; });
        center.addObserver(&observer, u"three"_s, [&](const Notification &) { ++calls; });
        center.removeObserver(token);
        center.post(u"two"_s, {});
        QCOMPARE(calls, 0);
        center.removeObserver(&observer, u"one"_s);
        center.post(u"one"_s, {});
        center.post(u"three"_s, {});
        QCOMPARE(calls, 1);
        center.removeObserver(&observer);
        center.post(u"three"_s, {});
        QCOMPARE(calls, 1);

        // A handler may remove its own observer, on another thread too: removal
        // must not wait for the call it is made from.
        center.addObserver(&observer, u"closeNow"_s, [&](const Notification &) {
            ++calls;
            center.removeObserver(&observer);
        });
        QtConcurrent::run([&] { center.post(u"closeNow"_s, {}); }).waitForFinished();
        center.post(u"closeNow"_s, {});
        QCOMPARE(calls, 2);
    }

    // Posts from several threads while observers come and go: a steady observer gets
    // every post, and one removed (in its destructor, as a sheet does) is never called
    // again, even by a delivery running on another thread when it goes.
    void postsFromManyThreadsWhileObserversComeAndGo()
    {
        QObject steady;
        std::atomic<int> steadyCalls {0}, posted {0};
        center.addObserver(&steady, u"stress"_s, [&](const Notification &) { ++steadyCalls; });
        std::atomic<bool> stop {false};
        QList<QFuture<void>> threads {QtConcurrent::run([&] {
            while (!stop) {
                QObject transient;
                center.addObserver(&transient, u"stress"_s, [](const Notification &) {});
            }
        })};
        for (int t = 0; t < 4; ++t)
            threads << QtConcurrent::run([&] {
                for (int i = 0; !stop; ++i, ++posted)
                    center.post(u"stress"_s, {{u"i"_s, i}});
            });
        CallLedger ledger;
        for (int id = 0; id < 3000; ++id) {
            auto observer = std::make_unique<MemberTouchingObserver>(id, ledger);
            QThread::yieldCurrentThread();
        }
        stop = true;
        for (QFuture<void> &f : threads)
            f.waitForFinished();
        QCOMPARE(steadyCalls.load(), posted.load());
        QCOMPARE(ledger.lateCalls, 0);
        center.removeObserver(&steady);
        QCOMPARE(center.observerCount(u"stress"_s), 0);
    }
};

LUMISORT_CORE_TEST_MAIN(TestNotificationCenter)
#include "tst_notificationcenter.moc"
