#include "BrowserFixture.h"
#include "TestMain.h"
#include "barcodes/BarcodeCache.h"
#include "model/PhotoListModel.h"

#include <QStatusBar>

using namespace Qt::StringLiterals;

// Barcodes read in the background after each load: badges, the status line and Apply Barcodes.
class TestBarcodeReadingPanel : public BrowserFixture
{
    Q_OBJECT

    // The badge of every photo shown, against what the card holds (empty for none).
    void compareBadges(bool read)
    {
        QHash<QString, QString> expected; // copied name -> badge
        for (const DemoCard::Photo &p : std::as_const(m_card.photos))
            expected.insert(p.barcode + u'_' + QFileInfo(p.path).fileName(),
                            read && p.barcodePhoto ? p.barcode : QString());
        qsizetype shown = 0;
        for (qsizetype s = 0; s < grid()->numberOfSections(); ++s) {
            for (qsizetype i = 0; i < grid()->numberOfItemsInSection(s); ++i, ++shown) {
                QCOMPARE(photo({s, i}).data(PhotoListModel::BadgeRole).toString(),
                         expected.value(nameAt({s, i}), u"?"_s));
            }
        }
        QCOMPARE(shown, 12);
    }

private Q_SLOTS:
    void barcodesReadInTheBackground()
    {
        waitForBarcodes();
        compareBadges(true);
        QVERIFY(!vc()->barcodeStatus->isVisible());
        QVERIFY(m_controller->window()->statusBar()->isAncestorOf(vc()->barcodeStatus));

        // In automatic mode the header offers it too; the sheet gets the barcode photos of the
        // whole folder in its order, each with what was read in it.
        SettingsStore::standard().setInteger(202, cPrefRadioSet1SelectedTag);
        vc()->refreshAllSections();
        settle();
        waitForBarcodes();
        HeaderView *second = header(1);
        QVERIFY(second && second->applyButton->isVisibleTo(second));
        QVariantMap codes;
        const QList<QUrl> sent = catchReassign([second] { second->applyButton->click(); }, &codes);
        QVERIFY(Alert::shownForTesting().isEmpty());
        QStringList expected;
        for (const DemoCard::Photo &photo : std::as_const(m_card.photos)) {
            if (photo.barcodePhoto)
                expected << photo.barcode;
        }
        QCOMPARE(sent.size(), expected.size());
        for (qsizetype i = 0; i < sent.size(); ++i)
            QCOMPARE(codes.value(sent.at(i).toLocalFile()).toStringList(), QStringList {expected.at(i)});
        QCOMPARE(codes.size(), sent.size());
    }
    void readingCancelledLeavesNoBadgeAndRenamesNothing()
    {
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
        waitForBarcodes();
        compareBadges(true);
        QCOMPARE(QDir(other).entryList(QDir::Files), names);
    }
    // While photos are unread, Apply Barcodes takes only the groups read through to the next
    // barcode photo; once those are named by their codes, the next one takes only the rest.
    void applyBarcodesTakesTheGroupsReadThrough()
    {
        // In the order they were taken: renamed photos stay where they were.
        SettingsStore::standard().setInteger(1, cPrefInputFolderSortKeySelectedIndex);
        const QString partly = TestSandbox::instance().makeFolder(u"partly"_s);
        const QStringList copies = m_card.copyAsShot(partly);
        QCOMPARE(copies.size(), 12);
        // Read before the folder is shown: all of the first and last groups, the second's
        // barcode photo and one photo after it.
        const QList<int> unread {6, 7};
        for (int i = 0; i < copies.size(); ++i) {
            if (!unread.contains(i))
                BarcodeCache::standard().read(NativePath(copies.at(i)));
        }
        QSignalSpy listed(vc()->imageDirectoryLoader, &ImageDirectoryLoader::folderListed);
        vc()->browseFolder(partly);
        QVERIFY(listed.wait());
        vc()->barcodeCancelButton->click();
        const auto urls = [&copies](const QList<int> &indices) {
            QList<QUrl> list;
            for (const int i : indices)
                list.append(QUrl::fromLocalFile(copies.at(i)));
            return list;
        };
        QList<QUrl> all;
        QList<QUrl> sent = catchReassign([this] { vc()->applyBarcodesAction->trigger(); }, nullptr, &all);
        QCOMPARE(sent, urls({0, 8}));
        QCOMPARE(all, urls({0, 1, 2, 3, 8, 9, 10, 11}));
        QCOMPARE(vc()->barcodeStatus->findChildren<QLabel *>().constLast()->text(),
                 u"4 photos are still being read; Apply Barcodes again to take them."_s);

        // As the sheet's run does: the groups named, their barcode photos gone to the trash.
        for (QDialog *sheet : m_controller->window()->findChildren<QDialog *>())
            sheet->close();
        for (const int i : {0, 1, 2, 3, 8, 9, 10, 11}) {
            const DemoCard::Photo &p = m_card.photos.at(i);
            QVERIFY(p.barcodePhoto
                        ? QFile::remove(copies.at(i))
                        : QFile::rename(copies.at(i),
                                        partly + u'/' + p.barcode + u'_' + QFileInfo(copies.at(i)).fileName()));
        }
        vc()->refreshAllSections();
        settle();
        waitForBarcodes();
        sent = catchReassign([this] { vc()->applyBarcodesAction->trigger(); }, nullptr, &all);
        QCOMPARE(sent, urls({4}));
        QCOMPARE(all, urls({4, 5, 6, 7}));
    }
};

LUMISORT_GUI_TEST_MAIN(TestBarcodeReadingPanel)
#include "tst_barcodereadingpanel.moc"
