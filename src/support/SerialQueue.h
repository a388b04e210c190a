#pragma once

#include <QString>
#include <QThreadPool>
#include <functional>

// A queue that runs its jobs one at a time, in the order they were added, on
// a thread of its own.
class SerialQueue
{
public:
    explicit SerialQueue(const QString &label = QString());
    ~SerialQueue();
    SerialQueue(const SerialQueue &) = delete;
    SerialQueue &operator=(const SerialQueue &) = delete;

    void async(std::function<void()> job);
    // Runs the job on the queue and waits for it.
    void sync(const std::function<void()> &job);
    bool waitForDone(int timeoutMs = -1);
    const QString &label() const { return m_label; }

private:
    QString m_label;
    QThreadPool m_pool;
};
