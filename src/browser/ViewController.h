#pragma once

#include "barcodes/BarcodeCache.h"
#include "model/ImageDirectoryLoader.h"
#include "support/Notification.h"

#include <QHash>
#include <QList>
#include <QPointer>
#include <QUrl>
#include <QWidget>
#include <optional>

class PhotoGridAdapter;
class PhotoGridView;
class BarcodeScanScheduler;
class QAbstractButton;
class QAction;
class EmptyFolderHint;
class NoticeBar;
class QDialog;
class QFileSystemWatcher;
class QLabel;
class QMimeData;
class QTimer;
class SegmentedControl;

// The browser: the main window's content. Owns the folder loader, shows the
// working folder as one section of thumbnails per barcode run, and starts the
// other workflows (reassignment, card import, preferences, filing) as sheets.
// Almost everything it does is driven by internal notifications.
class ViewController : public QWidget
{
    Q_OBJECT

public:
    explicit ViewController(QWidget *parent = nullptr);
    ~ViewController() override;

    // Fields
    PhotoGridView *collectionView = nullptr;
    QAbstractButton *ibShowHideButton = nullptr;
    SegmentedControl *ibZoomControl = nullptr;
    QString pathtophotos = QStringLiteral("/Library/Desktop Pictures");
    double itemScaleFactor = 1.0;
    ImageDirectoryLoader *imageDirectoryLoader = nullptr;
    // The folder on the grid: its model, headers, thumbnails in view and the place kept across listings.
    PhotoGridAdapter *gridAdapter = nullptr;

    static constexpr double cZoomStep = 0.02;
    static constexpr QSizeF cHeaderReferenceSize {1000, 40};

    void doNotificationAlwaysUseMainstayPath(const Notification &notification);
    static std::optional<QString> getValidatedPathToSource();
    std::optional<QString> getPathToSourcePhotos();
    std::optional<QString> formWindowTitle(const std::optional<QString> &path);
    // The title for the folder the grid shows (pathtophotos).
    void updateWindowTitle();
    const QString &shownFolder() const { return pathtophotos; }
    void reloadUrlsFromFolder();
    void loadDataForNewFolderWithUrl(const QUrl &url);
    // Shows another folder until the program ends (not stored in the settings).
    void browseFolder(const QString &folder);

    // Actions (sender optional, as the interface wires them)
    void doSegmentedContrl(QObject *sender);
    void finishProcess(QObject *sender = nullptr);
    void cancelProcess(QObject *sender = nullptr);
    void showHideSections(QObject *sender);
    void refreshAllSections(QObject *sender = nullptr);
    void doDeselectAll(QObject *sender = nullptr);
    // "delete" is a C++ keyword: the delete-marked-photos action.
    void deleteMarked(QAbstractButton *sender = nullptr);
    // The header button's work for the section of the marked photos (Edit menu, Ctrl+R).
    void reassignMarked();
    // Opens the reassignment sheet on the photos where barcodes were read, each with its code.
    void applyBarcodes();
    void doNotificationApplyBarcodes(const Notification &notification);
    void deleteURLS(const QList<QUrl> &urls, const QList<IndexPath> &indexPaths);

    // Notification handlers
    void doNotificationForLoadNewCard(const Notification &notification);
    void doNotificationForSelectAll(const Notification &notification);
    void doNotificationRefresh(const Notification &notification);
    void doNotificationForOpenPref(const Notification &notification);
    void doNotificationForButton0(const Notification &notification);
    void doNotificationForButton(const Notification &notification);
    void doNotificationCardOffered(const Notification &notification);
    void doNotificationCardWithdrawn(const Notification &notification);
    void doNotificationKeptStaging(const Notification &notification);

    // Data source, layout and drag answers. Photos and headers come from the grid
    // adapter's model; the grid paints the marks itself.
    qsizetype numberOfSections(PhotoGridView *collectionView);
    qsizetype numberOfItemsInSection(PhotoGridView *collectionView, qsizetype section);
    QSizeF sizeForItemAt(PhotoGridView *collectionView, const IndexPath &indexPath);
    QSizeF referenceSizeForHeaderInSection(PhotoGridView *collectionView, qsizetype section);
    bool canDragItemsAt(PhotoGridView *collectionView, const QSet<IndexPath> &indexPaths);
    bool writeItemsAt(PhotoGridView *collectionView, const QSet<IndexPath> &indexPaths, QMimeData *data);
    bool validateDrop(PhotoGridView *collectionView, const QMimeData *data);
    bool acceptDrop(PhotoGridView *collectionView, const QMimeData *data);

    // Presents a sheet over the main window by its segue identifier.
    // The context becomes properties of the sheet before it is shown (the card sheet
    // reads "offeredCard": the card the operator chose to import from the notice bar).
    QDialog *performSegue(const QString &identifier, const QVariantMap &context = {});
    QList<QDialog *> presentedSheets() const;

    // How long the folder must be quiet after another program changed it before it is read again.
    static constexpr int cFolderSettleMs = 700;

    // Menu and toolbar entries the window shows.
    QAction *refreshAction = nullptr;
    QAction *deselectAllAction = nullptr;
    QAction *deleteAction = nullptr;
    QAction *fileAction = nullptr;
    QAction *zoomInAction = nullptr;
    QAction *zoomOutAction = nullptr;
    QAction *zoomResetAction = nullptr;
    QAction *showSectionsAction = nullptr;
    QAction *reassignAction = nullptr;
    QAction *applyBarcodesAction = nullptr;
    NoticeBar *cardOfferBar = nullptr;
    NoticeBar *keptStagingBar = nullptr; // copies of a cut-short import that are nowhere else
    // Reading barcodes in the background after each load: its progress and Cancel
    // button (for the window's status bar), and the code found in each photo by path.
    BarcodeScanScheduler *barcodeScanner = nullptr;
    QWidget *barcodeStatus = nullptr;
    QLabel *barcodeStatusLabel = nullptr;
    QAbstractButton *barcodeCancelButton = nullptr;
    QString barcodeBadgeFor(const QString &path) const;
    EmptyFolderHint *emptyFolderHint = nullptr;

Q_SIGNALS:
    // The title the window shows (also stored under "prefWindowTitle").
    void windowTitleChanged(const QString &title);
    void sheetPresented(const QString &identifier, QDialog *sheet);
    void quitRequested();

protected:
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void viewDidLoad();
    void viewDidAppear();
    void configureCollectionView();
    void createActions();
    void setTitle(const QString &title);
    void showNothingSelectedAlert(const QString &sectionid);
    // For photos the trash refused: the operator decides, Cancel being the default.
    void askToDeletePermanently(const QStringList &paths, const QString &why);
    // The reassignment sheet over the window, handed the photos (and the codes read in them, if any).
    void presentReassignSheet(const QList<QUrl> &urlstochange, const QVariantMap &detectedCodes = {});
    void observe(const QString &name, void (ViewController::*handler)(const Notification &));

    // Runs on the folder that a kill or a power cut left half done are finished before
    // it is read, and the operator is told.
    void finishInterruptedRuns();
    void watchFolder();
    // Shown over the grid while the folder holds no photos.
    void updateEmptyFolderHint();
    QString sectionTitle(qsizetype section) const; // "ID[2] = 2000000000015", as its header shows it
    void placeEmptyFolderHint();
    void startReadingBarcodes();
    void refreshBadges();

    // Held as plain objects: a sheet is asked for while it is being destroyed (its
    // destroyed() signal), when it is no dialog any more and must not be taken for one.
    QList<QPointer<QObject>> m_sheets;
    QFileSystemWatcher *m_watcher = nullptr;
    QTimer *m_settleTimer = nullptr;
    BarcodeCache &m_barcodeCache = BarcodeCache::standard();
    // The codes read in each photo of the folder read so far, by path (an empty list: none found).
    QHash<QString, QStringList> m_readings;
};
