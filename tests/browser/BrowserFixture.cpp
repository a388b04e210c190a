#include "BrowserFixture.h"

#include "barcodes/BarcodeScanScheduler.h"
#include "settings/FactoryDefaults.h"
#include "settings/MyAliasKit.h"
#include "support/DesktopOpener.h"
#include "support/FolderPanel.h"

using namespace Qt::StringLiterals;

void BrowserFixture::initTestCase()
{
    Alert::setTestMode(true);
    FolderPanel::setTestMode(true);
    DesktopOpener::setTestMode(true);
    FactoryDefaults::registerInto(SettingsStore::standard());
    m_card = DemoCard::make(TestSandbox::instance().makeFolder(u"card"_s), 3, 3);
    QVERIFY(m_card.isValid());
}

void BrowserFixture::init()
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

void BrowserFixture::settle()
{
    QTRY_VERIFY(!vc()->imageDirectoryLoader->isLoading());
}

void BrowserFixture::waitForBarcodes()
{
    QTRY_VERIFY_WITH_TIMEOUT(!vc()->barcodeScanner->isRunning(), 60000);
}

void BrowserFixture::setSource(const QString &folder, bool withAlias)
{
    SettingsStore::standard().setString(folder, cPrefSourcePath);
    if (withAlias)
        MyAliasKit::savePath(folder, cPrefSourcePathAliasData);
    else
        SettingsStore::standard().removeObjectForKey(cPrefSourcePathAliasData);
}

void BrowserFixture::openOn(const QString &folder)
{
    setSource(folder);
    m_controller = std::make_unique<WindowController>();
    // Until the folder is read the grid shows nothing, not an empty section of no barcode.
    QVERIFY(vc()->imageDirectoryLoader->isLoading());
    QVERIFY(!grid()->headerForSection(0));
    m_controller->window()->resize(1200, 900);
    m_controller->window()->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_controller->window()));
    settle();
}

HeaderView *BrowserFixture::header(int section)
{
    grid()->scrollToItem({section, 0});
    QApplication::processEvents();
    return qobject_cast<HeaderView *>(grid()->headerForSection(section));
}

void BrowserFixture::pressHeaderButton(int section)
{
    HeaderView *pressed = header(section);
    QVERIFY(pressed);
    pressed->ibButton->click();
}

QList<QUrl> BrowserFixture::catchReassign(const std::function<void()> &action, QVariantMap *codes, QList<QUrl> *all)
{
    QList<QUrl> received;
    QObject receiver;
    NotificationCenter::defaultCenter().addObserver(
        &receiver, NotificationNames::myReassignId, [&](const Notification &n) {
            received = n.userInfo.value(NotificationKeys::urlstochange).value<QList<QUrl>>();
            if (codes)
                *codes = n.userInfo.value(NotificationKeys::detectedCodes).toMap();
            const QList<QUrl> sorted = n.userInfo.value(NotificationKeys::fulSortedlUrlList).value<QList<QUrl>>();
            if (all)
                *all = sorted;
            else
                QCOMPARE(sorted.size(), 12);
        });
    action();
    QApplication::processEvents();
    return received;
}
