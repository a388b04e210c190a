#include "MountWatcher.h"

#include "VolumeInfo.h"
#include "support/MountTable.h"
#include "support/SystemLog.h"

#include <QFile>
#include <QFileSystemWatcher>
#include <QSocketNotifier>
#include <cerrno>
#include <fcntl.h>
#include <sys/vfs.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {
constexpr long kProcSuperMagic = 0x9fa0;

bool isProcFile(int fd)
{
    struct statfs info = {};
    return ::fstatfs(fd, &info) == 0 && info.f_type == kProcSuperMagic;
}
} // namespace

MountWatcher::MountWatcher(QObject *parent)
    : MountWatcher(VolumeInfo::mountTablePath(), VolumeInfo::removableMediaRoots(), parent)
{ }

MountWatcher::MountWatcher(const QString &mountTablePath, const QStringList &removableMediaRoots, QObject *parent)
    : QObject(parent)
    , m_path(mountTablePath)
    , m_roots(removableMediaRoots)
{ }

MountWatcher::~MountWatcher()
{
    stop();
}

bool MountWatcher::start()
{
    stop();
    m_fd = ::open(QFile::encodeName(m_path).constData(), O_RDONLY | O_CLOEXEC);
    if (m_fd < 0) {
        logLine(u"MountWatcher -> start.... cannot open "_s + m_path + u": "_s
                + QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    const std::optional<QByteArray> table = readTable();
    if (!table) {
        stop();
        return false;
    }
    m_current = mountsUnderRoots(*table);
    if (isProcFile(m_fd)) {
        // Readable is always set on this file; only the exceptional condition means "changed".
        m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Exception, this);
        connect(m_notifier, &QSocketNotifier::activated, this, &MountWatcher::rescan);
    } else {
        m_fileWatcher = new QFileSystemWatcher({m_path}, this);
        connect(m_fileWatcher, &QFileSystemWatcher::fileChanged, this, [this] {
            // A file replaced by a rename drops out of the watch list.
            if (m_fileWatcher && !m_fileWatcher->files().contains(m_path))
                m_fileWatcher->addPath(m_path);
            rescan();
        });
    }
    return true;
}

void MountWatcher::stop()
{
    delete m_notifier;
    m_notifier = nullptr;
    delete m_fileWatcher;
    m_fileWatcher = nullptr;
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool MountWatcher::isWatching() const
{
    return m_fd >= 0;
}

std::optional<QByteArray> MountWatcher::readTable()
{
    if (m_fd < 0)
        return std::nullopt;
    // The kernel builds the text anew for a read from the start.
    if (::lseek(m_fd, 0, SEEK_SET) != 0) {
        logLine(u"MountWatcher -> readTable.... lseek failed on "_s + m_path);
        return std::nullopt;
    }
    QByteArray text;
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            logLine(u"MountWatcher -> readTable.... read failed on "_s + m_path);
            return std::nullopt;
        }
        if (n == 0)
            break;
        text.append(buffer, n);
    }
    return text;
}

QList<QByteArray> MountWatcher::mountsUnderRoots(const QByteArray &table) const
{
    QList<QByteArray> points;
    const MountTable parsed = MountTable::parse(table);
    for (const MountTable::Mount &m : parsed.mounts()) {
        if (!points.contains(m.mountPoint)
            && VolumeInfo::isUnderRemovableMediaRoot(QFile::decodeName(m.mountPoint), m_roots))
            points.append(m.mountPoint);
    }
    return points;
}

void MountWatcher::rescan()
{
    const std::optional<QByteArray> table = readTable();
    if (!table)
        return;
    const QList<QByteArray> now = mountsUnderRoots(*table);
    const QList<QByteArray> before = std::exchange(m_current, now);
    for (const QByteArray &point : before) {
        if (!now.contains(point))
            Q_EMIT unmounted(QFile::decodeName(point));
    }
    for (const QByteArray &point : now) {
        if (!before.contains(point))
            Q_EMIT mounted(QFile::decodeName(point));
    }
}

QStringList MountWatcher::currentMounts() const
{
    QStringList out;
    for (const QByteArray &point : m_current)
        out.append(QFile::decodeName(point));
    return out;
}
