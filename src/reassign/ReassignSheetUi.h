#pragma once

#include "ReassignRunText.h"
#include "support/Alert.h"

#include <QList>
#include <QString>
#include <QStringList>

class MyVimoNSview;
class QDialog;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;
class ReassignImageView;

// The reassignment sheet's widgets and their layout, as an interface file would
// give them; the sheet inherits them and wires them to its actions.
class ReassignSheetUi
{
public:
    QPushButton *ibAssignUnknownNSButon = nullptr;
    QLineEdit *ibNSTextField = nullptr;
    ReassignImageView *ibNSImageView = nullptr;
    QWidget *ibDetectedCodesRow = nullptr; // the other codes of the photo shown, one button each
    QList<QPushButton *> detectedCodeButtons;
    MyVimoNSview *contentView = nullptr;
    QLabel *ibCurIndexLabel = nullptr;
    QLabel *ibPromptLabel = nullptr;
    QLabel *ibPrompt2Label = nullptr;
    QLabel *ibProblemLabel = nullptr; // why the last entry was refused; empty otherwise
    QLabel *ibSubjectLabel = nullptr; // whom the code in the field belongs to on the day's roster
    QPushButton *ibLeftButton = nullptr;
    QPushButton *ibRightButton = nullptr;
    QPushButton *ibBeginningButton = nullptr;
    QPushButton *ibEndButton = nullptr;
    QPushButton *ibClearButton = nullptr;
    QPushButton *ibCancelButton = nullptr;
    QPushButton *ibReassignButton = nullptr;

    static const QString cDefaultUnknownTitle;

    void setupUi(QDialog *sheet);
    // The six settings the sheet shows; the position counts photoCount photos.
    void showSettings(qsizetype photoCount);
    void showProblem(const QString &problem);
    // The roster's name for the code in the field, or that the roster lacks it; nothing without a roster.
    void showSubjectOf(const QString &code);
    // While an entry is dealt with the field takes no key, yet stays where it is, so
    // that nothing on the sheet blinks or moves at each Return.
    void takeFieldOut();
    void bringFieldBack(bool selectAll);
    bool fieldOut = false;

    static Alert::Content alertOf(const ReassignRunText::Message &message);
    // A beep, then a warning over the sheet; the sheet stays open.
    static void warnOver(QDialog *sheet, const QString &message, const QString &informative);
    // An entry taken: heard once its field is back.
    static void playEntrySound();
    // Confirming applies what the field shows, so the button says what that is; in an
    // automatic run each barcode photo brings its own barcode, an empty field included.
    void showReassignButton(const QString &entry, bool automatic, bool confirmsFirst);
    // One button per code read in the photo; the row shows only for a choice among several.
    void showDetectedCodes(const QStringList &codes);
};
