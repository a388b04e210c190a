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
#include <QSignalSpy>
#include <QtConcurrent>

using namespace Qt::StringLiterals;

// The filing sheet, started as the browser starts it: a post from a background thread.
class TestCopyToMainFolderViewController : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void runsShowsProgressAndSummary_data();
    void runsShowsProgressAndSummary();
    void secondStartIsRefused();
    void refusalAndNewNamesAreShown_data();
    void refusalAndNewNamesAreShown();
    void summarySaysWhereEveryFileWent_data();
    void summarySaysWhereEveryFileWent();
    void closingEarlyLetsTheRunFinish();

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
    static QString photos(int count)
    {
        const QString folder = TestSandbox::instance().makeFolder(u"work"_s);
        for (int i = 1; i <= count; ++i)
            writeFile(folder + u"/123_IMG_%1.JPG"_s.arg(i, 4, 10, QLatin1Char('0')), QByteArray(1000, 'x'));
        return folder;
    }
};

void TestCopyToMainFolderViewController::initTestCase()
{
    Alert::setTestMode(true);
    SettingsStore::standard().setInteger(1, cPrefOriginalNameFormatTag);
    m_window.resize(800, 600);
    m_window.show();
}

void TestCopyToMainFolderViewController::runsShowsProgressAndSummary_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("title");
    QTest::newRow("photos") << 40 << u"Finished Moving ALL ReAssigned Files..."_s;
    QTest::newRow("empty working folder") << 0 << u"Somehow NO Files to Move/Copy..."_s;
}

void TestCopyToMainFolderViewController::runsShowsProgressAndSummary()
{
    QFETCH(int, count);
    QFETCH(QString, title);
    Alert::resetForTesting();
    const QString src = photos(count);
    const QString dest = TestSandbox::instance().makeFolder(u"dest"_s) + u"/12-06-2026"_s;
    auto *sheet = new CopyToMainFolderViewController(&m_window);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    sheet->open();
    QTRY_COMPARE(sheet->ibButton1->text(), u"Close"_s);
    QVERIFY(!sheet->progressBar->isVisible()); // until the real number of files is known: no made-up "0 of 1"
    QPointer<CopyToMainFolderViewController> alive(sheet);
    QSignalSpy summary(sheet, &CopyToMainFolderViewController::summaryShown);
    int refreshes = 0;
    QObject receiver;
    NotificationCenter::defaultCenter().addObserver(&receiver, NotificationNames::myRefreshId,
                                                    [&](const Notification &) { ++refreshes; });
    start(src, dest);
    QVERIFY(summary.wait(10000));
    QCOMPARE(summary.first().first().toString(), title);
    QCOMPARE(sheet->progressBar->text(), u"%1 of %1"_s.arg(count));
    QCOMPARE(sheet->currentFileLabel->text(), QString()); // no file name left behind
    const Alert::Content alert = Alert::shownForTesting().constLast();
    QCOMPARE(alert.style, Alert::Style::Informational);
    QVERIFY2(alert.informativeText.startsWith(u"Filed into the daily folder 12-06-2026: %1 files\n"_s.arg(count)),
             qPrintable(alert.informativeText));
    // The alert's OK posts the refresh and closes the sheet.
    QTRY_COMPARE(refreshes, 1);
    QTRY_VERIFY(!alive);
    QCOMPARE(QDir(dest).entryList(QDir::Files).size(), count);
    QCOMPARE(Alert::shownForTesting().constLast().messageText, title);
}

void TestCopyToMainFolderViewController::secondStartIsRefused()
{
    const QString src = photos(400);
    const QString dest = TestSandbox::instance().makeFolder(u"dest"_s);
    auto *sheet = new CopyToMainFolderViewController(&m_window);
    sheet->open();
    QSignalSpy summary(sheet, &CopyToMainFolderViewController::summaryShown);
    start(src, dest + u"/first"_s);
    start(src, dest + u"/second"_s);
    QVERIFY(summary.wait(20000));
    QTest::qWait(300);
    QCOMPARE(summary.size(), 1);
    QCOMPARE(QDir(dest + u"/first"_s).entryList(QDir::Files).size(), 400);
    QVERIFY(!QDir(dest + u"/second"_s).exists());
    delete sheet;
}

void TestCopyToMainFolderViewController::refusalAndNewNamesAreShown_data()
{
    QTest::addColumn<bool>("intoItself");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("shown"); // part of the alert's text
    QTest::newRow("filing into the working folder")
        << true << u"Nothing Was Filed..."_s << u"is inside the working folder"_s;
    QTest::newRow("name taken by a different photo")
        << false << u"Finished Moving ALL ReAssigned Files..."_s << u"123_IMG_0001.JPG \u2192 "_s;
}

void TestCopyToMainFolderViewController::refusalAndNewNamesAreShown()
{
    QFETCH(bool, intoItself);
    QFETCH(QString, title);
    QFETCH(QString, shown);
    Alert::resetForTesting();
    const QString src = photos(2);
    const QString dest = intoItself ? src + u"/daily"_s : TestSandbox::instance().makeFolder(u"dest"_s);
    if (!intoItself)
        QVERIFY(writeFile(dest + u"/123_IMG_0001.JPG"_s, "a different photo"));
    // Gone even when a check fails, so that it never answers the next row's start.
    const auto sheet = std::make_unique<CopyToMainFolderViewController>(&m_window);
    sheet->open();
    QSignalSpy refused(sheet.get(), &CopyToMainFolderViewController::runRefused);
    QSignalSpy summary(sheet.get(), &CopyToMainFolderViewController::summaryShown);
    start(src, dest);
    QTRY_VERIFY_WITH_TIMEOUT(refused.size() + summary.size() == 1, 10000);
    QTRY_VERIFY(!Alert::shownForTesting().isEmpty());
    const Alert::Content alert = Alert::shownForTesting().constLast();
    QCOMPARE(alert.messageText, title);
    QVERIFY2(alert.informativeText.contains(shown), qPrintable(alert.informativeText));
    QVERIFY(sheet->ibProgressTextField->text().contains(shown));
    QVERIFY(sheet->ibProgressIndicator->maximum() != 0); // the run is over, whatever its end
    QCOMPARE(QDir(src).entryList(QDir::Files).size(), intoItself ? 2 : 0);
    if (!intoItself)
        QCOMPARE(readFile(dest + u"/123_IMG_0001.JPG"_s), QByteArray("a different photo"));
}

void TestCopyToMainFolderViewController::summarySaysWhereEveryFileWent_data()
{
    QTest::addColumn<int>("moveUnassigned"); // the setting's tag
    QTest::addColumn<bool>("readOnly"); // the daily folder refuses every file
    QTest::addColumn<QString>("counts");
    QTest::newRow("unassigned moved") << 1 << false
                                      << u"Filed into the daily folder day: 2 files\n"
                                         "Moved to UNASSIGNED_PHOTOS: 1 file\n\n"_s;
    QTest::newRow("unassigned left") << 0 << false
                                     << u"Filed into the daily folder day: 2 files\n"
                                        "Moved to UNASSIGNED_PHOTOS: 0 files\n"
                                        "Left in the working folder: 1 file\n\n"_s;
    QTest::newRow("daily folder read-only") << 1 << true
                                            << u"Filed into the daily folder day: 0 files\n"
                                               "Moved to UNASSIGNED_PHOTOS: 1 file\n"
                                               "Not filed, still in the working folder: 2 files\n\n"_s;
}

void TestCopyToMainFolderViewController::summarySaysWhereEveryFileWent()
{
    QFETCH(int, moveUnassigned);
    QFETCH(bool, readOnly);
    QFETCH(QString, counts);
    Alert::resetForTesting();
    SettingsStore &store = SettingsStore::standard();
    const QString destination = TestSandbox::instance().makeFolder(u"dest"_s);
    store.setString(destination, cPrefDestinationPath);
    store.setBool(true, cPrefDoUnassignedProcess);
    store.setInteger(moveUnassigned, cPrefMoveUnasignedPhotoMethodTag);
    const QString src = photos(2);
    QVERIFY(writeFile(src + u"/IMG_0009.JPG"_s, "as shot")); // no barcode yet
    const QString daily = destination + u"/day"_s;
    QVERIFY(QDir().mkpath(daily));
    std::optional<ScopedMount> mount;
    if (readOnly) {
        mount.emplace(ScopedMount::readOnlyBind(daily));
        SKIP_UNLESS_MOUNTED(*mount);
    }
    const auto sheet = std::make_unique<CopyToMainFolderViewController>(&m_window);
    sheet->open();
    QSignalSpy summary(sheet.get(), &CopyToMainFolderViewController::summaryShown);
    start(src, daily);
    QVERIFY(summary.wait(10000));
    store.removeObjectForKey(cPrefDoUnassignedProcess);
    store.removeObjectForKey(cPrefMoveUnasignedPhotoMethodTag);
    store.removeObjectForKey(cPrefDestinationPath);
    QTRY_VERIFY(!Alert::shownForTesting().isEmpty());
    const Alert::Content alert = Alert::shownForTesting().constLast();
    QVERIFY2(alert.informativeText.startsWith(counts), qPrintable(alert.informativeText));
    QCOMPARE(alert.style, readOnly ? Alert::Style::Warning : Alert::Style::Informational);
    QCOMPARE(QDir(destination + u"/UNASSIGNED_PHOTOS"_s).entryList(QDir::Files).size(), moveUnassigned);
}

void TestCopyToMainFolderViewController::closingEarlyLetsTheRunFinish()
{
    const QString src = photos(300);
    const QString dest = TestSandbox::instance().makeFolder(u"dest"_s);
    auto *sheet = new CopyToMainFolderViewController(&m_window);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    sheet->open();
    QPointer<CopyToMainFolderViewController> alive(sheet);
    start(src, dest);
    sheet->ibButton1->click();
    QTRY_VERIFY(!alive);
    // The run carries on without its sheet and files everything.
    QTRY_COMPARE_WITH_TIMEOUT(QDir(dest).entryList(QDir::Files).size(), 300, 20000);
    QTRY_COMPARE(QDir(src).entryList(QDir::Files).size(), 0);
}

LUMISORT_GUI_TEST_MAIN(TestCopyToMainFolderViewController)
#include "tst_copytomainfolderviewcontroller.moc"
