#include "ReassignViewController.h"

#include "BarcodeEntryRules.h"
#include "MyVimoNSview.h"
#include "PromptReassignModeViewController.h"
#include "ReassignRules.h"
#include "SheetFrameMemory.h"
#include "model/BarcodeText.h"
#include "roster/RosterSource.h"
#include "settings/SettingsKeys.h"
#include "settings/SettingsQueries.h"
#include "settings/SettingsStore.h"
#include "settings/SharedConstants.h"
#include "support/Alert.h"
#include "support/Dispatch.h"
#include "support/NotificationCenter.h"
#include "support/NotificationNames.h"
#include "support/Plural.h"
#include "support/SerialQueue.h"
#include "support/SheetRegistry.h"
#include "support/SystemLog.h"
#include "support/SystemSound.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>

using namespace Qt::StringLiterals;

// --- the sheet ---------------------------------------------------------------------

ReassignViewController::ReassignViewController(QWidget *parent)
    : QDialog(parent)
    , entryPipeline(this, getWorkingQueue(),
                    {[this] { takeFieldOut(); }, [this] { return hasFieldAction(); }, [this] { removeFieldAction(); },
                     [this] { return doValidateTextField(ibNSTextField); },
                     [this](const QString &direction) { moveInDirection(direction); },
                     [this](bool restoreAction) { finishEntry(restoreAction); }})
    , m_frame(new SheetFrameMemory(this, cPrefReassignWindowFrame))
{
    setWindowModality(Qt::WindowModal);
    setWindowTitle(u"Reassign"_s);
    setupUi(this);
    connectActions();

    resize(820, 680);
    m_frame->restore();
    ibAssignUnknownNSButon->setHidden(session.isAutomatic());

    viewDidLoad();
}

ReassignViewController::~ReassignViewController()
{
    NotificationCenter::defaultCenter().removeObserver(this);
}

void ReassignViewController::registerSheets()
{
    SheetRegistry::registerSheet(u"dummyButtonSegue1"_s,
                                 [](QWidget *window) { return new ReassignViewController(window); });
    SheetRegistry::registerSheet(u"dummyButtonSegue4"_s,
                                 [](QWidget *window) { return new PromptReassignModeViewController(window); });
}

void ReassignViewController::connectActions()
{
    const std::pair<QPushButton *, void (ReassignViewController::*)(QObject *)> actions[] = {
        {ibBeginningButton, &ReassignViewController::doBeginningButtonAction},
        {ibLeftButton, &ReassignViewController::doLeftButtonAction},
        {ibRightButton, &ReassignViewController::doRightButtonAction},
        {ibEndButton, &ReassignViewController::doEndButtonAction},
        {ibClearButton, &ReassignViewController::doClearButton},
        {ibCancelButton, &ReassignViewController::doCancel},
        {ibAssignUnknownNSButon, &ReassignViewController::doSetAsUnknownButton},
        {ibReassignButton, &ReassignViewController::doReassign}};
    for (const auto &[button, action] : actions)
        connect(button, &QPushButton::clicked, this, [this, button, action] { (this->*action)(button); });
    connect(ibNSTextField, &QLineEdit::textChanged, this, &ReassignViewController::updateReassignButton);
    connectFieldAction();
    ibNSTextField->setFocus(Qt::OtherFocusReason);
}

void ReassignViewController::viewDidLoad()
{
    // Widgets are touched on the main thread only. From another thread this never waits:
    // the main thread may be closing the sheet and waiting for this delivery.
    QPointer<ReassignViewController> self(this);
    const auto take = [self](const Notification &notification) {
        if (self)
            self->doNotification1(notification);
    };
    NotificationCenter::defaultCenter().addObserver(this, NotificationNames::myReassignId,
                                                    [take](const Notification &n) {
                                                        if (Dispatch::isMainThread())
                                                            take(n);
                                                        else
                                                            Dispatch::onMain([take, n] { take(n); });
                                                    });
    SettingsStore &store = SettingsStore::standard();
    store.setString(QString(), cPrefReassignedBarcodeString);
    storeLengthHint();
    refreshFromSettings();
}

void ReassignViewController::storeLengthHint()
{
    SettingsStore::standard().setString(BarcodeEntryRules::stored().lengthHint(), cPrefReassignPromptString2);
}

void ReassignViewController::setSetting(const QVariant &value, const QString &key)
{
    SettingsStore::standard().setObject(value, key);
    refreshFromSettings();
}

void ReassignViewController::refreshFromSettings()
{
    showSettings(session.sortedurlstochange ? session.sortedurlstochange->size() : 0);
    updateReassignButton();
}

void ReassignViewController::updateReassignButton()
{
    const QString entry = BarcodeEntryRules::entryOf(ibNSTextField->text());
    showReassignButton(entry, session.isAutomatic(), session.applyingReadings);
    showSubjectOf(entry);
}

void ReassignViewController::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (event->spontaneous())
        return;
    SettingsStore::standard().removeObjectForKey(cPrefReassignImageViewPath);
    refreshFromSettings();
    if (!fieldOut)
        ibNSTextField->setFocus(Qt::OtherFocusReason);
}

void ReassignViewController::done(int result)
{
    NotificationCenter::defaultCenter().removeObserver(this);
    removeFieldAction();
    m_frame->stop();
    QDialog::done(result);
}

void ReassignViewController::reject()
{
    doCancel(nullptr);
}

// --- receiving the photos ---------------------------------------------------------------

void ReassignViewController::doNotification1(const Notification &notification)
{
    SettingsStore &store = SettingsStore::standard();
    session.takeReadings(notification.userInfo.value(NotificationKeys::detectedCodes), BarcodeEntryRules::stored());
    if (session.applyingReadings)
        setWindowTitle(u"Apply Barcodes"_s);
    ibAssignUnknownNSButon->setHidden(session.isAutomatic());

    if (const std::optional<QVariant> prompt =
            ReassignRunText::prompt(store.dictionaryForKey(cPrefReassignPromptDict),
                                    store.integerForKey(cPrefRadioSet1SelectedTag), session.applyingReadings))
        store.setObject(*prompt, cPrefReassignPromptString);

    const std::optional<QList<QUrl>> received = session.takeFolder(notification.userInfo);
    QString title = cDefaultUnknownTitle;
    if (const std::optional<QString> format = store.stringForKey(cPrefDoReassignAllTheseToUnknownStringFormat))
        title = ReassignRunText::unknownTitle(*format, received ? received->size() : 0);
    store.setString(title, cPrefReassignAsUnknownButtonTitle);

    showProblem(QString());
    session.takePhotos(received, store.boolForKey(cPrefReverseAssignBarcode));
    // The position shown must not be the one left from the previous sheet.
    store.setString(session.curindexString, cPrefCurIndexString);
    showPhotoAt(session.curindex);
    refreshFromSettings();
    if (session.applyingReadings) {
        ibNSTextField->selectAll();
        offerAgreedLength();
    }
}

void ReassignViewController::setUrlsToChange(const std::optional<QList<QUrl>> &urls)
{
    session.setUrlsToChange(urls);
}

void ReassignViewController::showPhotoAt(int index)
{
    if (!session.hasPhotoAt(index))
        return;
    SettingsStore &store = SettingsStore::standard();
    const QString path = session.pathAt(index);
    store.setString(path, cPrefReassignImageViewPath);
    const std::optional<QString> accepted = session.acceptedFor(path);
    if (const std::optional<QString> shown = accepted ? accepted : session.proposalFor(path))
        store.setString(*shown, cPrefReassignedBarcodeString);
    refreshFromSettings();
    // The photos a Return or an arrow shows next are decoded now, so that they appear at once.
    ibNSImageView->preload(session.neighboursOf(index));
    if (!session.applyingReadings)
        return;
    offerDetectedCodes(path);
    // Shown, never taken: Return on it is refused like a partial scan.
    if (!accepted) {
        if (const std::optional<QString> problem = BarcodeEntryRules::stored().proposalProblem(ibNSTextField->text()))
            showProblem(*problem);
    }
}

void ReassignViewController::offerDetectedCodes(const QString &path)
{
    showDetectedCodes(session.detectedCodes.value(path));
    for (QPushButton *button : std::as_const(detectedCodeButtons)) {
        connect(button, &QPushButton::clicked, this, [this, code = button->text()] {
            if (fieldOut)
                return;
            setSetting(code, cPrefReassignedBarcodeString);
            showProblem(BarcodeEntryRules::stored().rejectionOf(code).value_or(QString()));
            ibNSTextField->setFocus(Qt::OtherFocusReason);
            ibNSTextField->selectAll();
        });
    }
}

void ReassignViewController::setupBarcodeArray()
{
    if (!session.isAutomatic()) {
        // So the next scan replaces the barcode instead of adding to it.
        Dispatch::onMain(this, [this] { ibNSTextField->selectAll(); });
        return;
    }
    SettingsStore &store = SettingsStore::standard();
    const QString barcode = store.stringForKey(cPrefReassignedBarcodeString).value_or(QString()).trimmed();
    if (const std::optional<QString> problem = BarcodeText::problem(barcode)) {
        logLine(u"ReassignViewController -> setupBarcodeArray.... not recorded ["_s + barcode + u"]: "_s + *problem);
        showProblem(*problem);
    } else {
        session.record(barcode);
    }
    store.removeObjectForKey(cPrefReassignedBarcodeString);
    refreshFromSettings();
}

// --- confirming ---------------------------------------------------------------------

void ReassignViewController::doReassign(QObject *)
{
    // What the field shows is what is applied: an entry not yet taken with Return is
    // checked and taken now, and an emptied field brings back no barcode taken before.
    const QString entry = BarcodeEntryRules::entryOf(ibNSTextField->text());
    if (const std::optional<QString> rejection = BarcodeEntryRules::stored().rejectionOf(entry)) {
        logLine(u"ReassignViewController -> doReassign.... refused ["_s + entry + u"]"_s);
        showProblem(*rejection);
        warnAndStay(u"! BARCODE REFUSED !"_s, *rejection);
        return;
    }
    setSetting(entry, cPrefReassignedBarcodeString);
    reassignWithStoredBarcode();
}

void ReassignViewController::reassignWithStoredBarcode()
{
    SettingsStore &store = SettingsStore::standard();
    if (session.isAutomatic()) {
        setupBarcodeArray();
        if (session.applyingReadings)
            confirmAutomaticRun();
        else
            runAutomatic(session.barcodesForRun(), store.boolForKey(cPrefReverseAssignBarcode));
        return;
    }
    const QString barcode = store.stringForKey(cPrefReassignedBarcodeString).value_or(QString());
    if (ReassignRules::isEmptyBarcode(barcode)) {
        warnAndStay(u"! NO BARCODE ENTERED !"_s, u"Please enter a valid barcode."_s);
        return;
    }
    if (const std::optional<QString> problem = BarcodeText::problem(barcode)) {
        showProblem(*problem);
        warnAndStay(u"! BARCODE REFUSED !"_s, *problem);
        return;
    }
    const ReassignRun::Report report = ReassignRun::oneBarcode(session.urlstochange, barcode);
    logLine(u"ReassignViewController -> doReassign.... one barcode ["_s + barcode + u"], journal "_s
            + report.journalPath);
    finishRun(report);
}

void ReassignViewController::confirmAutomaticRun()
{
    if (!session.fullUrlList) {
        runAutomatic({}, false);
        return;
    }
    const QHash<QString, QString> barcodes = session.barcodesForRun();
    if (refuseUnresolvedReadings(barcodes))
        return;
    const bool reverse = SettingsStore::standard().boolForKey(cPrefReverseAssignBarcode);
    ReassignRunText::Message summary = ReassignRunText::automaticRunSummary(
        ReassignRun::automaticPlan(*session.fullUrlList, barcodes, reverse), barcodes, session.fullUrlList->size());
    // Before anything is renamed, the codes the roster lacks are named: each is likely a misread.
    QStringList unlisted;
    for (const QString &code : barcodes) {
        if (!unlisted.contains(code)
            && RosterSource::shared().lookUp(code).kind == RosterSource::Lookup::Kind::Unlisted)
            unlisted.append(code);
    }
    if (!unlisted.isEmpty()) {
        unlisted.sort();
        summary.body += u"\n\nNot on the roster: "_s + unlisted.join(u", "_s) + u". Check "_s
            + (unlisted.size() == 1 ? u"it"_s : u"them"_s) + u" before going on."_s;
    }
    QPointer<ReassignViewController> self(this);
    Alert::beginSheet(this, alertOf(summary), [self, barcodes, reverse, summary](int answer) {
        if (!self)
            return;
        if (summary.buttons.size() > 1 && answer == Alert::cSecondButtonReturn)
            self->runAutomatic(barcodes, reverse);
        else
            self->backToPhoto(self->session.curindex);
    });
}

bool ReassignViewController::refuseUnresolvedReadings(const QHash<QString, QString> &barcodes)
{
    const ReassignSession::Unresolved unresolved = session.unresolvedReadings(barcodes, BarcodeEntryRules::stored());
    if (unresolved.photos.isEmpty())
        return false;
    const ReassignRunText::Message message = ReassignRunText::unresolvedReadings(unresolved.photos);
    logLine(u"ReassignViewController -> doReassign.... refused readings: "_s + message.body);
    warnAndStay(message);
    backToPhoto(unresolved.first);
    return true;
}

void ReassignViewController::backToPhoto(int index)
{
    session.moveTo(index);
    setSetting(session.curindexString, cPrefCurIndexString);
    // The code taken for it comes back into the field, ready for Return.
    showPhotoAt(session.curindex);
    ibNSTextField->setFocus(Qt::OtherFocusReason);
    ibNSTextField->selectAll();
}

void ReassignViewController::offerAgreedLength()
{
    const BarcodeEntryRules rules = BarcodeEntryRules::stored();
    const std::optional<qsizetype> agreed = rules.agreedLength(session.detectedCodes);
    if (!agreed)
        return;
    QPointer<ReassignViewController> self(this);
    Alert::beginSheet(this, alertOf(ReassignRunText::agreedLengthOffer(*agreed, rules.required())),
                      [self, agreed](int answer) {
                          if (!self || answer != Alert::cSecondButtonReturn)
                              return;
                          SettingsStore::standard().setInteger(*agreed, cPrefReassignedBarcodeRequiredLength);
                          self->storeLengthHint();
                          self->showProblem(QString());
                          self->backToPhoto(self->session.curindex);
                      });
}

void ReassignViewController::runAutomatic(const QHash<QString, QString> &barcodeOfPath, bool reverse)
{
    ReassignRun::Report report;
    if (!session.fullUrlList) {
        logLine(u"ReassignViewController -> doReassign.... no list of the folder's photos: nothing renamed"_s);
    } else {
        report = ReassignRun::automatic(*session.fullUrlList, barcodeOfPath, reverse);
        if (!report.refusal.isEmpty()) {
            warnAndStay(u"! BARCODE REFUSED !"_s, report.refusal);
            return;
        }
        logLine(u"ReassignViewController -> doReassign.... automatic run, journal "_s + report.journalPath);
    }
    finishRun(report);
}

void ReassignViewController::finishRun(const ReassignRun::Report &report)
{
    if (!report.started) {
        warnAndStay(ReassignRunText::notStarted(report.journalError));
        return;
    }
    QWidget *window = parentWidget();
    accept();
    NotificationCenter::defaultCenter().post(NotificationNames::myRefreshId,
                                             {{NotificationKeys::command, NotificationValues::refresh}});
    if (const std::optional<ReassignRunText::Message> kept = ReassignRunText::afterRun(report))
        Alert::beginSheet(window, alertOf(*kept));
}

void ReassignViewController::doSetAsUnknownButton(QObject *)
{
    setSetting(u"UNKNOWN"_s, cPrefReassignedBarcodeString);
    reassignWithStoredBarcode();
}

void ReassignViewController::doCancel(QObject *)
{
    m_frame->store();
    QDialog::reject();
}

void ReassignViewController::doClearButton(QObject *)
{
    Dispatch::onMain(this, [this] {
        setSetting(QString(), cPrefReassignedBarcodeString);
        connectFieldAction();
    });
}

void ReassignViewController::doTest1Button(QObject *)
{
    Dispatch::onMain(this, [this] { removeFieldAction(); });
}

// --- the entry pipeline ---------------------------------------------------------------

void ReassignViewController::connectFieldAction()
{
    if (!m_fieldAction)
        m_fieldAction =
            connect(ibNSTextField, &QLineEdit::returnPressed, this, [this] { doTextFieldAction(ibNSTextField); });
}

void ReassignViewController::removeFieldAction()
{
    disconnect(m_fieldAction);
    m_fieldAction = {};
}

void ReassignViewController::doTextFieldAction(QObject *)
{
    // Return moves on as the right button does, and on the last photo it finishes,
    // as it does when applying barcodes read.
    doTextFieldActionNew3(ibNSTextField, u"return"_s);
}

void ReassignViewController::doRightButtonAction(QObject *)
{
    doTextFieldActionNew3(ibNSTextField, u"right"_s);
}

void ReassignViewController::doLeftButtonAction(QObject *)
{
    doTextFieldActionNew3(ibNSTextField, u"left"_s);
}

void ReassignViewController::doBeginningButtonAction(QObject *)
{
    doTextFieldActionNew3(ibNSTextField, u"leftend"_s);
}

void ReassignViewController::doEndButtonAction(QObject *)
{
    doTextFieldActionNew3(ibNSTextField, u"rightend"_s);
}

void ReassignViewController::doTextFieldActionNew3(QLineEdit *field, const QString &direction)
{
    if (field == ibNSTextField)
        entryPipeline.submit(direction);
}

void ReassignViewController::moveInDirection(const QString &direction)
{
    const QString where = direction.toLower();
    const bool last = session.sortedurlstochange && session.curindex >= int(session.sortedurlstochange->size()) - 1;
    if (where == u"return"_s && last && !session.applyingReadings)
        reassignWithStoredBarcode();
    else if (where == u"left"_s)
        doLeftButton();
    else if (where == u"leftend"_s)
        doGoToBeginning();
    else if (where == u"rightend"_s)
        doGoToEnd();
    else
        doRightButton();
}

void ReassignViewController::finishEntry(bool restoreAction)
{
    getSoundQueue().async(playEntrySound);
    // A scan replaces the code proposed, it never adds to it.
    bringFieldBack(session.applyingReadings);
    update();
    if (restoreAction)
        connectFieldAction();
}

bool ReassignViewController::doValidateTextField(QLineEdit *field)
{
    if (!field) {
        logLine(u"ReassignViewController -> doValidateTextField.... no text field"_s);
        return false;
    }
    const QString entry = BarcodeEntryRules::entryOf(field->text());
    // Shown until the next entry, so the operator knows why the field emptied.
    const std::optional<QString> rejection = BarcodeEntryRules::stored().rejectionOf(entry);
    showProblem(rejection.value_or(QString()));
    if (rejection) {
        logLine(u"....Invalid Scan ["_s + entry + u"]... "_s + *rejection);
        field->clear();
        getSoundQueue().async([] {
            for (int i = 0; i < 3; ++i) {
                SystemSound::play(SystemSound::Beep);
                QThread::msleep(200);
            }
        });
        return false;
    }
    // A code the roster lacks is most often a misread or a slip of the keys: the first Return
    // on it says so and keeps it in the field, the second takes it.
    if (RosterSource::shared().lookUp(entry).kind == RosterSource::Lookup::Kind::Unlisted && entry != m_unlistedAsked) {
        logLine(u"....Not on the roster ["_s + entry + u"]: asked once more"_s);
        m_unlistedAsked = entry;
        showProblem(u"The code "_s + entry + u" is not on the roster. Check it, then press Return again to take it."_s);
        getSoundQueue().async([] { SystemSound::play(SystemSound::Beep); });
        return false;
    }
    m_unlistedAsked.clear();
    setSetting(entry, cPrefReassignedBarcodeString);
    return true;
}

// --- moving through the photos ---------------------------------------------------------

void ReassignViewController::moveBy(int delta)
{
    setupBarcodeArray();
    if (!session.sortedurlstochange || session.sortedurlstochange->isEmpty())
        return;
    const ReassignSession::Step step = session.stepBy(delta);
    if (step.confirm) {
        showPhotoAt(session.curindex);
        confirmAutomaticRun();
        return;
    }
    if (step.beyondEnd)
        getSoundQueue().async([] { SystemSound::play(SystemSound::Beep); });
    session.moveTo(step.index);
    setSetting(session.curindexString, cPrefCurIndexString);
    showPhotoAt(session.curindex);
}

void ReassignViewController::doRightButton(QObject *)
{
    moveBy(1);
}

void ReassignViewController::doLeftButton(QObject *)
{
    moveBy(-1);
}

void ReassignViewController::doGoToBeginning(QObject *)
{
    setupBarcodeArray();
    if (!session.sortedurlstochange || session.sortedurlstochange->isEmpty())
        return;
    session.moveTo(0);
    Dispatch::onMain(this, [this] {
        setSetting(session.curindexString, cPrefCurIndexString);
        showPhotoAt(session.curindex);
    });
}

void ReassignViewController::doGoToEnd(QObject *)
{
    setupBarcodeArray();
    if (!session.sortedurlstochange || session.sortedurlstochange->isEmpty())
        return;
    session.moveTo(int(session.sortedurlstochange->size()) - 1);
    setSetting(session.curindexString, cPrefCurIndexString);
    Dispatch::onMain(this, [this] { showPhotoAt(session.curindex); });
}

// --- keys and the window ---------------------------------------------------------------

void ReassignViewController::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        // Only a Return that did not come through the field gets here: while an entry
        // is processed that is a scan arriving too soon, which is dropped — audibly.
        if (entryPipeline.isInsideAction || fieldOut) {
            logLine(u"ReassignViewController -> scan dropped: the previous entry is still being processed"_s);
            SystemSound::play(SystemSound::Beep);
        }
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void ReassignViewController::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    windowDidResize();
    m_frame->resized();
}

void ReassignViewController::windowDidResize()
{
    logLine(u"ReassignViewController -> windowDidResize.... "_s + SheetFrameMemory::frameText(geometry()));
}
