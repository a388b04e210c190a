#include "BrowserFixture.h"
#include "ScopedMount.h"
#include "TestMain.h"
#include "barcodes/BarcodeScanScheduler.h"
#include "browser/EmptyFolderHint.h"
#include "browser/HeaderView.h"
#include "browser/MyVimoNSWindow.h"
#include "browser/NoticeBar.h"
#include "browser/PhotoGridView.h"
#include "browser/SegmentedControl.h"
#include "browser/ViewController.h"
#include "browser/WindowController.h"
#include "model/PhotoListModel.h"
#include "settings/FactoryDefaults.h"
#include "settings/LogPaths.h"
#include "settings/MyAliasKit.h"
#include "settings/SettingsKeys.h"
#include "settings/SettingsStore.h"
#include "support/Alert.h"
#include "support/DesktopOpener.h"
#include "support/FolderPanel.h"
#include "support/NotificationCenter.h"
#include "support/NotificationNames.h"
#include "support/PlaceholderSheet.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QStatusBar>
#include <QThread>
#include <QtConcurrent>

using namespace Qt::StringLiterals;

// The window's layout, actions and loading, on the working folder of the fixture.
class TestViewController : public QObject, BrowserFixture
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { makeCard(); }
    void init() { openWorkingFolder(); }
    void cleanup() { closeWindow(); }
    void sectionsAndHeadersFollowTheLoader_data()
    {
        QTest::addColumn<bool>("sections");
        QTest::newRow("one section per barcode") << true;
        QTest::newRow("single section") << false;
    }
    void sectionsAndHeadersFollowTheLoader()
    {
        QFETCH(bool, sections);
        if (!sections)
            vc()->ibShowHideButton->click();
        settle();
        QCOMPARE(grid()->numberOfSections(), sections ? 3 : 1);
        QApplication::processEvents();
        auto *header = qobject_cast<HeaderView *>(grid()->headerForSection(0));
        QVERIFY(header);
        QCOMPARE(header->sectionTitle->text(), sections ? u"ID[0] = "_s + m_card.photos.first().barcode : QString());
        QCOMPARE(header->imageCount->text(), sections ? u"4 Items"_s : u"12 Items"_s);
        QCOMPARE(header->sectionid, 0);
        // Every item in view shows its photo: name without extension, a thumbnail.
        for (const IndexPath &path : grid()->indexPathsForVisibleItems()) {
            const ImageFilePtr file = vc()->imageDirectoryLoader->imageFileForIndexPath(path);
            QCOMPARE(photo(path).data().toString(), QFileInfo(file->fileName()).completeBaseName());
            QVERIFY(!photo(path).data(Qt::DecorationRole).value<QImage>().isNull());
        }
        QCOMPARE(grid()->frameForItem({0, 0}).size(), QSizeF(200, 200));
    }
    void zoomStepsAndLimits()
    {
        SegmentedControl *zoom = vc()->ibZoomControl;
        for (int i = 0; i < 13; ++i)
            zoom->activate(0);
        QCOMPARE(vc()->itemScaleFactor, 0.75);
        zoom->activate(0);
        QCOMPARE(vc()->itemScaleFactor, 0.75);
        QCOMPARE(grid()->frameForItem({0, 0}).width(), 150.0);
        zoom->activate(1);
        QCOMPARE(vc()->itemScaleFactor, 1.0);
        for (int i = 0; i < 120; ++i)
            zoom->activate(2);
        QCOMPARE(vc()->itemScaleFactor, 3.0);
    }
    void selectAllToggles()
    {
        const auto selectAll = [] {
            NotificationCenter::defaultCenter().post(NotificationNames::mySelectAll, {{u"command"_s, u"selectall"_s}});
        };
        selectAll();
        QCOMPARE(grid()->selectionIndexPaths().size(), 12);
        selectAll();
        QVERIFY(grid()->selectionIndexPaths().isEmpty());
        grid()->selectItems({{0, 0}});
        selectAll();
        QCOMPARE(grid()->selectionIndexPaths().size(), 12);

        // An empty folder: harmless.
        openOn(TestSandbox::instance().makeFolder(u"empty"_s));
        selectAll();
        QVERIFY(grid()->selectionIndexPaths().isEmpty());
    }
    void sameSourceFolderDoesNotReload()
    {
        writeFile(m_folder + u"/zz_extra.jpg"_s, "x");
        NotificationCenter::defaultCenter().postWithoutUserInfo(NotificationNames::vimoNotificationChangedSourcePath);
        QCOMPARE(vc()->imageDirectoryLoader->numberOfItems(), 12);

        const QString other = TestSandbox::instance().makeFolder(u"other"_s);
        m_card.copyAsShot(other);
        SettingsStore::standard().setString(other, cPrefSourcePath);
        SettingsStore::standard().removeObjectForKey(cPrefSourcePathAliasData);
        NotificationCenter::defaultCenter().postWithoutUserInfo(NotificationNames::vimoNotificationChangedSourcePath);
        QCOMPARE(vc()->pathtophotos, other);
        settle();
        QCOMPARE(grid()->numberOfSections(), 1); // camera names: one "IMG" run
        QVERIFY(SettingsStore::standard().boolForKey(cPrefSourcePathIsValid));
    }
    // An automatic run of the command-line tool killed after two renames: the window
    // finishes it before showing the folder, and says so.
    void interruptedRunIsFinishedWhenTheFolderLoads()
    {
        const QString strace = QStandardPaths::findExecutable(u"strace"_s);
        if (strace.isEmpty())
            QSKIP("strace is not installed");
        const QString other = TestSandbox::instance().makeFolder(u"killed"_s);
        const QStringList photos = m_card.copyAsShot(other);
        const QString barcodePhoto = QFileInfo(photos.first()).fileName();
        QProcess::execute(strace,
                          {u"-f"_s, u"-qq"_s, u"-o"_s, u"/dev/null"_s, u"-e"_s, u"trace=renameat2"_s, u"-e"_s,
                           u"inject=renameat2:signal=KILL:when=4"_s, TestSandbox::cliPath(), u"auto"_s, other,
                           barcodePhoto + u"=2000000000015"_s});
        QVERIFY(QFileInfo::exists(other + u'/' + QFileInfo(photos.last()).fileName())); // not finished
        Alert::resetForTesting();
        openOn(other);
        QTRY_COMPARE(Alert::shownForTesting().size(), 1);
        QCOMPARE(Alert::shownForTesting().first().messageText,
                 u"An interrupted reassignment of 12 photos was finished"_s);
        // One group: the barcode photo went to the trash, every other photo carries its code.
        QCOMPARE(grid()->numberOfSections(), 1);
        QCOMPARE(grid()->numberOfItemsInSection(0), 11);
        QVERIFY(QFileInfo::exists(other + u"/2000000000015_"_s + QFileInfo(photos.last()).fileName()));
    }
    void missingWorkingFolderShowsOneEmptySection()
    {
        openOn(m_folder + u"/gone"_s);
        QCOMPARE(grid()->numberOfSections(), 1);
        QCOMPARE(grid()->numberOfItemsInSection(0), 0);
        QTRY_VERIFY(grid()->headerForSection(0));
        auto *header = qobject_cast<HeaderView *>(grid()->headerForSection(0));
        QCOMPARE(header->sectionTitle->text(), u"ID[0] = Unknown!"_s);
        QCOMPARE(header->imageCount->text(), u"0 Items"_s);
        QTRY_VERIFY(vc()->emptyFolderHint->isVisible());
        QVERIFY(vc()->emptyFolderHint->titleLabel->text().endsWith(u"cannot be found"_s));
    }
    void helpSaysWhereTheFilesAre()
    {
        const QString about = WindowController::aboutText();
        QVERIFY(about.contains(LogPaths::logFile()));
        QVERIFY(about.contains(SettingsStore::standardFilePath()));
        m_controller->showLogAction->trigger();
        QCOMPARE(DesktopOpener::openedForTesting().last(), LogPaths::logFile());
    }
    void refreshFromAnotherThreadAndTitle()
    {
        QCOMPARE(m_controller->window()->windowTitle(), m_folder + u" - Lumisort"_s);
        QCOMPARE(*SettingsStore::standard().stringForKey(cPrefWindowTitle), m_folder + u" - Lumisort"_s);
        QVERIFY(QFile::remove(m_folder + u'/' + QDir(m_folder).entryList(QDir::Files).first()));
        QtConcurrent::run([] {
            NotificationCenter::defaultCenter().post(NotificationNames::myRefreshId, {{u"command"_s, u"refresh"_s}});
        }).waitForFinished();
        QTRY_COMPARE(vc()->imageDirectoryLoader->numberOfItems(), 11);

        // Another folder for this run: shown, titled by its name, not stored.
        const QString other = TestSandbox::instance().makeFolder(u"another"_s);
        m_card.copyAsShot(other);
        FolderPanel::queueAnswerForTesting(other);
        m_controller->openAnotherFolder();
        QTRY_COMPARE(vc()->pathtophotos, other);
        QCOMPARE(m_controller->window()->windowTitle(), other + u" - Lumisort"_s);
        QCOMPARE(*SettingsStore::standard().stringForKey(cPrefSourcePath), m_folder);

        // An import fills the stored working folder: the window goes back to it.
        NotificationCenter::defaultCenter().post(NotificationNames::myRefreshId,
                                                 {{u"command"_s, u"refresh"_s}, {u"srcpath"_s, m_folder}});
        QTRY_COMPARE(vc()->pathtophotos, m_folder);
        QCOMPARE(m_controller->window()->windowTitle(), m_folder + u" - Lumisort"_s);
        settle();
        QCOMPARE(vc()->imageDirectoryLoader->numberOfItems(), 11);

        // A working folder chosen in the preferences: shown and named, never a placeholder.
        const QString chosen = TestSandbox::instance().makeFolder(u"chosen"_s);
        SettingsStore::standard().setString(chosen, cPrefSourcePath);
        MyAliasKit::savePath(chosen, cPrefSourcePathAliasData);
        NotificationCenter::defaultCenter().postWithoutUserInfo(NotificationNames::vimoNotificationChangedSourcePath);
        QTRY_COMPARE(vc()->pathtophotos, chosen);
        QCOMPARE(m_controller->window()->windowTitle(), chosen + u" - Lumisort"_s);
        SettingsStore::standard().setString(m_folder, cPrefSourcePath);
        SettingsStore::standard().removeObjectForKey(cPrefSourcePathAliasData);
    }
    void fileRequestPostsFoldersFromTheBackground()
    {
        const QString destination = TestSandbox::instance().makeFolder(u"dest"_s);
        SettingsStore::standard().setString(destination, cPrefDestinationPath);
        SettingsStore::standard().removeObjectForKey(cPrefDailyFolderDateFormat);
        QVariantMap received;
        bool onMain = true;
        QObject receiver;
        NotificationCenter::defaultCenter().addObserver(&receiver, NotificationNames::mycopytomainfolder,
                                                        [&](const Notification &n) {
                                                            onMain = QThread::currentThread() == qApp->thread();
                                                            received = n.userInfo;
                                                        });
        vc()->finishProcess();
        QCOMPARE(vc()->presentedSheets().size(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(!received.isEmpty(), 3000);
        QVERIFY(!onMain);
        QCOMPARE(received.value(u"srcpath"_s).toString(), m_folder);
        QCOMPARE(received.value(u"destpath"_s).toString(), destination);
        SettingsStore::standard().removeObjectForKey(cPrefDestinationPath);
    }
    void doubleClickOpensWithoutChangingSelection()
    {
        QApplication::processEvents();
        const QModelIndex item = photo({0, 1});
        QVERIFY(item.isValid());
        QTest::mouseClick(grid()->viewport(), Qt::LeftButton, {}, grid()->visualRect(item).center());
        QCOMPARE(grid()->selectionIndexPaths(), (QSet<IndexPath> {{0, 1}}));
        QVERIFY(grid()->selectionModel()->isSelected(item));
        QTest::mouseDClick(grid()->viewport(), Qt::LeftButton, {}, grid()->visualRect(item).center());
        QCOMPARE(DesktopOpener::openedForTesting().constLast(),
                 item.data(PhotoListModel::FileRole).value<ImageFilePtr>()->fileurl().toLocalFile());
        QCOMPARE(grid()->selectionIndexPaths(), (QSet<IndexPath> {{0, 1}}));
    }
    void draggingWritesFileNamesAndDropsChangeNothing()
    {
        QMimeData data;
        QVERIFY(vc()->canDragItemsAt(grid(), {{0, 0}}));
        QVERIFY(vc()->writeItemsAt(grid(), {{1, 0}, {0, 1}}, &data));
        const QStringList names = data.text().split(u'\n');
        QCOMPARE(names,
                 (QStringList {vc()->imageDirectoryLoader->imageFileForIndexPath({0, 1})->fileName(),
                               vc()->imageDirectoryLoader->imageFileForIndexPath({1, 0})->fileName()}));
        QVERIFY(vc()->validateDrop(grid(), &data));
        QVERIFY(vc()->acceptDrop(grid(), &data));
        QCOMPARE(QDir(m_folder).entryList(QDir::Files).size(), 12);
    }
    void correctionKeepsThePlaceOnScreen()
    {
        m_controller->window()->resize(900, 500); // less than a section in view
        settle();
        grid()->scrollToItem({2, 3});
        QApplication::processEvents();
        const IndexPath top = grid()->indexPathsForVisibleItems().first();
        const qreal onScreen = grid()->frameForItem(top).top() - grid()->contentOffset().y();
        const QString topName = vc()->imageDirectoryLoader->imageFileForIndexPath(top)->fileName();

        // A correction renames the photos of the first section (another barcode sorts them last).
        for (qsizetype i = 0; i < 4; ++i) {
            const QUrl url = vc()->imageDirectoryLoader->imageFileForIndexPath({0, i})->fileurl();
            QVERIFY(
                QFile::rename(url.toLocalFile(), m_folder + u"/9999999999999_"_s + url.fileName().section(u'_', 1)));
        }
        NotificationCenter::defaultCenter().post(NotificationNames::myRefreshId, {{u"command"_s, u"refresh"_s}});
        settle();
        const IndexPath moved = grid()->indexPathsForVisibleItems().first();
        QCOMPARE(moved.section, top.section - 1);
        QCOMPARE(vc()->imageDirectoryLoader->imageFileForIndexPath(moved)->fileName(), topName);
        QCOMPARE(grid()->frameForItem(moved).top() - grid()->contentOffset().y(), onScreen);
    }
    void changesByAnotherProgramShowUpKeepingMarks()
    {
        grid()->selectItems({{1, 1}});
        const QString marked = vc()->imageDirectoryLoader->imageFileForIndexPath({1, 1})->fileName();
        QVERIFY(QFile::copy(m_card.photos.first().path, m_folder + u"/0000000000000_new.JPG"_s));
        QTRY_COMPARE_WITH_TIMEOUT(vc()->imageDirectoryLoader->numberOfItems(), 13, 5000);
        settle();
        QCOMPARE(grid()->numberOfSections(), 4);
        QCOMPARE(grid()->selectionIndexPaths().size(), 1);
        const IndexPath still = *grid()->selectionIndexPaths().cbegin();
        QCOMPARE(vc()->imageDirectoryLoader->imageFileForIndexPath(still)->fileName(), marked);
    }
};

LUMISORT_GUI_TEST_MAIN(TestViewController)
#include "tst_viewcontroller.moc"
