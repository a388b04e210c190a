#include "ReassignViewController.h"

#include "BarcodeEntryRules.h"
#include "BarcodeText.h"
#include "MyVimoNSview.h"
#include "PromptReassignModeViewController.h"
#include "ReassignRules.h"
#include "browser/NotificationNames.h"
#include "browser/SheetRegistry.h"
#include "shell/SettingsKeys.h"
#include "shell/SettingsQueries.h"
#include "shell/SettingsStore.h"
#include "support/Alert.h"
#include "support/Dispatch.h"
#include "support/NotificationCenter.h"
#include "support/SerialQueue.h"
#include "support/SystemLog.h"
#include "support/SystemSound.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace {
const QString cDefaultUnknownTitle = u"Mark Photos as UNKNOWN"_s;
// The longest barcode a button title shows whole; the tooltip has all of it.
constexpr int cTitleBarcodeChars = 24;

Alert::Content contentOf(const ReassignRunText::Message &message)
{
    return {message.informational ? Alert::Style::Informational : Alert::Style::Warning, message.title, message.body,
            message.buttons};
}

// Return is taken here, so it never travels on to the sheet, where it would
// count as a scan arriving while the field is out of the way.
class BarcodeField : public QLineEdit
{
public:
    using QLineEdit::QLineEdit;

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        QLineEdit::keyPressEvent(event);
        if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
            event->accept();
    }
};

std::optional<QList<QUrl>> urlListFrom(const QVariant &value)
{
    if (value.metaType() != QMetaType::fromType<QList<QUrl>>())
        return std::nullopt;
    return value.value<QList<QUrl>>();
}

void playEntrySound()
{
    if (SystemSound::exists(u"Glass"_s))
        SystemSound::play(SystemSound::Glass);
    else if (SystemSound::exists(u"Purr"_s))
        SystemSound::play(SystemSound::Purr);
    else
        logLine(u"point cannot find sound"_s);
}
} // namespace

// --- the sheet ---------------------------------------------------------------------

ReassignViewController::ReassignViewController(QWidget *parent)
    : QDialog(parent)
    , entryPipeline(this, getWorkingQueue(),
                    {[this] { takeFieldOutOfKeyPath(); }, [this] { return hasFieldAction(); },
                     [this] { removeFieldAction(); }, [this] { return doValidateTextField(ibNSTextField); },
                     [this](const QString &direction) { moveInDirection(direction); },
                     [this](bool restoreAction) { finishEntry(restoreAction); }})
    , m_frameTimer(new QTimer(this))
{
    setWindowModality(Qt::WindowModal);
    setWindowTitle(u"Reassign"_s);
    buildInterface();

    resize(820, 680);
    if (const std::optional<QString> text = SettingsStore::standard().stringForKey(cPrefReassignWindowFrame)) {
        if (const std::optional<QRect> frame = parseFrame(*text))
            resize(frame->size());
    }
    ibAssignUnknownNSButon->setHidden(session.isAutomatic());

    m_frameTimer->setSingleShot(true);
    m_frameTimer->setInterval(cFrameSettleMs);
    connect(m_frameTimer, &QTimer::timeout, this, &ReassignViewController::storeFrame);
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

// Never destroyed: a job still sleeping at exit must not meet a queue torn down by static destruction.
SerialQueue &ReassignViewController::getWorkingQueue()
{
    static SerialQueue *queue = new SerialQueue(u"lumisort.reassign.working"_s);
    return *queue;
}

SerialQueue &ReassignViewController::getSoundQueue()
{
    static SerialQueue *queue = new SerialQueue(u"lumisort.reassign.sound"_s);
    return *queue;
}

void ReassignViewController::buildInterface()
{
    contentView = new MyVimoNSview(this);
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(contentView);

    const auto makeButton = [this](const QString &title, void (ReassignViewController::*action)(QObject *)) {
        auto *button = new QPushButton(title, contentView);
        // A Return the sheet receives must never press a button, and a click must
        // leave the keyboard with the barcode field.
        button->setAutoDefault(false);
        button->setDefault(false);
        button->setFocusPolicy(Qt::TabFocus);
        connect(button, &QPushButton::clicked, this, [this, button, action] { (this->*action)(button); });
        return button;
    };

    ibNSImageView = new ReassignImageView(contentView);
    ibBeginningButton = makeButton(u"◀◀ First"_s, &ReassignViewController::doBeginningButtonAction);
    ibLeftButton = makeButton(u"◀ Previous"_s, &ReassignViewController::doLeftButtonAction);
    ibCurIndexLabel = new QLabel(contentView);
    ibCurIndexLabel->setAlignment(Qt::AlignCenter);
    ibCurIndexLabel->setMinimumWidth(60);
    ibRightButton = makeButton(u"Next ▶"_s, &ReassignViewController::doRightButtonAction);
    ibEndButton = makeButton(u"Last ▶▶"_s, &ReassignViewController::doEndButtonAction);
    ibPromptLabel = new QLabel(contentView);
    ibPromptLabel->setWordWrap(true);
    QFont bold = ibPromptLabel->font();
    bold.setBold(true);
    ibPromptLabel->setFont(bold);
    ibPrompt2Label = new QLabel(contentView);
    ibPrompt2Label->setWordWrap(true);
    ibNSTextField = new BarcodeField(contentView);
    ibNSTextField->setPlaceholderText(u"Barcode"_s);
    ibProblemLabel = new QLabel(contentView);
    ibProblemLabel->setWordWrap(true);
    ibProblemLabel->setStyleSheet(u"color: #b00020; font-weight: bold;"_s);
    ibProblemLabel->hide();
    // Shown and hidden from photo to photo: the rows above, the photo among them, keep their places.
    QSizePolicy keepsPlace = ibProblemLabel->sizePolicy();
    keepsPlace.setRetainSizeWhenHidden(true);
    ibProblemLabel->setSizePolicy(keepsPlace);
    ibProblemLabel->setMinimumHeight(ibProblemLabel->fontMetrics().lineSpacing() * 3);
    ibClearButton = makeButton(u"Clear"_s, &ReassignViewController::doClearButton);
    ibCancelButton = makeButton(u"Cancel"_s, &ReassignViewController::doCancel);
    ibAssignUnknownNSButon = makeButton(cDefaultUnknownTitle, &ReassignViewController::doSetAsUnknownButton);
    ibReassignButton = makeButton(u"Reassign"_s, &ReassignViewController::doReassign);

    auto *layout = new QVBoxLayout(contentView);
    layout->addWidget(ibNSImageView, 1);
    auto *navigation = new QHBoxLayout;
    navigation->addStretch();
    navigation->addWidget(ibBeginningButton);
    navigation->addWidget(ibLeftButton);
    navigation->addWidget(ibCurIndexLabel);
    navigation->addWidget(ibRightButton);
    navigation->addWidget(ibEndButton);
    navigation->addStretch();
    layout->addLayout(navigation);
    layout->addWidget(ibPromptLabel);
    layout->addWidget(ibPrompt2Label);
    layout->addWidget(ibNSTextField);
    ibDetectedCodesRow = new QWidget(contentView);
    auto *codesLayout = new QHBoxLayout(ibDetectedCodesRow);
    codesLayout->setContentsMargins(0, 0, 0, 0);
    codesLayout->addWidget(new QLabel(u"Codes read in this photo:"_s, ibDetectedCodesRow));
    ibDetectedCodesRow->hide();
    ibDetectedCodesRow->setSizePolicy(keepsPlace);
    layout->addWidget(ibDetectedCodesRow);
    layout->addWidget(ibProblemLabel);
    auto *actions = new QHBoxLayout;
    actions->addWidget(ibClearButton);
    actions->addStretch();
    actions->addWidget(ibCancelButton);
    actions->addWidget(ibAssignUnknownNSButon);
    actions->addWidget(ibReassignButton);
    layout->addLayout(actions);

    connect(ibNSTextField, &QLineEdit::textChanged, this, &ReassignViewController::updateReassignButton);
    connectFieldAction();
    ibNSTextField->setFocus(Qt::OtherFocusReason);
}

void ReassignViewController::viewDidLoad()
{
    QPointer<ReassignViewController> self(this);
    NotificationCenter::defaultCenter().addObserver(this, NotificationNames::myReassignId,
                                                    [self](const Notification &notification) {
                                                        // Widgets are touched on the main thread only. From
                                                        // another thread this never waits: the main thread may
                                                        // be closing the sheet and waiting for this delivery.
                                                        const auto take = [self, notification] {
                                                            if (self)
                                                                self->doNotification1(notification);
                                                        };
                                                        if (Dispatch::isMainThread())
                                                            take();
                                                        else
                                                            Dispatch::onMain(take);
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
    const SettingsStore &store = SettingsStore::standard();
    ibNSImageView->setPath(store.stringForKey(cPrefReassignImageViewPath).value_or(QString()));
    // The setting counts from 0; people count from 1.
    QString position;
    bool isIndex = false;
    const int index = store.stringForKey(cPrefCurIndexString).value_or(QString()).toInt(&isIndex);
    if (isIndex && session.hasPhotoAt(index))
        position = QString::number(index + 1) + u" of "_s + QString::number(session.sortedurlstochange->size());
    ibCurIndexLabel->setText(position);
    ibPromptLabel->setText(store.stringForKey(cPrefReassignPromptString).value_or(QString()));
    ibPrompt2Label->setText(store.stringForKey(cPrefReassignPromptString2).value_or(QString()));
    ibAssignUnknownNSButon->setText(
        store.stringForKey(cPrefReassignAsUnknownButtonTitle).value_or(cDefaultUnknownTitle));
    // Setting equal text would still move the cursor and drop the selection.
    const QString barcode = store.stringForKey(cPrefReassignedBarcodeString).value_or(QString());
    if (ibNSTextField->text() != barcode)
        ibNSTextField->setText(barcode);
    updateReassignButton();
}

void ReassignViewController::updateReassignButton()
{
    // Confirming applies what the field shows, so the button says what that is.
    if (session.isAutomatic()) {
        // Each barcode photo brings its own barcode, an empty field included.
        ibReassignButton->setText(session.applyingReadings ? u"Reassign…"_s : u"Reassign"_s);
        ibReassignButton->setToolTip(QString());
        ibReassignButton->setEnabled(true);
        return;
    }
    const QString entry = BarcodeEntryRules::entryOf(ibNSTextField->text());
    ibReassignButton->setEnabled(!entry.isEmpty());
    ibReassignButton->setToolTip(entry.isEmpty() ? QString() : u"Reassign to "_s + entry);
    ibReassignButton->setText(
        entry.isEmpty() ? u"Reassign"_s
                        : u"Reassign to "_s
                + ibReassignButton->fontMetrics().elidedText(
                    entry, Qt::ElideMiddle,
                    ibReassignButton->fontMetrics().horizontalAdvance(QString(cTitleBarcodeChars, u'0'))));
}

void ReassignViewController::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (event->spontaneous())
        return;
    SettingsStore::standard().removeObjectForKey(cPrefReassignImageViewPath);
    refreshFromSettings();
    if (!m_fieldOut)
        ibNSTextField->setFocus(Qt::OtherFocusReason);
}

void ReassignViewController::done(int result)
{
    NotificationCenter::defaultCenter().removeObserver(this);
    removeFieldAction();
    m_frameTimer->stop();
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

    if (const std::optional<QVariantMap> prompts = store.dictionaryForKey(cPrefReassignPromptDict)) {
        if (prompts->contains(u"unknown"_s))
            store.setObject(prompts->value(u"unknown"_s), cPrefReassignPromptString);
        const QString tag = QString::number(store.integerForKey(cPrefRadioSet1SelectedTag));
        if (prompts->contains(tag))
            store.setObject(prompts->value(tag), cPrefReassignPromptString);
    }
    if (session.applyingReadings)
        store.setString(u"Check the barcode read in this photo: Return accepts it; type or scan to correct it."_s,
                        cPrefReassignPromptString);

    if (std::optional<QList<QUrl>> all = urlListFrom(notification.userInfo.value(NotificationKeys::fulSortedlUrlList)))
        session.fullUrlList = std::move(all);

    const std::optional<QList<QUrl>> received =
        urlListFrom(notification.userInfo.value(NotificationKeys::urlstochange));
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
    qDeleteAll(detectedCodeButtons);
    detectedCodeButtons.clear();
    const QStringList codes = session.detectedCodes.value(path);
    for (const QString &code : codes) {
        auto *button = new QPushButton(code, ibDetectedCodesRow);
        button->setToolTip(u"Put this code in the field"_s);
        // The keyboard stays with the field, where a scanner types.
        button->setFocusPolicy(Qt::NoFocus);
        button->setAutoDefault(false);
        connect(button, &QPushButton::clicked, this, [this, code] {
            if (m_fieldOut)
                return;
            setSetting(code, cPrefReassignedBarcodeString);
            showProblem(BarcodeEntryRules::stored().rejectionOf(code).value_or(QString()));
            ibNSTextField->setFocus(Qt::OtherFocusReason);
            ibNSTextField->selectAll();
        });
        ibDetectedCodesRow->layout()->addWidget(button);
        detectedCodeButtons.append(button);
    }
    // One code is already in the field: the row is for choosing among several.
    ibDetectedCodesRow->setVisible(codes.size() > 1);
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
    const ReassignRunText::Message summary = ReassignRunText::automaticRunSummary(
        ReassignRun::automaticPlan(*session.fullUrlList, barcodes, reverse), barcodes, session.fullUrlList->size());
    QPointer<ReassignViewController> self(this);
    Alert::beginSheet(this, contentOf(summary), [self, barcodes, reverse, summary](int answer) {
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
    Alert::beginSheet(this, contentOf(ReassignRunText::agreedLengthOffer(*agreed, rules.required())),
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

void ReassignViewController::warnAndStay(const QString &message, const QString &informative)
{
    QPointer<ReassignViewController> self(this);
    Dispatch::inBackground([self, message, informative] {
        SystemSound::play(SystemSound::Beep);
        Dispatch::onMain([self, message, informative] {
            if (self)
                Alert::beginSheet(self, {Alert::Style::Warning, message, informative, {u"OK"_s}});
        });
    });
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
        Alert::beginSheet(window, contentOf(*kept));
}

void ReassignViewController::showProblem(const QString &problem)
{
    ibProblemLabel->setText(problem);
    ibProblemLabel->setVisible(!problem.isEmpty());
}

void ReassignViewController::doSetAsUnknownButton(QObject *)
{
    setSetting(u"UNKNOWN"_s, cPrefReassignedBarcodeString);
    reassignWithStoredBarcode();
}

void ReassignViewController::doCancel(QObject *)
{
    storeFrame();
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

void ReassignViewController::takeFieldOutOfKeyPath()
{
    // Focus goes to the content view first: hiding the focused field would hand
    // the keys to whatever comes next in the focus chain.
    m_fieldOut = true;
    contentView->setFocus(Qt::OtherFocusReason);
    // Read-only as well: it takes no text even when sent keys directly. It stays where it is,
    // so that nothing on the sheet blinks or moves at each Return.
    ibNSTextField->setReadOnly(true);
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
    ibNSTextField->setReadOnly(false);
    m_fieldOut = false;
    update();
    ibNSTextField->setFocus(Qt::OtherFocusReason);
    if (restoreAction)
        connectFieldAction();
    // A scan replaces the code proposed, it never adds to it.
    if (session.applyingReadings)
        ibNSTextField->selectAll();
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
        if (entryPipeline.isInsideAction || m_fieldOut) {
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
    if (isVisible())
        m_frameTimer->start();
}

void ReassignViewController::windowDidResize()
{
    logLine(u"ReassignViewController -> windowDidResize.... "_s + frameText(geometry()));
}

void ReassignViewController::storeFrame()
{
    SettingsStore::standard().setString(frameText(geometry()), cPrefReassignWindowFrame);
}

QString ReassignViewController::frameText(const QRect &frame)
{
    return QString::number(frame.x()) + u',' + QString::number(frame.y()) + u',' + QString::number(frame.width()) + u','
        + QString::number(frame.height());
}

std::optional<QRect> ReassignViewController::parseFrame(const QString &text)
{
    const QStringList parts = text.split(u',');
    if (parts.size() != 4)
        return std::nullopt;
    int values[4] = {};
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        values[i] = parts.at(i).trimmed().toInt(&ok);
        if (!ok)
            return std::nullopt;
    }
    if (values[2] <= 0 || values[3] <= 0)
        return std::nullopt;
    return QRect(values[0], values[1], values[2], values[3]);
}
