#include "BrowserFixture.h"
#include "TestMain.h"
#include "reassign/ReassignRun.h"
#include "support/WorkInProgress.h"

#include <QAction>
#include <QStatusBar>

using namespace Qt::StringLiterals;

// Quitting while photos are being moved: the question, the wait for the safe
// point with the window still up, and the quit once every run is safe.
class TestWindowController : public BrowserFixture
{
    Q_OBJECT

private Q_SLOTS:
    void quitDuringARunAsksThenWaitsForItsSafePoint()
    {
        QSignalSpy quitting(m_controller.get(), &WindowController::quitting);
        int stops = 0;
        std::unique_ptr<WorkInProgress::Token> filing = WorkInProgress::begin(
            {u"Filing"_s, u"Filing stops after the photo it is filing."_s}, [&stops] { ++stops; });

        // Cancel (the careful answer) changes nothing.
        m_controller->quitAction->trigger();
        QTRY_COMPARE(Alert::shownForTesting().size(), 1);
        const Alert::Content asked = Alert::shownForTesting().first();
        QCOMPARE(asked.messageText, u"Filing is still running. Quit anyway?"_s);
        QVERIFY(asked.informativeText.contains(u"Filing stops after the photo it is filing."_s));
        QCOMPARE(asked.buttons.at(asked.carefulButton), u"Cancel"_s);
        QTest::qWait(50);
        QCOMPARE(stops, 0);
        QCOMPARE(quitting.count(), 0);
        QVERIFY(!m_controller->isQuitPending());
        // Closing the window asks the same and keeps it open.
        QVERIFY(!m_controller->window()->close());
        QVERIFY(m_controller->window()->isVisible());
        QTRY_COMPARE(Alert::shownForTesting().size(), 2);
        QCoreApplication::processEvents(); // its careful answer

        // The filing sheet over the window blocks its menus: the sheet carries the quit entry
        // (and its Ctrl+Q; this platform has no key for it), which still asks. Confirmed: the run
        // is told to stop at its safe point; the window waits for it.
        QDialog *sheet = vc()->performSegue(u"anySheet"_s);
        QVERIFY(sheet->actions().contains(m_controller->quitAction));
        Alert::queueAnswerForTesting(Alert::cSecondButtonReturn);
        m_controller->quitAction->trigger();
        QTRY_VERIFY(m_controller->isQuitPending());
        QCOMPARE(Alert::shownForTesting().size(), 3);
        QCOMPARE(stops, 1);
        QVERIFY(m_controller->window()->isVisible() && sheet->isVisible());
        QVERIFY(m_controller->window()->statusBar()->currentMessage().contains(u"safe point"_s));
        // Asking again while waiting neither asks nor stops twice.
        m_controller->quitAction->trigger();
        QTest::qWait(300);
        QCOMPARE(Alert::shownForTesting().size(), 3);
        QCOMPARE(stops, 1);
        QCOMPARE(quitting.count(), 0);

        filing.reset(); // the run reached its safe point
        QTRY_COMPARE(quitting.count(), 1);
    }
    void undoAsksFirstAndWaitsForTheSheet()
    {
        const auto names = [this] { return QDir(m_folder).entryList(QDir::Files, QDir::Name); };
        const QString barcodePhoto = m_folder + u"/IMG_0001.JPG"_s;
        QVERIFY(writeFile(barcodePhoto, "barcode") && writeFile(m_folder + u"/IMG_0002.JPG"_s, "photo"));
        const QStringList before = names();
        ReassignRun::automatic({QUrl::fromLocalFile(barcodePhoto), QUrl::fromLocalFile(m_folder + u"/IMG_0002.JPG"_s)},
                               {{barcodePhoto, u"222"_s}}, false);
        const QStringList after = names();
        QVERIFY(after.contains(u"222_IMG_0002.JPG"_s) && !after.contains(u"IMG_0001.JPG"_s));
        QAction *undo = m_controller->undoReassignmentAction;
        m_controller->window()->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_controller->window()));
        // Under a sheet, Ctrl+Z (or the menu entry) does nothing at all.
        QDialog *sheet = vc()->performSegue(u"anySheet"_s);
        QVERIFY(!undo->isEnabled());
        QTest::keyClick(m_controller->window()->windowHandle(), Qt::Key_Z, Qt::ControlModifier);
        undo->trigger();
        QCoreApplication::processEvents();
        QVERIFY(Alert::shownForTesting().isEmpty());
        QCOMPARE(names(), after);
        sheet->reject();
        QVERIFY(undo->isEnabled());

        // The question names what changes; Cancel is the careful answer.
        m_controller->window()->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_controller->window()));
        QTest::keyClick(m_controller->window()->windowHandle(), Qt::Key_Z, Qt::ControlModifier);
        QTRY_COMPARE(Alert::shownForTesting().size(), 1);
        const Alert::Content asked = Alert::shownForTesting().first();
        QCOMPARE(asked.messageText, u"Undo the Last Reassignment?"_s);
        QCOMPARE(asked.informativeText,
                 u"2 photos get their names back from before the last reassignment; "
                 "1 barcode photo comes back from the trash."_s);
        QCOMPARE(asked.buttons.at(asked.carefulButton), u"Cancel"_s);

        Alert::queueAnswerForTesting(Alert::cSecondButtonReturn);
        undo->trigger();
        QTRY_COMPARE(names(), before);
        // The browser reloads the folder: that ends before the window goes.
        settle();
    }
};

LUMISORT_GUI_TEST_MAIN(TestWindowController)
#include "tst_windowcontroller.moc"
