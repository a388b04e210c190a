#pragma once

#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <optional>
#include <sys/types.h>

// Facts about the volume holding a path, in the shape the card rules read:
// texts "true"/"false" rather than Booleans, so that a record can be logged and
// compared as it is. Where UDisks2 runs it adds the card's label and the
// reader's model; everything else comes from the mount table and /sys.
class VolumeInfo
{
public:
    static const QString cVolumePath; // "volumepath"
    static const QString cDescription; // "description", only when known
    static const QString cType; // "type", only when known
    static const QString cIsRemovable; // "isRemovable"
    static const QString cIsWritable; // "isWritable"
    static const QString cIsUnmountable; // "isUnmountable"

    // Always a record; unknown facts read "false".
    static QVariantMap getFileSystemInfoForPath(const QString &path);

    // Where desktops mount cards: /media/$USER, /run/media/$USER, /media, and /Volumes where it exists.
    static QStringList defaultRemovableMediaRoots();
    // The roots in force (tests put their own folders here; empty restores the defaults).
    static QStringList removableMediaRoots();
    static void setRemovableMediaRoots(const QStringList &roots);
    // True for a path strictly below one of the roots.
    static bool isUnderRemovableMediaRoot(const QString &path, const QStringList &roots);

    // The mount table read by this class and the ejector (tests give a file of their own).
    static QString mountTablePath();
    static void setMountTablePath(const QString &path);

    // "vfat" gives "MS-DOS (FAT)"; empty for a type without a known long name.
    static QString fileSystemLongName(const QByteArray &fsType);
    // From /sys/class/block: the device's own "removable" flag, or its whole disk's for a partition.
    static std::optional<bool> isRemovableBlockDevice(dev_t device);
    static QString userName();
};
