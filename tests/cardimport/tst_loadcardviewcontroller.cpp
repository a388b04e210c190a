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

    // However a card comes in, what the operator answers decides: imported (the working folder's old
    // files to the trash, the browser sent there), ejected, left as it was, or nothing at all.
    void cardComesIn_data()
    {
        QTest::addColumn<QString>("way"); // "at show" under the media roots, "offered" by the window, "mounted"
                                          // (a mount notice), "mount table", "manual" (the folder chooser),
                                          // "processed" (a card elsewhere)
        QTest::addColumn<QString>("volume"); // "card", "stick" (no camera folder), "none", "pulled" (a card
                                             // pulled after its first photo), "long names" (a photo that no
                                             // free name is left for: a 255-byte name in two camera folders),
                                             // or a path
        QTest::addColumn<bool>("unfiled"); // photos are waiting in the working folder
        QTest::addColumn<int>("answer"); // to the first question, Alert's button number; 0: none
        QTest::addColumn<int>("key"); // pressed on the real message box instead of a set answer
        QTest::addColumn<QString>("question");
        QTest::addColumn<QString>("outcome"); // "imported", "remembered" (imported, to eject later), "ejected",
                                              // "left", "not imported", "nothing", or how a run ended:
                                              // "stopped", "refused"
        const QString existing = u"EJECT Existing CARD !!!"_s;
        const QString trash = u"Photos in the Working Folder !!!"_s;
        QTest::newRow("Use This Card") << u"at show"_s << u"card"_s << false << 2 << 0 << existing << u"remembered"_s;
        QTest::newRow("Eject Card") << u"at show"_s << u"card"_s << false << 1 << 0 << existing << u"ejected"_s;
        QTest::newRow("Do Nothing") << u"at show"_s << u"card"_s << false << 3 << 0 << existing << u"left"_s;
        // A key pressed by reflex neither ejects nor imports.
        QTest::newRow("Return on the real box")
            << u"at show"_s << u"card"_s << false << 0 << int(Qt::Key_Return) << existing << u"left"_s;
        QTest::newRow("Escape on the real box")
            << u"at show"_s << u"card"_s << false << 0 << int(Qt::Key_Escape) << existing << u"left"_s;
        QTest::newRow("offered by the window: no question")
            << u"offered"_s << u"card"_s << false << 0 << 0 << QString() << u"remembered"_s;
        QTest::newRow("camera card mounted: no question")
            << u"mounted"_s << u"card"_s << false << 0 << 0 << QString() << u"remembered"_s;
        // Mounted after the sheet opened: only the sheet's mount watcher can report it.
        QTest::newRow("read-only card seen in the mount table")
            << u"mount table"_s << u"card"_s << false << 0 << 0 << QString() << u"remembered"_s;
        // Only a recognised card is remembered for ejecting.
        QTest::newRow("no camera folder: asked") << u"mounted"_s << u"stick"_s << false << 2 << 0
                                                 << u"Flash Card MAY NOT be a Camera Card !!!"_s << u"imported"_s;
        QTest::newRow("recovery volume") << u"mounted"_s << u"/VOLUMES/RECOVERY HD"_s << false << 0 << 0 << QString()
                                         << u"nothing"_s;
        QTest::newRow("a folder chosen") << u"manual"_s << u"card"_s << false << 0 << 0 << QString() << u"imported"_s;
        QTest::newRow("chooser cancelled") << u"manual"_s << u"none"_s << false << 0 << 0 << QString() << u"nothing"_s;
        QTest::newRow("unfiled photos: Cancel, the default")
            << u"processed"_s << u"card"_s << true << 1 << 0 << trash << u"not imported"_s;
        QTest::newRow("unfiled photos: Move to Trash and Import")
            << u"processed"_s << u"card"_s << true << 2 << 0 << trash << u"imported"_s;
        QTest::newRow("card pulled after the first photo")
            << u"processed"_s << u"pulled"_s << false << 0 << 0 << u"Card NOT Imported"_s << u"stopped"_s;
        QTest::newRow("a 255-byte name in two camera folders")
            << u"processed"_s << u"long names"_s << false << 0 << 0 << u"Card NOT Imported"_s << u"refused"_s;
    }

    void cardComesIn()
    {
        QFETCH(QString, way);
        QFETCH(QString, volume);
        QFETCH(bool, unfiled);
        QFETCH(int, answer);
        QFETCH(int, key);
        QFETCH(QString, question);
        QFETCH(QString, outcome);
        QString card = volume;
        const bool pulled = volume == u"pulled"_s;
        std::optional<ScopedMount> tmpfs;
        if (way == u"at show"_s || way == u"offered"_s) {
            QVERIFY(!(card = makeCard(u"EOS_DIGITAL"_s)).isEmpty());
        } else if (pulled || volume == u"long names"_s) {
            // Not under the removable-media roots: the sheet would offer it as an existing card.
            tmpfs.emplace(ScopedMount::tmpfs(TestSandbox::instance().makeFolder(u"EOS_DIGITAL"_s), u"16m"_s));
            SKIP_UNLESS_MOUNTED(*tmpfs);
            QVERIFY(DemoCard::make(card = tmpfs->folder(), 1, 2).isValid());
            for (const QString &folder : {u"/DCIM/100CANON/"_s, u"/DCIM/101CANON/"_s})
                QVERIFY(pulled || writeFile(card + folder + QString(251, u'L') + u".JPG"_s, folder.toUtf8()));
            // One photo at a time, and the card is pulled once the first is staged.
            LoadCardViewController::setRunOptionsForTesting([card, pulled](CardCopyRun::Options &options) {
                options.copyThreads = 1;
                if (pulled)
                    options.copied = [card](const QString &, qint64) {
                        QProcess::execute(u"umount"_s, {u"-l"_s, card});
                    };
            });
        } else if (way == u"manual"_s || way == u"processed"_s)
            QVERIFY(DemoCard::make(card = TestSandbox::instance().makeFolder(u"elsewhere"_s), 1, 2).isValid());
        if (unfiled) {
            QVERIFY(writeFile(m_working + u"/IMG_0001.JPG"_s, "unfiled, same name as the card's"));
            QVERIFY(writeFile(m_working + u"/later/IMG_0500.JPG"_s, "unfiled"));
            SettingsStore::standard().setInteger(1, cPrefOriginalNameFormatTag); // IMG_0001.JPG is a camera's name
            QVERIFY(writeFile(m_working + u"/2000000000015_DSCN0010.JPG"_s, "given a barcode, never filed"));
            QVERIFY(PhotoNameRecord::recordGiven(
                {{m_working + u"/DSCN0010.JPG"_s, m_working + u"/2000000000015_DSCN0010.JPG"_s}}));
        }
        const QStringList before = workingFiles();
        Alert::setTestMode(key == 0);
        const auto restore = qScopeGuard([] { Alert::setTestMode(true); });
        if (answer != 0)
            Alert::queueAnswerForTesting(Alert::cFirstButtonReturn + answer - 1);
        if (way == u"manual"_s)
            FolderPanel::queueAnswerForTesting(volume == u"none"_s ? std::nullopt : std::optional(card + u"/DCIM"_s));
        const QPointer<LoadCardViewController> sheet = openSheet(way == u"offered"_s ? card : QString());
        QSignalSpy finished(sheet, &LoadCardViewController::runFinished);
        std::optional<ScopedMount> mount;
        if (way == u"mount table"_s) {
            mount = ScopedMount::readOnlyBind(makeCard(u"EOS_RO"_s));
            SKIP_UNLESS_MOUNTED(*mount);
            card = mount->folder();
        } else if (way == u"mounted"_s) {
            if (volume == u"card"_s)
                QVERIFY(!(card = makeCard(u"EOS_DIGITAL"_s)).isEmpty());
            else if (volume == u"stick"_s)
                QVERIFY(writeFile((card = m_volumes + u"/STICK"_s) + u"/Documents/IMG_0001.JPG"_s, "photo"));
            NotificationCenter::defaultCenter().post(NotificationNames::NSWorkspaceDidMountNotification,
                                                     {{u"NSDevicePath"_s, card}});
        } else if (way == u"processed"_s) {
            sheet->processNewCard(card);
        } else if (way == u"manual"_s) {
            QVERIFY(sheet->isObservingCards());
            sheet->manualButton->click();
            QVERIFY(!sheet->isObservingCards());
            QVERIFY(!FolderPanel::lastShownForTesting()->canCreateDirectories); // no new folder on a card
            QTRY_VERIFY(!sheet || sheet->isObservingCards()); // watching resumes whatever the answer
        }
        if (key != 0) {
            QMessageBox *box = nullptr;
            QTRY_VERIFY((box = sheet->findChild<QMessageBox *>()) && box->isVisible());
            QCOMPARE(box->text(), question);
            QTest::keyClick(box, Qt::Key(key));
        } else if (!question.isEmpty()) {
            QTRY_COMPARE(Alert::shownForTesting().size(), 1);
            QCOMPARE(alert().messageText, question);
        }
        if (unfiled) {
            QVERIFY2(
                alert().informativeText.contains(u"holds 3 photos (1 of them carries a barcode and was never filed)"_s)
                    && alert().informativeText.contains(m_working),
                qPrintable(alert().informativeText));
            QCOMPARE(alert().carefulButton, 0);
        } else if (question == u"EJECT Existing CARD !!!"_s && key == 0) {
            QCOMPARE(alert().carefulReturn(), Alert::cThirdButtonReturn);
        }

        const bool imported = outcome == u"imported"_s || outcome == u"remembered"_s;
        const QHash<QString, CardCopyRun::Outcome> runs {{u"imported"_s, CardCopyRun::Outcome::Transferred},
                                                         {u"remembered"_s, CardCopyRun::Outcome::Transferred},
                                                         {u"stopped"_s, CardCopyRun::Outcome::StagingIncomplete},
                                                         {u"refused"_s, CardCopyRun::Outcome::Refused}};
        QCOMPARE(finished.isEmpty() ? finished.wait(runs.contains(outcome) ? 20000 : 300) : true,
                 runs.contains(outcome));
        QVERIFY(finished.isEmpty() || finished.first().first().toInt() == int(runs.value(outcome)));
        QVERIFY(CardCopyRun::queue().waitForDone(30000));
        QCOMPARE(ejected(), outcome == u"remembered"_s || outcome == u"ejected"_s ? QStringList {card} : QStringList());
        QCOMPARE(SettingsStore::standard().stringForKey(cPrefTempMountVolume),
                 outcome == u"remembered"_s ? std::optional(card) : std::nullopt);
        QCOMPARE(Alert::shownForTesting().size(), question.isEmpty() || key != 0 ? 0 : 1);
        if (!imported) {
            QCOMPARE(m_refreshes, 0);
            QCOMPARE(workingFiles(), before);
            if (unfiled)
                QCOMPARE(readFile(m_working + u"/IMG_0001.JPG"_s), "unfiled, same name as the card's");
            QVERIFY(outcome != u"left"_s
                    || (sheet->fStatusString.startsWith(u"Card left as it was"_s) && sheet->isObservingCards()));
            QVERIFY(outcome != u"not imported"_s || sheet->fStatusString.startsWith(u"Card NOT imported"_s));
            if (outcome == u"not imported"_s || runs.contains(outcome))
                QVERIFY(sheet->ibProgressIndicator->maximum() != 0); // not busy any more
            // A run that did not bring the whole card in is not "Done", and says what happened.
            const QString said = pulled ? u"1 of 3 photos copied"_s : u"no numbered name is free"_s;
            if (runs.contains(outcome)) {
                QVERIFY2(!sheet->statusLabel->text().startsWith(u"Done"_s), qPrintable(sheet->statusLabel->text()));
                QVERIFY2(!pulled || sheet->statusLabel->text().contains(said), qPrintable(sheet->statusLabel->text()));
                QVERIFY2(!pulled || sheet->progressBar->format().startsWith(said),
                         qPrintable(sheet->progressBar->format()));
                QVERIFY2(pulled || alert().informativeText.contains(said), qPrintable(alert().informativeText));
            }
            if (volume == u"none"_s) {
                QVERIFY(!sheet->fOpenPanel);
                sheet->reject();
                QTRY_VERIFY(!sheet);
                // A closed sheet still observing would be called once it is deleted.
                QCOMPARE(NotificationCenter::defaultCenter().observerCount(
                             NotificationNames::NSWorkspaceDidMountNotification),
                         0);
            }
            return;
        }
        QTRY_COMPARE(m_refreshes, 1);
        QCOMPARE(m_refreshedFolder, m_working); // the browser goes there, whatever folder it shows
        QVERIFY(CardImportTesting::trashedContent(m_working + u"/notes.txt"_s));
        if (unfiled) {
            QCOMPARE(readFile(m_working + u"/IMG_0001.JPG"_s), readFile(card + u"/DCIM/100CANON/IMG_0001.JPG"_s));
            QCOMPARE(CardImportTesting::trashedContent(m_working + u"/IMG_0001.JPG"_s),
                     QByteArray("unfiled, same name as the card's"));
            QVERIFY(CardImportTesting::trashedContent(m_working + u"/later"_s).has_value());
        } else {
            QCOMPARE(workingFiles().size(), volume == u"stick"_s ? 1 : 3);
        }
        QTRY_VERIFY(outcome != u"remembered"_s || !sheet); // an ejected card's sheet closes
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
