#include "ViewController.h"

#include "EmptyFolderHint.h"
#include "NoticeBar.h"
#include "PhotoGridAdapter.h"
#include "PhotoGridView.h"
#include "SegmentedControl.h"
#include "barcodes/BarcodeScanScheduler.h"
#include "filing/DestinationPathRules.h"
#include "model/PhotoListModel.h"
#include "reassign/ReassignRecovery.h"
#include "settings/BundleInfo.h"
#include "settings/MyAliasKit.h"
#include "settings/SettingsKeys.h"
#include "settings/SettingsQueries.h"
#include "settings/SettingsStore.h"
#include "settings/SharedConstants.h"
#include "support/Alert.h"
#include "support/DesktopOpener.h"
#include "support/Dispatch.h"
#include "support/NotificationCenter.h"
#include "support/NotificationNames.h"
#include "support/PathUtils.h"
#include "support/Plural.h"
#include "support/SafeFile.h"
#include "support/SheetRegistry.h"
#include "support/SystemLog.h"
#include "support/TrashOrKeep.h"

#include <QAction>
#include <QDialog>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QHBoxLayout>
#include <QLabel>
#include <QMimeData>
#include <QPointer>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

using namespace Qt::StringLiterals;

ViewController::ViewController(QWidget *parent)
    : QWidget(parent)
    , collectionView(new PhotoGridView(this))
    , imageDirectoryLoader(new ImageDirectoryLoader(this))
    , gridAdapter(new PhotoGridAdapter(imageDirectoryLoader, collectionView, this))
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    cardOfferBar = new NoticeBar(this);
    layout->addWidget(cardOfferBar);
    keptStagingBar = new NoticeBar(this);
    layout->addWidget(keptStagingBar);
    layout->addWidget(collectionView);
    emptyFolderHint = new EmptyFolderHint(this);
    emptyFolderHint->hide();
    connect(emptyFolderHint, &EmptyFolderHint::loadCardRequested, this, [] {
        NotificationCenter::defaultCenter().post(NotificationNames::myloadnewcard,
                                                 {{NotificationKeys::command, NotificationValues::loadnewcard}});
    });
    connect(emptyFolderHint, &EmptyFolderHint::preferencesRequested, this, [] {
        NotificationCenter::defaultCenter().post(NotificationNames::myOpenPrefId,
                                                 {{NotificationKeys::command, NotificationValues::openpref}});
    });

    auto *showHide = new QToolButton(this);
    showHide->setText(u"Sections"_s);
    showHide->setToolTip(u"One section per barcode (off: all photos in one section)"_s);
    showHide->setCheckable(true);
    showHide->setChecked(true);
    showHide->setObjectName(u"ibShowHideButton"_s);
    ibShowHideButton = showHide;
    connect(showHide, &QToolButton::clicked, this, [this] { showHideSections(ibShowHideButton); });

    ibZoomControl = new SegmentedControl({u"−"_s, u"1:1"_s, u"+"_s}, this);
    ibZoomControl->setObjectName(u"ibZoomControl"_s);
    ibZoomControl->setToolTip(u"Smaller, actual size, larger thumbnails"_s);
    connect(ibZoomControl, &SegmentedControl::activated, this, [this] { doSegmentedContrl(ibZoomControl); });

    createActions();

    m_watcher = new QFileSystemWatcher(this);
    m_settleTimer = new QTimer(this);
    m_settleTimer->setSingleShot(true);
    m_settleTimer->setInterval(cFolderSettleMs);
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, m_settleTimer, qOverload<>(&QTimer::start));
    connect(m_settleTimer, &QTimer::timeout, this, [this] {
        // Another program changed the folder: read it again, keeping the marks.
        gridAdapter->keepMarksThroughNextListing();
        finishInterruptedRuns();
        imageDirectoryLoader->beginLoadingFolder(QUrl::fromLocalFile(pathtophotos), true);
    });
    // After the grid adapter's own handler: the grid shows the new listing by now.
    connect(imageDirectoryLoader, &ImageDirectoryLoader::folderListed, this, [this] {
        updateEmptyFolderHint();
        startReadingBarcodes();
    });
    gridAdapter->setBadgeSource([this](const QString &path) { return barcodeBadgeFor(path); });

    barcodeScanner = new BarcodeScanScheduler(m_barcodeCache, this);
    barcodeStatus = new QWidget(this);
    barcodeStatus->setObjectName(u"barcodeStatus"_s);
    auto *statusLayout = new QHBoxLayout(barcodeStatus);
    statusLayout->setContentsMargins(0, 0, 0, 0);
    barcodeStatusLabel = new QLabel(barcodeStatus);
    auto *cancelReading = new QPushButton(u"Cancel"_s, barcodeStatus);
    cancelReading->setToolTip(u"Stop reading barcodes; nothing is renamed either way"_s);
    barcodeCancelButton = cancelReading;
    statusLayout->addWidget(barcodeStatusLabel);
    statusLayout->addWidget(cancelReading);
    barcodeStatus->hide();
    connect(cancelReading, &QPushButton::clicked, barcodeScanner, &BarcodeScanScheduler::cancel);
    connect(barcodeScanner, &BarcodeScanScheduler::progress, this, [this](int read, int toRead) {
        barcodeStatusLabel->setText(u"Reading barcodes: %1 of %2"_s.arg(read).arg(toRead));
        barcodeStatus->setVisible(barcodeScanner->isRunning() && toRead > 0);
    });
    connect(barcodeScanner, &BarcodeScanScheduler::finished, barcodeStatus, &QWidget::hide);
    connect(barcodeScanner, &BarcodeScanScheduler::cancelled, barcodeStatus, &QWidget::hide);
    connect(barcodeScanner, &BarcodeScanScheduler::arrived, this,
            [this](const QList<BarcodeScanScheduler::Result> &results) {
                for (const BarcodeScanScheduler::Result &result : results) {
                    QStringList codes;
                    for (const BarcodeReader::Code &code : result.reading.codes)
                        codes.append(code.text);
                    m_readings.insert(result.path.toString(), codes);
                }
                refreshBadges();
            });
    viewDidLoad();
}

ViewController::~ViewController()
{
    NotificationCenter::defaultCenter().removeObserver(this);
    // Its readers use the cache, a member that goes before the children do.
    delete barcodeScanner;
}

void ViewController::createActions()
{
    const auto make = [this](const QString &text, const QKeySequence &key, auto slot) {
        auto *action = new QAction(text, this);
        action->setShortcut(key);
        connect(action, &QAction::triggered, this, slot);
        return action;
    };
    refreshAction = make(u"&Refresh"_s, QKeySequence::Refresh, [this] { refreshAllSections(refreshAction); });
    deselectAllAction = make(u"&Deselect All"_s, QKeySequence(u"Ctrl+Shift+A"_s), [this] { doDeselectAll(); });
    deleteAction = make(u"&Delete Marked Photos…"_s, QKeySequence::Delete, [this] { deleteMarked(); });
    fileAction = make(u"&File Photos into Destination…"_s, QKeySequence(u"Ctrl+Shift+F"_s),
                      [this] { finishProcess(fileAction); });
    zoomInAction = make(u"Zoom &In"_s, QKeySequence::ZoomIn, [this] { ibZoomControl->activate(2); });
    zoomOutAction = make(u"Zoom &Out"_s, QKeySequence::ZoomOut, [this] { ibZoomControl->activate(0); });
    zoomResetAction = make(u"&Actual Size"_s, QKeySequence(u"Ctrl+0"_s), [this] { ibZoomControl->activate(1); });
    showSectionsAction = new QAction(u"Show &Sections"_s, this);
    showSectionsAction->setShortcut(QKeySequence(u"Ctrl+G"_s));
    showSectionsAction->setCheckable(true);
    showSectionsAction->setChecked(true);
    connect(showSectionsAction, &QAction::triggered, this, [this](bool on) {
        ibShowHideButton->setChecked(on);
        showHideSections(ibShowHideButton);
    });
    connect(static_cast<QToolButton *>(ibShowHideButton), &QToolButton::toggled, showSectionsAction,
            &QAction::setChecked);
    applyBarcodesAction = make(u"Apply &Barcodes…"_s, QKeySequence(u"Ctrl+B"_s), [this] { applyBarcodes(); });
    reassignAction = make(u"&Reassign Marked Photos…"_s, QKeySequence(u"Ctrl+R"_s), [this] { reassignMarked(); });
}

void ViewController::observe(const QString &name, void (ViewController::*handler)(const Notification &))
{
    // The handlers touch the grid: a post from another thread reaches them through the main queue.
    NotificationCenter::defaultCenter().addObserver(this, name, [this, handler](const Notification &n) {
        if (Dispatch::isMainThread())
            (this->*handler)(n);
        else
            Dispatch::onMain(this, [this, handler, n] { (this->*handler)(n); });
    });
}

void ViewController::viewDidLoad()
{
    logLine(u"ViewController -> viewDidLoad...."_s);
    DestinationPathRules::getDestinationPathForUnknown();
    const std::optional<QString> source = getPathToSourcePhotos();
    logLine(u"ViewController -> viewDidLoad.... source photos at "_s + source.value_or(u"<none>"_s));
    imageDirectoryLoader->doMyInitStuff();

    SettingsStore &store = SettingsStore::standard();
    if (const std::optional<QString> stored = store.stringForKey(cPrefSourcePath)) {
        pathtophotos = PathUtils::expandTilde(*stored);
    } else if (const std::optional<QString> factory = store.stringForKey(cPrefSourcePathFactory)) {
        const QString path = PathUtils::expandTilde(*factory);
        logLine(u"Forcing source path to factory default: "_s + path);
        pathtophotos = path;
    }
    updateWindowTitle();
    configureCollectionView();
    if (ibShowHideButton)
        showHideSections(ibShowHideButton);

    observe(NotificationNames::myCustomId0, &ViewController::doNotificationForButton0);
    observe(NotificationNames::myCustomId, &ViewController::doNotificationForButton);
    observe(NotificationNames::myOpenPrefId, &ViewController::doNotificationForOpenPref);
    observe(NotificationNames::myRefreshId, &ViewController::doNotificationRefresh);
    observe(NotificationNames::mySelectAll, &ViewController::doNotificationForSelectAll);
    observe(NotificationNames::myloadnewcard, &ViewController::doNotificationForLoadNewCard);
    observe(NotificationNames::vimoNotificationChangedSourcePath, &ViewController::doNotificationAlwaysUseMainstayPath);
    observe(NotificationNames::mycardoffered, &ViewController::doNotificationCardOffered);
    observe(NotificationNames::mycardwithdrawn, &ViewController::doNotificationCardWithdrawn);
    observe(NotificationNames::mykeptstaging, &ViewController::doNotificationKeptStaging);
    observe(NotificationNames::myApplyBarcodesId, &ViewController::doNotificationApplyBarcodes);
}

void ViewController::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous())
        viewDidAppear();
}

void ViewController::viewDidAppear()
{
    updateWindowTitle();
}

void ViewController::configureCollectionView()
{
    // Selectable, several at once, none allowed: the grid's own way. The section insets
    // and spacings are the grid layout's.
    collectionView->setBackgroundColor(Qt::black);
    collectionView->setItemSize(sizeForItemAt(collectionView, {}));
    collectionView->setHeaderHeight(referenceSizeForHeaderInSection(collectionView, 0).height());
}

// --- source folder -----------------------------------------------------------

std::optional<QString> ViewController::getPathToSourcePhotos()
{
    const std::optional<QString> stored = SettingsStore::standard().stringForKey(cPrefSourcePath);
    if (!stored)
        return std::nullopt;
    std::optional<QString> result;
    if (QFileInfo::exists(PathUtils::expandTilde(*stored)))
        result = *stored;
    else
        logLine(u"Unable to Find Source Path at: ["_s + *stored + u"]"_s);
    return result;
}

std::optional<QString> ViewController::getValidatedPathToSource()
{
    SettingsStore &store = SettingsStore::standard();
    if (const std::optional<QByteArray> alias = store.dataForKey(cPrefSourcePathAliasData)) {
        QString resolved;
        const bool ok = MyAliasKit::resolveAliasFromData(*alias, &resolved);
        store.setBool(ok, cPrefSourcePathIsValid);
        if (!ok || resolved.isEmpty())
            return std::nullopt;
        return resolved;
    }
    const std::optional<QString> stored = store.stringForKey(cPrefSourcePath);
    if (stored && QFileInfo(PathUtils::expandTilde(*stored)).isDir()) {
        MyAliasKit::savePath(PathUtils::expandTilde(*stored), cPrefSourcePathAliasData);
        store.setBool(true, cPrefSourcePathIsValid);
        return PathUtils::expandTilde(*stored);
    }
    return std::nullopt;
}

// One format for every title: the folder the grid shows, then the program's name.
std::optional<QString> ViewController::formWindowTitle(const std::optional<QString> &path)
{
    const QString folder = path ? NativePath::forDisplay(*path) : QString();
    QString name = BundleInfo::value(u"CFBundleDisplayName"_s);
    if (name.isEmpty())
        name = BundleInfo::value(u"CFBundleName"_s);
    const QString title = folder + (folder.isEmpty() ? QString() : u" - "_s) + name;
    setTitle(title);
    return title;
}

void ViewController::updateWindowTitle()
{
    formWindowTitle(pathtophotos.isEmpty() ? std::nullopt : std::optional<QString>(pathtophotos));
}

void ViewController::setTitle(const QString &title)
{
    SettingsStore::standard().setString(title, cPrefWindowTitle);
    Q_EMIT windowTitleChanged(title);
}

void ViewController::doNotificationAlwaysUseMainstayPath(const Notification &)
{
    const std::optional<QString> validated = getValidatedPathToSource();
    if (!validated)
        return;
    const QString previous = pathtophotos;
    pathtophotos = *validated;
    updateWindowTitle();
    if (pathtophotos != previous)
        refreshAllSections(nullptr);
}

// --- loading -----------------------------------------------------------------

void ViewController::reloadUrlsFromFolder()
{
    const QUrl folder = pathtophotos.isEmpty() ? QUrl() : QUrl::fromLocalFile(pathtophotos);
    if (folder.toString().isEmpty()) {
        logLine(u"reloadUrlsFromFolder => initialFolderUrl is NIL..."_s);
        Dispatch::inBackgroundAfter(3000, [] {
            Dispatch::onMain([] {
                NotificationCenter::defaultCenter().post(NotificationNames::myOpenPrefId,
                                                         {{NotificationKeys::command, NotificationValues::openpref}});
            });
        });
        return;
    }
    watchFolder();
    finishInterruptedRuns();
    imageDirectoryLoader->beginLoadingFolder(folder);
}

void ViewController::finishInterruptedRuns()
{
    const QList<ReassignRecovery::Finished> finished = ReassignRecovery::finishInterrupted(pathtophotos);
    if (finished.isEmpty())
        return;
    QStringList messages;
    QStringList problems;
    for (const ReassignRecovery::Finished &run : finished) {
        messages << run.message();
        problems << run.problems();
    }
    QString informative = u"It had been cut short when the program or the machine stopped. Its photos now have "
                          u"the names it was to give them; Edit \u25B8 Undo Last Reassignment takes it back."_s;
    if (!problems.isEmpty())
        informative += u"\n\n"_s + problems.join(u'\n');
    // After the window is up: the first load runs while it is being shown.
    QPointer<ViewController> self(this);
    Dispatch::onMain(this, [self, messages, informative, problems] {
        if (self)
            Alert::beginSheet(self->window(),
                              {problems.isEmpty() ? Alert::Style::Informational : Alert::Style::Warning,
                               messages.join(u'\n'),
                               informative,
                               {u"OK"_s}});
    });
}

void ViewController::watchFolder()
{
    const QStringList watched = m_watcher->directories();
    if (watched == QStringList {pathtophotos})
        return;
    if (!watched.isEmpty())
        m_watcher->removePaths(watched);
    if (QFileInfo(pathtophotos).isDir())
        m_watcher->addPath(pathtophotos);
}

void ViewController::refreshAllSections(QObject *)
{
    collectionView->deselectAll();
    reloadUrlsFromFolder();
    gridAdapter->reload();
}

void ViewController::showHideSections(QObject *sender)
{
    collectionView->deselectAll();
    auto *button = qobject_cast<QAbstractButton *>(sender);
    imageDirectoryLoader->setSingleSectionMode(button && !button->isChecked());
    refreshAllSections(sender);
}

void ViewController::loadDataForNewFolderWithUrl(const QUrl &url)
{
    // Progressive like every load here: the window never waits for thumbnails.
    imageDirectoryLoader->beginLoadingFolder(url);
}

void ViewController::browseFolder(const QString &folder)
{
    pathtophotos = folder;
    updateWindowTitle();
    refreshAllSections(nullptr); // the one load of the new folder
}

void ViewController::doNotificationRefresh(const Notification &notification)
{
    logLine(u"ViewController -> doNotificationRefresh.... command="_s
            + notification.userInfo.value(NotificationKeys::command).toString());
    // A card import names the working folder it filled: that is what the operator
    // must see next, even if another folder was open.
    const QString filled = notification.userInfo.value(NotificationKeys::srcpath).toString();
    if (!filled.isEmpty() && filled != pathtophotos) {
        browseFolder(filled);
        return;
    }
    refreshAllSections(nullptr);
}

// --- data source and layout ----------------------------------------------------

qsizetype ViewController::numberOfSections(PhotoGridView *)
{
    return gridAdapter->model()->rowCount();
}

qsizetype ViewController::numberOfItemsInSection(PhotoGridView *, qsizetype section)
{
    return imageDirectoryLoader->numberOfItemsInSection(section);
}

QSizeF ViewController::sizeForItemAt(PhotoGridView *, const IndexPath &)
{
    return QSizeF(cDefaultItemSize.width() * itemScaleFactor, cDefaultItemSize.height() * itemScaleFactor);
}

QSizeF ViewController::referenceSizeForHeaderInSection(PhotoGridView *, qsizetype)
{
    return cHeaderReferenceSize;
}

bool ViewController::canDragItemsAt(PhotoGridView *, const QSet<IndexPath> &)
{
    return true;
}

bool ViewController::writeItemsAt(PhotoGridView *, const QSet<IndexPath> &indexPaths, QMimeData *data)
{
    gridAdapter->writeItems(indexPaths, data);
    return true;
}

bool ViewController::validateDrop(PhotoGridView *, const QMimeData *)
{
    return true;
}

bool ViewController::acceptDrop(PhotoGridView *, const QMimeData *)
{
    return true; // accepted, and nothing changes
}

// --- zoom and selection ----------------------------------------------------------

void ViewController::doSegmentedContrl(QObject *sender)
{
    auto *control = qobject_cast<SegmentedControl *>(sender);
    if (!control)
        return;
    double factor = itemScaleFactor;
    switch (control->selectedSegment()) {
    case 0:
        factor -= cZoomStep;
        if (factor < cMinScaleFactor)
            factor = cMinScaleFactor;
        break;
    case 1:
        factor = 1.0;
        break;
    case 2:
        factor += cZoomStep;
        if (factor > cMaxScaleFactor)
            factor = cMaxScaleFactor;
        break;
    default:
        break;
    }
    itemScaleFactor = factor;
    collectionView->setItemSize(sizeForItemAt(collectionView, {}));
}

void ViewController::doDeselectAll(QObject *)
{
    collectionView->deselectAll();
}

void ViewController::doNotificationForSelectAll(const Notification &)
{
    const qsizetype photos = imageDirectoryLoader->numberOfItems();
    if (photos > 0 && collectionView->selectionIndexPaths().size() >= photos)
        collectionView->deselectAll();
    else
        collectionView->selectAll();
}

// --- header button --------------------------------------------------------------

void ViewController::doNotificationForButton0(const Notification &notification)
{
    SettingsStore &store = SettingsStore::standard();
    const bool promptDue = SettingsQueries::isStandaloneApp() ? store.boolForKey(cPrefAlwaysPromptForReassignmentMode)
                                                              : store.boolForKey(cPrefMainstayDisableScan);
    if (promptDue) {
        store.removeObjectForKey(cPrefLastUserInfo);
        if (notification.hasUserInfo)
            store.setObject(notification.userInfo, cPrefLastUserInfo);
        performSegue(u"dummyButtonSegue4"_s);
        return;
    }
    if (notification.hasUserInfo) {
        NotificationCenter::defaultCenter().post(NotificationNames::myCustomId, notification.userInfo);
    } else {
        NotificationCenter::defaultCenter().post(NotificationNames::myCustomId,
                                                 {{NotificationKeys::title, NotificationValues::UnknownSectionTitle},
                                                  {NotificationKeys::sectionid, u"0"_s},
                                                  {NotificationKeys::command, NotificationValues::dosomethingBAD}});
    }
}

void ViewController::doNotificationForButton(const Notification &notification)
{
    const QString command = notification.userInfo.value(NotificationKeys::command).toString();
    const QString sectionid = notification.userInfo.value(NotificationKeys::sectionid).toString();
    const QString nothing = notification.userInfo.value(NotificationKeys::nothing).toString();
    const QString title = notification.userInfo.value(NotificationKeys::title).toString();
    logLine(u"ViewController -> doNotificationForButton.... command="_s + command + u" sectionid="_s + sectionid
            + u" nothing="_s + nothing + u" title="_s + title);

    QSet<IndexPath> selection = collectionView->selectionIndexPaths();
    if (SettingsQueries::isAutoReassignMode() && selection.isEmpty()) {
        collectionView->selectAll();
        selection = collectionView->selectionIndexPaths();
    }
    if (selection.isEmpty()) {
        showNothingSelectedAlert(sectionid);
        return;
    }
    bool isNumber = false;
    const qsizetype section = sectionid.toLongLong(&isNumber);
    QList<IndexPath> ordered(selection.cbegin(), selection.cend());
    std::sort(ordered.begin(), ordered.end());
    QList<QUrl> urlstochange;
    for (const IndexPath &path : std::as_const(ordered)) {
        const ImageFilePtr file = imageDirectoryLoader->imageFileForIndexPath(path);
        if (!file)
            continue;
        if (isNumber && path.section == section)
            urlstochange.append(file->fileurl());
        else
            logLine(u"Ignoring selected item #"_s + QString::number(path.item) + u" in DIFFERENT section "_s
                    + QString::number(path.section));
    }
    if (urlstochange.isEmpty()) {
        showNothingSelectedAlert(sectionid);
        return;
    }
    presentReassignSheet(urlstochange);
}

void ViewController::presentReassignSheet(const QList<QUrl> &urlstochange, const QVariantMap &detectedCodes)
{
    performSegue(u"dummyButtonSegue1"_s);
    const std::optional<QList<QUrl>> &all = imageDirectoryLoader->fSortedUrls();
    QVariantMap info {{NotificationKeys::command, NotificationValues::dosomething},
                      {NotificationKeys::urlstochange, QVariant::fromValue(urlstochange)},
                      {NotificationKeys::fulSortedlUrlList, all ? QVariant::fromValue(*all) : QVariant()}};
    if (!detectedCodes.isEmpty())
        info.insert(NotificationKeys::detectedCodes, detectedCodes);
    NotificationCenter::defaultCenter().post(NotificationNames::myReassignId, info);
}

void ViewController::showNothingSelectedAlert(const QString &sectionid)
{
    QPointer<ViewController> self(this);
    Dispatch::onMain(this, [self, sectionid] {
        Alert::beginSheet(self->window(),
                          {Alert::Style::Warning,
                           u"NOTHING SELECTED INSIDE THIS SECTION"_s,
                           u"You did NOT select any item that is inside this current section="_s + sectionid,
                           {u"OK"_s}});
    });
}

// --- deleting -------------------------------------------------------------------

void ViewController::deleteMarked(QAbstractButton *)
{
    const QSet<IndexPath> selection = collectionView->selectionIndexPaths();
    if (selection.isEmpty())
        return;
    QList<IndexPath> ordered(selection.cbegin(), selection.cend());
    std::sort(ordered.begin(), ordered.end());
    QList<QUrl> urls;
    QList<IndexPath> paths;
    for (const IndexPath &path : std::as_const(ordered)) {
        if (const ImageFilePtr file = imageDirectoryLoader->imageFileForIndexPath(path)) {
            urls.append(file->fileurl());
            paths.append(path);
        }
    }
    if (urls.isEmpty())
        return;
    QPointer<ViewController> self(this);
    Dispatch::onMain(this, [self, urls, paths] {
        Alert::beginSheet(self->window(),
                          {Alert::Style::Warning,
                           u"DELETE All the Marked Photos?"_s,
                           (urls.size() == 1 ? u"There is "_s : u"There are "_s)
                               + Plural::count(urls.size(), u"photo"_s, u"photos"_s) + u" marked"_s,
                           {u"NO - Do Nothing"_s, u"YES DELETE"_s}},
                          [self, urls, paths](int response) {
                              if (self && response == Alert::cSecondButtonReturn)
                                  self->deleteURLS(urls, paths);
                          });
    });
}

void ViewController::deleteURLS(const QList<QUrl> &urls, const QList<IndexPath> &indexPaths)
{
    QList<IndexPath> deleted;
    QStringList notTrashed;
    QString why;
    for (qsizetype i = 0; i < urls.size(); ++i) {
        const QString path = urls.at(i).toLocalFile();
        const TrashOrKeep::Outcome discarded = TrashOrKeep::discard(path);
        if (discarded.trashed) {
            deleted.append(indexPaths.value(i));
            continue;
        }
        notTrashed.append(path);
        if (why.isEmpty())
            why = FileResult::describeErrno(discarded.trashFailure.errorNumber());
    }
    // Deleted outright only when the operator, told why the trash refused, says so.
    if (!notTrashed.isEmpty())
        askToDeletePermanently(notTrashed, why);
    if (!deleted.isEmpty())
        Dispatch::onMain(this, [this] { refreshAllSections(nullptr); });
}

void ViewController::askToDeletePermanently(const QStringList &paths, const QString &why)
{
    constexpr qsizetype cNamesShown = 10;
    QStringList names;
    for (qsizetype i = 0; i < std::min(paths.size(), cNamesShown); ++i)
        names << NativePath::forDisplay(QFileInfo(paths.at(i)).fileName());
    if (paths.size() > cNamesShown)
        names << u"… and "_s + QString::number(paths.size() - cNamesShown) + u" more"_s;
    const QString count = Plural::count(paths.size(), u"Photo"_s, u"Photos"_s);
    Alert::Content question {
        Alert::Style::Critical,
        u"Delete "_s + count + u" Permanently?"_s,
        Plural::count(paths.size(), u"photo"_s, u"photos"_s) + u" could not be moved to the trash."_s
            + (why.isEmpty() ? QString() : u"\nReason: "_s + why) + u"\n\n"_s + names.join(u'\n')
            + u"\n\nDeleted permanently, they cannot be brought back. Cancel keeps them in the folder."_s,
        {u"Cancel"_s, u"Delete Permanently"_s}};
    question.carefulButton = 0;
    QPointer<ViewController> self(this);
    Alert::beginSheet(window(), question, [self, paths](int response) {
        if (response != Alert::cSecondButtonReturn) {
            logLine(u"deleteURLS - kept "_s + QString::number(paths.size()) + u" photo(s) the trash refused"_s);
            return;
        }
        QStringList failed;
        for (const QString &path : paths) {
            if (const FileResult removed = SafeFile::remove(path); removed) {
                logLine(u"deleteURLS - deleted permanently, as the operator confirmed: "_s + path);
            } else {
                logLine(u"oops something went wrong with removeItemAtURL  "_s + removed.text());
                failed << NativePath::forDisplay(QFileInfo(path).fileName()) + u": "_s
                        + FileResult::describeErrno(removed.errorNumber());
            }
        }
        if (!self)
            return;
        if (!failed.isEmpty())
            Alert::beginSheet(self->window(),
                              {Alert::Style::Warning,
                               Plural::count(failed.size(), u"Photo"_s, u"Photos"_s) + u" Could Not Be Deleted"_s,
                               failed.join(u'\n'),
                               {u"OK"_s}});
        self->refreshAllSections(nullptr);
    });
}

// --- other commands ---------------------------------------------------------------

void ViewController::doNotificationForOpenPref(const Notification &)
{
    performSegue(u"dummyButtonSegue2"_s);
}

void ViewController::doNotificationForLoadNewCard(const Notification &)
{
    performSegue(u"dummyButtonSegue3"_s);
}

void ViewController::finishProcess(QObject *)
{
    const std::optional<QString> destination = DestinationPathRules::formPathToImageInsideMainImagesFolder(QString());
    const QString source = pathtophotos;
    if (!destination || source.isEmpty() || !QFileInfo(source).isDir()) {
        logLine(u"ViewController -> finishProcess.... no destination or no source folder: nothing to do"_s);
        return;
    }
    performSegue(u"dummyButtonSegue6"_s);
    const QString destinationPath = *destination;
    Dispatch::inBackgroundAfter(500, [source, destinationPath] {
        NotificationCenter::defaultCenter().post(NotificationNames::mycopytomainfolder,
                                                 {{NotificationKeys::command, NotificationValues::dosomething},
                                                  {NotificationKeys::srcpath, source},
                                                  {NotificationKeys::destpath, destinationPath}});
    });
}

void ViewController::cancelProcess(QObject *)
{
    Q_EMIT quitRequested();
}

// --- cards, empty folders, the reassign command ---------------------------------------

void ViewController::doNotificationCardOffered(const Notification &notification)
{
    const QString card = notification.userInfo.value(NotificationKeys::NSDevicePath).toString();
    QString name = notification.userInfo.value(NotificationKeys::volumename).toString();
    if (name.isEmpty())
        name = card;
    // A sheet that is open handles cards itself (the card sheet) or must not be interrupted.
    if (card.isEmpty() || !presentedSheets().isEmpty())
        return;
    logLine(u"ViewController -> card offered: "_s + card);
    cardOfferBar->setProperty("card", card);
    cardOfferBar->offer(u"A camera card, “"_s + NativePath::forDisplay(name) + u"”, was put in."_s,
                        u"Import card "_s + NativePath::forDisplay(name), [this, card] {
                            performSegue(u"dummyButtonSegue3"_s, {{u"offeredCard"_s, card}});
                        });
}

void ViewController::doNotificationCardWithdrawn(const Notification &notification)
{
    if (notification.userInfo.value(NotificationKeys::NSDevicePath).toString()
        == cardOfferBar->property("card").toString())
        cardOfferBar->dismiss();
}

void ViewController::doNotificationKeptStaging(const Notification &notification)
{
    const QStringList kept = notification.userInfo.value(NotificationKeys::folders).toStringList();
    if (kept.isEmpty()) {
        keptStagingBar->dismiss();
        return;
    }
    QStringList shown;
    for (const QString &folder : kept)
        shown << NativePath::forDisplay(folder);
    keptStagingBar->offer(u"A card import was cut short and some of its copies are on neither the card nor the "
                          u"working folder. They were kept in "_s
                              + shown.join(u", "_s) + u": look through them before deleting."_s,
                          u"Show in Files"_s, [kept] { DesktopOpener::revealInFileManager(kept); });
}

void ViewController::reassignMarked()
{
    QSet<qsizetype> sections;
    for (const IndexPath &path : collectionView->selectionIndexPaths())
        sections.insert(path.section);
    if (sections.size() > 1) {
        Alert::beginSheet(window(),
                          {Alert::Style::Informational,
                           u"Marked Photos in "_s + Plural::count(sections.size(), u"Section"_s, u"Sections"_s),
                           u"Reassign one section at a time: mark photos of one section only, or use the "
                           "button in that section's header."_s,
                           {u"OK"_s}});
        return;
    }
    // Nothing marked: in automatic mode the section in view, as its header button would.
    qsizetype section = 0;
    if (!sections.isEmpty()) {
        section = *sections.cbegin();
    } else if (const std::optional<qsizetype> inView =
                   collectionView->gridLayout().sectionAt(collectionView->contentOffset().y())) {
        section = *inView;
    }
    const QString title = sectionTitle(section);
    Notification press;
    press.name = NotificationNames::myCustomId0;
    press.userInfo = {{NotificationKeys::title, title},
                      {NotificationKeys::sectionid, QString::number(section)},
                      {NotificationKeys::command, NotificationValues::dosomething}};
    press.hasUserInfo = true;
    NotificationCenter::defaultCenter().post(press.name, press.userInfo);
}

QString ViewController::sectionTitle(qsizetype section) const
{
    if (imageDirectoryLoader->singleSectionMode())
        return {};
    const QString barcode = imageDirectoryLoader->barcodeidForSection(section).value_or(u"Unknown!"_s);
    return u"ID["_s + QString::number(section) + u"] = "_s + barcode;
}

void ViewController::updateEmptyFolderHint()
{
    const bool empty = !imageDirectoryLoader->isLoading() && imageDirectoryLoader->numberOfItems() == 0;
    if (!empty) {
        emptyFolderHint->hide();
        return;
    }
    const QString destination =
        SettingsStore::standard().stringForKey(cPrefDestinationPath).value_or(QString()).trimmed();
    emptyFolderHint->setFolder(pathtophotos, !pathtophotos.isEmpty() && QFileInfo(pathtophotos).isDir());
    emptyFolderHint->setDestinationMissing(destination.isEmpty());
    placeEmptyFolderHint();
    emptyFolderHint->show();
    emptyFolderHint->raise();
}

void ViewController::placeEmptyFolderHint()
{
    const QRect area = collectionView->geometry();
    const int width = std::min(area.width() - 40, 640);
    const QSize size(width,
                     emptyFolderHint->heightForWidth(width) > 0 ? emptyFolderHint->heightForWidth(width)
                                                                : emptyFolderHint->sizeHint().height());
    emptyFolderHint->setGeometry(QRect(QPoint(area.center().x() - size.width() / 2, area.top() + 120), size));
}

void ViewController::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    if (emptyFolderHint->isVisible())
        placeEmptyFolderHint();
}

QDialog *ViewController::performSegue(const QString &identifier, const QVariantMap &context)
{
    logLine(u"ViewController -> performSegue.... "_s + identifier);
    QDialog *sheet = SheetRegistry::make(identifier, window());
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    sheet->setWindowModality(Qt::WindowModal);
    for (auto it = context.cbegin(); it != context.cend(); ++it)
        sheet->setProperty(it.key().toUtf8().constData(), it.value());
    // What a sheet changed (folders in the preferences, photos) may change what the empty grid says.
    connect(sheet, &QDialog::finished, this, [this] { updateEmptyFolderHint(); });
    // A card offered while a sheet was up is not offered any more: the sheet saw it.
    cardOfferBar->dismiss();
    m_sheets.removeAll(nullptr);
    m_sheets.append(sheet);
    sheet->open();
    Q_EMIT sheetPresented(identifier, sheet);
    return sheet;
}

QList<QDialog *> ViewController::presentedSheets() const
{
    QList<QDialog *> sheets;
    for (const QPointer<QObject> &sheet : m_sheets) {
        QDialog *dialog = qobject_cast<QDialog *>(sheet.data());
        if (dialog && dialog->isVisible())
            sheets.append(dialog);
    }
    return sheets;
}

void ViewController::startReadingBarcodes()
{
    // Badges belong to the photos as they are now: a file written anew under an old
    // name must not keep its predecessor's. Readings still valid come back at once.
    m_readings.clear();
    QList<NativePath> paths;
    for (const ImageFilePtr &file : imageDirectoryLoader->imageFiles())
        paths.append(NativePath(file->fileurl().toLocalFile()));
    barcodeScanner->start(paths);
    refreshBadges();
}

void ViewController::refreshBadges()
{
    gridAdapter->badgesChanged();
}

QString ViewController::barcodeBadgeFor(const QString &path) const
{
    const QStringList codes = m_readings.value(path);
    if (codes.isEmpty())
        return {};
    return codes.size() == 1 ? codes.first() : codes.first() + u" +"_s + QString::number(codes.size() - 1);
}

void ViewController::applyBarcodes()
{
    if (!presentedSheets().isEmpty())
        return;
    const QList<ImageFilePtr> files = imageDirectoryLoader->imageFiles();
    if (files.isEmpty())
        return;
    QList<QUrl> barcodePhotos;
    QVariantMap codesOf;
    qsizetype unread = 0;
    for (const ImageFilePtr &file : files) {
        const QString path = file->fileurl().toLocalFile();
        const auto reading = m_readings.constFind(path);
        if (reading == m_readings.cend()) {
            ++unread;
        } else if (!reading->isEmpty()) {
            barcodePhotos.append(file->fileurl());
            codesOf.insert(path, *reading);
        }
    }
    // A photo not yet read may be a barcode photo: grouping without it would put its
    // group's photos under the barcode before.
    if (unread > 0) {
        if (!barcodeScanner->isRunning())
            startReadingBarcodes();
        Alert::beginSheet(window(),
                          {Alert::Style::Informational,
                           u"Barcodes Are Still Being Read"_s,
                           Plural::count(unread, u"photo is"_s, u"photos are"_s)
                               + u" not read yet. Apply Barcodes when the reading in the status bar is done."_s,
                           {u"OK"_s}});
        return;
    }
    if (barcodePhotos.isEmpty()) {
        Alert::beginSheet(window(),
                          {Alert::Style::Informational,
                           u"No Barcodes Found"_s,
                           u"No barcode was read in the "_s + Plural::count(files.size(), u"photo"_s, u"photos"_s)
                               + u" of this folder. Mark the barcode photos and reassign them by hand."_s,
                           {u"OK"_s}});
        return;
    }
    presentReassignSheet(barcodePhotos, codesOf);
}

void ViewController::doNotificationApplyBarcodes(const Notification &)
{
    applyBarcodes();
}
