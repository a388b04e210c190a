#pragma once

#include "model/ImageDirectoryLoader.h"
#include "support/Notification.h"

#include <QList>
#include <QUrl>
#include <QWidget>
#include <functional>
#include <optional>

class BarcodeReadingPanel;
class BarcodeScanScheduler;
class QAbstractButton;
class QAction;
class EmptyFolderHint;
class NoticeBar;
class PhotoGridAdapter;
class PhotoGridView;
class QDialog;
class QFileSystemWatcher;
class QLabel;
class QMimeData;
class QTimer;
class SectionCommands;
class SegmentedControl;
class SheetPresenter;

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
    void deleteURLS(const QList<QUrl> &urls, const QList<IndexPath> &indexPaths);

    // Notification handlers
    void doNotificationForLoadNewCard(const Notification &notification);
    void doNotificationForSelectAll(const Notification &notification);
    void doNotificationRefresh(const Notification &notification);
    void doNotificationForOpenPref(const Notification &notification);
    void doNotificationForButton0(const Notification &notification);
    void doNotificationForButton(const Notification &notification);

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

    // Presents a sheet over the main window by its segue identifier (the SheetPresenter's).
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
    // The BarcodeReadingPanel's scan, and its progress and Cancel button for the window's status bar.
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

private:
    void viewDidLoad();
    void viewDidAppear();
    void configureCollectionView();
    void createActions();
    void setTitle(const QString &title);
    void observe(const QString &name, const std::function<void(const Notification &)> &handler);

    // Runs on the folder that a kill or a power cut left half done are finished before
    // it is read, and the operator is told.
    void finishInterruptedRuns();
    void watchFolder();
    // Shown over the grid while the folder holds no photos.
    void updateEmptyFolderHint();
    QString sectionTitle(qsizetype section) const; // "ID[2] = 2000000000015", as its header shows it
    void startReadingBarcodes();
    void refreshBadges();

    SheetPresenter *m_sheetPresenter = nullptr;
    SectionCommands *m_sectionCommands = nullptr;
    BarcodeReadingPanel *m_barcodePanel = nullptr;
    QFileSystemWatcher *m_watcher = nullptr;
    QTimer *m_settleTimer = nullptr;
};
