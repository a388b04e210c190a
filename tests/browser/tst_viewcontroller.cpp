#include "DemoCard.h"
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

// The browser on real files: a demo card copied into a working folder with the
// photos already named by barcode (three groups of one barcode photo and three
// subject photos: three sections of four).
class TestViewController : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void sectionsAndHeadersFollowTheLoader_data();
    void sectionsAndHeadersFollowTheLoader();
    void zoomStepsAndLimits();
    void headerButtonSendsOnlyThatSectionsPhotos();
    void automaticModeMarksTheWholeSection();
    void nothingSelectedAlertNamesThePressedSection();
    void modePromptWhenDue();
    void selectAllToggles();
    void deleteAsksAndTrashes();
    void trashFailingAsksBeforeDeletingForGood();
    void sameSourceFolderDoesNotReload();
    void interruptedRunIsFinishedWhenTheFolderLoads();
    void missingWorkingFolderShowsOneEmptySection();
    void emptyFolderSaysWhatToDoNext();
    void cardPutInWhileIdleIsOffered();
    void reassignCommandActsOnTheMarkedSection();
    void helpSaysWhereTheFilesAre();
    void refreshFromAnotherThreadAndTitle();
    void fileRequestPostsFoldersFromTheBackground();
    void doubleClickOpensWithoutChangingSelection();
    void draggingWritesFileNamesAndDropsChangeNothing();
    void correctionKeepsThePlaceOnScreen();
    void changesByAnotherProgramShowUpKeepingMarks();
    void barcodesReadInTheBackgroundShowAsBadges();
    void applyBarcodesHandsOverTheReadings();

private:
    QString m_folder;
    DemoCard m_card;
    std::unique_ptr<WindowController> m_controller;
    ViewController *vc() const { return m_controller->contentViewController(); }
    PhotoGridView *grid() const { return vc()->collectionView; }
    QModelIndex photo(const IndexPath &path) const { return grid()->modelIndex(path); }
    void pressHeaderButton(int section);
    // Loading is progressive: wait until the folder is listed and every thumbnail is in.
    void settle() { QTRY_VERIFY(!vc()->imageDirectoryLoader->isLoading()); }
    // A new window on that working folder, as a start of the application.
    void openOn(const QString &folder);
    QList<QUrl> catchReassign(const std::function<void()> &action);
    // The badge of every photo shown, against what the card holds (empty for none).
    void compareBadges(bool read);
};

void TestViewController::initTestCase()
{
    Alert::setTestMode(true);
    FolderPanel::setTestMode(true);
    DesktopOpener::setTestMode(true);
    FactoryDefaults::registerInto(SettingsStore::standard());
    m_card = DemoCard::make(TestSandbox::instance().makeFolder(u"card"_s), 3, 3);
    QVERIFY(m_card.isValid());
}

void TestViewController::init()
{
    m_folder = TestSandbox::instance().makeFolder(u"working"_s);
    QCOMPARE(m_card.copyAssigned(m_folder).size(), 12);
    SettingsStore &store = SettingsStore::standard();
    store.setInteger(200, cPrefRadioSet1SelectedTag);
    store.setBool(false, cPrefMainstayDisableScan);
    store.setInteger(0, cPrefInputFolderSortKeySelectedIndex);
    Alert::resetForTesting();
    openOn(m_folder);
}

void TestViewController::openOn(const QString &folder)
{
    SettingsStore::standard().setString(folder, cPrefSourcePath);
    SettingsStore::standard().removeObjectForKey(cPrefSourcePathAliasData);
    m_controller = std::make_unique<WindowController>();
    // Until the folder is read the grid shows nothing, not an empty section of no barcode.
    QVERIFY(vc()->imageDirectoryLoader->isLoading());
    QVERIFY(!grid()->headerForSection(0));
    m_controller->window()->resize(1200, 900);
    m_controller->window()->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_controller->window()));
    settle();
}

void TestViewController::cleanup()
{
    m_controller.reset();
}

void TestViewController::pressHeaderButton(int s)
{
    grid()->scrollToItem({s, 0});
    QApplication::processEvents();
    auto *header = qobject_cast<HeaderView *>(grid()->headerForSection(s));
    QVERIFY(header);
    header->ibButton->click();
}

QList<QUrl> TestViewController::catchReassign(const std::function<void()> &action)
{
    QList<QUrl> received;
    QObject receiver;
    NotificationCenter::defaultCenter().addObserver(
        &receiver, NotificationNames::myReassignId, [&](const Notification &n) {
            received = n.userInfo.value(NotificationKeys::urlstochange).value<QList<QUrl>>();
            QCOMPARE(n.userInfo.value(NotificationKeys::fulSortedlUrlList).value<QList<QUrl>>().size(), 12);
        });
    action();
    QApplication::processEvents();
    return received;
}

void TestViewController::sectionsAndHeadersFollowTheLoader_data()
{
    QTest::addColumn<bool>("sections");
    QTest::newRow("one section per barcode") << true;
    QTest::newRow("single section") << false;
}

void TestViewController::sectionsAndHeadersFollowTheLoader()
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

void TestViewController::zoomStepsAndLimits()
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

void TestViewController::headerButtonSendsOnlyThatSectionsPhotos()
{
    grid()->selectItems({{1, 1}, {1, 2}, {2, 0}});
    const QList<QUrl> sent = catchReassign([this] { pressHeaderButton(1); });
    QCOMPARE(sent.size(), 2);
    for (const QUrl &url : sent)
        QVERIFY(url.fileName().startsWith(m_card.photos.at(4).barcode));
    auto *sheet = qobject_cast<PlaceholderSheet *>(vc()->presentedSheets().value(0));
    QVERIFY(sheet);
    QVERIFY(sheet->receivedText().contains(sent.first().toLocalFile()));
    QVERIFY(grid()->selectionIndexPaths().contains({2, 0})); // the other section's mark stays
}

void TestViewController::automaticModeMarksTheWholeSection()
{
    SettingsStore::standard().setInteger(202, cPrefRadioSet1SelectedTag);
    const QList<QUrl> sent = catchReassign([this] { pressHeaderButton(2); });
    QCOMPARE(sent.size(), 4);
    QCOMPARE(grid()->selectionIndexPaths().size(), 12);
}

void TestViewController::nothingSelectedAlertNamesThePressedSection()
{
    grid()->selectItems({{0, 1}});
    const QList<QUrl> sent = catchReassign([this] { pressHeaderButton(2); });
    QVERIFY(sent.isEmpty());
    QTRY_COMPARE(Alert::shownForTesting().size(), 1);
    const Alert::Content alert = Alert::shownForTesting().first();
    QCOMPARE(alert.messageText, u"NOTHING SELECTED INSIDE THIS SECTION"_s);
    QCOMPARE(alert.informativeText, u"You did NOT select any item that is inside this current section=2"_s);
    QVERIFY(vc()->presentedSheets().isEmpty());
}

void TestViewController::modePromptWhenDue()
{
    SettingsStore::standard().setBool(true, cPrefMainstayDisableScan); // this build is not standalone
    QSignalSpy presented(vc(), &ViewController::sheetPresented);
    pressHeaderButton(1);
    QCOMPARE(presented.size(), 1);
    QCOMPARE(presented.first().first().toString(), u"dummyButtonSegue4"_s);
    const QVariantMap kept = *SettingsStore::standard().dictionaryForKey(cPrefLastUserInfo);
    QCOMPARE(kept.value(u"sectionid"_s).toString(), u"1"_s);
    QCOMPARE(kept.value(u"title"_s).toString(), u"ID[1] = "_s + m_card.photos.at(4).barcode);
}

void TestViewController::selectAllToggles()
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

void TestViewController::deleteAsksAndTrashes()
{
    vc()->deleteMarked(); // nothing marked: no question
    QApplication::processEvents();
    QVERIFY(Alert::shownForTesting().isEmpty());

    const QSet<IndexPath> marked {{0, 1}, {1, 2}};
    QStringList names;
    for (const IndexPath &p : marked)
        names << vc()->imageDirectoryLoader->imageFileForIndexPath(p)->fileName();
    grid()->selectItems(marked);
    Alert::queueAnswerForTesting(Alert::cFirstButtonReturn);
    vc()->deleteMarked();
    QTRY_COMPARE(Alert::shownForTesting().size(), 1);
    QApplication::processEvents();
    const Alert::Content question = Alert::shownForTesting().first();
    QCOMPARE(question.messageText, u"DELETE All the Marked Photos?"_s);
    QCOMPARE(question.informativeText, u"There are 2 photos marked"_s);
    QCOMPARE(question.buttons, (QStringList {u"NO - Do Nothing"_s, u"YES DELETE"_s}));
    QCOMPARE(QDir(m_folder).entryList(QDir::Files).size(), 12);

    grid()->selectItems(marked);
    Alert::queueAnswerForTesting(Alert::cSecondButtonReturn);
    vc()->deleteMarked();
    QTRY_COMPARE(vc()->imageDirectoryLoader->numberOfItems(), 10);
    const QString trash = TestSandbox::instance().dataHome() + u"/Trash/files/"_s;
    for (const QString &name : std::as_const(names)) {
        QVERIFY(!QFileInfo::exists(m_folder + u'/' + name));
        QVERIFY2(QFileInfo::exists(trash + name), qPrintable(name));
    }
}

// The trash refuses (read-only here): photos disappear for good only when the
// operator says so, after a question that names them and defaults to Cancel.
void TestViewController::trashFailingAsksBeforeDeletingForGood()
{
    const QString trash = TestSandbox::instance().dataHome() + u"/Trash"_s;
    QVERIFY(QDir().mkpath(trash + u"/files"_s) && QDir().mkpath(trash + u"/info"_s));
    ScopedMount readOnly = ScopedMount::readOnlyBind(trash);
    SKIP_UNLESS_MOUNTED(readOnly);
    const qsizetype inTrash = QDir(trash + u"/files"_s).entryList(QDir::Files).size();
    const QSet<IndexPath> marked {{0, 1}, {1, 2}};
    QStringList names;
    for (const IndexPath &p : marked)
        names << vc()->imageDirectoryLoader->imageFileForIndexPath(p)->fileName();
    for (const bool confirm : {false, true}) {
        Alert::resetForTesting();
        grid()->selectItems(marked);
        Alert::queueAnswerForTesting(Alert::cSecondButtonReturn); // YES DELETE
        if (confirm)
            Alert::queueAnswerForTesting(Alert::cSecondButtonReturn);
        vc()->deleteMarked();
        QTRY_COMPARE(Alert::shownForTesting().size(), 2);
        const Alert::Content question = Alert::shownForTesting().at(1);
        QCOMPARE(question.messageText, u"Delete 2 Photos Permanently?"_s);
        for (const QString &name : std::as_const(names))
            QVERIFY2(question.informativeText.contains(name), qPrintable(question.informativeText));
        QCOMPARE(question.buttons, (QStringList {u"Cancel"_s, u"Delete Permanently"_s}));
        QCOMPARE(question.carefulButton, 0);
        settle();
        for (const QString &name : std::as_const(names))
            QCOMPARE(QFileInfo::exists(m_folder + u'/' + name), !confirm);
        QCOMPARE(QDir(trash + u"/files"_s).entryList(QDir::Files).size(), inTrash);
    }
    QTRY_COMPARE(vc()->imageDirectoryLoader->numberOfItems(), 10);
}

void TestViewController::sameSourceFolderDoesNotReload()
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
void TestViewController::interruptedRunIsFinishedWhenTheFolderLoads()
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
    QCOMPARE(Alert::shownForTesting().first().messageText, u"An interrupted reassignment of 12 photos was finished"_s);
    // One group: the barcode photo went to the trash, every other photo carries its code.
    QCOMPARE(grid()->numberOfSections(), 1);
    QCOMPARE(grid()->numberOfItemsInSection(0), 11);
    QVERIFY(QFileInfo::exists(other + u"/2000000000015_"_s + QFileInfo(photos.last()).fileName()));
}

void TestViewController::missingWorkingFolderShowsOneEmptySection()
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

// An empty working folder says what to do next, and that filing needs a destination.
void TestViewController::emptyFolderSaysWhatToDoNext()
{
    const QString empty = TestSandbox::instance().makeFolder(u"empty"_s);
    SettingsStore::standard().removeObjectForKey(cPrefDestinationPath);
    openOn(empty);
    EmptyFolderHint *hint = vc()->emptyFolderHint;
    QTRY_VERIFY(hint->isVisible());
    QCOMPARE(hint->titleLabel->text(), u"No photos in "_s + empty);
    QVERIFY(hint->destinationButton->isVisible());
    QVERIFY(grid()->geometry().contains(hint->geometry()));
    QSignalSpy presented(vc(), &ViewController::sheetPresented);
    hint->loadCardButton->click();
    QCOMPARE(presented.size(), 1);
    QCOMPARE(presented.first().first().toString(), u"dummyButtonSegue3"_s);
    vc()->presentedSheets().first()->reject();

    // A destination chosen meanwhile: the line about it goes; photos arriving: the hint goes.
    SettingsStore::standard().setString(TestSandbox::instance().makeFolder(u"dest"_s), cPrefDestinationPath);
    QVERIFY(QFile::copy(m_folder + u'/' + QDir(m_folder).entryList(QDir::Files).first(), empty + u"/IMG_0001.JPG"_s));
    vc()->refreshAllSections();
    QTRY_VERIFY(!hint->isVisible());
    SettingsStore::standard().removeObjectForKey(cPrefDestinationPath);
}

// A card put in while the window is idle is offered, never imported unasked.
void TestViewController::cardPutInWhileIdleIsOffered()
{
    const QString card = u"/media/operator/EOS_DIGITAL"_s;
    const auto offer = [&] {
        NotificationCenter::defaultCenter().post(
            NotificationNames::mycardoffered,
            {{NotificationKeys::NSDevicePath, card}, {NotificationKeys::volumename, u"EOS_DIGITAL"_s}});
        QApplication::processEvents();
    };
    QSignalSpy presented(vc(), &ViewController::sheetPresented);
    offer();
    NoticeBar *bar = vc()->cardOfferBar;
    QVERIFY(bar->isVisible());
    QCOMPARE(bar->actionButton->text(), u"Import card EOS_DIGITAL"_s);
    QCOMPARE(presented.size(), 0);
    bar->actionButton->click();
    QCOMPARE(presented.size(), 1);
    QCOMPARE(presented.first().first().toString(), u"dummyButtonSegue3"_s);
    QCOMPARE(vc()->presentedSheets().first()->property("offeredCard").toString(), card);
    QVERIFY(!bar->isVisible());

    offer(); // a sheet is open: it is not interrupted
    QVERIFY(!bar->isVisible());
    vc()->presentedSheets().first()->reject();
    QTRY_VERIFY(vc()->presentedSheets().isEmpty());

    offer();
    QVERIFY(bar->isVisible());
    NotificationCenter::defaultCenter().post(NotificationNames::mycardwithdrawn,
                                             {{NotificationKeys::NSDevicePath, card}});
    QApplication::processEvents();
    QVERIFY(!bar->isVisible());
    offer();
    bar->dismissButton->click();
    QVERIFY(!bar->isVisible());
    QCOMPARE(presented.size(), 1);
}

void TestViewController::helpSaysWhereTheFilesAre()
{
    const QString about = WindowController::aboutText();
    QVERIFY(about.contains(LogPaths::logFile()));
    QVERIFY(about.contains(SettingsStore::standardFilePath()));
    m_controller->showLogAction->trigger();
    QCOMPARE(DesktopOpener::openedForTesting().last(), LogPaths::logFile());
}

// Ctrl+R does what the header button of the marked photos' section does.
void TestViewController::reassignCommandActsOnTheMarkedSection()
{
    grid()->selectItems({{1, 1}, {1, 2}});
    const QList<QUrl> sent = catchReassign([this] { vc()->reassignAction->trigger(); });
    QCOMPARE(sent.size(), 2);
    vc()->presentedSheets().first()->reject();
    QTRY_VERIFY(vc()->presentedSheets().isEmpty());

    grid()->selectItems({{2, 0}}); // now in two sections
    QVERIFY(catchReassign([this] { vc()->reassignAction->trigger(); }).isEmpty());
    QTRY_COMPARE(Alert::shownForTesting().size(), 1);
    QCOMPARE(Alert::shownForTesting().first().messageText, u"Marked Photos in 2 Sections"_s);
    QVERIFY(vc()->presentedSheets().isEmpty());
}

void TestViewController::refreshFromAnotherThreadAndTitle()
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

void TestViewController::fileRequestPostsFoldersFromTheBackground()
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

void TestViewController::doubleClickOpensWithoutChangingSelection()
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

void TestViewController::draggingWritesFileNamesAndDropsChangeNothing()
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

void TestViewController::correctionKeepsThePlaceOnScreen()
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
        QVERIFY(QFile::rename(url.toLocalFile(), m_folder + u"/9999999999999_"_s + url.fileName().section(u'_', 1)));
    }
    NotificationCenter::defaultCenter().post(NotificationNames::myRefreshId, {{u"command"_s, u"refresh"_s}});
    settle();
    const IndexPath moved = grid()->indexPathsForVisibleItems().first();
    QCOMPARE(moved.section, top.section - 1);
    QCOMPARE(vc()->imageDirectoryLoader->imageFileForIndexPath(moved)->fileName(), topName);
    QCOMPARE(grid()->frameForItem(moved).top() - grid()->contentOffset().y(), onScreen);
}

void TestViewController::changesByAnotherProgramShowUpKeepingMarks()
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

void TestViewController::compareBadges(bool read)
{
    QHash<QString, QString> expected; // copied name -> badge
    for (const DemoCard::Photo &photo : std::as_const(m_card.photos))
        expected.insert(photo.barcode + u'_' + QFileInfo(photo.path).fileName(),
                        read && photo.barcodePhoto ? photo.barcode : QString());
    qsizetype shown = 0;
    for (qsizetype s = 0; s < grid()->numberOfSections(); ++s) {
        for (qsizetype i = 0; i < grid()->numberOfItemsInSection(s); ++i, ++shown) {
            const QModelIndex item = photo({s, i});
            QCOMPARE(item.data(PhotoListModel::BadgeRole).toString(),
                     expected.value(item.data(PhotoListModel::FileRole).value<ImageFilePtr>()->fileName(), u"?"_s));
        }
    }
    QCOMPARE(shown, 12);
}

void TestViewController::barcodesReadInTheBackgroundShowAsBadges()
{
    QTRY_VERIFY_WITH_TIMEOUT(!vc()->barcodeScanner->isRunning(), 60000);
    compareBadges(true);
    QVERIFY(!vc()->barcodeStatus->isVisible());
    QVERIFY(m_controller->window()->statusBar()->isAncestorOf(vc()->barcodeStatus));

    // Another folder, its reading cancelled at once: no badge at all, and nothing renamed.
    const QString other = TestSandbox::instance().makeFolder(u"other"_s);
    m_card.copyAssigned(other);
    const QStringList names = QDir(other).entryList(QDir::Files);
    QSignalSpy listed(vc()->imageDirectoryLoader, &ImageDirectoryLoader::folderListed);
    vc()->browseFolder(other);
    QVERIFY(listed.wait());
    QCOMPARE(vc()->barcodeStatusLabel->text(), u"Reading barcodes: 0 of 12"_s);
    QVERIFY(vc()->barcodeStatus->isVisible());
    vc()->barcodeCancelButton->click();
    QVERIFY(!vc()->barcodeStatus->isVisible());
    settle();
    compareBadges(false);

    // A later load reads them again.
    vc()->refreshAllSections();
    settle();
    QTRY_VERIFY_WITH_TIMEOUT(!vc()->barcodeScanner->isRunning(), 60000);
    compareBadges(true);
    QCOMPARE(QDir(other).entryList(QDir::Files), names);
}

void TestViewController::applyBarcodesHandsOverTheReadings()
{
    // Asked for while photos are still unread: they could be barcode photos, so no sheet yet.
    QList<QUrl> sent = catchReassign([this] { vc()->applyBarcodesAction->trigger(); });
    if (vc()->barcodeScanner->isRunning()) {
        QVERIFY(sent.isEmpty());
        QTRY_COMPARE(Alert::shownForTesting().size(), 1);
        QCOMPARE(Alert::shownForTesting().constLast().messageText, u"Barcodes Are Still Being Read"_s);
    }
    QTRY_VERIFY_WITH_TIMEOUT(!vc()->barcodeScanner->isRunning(), 60000);
    Alert::resetForTesting();

    // In automatic mode the header offers it too; the sheet gets the barcode photos of the
    // whole folder in its order, each with what was read in it.
    SettingsStore::standard().setInteger(202, cPrefRadioSet1SelectedTag);
    vc()->refreshAllSections();
    settle();
    QTRY_VERIFY_WITH_TIMEOUT(!vc()->barcodeScanner->isRunning(), 60000);
    grid()->scrollToItem({1, 0});
    QApplication::processEvents();
    auto *header = qobject_cast<HeaderView *>(grid()->headerForSection(1));
    QVERIFY(header && header->applyButton->isVisibleTo(header));
    QVariantMap codes;
    QObject receiver;
    NotificationCenter::defaultCenter().addObserver(
        &receiver, NotificationNames::myReassignId,
        [&](const Notification &n) { codes = n.userInfo.value(NotificationKeys::detectedCodes).toMap(); });
    sent = catchReassign([header] { header->applyButton->click(); });
    QCOMPARE(Alert::shownForTesting().size(), 0);
    QStringList expected;
    for (const DemoCard::Photo &photo : m_card.photos) {
        if (photo.barcodePhoto)
            expected << photo.barcode;
    }
    QCOMPARE(sent.size(), expected.size());
    for (qsizetype i = 0; i < sent.size(); ++i)
        QCOMPARE(codes.value(sent.at(i).toLocalFile()).toStringList(), QStringList {expected.at(i)});
    QCOMPARE(codes.size(), sent.size());
}

LUMISORT_GUI_TEST_MAIN(TestViewController)
#include "tst_viewcontroller.moc"
