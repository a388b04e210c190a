#include "BrowserFixture.h"
#include "TestMain.h"
#include "browser/EmptyFolderHint.h"
#include "browser/NoticeBar.h"
#include "settings/SettingsKeys.h"
#include "settings/SettingsStore.h"
#include "support/NotificationCenter.h"
#include "support/NotificationNames.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>

using namespace Qt::StringLiterals;

// What the window offers in sheets and bars: a card put in, an empty folder's next steps.
class TestSheetPresenter : public QObject, BrowserFixture
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { makeCard(); }
    void init() { openWorkingFolder(); }
    void cleanup() { closeWindow(); }
    // A card put in while the window is idle is offered, never imported unasked.
    void cardPutInWhileIdleIsOffered()
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
    // An empty working folder says what to do next, and that filing needs a destination.
    void emptyFolderSaysWhatToDoNext()
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
        QVERIFY(
            QFile::copy(m_folder + u'/' + QDir(m_folder).entryList(QDir::Files).first(), empty + u"/IMG_0001.JPG"_s));
        vc()->refreshAllSections();
        QTRY_VERIFY(!hint->isVisible());
        SettingsStore::standard().removeObjectForKey(cPrefDestinationPath);
    }
};

LUMISORT_GUI_TEST_MAIN(TestSheetPresenter)
#include "tst_sheetpresenter.moc"
