#include "DemoCard.h"
#include "TestMain.h"
#include "model/ThumbnailMaker.h"
#include "reassign/MyVimoNSview.h"
#include "reassign/ReassignViewController.h"
#include "reassign/SheetFrameMemory.h"
#include "settings/FactoryDefaults.h"
#include "settings/SettingsKeys.h"
#include "settings/SettingsStore.h"
#include "support/Alert.h"
#include "support/Dispatch.h"
#include "support/NativePath.h"
#include "support/NotificationCenter.h"
#include "support/NotificationNames.h"
#include "support/SafeFile.h"
#include "support/SerialQueue.h"
#include "support/SheetRegistry.h"
#include "support/SystemSound.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>

using namespace Qt::StringLiterals;
using Sounds = QList<SystemSound::Sound>;

// The sheet on real photos: a demo card of two groups (a barcode photo and two
// photos each, stored turned, EXIF orientation 6) copied as shot into a working folder.
class TestReassignViewController : public QObject
{
    Q_OBJECT

    DemoCard m_card;
    QString m_first, m_second; // the barcodes of the two groups
    QString m_folder;
    QList<QUrl> m_urls; // IMG_0001 (barcode) 0002 0003 | 0004 (barcode) 0005 0006
    std::unique_ptr<QWidget> m_window;
    QPointer<ReassignViewController> m_sheet;

    // As the browser presents the sheet and hands it the photos.
    ReassignViewController *present(const QList<QUrl> &urls, const QVariant &all = QVariant(),
                                    const QVariantMap &readings = {})
    {
        m_sheet = qobject_cast<ReassignViewController *>(SheetRegistry::make(u"dummyButtonSegue1"_s, m_window.get()));
        if (!m_sheet)
            return nullptr;
        m_sheet->setAttribute(Qt::WA_DeleteOnClose);
        m_sheet->open();
        if (!QTest::qWaitForWindowExposed(m_sheet))
            return nullptr;
        QVariantMap info {{NotificationKeys::command, NotificationValues::dosomething},
                          {NotificationKeys::urlstochange, QVariant::fromValue(urls)},
                          {NotificationKeys::fulSortedlUrlList, all}};
        if (!readings.isEmpty())
            info.insert(NotificationKeys::detectedCodes, readings);
        NotificationCenter::defaultCenter().post(NotificationNames::myReassignId, info);
        return m_sheet;
    }
    // The two barcode photos, each with the codes read in it.
    ReassignViewController *presentReadings(const QStringList &first, const QStringList &second)
    {
        return present({m_urls.at(0), m_urls.at(3)}, QVariant::fromValue(m_urls),
                       {{m_urls.at(0).toLocalFile(), first}, {m_urls.at(3).toLocalFile(), second}});
    }
    bool idle() const
    {
        return waitUntil([this] {
            return !m_sheet || (!m_sheet->entryPipeline.isInsideAction && !m_sheet->ibNSTextField->isReadOnly());
        });
    }
    bool enter(const QString &text)
    {
        m_sheet->ibNSTextField->setText(text);
        QTest::keyClick(m_sheet->ibNSTextField, Qt::Key_Return);
        return idle();
    }
    bool returnKey()
    {
        QTest::keyClick(m_sheet->ibNSTextField, Qt::Key_Return);
        return idle();
    }
    static QString setting(const QString &key) { return SettingsStore::standard().stringForKey(key).value_or(u"-"_s); }
    static void requireLength13()
    {
        SettingsStore::standard().setBool(true, cPrefCheckReassignedBarcodeLength);
        SettingsStore::standard().setInteger(13, cPrefReassignedBarcodeRequiredLength);
    }
    static Alert::Content alert() { return Alert::shownForTesting().value(0); }
    QStringList files() const { return QDir(m_folder).entryList(QDir::Files, QDir::Name); }
    // The folder after a whole automatic run: the barcode photos gone to the trash.
    static QStringList renamedInTwoGroups(const QString &first, const QString &second)
    {
        return {first + u"_IMG_0002.JPG"_s, first + u"_IMG_0003.JPG"_s, second + u"_IMG_0005.JPG"_s,
                second + u"_IMG_0006.JPG"_s};
    }
    bool untouched() const
    {
        return std::all_of(m_urls.cbegin(), m_urls.cend(),
                           [](const QUrl &url) { return QFileInfo::exists(url.toLocalFile()); });
    }

private Q_SLOTS:
    void initTestCase()
    {
        Alert::setTestMode(true);
        SystemSound::setTestMode(true);
        FactoryDefaults::registerInto(SettingsStore::standard());
        ReassignViewController::registerSheets();
        m_card = DemoCard::make(TestSandbox::instance().makeFolder(u"card"_s), 2, 2, u"1200x800"_s,
                                {u"--orientation"_s, u"6"_s});
        QVERIFY(m_card.isValid());
        m_first = m_card.photos.at(0).barcode;
        m_second = m_card.photos.at(3).barcode;
    }

    void init()
    {
        m_folder = TestSandbox::instance().makeFolder(u"working"_s);
        m_urls.clear();
        for (const QString &path : m_card.copyAsShot(m_folder))
            m_urls << QUrl::fromLocalFile(path);
        QCOMPARE(m_urls.size(), 6);
        for (const QString &key : {cPrefRadioSet1SelectedTag, cPrefReverseAssignBarcode, cPrefReassignPromptDict,
                                   cPrefDoReassignAllTheseToUnknownStringFormat, cPrefCheckReassignedBarcodeLength,
                                   cPrefReassignedBarcodeRequiredLength, cPrefReassignWindowFrame})
            SettingsStore::standard().removeObjectForKey(key);
        Alert::resetForTesting();
        SystemSound::resetForTesting();
        m_window = std::make_unique<QWidget>();
        m_window->resize(1000, 800);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    }

    void cleanup()
    {
        delete m_sheet;
        ReassignViewController::getWorkingQueue().waitForDone();
        ReassignViewController::getSoundQueue().waitForDone();
        QApplication::processEvents();
        m_window.reset();
    }

    void firstPhotoAndUnknownButton_data()
    {
        QTest::addColumn<bool>("reverse");
        QTest::addColumn<int>("tag");
        QTest::addColumn<int>("first");
        QTest::addColumn<QString>("prompt"); // the mode's own line, else the general one
        QTest::addColumn<bool>("unknown");
        QTest::newRow("one barcode, reversed") << true << 200 << 5 << u"Any"_s << true;
        QTest::newRow("automatic ignores reversing") << true << 202 << 0 << u"Each barcode photo"_s << false;
    }

    void firstPhotoAndUnknownButton()
    {
        QFETCH(bool, reverse);
        QFETCH(int, tag);
        QFETCH(int, first);
        QFETCH(QString, prompt);
        QFETCH(bool, unknown);
        SettingsStore &store = SettingsStore::standard();
        store.setBool(reverse, cPrefReverseAssignBarcode);
        store.setInteger(tag, cPrefRadioSet1SelectedTag);
        store.setObject(QVariantMap {{u"unknown"_s, u"Any"_s}, {u"202"_s, u"Each barcode photo"_s}},
                        cPrefReassignPromptDict);
        store.setString(u"Mark all [val1] photos"_s, cPrefDoReassignAllTheseToUnknownStringFormat);
        QVERIFY(present(m_urls));
        QCOMPARE(m_sheet->session.curindex, first);
        QCOMPARE(setting(cPrefReassignImageViewPath), m_urls.at(first).toLocalFile());
        QCOMPARE(setting(cPrefCurIndexString), QString::number(first));
        const QString position = u"%1 of 6"_s.arg(first + 1);
        QCOMPARE(m_sheet->ibCurIndexLabel->text(), position);
        QCOMPARE(m_sheet->ibPromptLabel->text(), prompt);
        QCOMPARE(m_sheet->ibAssignUnknownNSButon->isHidden(), !unknown);
        QCOMPARE(m_sheet->ibAssignUnknownNSButon->text(), u"Mark all 6 photos"_s); // agrees with the count
        QCOMPARE(m_sheet->focusWidget(), m_sheet->ibNSTextField);

        // Nothing lies beyond the photo it starts on: a beep, and it stays.
        (first == 0 ? m_sheet->ibLeftButton : m_sheet->ibRightButton)->click();
        QVERIFY(idle());
        QCOMPARE(m_sheet->session.curindex, first);
        QCOMPARE(m_sheet->ibCurIndexLabel->text(), position);
        QTRY_COMPARE(SystemSound::playedForTesting(), (Sounds {SystemSound::Beep, SystemSound::Glass}));
    }

    // The operator reads the barcode card on this photo: the preview comes at once, then a
    // decode at the view's size replaces it, also for a name that is not UTF-8; a photo
    // left before its decode arrived never replaces the one shown.
    void photoIsDecodedAtTheViewsSize()
    {
        const NativePath odd = NativePath::fromBytes(NativePath(m_folder).bytes() + "/IMG_\xff\xfe.JPG");
        QVERIFY(SafeFile::copy(NativePath(m_urls.at(1).toLocalFile()), odd));
        const QList<QUrl> urls {QUrl::fromLocalFile(odd.toString()), m_urls.at(2)};
        QCOMPARE(NativePath(urls.first().toLocalFile()), odd);
        QVERIFY(present(urls));
        ReassignImageView *view = m_sheet->ibNSImageView;
        QSignalSpy shown(view, &ReassignImageView::imageShown);
        QTRY_VERIFY(!shown.isEmpty() && !shown.constLast().at(1).toBool());
        QCOMPARE(shown.first().at(1).toBool(), true); // the preview first
        QCOMPARE(NativePath(view->path()), odd);
        const QImage image = view->image();
        const QSize box = view->size() * view->devicePixelRatio();
        QVERIFY2(image.height() > ThumbnailMaker::cMaxPixelSize,
                 qPrintable(u"%1x%2"_s.arg(image.width()).arg(image.height())));
        QVERIFY(image.height() > image.width()); // upright
        QVERIFY(image.width() <= box.width() && image.height() <= box.height());
        QVERIFY(image.width() == box.width() || image.height() == box.height());

        const QString landscape = m_folder + u"/wide.jpg"_s;
        QImage wide(600, 200, QImage::Format_RGB32);
        wide.fill(Qt::darkGreen);
        QVERIFY(wide.save(landscape, "JPEG"));
        view->setPath(m_urls.at(2).toLocalFile());
        view->setPath(landscape);
        QTRY_VERIFY(!view->image().isNull() && !view->isPreview());
        QVERIFY(Dispatch::waitForBackground(10000));
        QApplication::processEvents();
        QCOMPARE(view->image().size(), QSize(600, 200)); // smaller than the view: never enlarged
    }

    void entriesArrivingDuringAnEntryAreDropped()
    {
        QVERIFY(present(m_urls));
        QLineEdit *field = m_sheet->ibNSTextField;
        QTest::keyClicks(field, u"4006381333931"_s);
        QTest::keyClick(field, Qt::Key_Return);
        // The next scan follows at once, before any queued work ran, to wherever the keys go now.
        QTest::keyClicks(m_sheet->focusWidget(), u"9780201379624"_s);
        QTest::keyClick(m_sheet->focusWidget(), Qt::Key_Return);
        QApplication::processEvents();
        QVERIFY(m_sheet->entryPipeline.isInsideAction);
        m_sheet->doEndButtonAction();
        QVERIFY(idle());
        QCOMPARE(m_sheet->session.curindex, 1);
        QCOMPARE(setting(cPrefReassignedBarcodeString), u"4006381333931"_s);
        // The dropped scan is heard at once, the taken one after its move.
        QTRY_COMPARE(SystemSound::playedForTesting(), (Sounds {SystemSound::Beep, SystemSound::Glass}));
        QCOMPARE(m_sheet->focusWidget(), field);
        QVERIFY(m_sheet->hasFieldAction()); // a dropped entry does not take the field's action away

        // Nothing of the dropped scan is left: the next one replaces the barcode shown.
        QTest::keyClicks(field, u"5901234123457"_s);
        QVERIFY(returnKey());
        QCOMPARE(setting(cPrefReassignedBarcodeString), u"5901234123457"_s);
        QCOMPARE(m_sheet->session.curindex, 2);
    }

    // Each entry is checked as it is scanned; confirming applies the barcode the field and the
    // button show, never one taken earlier.
    void reassignAppliesWhatTheFieldShows()
    {
        SettingsStore::standard().setBool(true, cPrefCheckReassignedBarcodeLength);
        QVERIFY(present(m_urls.mid(0, 3)));
        QCOMPARE(m_sheet->ibPrompt2Label->text(), u"( Barcode must be at least 13 characters. )"_s);
        QPushButton *button = m_sheet->ibReassignButton;
        QLineEdit *field = m_sheet->ibNSTextField;
        QVERIFY(!button->isEnabled());
        QVERIFY(enter(u"4006381333931"_s));
        QCOMPARE(button->text(), u"Reassign to 4006381333931"_s);
        QVERIFY(button->isEnabled());
        QCOMPARE(setting(cPrefReassignImageViewPath), m_urls.at(1).toLocalFile());
        QTRY_COMPARE(SystemSound::playedForTesting(), Sounds {SystemSound::Glass});

        QVERIFY(enter(u"12345"_s)); // a partial scan: emptied, with the reason until the next entry
        QCOMPARE(field->text(), QString());
        QVERIFY(m_sheet->ibProblemLabel->isVisible());
        QVERIFY2(m_sheet->ibProblemLabel->text().startsWith(u"\"12345\" was refused."_s),
                 qPrintable(m_sheet->ibProblemLabel->text()));
        QCOMPARE(m_sheet->session.curindex, 1);
        QCOMPARE(setting(cPrefReassignedBarcodeString), u"4006381333931"_s);
        QTRY_COMPARE(
            SystemSound::playedForTesting(),
            (Sounds {SystemSound::Glass, SystemSound::Beep, SystemSound::Beep, SystemSound::Beep, SystemSound::Glass}));
        QVERIFY(m_sheet->hasFieldAction());
        QVERIFY(!button->isEnabled());
        button->click();
        QCOMPARE(files().size(), 6);
        QVERIFY(enter(u"5901234123457"_s));
        QVERIFY(!m_sheet->ibProblemLabel->isVisible());
        QCOMPARE(button->text(), u"Reassign to 5901234123457"_s);
        QCOMPARE(m_sheet->session.curindex, 2);

        // Typed over on the last photo: the button follows, and Return there finishes as confirming does;
        // a photo whose new name another file holds keeps its name, and the operator is told.
        field->clear();
        QTest::keyClicks(field, u"2000000000015"_s);
        QCOMPARE(button->text(), u"Reassign to 2000000000015"_s);
        QVERIFY(writeFile(m_folder + u"/2000000000015_IMG_0003.JPG"_s, "held"));
        QTest::keyClick(field, Qt::Key_Return);
        QTRY_VERIFY(!m_sheet);
        QCOMPARE(files(),
                 (QStringList {u"2000000000015_IMG_0001.JPG"_s, u"2000000000015_IMG_0002.JPG"_s,
                               u"2000000000015_IMG_0003.JPG"_s, u"IMG_0003.JPG"_s, u"IMG_0004.JPG"_s, u"IMG_0005.JPG"_s,
                               u"IMG_0006.JPG"_s}));
        QCOMPARE(readFile(m_folder + u"/2000000000015_IMG_0003.JPG"_s), QByteArray("held"));
        QTRY_COMPARE(Alert::shownForTesting().size(), 1);
        QCOMPARE(alert().messageText, u"! 1 PHOTO KEPT ITS NAME !"_s);
    }

    void windowFrameKeptOnCancelOnly()
    {
        QVERIFY(present(m_urls));
        m_sheet->resize(700, 560);
        m_sheet->ibCancelButton->click();
        QTRY_VERIFY(!m_sheet);
        const auto storedSize = [] { return SheetFrameMemory::parseFrame(setting(cPrefReassignWindowFrame)); };
        QVERIFY(storedSize());
        QCOMPARE(storedSize()->size(), QSize(700, 560));
        QVERIFY(untouched());

        // Reopened at that size; a confirmed run (no photos) closes without storing its size.
        QVERIFY(present({}));
        QCOMPARE(m_sheet->size(), QSize(700, 560));
        m_sheet->resize(760, 600);
        m_sheet->ibAssignUnknownNSButon->click();
        QTRY_VERIFY(!m_sheet);
        QTest::qWait(SheetFrameMemory::cFrameSettleMs + 100);
        QCOMPARE(storedSize()->size(), QSize(700, 560));
    }

    void automaticModeShowsTheBarcodeTakenForAPhoto()
    {
        SettingsStore::standard().setInteger(202, cPrefRadioSet1SelectedTag);
        QVERIFY(present(m_urls, QVariant::fromValue(m_urls)));
        QVERIFY(enter(m_first)); // on the first barcode photo
        QCOMPARE(m_sheet->ibNSTextField->text(), QString());
        QVERIFY(enter(QString()) && enter(QString()));
        QVERIFY(enter(m_second)); // on the second
        QCOMPARE(m_sheet->session.curindex, 4);
        m_sheet->doBeginningButtonAction();
        QVERIFY(idle());
        QCOMPARE(m_sheet->session.curindex, 0);
        QCOMPARE(m_sheet->ibNSTextField->text(), m_first);
    }

    // Whatever way a barcode gets into the sheet, one that is refused renames nothing and the
    // sheet stays: scanned with Return, or left in the field when confirming.
    void refusedBarcodeNeverReachesTheFiles_data()
    {
        QTest::addColumn<int>("tag");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("warning");
        QTest::newRow("empty, one barcode") << 200 << u" \t "_s << u"! NO BARCODE ENTERED !"_s;
        QTest::newRow("a path, automatic") << 202 << u"a/b"_s << u"! BARCODE REFUSED !"_s;
    }

    void refusedBarcodeNeverReachesTheFiles()
    {
        QFETCH(int, tag);
        QFETCH(QString, typed);
        QFETCH(QString, warning);
        SettingsStore::standard().setInteger(tag, cPrefRadioSet1SelectedTag);
        QVERIFY(present(m_urls, QVariant::fromValue(m_urls)));
        QVERIFY(enter(u"../up"_s)); // scanned on the first (barcode) photo
        QCOMPARE(m_sheet->session.curindex, 0);
        QVERIFY(m_sheet->session.sortedurlsWithBarcodes->isEmpty());
        QVERIFY(m_sheet->ibProblemLabel->isVisible());
        ReassignViewController::getSoundQueue().waitForDone();
        SystemSound::resetForTesting();
        SettingsStore::standard().setString(u"4006381333931"_s, cPrefReassignedBarcodeString); // taken before
        int refreshes = 0;
        QObject receiver;
        NotificationCenter::defaultCenter().addObserver(&receiver, NotificationNames::myRefreshId,
                                                        [&](const Notification &) { ++refreshes; });
        m_sheet->ibNSTextField->setText(typed);
        QCOMPARE(m_sheet->ibReassignButton->isEnabled(), !typed.trimmed().isEmpty());
        m_sheet->doReassign(); // as the button or a key binding does
        QTRY_COMPARE(Alert::shownForTesting().size(), 1);
        QCOMPARE(alert().messageText, warning);
        QCOMPARE(SystemSound::playedForTesting(), Sounds {SystemSound::Beep});
        QVERIFY(m_sheet && m_sheet->isVisible());
        QVERIFY(m_sheet->session.sortedurlsWithBarcodes->isEmpty());
        QCOMPARE(refreshes, 0);
        QVERIFY(untouched());
        QCOMPARE(QDir(m_folder + u"/.."_s).entryList(QDir::Files), QStringList());
    }

    // Applying readings, the manual mode chosen: the sheet runs automatically all the same.
    void readingsArePrefilledAndReturnAccepts()
    {
        requireLength13();
        const QString scanned = u"4006381333931"_s;
        // The second photo shows a small code beside its card: the card's code is proposed first.
        QVERIFY(presentReadings({m_first}, {u"42"_s, m_second}));
        QLineEdit *field = m_sheet->ibNSTextField;
        QCOMPARE(field->text(), m_first);
        QCOMPARE(field->selectedText(), m_first);
        QVERIFY(m_sheet->ibAssignUnknownNSButon->isHidden());
        QVERIFY(m_sheet->ibDetectedCodesRow->isHidden());

        // Reassign… shows the run; going back from it leaves the proposal in the field, ready for Return.
        Alert::queueAnswerForTesting(Alert::cFirstButtonReturn);
        m_sheet->ibReassignButton->click();
        QTRY_COMPARE(Alert::shownForTesting().size(), 1);
        QTRY_COMPARE(field->text(), m_first);
        QCOMPARE(field->selectedText(), m_first);
        QCOMPARE(m_sheet->focusWidget(), field);
        Alert::resetForTesting();

        QVERIFY(returnKey());
        QCOMPARE(m_sheet->session.curindex, 1);
        QCOMPARE(field->text(), m_second);
        QCOMPARE(field->selectedText(), m_second);
        QVERIFY(m_sheet->ibDetectedCodesRow->isVisible());
        QCOMPARE(m_sheet->detectedCodeButtons.size(), 2);
        QCOMPARE(m_sheet->detectedCodeButtons.first()->text(), m_second);

        // A scanner types over the proposal; its Return on the last photo shows the run.
        QTest::keyClicks(field, scanned);
        QCOMPARE(field->text(), scanned);
        QVariantMap refresh;
        QObject receiver;
        NotificationCenter::defaultCenter().addObserver(&receiver, NotificationNames::myRefreshId,
                                                        [&](const Notification &n) { refresh = n.userInfo; });
        Alert::queueAnswerForTesting(Alert::cSecondButtonReturn);
        QTest::keyClick(field, Qt::Key_Return);
        QTRY_VERIFY(!m_sheet);
        QCOMPARE(Alert::shownForTesting().size(), 1);
        QCOMPARE(alert().messageText, u"Reassign 4 Photos to 2 Barcodes?"_s);
        QCOMPARE(refresh, (QVariantMap {{u"command"_s, u"refresh"_s}}));
        QCOMPARE(files(), renamedInTwoGroups(m_first, scanned));
    }

    // A barcode photo whose codes are all refused stops the run until it is given its barcode by hand;
    // one showing a web address beside its card's code takes the code the operator accepts.
    void refusedReadingStopsTheRun()
    {
        requireLength13();
        QVERIFY(presentReadings({u"12345"_s}, {u"https://studio.example/order/"_s + m_second, m_second}));
        QCOMPARE(m_sheet->ibNSTextField->text(), u"12345"_s);
        QVERIFY(m_sheet->ibProblemLabel->isVisible());

        QVERIFY(returnKey());
        QCOMPARE(m_sheet->session.curindex, 0); // refused, as a partial scan is
        QCOMPARE(m_sheet->ibNSTextField->text(), QString());
        QVERIFY(enter(QString())); // left without a barcode
        QCOMPARE(m_sheet->session.curindex, 1);
        QCOMPARE(m_sheet->ibNSTextField->text(), m_second);

        QVERIFY(enter(m_second)); // Return on the last photo: the run stops on the first
        QTRY_COMPARE(Alert::shownForTesting().size(), 1);
        QCOMPARE(alert().messageText, u"! BARCODE REFUSED !"_s);
        QVERIFY(alert().informativeText.contains(u"IMG_0001.JPG: "_s)
                && !alert().informativeText.contains(u"IMG_0004"_s));
        QVERIFY(m_sheet && m_sheet->isVisible());
        QCOMPARE(m_sheet->session.curindex, 0);
        QCOMPARE(files().size(), 6);

        Alert::queueAnswerForTesting(Alert::cSecondButtonReturn);
        QVERIFY(enter(m_first) && enter(m_second));
        QTRY_VERIFY(!m_sheet);
        QCOMPARE(files(), renamedInTwoGroups(m_first, m_second));
    }

    // Every code on the card has the same length the rule refuses: one click takes that length.
    void agreedLengthIsOffered()
    {
        requireLength13();
        Alert::queueAnswerForTesting(Alert::cSecondButtonReturn);
        QVERIFY(presentReadings({u"P26-0417"_s}, {u"P26-0418"_s}));
        QTRY_COMPARE(SettingsStore::standard().integerForKey(cPrefReassignedBarcodeRequiredLength), 8);
        QCOMPARE(alert().messageText, u"Use Barcodes of 8 characters?"_s);
        QCOMPARE(m_sheet->ibPrompt2Label->text(), u"( Barcode must be at least 8 characters. )"_s);
        QVERIFY(!m_sheet->ibProblemLabel->isVisible());
        QCOMPARE(m_sheet->ibNSTextField->text(), u"P26-0417"_s);
        QVERIFY(returnKey());
        QCOMPARE(m_sheet->session.curindex, 1);
    }

    // Each Return shows the next photo at once: the photo is never blank and nothing moves.
    void returnShowsTheNextPhotoWithoutBlanking()
    {
        QVERIFY(presentReadings({m_first}, {m_second}));
        ReassignImageView *view = m_sheet->ibNSImageView;
        QLineEdit *field = m_sheet->ibNSTextField;
        QTRY_VERIFY(!view->image().isNull() && !view->isPreview());
        QTRY_VERIFY(view->isPreloaded(m_urls.at(3).toLocalFile()));
        const QRect fieldPlace = field->geometry();
        const QRect photoPlace = view->geometry();
        QTest::keyClick(field, Qt::Key_Return);
        while (m_sheet->session.curindex == 0) {
            QVERIFY(view->isVisible() && !view->image().isNull() && field->isVisible());
            QCoreApplication::processEvents();
        }
        QCOMPARE(view->path(), m_urls.at(3).toLocalFile());
        QVERIFY(view->isVisible() && !view->image().isNull() && !view->isPreview());
        QCOMPARE(field->text(), m_second);
        QVERIFY(idle());
        QCOMPARE(field->geometry(), fieldPlace);
        QCOMPARE(view->geometry(), photoPlace);
    }
};

LUMISORT_GUI_TEST_MAIN(TestReassignViewController)
#include "tst_reassignviewcontroller.moc"
