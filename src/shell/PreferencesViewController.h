#pragma once

#include <QDialog>
#include <optional>

class QAbstractButton;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class SettingsBinder;

// The preferences pane, presented window-modal over the main window. Every
// control shows its stored setting when the pane opens and writes it when the
// operator changes it; the buttons choose folders and show the program's
// folders and logs in the file manager.
class PreferencesViewController : public QDialog
{
    Q_OBJECT

public:
    static const QString cSegueIdentifier; // "dummyButtonSegue2"
    static void registerSheet();

    explicit PreferencesViewController(QWidget *parent = nullptr);
    ~PreferencesViewController() override;

    QString fRadioSet1SelectedTag;

    // Folders
    QLineEdit *ibSourcePathField = nullptr;
    QCheckBox *ibSourcePathIsValidCheckBox = nullptr;
    QPushButton *ibChooseSourceButton = nullptr;
    QCheckBox *ibAlwaysUseMainstayCheckBox = nullptr;
    QLineEdit *ibDestinationPathField = nullptr;
    QCheckBox *ibDestinationPathIsValidCheckBox = nullptr;
    QPushButton *ibChooseDestinationButton = nullptr;
    QPushButton *ibRevealSourceButton = nullptr; // tag 100
    QPushButton *ibRevealDestinationButton = nullptr; // tag 101
    QPushButton *ibRevealTemporaryButton = nullptr; // tag 102
    QPushButton *ibRevealLogsButton = nullptr; // tag 103

    // Reassignment
    QButtonGroup *ibRadioSet1 = nullptr; // button ids are the tags 200, 201, 202
    QLabel *ibMode201NoteLabel = nullptr; // what the automatic-by-section choice does
    QCheckBox *ibAlwaysPromptCheckBox = nullptr; // off where the build never reads it
    QLabel *ibAlwaysPromptNoteLabel = nullptr; // why it is off; hidden otherwise
    QSpinBox *ibBarcodeLengthSpinBox = nullptr;
    QSpinBox *ibRosterMinimumSpinBox = nullptr;
    QCheckBox *ibCheckBarcodeLengthCheckBox = nullptr;
    QComboBox *ibSortKeyPopUp = nullptr;

    // Filing
    QComboBox *ibDateFormatterPopUp = nullptr; // item data are the tags 0..6
    QLabel *ibDateFormatExampleLabel = nullptr;
    QLineEdit *ibUserDefinedDateFormatterField = nullptr;
    QLabel *ibDateFormatProblemLabel = nullptr; // why a pattern is refused; hidden otherwise
    QCheckBox *ibDoUnassignedProcessCheckBox = nullptr;
    QComboBox *ibMoveUnassignedPhotoMethodPopUp = nullptr; // item data are the tags 0, 1
    QComboBox *ibOriginalNameFormatPopUp = nullptr; // item data are the tags 0, 1, 2

    // Card import
    QLineEdit *ibCameraCardFolderNamesField = nullptr;

    QRadioButton *radioButtonWithTag(int tag) const;

    // Actions; a sender carries its tag in the "tag" property (or is a pop-up).
    void ibHandleRadioSet1(QObject *sender);
    void ibClickedOnAlwaysUseMainstayPath(QObject *sender);
    void ibChangeSourcePath(QObject *sender);
    void ibChangeDestPath(QObject *sender);
    void ibRevealInFinder(QObject *sender);
    void ibClickOnDateFormatter(QObject *sender);
    void ibClickOnOriginalPhotoNameFormat(QObject *sender);
    void ibClickOnMoveUnassignedPhotoMethod(QObject *sender);
    void ibClickOnSortKeyMethod(QObject *sender);

    // The settings queries and path rules, offered here under their names.
    static void validateReassignMode();
    static bool isStandaloneApp();
    static bool isAutoReassignMode();
    static std::optional<QString> getDailyFolderNameC(const std::optional<QString> &key = std::nullopt);
    static std::optional<QString> getDuplicateFolderPathC(const QString &pathKey,
                                                          const std::optional<QString> &withDateFormat);

private:
    struct FolderKeys;
    QWidget *makeFoldersPage();
    QWidget *makeReassignmentPage();
    QWidget *makeFilingPage();
    QWidget *makeCardImportPage();
    void connectBindings();
    void chooseFolder(const FolderKeys &keys);
    void applyDateFormatterTag(qint64 tag);
    // Why the pattern typed (or else the one stored) cannot name the daily folder.
    void showDateFormatProblem();
    // Shows the stored values again, as the store may have changed under the controls.
    void showStoredValues();

    SettingsBinder *m_binder;
};
