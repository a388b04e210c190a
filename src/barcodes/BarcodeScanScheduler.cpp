#include "BarcodeScanScheduler.h"

#include "BarcodeCache.h"

#include <QMutexLocker>
#include <QThread>

namespace {
// A reading takes a tenth of a second or more: a few batches a second keep the
// badges and the count moving without repainting for every photo.
constexpr int cDrainIntervalMs = 150;
} // namespace

BarcodeScanScheduler::BarcodeScanScheduler(BarcodeCache &cache, QObject *parent)
    : QObject(parent)
    , m_cache(cache)
{
    // The idle class on Linux: the readers only get what the window, the thumbnails
    // and every other program leave, so a long card never makes the window wait.
    m_pool.setThreadPriority(QThread::IdlePriority);
    m_pool.setMaxThreadCount(std::max(1, QThread::idealThreadCount()));
    m_drainTimer.setInterval(cDrainIntervalMs);
    connect(&m_drainTimer, &QTimer::timeout, this, &BarcodeScanScheduler::drain);
}

BarcodeScanScheduler::~BarcodeScanScheduler()
{
    {
        QMutexLocker locker(&m_lock);
        ++m_generation;
        m_queue.clear();
        m_done.clear();
    }
    m_pool.waitForDone();
}

void BarcodeScanScheduler::start(const QList<NativePath> &paths)
{
    QList<NativePath> toRead;
    QList<Result> known;
    // Readings kept on disk come back through the readers: the database may be busy
    // writing, and the window must not wait for it.
    for (const NativePath &path : paths) {
        if (std::optional<BarcodeReader::Reading> reading = m_cache.knownInMemory(path))
            known.append({path, *reading});
        else
            toRead.append(path);
    }
    quint64 generation = 0;
    {
        QMutexLocker locker(&m_lock);
        generation = ++m_generation;
        m_queue = toRead;
        m_next = 0;
        m_done.clear();
    }
    m_readCount = 0;
    m_toReadCount = int(toRead.size());
    m_running = true;
    for (int i = 0; i < std::min<qsizetype>(m_pool.maxThreadCount(), toRead.size()); ++i)
        m_pool.start([this, generation] { work(generation); });
    m_drainTimer.start();
    if (!known.isEmpty())
        Q_EMIT arrived(known);
    Q_EMIT progress(0, m_toReadCount);
}

void BarcodeScanScheduler::cancel()
{
    {
        QMutexLocker locker(&m_lock);
        ++m_generation;
        m_queue.clear();
        m_done.clear();
    }
    m_drainTimer.stop();
    if (m_running) {
        m_running = false;
        Q_EMIT cancelled();
    }
}

void BarcodeScanScheduler::work(quint64 generation)
{
    for (;;) {
        NativePath path;
        {
            QMutexLocker locker(&m_lock);
            if (generation != m_generation || m_next >= m_queue.size())
                return;
            path = m_queue.at(m_next++);
        }
        const BarcodeReader::Reading reading = m_cache.read(path);
        QMutexLocker locker(&m_lock);
        if (generation != m_generation)
            return;
        m_done.append({path, reading});
    }
}

void BarcodeScanScheduler::drain()
{
    QList<Result> results;
    {
        QMutexLocker locker(&m_lock);
        results.swap(m_done);
    }
    m_readCount += int(results.size());
    if (!results.isEmpty()) {
        Q_EMIT arrived(results);
        Q_EMIT progress(m_readCount, m_toReadCount);
    }
    if (m_running && m_readCount >= m_toReadCount) {
        m_running = false;
        m_drainTimer.stop();
        Q_EMIT finished();
    }
}
