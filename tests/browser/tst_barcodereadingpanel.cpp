#include "BrowserFixture.h"
#include "TestMain.h"
#include "barcodes/BarcodeScanScheduler.h"
#include "browser/HeaderView.h"
#include "browser/MyVimoNSWindow.h"
#include "settings/SettingsKeys.h"
#include "settings/SettingsStore.h"
#include "support/Alert.h"
#include "support/NotificationCenter.h"
#include "support/NotificationNames.h"

#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>

using namespace Qt::StringLiterals;

// Barcodes read in the background after each load: badges, the status line and Apply Barcodes.
class TestBarcodeReadingPanel : public QObject, BrowserFixture
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { makeCard(); }
    void init() { openWorkingFolder(); }
    void cleanup() { closeWindow(); }
    void barcodesReadInTheBackground()
    {
        // Apply Barcodes asked for while photos are still unread: they could be barcode photos, so no sheet yet.
        QList<QUrl> sent = catchReassign([this] { vc()->applyBarcodesAction->trigger(); });
        if (vc()->barcodeScanner->isRunning()) {
            QVERIFY(sent.isEmpty());
            QTRY_COMPARE(Alert::shownForTesting().size(), 1);
            QCOMPARE(Alert::shownForTesting().constLast().messageText, u"Barcodes Are Still Being Read"_s);
        }
        waitForBarcodes();
        compareBadges(true);
        QVERIFY(!vc()->barcodeStatus->isVisible());
        QVERIFY(m_controller->window()->statusBar()->isAncestorOf(vc()->barcodeStatus));
        Alert::resetForTesting();

        // In automatic mode the header offers it too; the sheet gets the barcode photos of the
        // whole folder in its order, each with what was read in it.
        SettingsStore::standard().setInteger(202, cPrefRadioSet1SelectedTag);
        vc()->refreshAllSections();
        settle();
        waitForBarcodes();
        HeaderView *second = header(1);
        QVERIFY(second && second->applyButton->isVisibleTo(second));
        QVariantMap codes;
        QObject receiver;
        NotificationCenter::defaultCenter().addObserver(
            &receiver, NotificationNames::myReassignId,
            [&](const Notification &n) { codes = n.userInfo.value(NotificationKeys::detectedCodes).toMap(); });
        sent = catchReassign([second] { second->applyButton->click(); });
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
