#include "ScopedMount.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <utility>

using namespace Qt::StringLiterals;

bool ScopedMount::run(const QString &program, const QStringList &args, QString *error)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    const bool ended = p.waitForFinished(30000);
    if (ended && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0)
        return true;
    *error = program + u' ' + args.join(u' ') + u": "_s
        + (ended ? QString::fromLocal8Bit(p.readAll()).trimmed() : p.errorString());
    return false;
}

bool ScopedMount::mountingRequired()
{
    return qEnvironmentVariable("CI").compare(u"true"_s, Qt::CaseInsensitive) == 0;
}

ScopedMount::ScopedMount(const QString &folder)
    : m_folder(folder)
{
    QDir().mkpath(folder);
}

bool ScopedMount::makeImage(const QString &image, int sizeMb)
{
    QFile::remove(image);
    QFile f(image);
    if (f.open(QIODevice::WriteOnly) && f.resize(qint64(sizeMb) * 1024 * 1024))
        return true;
    m_reason = u"cannot create the image file "_s + image;
    return false;
}

ScopedMount ScopedMount::tmpfs(const QString &folder, const QString &size)
{
    ScopedMount m(folder);
    m.m_mounted = run(u"mount"_s, {u"-t"_s, u"tmpfs"_s, u"-o"_s, u"size="_s + size, u"tmpfs"_s, folder}, &m.m_reason);
    return m;
}

ScopedMount ScopedMount::bind(const QString &source, const QString &folder)
{
    ScopedMount m(folder);
    m.m_mounted = run(u"mount"_s, {u"--bind"_s, source, folder}, &m.m_reason);
    return m;
}

ScopedMount ScopedMount::readOnlyBind(const QString &folder)
{
    ScopedMount m = bind(folder, folder);
    if (m.m_mounted && !run(u"mount"_s, {u"-o"_s, u"remount,bind,ro"_s, folder}, &m.m_reason))
        m.unmount();
    return m;
}

ScopedMount ScopedMount::loopExt4(const QString &image, const QString &folder, int sizeMb)
{
    ScopedMount m(folder);
    if (!QFileInfo::exists(image)
        && !(m.makeImage(image, sizeMb) && run(u"mkfs.ext4"_s, {u"-q"_s, u"-F"_s, image}, &m.m_reason)))
        return m;
    m.m_mounted = run(u"mount"_s, {u"-o"_s, u"loop"_s, image, folder}, &m.m_reason);
    return m;
}

ScopedMount ScopedMount::fuseImage(FuseKind kind, const QString &image, const QString &folder, int sizeMb,
                                   const QString &label)
{
    ScopedMount m(folder);
    if (!QFileInfo::exists(u"/dev/fuse"_s)) {
        m.m_reason = u"no /dev/fuse"_s;
        return m;
    }
    if (!m.makeImage(image, sizeMb))
        return m;
    if (kind == FuseKind::Fat) {
        if (run(u"mkfs.vfat"_s, {u"-n"_s, label.left(11), image}, &m.m_reason))
            m.m_mounted = run(u"fusefat"_s, {u"-o"_s, u"rw+"_s, image, folder}, &m.m_reason);
        return m;
    }
    if (!run(u"mkfs.exfat"_s, {u"-L"_s, label.left(15), image}, &m.m_reason))
        return m;
    QProcess losetup;
    losetup.start(u"losetup"_s, {u"-f"_s, u"--show"_s, image});
    if (losetup.waitForFinished(30000) && losetup.exitCode() == 0)
        m.m_loopDevice = QString::fromLocal8Bit(losetup.readAllStandardOutput()).trimmed();
    // Without a loop device the driver reads the image file itself.
    m.m_mounted = run(u"mount.exfat-fuse"_s, {m.m_loopDevice.isEmpty() ? image : m.m_loopDevice, folder}, &m.m_reason);
    if (!m.m_mounted)
        m.unmount();
    return m;
}

ScopedMount::ScopedMount(ScopedMount &&other) noexcept
    : m_mounted(std::exchange(other.m_mounted, false))
    , m_folder(std::move(other.m_folder))
    , m_loopDevice(std::exchange(other.m_loopDevice, QString()))
    , m_reason(std::move(other.m_reason))
{ }

ScopedMount &ScopedMount::operator=(ScopedMount &&other) noexcept
{
    if (this != &other) {
        unmount();
        m_mounted = std::exchange(other.m_mounted, false);
        m_folder = std::move(other.m_folder);
        m_loopDevice = std::exchange(other.m_loopDevice, QString());
        m_reason = std::move(other.m_reason);
    }
    return *this;
}

ScopedMount::~ScopedMount()
{
    unmount();
}

bool ScopedMount::unmount()
{
    QString error;
    if (m_mounted && !run(u"umount"_s, {m_folder}, &error))
        run(u"umount"_s, {u"-l"_s, m_folder}, &error);
    if (!m_loopDevice.isEmpty())
        run(u"losetup"_s, {u"-d"_s, std::exchange(m_loopDevice, QString())}, &error);
    m_mounted = false;
    return true;
}
