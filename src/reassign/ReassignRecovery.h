#pragma once

#include "JournaledRun.h"

#include <QList>
#include <QString>

// Finishes the runs that were cut short (a kill, a power cut) on a folder, from their
// pending journals, the next time anything touches the folder: the window loading it,
// a command acting on it. A finished run is recorded like any other, so it can be
// undone. Runs whose process still works, and folders that are not there (a card that
// was taken out), are left for a later visit.
class ReassignRecovery
{
public:
    struct Finished
    {
        QString mode; // "automatic", "barcode", "undo"
        JournaledRun::Result result;
        // "An interrupted reassignment of 14 photos was finished", for the operator.
        QString message() const;
        // One line per photo that did not end where the run meant it to go.
        QStringList problems() const;
    };
    // The runs of that folder (every folder when empty) that were cut short, finished.
    static QList<Finished> finishInterrupted(const QString &folder = QString());

    // The start of a process, in clock ticks after boot (0 when it is gone or unknown):
    // with the id, it tells a journal's own process from a new one that took its id.
    static qint64 processStart(qint64 pid);
    // Whether the process that wrote a journal may still be running it. Without a recorded
    // start (older journals), an id in use counts as running: a later visit finishes it.
    static bool isRunning(qint64 pid, qint64 start = 0);
};
