#pragma once

#include <QDialog>

class QPushButton;

// Asks, before the reassignment sheet, which way this reassignment goes: one
// barcode for every marked photo (tag 200) or each barcode photo's barcode carried
// over the folder (tag 202). The choice is stored, then the browser's second stage
// is started again with the header's user information it kept.
class PromptReassignModeViewController : public QDialog
{
    Q_OBJECT

public:
    explicit PromptReassignModeViewController(QWidget *parent = nullptr);

    QPushButton *ibOneBarcodeButton = nullptr; // tag 200
    QPushButton *ibBarcodePhotosButton = nullptr; // tag 202

    // The pressed button's "tag" property says the mode.
    void ibDoButton(QObject *sender);

    // How long after closing the second stage is posted again, so the sheet is gone first.
    static constexpr int cRepostDelayMs = 100;

protected:
    void showEvent(QShowEvent *event) override;

private:
    void awakeFromNib();
    void viewWillAppear();
};
