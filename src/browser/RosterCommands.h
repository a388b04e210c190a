#pragma once

#include "roster/Roster.h"
#include "roster/RosterReport.h"

#include <QFutureWatcher>
#include <QObject>
#include <QString>
#include <optional>

class QAction;
class QDockWidget;
class QMainWindow;
class RosterPanel;
class ViewController;

// Picture day in the window: opening the day's roster, the "Roster" dock of who has photos
// (made again whenever the folder is listed or a sheet closes), the camera cards printed from
// the roster and the report exported for a spreadsheet.
class RosterCommands : public QObject
{
    Q_OBJECT

public:
    RosterCommands(QMainWindow *window, ViewController *browser);

    QAction *openRosterAction = nullptr;
    QAction *closeRosterAction = nullptr;
    QAction *printCardsAction = nullptr;
    QAction *exportReportAction = nullptr;
    QAction *showRosterAction = nullptr; // shows or hides the dock
    QDockWidget *dock = nullptr;
    RosterPanel *panel = nullptr;

    void openRoster();
    void openRosterFile(const QString &path);
    void printCards();
    void exportReport();
    // Makes the dock's report again off the window's thread, while the dock is shown; the newest request wins.
    void refreshReport();
    // Scrolls the grid to the first section of the barcode; false when the folder shows none.
    bool revealBarcode(const QString &id);
    // The folders a report counts: the folder on the grid and today's daily destination folder.
    QList<RosterReport::Folder> foldersOfTheDay() const;
    const std::optional<RosterReport> &report() const { return m_report; }

private:
    void load(const QString &path, int idColumn, Roster::Header header);
    void loaded(const QString &path, int idColumn, Roster::Header header, const Roster &roster);
    void updateActions();
    static int minimumPhotos();
    void fitDock();
    void tell(const QString &title, const QString &text, bool warning);

    QMainWindow *m_window;
    ViewController *m_browser;
    QFutureWatcher<RosterReport> m_making;
    bool m_makeAgain = false;
    bool m_fitDock = false;
    std::optional<RosterReport> m_report;
};
