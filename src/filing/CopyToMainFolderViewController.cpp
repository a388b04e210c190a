#include "CopyToMainFolderViewController.h"

#include "DestinationPathRules.h"
#include "FilingRun.h"
#include "support/Alert.h"
#include "support/Dispatch.h"
#include "support/NativePath.h"
#include "support/NotificationCenter.h"
#include "support/NotificationNames.h"
#include "support/Plural.h"
#include "support/SafeFile.h"
#include "support/SheetRegistry.h"
#include "support/SystemLog.h"
#include "support/WorkInProgress.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QMutex>
#include <QMutexLocker>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <atomic>

using namespace Qt::StringLiterals;

const QString CopyToMainFolderViewController::cSegueIdentifier = u"dummyButtonSegue6"_s;

// What a run shares with the sheet; it outlives the sheet when the operator closes it early.
struct CopyToMainFolderViewController::RunState
{
    std::atomic<bool> running {false};
    std::atomic<bool> stopRequested {false}; // the program is quitting
    std::atomic<qsizetype> done {0};
    std::atomic<qsizetype> total {-1}; // unknown until the working folder is listed
    // Where the files went, for the summary.
    std::atomic<qsizetype> filed {0};
    std::atomic<qsizetype> unassigned {0};
    std::atomic<qsizetype> leftInPlace {0};
    std::atomic<qsizetype> failed {0};
    QMutex lock;
    QString text; // the latest progress text
    QString currentFile; // the file being filed
    bool textChanged = false;
};

void CopyToMainFolderViewController::registerSheet()
{
    SheetRegistry::registerSheet(cSegueIdentifier,
                                 [](QWidget *window) { return new CopyToMainFolderViewController(window); });
}

CopyToMainFolderViewController::CopyToMainFolderViewController(QWidget *parent)
    : QDialog(parent)
    , ibButton1(new QPushButton(this))
    , ibProgressTextField(new QLabel(this))
    , ibProgressIndicator(new QProgressBar(this))
    , progressBar(new QProgressBar(this))
    , currentFileLabel(new QLabel(this))
    , m_state(std::make_shared<RunState>())
    , m_progressTimer(new QTimer(this))
{
    setWindowTitle(u"File Photos into the Destination Folder"_s);
    ibProgressTextField->setObjectName(u"ibProgressTextField"_s);
    ibProgressTextField->setWordWrap(true);
    ibProgressTextField->setMinimumHeight(60);
    ibProgressTextField->setTextInteractionFlags(Qt::TextSelectableByMouse);
    ibProgressIndicator->setRange(0, 0); // indeterminate: turns while the sheet is open
    ibProgressIndicator->setTextVisible(false);
    progressBar->setObjectName(u"progressBar"_s);
    // Shown once the number of files is known: never a made-up "0 of 1".
    progressBar->hide();
    currentFileLabel->setObjectName(u"currentFileLabel"_s);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(ibProgressTextField);
    layout->addWidget(ibProgressIndicator);
    layout->addWidget(progressBar);
    layout->addWidget(currentFileLabel);
    auto *buttons = new QDialogButtonBox(this);
    buttons->addButton(ibButton1, QDialogButtonBox::AcceptRole);
    layout->addWidget(buttons);
    resize(560, 260);
    connect(ibButton1, &QPushButton::clicked, this, &CopyToMainFolderViewController::doButton1);
    // Progress of every file, drawn at the screen's pace rather than once per file.
    m_progressTimer->setInterval(16);
    connect(m_progressTimer, &QTimer::timeout, this, &CopyToMainFolderViewController::refreshProgress);

    // viewDidLoad
    NotificationCenter::defaultCenter().addObserver(this, NotificationNames::mycopytomainfolder,
                                                    [this](const Notification &n) { doNotification1(n); });
    QPointer<CopyToMainFolderViewController> self(this);
    Dispatch::onMain(this, [self] {
        self->setButton1Title(u"Close"_s);
        self->ibButton1->setEnabled(true);
        self->startProgressindicator();
        self->setProgressString(u"Will start shortly... Click Close to close."_s);
    });
}

CopyToMainFolderViewController::~CopyToMainFolderViewController()
{
    NotificationCenter::defaultCenter().removeObserver(this);
}

bool CopyToMainFolderViewController::isRunning() const
{
    return m_state->running.load();
}

void CopyToMainFolderViewController::doNotification1(const Notification &notification)
{
    // Arrives on the browser's background queue.
    const QString src = notification.userInfo.value(NotificationKeys::srcpath).toString();
    const QString dest = notification.userInfo.value(NotificationKeys::destpath).toString();
    logLine(u"CopyToMainFolderViewController -> doNotification1.... command="_s
            + notification.userInfo.value(NotificationKeys::command).toString());
    QPointer<CopyToMainFolderViewController> self(this);
    Dispatch::onMain([self, src, dest] {
        if (!self)
            return;
        if (self->m_state->running) {
            logLine(
                u"CopyToMainFolderViewController -> doNotification1.... a run is already under way; the second start is refused"_s);
            return;
        }
        self->fSrcPath = src;
        self->fDestPath = dest;
        self->setProgressString(u"Processing Files at:\n["_s + src + u"]"_s);
        self->ibDoMainStuff();
    });
}

void CopyToMainFolderViewController::ibDoMainStuff()
{
    if (!fSrcPath || fSrcPath->isEmpty() || m_state->running)
        return;
    m_state->running = true;
    m_progressTimer->start();
    const std::shared_ptr<RunState> state = m_state;
    const QString src = *fSrcPath;
    const QString dest = fDestPath.value_or(QString());
    const auto say = [state](const QString &text) {
        QMutexLocker locker(&state->lock);
        state->text = text;
        state->textChanged = true;
    };
    // Quitting waits for the photo being filed; the rest stay in the working folder.
    std::shared_ptr<WorkInProgress::Token> work =
        WorkInProgress::begin({u"Filing"_s,
                               u"Filing stops after the photo it is filing; the photos not yet filed stay in the "
                               "working folder."_s},
                              [state, say] {
                                  state->stopRequested = true;
                                  say(u"Quitting: filing stops after the photo it is filing..."_s);
                              });
    QPointer<CopyToMainFolderViewController> self(this);
    Dispatch::inBackground([self, state, src, dest, say, work] {
        // The count shown from the start: the files the run will find, as it lists them
        // (top level, no folders); the run's own count takes over with its first file.
        if (const std::optional<QList<SafeFileEntry>> entries = SafeFile::list(NativePath(src))) {
            const auto files = std::count_if(entries->begin(), entries->end(), [](const SafeFileEntry &entry) {
                return entry.type != SafeFileEntryType::Directory && !entry.name.isEmpty();
            });
            state->total = qsizetype(files);
        }
        say(u"Validating Destination Folder at:\n["_s + dest + u"...]"_s);
        QThread::msleep(100);
        say(u"Processing Files at:\n["_s + src + u"]"_s);
        QThread::msleep(100);
        const FilingRun::Result result = FilingRun::run(
            src, dest,
            [state, say](const FilingRun::Event &e) {
                if (e.kind == FilingRun::EventKind::Moving) {
                    say(u"Copying TO:\n "_s + e.target);
                    QMutexLocker locker(&state->lock);
                    state->currentFile = e.name;
                } else {
                    state->done = e.index;
                }
                if (e.kind == FilingRun::EventKind::Moved)
                    ++state->filed;
                else if (e.kind == FilingRun::EventKind::MovedUnassigned)
                    ++state->unassigned;
                else if (e.kind == FilingRun::EventKind::LeftInPlace)
                    ++state->leftInPlace;
                else if (e.kind == FilingRun::EventKind::Failed)
                    ++state->failed;
                state->total = e.total;
            },
            &state->stopRequested);
        {
            QMutexLocker locker(&state->lock);
            state->currentFile.clear(); // the last name must not linger after the end
        }
        state->running = false;
        work->release();
        if (!result.summary) {
            // The run stopped before filing anything: say why instead of waiting silently.
            const QString reason = result.reason.isEmpty() ? u"the folders are not set"_s : result.reason;
            say(u"Nothing was filed: "_s + reason);
            Dispatch::onMain([self, reason] {
                if (!self)
                    return;
                self->refreshProgress();
                self->stopsProgressindicator();
                Q_EMIT self->runRefused(reason);
                // The sheet stays open with the reason; its button closes it.
                Alert::beginSheet(self, {Alert::Style::Warning, u"Nothing Was Filed..."_s, reason, {u"OK"_s}});
            });
            return;
        }
        const FilingRun::Summary &summary = *result.summary;
        const QString title = summary.title;
        const QString text = destinations(*state, dest) + u"\n\n"_s + summary.text;
        // A warning only when something went wrong; a run that went well informs.
        const Alert::Style style = summary.failures == 0 && summary.moved == summary.attempted
            ? Alert::Style::Informational
            : Alert::Style::Warning;
        // The sheet keeps the whole summary, renamed photos included, in view behind the alert.
        say(text);
        Dispatch::onMain([self, title, text, style] {
            if (!self)
                return;
            self->refreshProgress();
            self->stopsProgressindicator();
            Q_EMIT self->summaryShown(title, text);
            Alert::beginSheet(self, {style, title, text, {u"OK"_s}}, [self](int) {
                if (self)
                    self->doButton1();
            });
        });
    });
}

void CopyToMainFolderViewController::refreshProgress()
{
    QString text;
    QString current;
    bool changed = false;
    {
        QMutexLocker locker(&m_state->lock);
        changed = m_state->textChanged;
        m_state->textChanged = false;
        text = m_state->text;
        current = m_state->currentFile;
    }
    if (changed)
        setProgressString(text);
    const qsizetype total = m_state->total;
    if (total >= 0) {
        // An empty folder shows "0 of 0", full.
        progressBar->setRange(0, int(std::max<qsizetype>(total, 1)));
        progressBar->setValue(total == 0 ? 1 : int(m_state->done.load()));
        progressBar->setFormat(u"%1 of %2"_s.arg(m_state->done.load()).arg(total));
        progressBar->show();
    }
    currentFileLabel->setText(current);
    if (!m_state->running)
        m_progressTimer->stop();
}

QString CopyToMainFolderViewController::destinations(const RunState &state, const QString &dailyFolder)
{
    const auto files = [](qsizetype n) { return Plural::count(n, u"file"_s, u"files"_s); };
    QString text = u"Filed into the daily folder "_s
        + NativePath::forDisplay(dailyFolder.section(u'/', -1, -1, QString::SectionSkipEmpty)) + u": "_s
        + files(state.filed);
    text += u"\nMoved to UNASSIGNED_PHOTOS: "_s + files(state.unassigned);
    if (state.leftInPlace > 0)
        text += u"\nLeft in the working folder: "_s + files(state.leftInPlace);
    if (state.failed > 0)
        text += u"\nNot filed, still in the working folder: "_s + files(state.failed);
    return text;
}

void CopyToMainFolderViewController::setProgressString(const std::optional<QString> &text)
{
    if (!text)
        return;
    ibProgressString = *text;
    ibProgressTextField->setText(*text);
}

void CopyToMainFolderViewController::setButton1Title(const QString &title)
{
    ibButton1->setText(title);
}

void CopyToMainFolderViewController::startProgressindicator()
{
    ibProgressIndicator->setRange(0, 0);
}

void CopyToMainFolderViewController::stopsProgressindicator()
{
    ibProgressIndicator->setRange(0, 1);
    ibProgressIndicator->setValue(1);
}

void CopyToMainFolderViewController::doButton1()
{
    NotificationCenter::defaultCenter().post(NotificationNames::myRefreshId,
                                             {{NotificationKeys::command, NotificationValues::refresh}});
    Dispatch::onMainAfter(100, this, [this] { dismissViewController(this); });
}

void CopyToMainFolderViewController::dismissViewController(QDialog *controller)
{
    if (controller && controller->isVisible())
        controller->accept();
}

std::optional<QString> CopyToMainFolderViewController::getDestinationPathForUnknown()
{
    return DestinationPathRules::getDestinationPathForUnknown();
}

std::optional<QString> CopyToMainFolderViewController::checkIfIsUnknown(const std::optional<QString> &path)
{
    return DestinationPathRules::checkIfIsUnknown(path);
}

bool CopyToMainFolderViewController::checkIfIsOriginal(const std::optional<QString> &path)
{
    return DestinationPathRules::checkIfIsOriginal(path);
}
