#include "WindowController.h"

#include "MyVimoNSWindow.h"
#include "PhotoGridView.h"
#include "RosterCommands.h"
#include "SegmentedControl.h"
#include "ViewController.h"
#include "reassign/ReassignUndo.h"
#include "roster/RosterSource.h"
#include "settings/BundleInfo.h"
#include "settings/FolderSettings.h"
#include "settings/LogPaths.h"
#include "settings/SettingsStore.h"
#include "support/Alert.h"
#include "support/DesktopOpener.h"
#include "support/FolderPanel.h"
#include "support/NotificationCenter.h"
#include "support/NotificationNames.h"
#include "support/Plural.h"
#include "support/SystemLog.h"
#include "support/WorkInProgress.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QMenuBar>
#include <QPointer>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>

using namespace Qt::StringLiterals;

WindowController::WindowController(QObject *parent)
    : QObject(parent)
    , m_window(new MyVimoNSWindow)
{
    m_window->setAttribute(Qt::WA_DeleteOnClose, false);
    m_window->setObjectName(u"mainWindow"_s);
    m_viewController = new ViewController(m_window);
    m_window->setCentralWidget(m_viewController);
    m_window->statusBar()->addPermanentWidget(m_viewController->barcodeStatus);
    m_window->setWindowTitle(BundleInfo::value(u"CFBundleDisplayName"_s));
    m_window->resize(1280, 860);
    windowDidLoad();
}

WindowController::~WindowController()
{
    delete m_window;
}

void WindowController::windowDidLoad()
{
    connect(m_viewController, &ViewController::windowTitleChanged, m_window, &QWidget::setWindowTitle);
    connect(m_viewController, &ViewController::quitRequested, this, [this] { m_commands.quit(); });
    // The title may have been formed while the browser loaded, before this connection.
    m_viewController->updateWindowTitle();
    buildMenusAndToolbar();
    connect(m_window, &MyVimoNSWindow::moveLeftReached, this, [this] { moveLeft(); });
    // Closing the window quits: it must not leave a run going with no window.
    m_window->setCloseGuard([this] {
        if (WorkInProgress::running().isEmpty())
            return true;
        quit();
        return false;
    });
}

QString WindowController::aboutText()
{
    return u"Version "_s + BundleInfo::value(u"CFBundleShortVersionString"_s)
        + u"\n\nSorts a studio's camera cards by the barcode photographed before each group, "
          "and files the photos into dated folders.\n\nLicence: proprietary; for the studio's own use."_s
        + u"\n\nLog file:\n"_s + LogPaths::logFile() + u"\n\nSettings:\n"_s + SettingsStore::standardFilePath();
}

void WindowController::showAbout()
{
    Alert::beginSheet(m_window, {Alert::Style::Informational, u"About Lumisort"_s, aboutText(), {u"OK"_s}});
}

QSize WindowController::windowWillResize(MyVimoNSWindow *, const QSize &proposed) const
{
    return proposed;
}

void WindowController::buildMenusAndToolbar()
{
    ViewController *vc = m_viewController;
    const auto post = [](const QString &name, const QString &command) {
        NotificationCenter::defaultCenter().post(name, {{NotificationKeys::command, command}});
    };
    const auto make = [this](const QString &text, const QKeySequence &key, auto slot) {
        auto *action = new QAction(text, m_window);
        action->setShortcut(key);
        connect(action, &QAction::triggered, this, slot);
        return action;
    };
    openAnotherFolderAction = make(u"&Open Another Folder…"_s, QKeySequence::Open, [this] { openAnotherFolder(); });
    // Until the application installs its commands, the menu entries post their notifications.
    m_commands = {[post] { post(NotificationNames::myloadnewcard, NotificationValues::loadnewcard); },
                  [post] { post(NotificationNames::myOpenPrefId, NotificationValues::openpref); },
                  [post] { post(NotificationNames::mySelectAll, NotificationValues::selectall); }, [this] { quit(); }};
    loadNewCardAction = make(u"&Load New Card…"_s, QKeySequence(u"Ctrl+L"_s), [this] { m_commands.loadNewCard(); });
    preferencesAction = make(u"&Preferences…"_s, QKeySequence(u"Ctrl+,"_s), [this] { m_commands.openPreferences(); });
    preferencesAction->setMenuRole(QAction::PreferencesRole);
    selectAllAction = make(u"Select &All"_s, QKeySequence::SelectAll, [this] { m_commands.selectAll(); });
    quitAction = make(u"&Quit"_s, QKeySequence::Quit, [this] { m_commands.quit(); });
    quitAction->setMenuRole(QAction::QuitRole);
    // Ctrl+Q quits from a sheet too: the sheet over the window must not hide the way out.
    connect(m_viewController, &ViewController::sheetPresented, this,
            [this](const QString &, QDialog *sheet) { sheet->addAction(quitAction); });

    undoReassignmentAction =
        make(u"&Undo Last Reassignment…"_s, QKeySequence::Undo, [this] { undoLastReassignment(); });
    // A sheet has the keys to itself (Ctrl+Z in its text field undoes typing there).
    connect(vc, &ViewController::sheetPresented, this, [this](const QString &, QDialog *sheet) {
        undoReassignmentAction->setEnabled(false);
        const auto update = [this] {
            undoReassignmentAction->setEnabled(m_viewController->presentedSheets().isEmpty());
        };
        // Tied to the browser: when the window goes, the browser goes before its sheets.
        connect(sheet, &QDialog::finished, m_viewController, update);
        connect(sheet, &QObject::destroyed, m_viewController, update);
    });

    rosterCommands = new RosterCommands(m_window, vc);
    QMenuBar *bar = m_window->menuBar();
    QMenu *file = bar->addMenu(u"&File"_s);
    file->addAction(openAnotherFolderAction);
    file->addAction(loadNewCardAction);
    file->addSeparator();
    file->addAction(vc->fileAction);
    file->addSeparator();
    file->addAction(rosterCommands->openRosterAction);
    file->addAction(rosterCommands->printCardsAction);
    file->addAction(rosterCommands->exportReportAction);
    file->addAction(rosterCommands->closeRosterAction);
    file->addSeparator();
    file->addAction(quitAction);
    QMenu *edit = bar->addMenu(u"&Edit"_s);
    edit->addAction(undoReassignmentAction);
    edit->addSeparator();
    edit->addAction(selectAllAction);
    edit->addAction(vc->deselectAllAction);
    edit->addSeparator();
    edit->addAction(vc->reassignAction);
    edit->addAction(vc->applyBarcodesAction);
    edit->addAction(vc->deleteAction);
    edit->addSeparator();
    edit->addAction(preferencesAction);
    QMenu *view = bar->addMenu(u"&View"_s);
    view->addAction(vc->showSectionsAction);
    view->addAction(vc->refreshAction);
    view->addAction(rosterCommands->showRosterAction);
    view->addSeparator();
    view->addAction(vc->zoomInAction);
    view->addAction(vc->zoomOutAction);
    view->addAction(vc->zoomResetAction);
    QMenu *help = bar->addMenu(u"&Help"_s);
    aboutAction = help->addAction(u"&About Lumisort"_s, this, [this] { showAbout(); });
    aboutAction->setMenuRole(QAction::AboutRole);
    showLogAction = help->addAction(u"Show &Log File"_s, this, [] { DesktopOpener::openFile(LogPaths::logFile()); });

    QToolBar *tools = m_window->addToolBar(u"Browser"_s);
    tools->setObjectName(u"browserToolbar"_s);
    tools->setMovable(false);
    tools->setToolButtonStyle(Qt::ToolButtonTextOnly);
    tools->addAction(loadNewCardAction);
    tools->addAction(openAnotherFolderAction);
    tools->addSeparator();
    tools->addWidget(vc->ibShowHideButton);
    tools->addWidget(vc->ibZoomControl);
    tools->addAction(vc->refreshAction);
    tools->addSeparator();
    tools->addAction(vc->deselectAllAction);
    tools->addAction(vc->deleteAction);
    tools->addSeparator();
    tools->addAction(vc->fileAction);
    tools->addSeparator();
    tools->addAction(preferencesAction);
}

void WindowController::openAnotherFolder(QObject *)
{
    FolderPanel::Options options;
    options.message = u"Please Select Another Folder"_s;
    options.title = u"Please Select Another Folder"_s;
    options.startFolder = m_viewController->pathtophotos;
    FolderPanel::beginSheet(m_window, options, [this](const std::optional<QString> &folder) {
        if (!folder || folder->isEmpty())
            return;
        ViewController *browser = qobject_cast<ViewController *>(m_window->centralWidget());
        if (!browser)
            return;
        // Photos sorted in a trash or on a card would be lost with it.
        if (const std::optional<QString> refusal = FolderSettings::refusal(FolderSettings::Folder::Working, *folder)) {
            logLine(u"WindowController -> openAnotherFolder.... refused: "_s + *refusal);
            Alert::beginSheet(m_window,
                              {Alert::Style::Warning,
                               u"This Folder Cannot Be Opened"_s,
                               *refusal + u"\n\nThe folder shown was left as it was."_s,
                               {u"OK"_s}});
            return;
        }
        browser->browseFolder(*folder);
    });
}

void WindowController::undoLastReassignment()
{
    if (!m_viewController->presentedSheets().isEmpty())
        return;
    const QString folder = m_viewController->shownFolder();
    logLine(u"WindowController -> undoLastReassignment.... "_s + folder);
    const auto refused = [this](const QStringList &reasons) {
        Alert::beginSheet(m_window,
                          {Alert::Style::Warning, u"The Last Reassignment Cannot Be Undone"_s,
                           reasons.join(u'\n') + u"\n\nNothing was changed."_s});
    };
    const ReassignUndo::Plan plan = ReassignUndo::plan(folder);
    if (!plan.isSound()) {
        refused(plan.refusals);
        return;
    }
    const bool redo = plan.mode == u"undo"_s;
    const qsizetype back = plan.namesBack();
    const qsizetype fromTrash = std::count_if(plan.steps.cbegin(), plan.steps.cend(), [](const auto &step) {
        return step.kind == ReassignUndo::Kind::Restore;
    });
    QString text = redo
        ? Plural::count(back, u"photo takes"_s, u"photos take"_s) + u" the names the reassignment gave them again"_s
        : Plural::count(back, u"photo gets its name"_s, u"photos get their names"_s)
            + u" back from before the last reassignment"_s;
    if (plan.backToTrash() > 0)
        text += u"; "_s + Plural::count(plan.backToTrash(), u"barcode photo goes"_s, u"barcode photos go"_s)
            + u" back to the trash"_s;
    if (fromTrash > 0)
        text += u"; "_s + Plural::count(fromTrash, u"barcode photo comes"_s, u"barcode photos come"_s)
            + u" back from the trash"_s;
    QPointer<WindowController> self(this);
    Alert::beginSheet(
        m_window,
        {Alert::Style::Warning,
         redo ? u"Redo the Undone Reassignment?"_s : u"Undo the Last Reassignment?"_s,
         text + u'.',
         {u"Cancel"_s, redo ? u"Redo"_s : u"Undo"_s}},
        [self, folder, refused](int response) {
            if (!self || response != Alert::cSecondButtonReturn)
                return;
            // Checked again: the folder may have changed while the question was up.
            const ReassignUndo::Report report = ReassignUndo::run(folder);
            self->m_viewController->refreshAllSections();
            if (!report.plan.isSound()) {
                refused(report.plan.refusals);
                return;
            }
            QStringList problems;
            for (const RenamePlan::Outcome &o : report.renames) {
                if (!o.error.isEmpty())
                    problems << o.error;
            }
            for (const QString &path : report.kept)
                problems << path + u": the trash would not take it (see the log)"_s;
            for (const QString &path : report.stuck)
                problems << path + u": could not be brought back from the trash (see the log)"_s;
            if (!report.started)
                problems << u"Nothing was undone: the record of the undo cannot be written: "_s + report.journalError;
            else if (!report.journalError.isEmpty())
                problems << u"The record of the undo could not be completed: "_s + report.journalError;
            if (!problems.isEmpty())
                Alert::beginSheet(self->m_window,
                                  {Alert::Style::Warning, u"Some Photos Kept Their Names"_s, problems.join(u'\n')});
        });
}

void WindowController::moveLeft(QObject *)
{
    logLine(u"WindowController -> moveLeft...."_s);
}

void WindowController::quit()
{
    const QList<WorkInProgress::Item> running = WorkInProgress::running();
    if (running.isEmpty()) {
        quitNow();
        return;
    }
    if (m_quitPending || m_askingToQuit)
        return;
    m_askingToQuit = true;
    const WorkInProgress::Item &first = running.first();
    QString text = first.whatQuittingDoes;
    for (qsizetype i = 1; i < running.size(); ++i)
        text += u" "_s + running.at(i).whatQuittingDoes;
    text += u"\n\nThe window stays open until then."_s;
    QPointer<WindowController> self(this);
    Alert::beginSheet(m_window,
                      {Alert::Style::Warning,
                       first.what + u" is still running. Quit anyway?"_s,
                       text,
                       {u"Cancel"_s, u"Quit When Safe"_s}},
                      [self](int answer) {
                          if (!self)
                              return;
                          self->m_askingToQuit = false;
                          if (answer == Alert::cSecondButtonReturn)
                              self->quitWhenRunsAreSafe();
                      });
}

void WindowController::quitWhenRunsAreSafe()
{
    m_quitPending = true;
    logLine(u"WindowController -> quit.... waiting for the runs under way to reach a safe point"_s);
    WorkInProgress::stopAllAtSafePoint();
    m_window->statusBar()->showMessage(u"Lumisort quits when the work under way reaches a safe point..."_s);
    auto *poll = new QTimer(this);
    poll->setInterval(100);
    connect(poll, &QTimer::timeout, this, [this, poll] {
        if (!WorkInProgress::running().isEmpty())
            return;
        poll->stop();
        poll->deleteLater();
        quitNow();
    });
    poll->start();
}

void WindowController::quitNow()
{
    for (QDialog *sheet : m_viewController->presentedSheets())
        sheet->reject();
    Q_EMIT quitting();
    QApplication::quit();
}
