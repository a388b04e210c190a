#pragma once

#include "RosterReport.h"

#include <QAbstractTableModel>

// The report of who has photos as a table: the roster's subjects in card order, then the ids found
// in the folders that the roster does not hold. One count column per folder of the report.
class RosterTableModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column
    {
        IdColumn,
        NameColumn,
        ClassColumn,
        FirstCountColumn, // one per folder, then the total and the status
    };
    enum Kind
    {
        EnoughKind,
        MissingKind,
        ShortKind,
        StrayKind, // an id no subject of the roster has
    };
    enum Role
    {
        IdRole = Qt::UserRole + 1,
        KindRole, // a Kind, the same in every column of a row
        SearchRole, // the id and the name, for a search field
        SortRole, // numbers as numbers, and inside text too ("Grade 2" before "Grade 10")
    };

    explicit RosterTableModel(QObject *parent = nullptr);

    void setReport(const RosterReport &report);
    const RosterReport &report() const { return m_report; }

    int totalColumn() const;
    int statusColumn() const;
    // The row of the id (letters in either case), or -1.
    int rowOf(const QString &id) const;

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    static QString strayText();

private:
    QVariant cell(int row, int column) const;
    Kind kindAt(int row) const;
    QString idAt(int row) const;

    RosterReport m_report;
};
