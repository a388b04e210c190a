#pragma once

#include "ReassignJournal.h"
#include "RenamePlan.h"

#include <QList>
#include <QString>
#include <QStringList>

// Carries out a run of renames, discards into the trash and restores from it, written
// ahead in its journal: nothing is touched until the plan is on disk, and a run cut
// short is finished from that plan by the same steps. Every step can be taken again: a
// photo already at its new name (told by the file's identity, or by its names in
// journals of older versions) counts as done. A barcode photo the trash will not take
// gets its old name back and stays; nothing is ever deleted.
class JournaledRun
{
public:
    using Entry = ReassignJournal::Entry;
    using Kind = ReassignJournal::Kind;

    struct Result
    {
        QString journalPath;
        // The plan could not be recorded (nothing was touched), or the outcome could not
        // (everything was done, and the next visit completes the record).
        QString journalError;
        bool started = false;
        qsizetype photos = 0; // in the plan
        QList<RenamePlan::Outcome> renames; // of the renamed and discarded photos, in plan order
        QStringList trashed; // where each discarded (or again trashed) photo was
        QStringList restored; // back from the trash: where each is now
        QStringList kept; // would not go to the trash: back under its old name (or where it is)
        QStringList stuck; // could not be brought back from the trash
        QStringList missing; // of a run cut short: under none of its names any more
        QList<Entry> outcome; // as recorded
        bool failed() const;
    };

    // entries: oldPath, newPath and kind of each photo, in the order the run takes them;
    // the folder is that of the first photo unless given.
    static Result run(const QString &mode, const QList<Entry> &entries, const QString &folder = QString());
    // Takes up a pending journal whose run was cut short.
    static Result finish(const ReassignJournal::Record &record);
};
