#include "MyAliasKit.h"

#include "SettingsStore.h"
#include "support/MountTable.h"
#include "support/NativePath.h"
#include "support/SystemLog.h"

#include <QDataStream>
#include <QFile>
#include <QHash>
#include <QIODevice>
#include <algorithm>
#include <blkid/blkid.h>
#include <cstdlib>
#include <deque>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <utility>

using namespace Qt::StringLiterals;

namespace {

constexpr quint32 cMagic = 0x4C414B52; // "LAKR"
constexpr quint16 cVersion = 1;

// Why a reference did not resolve, as logged.
enum class Status : int
{
    NoMountTable = 0x01,
    VolumeNotMounted = 0x02,
    NotFound = 0x03,
    SearchLimitReached = 0x04,
};

QString statusText(Status status)
{
    return u"(status 0x"_s + QString::number(int(status), 16).rightJustified(2, u'0') + u')';
}

QString pathText(const QByteArray &bytes)
{
    return NativePath::decode(bytes);
}

std::optional<QByteArray> canonicalPath(const QByteArray &path)
{
    char *real = ::realpath(path.constData(), nullptr);
    if (!real)
        return std::nullopt;
    QByteArray result(real);
    std::free(real);
    return result;
}

QByteArray joinPath(const QByteArray &mountPoint, const QByteArray &relative)
{
    if (relative.isEmpty())
        return mountPoint;
    if (mountPoint.endsWith('/'))
        return mountPoint + relative;
    return mountPoint + '/' + relative;
}

QByteArray relativeTo(const QByteArray &mountPoint, const QByteArray &path)
{
    if (path.size() <= mountPoint.size())
        return {};
    return path.mid(mountPoint == "/" ? 1 : mountPoint.size() + 1);
}

QByteArray probeUuid(const QByteArray &source)
{
    struct stat st
    {
    };
    if (!source.startsWith('/') || ::stat(source.constData(), &st) != 0 || !S_ISBLK(st.st_mode))
        return {};
    QByteArray uuid;
    if (blkid_probe probe = blkid_new_probe_from_filename(source.constData())) {
        const char *value = nullptr;
        size_t length = 0;
        if (blkid_do_safeprobe(probe) == 0 && blkid_probe_lookup_value(probe, "UUID", &value, &length) == 0 && value)
            uuid = QByteArray(value);
        blkid_free_probe(probe);
    } else if (char *cached = blkid_get_tag_value(nullptr, "UUID", source.constData())) {
        // Without read access to the device (an ordinary user) the system's blkid cache may still know it.
        uuid = QByteArray(cached);
        std::free(cached);
    }
    return uuid;
}

// Probing opens the device and reads its superblock, so each device is probed
// at most once per operation.
class UuidCache
{
public:
    QByteArray of(const MountTable::Mount &mount)
    {
        auto it = m_bySource.constFind(mount.source);
        if (it == m_bySource.constEnd())
            it = m_bySource.insert(mount.source, probeUuid(mount.source));
        return *it;
    }

private:
    QHash<QByteArray, QByteArray> m_bySource;
};

// Inode numbers are handed out again once freed: the birth time tells a new
// object under a reused number from the one referenced.
qint64 birthTimeOf(const QByteArray &path)
{
    struct statx info = {};
    if (::statx(AT_FDCWD, path.constData(), AT_SYMLINK_NOFOLLOW, STATX_BTIME, &info) != 0
        || (info.stx_mask & STATX_BTIME) == 0)
        return 0;
    return qint64(info.stx_btime.tv_sec) * 1000000000 + info.stx_btime.tv_nsec;
}

std::optional<MyAliasKit::AliasRecord> makeRecord(const QByteArray &path, const MountTable &table, UuidCache &uuids)
{
    const std::optional<QByteArray> canonical = canonicalPath(path);
    struct stat st
    {
    };
    if (!canonical || ::stat(canonical->constData(), &st) != 0)
        return std::nullopt;
    const std::optional<MountTable::Mount> mount = table.mountFor(*canonical);
    if (!mount)
        return std::nullopt;
    MyAliasKit::AliasRecord record;
    record.volumeUuid = uuids.of(*mount);
    record.device = quint64(st.st_dev);
    record.mountPoint = mount->mountPoint;
    record.fsType = mount->fsType;
    record.inode = quint64(st.st_ino);
    record.birthTime = birthTimeOf(*canonical);
    // Relative to the mount point as seen now, not to the file system's root: for a
    // bind mount of a sub-folder the two differ, and the inode search covers that case.
    record.relativePath = relativeTo(mount->mountPoint, *canonical);
    record.lastPath = *canonical;
    record.isDirectory = S_ISDIR(st.st_mode);
    return record;
}

QByteArray encode(const MyAliasKit::AliasRecord &r)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_0);
    out << cMagic << cVersion << r.volumeUuid << r.device << r.mountPoint << r.fsType << r.inode << r.birthTime
        << r.relativePath << r.lastPath << r.isDirectory;
    return bytes;
}

std::optional<MyAliasKit::AliasRecord> decode(const QByteArray &bytes, QString *failedStep)
{
    QDataStream in(bytes);
    in.setVersion(QDataStream::Qt_6_0);
    quint32 magic = 0;
    quint16 version = 0;
    in >> magic;
    if (in.status() != QDataStream::Ok || magic != cMagic) {
        *failedStep = u"reading the header"_s;
        return std::nullopt;
    }
    in >> version;
    if (in.status() != QDataStream::Ok || version != cVersion) {
        *failedStep = u"checking the version"_s;
        return std::nullopt;
    }
    MyAliasKit::AliasRecord r;
    in >> r.volumeUuid >> r.device >> r.mountPoint >> r.fsType >> r.inode >> r.birthTime >> r.relativePath >> r.lastPath
        >> r.isDirectory;
    if (in.status() != QDataStream::Ok || !in.atEnd()) {
        *failedStep = u"reading the fields"_s;
        return std::nullopt;
    }
    // The system reads a path only up to a NUL: "/\0photos" would name the root folder.
    const bool holdsNul = r.lastPath.contains('\0') || r.mountPoint.contains('\0') || r.relativePath.contains('\0');
    if (holdsNul || !r.lastPath.startsWith('/') || !r.mountPoint.startsWith('/') || r.relativePath.startsWith('/')) {
        *failedStep = u"checking the paths"_s;
        return std::nullopt;
    }
    return r;
}

class Resolver
{
public:
    Resolver(const MyAliasKit::AliasRecord &record, const MountTable &table)
        : m_record(record)
        , m_table(table)
    { }

    UuidCache &uuids() { return m_uuids; }

    bool isTarget(const QByteArray &path, const struct stat &st)
    {
        if (quint64(st.st_ino) != m_record.inode || !isSameKind(st) || !isOnVolume(path, st))
            return false;
        const qint64 born = m_record.birthTime != 0 ? birthTimeOf(path) : 0;
        return born == 0 || born == m_record.birthTime;
    }

    bool isSameKind(const struct stat &st) const { return S_ISDIR(st.st_mode) == m_record.isDirectory; }

    // Device numbers are handed out again to other volumes after an unmount, so
    // where the volume has a UUID only the UUID says it is the same one.
    bool isOnVolume(const QByteArray &path, const struct stat &st)
    {
        if (m_record.volumeUuid.isEmpty())
            return quint64(st.st_dev) == m_record.device;
        const std::optional<QByteArray> canonical = canonicalPath(path);
        const std::optional<MountTable::Mount> mount = canonical ? m_table.mountFor(*canonical) : std::nullopt;
        return mount && m_uuids.of(*mount) == m_record.volumeUuid;
    }

    // The visible mounts of the volume: the one at the old mount point first, then
    // whole-file-system mounts before bind mounts of a part of it.
    QList<MountTable::Mount> volumeMounts()
    {
        QList<MountTable::Mount> found;
        for (const MountTable::Mount &m : m_table.mounts()) {
            const bool matches = m_record.volumeUuid.isEmpty() ? quint64(m.device) == m_record.device
                                                               : m_uuids.of(m) == m_record.volumeUuid;
            const std::optional<MountTable::Mount> visible = m_table.mountFor(m.mountPoint);
            if (matches && visible && visible->id == m.id)
                found.append(m);
        }
        const auto rank = [this](const MountTable::Mount &m) {
            return (m.mountPoint == m_record.mountPoint ? 0 : 2) + (m.root == "/" ? 0 : 1);
        };
        std::stable_sort(found.begin(), found.end(),
                         [&rank](const MountTable::Mount &a, const MountTable::Mount &b) { return rank(a) < rank(b); });
        return found;
    }

    // Breadth-first from the old parent folder outwards to the mount point, so a
    // folder renamed or moved nearby is found before the whole volume is walked.
    std::optional<QByteArray> search(const QByteArray &mountPoint)
    {
        struct stat rootSt
        {
        };
        if (::lstat(mountPoint.constData(), &rootSt) != 0 || !S_ISDIR(rootSt.st_mode))
            return std::nullopt;
        QList<QByteArray> components = m_record.relativePath.split('/');
        components.removeAll(QByteArray());
        if (!components.isEmpty())
            components.removeLast();
        ino_t searched = 0;
        // The depth bound counts from where each search starts, not from the mount
        // point: a working folder many levels down its volume is followed as well.
        for (qsizetype depth = components.size(); depth >= 0 && !searchWasCut(); --depth) {
            const QByteArray start = joinPath(mountPoint, components.mid(0, depth).join('/'));
            struct stat st
            {
            };
            if (::lstat(start.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_dev != rootSt.st_dev)
                continue;
            if (std::optional<QByteArray> found = searchBelow(start, rootSt.st_dev, searched))
                return found;
            searched = st.st_ino;
        }
        return std::nullopt;
    }

    bool searchWasCut() const { return m_entriesLeft < 0; }

private:
    std::optional<QByteArray> searchBelow(const QByteArray &start, dev_t device, ino_t skipped)
    {
        std::deque<std::pair<QByteArray, int>> queue {{start, 0}};
        while (!queue.empty()) {
            const auto [folder, depth] = queue.front();
            queue.pop_front();
            DIR *dir = ::opendir(folder.constData());
            if (!dir)
                continue;
            std::optional<QByteArray> found;
            while (const dirent *entry = ::readdir(dir)) {
                const QByteArray name(entry->d_name);
                if (name == "." || name == "..")
                    continue;
                if (--m_entriesLeft < 0)
                    break;
                const QByteArray child = joinPath(folder, name);
                struct stat st
                {
                };
                // Only folders are stat'ed: for other entries the inode from the
                // folder listing is enough to rule them out.
                const bool maybeFolder = entry->d_type == DT_DIR || entry->d_type == DT_UNKNOWN;
                if (!maybeFolder && quint64(entry->d_ino) != m_record.inode)
                    continue;
                if (::lstat(child.constData(), &st) != 0)
                    continue;
                if (isTarget(child, st)) {
                    found = child;
                    break;
                }
                if (S_ISDIR(st.st_mode) && st.st_dev == device && st.st_ino != skipped
                    && depth + 1 < MyAliasKit::cSearchMaxDepth)
                    queue.emplace_back(child, depth + 1);
            }
            ::closedir(dir);
            if (found || m_entriesLeft < 0)
                return found;
        }
        return std::nullopt;
    }

    const MyAliasKit::AliasRecord &m_record;
    const MountTable &m_table;
    UuidCache m_uuids;
    int m_entriesLeft = MyAliasKit::cSearchMaxEntries;
};

std::optional<QByteArray> locate(const MyAliasKit::AliasRecord &record, Resolver &resolver, Status *status)
{
    struct stat st
    {
    };
    if (::stat(record.lastPath.constData(), &st) == 0 && resolver.isTarget(record.lastPath, st))
        return record.lastPath;

    const QList<MountTable::Mount> mounts = resolver.volumeMounts();
    if (mounts.isEmpty()) {
        *status = Status::VolumeNotMounted;
        return std::nullopt;
    }
    for (const MountTable::Mount &m : mounts) {
        const QByteArray candidate = joinPath(m.mountPoint, record.relativePath);
        if (::stat(candidate.constData(), &st) == 0 && resolver.isTarget(candidate, st))
            return candidate;
    }
    for (const MountTable::Mount &m : mounts) {
        if (std::optional<QByteArray> found = resolver.search(m.mountPoint))
            return found;
        if (resolver.searchWasCut())
            break;
    }
    // A folder deleted and made again under the same name has a new inode, and
    // file systems without stable inodes (FAT, exFAT) give new ones on every mount.
    for (const MountTable::Mount &m : mounts) {
        const QByteArray candidate = joinPath(m.mountPoint, record.relativePath);
        if (::stat(candidate.constData(), &st) == 0 && resolver.isSameKind(st) && resolver.isOnVolume(candidate, st))
            return candidate;
    }
    *status = resolver.searchWasCut() ? Status::SearchLimitReached : Status::NotFound;
    return std::nullopt;
}

} // namespace

std::optional<QByteArray> MyAliasKit::aliasDataForPath(const QString &path)
{
    if (path.isEmpty())
        return std::nullopt;
    const NativePath native(path);
    struct stat st
    {
    };
    if (::stat(native.c_str(), &st) != 0)
        return std::nullopt;
    const std::optional<MountTable> table = MountTable::read();
    if (!table) {
        logLine(u"MyAliasKit -> aliasDataForPath:.... cannot read the mount table for "_s + path);
        return std::nullopt;
    }
    UuidCache uuids;
    const std::optional<AliasRecord> record = makeRecord(native.bytes(), *table, uuids);
    if (!record) {
        logLine(u"MyAliasKit -> aliasDataForPath:.... cannot find the volume of "_s + path);
        return std::nullopt;
    }
    return aliasDataForAliasHandle(&*record);
}

std::optional<QByteArray> MyAliasKit::aliasDataForAliasHandle(const AliasRecord *record)
{
    if (!record)
        return std::nullopt;
    return encode(*record);
}

bool MyAliasKit::resolveAliasFromData(const QByteArray &data, QString *resolvedPath, QByteArray *changedData)
{
    if (data.isEmpty())
        return false;
    QString failedStep;
    const std::optional<AliasRecord> record = decode(data, &failedStep);
    if (!record) {
        logLine(u"MyAliasKit -> resolveAliasFromData:.... the reference is damaged: failed at "_s + failedStep);
        return false;
    }
    const std::optional<MountTable> table = MountTable::read();
    const MountTable mounts = table.value_or(MountTable());
    Resolver resolver(*record, mounts);
    Status status = Status::NotFound;
    const std::optional<QByteArray> found = locate(*record, resolver, &status);
    if (!found) {
        if (!table)
            status = Status::NoMountTable;
        logLine(u"MyAliasKit -> resolveAliasFromData:.... cannot find "_s + pathText(record->lastPath) + u' '
                + statusText(status));
        return false;
    }
    if (changedData) {
        changedData->clear();
        if (const std::optional<AliasRecord> updated = makeRecord(*found, mounts, resolver.uuids())) {
            const QByteArray bytes = encode(*updated);
            if (bytes != data)
                *changedData = bytes;
        }
    }
    if (resolvedPath)
        *resolvedPath = pathText(*found);
    return true;
}

bool MyAliasKit::resolveAliasFromData(const QByteArray &data, QString *resolvedPath)
{
    return resolveAliasFromData(data, resolvedPath, nullptr);
}

void MyAliasKit::savePath(const QString &path, const QString &key)
{
    logLine(u"MyAliasKit -> savePath:forKey:.... "_s + path + u" for key "_s + key);
    const std::optional<QByteArray> data = aliasDataForPath(path);
    if (!data) {
        logLine(u"MyAliasKit -> savePath:forKey:.... aliasDataForPath: returned nothing for "_s + path + u"; the key "_s
                + key + u" keeps its value"_s);
        return;
    }
    SettingsStore::standard().setObject(QVariant(*data), key);
}
