#pragma once

#include "barcodes/BarcodeReadings.h"
#include "model/ImageDirectoryLoader.h"

#include <QHash>
#include <QObject>

class QAbstractButton;
class QLabel;
class QWidget;
class SheetPresenter;

// Reading barcodes in the background after each load: its progress and Cancel
// button (a widget for the window's status bar), the badge each photo shows, and
// Apply Barcodes, which hands the photos where codes were read to the reassignment sheet.
class BarcodeReadingPanel : public QObject
{
    Q_OBJECT

public:
    BarcodeReadingPanel(ImageDirectoryLoader *loader, SheetPresenter *sheets, QWidget *browser);

    QWidget *status = nullptr;
    QLabel *statusLabel = nullptr;
    // After Apply Barcodes took only the groups read so far: how many photos follow.
    QLabel *laterLabel = nullptr;
    QAbstractButton *cancelButton = nullptr;

    BarcodeScanScheduler *scanner() { return m_readings.scanner(); }
    void startReading();
    // The loader's indices of the photos on screen: their codes are read first.
    void prioritize(const QList<qsizetype> &indices);
    QString badgeFor(const QString &path) const { return m_readings.badgeFor(path); }
    void applyBarcodes();

Q_SIGNALS:
    void badgesChanged();

private:
    ImageDirectoryLoader *m_loader;
    SheetPresenter *m_sheets;
    QWidget *m_browser;
    void showStatus();

    BarcodeReadings m_readings;
    // Photos handed over while their folder was still being read, with their names then: once
    // renamed (or gone), a later Apply Barcodes leaves them alone, and they end the group before
    // them, whose next barcode photo may be gone to the trash with its group named.
    QHash<FileIdentity, QString> m_handedEarly;
    QString m_laterFolder; // the folder laterLabel speaks of
};
