#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>
#include <sys/types.h>

// The kernel's table of mounts, read from /proc/self/mountinfo (or a file of
// the same format given by tests).
class MountTable
{
public:
    struct Mount
    {
        int id = 0;
        int parentId = 0;
        dev_t device = 0; // st_dev of files on this mount
        QByteArray root; // root of the mount within its file system
        QByteArray mountPoint; // unescaped
        QByteArray options; // per-mount options ("rw,relatime")
        QByteArray fsType; // "ext4", "vfat", "fuse.exfat"
        QByteArray source; // "/dev/sdb1", "tmpfs"
        QByteArray superOptions;
        bool isReadOnly() const;
    };

    static QString defaultPath() { return QStringLiteral("/proc/self/mountinfo"); }
    static std::optional<MountTable> read(const QString &path = defaultPath());
    static MountTable parse(const QByteArray &text);

    const QList<Mount> &mounts() const { return m_mounts; }
    // The mount holding the path: the longest mount point that is a prefix of it
    // (the last one mounted when several share a point).
    std::optional<Mount> mountFor(const QByteArray &absolutePath) const;
    std::optional<Mount> mountAt(const QByteArray &mountPoint) const;
    QList<Mount> mountsOfDevice(dev_t device) const;

private:
    QList<Mount> m_mounts;
};
