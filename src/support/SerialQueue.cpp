#include "SerialQueue.h"

#include <QSemaphore>

SerialQueue::SerialQueue(const QString &label)
    : m_label(label)
{
    // One thread: jobs of equal priority run in the order they were started.
    m_pool.setMaxThreadCount(1);
    m_pool.setExpiryTimeout(-1);
}

SerialQueue::~SerialQueue()
{
    m_pool.waitForDone();
}

void SerialQueue::async(std::function<void()> job)
{
    m_pool.start(std::move(job));
}

void SerialQueue::sync(const std::function<void()> &job)
{
    QSemaphore done;
    m_pool.start([&] {
        job();
        done.release();
    });
    done.acquire();
}

bool SerialQueue::waitForDone(int timeoutMs)
{
    return m_pool.waitForDone(timeoutMs);
}
