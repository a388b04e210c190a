#pragma once

#include "RenamePlan.h"

#include <QList>
#include <QString>

// The record of one reassignment run, written next to the log before anything
// is renamed and completed afterwards, so that a run can be audited (and undone
// by hand): old path, new path, where a discarded photo went.
class ReassignJournal
{
public:
    struct Entry
    {
        QString oldPath;
        QString newPath; // intended
        QString finalPath; // after the run
        QString trashPath; // where a discarded barcode photo went ("" if none, "deleted" when deleted)
    };

    // "<log folder>/reassign-journal/<time>-<pid>-<mode>.json".
    static QString folder();

    // Writes the plan (state "planned"); false when the journal cannot be written.
    bool begin(const QString &mode, const QList<Entry> &planned);
    // Adds a photo about to be hidden for a swap (and the rest of its cycle) to the
    // plan, before it is moved: a run killed meanwhile is finished from this record.
    bool noteParked(const RenamePlan::Parking &parking);
    // Writes the outcome (state "complete").
    bool complete(const QList<Entry> &done);
    const QString &path() const { return m_path; }

private:
    bool write(const QString &state, const QList<Entry> &entries);
    QString m_path;
    QList<Entry> m_planned;
    QList<RenamePlan::Parking> m_parked;
    QString m_mode;
};
