#include "RosterCommands.h"

#include "PhotoGridView.h"
#include "RosterPanel.h"
#include "RosterQuestions.h"
#include "ViewController.h"
#include "filing/DestinationPathRules.h"
#include "roster/CameraCardSheet.h"
#include "roster/RosterSource.h"
#include "settings/SettingsKeys.h"
#include "settings/SettingsStore.h"
#include "support/Alert.h"
#include "support/DesktopOpener.h"
#include "support/FolderPanel.h"
#include "support/Plural.h"
#include "support/SafeFile.h"
#include "support/SystemLog.h"

#include <QAction>
#include <QDate>
#include <QDialog>
#include <QDir>
#include <QDockWidget>
#include <QFileInfo>
#include <QHeaderView>
#include <QMainWindow>
#include <QScrollBar>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTableView>
#include <QtConcurrent/QtConcurrentRun>

using namespace Qt::StringLiterals;

namespace {
// Rows left out, as many as an alert can show; the log has them all.
QString problemsText(const Roster &roster)
{
    constexpr qsizetype cShown = 12;
    QStringList lines;
    for (const Roster::RowProblem &problem : roster.problems()) {
        if (lines.size() == cShown)
            break;
        lines.append(u"Line "_s + QString::number(problem.line) + u": "_s + problem.reason);
    }
    if (roster.problems().size() > cShown)
        lines.append(u"… and "_s + QString::number(roster.problems().size() - cShown) + u" more (see the log)."_s);
    return lines.join(u'\n');
}

QString folderOf(const QString &path)
{
    return path.isEmpty() ? QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)
                          : QFileInfo(path).absolutePath();
}
} // namespace

RosterCommands::RosterCommands(QMainWindow *window, ViewController *browser)
    : QObject(window)
    , m_window(window)
    , m_browser(browser)
{
    const auto make = [this](const QString &text, auto slot) {
        auto *action = new QAction(text, m_window);
        connect(action, &QAction::triggered, this, slot);
        return action;
    };
    openRosterAction = make(u"Open &Roster…"_s, [this] { openRoster(); });
    closeRosterAction = make(u"Close Roster"_s, [] { RosterSource::shared().close(); });
    printCardsAction = make(u"&Print Camera Cards…"_s, [this] { printCards(); });
    exportReportAction = make(u"&Export Roster Report…"_s, [this] { exportReport(); });

    panel = new RosterPanel;
    dock = new QDockWidget(u"Roster"_s, m_window);
    dock->setObjectName(u"rosterDock"_s);
    dock->setWidget(panel);
    dock->setAllowedAreas(Qt::LeftDockWidgetArea | Qt::RightDockWidgetArea | Qt::BottomDockWidgetArea);
    m_window->addDockWidget(Qt::RightDockWidgetArea, dock);
    dock->hide();
    showRosterAction = dock->toggleViewAction();
    showRosterAction->setText(u"&Roster"_s);
    showRosterAction->setShortcut(QKeySequence(u"Ctrl+Shift+R"_s));
    connect(dock, &QDockWidget::visibilityChanged, this, [this](bool visible) {
        if (!visible)
            return;
        // Wide enough for a name and every count at once; the operator may narrow it.
        m_fitDock = true;
        refreshReport();
    });
    connect(panel, &RosterPanel::subjectActivated, this, [this](const QString &id) {
        if (!revealBarcode(id))
            m_window->statusBar()->showMessage(u"No section of this folder has the barcode "_s + id + u"."_s, 6000);
    });

    RosterSource &source = RosterSource::shared();
    connect(&source, &RosterSource::changed, this, [this] {
        updateActions();
        refreshReport();
    });
    connect(&source, &RosterSource::loadFailed, this, [this](const QString &why) {
        m_window->statusBar()->showMessage(u"The roster could not be read again; the last one read is kept. "_s + why,
                                           10000);
    });
    connect(browser->imageDirectoryLoader, &ImageDirectoryLoader::folderListed, this, &RosterCommands::refreshReport);
    // Filing, a reassignment and the preferences all end with their sheet: the counts may have changed.
    connect(browser, &ViewController::sheetPresented, this, [this](const QString &, QDialog *sheet) {
        connect(sheet, &QDialog::finished, this, &RosterCommands::refreshReport);
    });
    connect(&m_making, &QFutureWatcher<RosterReport>::finished, this, [this] {
        if (m_makeAgain) {
            m_makeAgain = false;
            refreshReport();
            return;
        }
        if (!RosterSource::shared().roster())
            return;
        m_report = m_making.result();
        panel->setReport(*m_report);
        fitDock();
        updateActions();
    });
    updateActions();
}

void RosterCommands::fitDock()
{
    // Once each time it is shown, wide enough for every column (never more than half the window):
    // a width the operator set later is theirs.
    if (!m_fitDock || !dock->isVisible() || dock->isFloating())
        return;
    m_fitDock = false;
    const int wanted = panel->table->horizontalHeader()->length() + 2 * panel->table->frameWidth()
        + panel->table->verticalScrollBar()->sizeHint().width() + panel->contentsMargins().left()
        + panel->contentsMargins().right() + 24;
    const int width = std::min(wanted, m_window->width() / 2);
    if (dock->width() < width)
        m_window->resizeDocks({dock}, {width}, Qt::Horizontal);
}

void RosterCommands::updateActions()
{
    const bool open = bool(RosterSource::shared().roster());
    closeRosterAction->setEnabled(open);
    printCardsAction->setEnabled(open);
    exportReportAction->setEnabled(open);
}

void RosterCommands::tell(const QString &title, const QString &text, bool warning)
{
    Alert::beginSheet(m_window,
                      {warning ? Alert::Style::Warning : Alert::Style::Informational, title, text, {u"OK"_s}});
}

void RosterCommands::openRoster()
{
    FolderPanel::Options options;
    options.mode = FolderPanel::Mode::OpenFile;
    options.title = u"Open the Day's Roster"_s;
    options.nameFilters = {u"Rosters (*.csv *.CSV *.txt *.tsv)"_s, u"All files (*)"_s};
    options.startFolder = folderOf(RosterSource::shared().path());
    FolderPanel::beginSheet(m_window, options, [this](const std::optional<QString> &path) {
        if (path && !path->isEmpty())
            openRosterFile(*path);
    });
}

void RosterCommands::openRosterFile(const QString &path)
{
    load(path, -1, Roster::Header::FirstRow);
}

void RosterCommands::load(const QString &path, int idColumn, Roster::Header header)
{
    // A wrong pick (a photo, a huge export) is refused without holding up the window.
    auto *watcher = new QFutureWatcher<Roster>(this);
    connect(watcher, &QFutureWatcher<Roster>::finished, this, [this, watcher, path, idColumn, header] {
        watcher->deleteLater();
        loaded(path, idColumn, header, watcher->result());
    });
    watcher->setFuture(
        QtConcurrent::run([path, idColumn, header] { return Roster::load(NativePath(path), idColumn, header); }));
}

void RosterCommands::loaded(const QString &path, int idColumn, Roster::Header header, const Roster &roster)
{
    const QString name = QFileInfo(path).fileName();
    switch (roster.status()) {
    case Roster::Status::Refused:
        logLine(u"RosterCommands -> open.... refused: "_s + roster.error());
        tell(u"This Roster Cannot Be Opened"_s, roster.error(), true);
        return;
    case Roster::Status::NeedsIdColumn:
        RosterQuestions::askIdColumn(m_window, name, roster.columns(),
                                     [this, path](const std::optional<RosterQuestions::IdColumn> &answer) {
                                         if (answer)
                                             load(path, answer->column, answer->header);
                                     });
        return;
    case Roster::Status::Loaded:
        break;
    }
    if (roster.subjects().isEmpty()) {
        tell(u"This Roster Cannot Be Opened"_s,
             u"No row of "_s + name + u" is a subject with a usable id."_s
                 + (roster.problems().isEmpty() ? QString() : u"\n\n"_s + problemsText(roster)),
             true);
        return;
    }
    for (const Roster::RowProblem &problem : roster.problems())
        logLine(u"RosterCommands -> open.... "_s + name + u" line "_s + QString::number(problem.line) + u": "_s
                + problem.reason);
    RosterSource::shared().open(path, idColumn, header, std::make_shared<const Roster>(roster));
    dock->show();
    if (!roster.problems().isEmpty())
        tell(u"Roster Opened, "_s + Plural::count(roster.problems().size(), u"Row"_s, u"Rows"_s) + u" Left Out"_s,
             Plural::count(roster.subjects().size(), u"subject is"_s, u"subjects are"_s) + u" on the roster "_s + name
                 + u". These rows were left out; correct them in the file and it is read again:\n\n"_s
                 + problemsText(roster),
             false);
}

void RosterCommands::printCards()
{
    const std::shared_ptr<const Roster> roster = RosterSource::shared().roster();
    if (!roster)
        return;
    RosterQuestions::askCardOptions(
        m_window, roster->subjects().size(), [this](const std::optional<CameraCardSheet::Options> &chosen) {
            if (!chosen)
                return;
            const QString rosterPath = RosterSource::shared().path();
            FolderPanel::Options options;
            options.mode = FolderPanel::Mode::SaveFile;
            options.title = u"Save the Camera Cards"_s;
            options.nameFilters = {u"PDF (*.pdf)"_s};
            options.startFolder = folderOf(rosterPath);
            options.fileName = QFileInfo(rosterPath).completeBaseName() + u" camera cards.pdf"_s;
            FolderPanel::beginSheet(m_window, options, [this, chosen](const std::optional<QString> &out) {
                const std::shared_ptr<const Roster> current = RosterSource::shared().roster();
                if (!out || out->isEmpty() || !current)
                    return;
                CameraCardSheet::Options cards = *chosen;
                cards.rosterName = QFileInfo(RosterSource::shared().path()).fileName();
                // Thousands of cards take seconds: they are drawn beside the window, which stays live.
                m_window->statusBar()->showMessage(u"Printing the camera cards…"_s);
                auto *watcher = new QFutureWatcher<FileResult>(this);
                connect(watcher, &QFutureWatcher<FileResult>::finished, this,
                        [this, watcher, path = *out, count = current->subjects().size()] {
                            watcher->deleteLater();
                            m_window->statusBar()->clearMessage();
                            const FileResult written = watcher->result();
                            if (!written) {
                                logLine(u"RosterCommands -> printCards.... "_s + written.text());
                                tell(u"The Camera Cards Were Not Saved"_s, written.text(), true);
                                return;
                            }
                            logLine(u"RosterCommands -> printCards.... "_s + path);
                            m_window->statusBar()->showMessage(Plural::count(count, u"camera card"_s, u"camera cards"_s)
                                                                   + u" saved in "_s + path,
                                                               10000);
                            DesktopOpener::openFile(path);
                        });
                // The save dialog asked before a file of that name is replaced.
                watcher->setFuture(QtConcurrent::run([current, cards, path = *out] {
                    return CameraCardSheet::write(*current, cards, NativePath(path), SafeFile::Replace::Atomically);
                }));
            });
        });
}

void RosterCommands::exportReport()
{
    if (!RosterSource::shared().roster())
        return;
    FolderPanel::Options options;
    options.mode = FolderPanel::Mode::SaveFile;
    options.title = u"Export the Roster Report"_s;
    options.nameFilters = {u"CSV (*.csv)"_s};
    options.startFolder = folderOf(RosterSource::shared().path());
    options.fileName = u"Roster report "_s + QDate::currentDate().toString(Qt::ISODate) + u".csv"_s;
    FolderPanel::beginSheet(m_window, options, [this](const std::optional<QString> &out) {
        const std::shared_ptr<const Roster> roster = RosterSource::shared().roster();
        if (!out || out->isEmpty() || !roster)
            return;
        // Counted now, not taken from the dock, which is made again only while it is shown.
        const FileResult written = SafeFile::writeDurably(
            NativePath(*out), RosterReport::make(*roster, foldersOfTheDay(), minimumPhotos()).toCsv(),
            SafeFile::Replace::Atomically);
        if (!written) {
            logLine(u"RosterCommands -> exportReport.... "_s + written.text());
            tell(u"The Roster Report Was Not Saved"_s, written.text(), true);
            return;
        }
        m_window->statusBar()->showMessage(u"Roster report saved in "_s + *out, 10000);
    });
}

QList<RosterReport::Folder> RosterCommands::foldersOfTheDay() const
{
    QList<RosterReport::Folder> folders {{u"Working folder"_s, m_browser->shownFolder()}};
    // Where the filing puts today's photos: without a daily folder pattern, the destination itself.
    if (const std::optional<QString> today =
            DestinationPathRules::getDuplicateFolderPath(cPrefDestinationPath, cPrefDailyFolderDateFormat);
        today && QDir::isAbsolutePath(*today))
        folders.append({DestinationPathRules::getDailyFolderName() ? u"Today"_s : u"Destination"_s, *today, true});
    return folders;
}

void RosterCommands::refreshReport()
{
    const std::shared_ptr<const Roster> roster = RosterSource::shared().roster();
    if (!roster) {
        m_report.reset();
        panel->clearReport();
        updateActions();
        return;
    }
    // Every listing and every sheet would otherwise list the folders again for a dock nobody sees:
    // showing it makes the report.
    if (!dock->isVisible())
        return;
    if (m_making.isRunning()) {
        m_makeAgain = true;
        return;
    }
    m_making.setFuture(QtConcurrent::run([roster, folders = foldersOfTheDay(), minimum = minimumPhotos()] {
        return RosterReport::make(*roster, folders, minimum);
    }));
}

int RosterCommands::minimumPhotos()
{
    return int(std::max<qint64>(1, SettingsStore::standard().integerForKey(cPrefRosterMinimumPhotos)));
}

bool RosterCommands::revealBarcode(const QString &id)
{
    const ImageDirectoryLoader *loader = m_browser->imageDirectoryLoader;
    if (loader->singleSectionMode())
        return false;
    for (qsizetype section = 0; section < loader->numberOfSections(); ++section) {
        const std::optional<QString> barcode = loader->barcodeidForSection(section);
        if (barcode && barcode->compare(id, Qt::CaseInsensitive) == 0 && loader->numberOfItemsInSection(section) > 0) {
            m_browser->collectionView->scrollToItem(IndexPath {section, 0});
            return true;
        }
    }
    return false;
}
