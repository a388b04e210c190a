#include "ReassignSheetUi.h"

#include "MyVimoNSview.h"
#include "ReassignImageView.h"
#include "roster/RosterSource.h"
#include "settings/SettingsKeys.h"
#include "settings/SettingsStore.h"
#include "support/Dispatch.h"
#include "support/SystemLog.h"
#include "support/SystemSound.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

const QString ReassignSheetUi::cDefaultUnknownTitle = u"Mark Photos as UNKNOWN"_s;

namespace {
// The longest barcode a button title shows whole; the tooltip has all of it.
constexpr int cTitleBarcodeChars = 24;

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

QPushButton *makeButton(const QString &title, QWidget *parent)
{
    auto *button = new QPushButton(title, parent);
    // A Return the sheet receives must never press a button, and a click must
    // leave the keyboard with the barcode field.
    button->setAutoDefault(false);
    button->setDefault(false);
    button->setFocusPolicy(Qt::TabFocus);
    return button;
}
} // namespace

void ReassignSheetUi::setupUi(QDialog *sheet)
{
    contentView = new MyVimoNSview(sheet);
    auto *outer = new QVBoxLayout(sheet);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(contentView);

    ibNSImageView = new ReassignImageView(contentView);
    ibBeginningButton = makeButton(u"◀◀ First"_s, contentView);
    ibLeftButton = makeButton(u"◀ Previous"_s, contentView);
    ibCurIndexLabel = new QLabel(contentView);
    ibCurIndexLabel->setAlignment(Qt::AlignCenter);
    ibCurIndexLabel->setMinimumWidth(60);
    ibRightButton = makeButton(u"Next ▶"_s, contentView);
    ibEndButton = makeButton(u"Last ▶▶"_s, contentView);
    ibPromptLabel = new QLabel(contentView);
    ibPromptLabel->setWordWrap(true);
    QFont bold = ibPromptLabel->font();
    bold.setBold(true);
    ibPromptLabel->setFont(bold);
    ibPrompt2Label = new QLabel(contentView);
    ibPrompt2Label->setWordWrap(true);
    ibNSTextField = new BarcodeField(contentView);
    ibNSTextField->setPlaceholderText(u"Barcode"_s);
    ibSubjectLabel = new QLabel(contentView);
    ibSubjectLabel->setObjectName(u"ibSubjectLabel"_s);
    ibSubjectLabel->setTextFormat(Qt::PlainText);
    ibSubjectLabel->hide();
    ibProblemLabel = new QLabel(contentView);
    ibProblemLabel->setWordWrap(true);
    ibProblemLabel->setStyleSheet(u"color: #b00020; font-weight: bold;"_s);
    ibProblemLabel->hide();
    // Shown and hidden from photo to photo: the rows above, the photo among them, keep their places.
    QSizePolicy keepsPlace = ibProblemLabel->sizePolicy();
    keepsPlace.setRetainSizeWhenHidden(true);
    ibProblemLabel->setSizePolicy(keepsPlace);
    ibProblemLabel->setMinimumHeight(ibProblemLabel->fontMetrics().lineSpacing() * 3);
    ibClearButton = makeButton(u"Clear"_s, contentView);
    ibCancelButton = makeButton(u"Cancel"_s, contentView);
    ibAssignUnknownNSButon = makeButton(cDefaultUnknownTitle, contentView);
    ibReassignButton = makeButton(u"Reassign"_s, contentView);

    auto *layout = new QVBoxLayout(contentView);
    layout->addWidget(ibNSImageView, 1);
    auto *navigation = new QHBoxLayout;
    navigation->addStretch();
    for (QWidget *widget : {static_cast<QWidget *>(ibBeginningButton), static_cast<QWidget *>(ibLeftButton),
                            static_cast<QWidget *>(ibCurIndexLabel), static_cast<QWidget *>(ibRightButton),
                            static_cast<QWidget *>(ibEndButton)})
        navigation->addWidget(widget);
    navigation->addStretch();
    layout->addLayout(navigation);
    layout->addWidget(ibPromptLabel);
    layout->addWidget(ibPrompt2Label);
    layout->addWidget(ibNSTextField);
    layout->addWidget(ibSubjectLabel);
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
}

void ReassignSheetUi::showSettings(qsizetype photoCount)
{
    const SettingsStore &store = SettingsStore::standard();
    ibNSImageView->setPath(store.stringForKey(cPrefReassignImageViewPath).value_or(QString()));
    // The setting counts from 0; people count from 1.
    QString position;
    bool isIndex = false;
    const int index = store.stringForKey(cPrefCurIndexString).value_or(QString()).toInt(&isIndex);
    if (isIndex && index >= 0 && index < photoCount)
        position = QString::number(index + 1) + u" of "_s + QString::number(photoCount);
    ibCurIndexLabel->setText(position);
    ibPromptLabel->setText(store.stringForKey(cPrefReassignPromptString).value_or(QString()));
    ibPrompt2Label->setText(store.stringForKey(cPrefReassignPromptString2).value_or(QString()));
    ibAssignUnknownNSButon->setText(
        store.stringForKey(cPrefReassignAsUnknownButtonTitle).value_or(cDefaultUnknownTitle));
    // Setting equal text would still move the cursor and drop the selection.
    const QString barcode = store.stringForKey(cPrefReassignedBarcodeString).value_or(QString());
    if (ibNSTextField->text() != barcode)
        ibNSTextField->setText(barcode);
}

void ReassignSheetUi::showSubjectOf(const QString &code)
{
    const RosterSource::Lookup subject = RosterSource::shared().lookUp(code);
    const bool unlisted = subject.kind == RosterSource::Lookup::Kind::Unlisted;
    ibSubjectLabel->setText(unlisted ? u"⚠ "_s + subject.text + u": check the code"_s : subject.text);
    ibSubjectLabel->setStyleSheet(unlisted ? u"color: #8a1c00; font-style: italic;"_s : u"font-weight: bold;"_s);
    ibSubjectLabel->setVisible(subject.kind != RosterSource::Lookup::Kind::NoRoster);
}

void ReassignSheetUi::showProblem(const QString &problem)
{
    ibProblemLabel->setText(problem);
    ibProblemLabel->setVisible(!problem.isEmpty());
}

void ReassignSheetUi::takeFieldOut()
{
    // Focus goes to the content view first: hiding the focused field would hand
    // the keys to whatever comes next in the focus chain.
    fieldOut = true;
    contentView->setFocus(Qt::OtherFocusReason);
    // Read-only as well: it takes no text even when sent keys directly.
    ibNSTextField->setReadOnly(true);
}

void ReassignSheetUi::bringFieldBack(bool selectAll)
{
    ibNSTextField->setReadOnly(false);
    fieldOut = false;
    ibNSTextField->setFocus(Qt::OtherFocusReason);
    if (selectAll)
        ibNSTextField->selectAll();
}

Alert::Content ReassignSheetUi::alertOf(const ReassignRunText::Message &message)
{
    return {message.informational ? Alert::Style::Informational : Alert::Style::Warning, message.title, message.body,
            message.buttons};
}

void ReassignSheetUi::warnOver(QDialog *sheet, const QString &message, const QString &informative)
{
    QPointer<QDialog> guarded(sheet);
    Dispatch::inBackground([guarded, message, informative] {
        SystemSound::play(SystemSound::Beep);
        Dispatch::onMain([guarded, message, informative] {
            if (guarded)
                Alert::beginSheet(guarded, {Alert::Style::Warning, message, informative, {u"OK"_s}});
        });
    });
}

void ReassignSheetUi::playEntrySound()
{
    if (SystemSound::exists(u"Glass"_s))
        SystemSound::play(SystemSound::Glass);
    else if (SystemSound::exists(u"Purr"_s))
        SystemSound::play(SystemSound::Purr);
    else
        logLine(u"point cannot find sound"_s);
}

void ReassignSheetUi::showReassignButton(const QString &entry, bool automatic, bool confirmsFirst)
{
    if (automatic) {
        ibReassignButton->setText(confirmsFirst ? u"Reassign…"_s : u"Reassign"_s);
        ibReassignButton->setToolTip(QString());
        ibReassignButton->setEnabled(true);
        return;
    }
    const QFontMetrics metrics = ibReassignButton->fontMetrics();
    ibReassignButton->setEnabled(!entry.isEmpty());
    ibReassignButton->setToolTip(entry.isEmpty() ? QString() : u"Reassign to "_s + entry);
    ibReassignButton->setText(
        entry.isEmpty() ? u"Reassign"_s
                        : u"Reassign to "_s
                + metrics.elidedText(entry, Qt::ElideMiddle,
                                     metrics.horizontalAdvance(QString(cTitleBarcodeChars, u'0'))));
}

void ReassignSheetUi::showDetectedCodes(const QStringList &codes)
{
    qDeleteAll(detectedCodeButtons);
    detectedCodeButtons.clear();
    for (const QString &code : codes) {
        auto *button = new QPushButton(code, ibDetectedCodesRow);
        button->setToolTip(u"Put this code in the field"_s);
        // The keyboard stays with the field, where a scanner types.
        button->setFocusPolicy(Qt::NoFocus);
        button->setAutoDefault(false);
        ibDetectedCodesRow->layout()->addWidget(button);
        detectedCodeButtons.append(button);
    }
    ibDetectedCodesRow->setVisible(codes.size() > 1);
}
