#include "DemoCard.h"
#include "TestMain.h"
#include "model/ThumbnailMaker.h"
#include "reassign/MyVimoNSview.h"
#include "reassign/ReassignViewController.h"
#include "reassign/SheetFrameMemory.h"
#include "roster/RosterSource.h"
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

// The sheet on real photos: a demo card of two groups (a barcode photo and two
// photos each, stored turned, EXIF orientation 6) copied as shot into a working folder.
class TestReassignViewController : public QObject
{
    Q_OBJECT

    DemoCard m_card;
    QString m_first, m_second; // the barcodes of the two groups
    QString m_folder;
    QList<QUrl> m_urls; // IMG_0001 (barcode) 0002 0003 | 0004 (barcode) 0005 0006
    QString m_asShot; // their names
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
    static QString setting(const QString &key) { return SettingsStore::standard().stringForKey(key).value_or(u"-"_s); }
    QStringList files() const { return QDir(m_folder).entryList(QDir::Files, QDir::Name); }

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
        m_asShot = files().join(u' ');
        for (const QString &key : {cPrefReverseAssignBarcode, cPrefReassignWindowFrame})
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
        RosterSource::shared().close();
        delete m_sheet;
        ReassignViewController::getWorkingQueue().waitForDone();
        ReassignViewController::getSoundQueue().waitForDone();
        QApplication::processEvents();
        m_window.reset();
    }

    // The operator reads the barcode card on this photo: the preview comes at once, then a decode at
    // the view's size replaces it, also for a name that is not UTF-8. Each Return shows the next photo
    // at once: the photo is never blank and nothing moves. A photo left before its decode arrived
    // never replaces the one shown.
    void photosAreShownAtTheViewsSize()
    {
        const NativePath odd = NativePath::fromBytes(NativePath(m_folder).bytes() + "/IMG_\xff\xfe.JPG");
        QVERIFY(SafeFile::copy(NativePath(m_urls.at(1).toLocalFile()), odd));
        const QString first = QUrl::fromLocalFile(odd.toString()).toLocalFile();
        QCOMPARE(NativePath(first), odd);
        QVERIFY(present({QUrl::fromLocalFile(first), m_urls.at(3)}, QVariant::fromValue(m_urls),
                        {{first, QStringList {m_first}}, {m_urls.at(3).toLocalFile(), QStringList {m_second}}}));
        ReassignImageView *view = m_sheet->ibNSImageView;
        QLineEdit *field = m_sheet->ibNSTextField;
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

    // Operator paths, one step after another: "open [3|all|none]" presents the photos (the row's readings
    // if any), "enter X" types X and Return, "type X" only types; each action but "press" and "burst" (a
    // scan's Return) waits until the entry is over. "key=value" waits until what the sheet shows under key
    // is value; "state" is "index [field]", "*" all selected, " problem" shown, " ->" the button's barcode
    // when it is enabled. $1 and $2 are the card's two barcodes, $photos the names as shot.
    void operatorPaths_data()
    {
        QTest::addColumn<int>("tag");
        QTest::addColumn<int>("length"); // the barcode length rule, 0: off
        QTest::addColumn<QStringList>("readings"); // the codes read on each barcode photo
        QTest::addColumn<QString>("script");
        // The mode's own prompt, else the general one; the Unknown button only for one barcode, its title
        // agreeing with the count. Nothing lies beyond the photo it starts on: a beep, and it stays.
        QTest::newRow("one barcode, reversed: starts on the last photo")
            << 200 << 0 << QStringList()
            << u"reverse; open; state=5 []; shows=5; saved=5; position=6 of 6; prompt=Any; "
               u"unknown=Mark all 6 photos; focus=yes; right; position=6 of 6; state=5 []; sounds=Beep Glass"_s;
        QTest::newRow("automatic ignores reversing")
            << 202 << 0 << QStringList()
            << u"reverse; open; state=0 [] ->Reassign; shows=0; saved=0; position=1 of 6; prompt=Each barcode photo; "
               u"unknown=hidden; focus=yes; left; position=1 of 6; state=0 [] ->Reassign; sounds=Beep Glass"_s;
        // The size is kept on Cancel, and the sheet reopens at it; a confirmed run (no photos) closes
        // without storing its size.
        QTest::newRow("window size kept on Cancel only")
            << 200 << 0 << QStringList()
            << u"open; resize 700 560; cancel; sheet=closed; frame=700x560; files=$photos; open none; "
               u"size=700x560; resize 760 600; mark; sheet=closed; settle; frame=700x560"_s;
        // The next scan follows at once, before any queued work ran: dropped, heard at once, and
        // it neither moves nor takes the field's action away; the next scan replaces what it typed.
        QTest::newRow("scan during a taken entry")
            << 200 << 0 << QStringList()
            << u"open; type 4006381333931; press; burst 9780201379624; busy=yes; end; "
               u"state=1 [4006381333931]* ->4006381333931; taken=4006381333931; sounds=Beep Glass; focus=yes; "
               u"action=yes; type 5901234123457; ret; taken=5901234123457; state=2 [5901234123457]* ->5901234123457"_s;
        QTest::newRow("scan during a refused entry")
            << 200 << 13 << QStringList()
            << u"open; type 12345; press; burst 9780201379624; busy=yes; end; state=0 [] problem; action=yes; "
               u"enter 4006381333931; state=1 [4006381333931]* ->4006381333931"_s;
        // Each entry is checked as it is scanned; confirming applies the barcode the field and the
        // button show, never one taken earlier. A refused scan empties the field and says why until
        // the next entry. Return on the last photo finishes as confirming does; a photo whose new
        // name another file holds keeps its name, and the operator is told.
        QTest::newRow("confirming applies what the field shows")
            << 200 << 13 << QStringList()
            << u"open 3; hint=( Barcode must be at least 13 characters. ); state=0 []; "
               u"enter 4006381333931; state=1 [4006381333931]* ->4006381333931; shows=1; sounds=Glass; "
               u"enter 12345; state=1 [] problem; problem=\"12345\" was refused; taken=4006381333931; "
               u"sounds=Glass Beep Beep Beep Glass; action=yes; reassign; count=6; "
               u"enter 5901234123457; state=2 [5901234123457]* ->5901234123457; "
               u"clear; type 2000000000015; state=2 [2000000000015] ->2000000000015; "
               u"hold 2000000000015_IMG_0003.JPG; press; sheet=closed; files=2000000000015_IMG_0001.JPG "
               u"2000000000015_IMG_0002.JPG 2000000000015_IMG_0003.JPG IMG_0003.JPG IMG_0004.JPG IMG_0005.JPG "
               u"IMG_0006.JPG; held=2000000000015_IMG_0003.JPG; alerts=! 1 PHOTO KEPT ITS NAME !"_s;
        QTest::newRow("automatic: a photo shows the barcode taken for it")
            << 202 << 0 << QStringList()
            << u"open all; enter $1; state=1 [] ->Reassign; enter; enter; enter $2; state=4 [] ->Reassign; begin; "
               u"state=0 [$1] ->Reassign"_s;
        // Whatever way a barcode gets into the sheet, one that is refused renames nothing and the
        // sheet stays: scanned with Return, or left in the field when confirming (as the button or
        // a key binding does), a barcode taken before notwithstanding.
        const QString refused = u"open all; enter ../up; recorded=0; quiet; stored 4006381333931; "_s;
        const QString unchanged = u"; sounds=Beep; sheet=open; recorded=0; refreshes=; files=$photos; above="_s;
        QTest::newRow("refused: empty, one barcode") << 200 << 0 << QStringList()
                                                     << refused
                + u"state=0 [] problem; set  \t ; state=0 [ \t ] problem; doReassign; "
                  u"alerts=! NO BARCODE ENTERED !"_s
                + unchanged;
        QTest::newRow("refused: a path, automatic") << 202 << 0 << QStringList()
                                                    << refused
                + u"state=0 [] problem ->Reassign; set a/b; state=0 [a/b] problem ->Reassign; doReassign; "
                  u"alerts=! BARCODE REFUSED !"_s
                + unchanged;
        // Applying readings, the manual mode chosen: the sheet runs automatically all the same. The second
        // photo shows a small code beside its card: the card's code is proposed first. Reassign… shows the
        // run; going back from it leaves the proposal in the field, ready for Return. A scanner types
        // over the proposal; its Return on the last photo shows the run.
        QTest::newRow("readings are proposed and Return accepts")
            << 200 << 13 << QStringList {u"$1"_s, u"42,$2"_s}
            << u"open; state=0 [$1]* ->Reassign…; unknown=hidden; codes=hidden; answer 1; reassign; "
               u"alerts=Reassign 2 Photos to 1 Barcode?; state=0 [$1]* ->Reassign…; focus=yes; forget; ret; "
               u"state=1 [$2]* ->Reassign…; codes=2 $2; type 4006381333931; state=1 [4006381333931] ->Reassign…; "
               u"answer 2; press; sheet=closed; alerts=Reassign 4 Photos to 2 Barcodes?; refreshes=command:refresh; "
               u"files=$1_IMG_0002.JPG $1_IMG_0003.JPG 4006381333931_IMG_0005.JPG 4006381333931_IMG_0006.JPG"_s;
        // A barcode photo whose codes are all refused stops the run until it is given its barcode by
        // hand; one showing a web address beside its card's code takes the code the operator accepts.
        QTest::newRow("a refused reading stops the run")
            << 200 << 13 << QStringList {u"12345"_s, u"https://studio.example/order/$2,$2"_s}
            << u"open; state=0 [12345]* problem ->Reassign…; ret; state=0 [] problem ->Reassign…; enter; "
               u"state=1 [$2]* ->Reassign…; enter $2; alerts=! BARCODE REFUSED !; told=IMG_0001.JPG; forget; "
               u"sheet=open; state=0 [12345]* problem ->Reassign…; count=6; answer 2; enter $1; enter $2; "
               u"sheet=closed; files=$1_IMG_0002.JPG $1_IMG_0003.JPG $2_IMG_0005.JPG $2_IMG_0006.JPG"_s;
        // Every code on the card has the same length the rule refuses: one click takes that length.
        QTest::newRow("an agreed length is offered")
            << 200 << 13 << QStringList {u"P26-0417"_s, u"P26-0418"_s}
            << u"answer 2; open; alerts=Use Barcodes of 8 characters?; length=8; "
               u"hint=( Barcode must be at least 8 characters. ); state=0 [P26-0417]* ->Reassign…; ret; "
               u"state=1 [P26-0418]* ->Reassign…"_s;
        // With the day's roster open, the field's code is named; one the roster lacks (a likely misread)
        // is refused by the first Return with a word, taken by the second, and named again before renaming.
        QTest::newRow("a code off the roster asks once more")
            << 200 << 13 << QStringList {u"$1"_s, u"$2"_s}
            << u"roster $1; open; state=0 [$1]* ->Reassign…; subject=Åsa Lindqvist · 3B; ret; "
               u"state=1 [$2]* ->Reassign…; subject=⚠ Not on the roster: check the code; ret; "
               u"state=1 [$2]* problem ->Reassign…; problem=The code $2 is not on the roster; files=$photos; ret; "
               u"alerts=Reassign 4 Photos to 2 Barcodes?; unlisted=$2"_s;
    }

    void operatorPaths()
    {
        QFETCH(int, tag);
        QFETCH(int, length);
        QFETCH(QStringList, readings);
        QFETCH(QString, script);
        SettingsStore &store = SettingsStore::standard();
        store.setInteger(tag, cPrefRadioSet1SelectedTag);
        store.setBool(length > 0, cPrefCheckReassignedBarcodeLength);
        store.setInteger(length, cPrefReassignedBarcodeRequiredLength);
        store.setObject(QVariantMap {{u"unknown"_s, u"Any"_s}, {u"202"_s, u"Each barcode photo"_s}},
                        cPrefReassignPromptDict);
        store.setString(u"Mark all [val1] photos"_s, cPrefDoReassignAllTheseToUnknownStringFormat);
        QStringList refreshes;
        QObject receiver;
        NotificationCenter::defaultCenter().addObserver(
            &receiver, NotificationNames::myRefreshId, [&](const Notification &n) {
                refreshes << n.userInfo.keys().join(u',') + u':' + n.userInfo.value(u"command"_s).toString();
            });
        QLineEdit *field = nullptr;
        const auto yes = [](bool fact) { return fact ? u"yes"_s : u"no"_s; };
        const auto alerts = [](auto part) {
            QStringList texts;
            for (const Alert::Content &alert : Alert::shownForTesting())
                texts << part(alert);
            return texts.join(u" | "_s);
        };
        const QHash<QString, std::function<QString()>> shown {
            {u"state"_s,
             [&]() -> QString {
                 QPushButton *button = m_sheet->ibReassignButton;
                 return u"%1 [%2]"_s.arg(m_sheet->session.curindex).arg(field->text())
                     + (!field->text().isEmpty() && field->selectedText() == field->text() ? u"*"_s : QString())
                     + (m_sheet->ibProblemLabel->isVisible() ? u" problem"_s : QString())
                     + (button->isEnabled() ? u" ->"_s + button->text().remove(u"Reassign to "_s) : QString());
             }},
            {u"problem"_s, [&] { return m_sheet->ibProblemLabel->text().section(u'.', 0, 0); }},
            {u"position"_s, [&] { return m_sheet->ibCurIndexLabel->text(); }},
            {u"prompt"_s, [&] { return m_sheet->ibPromptLabel->text(); }},
            {u"saved"_s, [] { return setting(cPrefCurIndexString); }},
            {u"size"_s, [&] { return u"%1x%2"_s.arg(m_sheet->width()).arg(m_sheet->height()); }},
            {u"frame"_s,
             [] {
                 const std::optional<QRect> frame = SheetFrameMemory::parseFrame(setting(cPrefReassignWindowFrame));
                 return frame ? u"%1x%2"_s.arg(frame->width()).arg(frame->height()) : u"none"_s;
             }},
            {u"hint"_s, [&] { return m_sheet->ibPrompt2Label->text(); }},
            {u"subject"_s,
             [&] { return m_sheet->ibSubjectLabel->isHidden() ? u"hidden"_s : m_sheet->ibSubjectLabel->text(); }},
            {u"unlisted"_s,
             [&] {
                 return alerts([](const Alert::Content &alert) {
                     return alert.informativeText.section(u"Not on the roster: "_s, 1).section(u'.', 0, 0);
                 });
             }},
            {u"shows"_s,
             [&] { return QString::number(m_urls.indexOf(QUrl::fromLocalFile(setting(cPrefReassignImageViewPath)))); }},
            {u"taken"_s, [] { return setting(cPrefReassignedBarcodeString); }},
            {u"recorded"_s, [&] { return QString::number(m_sheet->session.sortedurlsWithBarcodes->size()); }},
            {u"busy"_s, [&] { return yes(m_sheet->entryPipeline.isInsideAction); }},
            {u"focus"_s, [&] { return yes(m_sheet->focusWidget() == field); }},
            {u"action"_s, [&] { return yes(m_sheet->hasFieldAction()); }},
            {u"unknown"_s,
             [&] {
                 return m_sheet->ibAssignUnknownNSButon->isHidden() ? u"hidden"_s
                                                                    : m_sheet->ibAssignUnknownNSButon->text();
             }},
            {u"codes"_s,
             [&] {
                 const QList<QPushButton *> &codes = m_sheet->detectedCodeButtons;
                 return m_sheet->ibDetectedCodesRow->isHidden()
                     ? u"hidden"_s
                     : u"%1 %2"_s.arg(codes.size()).arg(codes.first()->text());
             }},
            {u"length"_s, [&] { return QString::number(store.integerForKey(cPrefReassignedBarcodeRequiredLength)); }},
            {u"sounds"_s,
             [] {
                 QStringList heard;
                 for (SystemSound::Sound sound : SystemSound::playedForTesting())
                     heard << SystemSound::name(sound);
                 return heard.join(u' ');
             }},
            {u"alerts"_s, [&] { return alerts([](const Alert::Content &alert) { return alert.messageText; }); }},
            // The photos an alert names, one a line, "name: why".
            {u"told"_s,
             [&] {
                 return alerts([](const Alert::Content &alert) {
                     QStringList named = alert.informativeText.split(u'\n').filter(u": "_s);
                     for (QString &line : named)
                         line = line.section(u':', 0, 0);
                     return named.join(u' ');
                 });
             }},
            {u"sheet"_s, [&] { return !m_sheet            ? u"closed"_s
                                   : m_sheet->isVisible() ? u"open"_s
                                                          : u"hidden"_s; }},
            {u"refreshes"_s, [&] { return refreshes.join(u' '); }},
            {u"files"_s, [&] { return files().join(u' '); }},
            {u"count"_s, [&] { return QString::number(files().size()); }},
            {u"held"_s,
             [&] {
                 QStringList held;
                 for (const QString &name : files())
                     if (readFile(m_folder + u'/' + name) == "held")
                         held << name;
                 return held.join(u' ');
             }},
            {u"above"_s, [&] { return QDir(m_folder + u"/.."_s).entryList(QDir::Files).join(u' '); }},
        };
        const QHash<QString, std::function<void(const QString &)>> done {
            {u"open"_s,
             [&](const QString &how) {
                 const auto codes = [&](int i) {
                     return QString(readings.value(i)).replace(u"$1"_s, m_first).replace(u"$2"_s, m_second).split(u',');
                 };
                 const QList<QUrl> urls = how == u"3"_s ? m_urls.mid(0, 3) : how == u"none"_s ? QList<QUrl>() : m_urls;
                 QVERIFY(!readings.isEmpty()
                             ? presentReadings(codes(0), codes(1))
                             : present(urls, how == u"all"_s ? QVariant::fromValue(m_urls) : QVariant()));
                 field = m_sheet->ibNSTextField;
             }},
            {u"enter"_s,
             [&](const QString &text) {
                 field->setText(text);
                 QTest::keyClick(field, Qt::Key_Return);
             }},
            {u"type"_s, [&](const QString &text) { QTest::keyClicks(field, text); }},
            {u"set"_s, [&](const QString &text) { field->setText(text); }},
            {u"clear"_s, [&](const QString &) { field->clear(); }},
            {u"ret"_s, [&](const QString &) { QTest::keyClick(field, Qt::Key_Return); }},
            {u"press"_s, [&](const QString &) { QTest::keyClick(field, Qt::Key_Return); }},
            {u"burst"_s, // to wherever the keys go now, then run the queued events
             [&](const QString &text) {
                 QTest::keyClicks(m_sheet->focusWidget(), text);
                 QTest::keyClick(m_sheet->focusWidget(), Qt::Key_Return);
                 QApplication::processEvents();
             }},
            {u"end"_s, [&](const QString &) { m_sheet->doEndButtonAction(); }},
            {u"begin"_s, [&](const QString &) { m_sheet->doBeginningButtonAction(); }},
            {u"left"_s, [&](const QString &) { m_sheet->ibLeftButton->click(); }},
            {u"right"_s, [&](const QString &) { m_sheet->ibRightButton->click(); }},
            {u"cancel"_s, [&](const QString &) { m_sheet->ibCancelButton->click(); }},
            {u"mark"_s, [&](const QString &) { m_sheet->ibAssignUnknownNSButon->click(); }},
            {u"resize"_s,
             [&](const QString &size) {
                 m_sheet->resize(size.section(u' ', 0, 0).toInt(), size.section(u' ', 1).toInt());
             }},
            {u"settle"_s, [](const QString &) { QTest::qWait(SheetFrameMemory::cFrameSettleMs + 100); }},
            {u"reverse"_s, [&](const QString &) { store.setBool(true, cPrefReverseAssignBarcode); }},
            {u"reassign"_s, [&](const QString &) { m_sheet->ibReassignButton->click(); }},
            {u"doReassign"_s, [&](const QString &) { m_sheet->doReassign(); }},
            {u"answer"_s,
             [](const QString &n) { Alert::queueAnswerForTesting(Alert::cFirstButtonReturn + n.toInt() - 1); }},
            {u"forget"_s, [](const QString &) { Alert::resetForTesting(); }},
            {u"stored"_s, [&](const QString &code) { store.setString(code, cPrefReassignedBarcodeString); }},
            {u"hold"_s, [&](const QString &name) { QVERIFY(writeFile(m_folder + u'/' + name, "held")); }},
            {u"roster"_s,
             [&](const QString &id) {
                 const QString path = m_folder + u"/../roster.csv"_s;
                 QVERIFY(writeFile(path,
                                   "\xEF\xBB\xBFStudent ID;Last Name;First Name;Grade\r\n" + id.toUtf8()
                                       + ";Lindqvist;\xC3\x85sa;3B\r\n"));
                 RosterSource::shared().open(path, -1, Roster::Header::FirstRow,
                                             std::make_shared<const Roster>(Roster::load(NativePath(path))));
             }},
            {u"quiet"_s,
             [](const QString &) {
                 ReassignViewController::getSoundQueue().waitForDone();
                 SystemSound::resetForTesting();
             }},
        };
        for (QString step : script.split(u"; "_s)) {
            step.replace(u"$1"_s, m_first).replace(u"$2"_s, m_second).replace(u"$photos"_s, m_asShot);
            const QString key = step.section(u'=', 0, 0);
            if (step.contains(u'=') && shown.contains(key)) {
                QTRY_COMPARE(shown.value(key)(), step.section(u'=', 1));
                continue;
            }
            const QString action = step.section(u' ', 0, 0);
            QVERIFY2(done.contains(action), qPrintable(step));
            done.value(action)(step.mid(action.size() + 1));
            if (action != u"press"_s && action != u"burst"_s)
                QVERIFY(idle());
            QVERIFY2(!QTest::currentTestFailed(), qPrintable(step));
        }
    }
};

LUMISORT_GUI_TEST_MAIN(TestReassignViewController)
#include "tst_reassignviewcontroller.moc"
