#pragma once

#include <QByteArray>
#include <QObject>
#include <QStringList>
#include <optional>

class QFileSystemWatcher;
class QSocketNotifier;

// Tells when a volume appears or goes under the removable-media roots. The
// kernel marks /proc/self/mountinfo with POLLPRI on every change of the mount
// table; the watcher then reads the table again from its start and compares it
// with the last one. A regular file given instead (tests) is watched by
// QFileSystemWatcher, and rescan() reads it on demand.
class MountWatcher : public QObject
{
    Q_OBJECT

public:
    // The program's mount table and the roots of VolumeInfo.
    explicit MountWatcher(QObject *parent = nullptr);
    MountWatcher(const QString &mountTablePath, const QStringList &removableMediaRoots, QObject *parent = nullptr);
    ~MountWatcher() override;

    // Reads the table as it is now (no signals for what is already mounted) and
    // starts watching; false when the table cannot be read.
    bool start();
    void stop();
    bool isWatching() const;
    // Reads the table now and signals the differences.
    void rescan();

    // The mount points under the roots as last read.
    QStringList currentMounts() const;
    const QString &mountTablePath() const { return m_path; }

Q_SIGNALS:
    void mounted(const QString &mountPath);
    void unmounted(const QString &mountPath);

private:
    std::optional<QByteArray> readTable();
    QList<QByteArray> mountsUnderRoots(const QByteArray &table) const;

    QString m_path;
    QStringList m_roots;
    int m_fd = -1;
    QSocketNotifier *m_notifier = nullptr;
    QFileSystemWatcher *m_fileWatcher = nullptr;
    QList<QByteArray> m_current; // in table order
};
