#include "TestMain.h"
#include "reassign/ScanEntryPipeline.h"
#include "support/SerialQueue.h"

using namespace Qt::StringLiterals;

// The steps record what the sheet would do, in order.
class TestScanEntryPipeline : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void entriesDuringAnEntryAreDropped_data()
    {
        QTest::addColumn<bool>("taken");
        QTest::addColumn<QStringList>("steps");
        QTest::newRow("taken") << true << QStringList {u"out"_s,      u"out"_s,        u"out"_s,
                                                       u"validate"_s, u"move right"_s, u"finish with action"_s};
        QTest::newRow("refused: no move")
            << false << QStringList {u"out"_s, u"out"_s, u"out"_s, u"validate"_s, u"finish with action"_s};
    }
    void entriesDuringAnEntryAreDropped()
    {
        QFETCH(bool, taken);
        QFETCH(QStringList, steps);
        SerialQueue queue(u"test.entry"_s);
        QObject context;
        QStringList done;
        bool action = true;
        ScanEntryPipeline pipeline(&context, queue,
                                   {[&] { done << u"out"_s; }, [&] { return action; }, [&] { action = false; },
                                    [&] {
                                        done << u"validate"_s;
                                        return taken;
                                    },
                                    [&](const QString &direction) { done << u"move "_s + direction; },
                                    [&](bool restore) {
                                        done << (restore ? u"finish with action"_s : u"finish without"_s);
                                        action = restore;
                                    }});
        pipeline.submit(u"right"_s);
        // A scan's second burst, before the first entry started and while it runs: dropped, and
        // neither moves nor takes away the action the running entry gives back.
        pipeline.submit(u"left"_s);
        QTRY_VERIFY(pipeline.isInsideAction);
        pipeline.submit(u"rightend"_s);
        QTRY_VERIFY(!pipeline.isInsideAction);
        QVERIFY(queue.waitForDone(5000));
        QCoreApplication::processEvents();
        QCOMPARE(done, steps);
        QVERIFY(action);
    }
};

LUMISORT_CORE_TEST_MAIN(TestScanEntryPipeline)
#include "tst_scanentrypipeline.moc"
