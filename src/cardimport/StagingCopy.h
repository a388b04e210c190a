#pragma once

#include "CardRunReport.h"
#include "support/FileResult.h"
#include "support/SafeFile.h"

#include <QList>
#include <functional>

// The card's photos copied into the staging folder, synced and read back; several
// at once, so that one file's sync and read-back overlap the next one's copying.
class StagingCopy
{
public:
    struct Item
    {
        SafeFileEntry entry;
        qint64 size = 0;
        NativePath staged;
    };

    // One outcome per item, in the plan's order; `staged` hears of each item copied, on its copying thread.
    static QList<FileResult> copyAll(const QList<Item> &plan, int copyThreads, const CardCopyRun::Progress &totals,
                                     CardRunReport &report, double *seconds,
                                     const std::function<void(const Item &)> &staged = {});
};
