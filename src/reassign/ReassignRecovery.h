#pragma once

#include <QString>
#include <QStringList>

// Finishes the swaps of reassignment runs that were killed while a photo was parked
// under its hidden temporary name: the rest of the cycle is done as the journal
// planned it and the photo takes its new name, or, where that name is not free,
// its old one (else a visible "-kept-" name). Never removes a file.
class ReassignRecovery
{
public:
    // Every journal whose run is over (its process gone); returns where each
    // recovered photo is now. Journals of runs still going are left alone.
    static QStringList recoverInterrupted();
    // Whether the process that wrote a journal may still be running it. An id in
    // use may be a new process that took a dead run's id: its journal then waits
    // for a later start, which is the safe side.
    static bool isRunning(qint64 pid);
};
