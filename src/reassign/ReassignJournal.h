#pragma once

#include "RenamePlan.h"
#include "model/FileIdentity.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <optional>

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
        // The file as the run left it (in the trash when it went there): a later undo tells
        // from it whether the file is still the one this run named. Absent in older journals.
        std::optional<FileIdentity> left {};
        // Brought back from the trash by an undo: oldPath is where it lay in the trash.
        bool restored = false;
    };

    // A journal as read back.
    struct Record
    {
        QString path;
        QString mode;
        QString state;
        QString folder; // the photos' folder, resolved ("" in older journals)
        qint64 pid = 0;
        QList<Entry> entries;
    };
    static std::optional<Record> read(const QString &path);
    // The folder of a record's photos, resolved: its own field, else the folder of its
    // first photo that still exists; empty when neither can be told.
    static QString folderOf(const Record &record);

    // "<state folder>/reassign-journal/<time>[.<n>]-<pid>-<mode>.json".
    static QString folder();
    // Deletes the journals neither written nor changed for maxAgeDays (by the time written
    // in them and the file's own), except one whose hidden photo still waits to be brought
    // back. The number deleted.
    static int prune(int maxAgeDays = 90, const QDateTime &now = QDateTime::currentDateTime());

    // Writes the plan (state "planned"); false when the journal cannot be written.
    // The folder is that of the first planned photo unless given.
    bool begin(const QString &mode, const QList<Entry> &planned, const QString &folder = QString());
    // Adds a photo about to be hidden for a swap (and the rest of its cycle) to the
    // plan, before it is moved: a run killed meanwhile is finished from this record.
    bool noteParked(const RenamePlan::Parking &parking);
    // Writes the outcome (state "complete"), with each file as it was left where not given.
    bool complete(const QList<Entry> &done);
    const QString &path() const { return m_path; }

private:
    bool write(const QString &state, const QList<Entry> &entries);
    QString m_path;
    QList<Entry> m_planned;
    QList<RenamePlan::Parking> m_parked;
    QString m_mode;
    QString m_folder;
};
