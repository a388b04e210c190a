#include "DesktopOpener.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QUrl>

using namespace Qt::StringLiterals;

namespace {
QMutex g_lock;
bool g_testMode = false;
QStringList g_opened;
QStringList g_revealed;
} // namespace

bool DesktopOpener::openFile(const QString &path)
{
    {
        QMutexLocker locker(&g_lock);
        if (g_testMode) {
            g_opened.append(path);
            return true;
        }
    }
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

bool DesktopOpener::revealInFileManager(const QStringList &paths)
{
    {
        QMutexLocker locker(&g_lock);
        if (g_testMode) {
            g_revealed.append(paths);
            return true;
        }
    }
    if (paths.isEmpty())
        return false;
    QStringList uris;
    for (const QString &path : paths)
        uris << QUrl::fromLocalFile(path).toString();
    QDBusMessage call =
        QDBusMessage::createMethodCall(u"org.freedesktop.FileManager1"_s, u"/org/freedesktop/FileManager1"_s,
                                       u"org.freedesktop.FileManager1"_s, u"ShowItems"_s);
    call << uris << QString();
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 3000);
    if (reply.type() == QDBusMessage::ReplyMessage)
        return true;
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(paths.constFirst()).absolutePath()));
}

void DesktopOpener::setTestMode(bool on)
{
    QMutexLocker locker(&g_lock);
    g_testMode = on;
}

QStringList DesktopOpener::openedForTesting()
{
    QMutexLocker locker(&g_lock);
    return g_opened;
}

QStringList DesktopOpener::revealedForTesting()
{
    QMutexLocker locker(&g_lock);
    return g_revealed;
}
