#pragma once

#include "Notification.h"

#include <QList>
#include <QMutex>
#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>

// The process-wide publish-subscribe hub through which the parts of the
// program meet. Delivery is synchronous, on the posting thread, to every
// observer registered at the moment of the post. Each observer is tied to a
// QObject: once that object is destroyed its handlers are never called again.
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
    mutable QMutex m_lock;
    QList<Registration> m_registrations;
    quint64 m_nextToken = 1;
};
