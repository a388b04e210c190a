#include "ThumbnailScheduler.h"

#include "ThumbnailCache.h"
#include "ThumbnailMaker.h"

#include <QtConcurrent>

namespace {
// Often enough that thumbnails seem to stream in, rarely enough that a burst of
// cached ones lands in a few repaints.
constexpr int cDrainIntervalMs = 30;
} // namespace

ThumbnailScheduler::ThumbnailScheduler(ThumbnailCache &cache, QObject *parent)
    : QObject(parent)
    , BackgroundScheduler(cDrainIntervalMs)
    , m_cache(cache)
{ }

ThumbnailScheduler::~ThumbnailScheduler()
{
    stopWorkers();
}

void ThumbnailScheduler::start(const QList<ImageFilePtr> &records, const QList<qsizetype> &indices)
{
    ThumbnailMaker::initializeLibraries();
    m_records = records;
    if (indices.isEmpty()) {
        stopRun();
        Q_EMIT finished();
        return;
    }
    startRun(std::max(1, QThread::idealThreadCount()), [&] {
        clearJobs();
        for (qsizetype index : indices) {
            m_jobOfIndex.insert(index, m_jobs.size());
            m_jobs.append({index, NativePath(records.at(index)->fileurl().toLocalFile())});
        }
        m_taken = QList<bool>(m_jobs.size(), false);
        return m_jobs.size();
    });
}

void ThumbnailScheduler::cancel()
{
    stopRun();
}

void ThumbnailScheduler::prioritize(const QList<qsizetype> &indices)
{
    QMutexLocker locker(&lock());
    m_priority.clear();
    for (qsizetype index : indices) {
        const auto it = m_jobOfIndex.constFind(index);
        if (it != m_jobOfIndex.cend() && !m_taken.at(*it))
            m_priority.append(*it);
    }
}

void ThumbnailScheduler::clearJobs()
{
    m_jobs.clear();
    m_taken.clear();
    m_jobOfIndex.clear();
    m_nextInOrder = 0;
    m_priority.clear();
}

std::optional<ThumbnailJob> ThumbnailScheduler::takeJob()
{
    qsizetype position = -1;
    while (!m_priority.isEmpty() && position < 0) {
        const qsizetype candidate = m_priority.takeFirst();
        if (!m_taken.at(candidate))
            position = candidate;
    }
    while (position < 0 && m_nextInOrder < m_jobs.size()) {
        if (!m_taken.at(m_nextInOrder))
            position = m_nextInOrder;
        ++m_nextInOrder;
    }
    if (position < 0)
        return std::nullopt;
    m_taken[position] = true;
    return m_jobs.at(position);
}

ThumbnailDone ThumbnailScheduler::perform(const ThumbnailJob &job)
{
    return {job.index, m_cache.obtain(job.path).thumbnail};
}

void ThumbnailScheduler::deliver(const QList<ThumbnailDone> &done)
{
    QList<qsizetype> indices;
    indices.reserve(done.size());
    for (const ThumbnailDone &d : done) {
        if (d.index < m_records.size()) {
            m_records.at(d.index)->setCompactThumbnail(d.thumbnail);
            indices.append(d.index);
        }
    }
    Q_EMIT arrived(indices);
}

void ThumbnailScheduler::complete()
{
    // On this scheduler's own pool, which its destructor waits for: a loader's
    // cache may go right after the loader (a private one, or the program's at exit).
    ThumbnailCache *cache = &m_cache;
    pool().start([cache] { cache->flush(); });
    Q_EMIT finished();
}

void ThumbnailScheduler::fillNow(ThumbnailCache &cache, const QList<ImageFilePtr> &records)
{
    ThumbnailMaker::initializeLibraries();
    static QThreadPool pool;
    QtConcurrent::blockingMap(&pool, records, [&cache](const ImageFilePtr &record) {
        record->setCompactThumbnail(cache.obtain(NativePath(record->fileurl().toLocalFile())).thumbnail);
    });
    cache.flush();
}
