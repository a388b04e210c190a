#pragma once

#include "ReassignImageView.h"
#include "ReassignQueues.h"
#include "ReassignRun.h"
#include "ReassignRunText.h"
#include "ReassignSession.h"
#include "ReassignSheetUi.h"
#include "ScanEntryPipeline.h"
#include "support/Notification.h"

#include <QDialog>
#include <QHash>
#include <QList>
#include <QMetaObject>
#include <QStringList>
#include <QUrl>
#include <optional>

class MyVimoNSview;
class QLabel;
class QLineEdit;
class QPushButton;
class SheetFrameMemory;
class SerialQueue;

// The reassignment sheet: shows the marked photos one by one and takes a typed
// or hand-scanned barcode for them; confirming renames the files. What it shows
// follows six settings, which its actions write.
class ReassignViewController : public QDialog, public ReassignSheetUi
{
    Q_OBJECT

public:
    explicit ReassignViewController(QWidget *parent = nullptr);
    ~ReassignViewController() override;

    // The reassignment sheet and the mode prompt, by segue identifier.
    static void registerSheets();
    static SerialQueue &getWorkingQueue() { return ReassignQueues::working(); }
    static SerialQueue &getSoundQueue() { return ReassignQueues::sound(); }

    // The photos, the place and the barcodes taken; the entry's timing and its guard.
    ReassignSession session;
    ScanEntryPipeline entryPipeline;
    // Brings every widget in line with the six settings the sheet shows.
    void refreshFromSettings();

    void doNotification1(const Notification &notification);
    void setUrlsToChange(const std::optional<QList<QUrl>> &urls);
    void setupBarcodeArray();

    // Actions (sender optional, as the interface wires them)
    void doReassign(QObject *sender = nullptr);
    void doSetAsUnknownButton(QObject *sender = nullptr);
    void doTextFieldAction(QObject *sender = nullptr);
    void doRightButtonAction(QObject *sender = nullptr);
    void doLeftButtonAction(QObject *sender = nullptr);
    void doBeginningButtonAction(QObject *sender = nullptr);
    void doEndButtonAction(QObject *sender = nullptr);
    void doCancel(QObject *sender = nullptr);
    void doClearButton(QObject *sender = nullptr);
    void doTest1Button(QObject *sender = nullptr);

    // The entry pipeline: validate the field's text, then move by direction
    // ("right", "left", "leftend", "rightend").
    void doTextFieldActionNew3(QLineEdit *field, const QString &direction);
    bool doValidateTextField(QLineEdit *field);

    void doRightButton(QObject *sender = nullptr);
    void doLeftButton(QObject *sender = nullptr);
    void doGoToBeginning(QObject *sender = nullptr);
    void doGoToEnd(QObject *sender = nullptr);

    void windowDidResize();
    bool hasFieldAction() const { return bool(m_fieldAction); }

    void done(int result) override;
    void reject() override;

protected:
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void connectActions();
    void viewDidLoad();
    void setSetting(const QVariant &value, const QString &key);
    void connectFieldAction();
    void removeFieldAction();
    void moveInDirection(const QString &direction);
    void finishEntry(bool restoreAction);
    void moveBy(int delta);
    void showPhotoAt(int index);
    void reassignWithStoredBarcode();
    void confirmAutomaticRun();
    // Stops a run while a barcode photo has only refused readings and no barcode given; true when stopped.
    bool refuseUnresolvedReadings(const QHash<QString, QString> &barcodes);
    void backToPhoto(int index);
    // When every code read agrees on a length the rule refuses, offers to take that length.
    void offerAgreedLength();
    void storeLengthHint();
    void runAutomatic(const QHash<QString, QString> &barcodeOfPath, bool reverse);
    void offerDetectedCodes(const QString &path);
    void updateReassignButton();
    void finishRun(const ReassignRun::Report &report);
    void warnAndStay(const QString &message, const QString &informative) { warnOver(this, message, informative); }
    void warnAndStay(const ReassignRunText::Message &message) { warnOver(this, message.title, message.body); }

    QMetaObject::Connection m_fieldAction;
    // The code off the roster that Return was last refused for: Return on it again takes it.
    QString m_unlistedAsked;
    SheetFrameMemory *m_frame;
};
