#pragma once

#include "barcodes/BarcodeReadings.h"
#include "model/ImageDirectoryLoader.h"

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
    QAbstractButton *cancelButton = nullptr;

    BarcodeScanScheduler *scanner() { return m_readings.scanner(); }
    void startReading() { m_readings.start(m_loader->imageFiles()); }
    QString badgeFor(const QString &path) const { return m_readings.badgeFor(path); }
    void applyBarcodes();

Q_SIGNALS:
    void badgesChanged();

private:
    ImageDirectoryLoader *m_loader;
    SheetPresenter *m_sheets;
    QWidget *m_browser;
    BarcodeReadings m_readings;
};
