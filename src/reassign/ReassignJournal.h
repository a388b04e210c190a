#pragma once

#include "model/FileIdentity.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

// The record of one run that renames photos (a reassignment or an undo of one). It is
// written, synced and read back before the first photo is touched, as
// "<time>-<pid>-<mode>.pending.json"; the outcome then takes its place as
// "<time>-<pid>-<mode>.json". A pending journal whose process is gone is the plan of a
// run cut short, which the next visit to its folder finishes (JournaledRun); a
// completed one is what an undo gives back.
class ReassignJournal
{
public:
    enum class Kind
    {
        Rename, // from oldPath to newPath
        Discard, // renamed to newPath, then into the trash (a barcode photo)
        Restore, // out of the trash (oldPath) back to newPath
        Trash, // into the trash (redoing a run that discarded it)
    };
    struct Entry
    {
        QString oldPath;
        QString newPath; // intended
        QString finalPath {}; // after the run
        QString trashPath {}; // where a discarded photo went ("" if none, "deleted" in journals of older versions)
        // The file as the run left it (in the trash when it went there): a later undo tells
        // from it whether the file is still the one this run named. Absent in older journals.
        std::optional<FileIdentity> left {};
        // Brought back from the trash by an undo: oldPath is where it lay in the trash.
        bool restored = false;
        Kind kind = Kind::Rename;
        // The file at oldPath when the run was planned: how a finishing run tells which of
        // the names holds the photo. Absent in older journals, which are finished by name.
        std::optional<FileIdentity> was {};
    };

    // A journal as read back.
    struct Record
    {
        QString path;
        QString mode;
        QString state; // "planned" (pending), "complete"
        QString folder; // the photos' folder, resolved ("" in older journals)
        qint64 pid = 0;
        qint64 pidStart = 0; // when that process began (clock ticks after boot), 0 when unknown
        bool finishedAfterInterruption = false;
        QList<Entry> entries;
        // Swaps of older versions that hid a photo: where it lies ("parked"), per old path.
        QHash<QString, QString> parked;
        bool isPending() const { return state == u"planned"; }
    };
    // Nothing when the file cannot be read; a file that can be read but is no journal
    // (empty, cut short, not JSON) comes back with damage set.
    struct Reading
    {
        std::optional<Record> record;
        QString damage; // why the file is no journal
    };
    static Reading read(const QString &path);
    // The folder of a record's photos, resolved: its own field, else the folder of its
    // first photo that still exists; empty when neither can be told.
    static QString folderOf(const Record &record);

    // "<state folder>/reassign-journal".
    static QString folder();
    // The journals, newest first (their names begin with the time the run began).
    static QStringList journalsNewestFirst();
    // The journals of runs that may have been cut short: pending ones, and completed
    // older-version journals still saying "planned" (their runs never completed them).
    static QStringList pendingJournals();
    // Where a pending journal's run is recorded once complete.
    static QString completedPathOf(const QString &pendingPath);
    // Deletes the journals neither written nor changed for maxAgeDays (by the time written
    // in them and the file's own), never a pending one nor one whose hidden photo still
    // waits to be brought back. The number deleted.
    static int prune(int maxAgeDays = 90, const QDateTime &now = QDateTime::currentDateTime());

    // Writes the plan as a pending journal, synced and read back; on failure nothing may
    // be renamed and the error says why. The folder is that of the first photo unless given.
    QString begin(const QString &mode, const QList<Entry> &planned, const QString &folder = QString());
    // Continues the pending journal of a run that was cut short.
    void resume(const Record &record);
    // Writes the outcome in place of the pending journal; the error, or empty.
    QString complete(const QList<Entry> &done);
    const QString &path() const { return m_path; }

private:
    QString write(const QString &path, const QString &state, const QList<Entry> &entries, bool replace);
    QString m_path; // the pending journal while the run goes, then the completed one
    QString m_mode;
    QString m_folder;
    QString m_time;
    qint64 m_pid = 0;
    qint64 m_pidStart = 0;
    bool m_resumed = false;
};
