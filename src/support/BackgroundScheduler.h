#pragma once

#include <QList>
#include <QMutex>
#include <QMutexLocker>
#include <QThreadPool>
#include <QTimer>
#include <optional>

// Runs a list of jobs on a private thread pool and hands their results to the
// main thread in batches on a timer, so the window repaints once per batch
// rather than once per job. Each run has a generation: a new run or a stop makes
// every worker of the previous one return at its next look at the queue and drop
// what it was holding, so nothing from a forgotten run ever reaches the window.
//
// The subclass owns the queue (which job comes next) and what happens to the
// results. Its destructor must call stopWorkers(): the workers call back into it.
template<typename Job, typename Result>
class BackgroundScheduler
{
public:
    BackgroundScheduler(const BackgroundScheduler &) = delete;
    BackgroundScheduler &operator=(const BackgroundScheduler &) = delete;

    bool isRunning() const { return m_running; }

protected:
    explicit BackgroundScheduler(int drainIntervalMs)
    {
        m_drainTimer.setInterval(drainIntervalMs);
        QObject::connect(&m_drainTimer, &QTimer::timeout, &m_drainTimer, [this] { drain(); });
    }
    virtual ~BackgroundScheduler() { m_pool.waitForDone(); }

    // Under the lock: forgets the queue.
    virtual void clearJobs() = 0;
    // Under the lock, on a worker: the next job to do, or none when the queue is empty.
    virtual std::optional<Job> takeJob() = 0;
    // On a worker, without the lock.
    virtual Result perform(const Job &job) = 0;
    // Main thread: a batch of results, in the order they were done.
    virtual void deliver(const QList<Result> &results) = 0;
    // Main thread: every job of the run has been delivered.
    virtual void complete() = 0;

    // Main thread. Forgets the previous run and starts `workers` workers on the
    // queue that fillJobs() sets up under the lock (in the same hold as the new
    // generation, so no worker of the old run takes a job of the new one) and
    // whose length it returns.
    template<typename FillJobs>
    void startRun(qsizetype workers, FillJobs fillJobs)
    {
        quint64 generation = 0;
        {
            QMutexLocker locker(&m_lock);
            generation = ++m_generation;
            m_results.clear();
            m_outstanding = fillJobs();
        }
        m_running = true;
        for (qsizetype i = 0; i < workers; ++i)
            m_pool.start([this, generation] { work(generation); });
        m_drainTimer.start();
    }

    // Main thread. Forgets the current run; returns whether one was running.
    bool stopRun()
    {
        {
            QMutexLocker locker(&m_lock);
            forgetLocked();
        }
        m_drainTimer.stop();
        const bool wasRunning = m_running;
        m_running = false;
        return wasRunning;
    }

    // For the subclass's destructor: no worker calls back after this returns.
    void stopWorkers()
    {
        {
            QMutexLocker locker(&m_lock);
            forgetLocked();
        }
        m_pool.waitForDone();
    }

    // Jobs of the run not yet delivered.
    qsizetype outstanding() const
    {
        QMutexLocker locker(&m_lock);
        return m_outstanding;
    }

    QThreadPool &pool() { return m_pool; }
    QMutex &lock() const { return m_lock; }

private:
    void forgetLocked()
    {
        ++m_generation;
        clearJobs();
        m_results.clear();
        m_outstanding = 0;
    }

    void work(quint64 generation)
    {
        for (;;) {
            std::optional<Job> job;
            {
                QMutexLocker locker(&m_lock);
                if (generation != m_generation)
                    return;
                job = takeJob();
                if (!job)
                    return;
            }
            Result result = perform(*job);
            QMutexLocker locker(&m_lock);
            if (generation != m_generation)
                return;
            m_results.append(std::move(result));
        }
    }

    void drain()
    {
        QList<Result> results;
        bool done = false;
        {
            QMutexLocker locker(&m_lock);
            results.swap(m_results);
            m_outstanding -= results.size();
            done = m_outstanding <= 0;
        }
        if (!results.isEmpty())
            deliver(results);
        if (done && m_running) {
            m_running = false;
            m_drainTimer.stop();
            complete();
        }
    }

    QThreadPool m_pool;
    QTimer m_drainTimer;
    bool m_running = false;

    mutable QMutex m_lock;
    quint64 m_generation = 0;
    QList<Result> m_results;
    qsizetype m_outstanding = 0;
};
