#include "SingleInstance.h"

#include "settings/BundleInfo.h"
#include "support/Alert.h"
#include "support/NativePath.h"
#include "support/SystemLog.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QPointer>
#include <QStandardPaths>

using namespace Qt::StringLiterals;

namespace {
constexpr int cForwardTimeoutMs = 3000;
// How long a copy started while another is ending waits for it (it writes its caches first).
constexpr int cTakeOverTimeoutMs = 30000;

QString runtimeFolder()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    return folder;
}
} // namespace

SingleInstance::SingleInstance(QObject *parent)
    : QObject(parent)
{ }

SingleInstance::~SingleInstance()
{
    stopServer();
}

QString SingleInstance::lockPath()
{
    return runtimeFolder() + u'/' + BundleInfo::bundleIdentifier() + u".lock"_s;
}

QString SingleInstance::socketName()
{
    // A socket file in the user's own runtime folder: only that user can reach it.
    return runtimeFolder() + u'/' + BundleInfo::bundleIdentifier() + u".socket"_s;
}

bool SingleInstance::anotherCopyRuns(const QStringList &pathsToOpen)
{
    QDir().mkpath(runtimeFolder());
    m_lock = std::make_unique<QLockFile>(lockPath());
    m_lock->setStaleLockTime(0); // a crashed copy's lock is recognised by its dead process id
    if (m_lock->tryLock(0))
        return false;
    qint64 otherPid = 0;
    QString host;
    QString application;
    m_lock->getLockInfo(&otherPid, &host, &application);
    const qint64 ownPid = QCoreApplication::applicationPid();
    if (otherPid == 0 || otherPid == ownPid) {
        // The lock could not be taken for another reason (an unwritable runtime folder):
        // better to run than to refuse to start.
        logLine(u"AppDelegate -> checkForDuplicateRunningInstances.... cannot take the instance lock; going on"_s);
        return false;
    }
    // A copy that has begun to quit answers no more; it still holds the lock until its
    // last file is written. This copy waits for it and is then the one that runs.
    const auto handOver = [&pathsToOpen, ownPid, otherPid] {
        if (!askRunningCopy({"ping"}))
            return false;
        Alert::runModal({Alert::Style::Critical,
                         u"!!! Another Instance of This App is Already Running !!!"_s,
                         u"Only One Instance of this app can be running at the same time.\n\nThis App PID = "_s
                             + QString::number(ownPid) + u"\nExisting Running App PID = "_s + QString::number(otherPid)
                             + u"\n\n"_s,
                         {u"OK"_s}});
        // Bring the other copy forward, with whatever this one was asked to open.
        QList<QByteArray> lines {"activate"};
        for (const QString &path : pathsToOpen)
            lines.append("open " + NativePath::encode(path));
        return askRunningCopy(lines);
    };
    if (handOver())
        return true;
    logLine(u"AppDelegate -> checkForDuplicateRunningInstances.... the copy "_s + QString::number(otherPid)
            + u" is ending; waiting for it"_s);
    if (m_lock->tryLock(cTakeOverTimeoutMs)) {
        logLine(u"AppDelegate -> checkForDuplicateRunningInstances.... the copy "_s + QString::number(otherPid)
                + u" has ended; this one runs"_s);
        return false;
    }
    // Not ending after all, only busy for a while: it may answer now.
    if (handOver())
        return true;
    Alert::runModal({Alert::Style::Critical,
                     u"!!! Another Instance of This App is Still Running !!!"_s,
                     u"The copy with PID "_s + QString::number(otherPid) + u" neither answers nor ends (waited "_s
                         + QString::number(cTakeOverTimeoutMs / 1000)
                         + u" seconds). End it, then start this app again.\n\n"_s,
                     {u"OK"_s}});
    return true;
}

bool SingleInstance::askRunningCopy(const QList<QByteArray> &lines)
{
    QLocalSocket socket;
    socket.connectToServer(socketName());
    if (!socket.waitForConnected(cForwardTimeoutMs)) {
        logLine(u"AppDelegate -> askRunningCopy.... no answer: "_s + socket.errorString());
        return false;
    }
    QByteArray message;
    for (const QByteArray &line : lines)
        message += line + '\n';
    socket.write(message);
    // One "ok" per line once the running copy has acted on it: a message merely
    // written into a socket nobody reads any more opens nothing.
    qsizetype answered = 0;
    QDeadlineTimer deadline(cForwardTimeoutMs);
    while (answered < lines.size()) {
        if (!socket.canReadLine() && !socket.waitForReadyRead(int(deadline.remainingTime()))) {
            logLine(u"AppDelegate -> askRunningCopy.... the running copy did not answer: "_s + socket.errorString());
            return false;
        }
        while (socket.canReadLine()) {
            if (socket.readLine() == "ok\n")
                ++answered;
        }
    }
    socket.disconnectFromServer();
    return true;
}

std::unique_ptr<QLockFile> SingleInstance::takeLock()
{
    return std::move(m_lock);
}

void SingleInstance::startServer()
{
    // Only the holder of the lock gets here, so an old socket file is stale.
    QLocalServer::removeServer(socketName());
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(socketName())) {
        logLine(u"AppDelegate -> startInstanceServer.... "_s + m_server->errorString());
        return;
    }
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = m_server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                // Messages are short and end with a newline; read whole lines only. Each is
                // acknowledged once acted on (the socket goes if this copy begins to quit meanwhile).
                const QPointer<QLocalSocket> alive(socket);
                while (alive && alive->canReadLine()) {
                    handle(alive->readLine().trimmed());
                    if (alive)
                        alive->write("ok\n");
                }
            });
        }
    });
}

void SingleInstance::stopServer()
{
    if (!m_server)
        return;
    // From now on a copy started is told nothing here: it waits for the lock instead.
    for (QLocalSocket *socket : m_server->findChildren<QLocalSocket *>())
        socket->abort();
    m_server->close();
    delete m_server;
    m_server = nullptr;
}

void SingleInstance::handle(const QByteArray &message)
{
    logLine(u"AppDelegate -> another copy asked: "_s + QString::fromUtf8(message));
    if (message == "activate") {
        Q_EMIT activateRequested();
    } else if (message.startsWith("open ")) {
        Q_EMIT openRequested(NativePath::decode(message.mid(5)));
    }
}
