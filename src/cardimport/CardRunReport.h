#pragma once

#include "CardCopyRun.h"

#include <QElapsedTimer>
#include <QMutex>

// The run's callbacks, one at a time whichever thread calls, the progress at a human pace.
class CardRunReport
{
public:
    explicit CardRunReport(const CardCopyRun::Options &options)
        : m_options(options)
    { }
    void status(const QString &text)
    {
        QMutexLocker locker(&m_lock);
        if (m_options.status)
            m_options.status(text);
    }
    void progress(const CardCopyRun::Progress &p, bool force)
    {
        QMutexLocker locker(&m_lock);
        if (!m_options.progress)
            return;
        // Drawn at a human pace, not once per megabyte.
        if (!force && m_last.isValid() && m_last.elapsed() < 100)
            return;
        m_last.start();
        m_options.progress(p);
    }
    void copied(const QString &name, qint64 bytes)
    {
        QMutexLocker locker(&m_lock);
        if (m_options.copied)
            m_options.copied(name, bytes);
    }

private:
    const CardCopyRun::Options &m_options;
    QMutex m_lock;
    QElapsedTimer m_last;
};
