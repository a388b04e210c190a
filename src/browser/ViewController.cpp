#include "ViewController.h"

#include "BarcodeReadingPanel.h"
#include "CollectionView.h"
#include "CollectionViewItem.h"
#include "EmptyFolderHint.h"
#include "HeaderView.h"
#include "NoticeBar.h"
#include "SectionCommands.h"
#include "SegmentedControl.h"
#include "SheetPresenter.h"
#include "filing/DestinationPathRules.h"
#include "reassign/ReassignRecovery.h"
#include "settings/BundleInfo.h"
#include "settings/MyAliasKit.h"
#include "settings/SettingsKeys.h"
#include "settings/SettingsQueries.h"
#include "settings/SettingsStore.h"
#include "settings/SharedConstants.h"
#include "support/Alert.h"
#include "support/Dispatch.h"
#include "support/NotificationCenter.h"
#include "support/NotificationNames.h"
#include "support/PathUtils.h"
#include "support/Plural.h"
#include "support/SafeFile.h"
#include "support/SystemLog.h"

#include <QAction>
#include <QDialog>
#include <QFileInfo>
#include <QFileSystemWatcher>
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
    , collectionView(new CollectionView(this))
    , imageDirectoryLoader(new ImageDirectoryLoader(this))
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
        m_keepSelection = true;
        finishInterruptedRuns();
        imageDirectoryLoader->beginLoadingFolder(QUrl::fromLocalFile(pathtophotos), true);
    });
    connect(imageDirectoryLoader, &ImageDirectoryLoader::aboutToReplaceRecords, this, &ViewController::rememberPlace);
    connect(imageDirectoryLoader, &ImageDirectoryLoader::folderListed, this, [this] {
        collectionView->reloadData();
        restorePlace();
        prioritizeVisible();
        updateEmptyFolderHint();
        startReadingBarcodes();
    });
    connect(imageDirectoryLoader, &ImageDirectoryLoader::thumbnailsArrived, this,
            [this](const QList<qsizetype> &indices) {
                // Only the arrivals that have a widget need it filled in.
                QSet<IndexPath> shown;
                for (const IndexPath &path : collectionView->preparedIndexPaths())
                    shown.insert(path);
                QSet<IndexPath> changed;
                for (qsizetype index : indices) {
                    const std::optional<IndexPath> path = imageDirectoryLoader->indexPathForIndex(index);
                    if (path && shown.contains(*path))
                        changed.insert(*path);
                }
                if (!changed.isEmpty())
                    collectionView->reloadItems(changed);
            });
    connect(collectionView, &CollectionView::visibleItemsChanged, this, &ViewController::prioritizeVisible);

    m_sheetPresenter = new SheetPresenter(cardOfferBar, keptStagingBar, this);
    connect(m_sheetPresenter, &SheetPresenter::sheetPresented, this, &ViewController::sheetPresented);
    // What a sheet changed (folders in the preferences, photos) may change what the empty grid says.
    connect(m_sheetPresenter, &SheetPresenter::sheetFinished, this, &ViewController::updateEmptyFolderHint);
    m_sectionCommands = new SectionCommands(collectionView, imageDirectoryLoader, m_sheetPresenter, this);
    connect(m_sectionCommands, &SectionCommands::refreshNeeded, this, [this] { refreshAllSections(nullptr); });
    m_barcodePanel = new BarcodeReadingPanel(imageDirectoryLoader, m_sheetPresenter, this);
    barcodeScanner = m_barcodePanel->scanner();
    barcodeStatus = m_barcodePanel->status;
    barcodeStatusLabel = m_barcodePanel->statusLabel;
    barcodeCancelButton = m_barcodePanel->cancelButton;
    connect(m_barcodePanel, &BarcodeReadingPanel::badgesChanged, this, &ViewController::refreshBadges);
    viewDidLoad();
}

ViewController::~ViewController()
{
    NotificationCenter::defaultCenter().removeObserver(this);
    // Its readings reach the grid's items until it stops: it stops before the grid goes.
    delete m_barcodePanel;
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
    applyBarcodesAction =
        make(u"Apply &Barcodes…"_s, QKeySequence(u"Ctrl+B"_s), [this] { m_barcodePanel->applyBarcodes(); });
    reassignAction =
        make(u"&Reassign Marked Photos…"_s, QKeySequence(u"Ctrl+R"_s), [this] { m_sectionCommands->reassignMarked(); });
}

void ViewController::observe(const QString &name, const std::function<void(const Notification &)> &handler)
{
    // The handlers touch the grid: a post from another thread reaches them through the main queue.
    NotificationCenter::defaultCenter().addObserver(this, name, [this, handler](const Notification &n) {
        if (Dispatch::isMainThread())
            handler(n);
        else
            Dispatch::onMain(this, [handler, n] { handler(n); });
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

    const auto own = [this](void (ViewController::*handler)(const Notification &)) {
        return [this, handler](const Notification &n) { (this->*handler)(n); };
    };
    observe(NotificationNames::myCustomId0, own(&ViewController::doNotificationForButton0));
    observe(NotificationNames::myCustomId, own(&ViewController::doNotificationForButton));
    observe(NotificationNames::myOpenPrefId, own(&ViewController::doNotificationForOpenPref));
    observe(NotificationNames::myRefreshId, own(&ViewController::doNotificationRefresh));
    observe(NotificationNames::mySelectAll, own(&ViewController::doNotificationForSelectAll));
    observe(NotificationNames::myloadnewcard, own(&ViewController::doNotificationForLoadNewCard));
    observe(NotificationNames::vimoNotificationChangedSourcePath,
            own(&ViewController::doNotificationAlwaysUseMainstayPath));
    observe(NotificationNames::mycardoffered, [this](const Notification &n) { m_sheetPresenter->offerCard(n); });
    observe(NotificationNames::mycardwithdrawn, [this](const Notification &n) { m_sheetPresenter->withdrawCard(n); });
    observe(NotificationNames::mykeptstaging, [this](const Notification &n) { m_sheetPresenter->showKeptStaging(n); });
    observe(NotificationNames::myApplyBarcodesId, [this](const Notification &) { m_barcodePanel->applyBarcodes(); });
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
    collectionView->setSelectable(true);
    collectionView->setAllowsEmptySelection(true);
    collectionView->setAllowsMultipleSelection(true);
    CollectionViewFlowLayout &layout = collectionView->collectionViewLayout();
    layout.itemSize = QSizeF(250, 250);
    layout.sectionInset = QMarginsF(20, 30, 20, 30);
    layout.minimumInteritemSpacing = 10;
    layout.minimumLineSpacing = 10;
    collectionView->setBackgroundColor(Qt::black);
    collectionView->registerClass(CollectionViewItem::cIdentifier,
                                  [](QWidget *parent) { return new CollectionViewItem(parent); });
    collectionView->registerClass(HeaderView::cIdentifier, [](QWidget *parent) { return new HeaderView(parent); });
    collectionView->setDataSource(this);
    collectionView->setDelegate(this);
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

void ViewController::rememberPlace()
{
    m_place.clear();
    const qreal top = collectionView->contentOffset().y();
    for (const IndexPath &path : collectionView->indexPathsForVisibleItems()) {
        const std::optional<FileIdentity> id =
            imageDirectoryLoader->identityAt(imageDirectoryLoader->indexForIndexPath(path));
        if (id)
            m_place.append({*id, collectionView->frameForItem(path).top() - top});
    }
    m_keptSelection.clear();
    if (m_keepSelection) {
        for (const IndexPath &path : collectionView->selectionIndexPaths()) {
            if (const auto id = imageDirectoryLoader->identityAt(imageDirectoryLoader->indexForIndexPath(path)))
                m_keptSelection.insert(*id);
        }
    }
}

void ViewController::restorePlace()
{
    // The first photo that was in view and still exists stays where it was on screen,
    // so the section being worked on does not jump away after a correction.
    for (const auto &[identity, fromTop] : std::as_const(m_place)) {
        const std::optional<IndexPath> path =
            imageDirectoryLoader->indexPathForIndex(imageDirectoryLoader->indexOfIdentity(identity));
        if (path) {
            collectionView->setContentOffset(QPointF(0, collectionView->frameForItem(*path).top() - fromTop));
            break;
        }
    }
    m_place.clear();
    if (m_keepSelection) {
        QSet<IndexPath> reselect;
        for (const FileIdentity &identity : std::as_const(m_keptSelection)) {
            if (const auto path =
                    imageDirectoryLoader->indexPathForIndex(imageDirectoryLoader->indexOfIdentity(identity)))
                reselect.insert(*path);
        }
        // Positions moved: the marks follow the photos, not the places.
        QSet<IndexPath> stale = collectionView->selectionIndexPaths();
        stale.subtract(reselect);
        collectionView->deselectItems(stale, true);
        collectionView->selectItems(reselect, true);
    } else {
        collectionView->deselectAll(true);
    }
    m_keepSelection = false;
    m_keptSelection.clear();
}

void ViewController::prioritizeVisible()
{
    // What is on screen first, then the screenful below it.
    QList<IndexPath> visible = collectionView->indexPathsForVisibleItems();
    QList<qsizetype> wanted;
    for (const IndexPath &path : std::as_const(visible))
        wanted.append(imageDirectoryLoader->indexForIndexPath(path));
    if (!wanted.isEmpty()) {
        const qsizetype last = wanted.constLast();
        const qsizetype screen = wanted.size();
        for (qsizetype i = 1; i <= screen; ++i)
            wanted.append(last + i);
    }
    imageDirectoryLoader->prioritize(wanted);
}

void ViewController::refreshAllSections(QObject *)
{
    collectionView->deselectAll();
    reloadUrlsFromFolder();
    collectionView->reloadData();
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

qsizetype ViewController::numberOfSections(CollectionView *)
{
    // Before a folder's first listing arrives the loader has no records but still one
    // section: shown, it would flash an empty "Unknown!" section before the photos.
    if (imageDirectoryLoader->isLoading() && imageDirectoryLoader->numberOfItems() == 0)
        return 0;
    return imageDirectoryLoader->numberOfSections();
}

qsizetype ViewController::numberOfItemsInSection(CollectionView *, qsizetype section)
{
    return imageDirectoryLoader->numberOfItemsInSection(section);
}

QWidget *ViewController::itemForRepresentedObjectAt(CollectionView *view, const IndexPath &indexPath)
{
    auto *item = static_cast<CollectionViewItem *>(view->makeItem(CollectionViewItem::cIdentifier, indexPath));
    // A recycled item must not keep the photo it showed before.
    item->setImageFile(imageDirectoryLoader->imageFileForIndexPath(indexPath));
    item->setHighlight(view->selectionIndexPaths().contains(indexPath));
    item->setBadge(item->imageFile() ? barcodeBadgeFor(item->imageFile()->fileurl().toLocalFile()) : QString());
    return item;
}

QWidget *ViewController::viewForSupplementaryElementOfKind(CollectionView *view, const QString &kind,
                                                           const IndexPath &indexPath)
{
    auto *header = static_cast<HeaderView *>(view->makeSupplementaryView(kind, HeaderView::cIdentifier, indexPath));
    const qsizetype count = imageDirectoryLoader->numberOfItemsInSection(indexPath.section);
    header->sectionTitle->setText(sectionTitle(indexPath.section));
    header->imageCount->setText(Plural::count(count, u"Item"_s, u"Items"_s));
    header->sectionid = int(indexPath.section);
    header->applyButton->setVisible(SettingsQueries::isAutoReassignMode());
    return header;
}

QSizeF ViewController::sizeForItemAt(CollectionView *, const IndexPath &)
{
    return QSizeF(cDefaultItemSize.width() * itemScaleFactor, cDefaultItemSize.height() * itemScaleFactor);
}

QSizeF ViewController::referenceSizeForHeaderInSection(CollectionView *, qsizetype)
{
    return cHeaderReferenceSize;
}

void ViewController::didSelectItemsAt(CollectionView *view, const QSet<IndexPath> &indexPaths)
{
    for (const IndexPath &path : indexPaths) {
        if (auto *item = qobject_cast<CollectionViewItem *>(view->itemAtIndexPath(path)))
            item->setHighlight(true);
    }
}

void ViewController::didDeselectItemsAt(CollectionView *view, const QSet<IndexPath> &indexPaths)
{
    for (const IndexPath &path : indexPaths) {
        if (auto *item = qobject_cast<CollectionViewItem *>(view->itemAtIndexPath(path)))
            item->setHighlight(false);
    }
}

bool ViewController::canDragItemsAt(CollectionView *, const QSet<IndexPath> &)
{
    return true;
}

bool ViewController::writeItemsAt(CollectionView *, const QSet<IndexPath> &indexPaths, QMimeData *data)
{
    QList<IndexPath> ordered(indexPaths.cbegin(), indexPaths.cend());
    std::sort(ordered.begin(), ordered.end());
    QStringList names;
    for (const IndexPath &path : std::as_const(ordered)) {
        if (const ImageFilePtr file = imageDirectoryLoader->imageFileForIndexPath(path))
            names << file->fileName();
    }
    data->setText(names.join(u'\n'));
    return true;
}

bool ViewController::validateDrop(CollectionView *, const QMimeData *)
{
    return true;
}

bool ViewController::acceptDrop(CollectionView *, const QMimeData *)
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
    collectionView->reloadData();
}

void ViewController::doDeselectAll(QObject *)
{
    collectionView->deselectAll(true);
}

void ViewController::doNotificationForSelectAll(const Notification &)
{
    const qsizetype photos = imageDirectoryLoader->numberOfItems();
    if (photos > 0 && collectionView->selectionIndexPaths().size() >= photos)
        collectionView->deselectAll(true);
    else
        collectionView->selectAll(true);
}

// --- header button --------------------------------------------------------------

void ViewController::doNotificationForButton0(const Notification &notification)
{
    m_sectionCommands->headerButtonPressed(notification);
}

void ViewController::doNotificationForButton(const Notification &notification)
{
    m_sectionCommands->reassignSection(notification);
}

void ViewController::deleteMarked(QAbstractButton *)
{
    m_sectionCommands->deleteMarked();
}

void ViewController::deleteURLS(const QList<QUrl> &urls, const QList<IndexPath> &indexPaths)
{
    m_sectionCommands->deleteURLS(urls, indexPaths);
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

// --- empty folders, sheets, barcodes ---------------------------------------------------

QString ViewController::sectionTitle(qsizetype section) const
{
    return SectionCommands::sectionTitle(*imageDirectoryLoader, section);
}

void ViewController::updateEmptyFolderHint()
{
    if (!imageDirectoryLoader->isLoading() && imageDirectoryLoader->numberOfItems() == 0)
        emptyFolderHint->showOver(collectionView, pathtophotos);
    else
        emptyFolderHint->hide();
}

QDialog *ViewController::performSegue(const QString &identifier, const QVariantMap &context)
{
    return m_sheetPresenter->performSegue(identifier, context);
}

QList<QDialog *> ViewController::presentedSheets() const
{
    return m_sheetPresenter->presentedSheets();
}

void ViewController::startReadingBarcodes()
{
    m_barcodePanel->startReading();
}

void ViewController::refreshBadges()
{
    // Only the items that exist need it: the others get their badge when they are made.
    for (const IndexPath &path : collectionView->preparedIndexPaths()) {
        auto *item = qobject_cast<CollectionViewItem *>(collectionView->itemAtIndexPath(path));
        if (item && item->imageFile())
            item->setBadge(barcodeBadgeFor(item->imageFile()->fileurl().toLocalFile()));
    }
}

QString ViewController::barcodeBadgeFor(const QString &path) const
{
    return m_barcodePanel->badgeFor(path);
}
