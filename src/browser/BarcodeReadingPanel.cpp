#include "BarcodeReadingPanel.h"

#include "SheetPresenter.h"
#include "barcodes/BarcodeCache.h"
#include "settings/SettingsKeys.h"
#include "settings/SettingsStore.h"
#include "support/Alert.h"
#include "support/Plural.h"

#include <QFileInfo>
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
    laterLabel = new QLabel(status);
    laterLabel->hide();
    auto *cancel = new QPushButton(u"Cancel"_s, status);
    cancel->setToolTip(u"Stop reading barcodes; nothing is renamed either way"_s);
    cancelButton = cancel;
    layout->addWidget(statusLabel);
    layout->addWidget(cancel);
    layout->addWidget(laterLabel);
    status->hide();

    BarcodeScanScheduler *scanner = m_readings.scanner();
    connect(cancel, &QPushButton::clicked, scanner, &BarcodeScanScheduler::cancel);
    connect(scanner, &BarcodeScanScheduler::progress, status, [this](int read, int toRead) {
        statusLabel->setText(u"Reading barcodes: %1 of %2"_s.arg(read).arg(toRead));
        showStatus();
    });
    connect(scanner, &BarcodeScanScheduler::finished, status, [this] { showStatus(); });
    connect(scanner, &BarcodeScanScheduler::cancelled, status, [this] { showStatus(); });
    connect(&m_readings, &BarcodeReadings::changed, this, &BarcodeReadingPanel::badgesChanged);
}

void BarcodeReadingPanel::showStatus()
{
    const bool reading = scanner()->isRunning() && scanner()->toReadCount() > 0;
    statusLabel->setVisible(reading);
    cancelButton->setVisible(reading);
    status->setVisible(reading || laterLabel->isVisibleTo(status));
}

void BarcodeReadingPanel::startReading()
{
    const QList<ImageFilePtr> &files = m_loader->imageFiles();
    // Renaming the groups handed over lists the folder again: the line stays for it.
    if (files.isEmpty() || QFileInfo(files.first()->fileurl().toLocalFile()).path() != m_laterFolder)
        laterLabel->hide();
    m_readings.start(files);
    showStatus();
}

void BarcodeReadingPanel::prioritize(const QList<qsizetype> &indices)
{
    const QList<ImageFilePtr> &files = m_loader->imageFiles();
    QList<NativePath> paths;
    for (const qsizetype i : indices) {
        if (i >= 0 && i < files.size())
            paths.append(NativePath(files.at(i)->fileurl().toLocalFile()));
    }
    scanner()->prioritize(paths);
}

void BarcodeReadingPanel::applyBarcodes()
{
    if (!m_sheets->presentedSheets().isEmpty())
        return;
    const QList<ImageFilePtr> files = m_loader->imageFiles();
    if (files.isEmpty())
        return;
    const bool reverse = SettingsStore::standard().boolForKey(cPrefReverseAssignBarcode);
    const BarcodeReadings::Found found = m_readings.find(files, reverse, [this, &files](qsizetype index) {
        const std::optional<FileIdentity> identity = m_loader->identityAt(index);
        const auto handed = identity ? m_handedEarly.constFind(*identity) : m_handedEarly.cend();
        return handed != m_handedEarly.cend() && *handed != files.at(index)->fileurl().toLocalFile();
    });
    laterLabel->hide();
    if (found.barcodePhotos.isEmpty()) {
        // A photo not yet read may be a barcode photo: grouping without it would put its
        // group's photos under the barcode before.
        if (found.unread > 0) {
            if (!m_readings.scanner()->isRunning())
                startReading();
            Alert::beginSheet(m_browser->window(),
                              {Alert::Style::Informational,
                               u"Barcodes Are Still Being Read"_s,
                               Plural::count(found.unread, u"photo is"_s, u"photos are"_s)
                                   + u" not read yet, and no barcode photo's group is read through. Apply "
                                     "Barcodes again in a moment."_s,
                               {u"OK"_s}});
        } else if (found.leftOut > 0) {
            Alert::beginSheet(m_browser->window(),
                              {Alert::Style::Informational,
                               u"Barcodes Already Applied"_s,
                               u"Every group read in this folder was named by its barcode."_s,
                               {u"OK"_s}});
        } else {
            Alert::beginSheet(m_browser->window(),
                              {Alert::Style::Informational,
                               u"No Barcodes Found"_s,
                               u"No barcode was read in the "_s + Plural::count(files.size(), u"photo"_s, u"photos"_s)
                                   + u" of this folder. Mark the barcode photos and reassign them by hand."_s,
                               {u"OK"_s}});
        }
        showStatus();
        return;
    }
    if (found.waiting == 0 && found.leftOut == 0) {
        m_sheets->presentReassignSheet(found.barcodePhotos, m_loader->fSortedUrls(), found.codesOf);
        showStatus();
        return;
    }
    // Only the groups read through are handed over, with nothing around them: a photo left
    // out never takes the code of the group before it.
    if (found.waiting > 0) {
        if (!m_readings.scanner()->isRunning())
            startReading();
        for (const QUrl &url : found.groupedPhotos) {
            if (const auto identity = FileIdentity::of(NativePath(url.toLocalFile()).bytes()))
                m_handedEarly.insert(*identity, url.toLocalFile());
        }
        m_laterFolder = QFileInfo(files.first()->fileurl().toLocalFile()).path();
        laterLabel->setText(Plural::count(found.waiting, u"photo is"_s, u"photos are"_s)
                            + u" still being read; Apply Barcodes again to take them."_s);
        laterLabel->show();
    }
    showStatus();
    m_sheets->presentReassignSheet(found.barcodePhotos, found.groupedPhotos, found.codesOf);
}
