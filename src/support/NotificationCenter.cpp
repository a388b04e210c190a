#include "NotificationCenter.h"

#include <QMutexLocker>

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
    QMutexLocker locker(&m_lock);
    m_registrations.removeIf([token](const Registration &r) { return r.token == token; });
}

void NotificationCenter::removeObserver(QObject *observer, const QString &name)
{
    QMutexLocker locker(&m_lock);
    m_registrations.removeIf(
        [&](const Registration &r) { return r.observerKey == observer && (name.isEmpty() || r.name == name); });
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
    for (const Registration &r : std::as_const(targets)) {
        bool stillRegistered = false;
        {
            QMutexLocker locker(&m_lock);
            for (const Registration &current : std::as_const(m_registrations))
                stillRegistered = stillRegistered || current.token == r.token;
        }
        if (stillRegistered && !r.observer.isNull())
            (*r.handler)(notification);
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
