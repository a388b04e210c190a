#include "BrowserFixture.h"
#include "TestMain.h"
#include "browser/EmptyFolderHint.h"
#include "browser/NoticeBar.h"

using namespace Qt::StringLiterals;

// What the window offers in sheets and bars: a card put in, an empty folder's next steps.
class TestSheetPresenter : public BrowserFixture
{
    Q_OBJECT

private Q_SLOTS:
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
        NoticeBar *bar = vc()->cardOfferBar;
        offer();
        QVERIFY(bar->isVisible());
        NotificationCenter::defaultCenter().post(NotificationNames::mycardwithdrawn,
                                                 {{NotificationKeys::NSDevicePath, card}});
        QApplication::processEvents();
        QVERIFY(!bar->isVisible());
        offer();
        bar->dismissButton->click();
        QVERIFY(!bar->isVisible());
        QCOMPARE(presented.size(), 0);

        offer();
        QCOMPARE(bar->actionButton->text(), u"Import card EOS_DIGITAL"_s);
        bar->actionButton->click();
        QCOMPARE(presented.size(), 1);
        QCOMPARE(presented.first().first().toString(), u"dummyButtonSegue3"_s);
        QCOMPARE(vc()->presentedSheets().first()->property("offeredCard").toString(), card);
        QVERIFY(!bar->isVisible());
        offer(); // a sheet is open: it is not interrupted
        QVERIFY(!bar->isVisible());
    }
    // A working folder without photos shows one empty section of no barcode and says what to do
    // next, and that filing needs a destination.
    void emptyFolderSaysWhatToDoNext_data()
    {
        QTest::addColumn<bool>("missing");
        QTest::newRow("empty") << false;
        QTest::newRow("missing") << true;
    }
    void emptyFolderSaysWhatToDoNext()
    {
        QFETCH(bool, missing);
        const QString empty = TestSandbox::instance().makeFolder(u"empty"_s) + (missing ? u"/gone"_s : QString());
        SettingsStore::standard().removeObjectForKey(cPrefDestinationPath);
        openOn(empty);
        QCOMPARE(grid()->numberOfSections(), 1);
        QCOMPARE(grid()->numberOfItemsInSection(0), 0);
        QTRY_VERIFY(header(0));
        QCOMPARE(header(0)->sectionTitle->text(), u"ID[0] = Unknown!"_s);
        QCOMPARE(header(0)->imageCount->text(), u"0 Items"_s);
        EmptyFolderHint *hint = vc()->emptyFolderHint;
        QTRY_VERIFY(hint->isVisible());
        QCOMPARE(hint->titleLabel->text(),
                 missing ? QString(u"The working folder "_s + empty + u" cannot be found"_s)
                         : u"No photos in "_s + empty);
        QVERIFY(hint->destinationButton->isVisible());
        QVERIFY(grid()->geometry().contains(hint->geometry()));
        QSignalSpy presented(vc(), &ViewController::sheetPresented);
        hint->loadCardButton->click();
        QCOMPARE(presented.size(), 1);
        QCOMPARE(presented.first().first().toString(), u"dummyButtonSegue3"_s);
        vc()->presentedSheets().first()->reject();

        // A destination chosen meanwhile: the line about it goes; photos arriving: the hint goes.
        SettingsStore::standard().setString(TestSandbox::instance().makeFolder(u"dest"_s), cPrefDestinationPath);
        QVERIFY(QDir().mkpath(empty));
        QVERIFY(QFile::copy(m_card.photos.first().path, empty + u"/IMG_0001.JPG"_s));
        vc()->refreshAllSections();
        QTRY_VERIFY(!hint->isVisible());
        SettingsStore::standard().removeObjectForKey(cPrefDestinationPath);
    }
};

LUMISORT_GUI_TEST_MAIN(TestSheetPresenter)
#include "tst_sheetpresenter.moc"
