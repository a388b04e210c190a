#pragma once

#include <QWidget>

class QComboBox;
class QLabel;
class QLineEdit;
class QModelIndex;
class QSortFilterProxyModel;
class QTableView;
class RosterReport;
class RosterTableModel;

// Who has photos on picture day, for the window's "Roster" dock: a summary, filters by class, by
// what is still to do and by name or id, and the table of the report. It shows the report it is
// given and reads no file itself: the window makes a new report whenever a folder changes.
class RosterPanel : public QWidget
{
    Q_OBJECT

public:
    enum Show
    {
        ShowEveryone,
        ShowWithoutEnough, // missing and short
        ShowStrays, // ids not on the roster
    };

    explicit RosterPanel(QWidget *parent = nullptr);

    // Keeps the filters and the selected subject where the new report still has them.
    void setReport(const RosterReport &report);
    void clearReport();
    bool hasReport() const { return m_hasReport; }

    // The id of the selected row, empty when none.
    QString selectedId() const;
    // False when no row shown has the id.
    bool selectId(const QString &id);

    QLabel *summaryLabel = nullptr;
    QLabel *hintLabel = nullptr;
    QLabel *problemLabel = nullptr;
    QComboBox *classFilter = nullptr;
    QComboBox *showFilter = nullptr;
    QLineEdit *searchField = nullptr;
    QTableView *table = nullptr;

Q_SIGNALS:
    // A row was double-clicked or Return pressed on it: the window goes to that id's section.
    void subjectActivated(const QString &id);

private:
    void setFiltersEnabled(bool enabled);
    void fillClasses();
    void applyClass();
    void applyShow();
    void applySearch();
    void showSummary();
    QSortFilterProxyModel *view() const { return m_bySearch; }

    RosterTableModel *m_model = nullptr;
    // Filters one over the other, the last one sorting for the table.
    QSortFilterProxyModel *m_byClass = nullptr;
    QSortFilterProxyModel *m_byShow = nullptr;
    QSortFilterProxyModel *m_bySearch = nullptr;
    bool m_hasReport = false;
};
