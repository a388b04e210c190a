#include "TestMain.h"
#include "support/NotificationCenter.h"

#include <QThread>
#include <QtConcurrent>
#include <array>
#include <atomic>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

// Which observers are inside a callback and which are gone, kept outside the observers
// so that a late call is seen even where it would not crash. Entering counts itself
// before it looks for the removal, and a removal marks itself before it looks for
// callers inside: one of the two always sees the other.
struct CallLedger
{
    std::array<std::atomic<int>, 3000> inside {};
    std::array<std::atomic<bool>, 3000> gone {};
    std::atomic<int> lateCalls {0};
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
            ++ledger.inside[id];
            ledger.lateCalls += ledger.gone[id] ? 1 : 0;
            QThread::yieldCurrentThread();
            m_seen->append(n.name);
            m_seen->removeFirst();
            --ledger.inside[id];
        });
    }
    ~MemberTouchingObserver() override
    {
        NotificationCenter::defaultCenter().removeObserver(this);
        m_ledger.gone[m_id] = true;
        m_ledger.lateCalls += m_ledger.inside[m_id];
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
    // Delivery is synchronous, on the posting thread, to the observers registered for the
    // name when the post is made and neither removed nor destroyed since.
    void whoIsCalled()
    {
        QObject a, b, observer;
        auto *destroyed = new QObject;
        QStringList calls;
        Notification seen;
        QThread *seenOn = nullptr;
        center.addObserver(&a, u"one"_s, [&](const Notification &n) {
            calls << u"a"_s;
            seen = n;
            seenOn = QThread::currentThread();
            // A registration made during delivery does not receive this post.
            center.addObserver(&b, u"one"_s, [&](const Notification &) { calls << u"b"_s; });
        });
        center.addObserver(destroyed, u"one"_s, [&](const Notification &) { calls << u"destroyed"_s; });
        center.addObserver(&observer, u"one"_s, [&](const Notification &) { calls << u"removed"_s; });
        center.addObserver(&observer, u"two"_s, [&](const Notification &) { calls << u"two"_s; });
        delete destroyed;
        center.removeObserver(&observer, u"one"_s);
        QVERIFY(QtConcurrent::run([&] {
                    center.post(u"one"_s, {{u"command"_s, u"refresh"_s}});
                    return seenOn == QThread::currentThread() && calls == QStringList {u"a"_s};
                }).result());
        QCOMPARE(seen.userInfo.value(u"command"_s).toString(), u"refresh"_s);
        QVERIFY(seen.hasUserInfo);
        center.postWithoutUserInfo(u"one"_s);
        QVERIFY(!seen.hasUserInfo);
        center.removeObserver(&a);
        center.post(u"two"_s, {});
        center.removeObserver(&observer);
        center.post(u"two"_s, {});
        QCOMPARE(calls, (QStringList {u"a"_s, u"a"_s, u"b"_s, u"two"_s}));
        center.removeObserver(&b);

        // A handler may remove its own observer, on another thread too: removal
        // must not wait for the call it is made from.
        center.addObserver(&observer, u"closeNow"_s, [&](const Notification &) {
            calls << u"closeNow"_s;
            center.removeObserver(&observer);
        });
        QtConcurrent::run([&] { center.post(u"closeNow"_s, {}); }).waitForFinished();
        center.post(u"closeNow"_s, {});
        QCOMPARE(calls.count(u"closeNow"_s), 1);
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
        auto ledger = std::make_unique<CallLedger>();
        for (int id = 0; id < 3000; ++id) {
            auto observer = std::make_unique<MemberTouchingObserver>(id, *ledger);
            QThread::yieldCurrentThread();
        }
        stop = true;
        for (QFuture<void> &f : threads)
            f.waitForFinished();
        QCOMPARE(steadyCalls.load(), posted.load());
        QCOMPARE(ledger->lateCalls.load(), 0);
        center.removeObserver(&steady);
        QCOMPARE(center.observerCount(u"stress"_s), 0);
    }
};

LUMISORT_CORE_TEST_MAIN(TestNotificationCenter)
#include "tst_notificationcenter.moc"
