#include "LoadCardViewController.h"

#include "CameraCardRules.h"
#include "CardCopyRun.h"
#include "MountWatcher.h"
#include "VolumeEjector.h"
#include "VolumeInfo.h"
#include "barcodes/BarcodeCache.h"
#include "filing/DestinationPathRules.h"
#include "settings/SettingsKeys.h"
#include "settings/SettingsStore.h"
#include "support/Alert.h"
#include "support/Dispatch.h"
#include "support/Notification.h"
#include "support/NotificationCenter.h"
#include "support/NotificationNames.h"
#include "support/PathUtils.h"
#include "support/SheetRegistry.h"
#include "support/SystemLog.h"
#include "support/WorkInProgress.h"

#include <QDialogButtonBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMutex>
#include <QMutexLocker>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>
#include <QVBoxLayout>
#include <atomic>

using namespace Qt::StringLiterals;

const QString LoadCardViewController::cSegueIdentifier = u"dummyButtonSegue3"_s;

namespace {
const QString kInsertCard = u"Please Insert CARD..."_s;
const QString kEjectCard = u"Eject Card"_s;
const QString kUseCard = u"Use This Card"_s;
const QString kLeaveCard = u"Do Nothing"_s;

QString cardQuestion(const QString &path)
{
    return u"CARD found at:\n"_s + path + u"\n\nDo you really wish to use this or eject it?"_s;
}

void ejectInBackground(const QString &path)
{
    Dispatch::inBackground([path] { VolumeEjector::unmountAndEjectDeviceAtPath(path); });
}

QMutex g_testLock;
std::function<void(CardCopyRun::Options &)> g_adjustOptions;

QString megabytes(qint64 bytes)
{
    return QString::number(bytes / 1e6, 'f', bytes < 10'000'000 ? 1 : 0);
}
} // namespace

// What a run shares with the sheet; it outlives the sheet when the operator closes it early.
struct LoadCardViewController::RunState
{
    std::atomic<int> queued {0};
    QMutex lock;
    CardCopyRun::Progress progress;
    bool hasProgress = false;
};

void LoadCardViewController::registerSheet()
{
    SheetRegistry::registerSheet(cSegueIdentifier, [](QWidget *window) { return new LoadCardViewController(window); });
}

LoadCardViewController::LoadCardViewController(QWidget *parent)
    : QDialog(parent)
    , ibAssignUnknownNSButon(new QPushButton(u"Import UNASSIGNED Photos"_s, this))
    , ibProgressIndicator(new QProgressBar(this))
    , progressBar(new QProgressBar(this))
    , rateLabel(new QLabel(this))
    , statusLabel(new QLabel(this))
    , manualButton(new QPushButton(u"Select Folder Manually..."_s, this))
    , closeButton(new QPushButton(u"Close"_s, this))
    , fStatusString(kInsertCard)
    , m_state(std::make_shared<RunState>())
    , m_progressTimer(new QTimer(this))
{
    setWindowTitle(u"Load New Card"_s);
    setWindowModality(Qt::WindowModal);
    statusLabel->setObjectName(u"statusLabel"_s);
    statusLabel->setWordWrap(true);
    statusLabel->setMinimumHeight(48);
    statusLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    ibProgressIndicator->setObjectName(u"ibProgressIndicator"_s);
    ibProgressIndicator->setTextVisible(false);
    progressBar->setObjectName(u"progressBar"_s);
    progressBar->setRange(0, 1000);
    progressBar->setValue(0);
    progressBar->setFormat(QString());
    rateLabel->setObjectName(u"rateLabel"_s);
    ibAssignUnknownNSButon->setObjectName(u"ibAssignUnknownNSButon"_s);
    manualButton->setObjectName(u"manualButton"_s);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(statusLabel);
    layout->addWidget(ibProgressIndicator);
    layout->addWidget(progressBar);
    layout->addWidget(rateLabel);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(manualButton);
    buttons->addWidget(ibAssignUnknownNSButon);
    buttons->addStretch();
    buttons->addWidget(closeButton);
    layout->addLayout(buttons);
    resize(560, 220);

    connect(manualButton, &QPushButton::clicked, this, &LoadCardViewController::doManualSelectFolder);
    connect(ibAssignUnknownNSButon, &QPushButton::clicked, this, &LoadCardViewController::doSelectUnassigedFolder);
    connect(closeButton, &QPushButton::clicked, this, &QDialog::reject);
    m_progressTimer->setInterval(100);
    connect(m_progressTimer, &QTimer::timeout, this, &LoadCardViewController::refreshProgress);

    // viewDidLoad
    setStatusString(fStatusString);
    startProgressindicator();
    fOpenPanel.reset();
    addobserversForCard();
    ibAssignUnknownNSButon->setHidden(true);
}

LoadCardViewController::~LoadCardViewController()
{
    removeobserversForCard();
}

void LoadCardViewController::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    // viewDidAppear: once, not again when the window comes back from the dock.
    if (event->spontaneous() || m_checkedExisting)
        return;
    m_checkedExisting = true;
    // Opened for a card the operator chose to import (the window's notice bar):
    // straight to that card, no question about cards already in the reader.
    const QString offered = property("offeredCard").toString();
    if (!offered.isEmpty()) {
        Notification note;
        note.name = NotificationNames::NSWorkspaceDidMountNotification;
        note.userInfo = {{NotificationKeys::NSDevicePath, offered},
                         {NotificationKeys::NOTE, NotificationValues::fromThisInternalApp}};
        note.hasUserInfo = true;
        QPointer<LoadCardViewController> self(this);
        Dispatch::inBackground([self, note] { checkMountedVolume(self, note); });
        return;
    }
    checkExistingVolumes();
}

void LoadCardViewController::done(int result)
{
    // viewWillDisappear / viewDidDisappear
    removeobserversForCard();
    stopProgressindicator();
    m_progressTimer->stop();
    setStatusString(QString());
    QDialog::done(result);
}

void LoadCardViewController::setStatusString(const QString &text)
{
    fStatusString = text;
    statusLabel->setText(text);
    SettingsStore::standard().setString(text, cPrefStatusString);
}

void LoadCardViewController::startProgressindicator()
{
    ibProgressIndicator->setRange(0, 0);
}

void LoadCardViewController::stopProgressindicator()
{
    ibProgressIndicator->setRange(0, 1);
    ibProgressIndicator->setValue(0);
}

bool LoadCardViewController::isRunning() const
{
    return m_state->queued.load() > 0;
}

bool LoadCardViewController::isObservingCards() const
{
    return m_observing;
}

void LoadCardViewController::addobserversForCard()
{
    if (m_observing)
        return;
    m_observing = true;
    NotificationCenter &center = NotificationCenter::defaultCenter();
    center.addObserver(this, NotificationNames::NSWorkspaceDidMountNotification,
                       [this](const Notification &n) { volumeDidMount(n); });
    center.addObserver(this, NotificationNames::NSWorkspaceDidUnmountNotification,
                       [this](const Notification &n) { volumeDidUnMount(n); });
    // The watcher only feeds the notification centre, where the rest of the
    // program (and tests) can post mounts of their own.
    m_watcher = new MountWatcher(this);
    const auto post = [](const QString &name, const QString &path) {
        NotificationCenter::defaultCenter().post(name, {{NotificationKeys::NSDevicePath, path}});
    };
    connect(m_watcher, &MountWatcher::mounted, this,
            [post](const QString &path) { post(NotificationNames::NSWorkspaceDidMountNotification, path); });
    connect(m_watcher, &MountWatcher::unmounted, this,
            [post](const QString &path) { post(NotificationNames::NSWorkspaceDidUnmountNotification, path); });
    if (!m_watcher->start())
        logLine(u"LoadCardViewController -> addobserversForCard.... the mount table cannot be watched; "
                "cards can still be chosen by hand"_s);
}

void LoadCardViewController::removeobserversForCard()
{
    if (!m_observing)
        return;
    m_observing = false;
    NotificationCenter::defaultCenter().removeObserver(this, NotificationNames::NSWorkspaceDidMountNotification);
    NotificationCenter::defaultCenter().removeObserver(this, NotificationNames::NSWorkspaceDidUnmountNotification);
    delete m_watcher;
    m_watcher = nullptr;
}

void LoadCardViewController::volumeDidUnMount(const Notification &notification)
{
    logLine(u"LoadCardViewController -> volumeDidUnMount.... "_s
            + notification.userInfo.value(NotificationKeys::NSDevicePath).toString());
}

void LoadCardViewController::volumeDidMount(const Notification &notification)
{
    QPointer<LoadCardViewController> self(this);
    Dispatch::inBackground([self, notification] { checkMountedVolume(self, notification); });
}

void LoadCardViewController::checkMountedVolume(QPointer<LoadCardViewController> self, const Notification &notification)
{
    const QString devicePath = notification.userInfo.value(NotificationKeys::NSDevicePath).toString();
    logLine(u"LoadCardViewController -> volumeDidMount.... "_s + devicePath
            + (notification.userInfo.contains(NotificationKeys::NOTE)
                   ? u" ("_s + notification.userInfo.value(NotificationKeys::NOTE).toString() + u')'
                   : QString()));
    if (CameraCardRules::isRecoveryVolume(devicePath)) {
        logLine(u"Found the recovery volume - will ignore..."_s);
        return;
    }
    SettingsStore &store = SettingsStore::standard();
    const QString names = store.stringForKey(cPrefCameraCardFolderNames).value_or(QString());
    if (const std::optional<QString> folder = CameraCardRules::cameraFolderAtMount(devicePath, names)) {
        logLine(u"LoadCardViewController -> volumeDidMount.... found camera folder "_s + *folder + u" on "_s
                + devicePath);
        store.setString(devicePath, cPrefTempMountVolume);
        Dispatch::onMain([self, devicePath] {
            if (self)
                self->processNewCard(devicePath);
        });
        return;
    }
    Dispatch::onMain([self, devicePath] {
        if (!self)
            return;
        self->askAboutCard(u"Flash Card MAY NOT be a Camera Card !!!"_s, devicePath, [self, devicePath] {
            if (self)
                self->processNewCard(devicePath);
        });
    });
}

void LoadCardViewController::askAboutCard(const QString &messageText, const QString &path,
                                          const std::function<void()> &use)
{
    // Ejecting and importing both act on the card: Return and Escape leave it as it is.
    Alert::Content question {
        Alert::Style::Warning, messageText, cardQuestion(path), {kEjectCard, kUseCard, kLeaveCard}};
    question.carefulButton = 2;
    QPointer<LoadCardViewController> self(this);
    Alert::beginSheet(this, question, [self, path, use](int answer) {
        if (answer == Alert::cFirstButtonReturn) {
            ejectInBackground(path);
        } else if (answer == Alert::cSecondButtonReturn) {
            use();
        } else {
            logLine(u"LoadCardViewController -> askAboutCard.... left as it is: "_s + path);
            if (self)
                self->setStatusString(u"Card left as it was - insert a card or choose a folder"_s);
        }
    });
}

bool LoadCardViewController::checkExistingVolumes()
{
    const std::optional<QString> names = SettingsStore::standard().stringForKey(cPrefCameraCardFolderNames);
    const std::optional<QString> card = CameraCardRules::findExistingCard(VolumeInfo::removableMediaRoots(), names);
    if (!card)
        return false;
    logLine(u"LoadCardViewController -> checkExistingVolumes.... found "_s + *card);
    QPointer<LoadCardViewController> self(this);
    const QString path = *card;
    Dispatch::onMain(this, [self, path] {
        self->askAboutCard(u"EJECT Existing CARD !!!"_s, path, [self, path] {
            Notification note;
            note.name = NotificationNames::NSWorkspaceDidMountNotification;
            note.userInfo = {{NotificationKeys::NSDevicePath, path},
                             {NotificationKeys::NOTE, NotificationValues::fromThisInternalApp}};
            note.hasUserInfo = true;
            // Straight to the mount handling, not through the notification centre.
            Dispatch::inBackground([self, note] { checkMountedVolume(self, note); });
        });
    });
    return true;
}

void LoadCardViewController::setRunOptionsForTesting(std::function<void(CardCopyRun::Options &)> adjust)
{
    QMutexLocker locker(&g_testLock);
    g_adjustOptions = std::move(adjust);
}

void LoadCardViewController::processNewCard(const QString &url)
{
    logLine(u"LoadCardViewController -> processNewCard.... "_s + url);
    CardCopyRun::Options options = CardCopyRun::Options::fromSettings(url);
    // Read while the card is copied: the folder shown after the import finds its codes known.
    options.barcodes = &BarcodeCache::standard();
    const qsizetype unfiled = options.workingFolder.isEmpty() ? 0 : CardCopyRun::photosInFolder(options.workingFolder);
    if (unfiled == 0) {
        startRun(options);
        return;
    }
    // Asked before anything is copied; the careful answer comes first, so Return and Escape keep the photos.
    logLine(u"LoadCardViewController -> processNewCard.... the working folder holds %1 photos; asking"_s.arg(unfiled));
    // Photos with a barcode were meant to be filed: the question says how many would go to the trash instead.
    const QString photos =
        CardCopyRun::leftOverText(unfiled, CardCopyRun::unfiledBarcodedPhotos(options.workingFolder));
    QPointer<LoadCardViewController> self(this);
    Alert::beginSheet(this,
                      {Alert::Style::Warning,
                       u"Photos in the Working Folder !!!"_s,
                       u"The working folder\n"_s + options.workingFolder + u"\nholds "_s + photos
                           + u" that will be moved to the trash to make room for the card.\n\nDo you wish to "
                             "cancel, or to move them to the trash and import the card?"_s,
                       {u"Cancel"_s, u"Move to Trash and Import"_s}},
                      [self, options](int answer) mutable {
                          if (!self)
                              return;
                          if (answer != Alert::cSecondButtonReturn) {
                              logLine(u"LoadCardViewController -> processNewCard.... cancelled; the working "
                                      "folder was left as it was"_s);
                              self->setStatusString(u"Card NOT imported - the working folder was left as it was"_s);
                              if (!self->isRunning())
                                  self->stopProgressindicator();
                              return;
                          }
                          options.discardWorkingFolder = true;
                          self->startRun(options);
                      });
}

void LoadCardViewController::startRun(CardCopyRun::Options options)
{
    const std::shared_ptr<RunState> state = m_state;
    QPointer<LoadCardViewController> self(this);
    options.status = [self](const QString &text) {
        Dispatch::onMain([self, text] {
            if (self)
                self->setStatusString(text);
        });
    };
    options.progress = [state](const CardCopyRun::Progress &p) {
        QMutexLocker locker(&state->lock);
        state->progress = p;
        state->hasProgress = true;
    };
    {
        QMutexLocker locker(&g_testLock);
        if (g_adjustOptions)
            g_adjustOptions(options);
    }
    // A card import has no safe point before its end: the working folder may already
    // be cleared while the photos are still in staging. Quitting waits for it.
    std::shared_ptr<WorkInProgress::Token> work = WorkInProgress::begin(
        {u"A card import"_s, u"The card import is finished first; then Lumisort quits."_s}, [self] {
            if (self)
                self->setStatusString(u"Quitting when the card import is finished..."_s);
        });
    ++state->queued;
    startProgressindicator();
    m_progressTimer->start();
    CardCopyRun::queue().async([self, state, options, work] {
        const CardCopyRun::Result result = CardCopyRun::run(options);
        work->release();
        --state->queued;
        const int outcome = int(result.outcome);
        const QString message = result.message;
        const QString summary = result.summary();
        // Once the card got past staging the browser reloads and the sheet closes; after an
        // earlier stop it stays, so that the operator can try again.
        using Outcome = CardCopyRun::Outcome;
        const bool closes = result.outcome == Outcome::Transferred || result.outcome == Outcome::TransferIncomplete
            || result.outcome == Outcome::NoWorkingFolder || result.outcome == Outcome::WorkingFolderRefused;
        const bool alert = result.needsAlert();
        Dispatch::onMain([self, outcome, message, summary, closes, alert] {
            if (!self) {
                // The sheet was closed meanwhile; the operator must still hear of a problem.
                if (alert)
                    Alert::beginSheet(nullptr, {Alert::Style::Warning, u"Card Import"_s, message, {u"OK"_s}});
                return;
            }
            self->refreshProgress();
            // Over, whatever its end: a bar still turning would say it goes on.
            if (!self->isRunning())
                self->stopProgressindicator();
            // What really happened, never a "Done" for a card that was not completely imported.
            self->setStatusString(summary);
            Q_EMIT self->runFinished(outcome, message);
            if (!alert) {
                if (closes)
                    self->accept();
                return;
            }
            const bool imported = outcome == int(Outcome::Transferred);
            const QString title = imported ? u"Card Imported"_s
                : closes                   ? u"The Card Was Copied, With a Problem"_s
                                           : u"Card NOT Imported"_s;
            Alert::beginSheet(self, {Alert::Style::Warning, title, message, {u"OK"_s}}, [self, closes](int) {
                if (self && closes)
                    self->accept();
            });
        });
        if (closes) {
            QVariantMap info {{NotificationKeys::command, NotificationValues::refresh}};
            // The browser goes to the folder the card filled, even from another folder it had open.
            if (result.outcome == Outcome::Transferred || result.outcome == Outcome::TransferIncomplete)
                info.insert(NotificationKeys::srcpath, options.workingFolder);
            NotificationCenter::defaultCenter().post(NotificationNames::myRefreshId, info);
        }
    });
}

void LoadCardViewController::refreshProgress()
{
    CardCopyRun::Progress p;
    {
        QMutexLocker locker(&m_state->lock);
        if (!m_state->hasProgress)
            return;
        p = m_state->progress;
    }
    const double fraction = p.bytesTotal > 0 ? double(p.bytesDone) / double(p.bytesTotal)
                                             : (p.filesTotal > 0 ? double(p.filesDone) / double(p.filesTotal) : 0);
    progressBar->setValue(int(fraction * 1000));
    progressBar->setFormat(u"%1 of %2 photos copied"_s.arg(p.filesDone).arg(p.filesTotal)
                           + (p.filesFailed > 0 ? u", %1 failed"_s.arg(p.filesFailed) : QString()));
    rateLabel->setText(u"%1 of %2 MB, %3 MB/s"_s.arg(megabytes(p.bytesDone), megabytes(p.bytesTotal),
                                                     QString::number(p.megabytesPerSecond(), 'f', 1)));
    if (!isRunning())
        m_progressTimer->stop();
}

void LoadCardViewController::doManualSelectFolder()
{
    // A card mounted while the chooser is open is the operator's business, not the watcher's.
    removeobserversForCard();
    FolderPanel::Options panel;
    panel.title = u"Select Source CARD???"_s;
    panel.prompt = u"Select Folder ON CARD"_s;
    panel.message = u"Please Select the CARD..."_s;
    panel.canCreateDirectories = false;
    panel.showsHiddenFiles = false;
    panel.startFolder = PathUtils::expandTilde(
        SettingsStore::standard().stringForKey(cPrefSourcePath).value_or(QString())); // when no card root exists
    const QStringList roots = VolumeInfo::removableMediaRoots();
    for (const QString &root : roots) {
        if (QFileInfo(root).isDir()) {
            panel.startFolder = root;
            break;
        }
    }
    fOpenPanel = panel;
    QPointer<LoadCardViewController> self(this);
    FolderPanel::beginSheet(this, panel, [self](const std::optional<QString> &chosen) {
        if (!self)
            return;
        self->fOpenPanel.reset();
        if (chosen) {
            logLine(u"LoadCardViewController -> doManualSelectFolder.... "_s + *chosen);
            self->processNewCard(*chosen);
        }
        self->addobserversForCard();
    });
}

void LoadCardViewController::doSelectUnassigedFolder()
{
    SettingsStore &store = SettingsStore::standard();
    const QString destination = store.stringForKey(cPrefDestinationPath).value_or(QString()).trimmed();
    if (destination.isEmpty()) {
        // Without it the daily folder's name alone would be a path relative to wherever the program runs.
        logLine(u"LoadCardViewController -> doSelectUnassigedFolder.... no destination folder is set"_s);
        Alert::beginSheet(this,
                          {Alert::Style::Warning,
                           u"No Destination Folder"_s,
                           u"No destination folder is set in the preferences, so there is no "
                           "UNASSIGNED_PHOTOS folder to import from."_s,
                           {u"OK"_s}});
        return;
    }
    const std::optional<QString> daily =
        DestinationPathRules::getDuplicateFolderPath(cPrefDestinationPath, cPrefDailyFolderDateFormat);
    const QString path = DestinationPathRules::join(daily.value_or(destination), u"UNASSIGNED_PHOTOS"_s);
    logLine(u"LoadCardViewController -> doSelectUnassigedFolder.... "_s + path
            + (QFileInfo(path).isDir() ? u" exists"_s : u" does NOT exist"_s));
    processNewCard(path);
}
