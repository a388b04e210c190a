#include "VolumeEjector.h"

#include "UDisks2Client.h"
#include "VolumeInfo.h"
#include "support/FileResult.h"
#include "support/MountTable.h"
#include "support/SystemLog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QProcess>
#include <cerrno>
#include <sys/mount.h>

using namespace Qt::StringLiterals;

namespace {

QMutex g_lock;
VolumeEjector::Handler g_handler;

VolumeEjector::Result refuse(const QString &message)
{
    VolumeEjector::Result r;
    r.message = message;
    return r;
}

VolumeEjector::Result unmountDirectly(const QString &mountPoint, const QString &before)
{
    VolumeEjector::Result r;
    r.method = u"umount2"_s;
    if (::umount2(QFile::encodeName(mountPoint).constData(), 0) == 0) {
        r.unmounted = true;
        r.message = before + u"unmounted (no power-off without UDisks2)"_s;
        return r;
    }
    const int error = errno;
    const QString direct = u"umount2: "_s + FileResult::describeErrno(error);
    if (error != EPERM) {
        r.message = before + direct;
        return r;
    }
    // An unprivileged user may still unmount a "user" mount through the set-user-ID tool.
    r.method = u"umount"_s;
    QProcess umount;
    umount.setProcessChannelMode(QProcess::MergedChannels);
    umount.start(u"umount"_s, {mountPoint});
    if (!umount.waitForFinished(60000)) {
        umount.kill();
        umount.waitForFinished(1000);
        r.message = before + direct + u"; umount: "_s + umount.errorString();
        return r;
    }
    r.unmounted = umount.exitStatus() == QProcess::NormalExit && umount.exitCode() == 0;
    r.message = before
        + (r.unmounted ? u"unmounted by umount"_s
                       : direct + u"; umount: "_s + QString::fromLocal8Bit(umount.readAll()).trimmed());
    return r;
}

VolumeEjector::Result eject(const QString &path, const QDBusConnection &bus)
{
    if (path.isEmpty())
        return refuse(u"no path"_s);
    const QString clean = QDir::cleanPath(path);
    const std::optional<MountTable> table = MountTable::read(VolumeInfo::mountTablePath());
    if (!table)
        return refuse(u"the mount table cannot be read"_s);
    std::optional<MountTable::Mount> mount = table->mountAt(QFile::encodeName(clean));
    if (!mount) {
        const QString canonical = QFileInfo(clean).canonicalFilePath();
        if (!canonical.isEmpty())
            mount = table->mountAt(QFile::encodeName(canonical));
    }
    if (!mount)
        return refuse(u"not a mount point; nothing to eject"_s);
    const QString mountPoint = QFile::decodeName(mount->mountPoint);
    if (VolumeInfo::getFileSystemInfoForPath(mountPoint).value(VolumeInfo::cIsUnmountable) != u"true"_s)
        return refuse(u"refused: "_s + mountPoint + u" is not a volume the user may unmount"_s);

    QString before;
    UDisks2Client udisks(bus);
    QString error;
    if (udisks.load(&error)) {
        if (const std::optional<UDisks2Client::Block> block = udisks.blockMountedAt(mount->mountPoint)) {
            VolumeEjector::Result r;
            r.method = u"udisks2"_s;
            if (udisks.unmount(block->objectPath, &error)) {
                r.unmounted = true;
                r.message = u"unmounted by UDisks2"_s;
                const std::optional<UDisks2Client::Drive> drive = udisks.drive(block->drivePath);
                if (drive && drive->canPowerOff) {
                    r.poweredOff = udisks.powerOff(drive->objectPath, &error);
                    r.message += r.poweredOff ? u", powered off"_s : u", power-off failed: "_s + error;
                } else {
                    r.message += u", the drive cannot be powered off"_s;
                }
                return r;
            }
            before = u"UDisks2 could not unmount ("_s + error + u"); "_s;
        } else {
            before = u"UDisks2 does not know the mount; "_s;
        }
    } else {
        before = u"UDisks2 unavailable ("_s + error + u"); "_s;
    }
    return unmountDirectly(mountPoint, before);
}

} // namespace

VolumeEjector::Result VolumeEjector::unmountAndEjectDeviceAtPath(const QString &path)
{
    Handler handler;
    {
        QMutexLocker locker(&g_lock);
        handler = g_handler;
    }
    if (handler) {
        const Result r = handler(path);
        logLine(u"VolumeEjector -> unmountAndEjectDeviceAtPath.... "_s + path + u": "_s + r.message);
        return r;
    }
    return unmountAndEjectDeviceAtPath(path, QDBusConnection::systemBus());
}

VolumeEjector::Result VolumeEjector::unmountAndEjectDeviceAtPath(const QString &path, const QDBusConnection &bus)
{
    const Result r = eject(path, bus);
    logLine(u"VolumeEjector -> unmountAndEjectDeviceAtPath.... "_s + path + u": "_s + r.message);
    return r;
}

void VolumeEjector::setHandlerForTesting(Handler handler)
{
    QMutexLocker locker(&g_lock);
    g_handler = std::move(handler);
}
