#include "ViewController.h"

#include "BarcodeReadingPanel.h"
#include "EmptyFolderHint.h"
#include "NoticeBar.h"
#include "PhotoGridAdapter.h"
#include "PhotoGridView.h"
#include "SectionCommands.h"
#include "SegmentedControl.h"
#include "SheetPresenter.h"
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
        // The grid asked for its photos before the reading began: asked again for their codes.
        gridAdapter->prioritizeVisible();
    });

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
    gridAdapter->setBadgeSource([this](const QString &path) { return barcodeBadgeFor(path); });
    connect(gridAdapter, &PhotoGridAdapter::visibleWanted, m_barcodePanel, &BarcodeReadingPanel::prioritize);
    viewDidLoad();
}

ViewController::~ViewController()
{
    NotificationCenter::defaultCenter().removeObserver(this);
    // Its readings reach the grid's items until it stops: it stops before the grid goes,
    // and the grid asks it for no badge after.
    delete m_barcodePanel;
    m_barcodePanel = nullptr;
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
    gridAdapter->badgesChanged();
}

QString ViewController::barcodeBadgeFor(const QString &path) const
{
    return m_barcodePanel ? m_barcodePanel->badgeFor(path) : QString();
}
