#include "VolumeInfo.h"

#include "UDisks2Client.h"
#include "support/MountTable.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QMutexLocker>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

const QString VolumeInfo::cVolumePath = u"volumepath"_s;
const QString VolumeInfo::cDescription = u"description"_s;
const QString VolumeInfo::cType = u"type"_s;
const QString VolumeInfo::cIsRemovable = u"isRemovable"_s;
const QString VolumeInfo::cIsWritable = u"isWritable"_s;
const QString VolumeInfo::cIsUnmountable = u"isUnmountable"_s;

namespace {

QMutex g_lock;
QStringList g_roots; // empty: the defaults
QString g_mountTablePath;

QString text(bool value)
{
    return value ? u"true"_s : u"false"_s;
}

QByteArray readSysFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll().trimmed();
}

// The /sys folder of a block device, and of its whole disk when it is a partition.
struct SysBlock
{
    QString device;
    QString disk;
};

std::optional<SysBlock> sysBlockFor(dev_t device)
{
    const QString link = u"/sys/dev/block/%1:%2"_s.arg(major(device)).arg(minor(device));
    const QString resolved = QFileInfo(link).canonicalFilePath();
    if (resolved.isEmpty())
        return std::nullopt;
    SysBlock b {resolved, resolved};
    if (QFileInfo::exists(resolved + u"/partition"_s))
        b.disk = QFileInfo(resolved).path();
    return b;
}

// The device a mount really sits on: btrfs and others give files an anonymous
// device number, while the mount's source names the block device.
dev_t blockDeviceOf(const MountTable::Mount &mount)
{
    if (mount.source.startsWith("/dev/")) {
        struct stat info = {};
        if (::stat(mount.source.constData(), &info) == 0 && S_ISBLK(info.st_mode))
            return info.st_rdev;
    }
    return mount.device;
}

bool hasOption(const QByteArray &options, const char *option)
{
    return options.split(',').contains(QByteArray(option));
}

QString describe(const MountTable::Mount &mount, dev_t device)
{
    QStringList parts;
    QString model;
    if (mount.source.startsWith("/dev/")) {
        // Only a UDisks2 already running: the sheet asks on the main thread and must not wait for one to start.
        UDisks2Client udisks;
        if (udisks.isRunning() && udisks.load()) {
            if (const auto block = udisks.blockForDevice(mount.source)) {
                if (!block->idLabel.isEmpty())
                    parts.append(block->idLabel);
                if (const auto drive = udisks.drive(block->drivePath))
                    model = QStringList {drive->vendor, drive->model}.join(u' ').trimmed();
            }
        }
    }
    if (model.isEmpty()) {
        if (const auto sys = sysBlockFor(device)) {
            const QByteArray vendor = readSysFile(sys->disk + u"/device/vendor"_s);
            const QByteArray product = readSysFile(sys->disk + u"/device/model"_s);
            // Virtual disks give only a numeric vendor id, which tells the operator nothing.
            if (!product.isEmpty())
                model = QString::fromUtf8((vendor.startsWith("0x") ? QByteArray() : vendor + ' ') + product).trimmed();
        }
    }
    if (!model.isEmpty())
        parts.append(model);
    const QString longName = VolumeInfo::fileSystemLongName(mount.fsType);
    if (!longName.isEmpty())
        parts.append(longName);
    return parts.join(u", "_s);
}

} // namespace

QString VolumeInfo::userName()
{
    QString name = qEnvironmentVariable("USER");
    if (name.isEmpty()) {
        if (const passwd *pw = ::getpwuid(::getuid()))
            name = QString::fromLocal8Bit(pw->pw_name);
    }
    return name;
}

QStringList VolumeInfo::defaultRemovableMediaRoots()
{
    QStringList roots;
    const QString user = userName();
    if (!user.isEmpty())
        roots << u"/media/"_s + user << u"/run/media/"_s + user;
    roots << u"/media"_s;
    if (QFileInfo(u"/Volumes"_s).isDir())
        roots << u"/Volumes"_s;
    return roots;
}

QStringList VolumeInfo::removableMediaRoots()
{
    QMutexLocker locker(&g_lock);
    return g_roots.isEmpty() ? defaultRemovableMediaRoots() : g_roots;
}

void VolumeInfo::setRemovableMediaRoots(const QStringList &roots)
{
    QMutexLocker locker(&g_lock);
    g_roots = roots;
}

bool VolumeInfo::isUnderRemovableMediaRoot(const QString &path, const QStringList &roots)
{
    const QString clean = QDir::cleanPath(path);
    for (const QString &root : roots) {
        const QString r = QDir::cleanPath(root);
        if (clean.size() > r.size() + 1 && clean.startsWith(r) && clean.at(r.size()) == u'/')
            return true;
    }
    return false;
}

QString VolumeInfo::mountTablePath()
{
    QMutexLocker locker(&g_lock);
    return g_mountTablePath.isEmpty() ? MountTable::defaultPath() : g_mountTablePath;
}

void VolumeInfo::setMountTablePath(const QString &path)
{
    QMutexLocker locker(&g_lock);
    g_mountTablePath = path;
}

QString VolumeInfo::fileSystemLongName(const QByteArray &fsType)
{
    static const QHash<QByteArray, QString> names {
        {"vfat", u"MS-DOS (FAT)"_s},
        {"msdos", u"MS-DOS (FAT)"_s},
        {"exfat", u"ExFAT"_s},
        {"fuse.exfat", u"ExFAT"_s},
        {"ntfs", u"Windows NT File System (NTFS)"_s},
        {"ntfs3", u"Windows NT File System (NTFS)"_s},
        {"fuseblk", u"FUSE block device"_s},
        {"hfsplus", u"Mac OS Extended"_s},
        {"apfs", u"Apple File System"_s},
        {"iso9660", u"ISO 9660 (CD/DVD)"_s},
        {"udf", u"Universal Disk Format (UDF)"_s},
        {"ext2", u"Linux ext2"_s},
        {"ext3", u"Linux ext3"_s},
        {"ext4", u"Linux ext4"_s},
        {"btrfs", u"Btrfs"_s},
        {"xfs", u"XFS"_s},
        {"f2fs", u"Flash-Friendly File System (F2FS)"_s},
        {"tmpfs", u"Memory file system (tmpfs)"_s},
        {"nfs", u"Network File System (NFS)"_s},
        {"nfs4", u"Network File System (NFS)"_s},
        {"cifs", u"Windows file sharing (SMB)"_s},
        {"smb3", u"Windows file sharing (SMB)"_s},
    };
    return names.value(fsType);
}

std::optional<bool> VolumeInfo::isRemovableBlockDevice(dev_t device)
{
    const std::optional<SysBlock> sys = sysBlockFor(device);
    if (!sys)
        return std::nullopt;
    const QByteArray flag = readSysFile(sys->disk + u"/removable"_s);
    if (flag.isEmpty())
        return std::nullopt;
    return flag == "1";
}

QVariantMap VolumeInfo::getFileSystemInfoForPath(const QString &path)
{
    QVariantMap info;
    info.insert(cVolumePath, path);
    const QFileInfo fileInfo(path);
    const QString canonical = fileInfo.canonicalFilePath();
    const QString resolved = canonical.isEmpty() ? QDir::cleanPath(fileInfo.absoluteFilePath()) : canonical;

    bool removable = false;
    bool writable = false;
    std::optional<MountTable::Mount> mount;
    if (const std::optional<MountTable> table = MountTable::read(mountTablePath()))
        mount = table->mountFor(QFile::encodeName(resolved));
    if (mount) {
        if (!mount->fsType.isEmpty())
            info.insert(cType, QString::fromUtf8(mount->fsType));
        // Both the mount and the file system underneath must allow writing.
        writable = hasOption(mount->options, "rw") && !hasOption(mount->superOptions, "ro");
        const dev_t device = blockDeviceOf(*mount);
        removable = isRemovableBlockDevice(device).value_or(false);
        if (const QString description = describe(*mount, device); !description.isEmpty())
            info.insert(cDescription, description);
    }
    const QStringList roots = removableMediaRoots();
    // What the desktop mounted for the user, or a removable device anywhere but the system's root.
    const bool unmountable = isUnderRemovableMediaRoot(path, roots) || isUnderRemovableMediaRoot(resolved, roots)
        || (mount && mount->mountPoint != "/" && removable);
    info.insert(cIsRemovable, text(removable));
    info.insert(cIsWritable, text(writable));
    info.insert(cIsUnmountable, text(unmountable));
    return info;
}
