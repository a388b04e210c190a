#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QStringList>
#include <memory>

class QLocalServer;
class QLockFile;

// One copy of the program per user: a lock file says which copy runs, and a local
// socket lets a copy started later hand it what it was asked to open.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    explicit SingleInstance(QObject *parent = nullptr);
    ~SingleInstance() override;

    // Where the lock and socket live (per user).
    static QString lockPath();
    static QString socketName();

    // True when another copy already runs (it has been asked to come to the front and
    // open the paths). A copy that is ending is waited for.
    bool anotherCopyRuns(const QStringList &pathsToOpen);
    // The lock, for the program to give up only when its process ends.
    std::unique_ptr<QLockFile> takeLock();

    void startServer();
    // Stops answering other copies: called as soon as this one begins to quit.
    void stopServer();

Q_SIGNALS:
    // Emitted before the asking copy is told its request was acted on.
    void activateRequested();
    void openRequested(const QString &path);

private:
    // Sends the lines to the running copy; true once it has acted on every one.
    static bool askRunningCopy(const QList<QByteArray> &lines);
    void handle(const QByteArray &message);

    std::unique_ptr<QLockFile> m_lock;
    QLocalServer *m_server = nullptr;
};
