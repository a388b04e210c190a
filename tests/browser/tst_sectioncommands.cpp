#include "BrowserFixture.h"
#include "ScopedMount.h"
#include "TestMain.h"
#include "support/PlaceholderSheet.h"

using namespace Qt::StringLiterals;

// The header buttons, the reassign command and delete, on the working folder of the fixture.
class TestSectionCommands : public BrowserFixture
{
    Q_OBJECT

private Q_SLOTS:
    void reassignSendsTheMarkedSection_data()
    {
        QTest::addColumn<bool>("automatic");
        QTest::addColumn<QList<IndexPath>>("marked");
        QTest::addColumn<int>("pressed"); // the header button of that section, -1 for Ctrl+R
        QTest::addColumn<int>("sent"); // photos of the sending section the sheet is opened on
        QTest::addColumn<QString>("alert"); // instead of a sheet
        const QList<IndexPath> twoSections {{1, 1}, {1, 2}, {2, 0}};
        // The other section's mark stays.
        QTest::newRow("header sends only its section") << false << twoSections << 1 << 2 << QString();
        QTest::newRow("automatic marks the whole section") << true << QList<IndexPath>() << 2 << 4 << QString();
        // The alert names the section pressed, not the one marked.
        QTest::newRow("nothing marked in the section")
            << false << QList<IndexPath> {{0, 1}} << 2 << 0 << u"NOTHING SELECTED INSIDE THIS SECTION"_s;
        QTest::newRow("command") << false << twoSections.mid(0, 2) << -1 << 2 << QString();
        QTest::newRow("command, marks in two sections")
            << false << twoSections << -1 << 0 << u"Marked Photos in 2 Sections"_s;
    }
    void reassignSendsTheMarkedSection()
    {
        QFETCH(bool, automatic);
        QFETCH(QList<IndexPath>, marked);
        QFETCH(int, pressed);
        QFETCH(QString, alert);
        SettingsStore::standard().setInteger(automatic ? 202 : 200, cPrefRadioSet1SelectedTag);
        grid()->selectItems(QSet<IndexPath>(marked.cbegin(), marked.cend()));
        const QList<QUrl> sent = catchReassign([&] {
            if (pressed < 0)
                vc()->reassignAction->trigger();
            else
                pressHeaderButton(pressed);
        });
        QTEST(int(sent.size()), "sent");
        for (const QUrl &url : sent)
            QVERIFY(url.fileName().startsWith(m_card.photos.at(4 * (pressed < 0 ? 1 : pressed)).barcode));
        QCOMPARE(grid()->selectionIndexPaths().size(), automatic ? 12 : marked.size());
        if (alert.isEmpty()) {
            auto *sheet = qobject_cast<PlaceholderSheet *>(vc()->presentedSheets().value(0));
            QVERIFY(sheet && sheet->receivedText().contains(sent.first().toLocalFile()));
            return;
        }
        QTRY_COMPARE(Alert::shownForTesting().size(), 1);
        QCOMPARE(Alert::shownForTesting().first().messageText, alert);
        if (pressed >= 0)
            QVERIFY(Alert::shownForTesting().first().informativeText.endsWith(u"section=%1"_s.arg(pressed)));
        QVERIFY(vc()->presentedSheets().isEmpty());
    }
    // Where the trash refuses (read-only here), photos disappear for good only when the
    // operator says so, after a question that names them and defaults to Cancel.
    void deleteAsksAndTrashes_data()
    {
        QTest::addColumn<bool>("trashRefuses");
        QTest::addColumn<QList<int>>("answers");
        QTest::addColumn<int>("questions");
        QTest::addColumn<QString>("photosEnd"); // "folder", "trash" or "gone"
        const int no = Alert::cFirstButtonReturn;
        const int yes = Alert::cSecondButtonReturn;
        QTest::newRow("nothing marked: no question") << false << QList<int>() << 0 << u"folder"_s;
        QTest::newRow("no") << false << QList<int> {no} << 1 << u"folder"_s;
        QTest::newRow("yes: to the trash") << false << QList<int> {yes} << 1 << u"trash"_s;
        QTest::newRow("trash refuses, cancel") << true << QList<int> {yes} << 2 << u"folder"_s;
        QTest::newRow("trash refuses, confirmed") << true << QList<int> {yes, yes} << 2 << u"gone"_s;
    }
    void deleteAsksAndTrashes()
    {
        QFETCH(bool, trashRefuses);
        QFETCH(QList<int>, answers);
        QFETCH(int, questions);
        QFETCH(QString, photosEnd);
        const QString trash = TestSandbox::instance().dataHome() + u"/Trash"_s;
        QVERIFY(QDir().mkpath(trash + u"/files"_s) && QDir().mkpath(trash + u"/info"_s));
        std::optional<ScopedMount> readOnly;
        if (trashRefuses) {
            readOnly.emplace(ScopedMount::readOnlyBind(trash));
            SKIP_UNLESS_MOUNTED(*readOnly);
        }
        const qsizetype inTrash = QDir(trash + u"/files"_s).entryList(QDir::Files).size();
        const QStringList names {nameAt({0, 1}), nameAt({1, 2})};
        if (questions > 0)
            grid()->selectItems({{0, 1}, {1, 2}});
        for (const int answer : std::as_const(answers))
            Alert::queueAnswerForTesting(answer);
        vc()->deleteMarked();
        QTRY_COMPARE(Alert::shownForTesting().size(), questions);
        if (questions > 0)
            QCOMPARE(Alert::shownForTesting().first().informativeText, u"There are 2 photos marked"_s);
        if (questions > 1) {
            const Alert::Content question = Alert::shownForTesting().at(1);
            QCOMPARE(question.messageText, u"Delete 2 Photos Permanently?"_s);
            for (const QString &name : names)
                QVERIFY2(question.informativeText.contains(name), qPrintable(question.informativeText));
            QCOMPARE(question.buttons, (QStringList {u"Cancel"_s, u"Delete Permanently"_s}));
            QCOMPARE(question.carefulButton, 0);
        }
        QTRY_COMPARE(vc()->imageDirectoryLoader->numberOfItems(), photosEnd == u"folder" ? 12 : 10);
        for (const QString &name : names) {
            QCOMPARE(QFileInfo::exists(m_folder + u'/' + name), photosEnd == u"folder");
            if (photosEnd == u"trash")
                QVERIFY2(QFileInfo::exists(trash + u"/files/"_s + name), qPrintable(name));
        }
        if (photosEnd != u"trash")
            QCOMPARE(QDir(trash + u"/files"_s).entryList(QDir::Files).size(), inTrash);
    }
};

LUMISORT_GUI_TEST_MAIN(TestSectionCommands)
#include "tst_sectioncommands.moc"
