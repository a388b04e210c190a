#include "NotificationCenter.h"

#include <QMutexLocker>
#include <QThread>

NotificationCenter &NotificationCenter::defaultCenter()
{
    static NotificationCenter center;
    return center;
}

quint64 NotificationCenter::addObserver(QObject *observer, const QString &name, Handler handler)
{
    Q_ASSERT(observer);
    quint64 token = 0;
    bool firstForObserver = true;
    {
        QMutexLocker locker(&m_lock);
        token = m_nextToken++;
        for (const Registration &r : std::as_const(m_registrations))
            firstForObserver = firstForObserver && r.observerKey != observer;
        m_registrations.append(
            {token, QPointer<QObject>(observer), observer, name, std::make_shared<Handler>(std::move(handler))});
    }
    if (firstForObserver) {
        // Drop the registrations as soon as the observer goes, whichever thread destroys it.
        QObject::connect(
            observer, &QObject::destroyed, observer, [this, observer] { removeObserver(observer); },
            Qt::DirectConnection);
    }
    return token;
}

void NotificationCenter::removeObserver(quint64 token)
{
    removeWhere([token](const Registration &r) { return r.token == token; });
}

void NotificationCenter::removeObserver(QObject *observer, const QString &name)
{
    removeWhere([&](const Registration &r) { return r.observerKey == observer && (name.isEmpty() || r.name == name); });
}

void NotificationCenter::removeWhere(const std::function<bool(const Registration &)> &matches)
{
    QMutexLocker locker(&m_lock);
    QList<quint64> removed;
    m_registrations.removeIf([&](const Registration &r) {
        if (!matches(r))
            return false;
        removed.append(r.token);
        return true;
    });
    // A call on this thread is the caller's own (a handler removing itself): waiting would never end.
    const Qt::HANDLE self = QThread::currentThreadId();
    const auto stillRunningElsewhere = [&] {
        for (const Delivery &d : std::as_const(m_deliveries)) {
            if (d.thread != self && removed.contains(d.token))
                return true;
        }
        return false;
    };
    while (!removed.isEmpty() && stillRunningElsewhere())
        m_deliveryEnded.wait(&m_lock);
}

void NotificationCenter::post(const QString &name, const QVariantMap &userInfo, const QVariant &object)
{
    post(Notification {name, object, userInfo, true});
}

void NotificationCenter::postWithoutUserInfo(const QString &name, const QVariant &object)
{
    post(Notification {name, object, {}, false});
}

void NotificationCenter::post(const Notification &notification)
{
    // Snapshot under the lock, call outside it: handlers may post or (un)register.
    QList<Registration> targets;
    {
        QMutexLocker locker(&m_lock);
        for (const Registration &r : std::as_const(m_registrations)) {
            if (r.name.isEmpty() || r.name == notification.name)
                targets.append(r);
        }
    }
    const Qt::HANDLE self = QThread::currentThreadId();
    for (const Registration &r : std::as_const(targets)) {
        {
            // Checked and marked under one lock: a removal either comes first or waits for this call.
            QMutexLocker locker(&m_lock);
            bool stillRegistered = false;
            for (const Registration &current : std::as_const(m_registrations))
                stillRegistered = stillRegistered || current.token == r.token;
            if (!stillRegistered || r.observer.isNull())
                continue;
            m_deliveries.append({r.token, self});
        }
        (*r.handler)(notification);
        QMutexLocker locker(&m_lock);
        for (qsizetype i = m_deliveries.size() - 1; i >= 0; --i) {
            if (m_deliveries.at(i).token == r.token && m_deliveries.at(i).thread == self) {
                m_deliveries.removeAt(i);
                break;
            }
        }
        m_deliveryEnded.wakeAll();
    }
}

int NotificationCenter::observerCount(const QString &name) const
{
    QMutexLocker locker(&m_lock);
    int n = 0;
    for (const Registration &r : m_registrations)
        n += (name.isEmpty() || r.name == name) ? 1 : 0;
    return n;
}
