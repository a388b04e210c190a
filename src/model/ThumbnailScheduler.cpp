#include "ThumbnailScheduler.h"

#include "ThumbnailCache.h"
#include "ThumbnailMaker.h"

#include <QMutexLocker>
#include <QtConcurrent>

namespace {
// Often enough that thumbnails seem to stream in, rarely enough that a burst of
// cached ones lands in a few repaints.
constexpr int cDrainIntervalMs = 30;
} // namespace

ThumbnailScheduler::ThumbnailScheduler(ThumbnailCache &cache, QObject *parent)
    : QObject(parent)
    , m_cache(cache)
{
    m_drainTimer.setInterval(cDrainIntervalMs);
    connect(&m_drainTimer, &QTimer::timeout, this, &ThumbnailScheduler::drain);
}

ThumbnailScheduler::~ThumbnailScheduler()
{
    cancel();
    m_pool.waitForDone();
}

void ThumbnailScheduler::start(const QList<ImageFilePtr> &records, const QList<qsizetype> &indices)
{
    ThumbnailMaker::initializeLibraries();
    quint64 generation = 0;
    {
        QMutexLocker locker(&m_lock);
        generation = ++m_generation;
        m_jobs.clear();
        m_jobOfIndex.clear();
        for (qsizetype index : indices) {
            m_jobOfIndex.insert(index, m_jobs.size());
            m_jobs.append({index, NativePath(records.at(index)->fileurl().toLocalFile())});
        }
        m_taken = QList<bool>(m_jobs.size(), false);
        m_nextInOrder = 0;
        m_priority.clear();
        m_done.clear();
        m_outstanding = m_jobs.size();
    }
    m_records = records;
    m_running = !indices.isEmpty();
    if (!m_running) {
        Q_EMIT finished();
        return;
    }
    for (int i = 0; i < std::max(1, QThread::idealThreadCount()); ++i)
        m_pool.start([this, generation] { work(generation); });
    m_drainTimer.start();
}

void ThumbnailScheduler::cancel()
{
    QMutexLocker locker(&m_lock);
    ++m_generation;
    m_jobs.clear();
    m_taken.clear();
    m_priority.clear();
    m_done.clear();
    m_outstanding = 0;
    m_running = false;
    m_drainTimer.stop();
}

void ThumbnailScheduler::prioritize(const QList<qsizetype> &indices)
{
    QMutexLocker locker(&m_lock);
    m_priority.clear();
    for (qsizetype index : indices) {
        const auto it = m_jobOfIndex.constFind(index);
        if (it != m_jobOfIndex.cend() && !m_taken.at(*it))
            m_priority.append(*it);
    }
}

qsizetype ThumbnailScheduler::remaining() const
{
    QMutexLocker locker(&m_lock);
    return m_outstanding;
}

void ThumbnailScheduler::work(quint64 generation)
{
    for (;;) {
        Job job;
        {
            QMutexLocker locker(&m_lock);
            if (generation != m_generation)
                return;
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
                return;
            m_taken[position] = true;
            job = m_jobs.at(position);
        }
        const CompactThumbnail thumbnail = m_cache.obtain(job.path).thumbnail;
        QMutexLocker locker(&m_lock);
        if (generation != m_generation)
            return;
        m_done.append({job.index, thumbnail});
    }
}

void ThumbnailScheduler::drain()
{
    QList<Done> done;
    bool complete = false;
    {
        QMutexLocker locker(&m_lock);
        done.swap(m_done);
        m_outstanding -= done.size();
        complete = m_outstanding <= 0;
    }
    if (!done.isEmpty()) {
        QList<qsizetype> indices;
        indices.reserve(done.size());
        for (const Done &d : std::as_const(done)) {
            if (d.index < m_records.size()) {
                m_records.at(d.index)->setCompactThumbnail(d.thumbnail);
                indices.append(d.index);
            }
        }
        Q_EMIT arrived(indices);
    }
    if (complete && m_running) {
        m_running = false;
        m_drainTimer.stop();
        // On this scheduler's own pool, which its destructor waits for: a loader's
        // cache may go right after the loader (a private one, or the program's at exit).
        ThumbnailCache *cache = &m_cache;
        m_pool.start([cache] { cache->flush(); });
        Q_EMIT finished();
    }
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
