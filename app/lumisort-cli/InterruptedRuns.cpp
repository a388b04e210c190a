#include "InterruptedRuns.h"

#include "reassign/ReassignRecovery.h"

void InterruptedRuns::finish(const QString &folder, CliIo &io)
{
    if (folder.isEmpty())
        return;
    for (const ReassignRecovery::Finished &run : ReassignRecovery::finishInterrupted(folder)) {
        io.err << "lumisort-cli: " << run.message() << Qt::endl;
        for (const QString &problem : run.problems())
            io.err << "lumisort-cli:   " << problem << Qt::endl;
    }
}
