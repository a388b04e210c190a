#include "PreferencesViewController.h"

#include "AppPaths.h"
#include "DailyFolderChoice.h"
#include "SettingsBinder.h"
#include "filing/DestinationPathRules.h"
#include "settings/CompanionSettings.h"
#include "settings/FolderSettings.h"
#include "settings/LogPaths.h"
#include "settings/ReassignMode.h"
#include "settings/SettingsKeys.h"
#include "settings/SettingsQueries.h"
#include "settings/SettingsStore.h"
#include "support/Alert.h"
#include "support/DesktopOpener.h"
#include "support/FolderPanel.h"
#include "support/NotificationCenter.h"
#include "support/NotificationNames.h"
#include "support/PathUtils.h"
#include "support/SheetRegistry.h"
#include "support/SystemLog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

const QString PreferencesViewController::cSegueIdentifier = u"dummyButtonSegue2"_s;

namespace {
const QString &cDefaultDailyPattern = DailyFolderChoice::cDefaultPattern;
const QString &cDefaultUserPattern = DailyFolderChoice::cDefaultOwnPattern;

constexpr int cRevealSourceTag = 100;
constexpr int cRevealDestinationTag = 101;
constexpr int cRevealTemporaryTag = 102;
constexpr int cRevealLogsTag = 103;

SettingsStore &store()
{
    return SettingsStore::standard();
}

void setTag(QObject *object, int tag)
{
    object->setProperty("tag", tag);
}

void addTaggedItem(QComboBox *popUp, const QString &title, int tag)
{
    popUp->addItem(title, tag);
}

// Updating a control from the store must not read as the operator changing it.
void showText(QLineEdit *field, const QString &text)
{
    const QSignalBlocker blocker(field);
    if (field->text() != text)
        field->setText(text);
}

QString storedText(const QString &key)
{
    return SettingsBinder::storedText(key);
}

std::optional<QString> ownPatternProblem(const QString &text)
{
    return DailyFolderChoice::ownPatternProblem(text);
}

void openIfPresent(const std::optional<QString> &path)
{
    if (!path || path->isEmpty())
        return;
    const QString expanded = PathUtils::expandTilde(*path);
    if (!QFileInfo::exists(expanded)) {
        logLine(u"PreferencesViewController -> ibRevealInFinder.... nothing at "_s + expanded);
        return;
    }
    DesktopOpener::openFile(expanded);
}

// A line under a control saying what it does, set in from the controls' text.
QLabel *makeNote(const QString &text, QWidget *parent)
{
    auto *note = new QLabel(text, parent);
    note->setWordWrap(true);
    note->setContentsMargins(24, 0, 0, 4);
    note->setForegroundRole(QPalette::PlaceholderText);
    return note;
}

QPushButton *makeRevealButton(const QString &title, int tag, QWidget *parent)
{
    auto *button = new QPushButton(title, parent);
    button->setAutoDefault(false);
    setTag(button, tag);
    return button;
}
} // namespace

struct PreferencesViewController::FolderKeys
{
    FolderSettings::Folder folder;
    QString title;
    QString prompt;
    bool announcesChange = false;
};

void PreferencesViewController::registerSheet()
{
    SheetRegistry::registerSheet(cSegueIdentifier,
                                 [](QWidget *window) { return new PreferencesViewController(window); });
}

PreferencesViewController::PreferencesViewController(QWidget *parent)
    : QDialog(parent)
    , m_binder(new SettingsBinder(this))
{
    setWindowModality(Qt::WindowModal);
    setWindowTitle(u"Preferences"_s);
    auto *tabs = new QTabWidget(this);
    tabs->addTab(makeFoldersPage(), u"Folders"_s);
    tabs->addTab(makeReassignmentPage(), u"Reassignment"_s);
    tabs->addTab(makeFilingPage(), u"Filing"_s);
    tabs->addTab(makeCardImportPage(), u"Card Import"_s);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::accept);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(tabs);
    layout->addWidget(buttons);
    resize(640, 460);

    connectBindings();
    showStoredValues();

    // viewDidLoad
    ibClickOnDateFormatter(nullptr);
    ibHandleRadioSet1(nullptr);
}

PreferencesViewController::~PreferencesViewController() = default;

QWidget *PreferencesViewController::makeFoldersPage()
{
    auto *page = new QWidget(this);
    const auto folderRow = [page](QLineEdit *&field, QPushButton *&choose, QPushButton *reveal) {
        field = new QLineEdit(page);
        field->setReadOnly(true);
        field->setPlaceholderText(u"No folder chosen"_s);
        choose = new QPushButton(u"Choose…"_s, page);
        choose->setAutoDefault(false);
        auto *row = new QHBoxLayout;
        row->addWidget(field, 1);
        row->addWidget(choose);
        row->addWidget(reveal);
        return row;
    };

    auto *source = new QGroupBox(u"Working folder — the photos to sort"_s, page);
    ibRevealSourceButton = makeRevealButton(u"Show"_s, cRevealSourceTag, source);
    auto *sourceLayout = new QVBoxLayout(source);
    sourceLayout->addLayout(folderRow(ibSourcePathField, ibChooseSourceButton, ibRevealSourceButton));
    ibSourcePathIsValidCheckBox = new QCheckBox(u"Folder found"_s, source);
    sourceLayout->addWidget(ibSourcePathIsValidCheckBox);
    ibAlwaysUseMainstayCheckBox = new QCheckBox(u"Always use Mainstay's folder as working folder"_s, source);
    sourceLayout->addWidget(ibAlwaysUseMainstayCheckBox);

    auto *destination = new QGroupBox(u"Destination folder — where filed photos go"_s, page);
    ibRevealDestinationButton = makeRevealButton(u"Show"_s, cRevealDestinationTag, destination);
    auto *destinationLayout = new QVBoxLayout(destination);
    destinationLayout->addLayout(
        folderRow(ibDestinationPathField, ibChooseDestinationButton, ibRevealDestinationButton));
    ibDestinationPathIsValidCheckBox = new QCheckBox(u"Folder found"_s, destination);
    destinationLayout->addWidget(ibDestinationPathIsValidCheckBox);

    auto *program = new QGroupBox(u"Program files"_s, page);
    ibRevealTemporaryButton = makeRevealButton(u"Show Temporary Folder"_s, cRevealTemporaryTag, program);
    ibRevealLogsButton = makeRevealButton(u"Show Log Files"_s, cRevealLogsTag, program);
    auto *programLayout = new QHBoxLayout(program);
    programLayout->addWidget(ibRevealTemporaryButton);
    programLayout->addWidget(ibRevealLogsButton);
    programLayout->addStretch();

    auto *layout = new QVBoxLayout(page);
    layout->addWidget(source);
    layout->addWidget(destination);
    layout->addWidget(program);
    layout->addStretch();
    return page;
}

QWidget *PreferencesViewController::makeReassignmentPage()
{
    auto *page = new QWidget(this);
    auto *mode = new QGroupBox(u"How marked photos are reassigned"_s, page);
    auto *modeLayout = new QVBoxLayout(mode);
    ibRadioSet1 = new QButtonGroup(this);
    const auto addMode = [this, mode, modeLayout](int tag, const QString &title) {
        auto *button = new QRadioButton(title, mode);
        setTag(button, tag);
        ibRadioSet1->addButton(button, tag);
        modeLayout->addWidget(button);
    };
    const QString firstChoice = u"One barcode for all marked photos"_s;
    addMode(rawValue(ReassignMode::defaultmode), firstChoice);
    addMode(rawValue(ReassignMode::mode201), u"Automatic by section (works as the first choice)"_s);
    ibMode201NoteLabel =
        makeNote(u"Kept for older settings: works exactly as \u201c"_s + firstChoice + u"\u201d."_s, mode);
    ibMode201NoteLabel->setObjectName(u"ibMode201NoteLabel"_s);
    modeLayout->addWidget(ibMode201NoteLabel);
    addMode(rawValue(ReassignMode::mode202), u"Barcode photos: carry each barcode over the folder"_s);
    ibAlwaysPromptCheckBox = new QCheckBox(u"Always ask which way before reassigning"_s, mode);
    modeLayout->addWidget(ibAlwaysPromptCheckBox);
    ibAlwaysPromptNoteLabel =
        makeNote(u"Not used in this build: it asks when Mainstay's \u201cdisable scan\u201d setting is on."_s, mode);
    ibAlwaysPromptNoteLabel->setObjectName(u"ibAlwaysPromptNoteLabel"_s);
    modeLayout->addWidget(ibAlwaysPromptNoteLabel);

    auto *barcodes = new QGroupBox(u"Entered barcodes"_s, page);
    auto *barcodeLayout = new QFormLayout(barcodes);
    ibBarcodeLengthSpinBox = new QSpinBox(barcodes);
    ibBarcodeLengthSpinBox->setRange(1, 64);
    ibBarcodeLengthSpinBox->setSuffix(u" characters"_s);
    barcodeLayout->addRow(u"Required length:"_s, ibBarcodeLengthSpinBox);
    ibCheckBarcodeLengthCheckBox = new QCheckBox(u"Refuse barcodes of another length"_s, barcodes);
    barcodeLayout->addRow(QString(), ibCheckBarcodeLengthCheckBox);
    ibRosterMinimumSpinBox = new QSpinBox(barcodes);
    ibRosterMinimumSpinBox->setObjectName(u"ibRosterMinimumSpinBox"_s);
    ibRosterMinimumSpinBox->setRange(1, 999);
    ibRosterMinimumSpinBox->setSuffix(u" photo(s)"_s);
    ibRosterMinimumSpinBox->setToolTip(u"The roster lists a subject with fewer photos than this as short"_s);
    barcodeLayout->addRow(u"Each roster subject needs:"_s, ibRosterMinimumSpinBox);

    auto *browser = new QGroupBox(u"Browser"_s, page);
    auto *browserLayout = new QFormLayout(browser);
    ibSortKeyPopUp = new QComboBox(browser);
    browserLayout->addRow(u"Order photos by:"_s, ibSortKeyPopUp);

    auto *layout = new QVBoxLayout(page);
    layout->addWidget(mode);
    layout->addWidget(barcodes);
    layout->addWidget(browser);
    layout->addStretch();
    return page;
}

QWidget *PreferencesViewController::makeFilingPage()
{
    auto *page = new QWidget(this);
    auto *daily = new QGroupBox(u"Daily folder inside the destination"_s, page);
    auto *dailyLayout = new QFormLayout(daily);
    ibDateFormatterPopUp = new QComboBox(daily);
    addTaggedItem(ibDateFormatterPopUp, u"No daily folder"_s, 0);
    addTaggedItem(ibDateFormatterPopUp, cDefaultDailyPattern, 1);
    addTaggedItem(ibDateFormatterPopUp, u"Short date"_s, 2);
    addTaggedItem(ibDateFormatterPopUp, u"Medium date"_s, 3);
    addTaggedItem(ibDateFormatterPopUp, u"Long date"_s, 4);
    addTaggedItem(ibDateFormatterPopUp, u"Full date"_s, 5);
    addTaggedItem(ibDateFormatterPopUp, u"Your own pattern"_s, 6);
    dailyLayout->addRow(u"Folder name:"_s, ibDateFormatterPopUp);
    ibUserDefinedDateFormatterField = new QLineEdit(daily);
    ibUserDefinedDateFormatterField->setPlaceholderText(cDefaultUserPattern);
    ibUserDefinedDateFormatterField->setToolTip(u"Unicode date symbols, e.g. yyyy-MM-dd"_s);
    dailyLayout->addRow(u"Your own pattern:"_s, ibUserDefinedDateFormatterField);
    ibDateFormatProblemLabel = new QLabel(daily);
    ibDateFormatProblemLabel->setObjectName(u"ibDateFormatProblemLabel"_s);
    ibDateFormatProblemLabel->setWordWrap(true);
    ibDateFormatProblemLabel->setStyleSheet(u"color: #b00020;"_s);
    ibDateFormatProblemLabel->hide();
    dailyLayout->addRow(ibDateFormatProblemLabel);
    ibDateFormatExampleLabel = new QLabel(daily);
    ibDateFormatExampleLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    dailyLayout->addRow(u"Today's folder:"_s, ibDateFormatExampleLabel);

    auto *unassigned = new QGroupBox(u"Photos without a barcode"_s, page);
    auto *unassignedLayout = new QFormLayout(unassigned);
    ibDoUnassignedProcessCheckBox = new QCheckBox(u"Process unassigned photos when filing"_s, unassigned);
    unassignedLayout->addRow(ibDoUnassignedProcessCheckBox);
    ibMoveUnassignedPhotoMethodPopUp = new QComboBox(unassigned);
    addTaggedItem(ibMoveUnassignedPhotoMethodPopUp, u"Leave them in the working folder"_s, 0);
    addTaggedItem(ibMoveUnassignedPhotoMethodPopUp, u"Move them to UNASSIGNED_PHOTOS"_s, 1);
    unassignedLayout->addRow(u"Unassigned photos:"_s, ibMoveUnassignedPhotoMethodPopUp);
    ibOriginalNameFormatPopUp = new QComboBox(unassigned);
    addTaggedItem(ibOriginalNameFormatPopUp, u"1 name part (DSC01234)"_s, 0);
    addTaggedItem(ibOriginalNameFormatPopUp, u"2 name parts (IMG_1234)"_s, 1);
    addTaggedItem(ibOriginalNameFormatPopUp, u"3 name parts (100_IMG_1234)"_s, 2);
    unassignedLayout->addRow(u"Camera names have up to:"_s, ibOriginalNameFormatPopUp);

    auto *layout = new QVBoxLayout(page);
    layout->addWidget(daily);
    layout->addWidget(unassigned);
    layout->addStretch();
    return page;
}

QWidget *PreferencesViewController::makeCardImportPage()
{
    auto *page = new QWidget(this);
    auto *layout = new QFormLayout(page);
    ibCameraCardFolderNamesField = new QLineEdit(page);
    layout->addRow(u"Camera card folders:"_s, ibCameraCardFolderNamesField);
    auto *hint = new QLabel(
        u"A volume with one of these folders (separated by commas) at its top is taken for a camera card."_s, page);
    hint->setWordWrap(true);
    layout->addRow(QString(), hint);
    return page;
}

void PreferencesViewController::connectBindings()
{
    m_binder->bindText(ibSourcePathField, cPrefSourcePath);
    m_binder->bindText(ibDestinationPathField, cPrefDestinationPath);
    m_binder->bindBool(ibSourcePathIsValidCheckBox, cPrefSourcePathIsValid);
    m_binder->bindBool(ibDestinationPathIsValidCheckBox, cPrefDestinationPathIsValid);
    m_binder->bindBool(ibAlwaysUseMainstayCheckBox, cPrefAlwaysUseMainstayAsSourcePath,
                       [this] { ibClickedOnAlwaysUseMainstayPath(ibAlwaysUseMainstayCheckBox); });
    connect(ibChooseSourceButton, &QPushButton::clicked, this, [this] { ibChangeSourcePath(ibChooseSourceButton); });
    connect(ibChooseDestinationButton, &QPushButton::clicked, this,
            [this] { ibChangeDestPath(ibChooseDestinationButton); });
    for (QPushButton *reveal :
         {ibRevealSourceButton, ibRevealDestinationButton, ibRevealTemporaryButton, ibRevealLogsButton})
        connect(reveal, &QPushButton::clicked, this, [this, reveal] { ibRevealInFinder(reveal); });

    m_binder->bindChoice(ibRadioSet1, cPrefRadioSet1SelectedTag,
                         [this] { ibHandleRadioSet1(ibRadioSet1->checkedButton()); });
    m_binder->bindBool(ibAlwaysPromptCheckBox, cPrefAlwaysPromptForReassignmentMode);
    m_binder->bindInteger(ibBarcodeLengthSpinBox, cPrefReassignedBarcodeRequiredLength);
    m_binder->bindBool(ibCheckBarcodeLengthCheckBox, cPrefCheckReassignedBarcodeLength);
    m_binder->bindInteger(ibRosterMinimumSpinBox, cPrefRosterMinimumPhotos);
    // The orders offered are a setting of their own; the choice is stored by its place among them.
    m_binder->bind(ibSortKeyPopUp, &QComboBox::currentIndexChanged, cPrefInputFolderSortKeySelectedIndex,
                   {[this](const QString &key) {
                        QStringList titles;
                        for (const QVariant &entry :
                             store().arrayForKey(cPrefInputFolderSortKeyList).value_or(QVariantList()))
                            titles << entry.toMap().value(u"title"_s).toString();
                        QStringList shown;
                        for (int i = 0; i < ibSortKeyPopUp->count(); ++i)
                            shown << ibSortKeyPopUp->itemText(i);
                        if (shown != titles) {
                            ibSortKeyPopUp->clear();
                            ibSortKeyPopUp->addItems(titles);
                        }
                        const qint64 index = store().integerForKey(key);
                        ibSortKeyPopUp->setCurrentIndex(index >= 0 && index < titles.size() ? int(index) : -1);
                    },
                    [this]() -> std::optional<QVariant> {
                        if (ibSortKeyPopUp->currentIndex() < 0)
                            return std::nullopt;
                        return qint64(ibSortKeyPopUp->currentIndex());
                    }},
                   [this] { ibClickOnSortKeyMethod(ibSortKeyPopUp); });

    m_binder->bindTag(ibDateFormatterPopUp, cPrefDateFormatterTag,
                      [this] { ibClickOnDateFormatter(ibDateFormatterPopUp); });
    m_binder->bind(ibUserDefinedDateFormatterField, &QLineEdit::textChanged, cPrefUserDefinedDateFormatter,
                   {[this](const QString &key) { showText(ibUserDefinedDateFormatterField, storedText(key)); },
                    [this]() -> std::optional<QVariant> {
                        // A pattern that would file beside or above the daily folder is never stored.
                        if (ownPatternProblem(ibUserDefinedDateFormatterField->text())) {
                            showDateFormatProblem();
                            return std::nullopt;
                        }
                        return ibUserDefinedDateFormatterField->text();
                    }},
                   [this] {
                       // The field only takes input while the own pattern is chosen; the example follows the typing.
                       if (ibUserDefinedDateFormatterField->isEnabled())
                           applyDateFormatterTag(6);
                   });
    m_binder->bindBool(ibDoUnassignedProcessCheckBox, cPrefDoUnassignedProcess);
    m_binder->bindTag(ibMoveUnassignedPhotoMethodPopUp, cPrefMoveUnasignedPhotoMethodTag,
                      [this] { ibClickOnMoveUnassignedPhotoMethod(ibMoveUnassignedPhotoMethodPopUp); });
    m_binder->bindTag(ibOriginalNameFormatPopUp, cPrefOriginalNameFormatTag,
                      [this] { ibClickOnOriginalPhotoNameFormat(ibOriginalNameFormatPopUp); });

    m_binder->bindText(ibCameraCardFolderNamesField, cPrefCameraCardFolderNames);
}

void PreferencesViewController::showStoredValues()
{
    m_binder->load();
    const bool promptSettingApplies = SettingsQueries::alwaysPromptSettingApplies();
    ibAlwaysPromptCheckBox->setEnabled(promptSettingApplies);
    ibAlwaysPromptNoteLabel->setHidden(promptSettingApplies);
    ibUserDefinedDateFormatterField->setEnabled(!store().boolForKey(cPrefEnableUserDefinedDateFormatter));
    ibDateFormatExampleLabel->setText(storedText(cPrefDailyFolderDateFormatExample));
    showDateFormatProblem();
}

QRadioButton *PreferencesViewController::radioButtonWithTag(int tag) const
{
    return qobject_cast<QRadioButton *>(ibRadioSet1->button(tag));
}

void PreferencesViewController::ibHandleRadioSet1(QObject *sender)
{
    if (qobject_cast<QAbstractButton *>(sender)) {
        const QVariant tag = sender->property("tag");
        logLine(u"PreferencesViewController -> ibHandleRadioSet1.... tag="_s + tag.toString());
        if (tag.isValid())
            store().setInteger(tag.toLongLong(), cPrefRadioSet1SelectedTag);
        return;
    }
    qint64 tag = store().integerForKey(cPrefRadioSet1SelectedTag);
    if (!reassignModeFromRawValue(tag))
        tag = rawValue(ReassignMode::defaultmode);
    store().setInteger(tag, cPrefRadioSet1SelectedTag);
    showStoredValues();
}

void PreferencesViewController::ibClickedOnAlwaysUseMainstayPath(QObject *)
{
    if (store().boolForKey(cPrefAlwaysUseMainstayAsSourcePath)) {
        if (const std::optional<QString> companionPath = CompanionSettings::savePath()) {
            FolderSettings::store(FolderSettings::Folder::Working, *companionPath);
        } else {
            logLine(u"PreferencesViewController -> ibClickedOnAlwaysUseMainstayPath.... Mainstay has no folder yet"_s);
        }
    }
    NotificationCenter::defaultCenter().postWithoutUserInfo(NotificationNames::vimoNotificationChangedSourcePath);
    showStoredValues();
}

void PreferencesViewController::ibChangeSourcePath(QObject *)
{
    chooseFolder({FolderSettings::Folder::Working, u"Select Source Folder"_s, u"Select Source Folder"_s, true});
}

void PreferencesViewController::ibChangeDestPath(QObject *)
{
    chooseFolder({FolderSettings::Folder::Destination, u"Select Destination Folder Path"_s,
                  u"Select Destination Folder"_s, false});
}

void PreferencesViewController::chooseFolder(const FolderKeys &keys)
{
    FolderPanel::Options options;
    options.title = keys.title;
    options.prompt = keys.prompt;
    options.canCreateDirectories = true;
    options.showsHiddenFiles = false;
    // The folder chosen before, else the working folder: never wherever the program was started.
    QString current = PathUtils::expandTilde(storedText(FolderSettings::keysFor(keys.folder).path));
    if (current.isEmpty() || !QFileInfo(current).isDir())
        current = PathUtils::expandTilde(storedText(cPrefSourcePath));
    options.startFolder = current;
    QPointer<PreferencesViewController> self(this);
    FolderPanel::beginSheet(this, options, [self, keys](const std::optional<QString> &path) {
        if (!path || path->isEmpty()) {
            logLine(u"PreferencesViewController -> "_s + keys.title + u".... cancelled"_s);
            return;
        }
        if (const std::optional<QString> refusal = FolderSettings::refusal(keys.folder, *path)) {
            logLine(u"PreferencesViewController -> "_s + keys.title + u".... refused: "_s + *refusal);
            Alert::beginSheet(self,
                              {Alert::Style::Warning,
                               u"This Folder Cannot Be Used"_s,
                               *refusal + u"\n\nThe folder set before is kept."_s,
                               {u"OK"_s}});
            return;
        }
        // The choice is kept even when the pane was closed while the panel was up.
        FolderSettings::store(keys.folder, *path);
        if (keys.announcesChange)
            NotificationCenter::defaultCenter().postWithoutUserInfo(
                NotificationNames::vimoNotificationChangedSourcePath);
        if (self)
            self->showStoredValues();
    });
}

void PreferencesViewController::ibRevealInFinder(QObject *sender)
{
    const QVariant tag = sender ? sender->property("tag") : QVariant();
    if (!tag.isValid())
        return;
    switch (tag.toInt()) {
    case cRevealSourceTag:
        openIfPresent(store().stringForKey(cPrefSourcePath));
        break;
    case cRevealDestinationTag:
        openIfPresent(store().stringForKey(cPrefDestinationPath));
        break;
    case cRevealTemporaryTag:
        openIfPresent(AppPaths::temporaryDirectoryForThisApp());
        break;
    case cRevealLogsTag: {
        QStringList present;
        for (const QString &path : {LogPaths::logFile(), LogPaths::oldLogFile()}) {
            if (QFileInfo::exists(path))
                present << path;
        }
        if (present.isEmpty())
            Alert::beep();
        else
            DesktopOpener::revealInFileManager(present);
        break;
    }
    default:
        logLine(u"PreferencesViewController -> ibRevealInFinder.... unknown tag "_s + tag.toString());
        break;
    }
}

void PreferencesViewController::ibClickOnDateFormatter(QObject *sender)
{
    qint64 tag = -1;
    if (auto *popUp = qobject_cast<QComboBox *>(sender)) {
        if (popUp->currentData().isValid())
            tag = popUp->currentData().toLongLong();
    } else if (sender && sender->property("tag").isValid()) {
        tag = sender->property("tag").toLongLong();
    } else {
        tag = store().integerForKey(cPrefDateFormatterTag);
    }
    applyDateFormatterTag(tag);
}

void PreferencesViewController::applyDateFormatterTag(qint64 tag)
{
    DailyFolderChoice::apply(tag);
    showStoredValues();
}

void PreferencesViewController::showDateFormatProblem()
{
    std::optional<QString> problem;
    if (ibUserDefinedDateFormatterField->isEnabled())
        problem = ownPatternProblem(ibUserDefinedDateFormatterField->text());
    if (problem) {
        *problem += u" It is not stored."_s;
    } else if ((problem = DestinationPathRules::storedDailyFolderPatternProblem())) {
        *problem += u" Filing is refused until another pattern is chosen."_s;
    }
    ibDateFormatProblemLabel->setText(problem.value_or(QString()));
    ibDateFormatProblemLabel->setVisible(problem.has_value());
}

void PreferencesViewController::ibClickOnOriginalPhotoNameFormat(QObject *)
{
    logLine(u"PreferencesViewController -> ibClickOnOriginalPhotoNameFormat.... prefOriginalNameFormatTag="_s
            + QString::number(store().integerForKey(cPrefOriginalNameFormatTag)));
}

void PreferencesViewController::ibClickOnMoveUnassignedPhotoMethod(QObject *)
{
    logLine(u"PreferencesViewController -> ibClickOnMoveUnassignedPhotoMethod.... prefMoveUnasignedPhotoMethodTag="_s
            + QString::number(store().integerForKey(cPrefMoveUnasignedPhotoMethodTag)));
}

void PreferencesViewController::ibClickOnSortKeyMethod(QObject *)
{
    // The loader reads the stored index itself at its next load.
}

void PreferencesViewController::validateReassignMode()
{
    SettingsQueries::validateReassignMode();
}

bool PreferencesViewController::isStandaloneApp()
{
    return SettingsQueries::isStandaloneApp();
}

bool PreferencesViewController::isAutoReassignMode()
{
    return SettingsQueries::isAutoReassignMode();
}

std::optional<QString> PreferencesViewController::getDailyFolderNameC(const std::optional<QString> &key)
{
    return DestinationPathRules::getDailyFolderName(key);
}

std::optional<QString> PreferencesViewController::getDuplicateFolderPathC(const QString &pathKey,
                                                                          const std::optional<QString> &withDateFormat)
{
    return DestinationPathRules::getDuplicateFolderPath(pathKey, withDateFormat);
}
