#pragma once

#include "JournaledRun.h"
#include "model/FileIdentity.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

// Gives the photos of a folder back the names they had before the last
// reassignment run on it, from that run's journal: renamed photos take their
// old names again, discarded barcode photos come back from the trash. The undo
// is a run of its own with its own journal, so undoing it again is a redo (the
// barcode photos go back to the trash). Nothing is done unless every file is
// still as that run left it. Runs of the folder cut short are finished first.
class ReassignUndo
{
public:
    // Rename: from the name the run gave back to the old one; Restore: from the trash
    // back to the old name; Trash: back into the trash (redoing a run that discarded it).
    // An undo never discards.
    using Kind = ReassignJournal::Kind;
    struct Step
    {
        Kind kind = Kind::Rename;
        QString from;
        QString to; // empty for Trash
        std::optional<FileIdentity> expected {}; // the file the run left at from
    };
    struct Plan
    {
        QString journalPath; // the run to undo; empty when there is none
        QString mode; // its mode ("automatic", "barcode", "undo")
        QList<Step> steps;
        // One line per file that changed since the run (or why there is nothing to
        // undo). Any line refuses the whole undo.
        QStringList refusals;
        bool isSound() const { return !journalPath.isEmpty() && refusals.isEmpty(); }
        // The photos that get their old names back (renamed or out of the trash).
        qsizetype namesBack() const;
        qsizetype backToTrash() const;
    };

    // The run of the undo itself (its journal, renames, photos restored and trashed).
    struct Report : JournaledRun::Result
    {
        Plan plan;
        bool failed() const;
    };

    // The plan for the folder, checked against the disk; changes nothing.
    static Plan plan(const QString &folder);
    // Checks the plan and runs it when sound; a refused plan touches nothing.
    static Report run(const QString &folder);
};
