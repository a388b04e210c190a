#pragma once

#include "Notification.h"

#include <QList>
#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QWaitCondition>
#include <functional>
#include <memory>

// The process-wide publish-subscribe hub through which the parts of the
// program meet. Delivery is synchronous, on the posting thread, to every
// observer registered at the moment of the post. Each observer is tied to a
// QObject: once that object is destroyed its handlers are never called again.
// Removing an observer waits for its handlers still running on other threads,
// so that an object which unregisters itself in its destructor is never called
// once its members are gone; a handler may remove its own observer without
// waiting for itself. A handler must therefore never wait for a thread that is
// removing an observer (a blocking call to the main thread would deadlock).
class NotificationCenter
{
public:
    using Handler = std::function<void(const Notification &)>;

    static NotificationCenter &defaultCenter();

    // Registers a handler for a name (an empty name observes every notification).
    // Returns a token for removing just this registration.
    quint64 addObserver(QObject *observer, const QString &name, Handler handler);
    void removeObserver(quint64 token);
    // Removes every registration of the observer (for one name when given).
    void removeObserver(QObject *observer, const QString &name = QString());

    void post(const QString &name, const QVariantMap &userInfo, const QVariant &object = QVariant());
    void postWithoutUserInfo(const QString &name, const QVariant &object = QVariant());
    void post(const Notification &notification);

    int observerCount(const QString &name = QString()) const;

private:
    struct Registration
    {
        quint64 token = 0;
        QPointer<QObject> observer;
        QObject *observerKey = nullptr;
        QString name;
        std::shared_ptr<Handler> handler;
    };
    // A handler call under way, so that a removal on another thread can wait for it.
    struct Delivery
    {
        quint64 token = 0;
        Qt::HANDLE thread = nullptr;
    };
    void removeWhere(const std::function<bool(const Registration &)> &matches);

    mutable QMutex m_lock;
    QWaitCondition m_deliveryEnded;
    QList<Registration> m_registrations;
    QList<Delivery> m_deliveries;
    quint64 m_nextToken = 1;
};
