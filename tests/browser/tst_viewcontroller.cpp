#include "BrowserFixture.h"
#include "TestMain.h"
#include "browser/SegmentedControl.h"
#include "support/DesktopOpener.h"
#include "support/FolderPanel.h"

#include <QMimeData>
#include <QProcess>
#include <QStandardPaths>
#include <QtConcurrent>

using namespace Qt::StringLiterals;

// The window's layout, actions and loading, on the working folder of the fixture.
class TestViewController : public BrowserFixture
{
    Q_OBJECT

    static void refresh(const QString &filled = {})
    {
        NotificationCenter::defaultCenter().post(NotificationNames::myRefreshId,
                                                 {{u"command"_s, u"refresh"_s}, {u"srcpath"_s, filled}});
    }
    void verifyShown(const QString &folder)
    {
        QTRY_COMPARE(vc()->pathtophotos, folder);
        QCOMPARE(m_controller->window()->windowTitle(), folder + u" - Lumisort"_s);
        settle();
    }

private Q_SLOTS:
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
        HeaderView *first = header(0);
        QVERIFY(first);
        QCOMPARE(first->sectionTitle->text(), sections ? u"ID[0] = "_s + m_card.photos.first().barcode : QString());
        QCOMPARE(first->imageCount->text(), sections ? u"4 Items"_s : u"12 Items"_s);
        // Every item in view shows its photo: name without extension, a thumbnail.
        for (const IndexPath &path : grid()->indexPathsForVisibleItems()) {
            QCOMPARE(photo(path).data().toString(), QFileInfo(nameAt(path)).completeBaseName());
            QVERIFY(!photo(path).data(Qt::DecorationRole).value<QImage>().isNull());
        }
    }
    void zoomStepsAndLimits()
    {
        SegmentedControl *zoom = vc()->ibZoomControl;
        for (const auto &[segment, presses, scale] : {std::tuple {0, 14, 0.75}, {1, 1, 1.0}, {2, 120, 3.0}}) {
            for (int i = 0; i < presses; ++i)
                zoom->activate(segment);
            QCOMPARE(vc()->itemScaleFactor, scale);
            QCOMPARE(grid()->frameForItem({0, 0}).width(), 200 * scale);
        }
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
        openOn(TestSandbox::instance().makeFolder(u"empty"_s)); // harmless there
        selectAll();
        QVERIFY(grid()->selectionIndexPaths().isEmpty());
    }
    // The folder shown follows a refresh (from any thread), the preferences and Open;
    // the title always names it.
    void shownFolderFollowsRefreshAndChoice()
    {
        QCOMPARE(*SettingsStore::standard().stringForKey(cPrefWindowTitle), m_folder + u" - Lumisort"_s);
        QVERIFY(QFile::remove(m_folder + u'/' + QDir(m_folder).entryList(QDir::Files).first()));
        // The same folder named again is not read again.
        NotificationCenter::defaultCenter().postWithoutUserInfo(NotificationNames::vimoNotificationChangedSourcePath);
        QCOMPARE(vc()->imageDirectoryLoader->numberOfItems(), 12);
        QtConcurrent::run([] { refresh(); }).waitForFinished();
        QTRY_COMPARE(vc()->imageDirectoryLoader->numberOfItems(), 11);

        // Another folder for this run: shown, not stored.
        const QString other = TestSandbox::instance().makeFolder(u"another"_s);
        m_card.copyAsShot(other);
        FolderPanel::queueAnswerForTesting(other);
        m_controller->openAnotherFolder();
        verifyShown(other);
        QCOMPARE(grid()->numberOfSections(), 1); // camera names: one "IMG" run
        QCOMPARE(*SettingsStore::standard().stringForKey(cPrefSourcePath), m_folder);

        // An import fills the stored working folder: the window goes back to it.
        refresh(m_folder);
        verifyShown(m_folder);
        QCOMPARE(vc()->imageDirectoryLoader->numberOfItems(), 11);

        // A working folder chosen in the preferences: shown and named, never a placeholder.
        const QString chosen = TestSandbox::instance().makeFolder(u"chosen"_s);
        setSource(chosen, true);
        NotificationCenter::defaultCenter().postWithoutUserInfo(NotificationNames::vimoNotificationChangedSourcePath);
        verifyShown(chosen);
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
        const QString last = QFileInfo(photos.last()).fileName();
        QProcess::execute(strace,
                          {u"-f"_s, u"-qq"_s, u"-o"_s, u"/dev/null"_s, u"-e"_s, u"trace=renameat2"_s, u"-e"_s,
                           u"inject=renameat2:signal=KILL:when=4"_s, TestSandbox::cliPath(), u"auto"_s, other,
                           QFileInfo(photos.first()).fileName() + u"=2000000000015"_s});
        QVERIFY(QFileInfo::exists(other + u'/' + last)); // not finished
        Alert::resetForTesting();
        openOn(other);
        QTRY_COMPARE(Alert::shownForTesting().size(), 1);
        QCOMPARE(Alert::shownForTesting().first().messageText,
                 u"An interrupted reassignment of 12 photos was finished"_s);
        // One group: the barcode photo went to the trash, every other photo carries its code.
        QCOMPARE(grid()->numberOfSections(), 1);
        QCOMPARE(grid()->numberOfItemsInSection(0), 11);
        QVERIFY(QFileInfo::exists(other + u"/2000000000015_"_s + last));
    }
    // A double click opens the photo and keeps the mark; a drag carries the file names and a
    // drop onto the grid moves nothing.
    void doubleClickOpensAndDropsChangeNothing()
    {
        QApplication::processEvents();
        const QPoint at = grid()->visualRect(photo({0, 1})).center();
        QTest::mouseClick(grid()->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(grid()->viewport(), Qt::LeftButton, {}, at);
        QCOMPARE(DesktopOpener::openedForTesting().constLast(), m_folder + u'/' + nameAt({0, 1}));
        QCOMPARE(grid()->selectionIndexPaths(), (QSet<IndexPath> {{0, 1}}));
        QVERIFY(grid()->selectionModel()->isSelected(photo({0, 1})));

        QMimeData data;
        QVERIFY(vc()->canDragItemsAt(grid(), {{0, 0}}));
        QVERIFY(vc()->writeItemsAt(grid(), {{1, 0}, {0, 1}}, &data));
        QCOMPARE(data.text().split(u'\n'), (QStringList {nameAt({0, 1}), nameAt({1, 0})}));
        QVERIFY(vc()->validateDrop(grid(), &data));
        QVERIFY(vc()->acceptDrop(grid(), &data));
        QCOMPARE(QDir(m_folder).entryList(QDir::Files).size(), 12);
    }
    // A reload after a correction here or a photo added by another program keeps the
    // photo at the top of the view where it was on screen.
    void changesKeepThePlaceAndMarks_data()
    {
        QTest::addColumn<bool>("correction");
        QTest::newRow("correction") << true; // another barcode sorts the first section last
        QTest::newRow("photo added by another program") << false; // sorts first
    }
    void changesKeepThePlaceAndMarks()
    {
        QFETCH(bool, correction);
        m_controller->window()->resize(900, 500); // less than a section in view
        settle();
        grid()->scrollToItem({2, 3});
        QApplication::processEvents();
        const IndexPath top = grid()->indexPathsForVisibleItems().first();
        const qreal onScreen = grid()->frameForItem(top).top() - grid()->contentOffset().y();
        const QString topName = nameAt(top);
        grid()->selectItems({top});
        if (correction) {
            for (qsizetype i = 0; i < 4; ++i) {
                const QString name = nameAt({0, i});
                QVERIFY(QFile::rename(m_folder + u'/' + name, m_folder + u"/9999999999999_"_s + name.section(u'_', 1)));
            }
            refresh();
        } else {
            QVERIFY(QFile::copy(m_card.photos.first().path, m_folder + u"/0000000000000_new.JPG"_s));
            QTRY_COMPARE_WITH_TIMEOUT(vc()->imageDirectoryLoader->numberOfItems(), 13, 5000);
        }
        settle();
        QCOMPARE(grid()->numberOfSections(), correction ? 3 : 4);
        const IndexPath moved = grid()->indexPathsForVisibleItems().first();
        QCOMPARE(moved.section, top.section + (correction ? -1 : 1));
        QCOMPARE(nameAt(moved), topName);
        QCOMPARE(grid()->frameForItem(moved).top() - grid()->contentOffset().y(), onScreen);
        // A refresh starts unmarked; a change by another program keeps the marks.
        QCOMPARE(grid()->selectionIndexPaths(), correction ? QSet<IndexPath>() : QSet<IndexPath> {moved});
    }
};

LUMISORT_GUI_TEST_MAIN(TestViewController)
#include "tst_viewcontroller.moc"
