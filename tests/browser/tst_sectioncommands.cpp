#include "BrowserFixture.h"
#include "ScopedMount.h"
#include "TestMain.h"
#include "settings/SettingsKeys.h"
#include "settings/SettingsStore.h"
#include "support/Alert.h"
#include "support/PlaceholderSheet.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QSignalSpy>

using namespace Qt::StringLiterals;

// The header buttons, the reassign command and delete, on the working folder of the fixture.
class TestSectionCommands : public QObject, BrowserFixture
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { makeCard(); }
    void init() { openWorkingFolder(); }
    void cleanup() { closeWindow(); }
    void headerButtonSendsOnlyThatSectionsPhotos()
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
    void automaticModeMarksTheWholeSection()
    {
        SettingsStore::standard().setInteger(202, cPrefRadioSet1SelectedTag);
        const QList<QUrl> sent = catchReassign([this] { pressHeaderButton(2); });
        QCOMPARE(sent.size(), 4);
        QCOMPARE(grid()->selectionIndexPaths().size(), 12);
    }
    void nothingSelectedAlertNamesThePressedSection()
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
    void modePromptWhenDue()
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
    // Ctrl+R does what the header button of the marked photos' section does.
    void reassignCommandActsOnTheMarkedSection()
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
    void deleteAsksAndTrashes()
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
    void trashFailingAsksBeforeDeletingForGood()
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
};

LUMISORT_GUI_TEST_MAIN(TestSectionCommands)
#include "tst_sectioncommands.moc"
