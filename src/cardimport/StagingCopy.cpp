#include "StagingCopy.h"

#include "support/SystemLog.h"

#include <QMutexLocker>
#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

using namespace Qt::StringLiterals;

QList<FileResult> StagingCopy::copyAll(const QList<Item> &plan, int copyThreads, const CardCopyRun::Progress &totals,
                                       CardRunReport &report, double *seconds,
                                       const std::function<void(const Item &)> &staged)
{
    QElapsedTimer copyTimer;
    copyTimer.start();
    std::atomic<qsizetype> next {0};
    std::atomic<qsizetype> filesDone {0};
    std::atomic<qsizetype> filesFailed {0};
    std::atomic<qint64> bytesDone {0};
    QMutex resultLock;
    QList<FileResult> outcomes(plan.size());
    const auto snapshot = [&] {
        CardCopyRun::Progress p = totals;
        p.filesDone = filesDone.load();
        p.filesFailed = filesFailed.load();
        p.bytesDone = bytesDone.load();
        p.seconds = copyTimer.nsecsElapsed() / 1e9;
        return p;
    };
    const auto worker = [&] {
        for (;;) {
            const qsizetype i = next.fetch_add(1);
            if (i >= plan.size())
                return;
            const Item &item = plan.at(i);
            report.status(u"Copying Photo: "_s + item.entry.displayName);
            std::int64_t counted = 0;
            SafeFileCopyOptions copyOptions;
            // Synced and read back from the page cache: reading the whole card's worth
            // from the disk again would double the import time (a write error still
            // shows as a failed sync).
            copyOptions.readBackFromDisk = false;
            // The staged names are synced when the photos move on to the working folder.
            copyOptions.syncFolders = false;
            copyOptions.progress = [&](std::int64_t done, std::int64_t) {
                bytesDone += done - counted;
                counted = done;
                report.progress(snapshot(), false);
                return true;
            };
            SafeFileCopyReport copyReport;
            const FileResult r = SafeFile::copy(item.entry.path, item.staged, copyOptions, &copyReport);
            bytesDone -= counted;
            if (r) {
                bytesDone += copyReport.bytes;
                ++filesDone;
                report.copied(item.entry.displayName, copyReport.bytes);
                if (staged)
                    staged(item);
            } else {
                ++filesFailed;
                logLine(u"oops somethingwrong with copyItemAtURL "_s + r.text());
            }
            report.progress(snapshot(), true);
            QMutexLocker locker(&resultLock);
            outcomes[i] = r;
        }
    };
    const int threads = std::clamp(copyThreads, 1, 8);
    std::vector<std::thread> helpers;
    for (int t = 1; t < threads && t < plan.size(); ++t)
        helpers.emplace_back(worker);
    worker();
    for (std::thread &t : helpers)
        t.join();
    *seconds = copyTimer.nsecsElapsed() / 1e9;
    return outcomes;
}
