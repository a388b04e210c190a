#include "BrowserFixture.h"
#include "TestMain.h"
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
};

LUMISORT_GUI_TEST_MAIN(TestBarcodeReadingPanel)
#include "tst_barcodereadingpanel.moc"
