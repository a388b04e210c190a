#pragma once

#include <QString>
#include <QVariant>
#include <QVariantMap>

// One internal notification: a name, an optional object and user information.
struct Notification
{
    QString name;
    QVariant object;
    QVariantMap userInfo;
    bool hasUserInfo = false; // a post without user information differs from an empty one
};
