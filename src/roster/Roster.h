#pragma once

#include "RosterSubject.h"
#include "support/NativePath.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

// The organisation's list of subjects for one picture day, read from the CSV its
// system exports. A bad row never costs the others: it is reported with its line
// and why, and the rest of the roster is used. Reading is pure and may run on any
// thread, so that a large file never holds up the window.
class Roster
{
public:
    enum class Status
    {
        Loaded,
        NeedsIdColumn, // no header names the id (error() asks): the operator chooses the column, the file is read again
        Refused, // nothing of the file can be used; error() says why, naming the file
    };
    struct RowProblem
    {
        int line = 0;
        QString reason;
    };

    // The file is refused beyond this size: a roster of 100,000 subjects with thirty columns fits,
    // and a larger file is a wrong pick (a photo, an archive, a database dump), read for nothing.
    static constexpr qint64 cMaxBytes = 20 * 1024 * 1024;

    // Some systems export no header: the first row the operator is shown is a subject of its own.
    enum class Header
    {
        FirstRow,
        None, // the columns are named "Column 1", "Column 2" ...
    };
    // idColumn: the column of the ids (0-based) as the operator chose it; -1 asks the header.
    static Roster load(const NativePath &path, int idColumn = -1, Header header = Header::FirstRow);

    Status status() const { return m_status; }
    const QString &error() const { return m_error; }
    const QString &encoding() const { return m_encoding; }
    QChar separator() const { return m_separator; }
    // The header as written (or the first row), for the operator who picks the id column.
    const QStringList &columns() const { return m_columns; }
    int idColumn() const { return m_idColumn; }
    // The names of the columns kept in RosterSubject::others.
    const QStringList &otherColumns() const { return m_otherColumns; }

    const QList<RosterSubject> &subjects() const { return m_subjects; }
    // Letters match in either case: Code 39 reads only capitals, and an id may be typed in either.
    const RosterSubject *find(const QString &id) const;
    // Rows left out, in the order of the file.
    const QList<RowProblem> &problems() const { return m_problems; }

    // The order of a card sheet: by class, then last and first name, numbers compared as numbers
    // ("Grade 2" before "Grade 10"). Indexes into subjects().
    QList<qsizetype> byClassThenName() const;

private:
    static Roster refused(const QString &why);
    static Roster fromBytes(const QByteArray &bytes, int idColumn, Header header);
    void readRecords(const QString &text, int idColumn, Header header);

    Status m_status = Status::Refused;
    QString m_error;
    QString m_encoding;
    QChar m_separator;
    QStringList m_columns;
    int m_idColumn = -1;
    QStringList m_otherColumns;
    QList<RosterSubject> m_subjects;
    QHash<QString, qsizetype> m_byId;
    QList<RowProblem> m_problems;
};
