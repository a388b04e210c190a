#include "ScopedMount.h"
#include "TestMain.h"
#include "filing/CopyToMainFolderViewController.h"
#include "settings/SettingsKeys.h"
#include "settings/SettingsStore.h"
#include "support/Alert.h"
#include "support/NotificationCenter.h"
#include "support/NotificationNames.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QtConcurrent>

using namespace Qt::StringLiterals;

// The filing sheet, started as the browser starts it: a post from a background thread.
class TestCopyToMainFolderViewController : public QObject
{
    Q_OBJECT

private:
    QWidget m_window;
    static void start(const QString &src, const QString &dest)
    {
        // Posted from a pool thread while the main thread keeps turning, as the browser does.
        QFuture<void> posted = QtConcurrent::run([src, dest] {
            NotificationCenter::defaultCenter().post(
                NotificationNames::mycopytomainfolder,
                {{u"command"_s, u"dosomething"_s}, {u"srcpath"_s, src}, {u"destpath"_s, dest}});
        });
        QTRY_VERIFY(posted.isFinished());
    }
    static qsizetype fileCount(const QString &folder) { return QDir(folder).entryList(QDir::Files).size(); }
    static QString photos(int count)
    {
        const QString folder = TestSandbox::instance().makeFolder(u"work"_s);
        for (int i = 1; i <= count; ++i)
            writeFile(folder + u"/123_IMG_%1.JPG"_s.arg(i, 4, 10, QLatin1Char('0')), QByteArray(1000, 'x'));
        return folder;
    }

private Q_SLOTS:

    void initTestCase()
    {
        Alert::setTestMode(true);
        SettingsStore::standard().setInteger(1, cPrefOriginalNameFormatTag);
        m_window.resize(800, 600);
        m_window.show();
    }

    void showsProgressAndSaysWhereEveryFileWent_data()
    {
        QTest::addColumn<int>("count"); // photos with a barcode
        QTest::addColumn<int>("moveUnassigned"); // the setting's tag; -1: no photo without a barcode, no setting
        QTest::addColumn<QString>(
            "layout"); // "into itself", "name taken", "read-only" daily folder, "closed early", or nothing
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("said"); // the alert's text starts with it, or holds it after a refusal or new name
        const QString all = u"Finished Moving ALL ReAssigned Files..."_s;
        QTest::newRow("photos") << 40 << -1 << QString() << all << u"Filed into the daily folder day: 40 files\n"_s;
        QTest::newRow("empty working folder") << 0 << -1 << QString() << u"Somehow NO Files to Move/Copy..."_s
                                              << u"Filed into the daily folder day: 0 files\n"_s;
        QTest::newRow("filing into the working folder")
            << 2 << -1 << u"into itself"_s << u"Nothing Was Filed..."_s << u"is inside the working folder"_s;
        QTest::newRow("name taken by a different photo")
            << 2 << -1 << u"name taken"_s << all << u"123_IMG_0001.JPG \u2192 "_s;
        QTest::newRow("unassigned moved") << 2 << 1 << QString() << all
                                          << u"Filed into the daily folder day: 2 files\n"
                                             "Moved to UNASSIGNED_PHOTOS: 1 file\n\n"_s;
        QTest::newRow("unassigned left") << 2 << 0 << QString()
                                         << u"Finished Moving ReAssigned Files - 1 File Stays in the Working Folder"_s
                                         << u"Filed into the daily folder day: 2 files\n"
                                            "Moved to UNASSIGNED_PHOTOS: 0 files\n"
                                            "Left in the working folder: 1 file\n\n"_s;
        QTest::newRow("daily folder read-only")
            << 2 << 1 << u"read-only"_s << u"Possible Issue(s) with Moving ReAssigned Files..."_s
            << u"Filed into the daily folder day: 0 files\n"
               "Moved to UNASSIGNED_PHOTOS: 1 file\n"
               "Not filed, still in the working folder: 2 files\n\n"_s;
        // A second start while a run goes on is refused; closing the sheet early does not stop the run,
        // which carries on without its sheet and files everything.
        QTest::newRow("started twice, closed early") << 400 << -1 << u"closed early"_s << QString() << QString();
    }

    void showsProgressAndSaysWhereEveryFileWent()
    {
        QFETCH(int, count);
        QFETCH(int, moveUnassigned);
        QFETCH(QString, layout);
        QFETCH(QString, title);
        QFETCH(QString, said);
        Alert::resetForTesting();
        SettingsStore &store = SettingsStore::standard();
        const QString destination = TestSandbox::instance().makeFolder(u"dest"_s);
        const auto forget = qScopeGuard([&store] {
            for (const QString &key :
                 {cPrefDoUnassignedProcess, cPrefMoveUnasignedPhotoMethodTag, cPrefDestinationPath})
                store.removeObjectForKey(key);
        });
        const QString src = photos(count);
        if (moveUnassigned >= 0) {
            store.setString(destination, cPrefDestinationPath);
            store.setBool(true, cPrefDoUnassignedProcess);
            store.setInteger(moveUnassigned, cPrefMoveUnasignedPhotoMethodTag);
            QVERIFY(writeFile(src + u"/IMG_0009.JPG"_s, "as shot")); // no barcode yet
        }
        const QString daily = layout == u"into itself"_s ? src + u"/day"_s : destination + u"/day"_s;
        if (layout == u"name taken"_s)
            QVERIFY(writeFile(daily + u"/123_IMG_0001.JPG"_s, "a different photo"));
        std::optional<ScopedMount> mount;
        if (layout == u"read-only"_s) {
            mount.emplace(ScopedMount::readOnlyBind(daily));
            SKIP_UNLESS_MOUNTED(*mount);
        }
        auto *sheet = new CopyToMainFolderViewController(&m_window);
        sheet->setAttribute(Qt::WA_DeleteOnClose);
        QPointer<CopyToMainFolderViewController> alive(sheet);
        // Gone even when a check fails, so that it never answers the next row's start.
        const auto close = qScopeGuard([&alive] { delete alive.data(); });
        sheet->open();
        QTRY_COMPARE(sheet->ibButton1->text(), u"Close"_s);
        QVERIFY(!sheet->progressBar->isVisible()); // until the real number of files is known: no made-up "0 of 1"
        QSignalSpy refused(sheet, &CopyToMainFolderViewController::runRefused);
        QSignalSpy summary(sheet, &CopyToMainFolderViewController::summaryShown);
        int refreshes = 0;
        QObject receiver;
        NotificationCenter::defaultCenter().addObserver(&receiver, NotificationNames::myRefreshId,
                                                        [&](const Notification &) { ++refreshes; });
        start(src, daily);
        if (layout == u"closed early"_s) {
            start(src, daily + u"2"_s);
            sheet->ibButton1->click();
            QTRY_VERIFY(!alive);
            QTRY_COMPARE_WITH_TIMEOUT(fileCount(daily), count, 20000);
            QTRY_COMPARE(fileCount(src), 0);
            QVERIFY(!QDir(daily + u"2"_s).exists());
            return;
        }
        QTRY_VERIFY_WITH_TIMEOUT(refused.size() + summary.size() == 1, 10000);
        QTRY_VERIFY(!Alert::shownForTesting().isEmpty());
        const Alert::Content alert = Alert::shownForTesting().constLast();
        QCOMPARE(alert.messageText, title);
        QVERIFY2(layout.isEmpty() || layout == u"read-only"_s ? alert.informativeText.startsWith(said)
                                                              : alert.informativeText.contains(said),
                 qPrintable(alert.informativeText));
        const bool wentWell = title.startsWith(u"Finished"_s) || title.startsWith(u"Somehow"_s);
        QCOMPARE(alert.style, wentWell ? Alert::Style::Informational : Alert::Style::Warning);
        QVERIFY(sheet->ibProgressIndicator->maximum() != 0); // the run is over, whatever its end
        if (layout == u"into itself"_s) {
            QVERIFY(sheet->ibProgressTextField->text().contains(said));
            QCOMPARE(fileCount(src), count);
            return;
        }
        QCOMPARE(summary.first().first().toString(), title);
        QCOMPARE(sheet->progressBar->text(), u"%1 of %1"_s.arg(count + (moveUnassigned >= 0 ? 1 : 0)));
        QCOMPARE(sheet->currentFileLabel->text(), QString()); // no file name left behind
        if (layout == u"name taken"_s)
            QCOMPARE(readFile(daily + u"/123_IMG_0001.JPG"_s), QByteArray("a different photo"));
        QCOMPARE(fileCount(destination + u"/UNASSIGNED_PHOTOS"_s), std::max(0, moveUnassigned));
        // The alert's OK posts the refresh and closes the sheet.
        QTRY_COMPARE(refreshes, 1);
        QTRY_VERIFY(!alive);
        QCOMPARE(fileCount(daily), layout == u"read-only"_s ? 0 : count + (layout.isEmpty() ? 0 : 1));
    }
};

LUMISORT_GUI_TEST_MAIN(TestCopyToMainFolderViewController)
#include "tst_copytomainfolderviewcontroller.moc"
