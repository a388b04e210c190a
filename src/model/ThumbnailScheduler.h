#pragma once

#include "ImageFile.h"
#include "support/NativePath.h"

#include <QHash>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QThreadPool>
#include <QTimer>

class ThumbnailCache;

// Fills in the thumbnails of a folder's records on background threads, the
// ones in view first, and hands them to the main thread in batches so the
// window never waits. A new start forgets the previous run.
class ThumbnailScheduler : public QObject
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
    bool isRunning() const { return m_running; }
    qsizetype remaining() const;

    // Fills the records now, on all cores, and returns when all are done.
    static void fillNow(ThumbnailCache &cache, const QList<ImageFilePtr> &records);

Q_SIGNALS:
    void arrived(const QList<qsizetype> &indices);
    void finished();

private:
    struct Job
    {
        qsizetype index = 0;
        NativePath path;
    };
    struct Done
    {
        qsizetype index = 0;
        CompactThumbnail thumbnail;
    };
    void work(quint64 generation);
    void drain();

    ThumbnailCache &m_cache;
    QThreadPool m_pool;
    QTimer m_drainTimer;
    QList<ImageFilePtr> m_records;
    bool m_running = false;

    mutable QMutex m_lock;
    quint64 m_generation = 0;
    QList<Job> m_jobs;
    QList<bool> m_taken;
    QHash<qsizetype, qsizetype> m_jobOfIndex;
    qsizetype m_nextInOrder = 0;
    QList<qsizetype> m_priority; // job positions
    QList<Done> m_done;
    qsizetype m_outstanding = 0;
};
