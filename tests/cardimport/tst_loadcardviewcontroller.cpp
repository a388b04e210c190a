#include "CardImportTesting.h"
#include "DemoCard.h"
#include "ScopedMount.h"
#include "TestMain.h"
#include "cardimport/CardCopyRun.h"
#include "cardimport/LoadCardViewController.h"
#include "cardimport/VolumeEjector.h"
#include "cardimport/VolumeInfo.h"
#include "model/PhotoNameRecord.h"
#include "settings/SettingsKeys.h"
#include "settings/SettingsStore.h"
#include "support/Alert.h"
#include "support/FolderPanel.h"
#include "support/NotificationCenter.h"
#include "support/NotificationNames.h"
#include "support/SheetRegistry.h"
#include "support/WorkInProgress.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QMutex>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QSemaphore>
#include <QSignalSpy>

using namespace Qt::StringLiterals;

// The card import sheet on the offscreen platform, its alerts and folder chooser answered by the test.
class TestLoadCardViewController : public QObject
{
    Q_OBJECT

private:
    // Deleted when closed: the pointer says whether it is still open.
    QPointer<LoadCardViewController> openSheet(const QString &offeredCard = QString())
    {
        auto *sheet = qobject_cast<LoadCardViewController *>(SheetRegistry::make(u"dummyButtonSegue3"_s, &m_window));
        sheet->setAttribute(Qt::WA_DeleteOnClose);
        if (!offeredCard.isEmpty())
            sheet->setProperty("offeredCard", offeredCard);
        sheet->open();
        return sheet;
    }
    QString makeCard(const QString &name)
    {
        const QString folder = m_volumes + u'/' + name;
        return DemoCard::make(folder, 1, 2).isValid() ? folder : QString();
    }
    QStringList workingFiles() const { return QDir(m_working).entryList(QDir::Files); }
    static Alert::Content alert() { return Alert::shownForTesting().value(0); }
    static QStringList ejected()
    {
        QMutexLocker locker(&s_lock);
        return s_ejected;
    }

    QWidget m_window;
    QString m_volumes;
    QString m_working;
    int m_refreshes = 0;
    QString m_refreshedFolder; // the folder a refresh asked the browser to show
    QObject m_observer;
    static inline QMutex s_lock;
    static inline QStringList s_ejected;

private Q_SLOTS:

    void initTestCase()
    {
        Alert::setTestMode(true);
        FolderPanel::setTestMode(true);
        LoadCardViewController::registerSheet();
        VolumeEjector::setHandlerForTesting([](const QString &path) {
            QMutexLocker locker(&s_lock);
            s_ejected << path;
            return VolumeEjector::Result {true, true, u"test"_s, u"ejected"_s};
        });
        NotificationCenter::defaultCenter().addObserver(
            &m_observer, NotificationNames::myRefreshId, [this](const Notification &n) {
                if (n.userInfo.value(u"command"_s) != u"refresh"_s)
                    return;
                ++m_refreshes;
                m_refreshedFolder = n.userInfo.value(u"srcpath"_s).toString();
            });
        m_window.resize(800, 600);
        m_window.show();
    }

    void init()
    {
        Alert::resetForTesting();
        m_refreshes = 0;
        {
            QMutexLocker locker(&s_lock);
            s_ejected.clear();
        }
        m_volumes = TestSandbox::instance().makeFolder(u"media"_s);
        VolumeInfo::setRemovableMediaRoots({m_volumes});
        m_working = TestSandbox::instance().makeFolder(u"work"_s);
        writeFile(m_working + u"/notes.txt"_s, "not a photo: no question");
        SettingsStore &store = SettingsStore::standard();
        store.setString(u"DCIM,PRIVATE"_s, cPrefCameraCardFolderNames);
        store.setString(m_working, cPrefSourcePath);
        store.removeObjectForKey(cPrefTempMountVolume);
    }

    void cleanup()
    {
        QVERIFY(CardCopyRun::queue().waitForDone(30000));
        LoadCardViewController::setRunOptionsForTesting({});
        // A sheet takes its message boxes, top-level windows too, with it.
        QList<QPointer<LoadCardViewController>> sheets;
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (auto *sheet = qobject_cast<LoadCardViewController *>(w))
                sheets.append(sheet);
        }
        qDeleteAll(sheets);
        QCoreApplication::processEvents();
    }

    void existingCardAtShow_data()
    {
        QTest::addColumn<int>("answer"); // 0: the card came from the window's offer, already chosen
        QTest::addColumn<int>("key"); // pressed on the real message box instead of a set answer
        QTest::newRow("Use This Card") << Alert::cSecondButtonReturn << 0;
        QTest::newRow("Eject Card") << Alert::cFirstButtonReturn << 0;
        QTest::newRow("Do Nothing") << Alert::cThirdButtonReturn << 0;
        // A key pressed by reflex neither ejects nor imports.
        QTest::newRow("Return on the real box") << Alert::cThirdButtonReturn << int(Qt::Key_Return);
        QTest::newRow("Escape on the real box") << Alert::cThirdButtonReturn << int(Qt::Key_Escape);
        QTest::newRow("offered by the window: no question") << 0 << 0;
    }

    void existingCardAtShow()
    {
        QFETCH(int, answer);
        QFETCH(int, key);
        const QString card = makeCard(u"EOS_DIGITAL"_s);
        QVERIFY(!card.isEmpty());
        Alert::setTestMode(key == 0);
        const auto restore = qScopeGuard([] { Alert::setTestMode(true); });
        if (answer != 0 && key == 0)
            Alert::queueAnswerForTesting(answer);
        const QPointer<LoadCardViewController> sheet = openSheet(answer == 0 ? card : QString());
        if (key != 0) {
            QMessageBox *box = nullptr;
            QTRY_VERIFY((box = sheet->findChild<QMessageBox *>()) && box->isVisible());
            QCOMPARE(box->text(), u"EJECT Existing CARD !!!"_s);
            QTest::keyClick(box, Qt::Key(key));
        } else if (answer != 0) {
            QTRY_COMPARE(Alert::shownForTesting().size(), 1);
            QCOMPARE(alert().messageText, u"EJECT Existing CARD !!!"_s);
            QCOMPARE(alert().informativeText,
                     u"CARD found at:\n"_s + card + u"\n\nDo you really wish to use this or eject it?"_s);
            QCOMPARE(alert().buttons, (QStringList {u"Eject Card"_s, u"Use This Card"_s, u"Do Nothing"_s}));
            QCOMPARE(alert().carefulReturn(), Alert::cThirdButtonReturn);
        }

        if (answer == Alert::cFirstButtonReturn) {
            QTRY_COMPARE(ejected(), QStringList {card});
            QVERIFY(sheet);
            QCOMPARE(workingFiles(), QStringList {u"notes.txt"_s});
            return;
        }
        if (answer == Alert::cThirdButtonReturn) {
            QTRY_VERIFY(sheet->fStatusString.startsWith(u"Card left as it was"_s));
            QVERIFY(sheet->isObservingCards()); // still waiting for a card
            QVERIFY(CardCopyRun::queue().waitForDone(30000));
            QCOMPARE(ejected(), QStringList());
            QCOMPARE(workingFiles(), QStringList {u"notes.txt"_s});
            QVERIFY(!SettingsStore::standard().stringForKey(cPrefTempMountVolume));
            return;
        }
        // The camera folder makes it a card: the run starts, ejects it, fills the working folder and closes.
        QTRY_COMPARE_WITH_TIMEOUT(m_refreshes, 1, 20000);
        QCOMPARE(m_refreshedFolder, m_working); // the browser goes there, whatever folder it shows
        QTRY_VERIFY(!sheet);
        QCOMPARE(workingFiles(), (QStringList {u"IMG_0001.JPG"_s, u"IMG_0002.JPG"_s, u"IMG_0003.JPG"_s}));
        QCOMPARE(SettingsStore::standard().stringForKey(cPrefTempMountVolume), card);
        QCOMPARE(ejected(), QStringList {card});
        QCOMPARE(Alert::shownForTesting().size(), answer == 0 ? 0 : 1);
    }

    void mountedVolume_data()
    {
        QTest::addColumn<QString>("volume"); // "card", "stick", "mount" or a literal path
        QTest::addColumn<QString>("question");
        QTest::addColumn<bool>("runs");
        QTest::newRow("camera card: no question") << u"card"_s << QString() << true;
        QTest::newRow("read-only card seen in the mount table") << u"mount"_s << QString() << true;
        QTest::newRow("no camera folder: asked") << u"stick"_s << u"Flash Card MAY NOT be a Camera Card !!!"_s << true;
        QTest::newRow("recovery volume") << u"/VOLUMES/RECOVERY HD"_s << QString() << false;
    }

    void mountedVolume()
    {
        QFETCH(QString, volume);
        QFETCH(QString, question);
        QFETCH(bool, runs);
        const QPointer<LoadCardViewController> sheet = openSheet();
        QSignalSpy finished(sheet, &LoadCardViewController::runFinished);
        QString path = volume;
        if (volume == u"card"_s)
            path = makeCard(u"EOS_DIGITAL"_s);
        else if (volume == u"stick"_s)
            QVERIFY(writeFile((path = m_volumes + u"/STICK"_s) + u"/Documents/IMG_0001.JPG"_s, "photo"));
        Alert::queueAnswerForTesting(Alert::cSecondButtonReturn);

        std::optional<ScopedMount> mount;
        if (volume == u"mount"_s) {
            // Mounted after the sheet opened: only the sheet's mount watcher can report it.
            mount = ScopedMount::readOnlyBind(makeCard(u"EOS_RO"_s));
            SKIP_UNLESS_MOUNTED(*mount);
        } else {
            NotificationCenter::defaultCenter().post(NotificationNames::NSWorkspaceDidMountNotification,
                                                     {{u"NSDevicePath"_s, path}});
        }
        QCOMPARE(finished.wait(runs ? 20000 : 500), runs);
        QCOMPARE(Alert::shownForTesting().size(), question.isEmpty() ? 0 : 1);
        QCOMPARE(alert().messageText, question);
        if (!runs)
            return;
        QCOMPARE(finished.first().first().toInt(), int(CardCopyRun::Outcome::Transferred));
        // Only a recognised card is remembered for ejecting.
        QCOMPARE(SettingsStore::standard().stringForKey(cPrefTempMountVolume).has_value(), question.isEmpty());
        QTRY_COMPARE(m_refreshes, 1);
        QVERIFY(!QFileInfo::exists(m_working + u"/notes.txt"_s)
                && CardImportTesting::trashedContent(m_working + u"/notes.txt"_s));
    }

    void manualFolder_data()
    {
        QTest::addColumn<bool>("chosen");
        QTest::newRow("a folder chosen") << true;
        QTest::newRow("cancelled") << false;
    }

    void manualFolder()
    {
        QFETCH(bool, chosen);
        const QString card = TestSandbox::instance().makeFolder(u"elsewhere"_s);
        QVERIFY(DemoCard::make(card, 1, 2).isValid());
        FolderPanel::queueAnswerForTesting(chosen ? std::optional(card + u"/DCIM"_s) : std::nullopt);
        const QPointer<LoadCardViewController> sheet = openSheet();
        QVERIFY(sheet->isObservingCards());
        QVERIFY(Alert::shownForTesting().isEmpty()); // no card under the roots
        QSignalSpy finished(sheet, &LoadCardViewController::runFinished);
        sheet->manualButton->click();
        QVERIFY(!sheet->isObservingCards());
        QVERIFY(!FolderPanel::lastShownForTesting()->canCreateDirectories); // no new folder on a card
        // Watching resumes whatever the answer.
        QTRY_VERIFY(!sheet || sheet->isObservingCards());
        if (!chosen) {
            QTest::qWait(200);
            QVERIFY(finished.isEmpty());
            QVERIFY(!sheet->fOpenPanel);
            sheet->reject();
            QTRY_VERIFY(!sheet);
            // A closed sheet still observing would be called once it is deleted.
            QCOMPARE(
                NotificationCenter::defaultCenter().observerCount(NotificationNames::NSWorkspaceDidMountNotification),
                0);
            return;
        }
        QTRY_COMPARE_WITH_TIMEOUT(m_refreshes, 1, 20000);
        QCOMPARE(workingFiles().size(), 3);
    }

    void asksBeforePhotosGoToTheTrash_data()
    {
        QTest::addColumn<int>("answer");
        QTest::newRow("Cancel, the default") << Alert::cFirstButtonReturn;
        QTest::newRow("Move to Trash and Import") << Alert::cSecondButtonReturn;
    }

    void asksBeforePhotosGoToTheTrash()
    {
        QFETCH(int, answer);
        QVERIFY(writeFile(m_working + u"/IMG_0001.JPG"_s, "unfiled, same name as the card's"));
        QVERIFY(writeFile(m_working + u"/later/IMG_0500.JPG"_s, "unfiled"));
        SettingsStore::standard().setInteger(1, cPrefOriginalNameFormatTag); // IMG_0001.JPG is a camera's name
        QVERIFY(writeFile(m_working + u"/2000000000015_DSCN0010.JPG"_s, "given a barcode, never filed"));
        QVERIFY(PhotoNameRecord::recordGiven(
            {{m_working + u"/DSCN0010.JPG"_s, m_working + u"/2000000000015_DSCN0010.JPG"_s}}));
        const QString card = TestSandbox::instance().makeFolder(u"elsewhere"_s);
        QVERIFY(DemoCard::make(card, 1, 2).isValid());
        const QPointer<LoadCardViewController> sheet = openSheet();
        QSignalSpy finished(sheet, &LoadCardViewController::runFinished);
        Alert::queueAnswerForTesting(answer);
        sheet->processNewCard(card);

        QTRY_COMPARE(Alert::shownForTesting().size(), 1);
        QVERIFY2(alert().informativeText.contains(u"holds 3 photos (1 of them carries a barcode and was never filed)"_s)
                     && alert().informativeText.contains(m_working),
                 qPrintable(alert().informativeText));
        QCOMPARE(alert().buttons, (QStringList {u"Cancel"_s, u"Move to Trash and Import"_s}));
        QCOMPARE(alert().carefulButton, 0);
        if (answer == Alert::cFirstButtonReturn) {
            QTRY_VERIFY(sheet->fStatusString.startsWith(u"Card NOT imported"_s));
            QVERIFY(sheet->ibProgressIndicator->maximum() != 0); // not busy any more
            QVERIFY(CardCopyRun::queue().waitForDone(30000));
            QVERIFY(finished.isEmpty());
            QCOMPARE(readFile(m_working + u"/IMG_0001.JPG"_s), "unfiled, same name as the card's");
            QVERIFY(QFileInfo::exists(m_working + u"/later/IMG_0500.JPG"_s));
            return;
        }
        QVERIFY(finished.wait(20000));
        QCOMPARE(finished.first().first().toInt(), int(CardCopyRun::Outcome::Transferred));
        QCOMPARE(readFile(m_working + u"/IMG_0001.JPG"_s), readFile(card + u"/DCIM/100CANON/IMG_0001.JPG"_s));
        QCOMPARE(CardImportTesting::trashedContent(m_working + u"/IMG_0001.JPG"_s),
                 QByteArray("unfiled, same name as the card's"));
        QVERIFY(CardImportTesting::trashedContent(m_working + u"/later"_s).has_value());
    }

    void cardNotWhollyImportedIsNotDone_data()
    {
        QTest::addColumn<bool>("pulled"); // else a photo that no free name is left for
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QString>("said"); // by the status line and the alert
        QTest::newRow("card pulled after the first photo")
            << true << int(CardCopyRun::Outcome::StagingIncomplete) << u"1 of 3 photos copied"_s;
        QTest::newRow("a 255-byte name in two camera folders")
            << false << int(CardCopyRun::Outcome::Refused) << u"no numbered name is free"_s;
    }

    void cardNotWhollyImportedIsNotDone()
    {
        QFETCH(bool, pulled);
        QFETCH(int, outcome);
        QFETCH(QString, said);
        // Not under the removable-media roots: the sheet would offer it as an existing card.
        ScopedMount card = ScopedMount::tmpfs(TestSandbox::instance().makeFolder(u"EOS_DIGITAL"_s), u"16m"_s);
        SKIP_UNLESS_MOUNTED(card);
        QVERIFY(DemoCard::make(card.folder(), 1, 2).isValid());
        for (const QString &folder : {u"/DCIM/100CANON/"_s, u"/DCIM/101CANON/"_s})
            QVERIFY(pulled || writeFile(card.folder() + folder + QString(251, u'L') + u".JPG"_s, folder.toUtf8()));
        // One photo at a time, and the card is pulled once the first is staged.
        LoadCardViewController::setRunOptionsForTesting([&card, pulled](CardCopyRun::Options &options) {
            options.copyThreads = 1;
            if (pulled)
                options.copied = [&card](const QString &, qint64) {
                    QProcess::execute(u"umount"_s, {u"-l"_s, card.folder()});
                };
        });
        const QPointer<LoadCardViewController> sheet = openSheet();
        QSignalSpy finished(sheet, &LoadCardViewController::runFinished);
        sheet->processNewCard(card.folder());
        QVERIFY(finished.wait(20000));

        QCOMPARE(finished.first().first().toInt(), outcome);
        QVERIFY(sheet);
        QVERIFY(sheet->ibProgressIndicator->maximum() != 0);
        QVERIFY2(!sheet->statusLabel->text().startsWith(u"Done"_s), qPrintable(sheet->statusLabel->text()));
        if (pulled) {
            QVERIFY2(sheet->statusLabel->text().contains(said), qPrintable(sheet->statusLabel->text()));
            QVERIFY2(sheet->progressBar->format().startsWith(said), qPrintable(sheet->progressBar->format()));
        }
        QTRY_COMPARE(Alert::shownForTesting().size(), 1);
        QCOMPARE(alert().messageText, u"Card NOT Imported"_s);
        QVERIFY2(pulled || alert().informativeText.contains(said), qPrintable(alert().informativeText));
        QCOMPARE(workingFiles(), QStringList {u"notes.txt"_s});
        QCOMPARE(m_refreshes, 0);
    }

    void importUnderWayHoldsOffQuitting()
    {
        const QString card = makeCard(u"EOS_DIGITAL"_s);
        QVERIFY(!card.isEmpty());
        // The copy waits after its first photo until the test lets it go on.
        QSemaphore held;
        QSemaphore reached;
        LoadCardViewController::setRunOptionsForTesting([&](CardCopyRun::Options &options) {
            options.copyThreads = 1;
            options.copied = [&](const QString &, qint64) {
                reached.release();
                held.acquire();
            };
        });
        const QPointer<LoadCardViewController> sheet = openSheet();
        sheet->processNewCard(card);
        QVERIFY(reached.tryAcquire(1, 20000));
        // Closing the sheet does not end the run: quitting must still know of it.
        sheet->reject();
        QTRY_VERIFY(!sheet);
        const QList<WorkInProgress::Item> running = WorkInProgress::running();
        QCOMPARE(running.size(), 1);
        QCOMPARE(running.first().what, u"A card import"_s);
        WorkInProgress::stopAllAtSafePoint(); // the sheet is gone: nothing to show, nothing to crash
        held.release(100);
        QVERIFY(CardCopyRun::queue().waitForDone(30000));
        QVERIFY(WorkInProgress::running().isEmpty());
        QCOMPARE(workingFiles().size(), 3); // the whole card came in
    }
};

LUMISORT_GUI_TEST_MAIN(TestLoadCardViewController)
#include "tst_loadcardviewcontroller.moc"
