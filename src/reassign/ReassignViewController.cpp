#include "ReassignViewController.h"

#include "MyVimoNSview.h"
#include "PromptReassignModeViewController.h"
#include "ReassignRules.h"
#include "model/BarcodeText.h"
#include "settings/SettingsKeys.h"
#include "settings/SettingsQueries.h"
#include "settings/SettingsStore.h"
#include "settings/SharedConstants.h"
#include "support/Alert.h"
#include "support/Dispatch.h"
#include "support/NativePath.h"
#include "support/NotificationCenter.h"
#include "support/NotificationNames.h"
#include "support/Plural.h"
#include "support/SerialQueue.h"
#include "support/SheetRegistry.h"
#include "support/SystemLog.h"
#include "support/SystemSound.h"

#include <QFileInfo>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSet>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

using namespace Qt::StringLiterals;

namespace {
const QString cDefaultUnknownTitle = u"Mark Photos as UNKNOWN"_s;
// The longest barcode a button title shows whole; the tooltip has all of it.
constexpr int cTitleBarcodeChars = 24;

// The title format of the unknown button: "[val1]" is the number of photos, and a word
// written with "(s)" agrees with it ("Mark [val1] Photo(s) as UNKNOWN").
QString unknownTitle(const QString &format, qsizetype count)
{
    return QString(format)
        .replace(u"[val1]"_s, QString::number(count))
        .replace(u"(s)"_s, Plural::word(count, QString(), u"s"_s));
}

// A scan as the sheet takes it: trimmed, line endings as line feeds, the first line only.
QString entryOf(const QString &fieldText)
{
    QString text = fieldText.trimmed();
    text.replace(u'\r', u'\n');
    text.replace(u"\n\n"_s, u"\n"_s);
    text = text.trimmed();
    return text.section(u'\n', 0, 0);
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
    , m_frameTimer(new QTimer(this))
{
    setWindowModality(Qt::WindowModal);
    setWindowTitle(u"Reassign"_s);
    buildInterface();

    isInsideAction = false;
    resize(820, 680);
    if (const std::optional<QString> text = SettingsStore::standard().stringForKey(cPrefReassignWindowFrame)) {
        if (const std::optional<QRect> frame = parseFrame(*text))
            resize(frame->size());
    }
    sortedurlsWithBarcodes = QHash<QString, QString>();
    ibAssignUnknownNSButon->setHidden(isAutomatic());

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
    // The rule counts characters, letters as well as digits, and lets longer codes pass.
    SettingsStore &store = SettingsStore::standard();
    QString hint;
    if (store.boolForKey(cPrefCheckReassignedBarcodeLength))
        hint = u"( Barcode must be at least "_s
            + Plural::count(store.integerForKey(cPrefReassignedBarcodeRequiredLength), u"character"_s, u"characters"_s)
            + u". )"_s;
    store.setString(hint, cPrefReassignPromptString2);
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
    if (isIndex && sortedurlstochange && index >= 0 && index < sortedurlstochange->size())
        position = QString::number(index + 1) + u" of "_s + QString::number(sortedurlstochange->size());
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
    if (isAutomatic()) {
        // Each barcode photo brings its own barcode, an empty field included.
        ibReassignButton->setText(applyingReadings ? u"Reassign…"_s : u"Reassign"_s);
        ibReassignButton->setToolTip(QString());
        ibReassignButton->setEnabled(true);
        return;
    }
    const QString entry = entryOf(ibNSTextField->text());
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
    const QVariant readings = notification.userInfo.value(NotificationKeys::detectedCodes);
    applyingReadings = readings.metaType() == QMetaType::fromType<QVariantMap>();
    detectedCodes.clear();
    if (applyingReadings) {
        const qint64 required = store.integerForKey(cPrefReassignedBarcodeRequiredLength);
        const bool enforced = store.boolForKey(cPrefCheckReassignedBarcodeLength);
        const QVariantMap map = readings.toMap();
        for (auto it = map.cbegin(); it != map.cend(); ++it) {
            QStringList codes = it.value().toStringList();
            // A code too short to be a barcode is offered last: most often a second, smaller code on the card.
            std::stable_partition(codes.begin(), codes.end(), [&](const QString &code) {
                return BarcodeText::isAcceptable(code) && !BarcodeText::lengthProblem(code, enforced, required);
            });
            detectedCodes.insert(it.key(), codes);
        }
        setWindowTitle(u"Apply Barcodes"_s);
    }
    const bool automatic = isAutomatic();
    ibAssignUnknownNSButon->setHidden(automatic);

    if (const std::optional<QVariantMap> prompts = store.dictionaryForKey(cPrefReassignPromptDict)) {
        if (prompts->contains(u"unknown"_s))
            store.setObject(prompts->value(u"unknown"_s), cPrefReassignPromptString);
        const QString tag = QString::number(store.integerForKey(cPrefRadioSet1SelectedTag));
        if (prompts->contains(tag))
            store.setObject(prompts->value(tag), cPrefReassignPromptString);
    }
    if (applyingReadings)
        store.setString(u"Check the barcode read in this photo: Return accepts it; type or scan to correct it."_s,
                        cPrefReassignPromptString);

    if (std::optional<QList<QUrl>> all = urlListFrom(notification.userInfo.value(NotificationKeys::fulSortedlUrlList)))
        fullUrlList = std::move(all);

    const std::optional<QList<QUrl>> received =
        urlListFrom(notification.userInfo.value(NotificationKeys::urlstochange));
    QString title = cDefaultUnknownTitle;
    if (const std::optional<QString> format = store.stringForKey(cPrefDoReassignAllTheseToUnknownStringFormat))
        title = unknownTitle(*format, received ? received->size() : 0);
    store.setString(title, cPrefReassignAsUnknownButtonTitle);

    sortedurlsWithBarcodes = QHash<QString, QString>();
    showProblem(QString());
    setUrlsToChange(received);

    QList<QUrl> sorted = urlstochange;
    // Readings come in the browser's order, which is the order the photos were taken in.
    if (!applyingReadings)
        std::stable_sort(sorted.begin(), sorted.end(), [](const QUrl &a, const QUrl &b) {
            return a.toString(QUrl::FullyEncoded) < b.toString(QUrl::FullyEncoded);
        });
    sortedurlstochange = sorted;

    curindex = store.boolForKey(cPrefReverseAssignBarcode) ? std::max(int(sorted.size()) - 1, 0) : 0;
    if (automatic)
        curindex = 0;
    curindexString = QString::number(curindex);
    // The position shown must not be the one left from the previous sheet.
    store.setString(curindexString, cPrefCurIndexString);
    if (!sorted.isEmpty())
        showPhotoAt(curindex);
    refreshFromSettings();
    if (applyingReadings) {
        ibNSTextField->selectAll();
        offerAgreedLength();
    }
}

bool ReassignViewController::isAutomatic() const
{
    return applyingReadings || SettingsQueries::isAutoReassignMode();
}

void ReassignViewController::setUrlsToChange(const std::optional<QList<QUrl>> &urls)
{
    if (urls)
        urlstochange = *urls;
}

void ReassignViewController::showPhotoAt(int index)
{
    if (!sortedurlstochange || index < 0 || index >= sortedurlstochange->size())
        return;
    SettingsStore &store = SettingsStore::standard();
    const QString path = sortedurlstochange->at(index).toLocalFile();
    store.setString(path, cPrefReassignImageViewPath);
    const bool accepted = sortedurlsWithBarcodes && sortedurlsWithBarcodes->contains(path);
    if (accepted)
        store.setString(sortedurlsWithBarcodes->value(path), cPrefReassignedBarcodeString);
    else if (applyingReadings && !detectedCodes.value(path).isEmpty())
        store.setString(detectedCodes.value(path).constFirst(), cPrefReassignedBarcodeString);
    refreshFromSettings();
    // The photos a Return or an arrow shows next are decoded now, so that they appear at once.
    QStringList neighbours;
    for (const int near : {index + 1, index - 1}) {
        if (near >= 0 && near < sortedurlstochange->size())
            neighbours << sortedurlstochange->at(near).toLocalFile();
    }
    ibNSImageView->preload(neighbours);
    if (!applyingReadings)
        return;
    offerDetectedCodes(path);
    const QString proposal = ibNSTextField->text();
    if (!accepted) {
        // Shown, never taken: Return on it is refused like a partial scan.
        if (std::optional<QString> rejection = rejectionOf(proposal))
            showProblem(rejection->replace(u" was refused. "_s, u" was read in this photo. "_s)
                        + u" Type or scan the barcode this photo shows."_s);
    }
}

void ReassignViewController::offerDetectedCodes(const QString &path)
{
    qDeleteAll(detectedCodeButtons);
    detectedCodeButtons.clear();
    const QStringList codes = detectedCodes.value(path);
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
            showProblem(rejectionOf(code).value_or(QString()));
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
    if (!isAutomatic()) {
        // So the next scan replaces the barcode instead of adding to it.
        Dispatch::onMain(this, [this] { ibNSTextField->selectAll(); });
        return;
    }
    SettingsStore &store = SettingsStore::standard();
    const QString barcode = store.stringForKey(cPrefReassignedBarcodeString).value_or(QString()).trimmed();
    const std::optional<QString> problem = BarcodeText::problem(barcode);
    if (problem) {
        logLine(u"ReassignViewController -> setupBarcodeArray.... not recorded ["_s + barcode + u"]: "_s + *problem);
        showProblem(*problem);
    } else if (!barcode.isEmpty() && sortedurlstochange && curindex >= 0 && curindex < sortedurlstochange->size()) {
        if (!sortedurlsWithBarcodes)
            sortedurlsWithBarcodes = QHash<QString, QString>();
        sortedurlsWithBarcodes->insert(sortedurlstochange->at(curindex).toLocalFile(), barcode);
    }
    store.removeObjectForKey(cPrefReassignedBarcodeString);
    refreshFromSettings();
}

// --- confirming ---------------------------------------------------------------------

void ReassignViewController::doReassign(QObject *)
{
    // What the field shows is what is applied: an entry not yet taken with Return is
    // checked and taken now, and an emptied field brings back no barcode taken before.
    const QString entry = entryOf(ibNSTextField->text());
    if (const std::optional<QString> rejection = rejectionOf(entry)) {
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
    if (isAutomatic()) {
        setupBarcodeArray();
        if (applyingReadings)
            confirmAutomaticRun();
        else
            runAutomatic(barcodesForRun(), store.boolForKey(cPrefReverseAssignBarcode));
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
    const ReassignRun::Report report = ReassignRun::oneBarcode(urlstochange, barcode);
    logLine(u"ReassignViewController -> doReassign.... one barcode ["_s + barcode + u"], journal "_s
            + report.journalPath);
    finishRun(report);
}

QHash<QString, QString> ReassignViewController::barcodesForRun() const
{
    QHash<QString, QString> barcodes = sortedurlsWithBarcodes.value_or(QHash<QString, QString>());
    // A barcode photo whose code was not accepted still begins a group: one that keeps its
    // names, where without it those photos would join the group before.
    if (applyingReadings && sortedurlstochange) {
        for (const QUrl &url : *sortedurlstochange)
            barcodes.insert(url.toLocalFile(), barcodes.value(url.toLocalFile()));
    }
    return barcodes;
}

void ReassignViewController::confirmAutomaticRun()
{
    if (!fullUrlList) {
        runAutomatic({}, false);
        return;
    }
    const QHash<QString, QString> barcodes = barcodesForRun();
    if (refuseUnresolvedReadings(barcodes))
        return;
    const bool reverse = SettingsStore::standard().boolForKey(cPrefReverseAssignBarcode);
    const Alert::Content summary =
        automaticRunSummary(ReassignRun::automaticPlan(*fullUrlList, barcodes, reverse), barcodes, fullUrlList->size());
    QPointer<ReassignViewController> self(this);
    Alert::beginSheet(this, summary, [self, barcodes, reverse, summary](int answer) {
        if (!self)
            return;
        if (summary.buttons.size() > 1 && answer == Alert::cSecondButtonReturn)
            self->runAutomatic(barcodes, reverse);
        else
            self->backToPhoto(self->curindex);
    });
}

bool ReassignViewController::refuseUnresolvedReadings(const QHash<QString, QString> &barcodes)
{
    if (!applyingReadings || !sortedurlstochange)
        return false;
    // A barcode photo the operator gave no barcode, whose codes give none either: carried
    // on as a group that keeps its names it would hide a card nobody could read.
    const SettingsStore &store = SettingsStore::standard();
    const bool enforced = store.boolForKey(cPrefCheckReassignedBarcodeLength);
    const qint64 required = store.integerForKey(cPrefReassignedBarcodeRequiredLength);
    QStringList refused;
    int first = -1;
    for (int i = 0; i < sortedurlstochange->size(); ++i) {
        const QString path = sortedurlstochange->at(i).toLocalFile();
        if (!barcodes.value(path).isEmpty())
            continue;
        const BarcodeText::Choice choice = BarcodeText::choose(detectedCodes.value(path), enforced, required);
        if (choice.problem.isEmpty())
            continue;
        refused << NativePath::forDisplay(QFileInfo(path).fileName()) + u": "_s + choice.problem;
        if (first < 0)
            first = i;
    }
    if (refused.isEmpty())
        return false;
    logLine(u"ReassignViewController -> doReassign.... refused readings: "_s + refused.join(u"; "_s));
    warnAndStay(u"! BARCODE REFUSED !"_s,
                u"Nothing was renamed. Give "_s + Plural::word(refused.size(), u"this photo"_s, u"these photos"_s)
                    + u" a barcode by typing or scanning it:\n\n"_s + refused.join(u"\n"_s));
    backToPhoto(first);
    return true;
}

void ReassignViewController::backToPhoto(int index)
{
    curindex = index;
    curindexString = QString::number(curindex);
    setSetting(curindexString, cPrefCurIndexString);
    // The code taken for it comes back into the field, ready for Return.
    showPhotoAt(curindex);
    ibNSTextField->setFocus(Qt::OtherFocusReason);
    ibNSTextField->selectAll();
}

void ReassignViewController::offerAgreedLength()
{
    SettingsStore &store = SettingsStore::standard();
    const qint64 required = store.integerForKey(cPrefReassignedBarcodeRequiredLength);
    if (!store.boolForKey(cPrefCheckReassignedBarcodeLength))
        return;
    QSet<qsizetype> lengths;
    for (const QStringList &codes : std::as_const(detectedCodes)) {
        for (const QString &code : codes) {
            if (!code.isEmpty() && BarcodeText::isAcceptable(code))
                lengths.insert(code.size());
        }
    }
    // A studio's own cards (Code 128 ids such as P26-0417) all have one length the rule was not set for.
    if (lengths.size() != 1 || *lengths.cbegin() >= required)
        return;
    const qint64 agreed = *lengths.cbegin();
    const QString characters = Plural::count(agreed, u"character"_s, u"characters"_s);
    QPointer<ReassignViewController> self(this);
    Alert::beginSheet(
        this,
        {Alert::Style::Warning,
         u"Use Barcodes of "_s + characters + u"?"_s,
         u"Every code read on this card has "_s + characters + u", but the barcode length rule asks for at least "_s
             + Plural::count(required, u"character"_s, u"characters"_s) + u", so each would be refused. Use "_s
             + QString::number(agreed) + u" as the required length from now on? It can be changed again in "_s
             + BarcodeText::lengthRulePlace() + u"."_s,
         {u"Keep "_s + QString::number(required), u"Use "_s + QString::number(agreed)}},
        [self, agreed](int answer) {
            if (!self || answer != Alert::cSecondButtonReturn)
                return;
            SettingsStore::standard().setInteger(agreed, cPrefReassignedBarcodeRequiredLength);
            self->storeLengthHint();
            self->showProblem(QString());
            self->backToPhoto(self->curindex);
        });
}

Alert::Content ReassignViewController::automaticRunSummary(const QList<RenamePlan::Step> &plan,
                                                           const QHash<QString, QString> &barcodeOfPath,
                                                           qsizetype photoCount)
{
    // Each barcode once, in the order its group comes, with the photos that take it.
    QStringList order;
    QHash<QString, qsizetype> photosOf;
    qsizetype barcodePhotos = 0;
    for (const RenamePlan::Step &step : plan) {
        if (barcodeOfPath.contains(step.from)) {
            ++barcodePhotos;
            continue;
        }
        // The new name is the barcode, the separator and the old name.
        const QString barcode = QFileInfo(step.to).fileName().chopped(QFileInfo(step.from).fileName().size()
                                                                      + cDefaultComponentSeparator1.size());
        if (!photosOf.contains(barcode))
            order.append(barcode);
        ++photosOf[barcode];
    }
    const qsizetype renamed = plan.size() - barcodePhotos;
    const qsizetype unaccepted = std::count_if(barcodeOfPath.cbegin(), barcodeOfPath.cend(),
                                               [](const QString &barcode) { return barcode.isEmpty(); });
    const qsizetype keep = photoCount - plan.size();
    QString keeping = Plural::count(keep, u"photo keeps its name"_s, u"photos keep their names"_s);
    if (unaccepted > 0)
        keeping += u" ("_s
            + Plural::count(unaccepted, u"barcode photo without a barcode begins"_s,
                            u"barcode photos without a barcode begin"_s)
            + u" a group that stays as it is)"_s;
    keeping += u"."_s;
    if (plan.isEmpty())
        return {Alert::Style::Informational, u"Nothing to Reassign"_s, keeping, {u"OK"_s}};

    constexpr qsizetype cListed = 12;
    QStringList lines;
    for (qsizetype i = 0; i < order.size() && i < cListed; ++i)
        lines << order.at(i) + u": "_s + Plural::count(photosOf.value(order.at(i)), u"photo"_s, u"photos"_s);
    if (order.size() > cListed)
        lines << u"… and "_s + Plural::count(order.size() - cListed, u"more barcode"_s, u"more barcodes"_s);
    lines << QString();
    lines << Plural::count(barcodePhotos, u"barcode photo goes"_s, u"barcode photos go"_s) + u" to the trash."_s;
    lines << keeping;
    return {Alert::Style::Warning,
            u"Reassign "_s + Plural::count(renamed, u"Photo"_s, u"Photos"_s) + u" to "_s
                + Plural::count(order.size(), u"Barcode"_s, u"Barcodes"_s) + u"?"_s,
            lines.join(u'\n'),
            {u"Go Back"_s, u"Reassign"_s}};
}

void ReassignViewController::runAutomatic(const QHash<QString, QString> &barcodeOfPath, bool reverse)
{
    ReassignRun::Report report;
    if (!fullUrlList) {
        logLine(u"ReassignViewController -> doReassign.... no list of the folder's photos: nothing renamed"_s);
    } else {
        report = ReassignRun::automatic(*fullUrlList, barcodeOfPath, reverse);
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
        warnAndStay(u"! NOTHING WAS RENAMED !"_s,
                    u"The record of the reassignment could not be written, so no photo was touched: "_s
                        + report.journalError);
        return;
    }
    QWidget *window = parentWidget();
    accept();
    NotificationCenter::defaultCenter().post(NotificationNames::myRefreshId,
                                             {{NotificationKeys::command, NotificationValues::refresh}});
    // A run that went well says nothing: the next group is waiting to be scanned. A photo
    // that kept its old name is no passing accident: the operator hears of each one, and why.
    QStringList kept;
    for (const RenamePlan::Outcome &outcome : report.renames) {
        if (!outcome.renamed && !outcome.error.isEmpty())
            kept << NativePath::forDisplay(QFileInfo(outcome.from).fileName()) + u": "_s + outcome.error;
    }
    for (const QString &path : report.kept)
        kept << NativePath::forDisplay(QFileInfo(path).fileName())
                + u": a barcode photo the trash would not take; it stays in the folder under this name"_s;
    QString title =
        u"! "_s + Plural::count(kept.size(), u"PHOTO KEPT ITS NAME"_s, u"PHOTOS KEPT THEIR NAMES"_s) + u" !"_s;
    if (!report.journalError.isEmpty()) {
        if (kept.isEmpty())
            title = u"! THE REASSIGNMENT WAS NOT RECORDED !"_s;
        kept << u"The photos were renamed, but the record of the run could not be completed (the next visit to the "
                u"folder completes it): "_s
                + report.journalError;
    }
    if (!kept.isEmpty())
        Alert::beginSheet(window, {Alert::Style::Warning, title, kept.join(u'\n'), {u"OK"_s}});
}

std::optional<QString> ReassignViewController::rejectionOf(const QString &entry)
{
    std::optional<QString> problem = BarcodeText::problem(entry);
    if (!problem) {
        const SettingsStore &store = SettingsStore::standard();
        problem = BarcodeText::lengthProblem(entry, store.boolForKey(cPrefCheckReassignedBarcodeLength),
                                             store.integerForKey(cPrefReassignedBarcodeRequiredLength));
    }
    if (problem)
        return BarcodeText::quoted(entry) + u" was refused. "_s + *problem;
    return std::nullopt;
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
    // A scanner's code and Return arrive within milliseconds, and its next burst may
    // follow before the queued work below runs: the field leaves the key path now,
    // so nothing typed from here on can join this entry.
    if (!isInsideAction)
        takeFieldOutOfKeyPath();
    QPointer<QLineEdit> guardedField(field);
    Dispatch::onMain(this, [this, guardedField, direction] {
        // Kept for this entry only: a dropped entry must not overwrite what the running one restores.
        const bool restoreAction = hasFieldAction();
        if (isInsideAction) {
            logLine(u"....ALREDY in progress... exiting..."_s);
            return;
        }
        isInsideAction = true;
        removeFieldAction();
        takeFieldOutOfKeyPath();
        const bool ok = doValidateTextField(guardedField);

        QPointer<ReassignViewController> self(this);
        getWorkingQueue().async([self, ok, direction, restoreAction] {
            if (ok) {
                Dispatch::onMain([self, direction] {
                    if (!self)
                        return;
                    const QString where = direction.toLower();
                    const bool last =
                        self->sortedurlstochange && self->curindex >= int(self->sortedurlstochange->size()) - 1;
                    if (where == u"return"_s && last && !self->applyingReadings)
                        self->reassignWithStoredBarcode();
                    else if (where == u"left"_s)
                        self->doLeftButton();
                    else if (where == u"leftend"_s)
                        self->doGoToBeginning();
                    else if (where == u"rightend"_s)
                        self->doGoToEnd();
                    else
                        self->doRightButton();
                });
            }
            QThread::msleep(100);
            Dispatch::onMain([self, restoreAction] {
                if (self)
                    self->finishEntry(restoreAction);
            });
        });
    });
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
    if (applyingReadings)
        ibNSTextField->selectAll();
    isInsideAction = false;
}

bool ReassignViewController::doValidateTextField(QLineEdit *field)
{
    if (!field) {
        logLine(u"ReassignViewController -> doValidateTextField.... no text field"_s);
        return false;
    }
    const QString entry = entryOf(field->text());
    // Shown until the next entry, so the operator knows why the field emptied.
    const std::optional<QString> rejection = rejectionOf(entry);
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
    if (!sortedurlstochange || sortedurlstochange->isEmpty())
        return;
    const int last = int(sortedurlstochange->size()) - 1;
    int next = curindex + delta;
    if (applyingReadings && next > last) {
        // Past the last barcode photo there is nothing left to check: the run is shown for confirming.
        showPhotoAt(curindex);
        confirmAutomaticRun();
        return;
    }
    if (next < 0 || next > last) {
        getSoundQueue().async([] { SystemSound::play(SystemSound::Beep); });
        next = std::clamp(next, 0, last);
    }
    curindex = next;
    curindexString = QString::number(curindex);
    setSetting(curindexString, cPrefCurIndexString);
    showPhotoAt(curindex);
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
    if (!sortedurlstochange || sortedurlstochange->isEmpty())
        return;
    curindex = 0;
    curindexString = QString::number(curindex);
    Dispatch::onMain(this, [this] {
        setSetting(curindexString, cPrefCurIndexString);
        showPhotoAt(curindex);
    });
}

void ReassignViewController::doGoToEnd(QObject *)
{
    setupBarcodeArray();
    if (!sortedurlstochange || sortedurlstochange->isEmpty())
        return;
    curindex = int(sortedurlstochange->size()) - 1;
    curindexString = QString::number(curindex);
    setSetting(curindexString, cPrefCurIndexString);
    Dispatch::onMain(this, [this] { showPhotoAt(curindex); });
}

// --- keys and the window ---------------------------------------------------------------

void ReassignViewController::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        // Only a Return that did not come through the field gets here: while an entry
        // is processed that is a scan arriving too soon, which is dropped — audibly.
        if (isInsideAction || m_fieldOut) {
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
