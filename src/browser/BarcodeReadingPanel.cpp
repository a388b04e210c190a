#include "BarcodeReadingPanel.h"

#include "SheetPresenter.h"
#include "barcodes/BarcodeCache.h"
#include "support/Alert.h"
#include "support/Plural.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

using namespace Qt::StringLiterals;

BarcodeReadingPanel::BarcodeReadingPanel(ImageDirectoryLoader *loader, SheetPresenter *sheets, QWidget *browser)
    : QObject(browser)
    , m_loader(loader)
    , m_sheets(sheets)
    , m_browser(browser)
    , m_readings(BarcodeCache::standard())
{
    // The window moves it into its status bar.
    status = new QWidget(browser);
    status->setObjectName(u"barcodeStatus"_s);
    auto *layout = new QHBoxLayout(status);
    layout->setContentsMargins(0, 0, 0, 0);
    statusLabel = new QLabel(status);
    auto *cancel = new QPushButton(u"Cancel"_s, status);
    cancel->setToolTip(u"Stop reading barcodes; nothing is renamed either way"_s);
    cancelButton = cancel;
    layout->addWidget(statusLabel);
    layout->addWidget(cancel);
    status->hide();

    BarcodeScanScheduler *scanner = m_readings.scanner();
    connect(cancel, &QPushButton::clicked, scanner, &BarcodeScanScheduler::cancel);
    connect(scanner, &BarcodeScanScheduler::progress, status, [this, scanner](int read, int toRead) {
        statusLabel->setText(u"Reading barcodes: %1 of %2"_s.arg(read).arg(toRead));
        status->setVisible(scanner->isRunning() && toRead > 0);
    });
    connect(scanner, &BarcodeScanScheduler::finished, status, &QWidget::hide);
    connect(scanner, &BarcodeScanScheduler::cancelled, status, &QWidget::hide);
    connect(&m_readings, &BarcodeReadings::changed, this, &BarcodeReadingPanel::badgesChanged);
}

void BarcodeReadingPanel::applyBarcodes()
{
    if (!m_sheets->presentedSheets().isEmpty())
        return;
    const QList<ImageFilePtr> files = m_loader->imageFiles();
    if (files.isEmpty())
        return;
    const BarcodeReadings::Found found = m_readings.find(files);
    // A photo not yet read may be a barcode photo: grouping without it would put its
    // group's photos under the barcode before.
    if (found.unread > 0) {
        if (!m_readings.scanner()->isRunning())
            startReading();
        Alert::beginSheet(m_browser->window(),
                          {Alert::Style::Informational,
                           u"Barcodes Are Still Being Read"_s,
                           Plural::count(found.unread, u"photo is"_s, u"photos are"_s)
                               + u" not read yet. Apply Barcodes when the reading in the status bar is done."_s,
                           {u"OK"_s}});
        return;
    }
    if (found.barcodePhotos.isEmpty()) {
        Alert::beginSheet(m_browser->window(),
                          {Alert::Style::Informational,
                           u"No Barcodes Found"_s,
                           u"No barcode was read in the "_s + Plural::count(files.size(), u"photo"_s, u"photos"_s)
                               + u" of this folder. Mark the barcode photos and reassign them by hand."_s,
                           {u"OK"_s}});
        return;
    }
    m_sheets->presentReassignSheet(found.barcodePhotos, m_loader->fSortedUrls(), found.codesOf);
}
