#include "BarcodeScanScheduler.h"

#include "BarcodeCache.h"

#include <QThread>

namespace {
// A reading takes a tenth of a second or more: a few batches a second keep the
// badges and the count moving without repainting for every photo.
constexpr int cDrainIntervalMs = 150;
} // namespace

BarcodeScanScheduler::BarcodeScanScheduler(BarcodeCache &cache, QObject *parent)
    : QObject(parent)
    , BackgroundScheduler(cDrainIntervalMs)
    , m_cache(cache)
{
    // The idle class on Linux: the readers only get what the window, the thumbnails
    // and every other program leave, so a long card never makes the window wait.
    pool().setThreadPriority(QThread::IdlePriority);
    pool().setMaxThreadCount(std::max(1, QThread::idealThreadCount()));
}

BarcodeScanScheduler::~BarcodeScanScheduler()
{
    stopWorkers();
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
    m_readCount = 0;
    m_toReadCount = int(toRead.size());
    startRun(std::min<qsizetype>(pool().maxThreadCount(), toRead.size()), [&] {
        clearJobs();
        m_queue = toRead;
        m_taken = QList<bool>(m_queue.size(), false);
        for (qsizetype i = 0; i < m_queue.size(); ++i)
            m_positionOf.insert(m_queue.at(i).bytes(), i);
        return m_queue.size();
    });
    if (!known.isEmpty())
        Q_EMIT arrived(known);
    Q_EMIT progress(0, m_toReadCount);
}

void BarcodeScanScheduler::cancel()
{
    if (stopRun())
        Q_EMIT cancelled();
}

void BarcodeScanScheduler::prioritize(const QList<NativePath> &paths)
{
    QMutexLocker locker(&lock());
    m_priority.clear();
    for (const NativePath &path : paths) {
        const auto it = m_positionOf.constFind(path.bytes());
        if (it != m_positionOf.cend() && !m_taken.at(*it))
            m_priority.append(*it);
    }
}

void BarcodeScanScheduler::clearJobs()
{
    m_queue.clear();
    m_taken.clear();
    m_positionOf.clear();
    m_priority.clear();
    m_next = 0;
}

std::optional<NativePath> BarcodeScanScheduler::takeJob()
{
    qsizetype position = -1;
    while (!m_priority.isEmpty() && position < 0) {
        const qsizetype candidate = m_priority.takeFirst();
        if (!m_taken.at(candidate))
            position = candidate;
    }
    while (position < 0 && m_next < m_queue.size()) {
        if (!m_taken.at(m_next))
            position = m_next;
        ++m_next;
    }
    if (position < 0)
        return std::nullopt;
    m_taken[position] = true;
    return m_queue.at(position);
}

BarcodeScanScheduler::Result BarcodeScanScheduler::perform(const NativePath &path)
{
    return {path, m_cache.read(path)};
}

void BarcodeScanScheduler::deliver(const QList<Result> &results)
{
    m_readCount += int(results.size());
    Q_EMIT arrived(results);
    Q_EMIT progress(m_readCount, m_toReadCount);
}

void BarcodeScanScheduler::complete()
{
    Q_EMIT finished();
}
