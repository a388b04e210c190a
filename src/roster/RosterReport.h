#pragma once

#include "Roster.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// Who has photos on picture day and who is still missing: every subject of the roster with the
// number of photos whose file name begins with their id, counted in each of the folders given
// (the working folder, today's daily folder), and every id found in those folders that the roster
// does not hold (a misread or a typing slip). Only photos count, at the top level of each folder,
// as they are filed; names without a barcode (unknown, a camera's own) are no subject's.
// Making a report reads folder listings only and may run on any thread.
class RosterReport
{
public:
    enum class Mark
    {
        Enough, // at least the minimum
        Missing, // no photo at all
        Short, // some, fewer than the minimum
    };
    struct Row
    {
        RosterSubject subject;
        QList<int> counts; // one per folder, in the order of folders()
        int total = 0;
        Mark mark = Mark::Missing;
    };
    struct Stray
    {
        QString id; // as written in the file names
        QList<int> counts;
        int total = 0;
    };
    struct Folder
    {
        QString label; // "Working folder", "Today" ... for headings
        QString path; // may not exist yet (no photo filed today): counted as empty
        // A destination folder: filing put each photo here for its barcode, and the working
        // folder's record of names stayed behind, so the part before the first "_" is the barcode.
        bool filed = false;
    };

    static RosterReport make(const Roster &roster, const QList<Folder> &folders, int minimumPhotos);

    const QList<Folder> &folders() const { return m_folders; }
    // In the roster's card order: by class, then name.
    const QList<Row> &rows() const { return m_rows; }
    // By id.
    const QList<Stray> &strays() const { return m_strays; }
    int minimumPhotos() const { return m_minimumPhotos; }
    int missingCount() const;
    int shortCount() const;
    // Folders that exist but could not be read, each as a sentence naming it.
    const QStringList &problems() const { return m_problems; }

    // The report as a spreadsheet opens it (UTF-8 with a byte-order mark, RFC 4180 quoting,
    // CRLF): one line per subject, then the ids not on the roster.
    QByteArray toCsv() const;
    QByteArray toJson() const;
    // For a terminal: the missing and short subjects first, by class, then the strays, then a count.
    QString toText() const;

    // For the operator; a short mark names the minimum when it is given.
    static QString markText(Mark mark, int minimumPhotos = 0);

private:
    QList<Folder> m_folders;
    QList<Row> m_rows;
    QList<Stray> m_strays;
    QStringList m_problems;
    int m_minimumPhotos = 1;
};
