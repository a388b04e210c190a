#pragma once

#include "ImageFile.h"
#include "support/BackgroundScheduler.h"
#include "support/NativePath.h"

#include <QHash>
#include <QList>
#include <QObject>

class ThumbnailCache;

struct ThumbnailJob
{
    qsizetype index = 0;
    NativePath path;
};

struct ThumbnailDone
{
    qsizetype index = 0;
    CompactThumbnail thumbnail;
};

// Fills in the thumbnails of a folder's records on background threads, the
// ones in view first, and hands them to the main thread in batches so the
// window never waits. A new start forgets the previous run.
class ThumbnailScheduler : public QObject, private BackgroundScheduler<ThumbnailJob, ThumbnailDone>
{
    Q_OBJECT

public:
    explicit ThumbnailScheduler(ThumbnailCache &cache, QObject *parent = nullptr);
    ~ThumbnailScheduler() override;

    // Main thread. Fills the records at the given indices.
    void start(const QList<ImageFilePtr> &records, const QList<qsizetype> &indices);
    void cancel();
    // These indices next (those still waiting), in the order given.
    void prioritize(const QList<qsizetype> &indices);
    using BackgroundScheduler::isRunning;
    qsizetype remaining() const { return outstanding(); }

    // Fills the records now, on all cores, and returns when all are done.
    static void fillNow(ThumbnailCache &cache, const QList<ImageFilePtr> &records);

Q_SIGNALS:
    void arrived(const QList<qsizetype> &indices);
    void finished();

private:
    void clearJobs() override;
    std::optional<ThumbnailJob> takeJob() override;
    ThumbnailDone perform(const ThumbnailJob &job) override;
    void deliver(const QList<ThumbnailDone> &done) override;
    void complete() override;

    ThumbnailCache &m_cache;
    QList<ImageFilePtr> m_records;

    // Under lock().
    QList<ThumbnailJob> m_jobs;
    QList<bool> m_taken;
    QHash<qsizetype, qsizetype> m_jobOfIndex;
    qsizetype m_nextInOrder = 0;
    QList<qsizetype> m_priority; // job positions
};
