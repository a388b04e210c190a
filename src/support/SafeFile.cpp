#include "SafeFile.h"

#include <QRandomGenerator>
#include <QSet>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>
#include <utility>
#include <xxhash.h>

using namespace Qt::StringLiterals;

namespace {

// Large enough that the system call overhead vanishes next to the disk, small
// enough that a progress bar moves and a cancel is heard promptly.
constexpr qsizetype kChunkSize = qsizetype(1) << 20;

bool isUnsupported(int error)
{
#if EOPNOTSUPP != ENOTSUP
    if (error == EOPNOTSUPP)
        return true;
#endif
    return error == EINVAL || error == ENOTSUP || error == ENOSYS;
}

class Fd
{
public:
    explicit Fd(int fd = -1)
        : m_fd(fd)
    { }
    ~Fd() { close(); }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    void reset(int fd)
    {
        close();
        m_fd = fd;
    }
    // close()'s own answer matters: NFS and others report a deferred write error only there.
    // EINTR is no failure on Linux: the descriptor is gone and the data was synced before.
    int close()
    {
        const int fd = std::exchange(m_fd, -1);
        if (fd < 0 || ::close(fd) == 0 || errno == EINTR)
            return 0;
        return -1;
    }

private:
    int m_fd;
};

using HashState = std::unique_ptr<XXH3_state_t, decltype(&XXH3_freeState)>;

HashState newHashState()
{
    HashState state(XXH3_createState(), &XXH3_freeState);
    if (state)
        XXH3_64bits_reset(state.get());
    return state;
}

ssize_t readSome(int fd, char *buffer, std::size_t size)
{
    for (;;) {
        const ssize_t n = ::read(fd, buffer, size);
        if (n >= 0 || errno != EINTR)
            return n;
    }
}

// Returns 0 or the errno of the failed read.
int hashDescriptor(int fd, std::uint64_t &hash, std::int64_t &size)
{
    HashState state = newHashState();
    if (!state)
        return ENOMEM;
    QByteArray buffer(kChunkSize, Qt::Uninitialized);
    size = 0;
    for (;;) {
        const ssize_t n = readSome(fd, buffer.data(), std::size_t(buffer.size()));
        if (n < 0)
            return errno;
        if (n == 0)
            break;
        XXH3_64bits_update(state.get(), buffer.constData(), std::size_t(n));
        size += n;
    }
    hash = XXH3_64bits_digest(state.get());
    return 0;
}

// Only clean pages can be dropped, so the data must be on disk first; what is
// read afterwards then comes from the device, not from what we just wrote.
void dropCachedPages(int fd)
{
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
}

FileResult renameFailure(const NativePath &from, const NativePath &to, int error)
{
    return FileResult::failure(u"rename"_s, from, u"to "_s + to.displayString(), error);
}

FileResult syncFoldersOf(const NativePath &from, const NativePath &to)
{
    const NativePath toFolder = to.parent();
    if (FileResult r = SafeFile::syncFolder(toFolder); !r)
        return r;
    const NativePath fromFolder = from.parent();
    return fromFolder == toFolder ? FileResult::success() : SafeFile::syncFolder(fromFolder);
}

FileResult renameReplacing(const NativePath &from, const NativePath &to, bool syncFolders = true)
{
    if (::rename(from.c_str(), to.c_str()) != 0)
        return renameFailure(from, to, errno);
    return syncFolders ? syncFoldersOf(from, to) : FileResult::success();
}

// ".lumisort-<host>-": the host keeps a shared destination's temporaries of other
// stations (whose process ids mean nothing here) apart from this one's.
QByteArray temporaryPrefix()
{
    static const QByteArray prefix = []() -> QByteArray {
        char host[256] = {};
        QByteArray name;
        if (::gethostname(host, sizeof host - 1) == 0) {
            for (const char *c = host; *c && name.size() < 32; ++c)
                name += (std::isalnum(static_cast<unsigned char>(*c)) || *c == '.') ? *c : '_';
        }
        return ".lumisort-" + (name.isEmpty() ? QByteArray("host") : name) + '-';
    }();
    return prefix;
}

QByteArray ownFileName(const QByteArray &suffix)
{
    return temporaryPrefix() + QByteArray::number(::getpid()) + '-'
        + QByteArray::number(QRandomGenerator::global()->generate64(), 36) + suffix;
}

// ".lumisort-<host>-<pid>-<random><suffix>" made by a process of this machine that is gone.
bool isLeftByGoneProcess(const QByteArray &name, const QByteArray &suffix)
{
    if (!name.startsWith(temporaryPrefix()) || !name.endsWith(suffix))
        return false;
    const QList<QByteArray> rest = name.mid(temporaryPrefix().size()).chopped(suffix.size()).split('-');
    bool isNumber = false;
    const qint64 pid = rest.value(0).toLongLong(&isNumber);
    if (rest.size() != 2 || !isNumber || pid <= 0 || pid == ::getpid())
        return false;
    // A process id taken again by another process keeps the file until a later run: the safe side.
    return ::kill(pid_t(pid), 0) != 0 && errno == ESRCH;
}

const QByteArray cClaimSuffix = QByteArrayLiteral(".claim");
constexpr qsizetype cLongestClaimRecord = 1024;
// How much later than its record a claim may carry as its time when the record
// could not name it yet: the two are made one right after the other.
constexpr time_t cClaimRecordSlackSeconds = 2;

// A claim (see renameOverClaim) with the record that lets a later run take it
// back after a kill: a hidden file in the same folder, written before the claim
// is made and only while the name is free, holding the claimed name (hex, as a
// name may hold any byte but '/') and, once made, the claim's identity.
class ClaimRecord
{
public:
    ~ClaimRecord() { discard(); }

    // False with errno when no record can be written.
    bool create(const NativePath &target)
    {
        const NativePath folder = target.parent();
        for (int attempt = 0; attempt < 32; ++attempt) {
            const NativePath path = folder.child(ownFileName(cClaimSuffix));
            m_fd.reset(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
            if (m_fd.valid()) {
                m_path = path;
                if (SafeFile::writeAll(m_fd.get(), target.fileNameBytes().toHex() + '\n'))
                    return true;
                const int error = errno;
                discard();
                errno = error;
                return false;
            }
            if (errno != EEXIST)
                return false;
        }
        return false;
    }

    // Lets a later run match the claim exactly. Without it the record still
    // serves, by the claim's time, so a failure here stops nothing.
    void noteClaim(const struct stat &claim)
    {
        if (!m_fd.valid())
            return;
        const QByteArray identity = QByteArray::number(quint64(claim.st_dev)) + ' '
            + QByteArray::number(quint64(claim.st_ino)) + ' ' + QByteArray::number(qint64(claim.st_mtim.tv_sec)) + ' '
            + QByteArray::number(qint64(claim.st_mtim.tv_nsec)) + '\n';
        SafeFile::writeAll(m_fd.get(), identity);
        m_fd.close();
    }

    void discard()
    {
        m_fd.close();
        if (!m_path.isEmpty())
            ::unlink(std::exchange(m_path, {}).c_str());
    }

private:
    Fd m_fd;
    NativePath m_path;
};

struct ClaimRecordContents
{
    QByteArray name;
    std::optional<struct stat> claim; // st_dev, st_ino and st_mtim only
};

std::optional<ClaimRecordContents> readClaimRecord(const NativePath &path, struct stat &recordInfo)
{
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
    if (!fd.valid() || ::fstat(fd.get(), &recordInfo) != 0 || !S_ISREG(recordInfo.st_mode))
        return std::nullopt;
    QByteArray bytes(cLongestClaimRecord, Qt::Uninitialized);
    const ssize_t n = readSome(fd.get(), bytes.data(), std::size_t(bytes.size()));
    if (n <= 0)
        return std::nullopt;
    bytes.truncate(n);
    const QList<QByteArray> lines = bytes.split('\n');
    ClaimRecordContents contents;
    contents.name = QByteArray::fromHex(lines.value(0));
    // Only a complete line counts; a record cut short by a kill names nothing.
    if (lines.size() < 2 || contents.name.isEmpty() || contents.name.toHex() != lines.value(0)
        || contents.name.contains('/') || contents.name == "." || contents.name == "..")
        return std::nullopt;
    const QList<QByteArray> fields = lines.value(1).split(' ');
    if (lines.size() >= 3 && fields.size() == 4) {
        bool ok[4] = {};
        struct stat claim = {};
        claim.st_dev = dev_t(fields[0].toULongLong(&ok[0]));
        claim.st_ino = ino_t(fields[1].toULongLong(&ok[1]));
        claim.st_mtim.tv_sec = time_t(fields[2].toLongLong(&ok[2]));
        claim.st_mtim.tv_nsec = long(fields[3].toLongLong(&ok[3]));
        if (ok[0] && ok[1] && ok[2] && ok[3])
            contents.claim = claim;
    }
    return contents;
}

// FUSE file systems number their files themselves, afresh after a remount and
// whenever the kernel forgot a file: there a claim is known by its name, its
// emptiness and its time alone (a second, on exFAT).
bool hasLastingInodeNumbers(const NativePath &folder)
{
    constexpr decltype(statfs::f_type) fuseSuperMagic = 0x65735546;
    struct statfs info = {};
    return ::statfs(folder.c_str(), &info) != 0 || info.f_type != fuseSuperMagic;
}

// Whether the file now at the record's name is still the empty claim the record made.
bool isRecordedClaim(const struct stat &file, const ClaimRecordContents &record, const struct stat &recordInfo,
                     bool lastingInodes)
{
    if (!S_ISREG(file.st_mode) || file.st_size != 0)
        return false;
    if (record.claim) {
        const bool sameTime = file.st_mtim.tv_sec == record.claim->st_mtim.tv_sec
            && file.st_mtim.tv_nsec == record.claim->st_mtim.tv_nsec;
        // Not the device: a network share's number changes with every mount.
        return sameTime && (!lastingInodes || file.st_ino == record.claim->st_ino);
    }
    // Killed before the claim was noted: the name was free when the record was
    // written, so a file made there since, at once, empty, can only be the claim.
    // An older file is someone else's.
    return file.st_mtim.tv_sec >= recordInfo.st_mtim.tv_sec
        && file.st_mtim.tv_sec <= recordInfo.st_mtim.tv_sec + cClaimRecordSlackSeconds;
}

// For file systems with neither RENAME_NOREPLACE nor hard links (exFAT and FAT
// through FUSE, NFS, SMB): the target name is claimed with an exclusive create,
// which every one of them refuses for an existing name, and only our own empty
// claim is then renamed over. Another program's file never loses its name.
FileResult renameOverClaim(const NativePath &from, const NativePath &to)
{
    struct stat source = {};
    if (::lstat(from.c_str(), &source) != 0)
        return renameFailure(from, to, errno);
    // The record may only be written while the name is free (see isRecordedClaim).
    struct stat existing = {};
    if (::lstat(to.c_str(), &existing) == 0)
        return renameFailure(from, to, EEXIST);
    if (errno != ENOENT)
        return renameFailure(from, to, errno);
    ClaimRecord record;
    // A full disk may have room for a name but not for the record: the rename
    // still never replaces anything, only a kill would leave its claim unrecorded.
    if (!record.create(to) && errno != ENOSPC && errno != EDQUOT)
        return FileResult::failure(u"create"_s, to.parent(), u"no record of the claim on "_s + to.displayString(),
                                   errno);
    Fd claim(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!claim.valid())
        return renameFailure(from, to, errno);
    struct stat claimed = {};
    const bool known = ::fstat(claim.get(), &claimed) == 0;
    claim.close();
    if (known)
        record.noteClaim(claimed);
    // On a file system that ignores case the claim may be the source itself.
    if (known && claimed.st_dev == source.st_dev && claimed.st_ino == source.st_ino)
        return renameFailure(from, to, EEXIST);
    if (::rename(from.c_str(), to.c_str()) != 0) {
        const int error = errno;
        // Take back only the claim, and only while it is still the empty file we made.
        struct stat now = {};
        if (known && ::lstat(to.c_str(), &now) == 0 && now.st_ino == claimed.st_ino && now.st_dev == claimed.st_dev
            && now.st_size == 0)
            ::unlink(to.c_str());
        return renameFailure(from, to, error);
    }
    return FileResult::success();
}

// For file systems without RENAME_NOREPLACE: link() refuses an existing name
// just as reliably. Where there are no hard links either, the name is claimed first.
FileResult renameByLink(const NativePath &from, const NativePath &to)
{
    if (::link(from.c_str(), to.c_str()) != 0) {
        const int error = errno;
        if (error == EPERM || isUnsupported(error))
            return renameOverClaim(from, to);
        return renameFailure(from, to, error);
    }
    if (::unlink(from.c_str()) != 0) {
        const int error = errno;
        ::unlink(to.c_str());
        return FileResult::failure(u"remove"_s, from, error);
    }
    return FileResult::success();
}

// The hidden temporary copy in the target folder; removed unless it was put in place.
class TemporaryFile
{
public:
    ~TemporaryFile()
    {
        m_fd.close();
        if (!m_path.isEmpty())
            ::unlink(m_path.c_str());
    }

    FileResult create(const NativePath &folder)
    {
        for (int attempt = 0; attempt < 32; ++attempt) {
            const NativePath path = folder.child(ownFileName(".part"));
            m_fd.reset(::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
            if (m_fd.valid()) {
                m_path = path;
                return {};
            }
            if (errno != EEXIST)
                return FileResult::failure(u"create"_s, path, errno);
        }
        return FileResult::failure(u"create"_s, folder, u"no free temporary name"_s, EEXIST);
    }

    int fd() const { return m_fd.get(); }
    const NativePath &path() const { return m_path; }
    int close() { return m_fd.close(); }
    void keep() { m_path = {}; }

private:
    Fd m_fd;
    NativePath m_path;
};

// 0666 less the process's umask, read without changing it (umask(2) would, for every thread).
mode_t ordinaryFileMode()
{
    static const mode_t mode = [] {
        mode_t mask = 022;
        if (FILE *status = std::fopen("/proc/self/status", "re")) {
            char line[256];
            while (std::fgets(line, sizeof line, status)) {
                unsigned value = 0;
                if (std::sscanf(line, "Umask: %o", &value) == 1) {
                    mask = mode_t(value);
                    break;
                }
            }
            std::fclose(status);
        }
        return mode_t(0666 & ~mask);
    }();
    return mode;
}

bool sameTime(const timespec &a, const timespec &b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

bool unchanged(const struct stat &before, const struct stat &now)
{
    return before.st_dev == now.st_dev && before.st_ino == now.st_ino && before.st_size == now.st_size
        && sameTime(before.st_mtim, now.st_mtim);
}

FileResult copyThroughTemporary(const NativePath &from, const NativePath &to, const SafeFileCopyOptions &options,
                                SafeFileCopyReport *report, bool removeSource)
{
    Fd source(::open(from.c_str(), O_RDONLY | O_CLOEXEC | (removeSource ? O_NOFOLLOW : 0)));
    if (!source.valid())
        return FileResult::failure(u"open"_s, from, errno);
    struct stat sourceInfo = {};
    if (::fstat(source.get(), &sourceInfo) != 0)
        return FileResult::failure(u"stat"_s, from, errno);
    if (!S_ISREG(sourceInfo.st_mode))
        return FileResult::failure(u"copy"_s, from, u"not a regular file"_s,
                                   S_ISDIR(sourceInfo.st_mode) ? EISDIR : EINVAL);

    // Only a shortcut that spares a useless copy; the final rename is what really refuses.
    struct stat existing = {};
    if (options.replace == SafeFileReplace::Never && ::lstat(to.c_str(), &existing) == 0)
        return FileResult::failure(u"copy"_s, to, EEXIST);
    const NativePath folder = to.parent();
    struct stat folderInfo = {};
    if (::stat(folder.c_str(), &folderInfo) != 0)
        return FileResult::failure(u"open folder"_s, folder, errno);

    TemporaryFile temporary;
    if (FileResult r = temporary.create(folder); !r)
        return r;
    HashState state = newHashState();
    if (!state)
        return FileResult::failure(u"copy"_s, from, ENOMEM);

    QByteArray buffer(kChunkSize, Qt::Uninitialized);
    const std::int64_t total = sourceInfo.st_size;
    std::int64_t done = 0;
    for (;;) {
        const ssize_t n = readSome(source.get(), buffer.data(), std::size_t(buffer.size()));
        if (n < 0)
            return FileResult::failure(u"read"_s, from, errno);
        if (n == 0)
            break;
        XXH3_64bits_update(state.get(), buffer.constData(), std::size_t(n));
        if (!SafeFile::writeAll(temporary.fd(), buffer.constData(), std::size_t(n)))
            return FileResult::failure(u"write"_s, to, errno);
        done += n;
        if (options.progress && !options.progress(done, total))
            return FileResult::failure(u"copy"_s, from, ECANCELED);
    }
    const std::uint64_t sourceHash = XXH3_64bits_digest(state.get());

    struct stat afterwards = {};
    if (::fstat(source.get(), &afterwards) != 0)
        return FileResult::failure(u"stat"_s, from, errno);
    if (!unchanged(sourceInfo, afterwards) || done != afterwards.st_size)
        return FileResult::failure(u"copy"_s, from, u"the original changed while it was being copied"_s);

    // A copy is a new file of this user's: ordinary permissions, whatever the card's
    // file system claimed (exFAT and FAT show every file as 0777). A target file
    // system that cannot store permission bits is no reason to refuse the copy.
    if (::fchmod(temporary.fd(), ordinaryFileMode()) != 0 && errno != EPERM && !isUnsupported(errno))
        return FileResult::failure(u"set permissions"_s, to, errno);
    if (::fsync(temporary.fd()) != 0)
        return FileResult::failure(u"sync"_s, to, errno);
    struct stat written = {};
    if (::fstat(temporary.fd(), &written) != 0)
        return FileResult::failure(u"stat"_s, to, errno);
    if (written.st_size != done)
        return FileResult::failure(u"check"_s, to,
                                   u"the copy has %1 bytes, the original %2"_s.arg(written.st_size).arg(done), EIO);
    if (options.verifyByReadBack) {
        // Through a descriptor of its own, as any later reader will see the file
        // (some FUSE file systems answer reads on the writing descriptor with zeros).
        Fd readBack(::open(temporary.path().c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
        if (!readBack.valid())
            return FileResult::failure(u"read back"_s, to, errno);
        if (options.readBackFromDisk)
            dropCachedPages(readBack.get());
        std::uint64_t copyHash = 0;
        std::int64_t copySize = 0;
        if (const int error = hashDescriptor(readBack.get(), copyHash, copySize); error != 0)
            return FileResult::failure(u"read back"_s, to, error);
        if (copyHash != sourceHash || copySize != done)
            return FileResult::failure(u"check"_s, to, u"the copy on disk differs from the original"_s, EIO);
    }
    // Last, because reading the copy back may have moved its access time.
    const timespec times[2] = {sourceInfo.st_atim, sourceInfo.st_mtim};
    if (::futimens(temporary.fd(), times) != 0 && !isUnsupported(errno))
        return FileResult::failure(u"set times"_s, to, errno);
    if (::fsync(temporary.fd()) != 0)
        return FileResult::failure(u"sync"_s, to, errno);
    if (temporary.close() != 0)
        return FileResult::failure(u"close"_s, to, errno);

    const FileResult placed = options.replace == SafeFileReplace::Atomically
        ? renameReplacing(temporary.path(), to)
        : SafeFile::renameNoReplace(temporary.path(), to);
    if (!placed)
        return placed;
    temporary.keep();

    if (removeSource) {
        // The name might have been given to another file while we copied: remove only what was copied.
        struct stat current = {};
        if (::lstat(from.c_str(), &current) != 0 || !unchanged(sourceInfo, current))
            return FileResult::failure(u"remove"_s, from,
                                       u"the original changed while it was being copied; the copy is at "_s
                                           + to.displayString());
        if (::unlink(from.c_str()) != 0)
            return FileResult::failure(u"remove"_s, from,
                                       u"the copy is complete at "_s + to.displayString()
                                           + u" but the original could not be removed"_s,
                                       errno);
        if (FileResult r = SafeFile::syncFolder(from.parent()); !r)
            return r;
    }
    if (report) {
        report->bytes = done;
        report->hash = sourceHash;
        report->crossedFileSystems = folderInfo.st_dev != sourceInfo.st_dev;
    }
    return {};
}

SafeFileEntryType typeOfMode(mode_t mode)
{
    if (S_ISREG(mode))
        return SafeFileEntryType::Regular;
    if (S_ISDIR(mode))
        return SafeFileEntryType::Directory;
    if (S_ISLNK(mode))
        return SafeFileEntryType::Symlink;
    return SafeFileEntryType::Other;
}

SafeFileEntryType typeOfDirent(unsigned char type)
{
    switch (type) {
    case DT_REG:
        return SafeFileEntryType::Regular;
    case DT_DIR:
        return SafeFileEntryType::Directory;
    case DT_LNK:
        return SafeFileEntryType::Symlink;
    default:
        return SafeFileEntryType::Other;
    }
}

using Visited = QSet<std::pair<dev_t, ino_t>>;

FileResult listFolder(const NativePath &folder, const SafeFileListOptions &options, bool top, Visited &visited,
                      QList<SafeFileEntry> &entries, QList<FileResult> *errors)
{
    // Below the top a folder may have been swapped for a link since it was listed.
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (top ? 0 : O_NOFOLLOW));
    if (fd < 0)
        return FileResult::failure(u"open folder"_s, folder, errno);
    struct CloseDir
    {
        void operator()(DIR *d) const { ::closedir(d); }
    };
    std::unique_ptr<DIR, CloseDir> dir(::fdopendir(fd));
    if (!dir) {
        const int error = errno;
        ::close(fd);
        return FileResult::failure(u"open folder"_s, folder, error);
    }
    struct stat folderInfo = {};
    if (::fstat(fd, &folderInfo) == 0)
        visited.insert({folderInfo.st_dev, folderInfo.st_ino});

    const auto noteError = [errors](const FileResult &r) {
        if (errors)
            errors->append(r);
    };
    QList<NativePath> subfolders;
    for (;;) {
        errno = 0;
        const dirent *d = ::readdir(dir.get());
        if (!d) {
            if (errno != 0)
                noteError(FileResult::failure(u"read folder"_s, folder, errno));
            break;
        }
        const QByteArray name(d->d_name);
        if (name == "." || name == "..")
            continue;
        if (options.skipHidden && name.startsWith('.'))
            continue;
        SafeFileEntry entry;
        entry.name = name;
        entry.path = folder.child(name);
        entry.displayName = QString::fromUtf8(name);
        entry.type = typeOfDirent(d->d_type);
        if (d->d_type == DT_UNKNOWN) {
            struct stat info = {};
            if (::lstat(entry.path.c_str(), &info) != 0) {
                noteError(FileResult::failure(u"stat"_s, entry.path, errno));
                continue;
            }
            entry.type = typeOfMode(info.st_mode);
        }
        if (options.recursive && entry.type == SafeFileEntryType::Directory)
            subfolders.append(entry.path);
        if (options.followSymlinksForType && entry.type == SafeFileEntryType::Symlink) {
            struct stat target = {};
            if (::stat(entry.path.c_str(), &target) == 0)
                entry.type = typeOfMode(target.st_mode);
        }
        entries.append(std::move(entry));
    }
    dir.reset();

    for (const NativePath &sub : std::as_const(subfolders)) {
        struct stat info = {};
        // A bind mount can make a folder its own descendant.
        if (::stat(sub.c_str(), &info) == 0 && visited.contains({info.st_dev, info.st_ino}))
            continue;
        if (FileResult r = listFolder(sub, options, false, visited, entries, errors); !r)
            noteError(r);
    }
    return {};
}

} // namespace

FileResult SafeFile::renameNoReplace(const NativePath &from, const NativePath &to, bool syncFolders)
{
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) != 0) {
        const int error = errno;
        if (error != EINVAL && error != ENOSYS)
            return renameFailure(from, to, error);
        // EINVAL also means "into itself", which no fallback may try to do.
        if (to.bytes().startsWith(QByteArray(from.bytes() + '/')))
            return renameFailure(from, to, EINVAL);
        if (FileResult r = renameByLink(from, to); !r)
            return r;
    }
    return syncFolders ? syncFoldersOf(from, to) : FileResult::success();
}

FileResult SafeFile::move(const NativePath &from, const NativePath &to, const CopyOptions &options, CopyReport *report)
{
    if (report)
        *report = {};
    struct stat info = {};
    if (::lstat(from.c_str(), &info) != 0)
        return FileResult::failure(u"move"_s, from, errno);
    const FileResult renamed = options.replace == Replace::Atomically ? renameReplacing(from, to, options.syncFolders)
                                                                      : renameNoReplace(from, to, options.syncFolders);
    if (renamed.ok()) {
        if (report && S_ISREG(info.st_mode))
            report->bytes = info.st_size;
        return renamed;
    }
    if (renamed.errorNumber() != EXDEV)
        return renamed;
    if (!S_ISREG(info.st_mode))
        return FileResult::failure(u"move"_s, from, u"only regular files can be moved to another file system"_s, EXDEV);
    // A copy whose original cannot be removed afterwards would only be wasted work (e.g. a read-only card).
    if (::access(from.parent().c_str(), W_OK) != 0)
        return FileResult::failure(u"move"_s, from, errno);
    const FileResult copied = copyThroughTemporary(from, to, options, report, true);
    if (copied && report)
        report->crossedFileSystems = true;
    return copied;
}

FileResult SafeFile::copy(const NativePath &from, const NativePath &to, const CopyOptions &options, CopyReport *report)
{
    if (report)
        *report = {};
    return copyThroughTemporary(from, to, options, report, false);
}

bool SafeFile::writeAll(int fd, const char *data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0) {
            errno = EIO;
            return false;
        }
        data += n;
        size -= std::size_t(n);
    }
    return true;
}

FileResult SafeFile::writeDurably(const NativePath &path, const QByteArray &bytes, Replace replace)
{
    TemporaryFile temporary;
    if (FileResult r = temporary.create(path.parent()); !r)
        return r;
    if (!writeAll(temporary.fd(), bytes))
        return FileResult::failure(u"write"_s, path, errno);
    if (::fsync(temporary.fd()) != 0)
        return FileResult::failure(u"sync"_s, path, errno);
    if (::fchmod(temporary.fd(), ordinaryFileMode()) != 0 && errno != EPERM && !isUnsupported(errno))
        return FileResult::failure(u"set permissions"_s, path, errno);
    if (temporary.close() != 0)
        return FileResult::failure(u"close"_s, path, errno);
    const FileResult placed = replace == Replace::Atomically ? renameReplacing(temporary.path(), path)
                                                             : renameNoReplace(temporary.path(), path);
    if (placed)
        temporary.keep();
    return placed;
}

FileResult SafeFile::remove(const NativePath &path)
{
    if (::unlink(path.c_str()) != 0)
        return FileResult::failure(u"remove"_s, path, errno);
    return syncFolder(path.parent());
}

FileResult SafeFile::makeFolders(const NativePath &path, unsigned mode)
{
    if (path.isEmpty())
        return FileResult::failure(u"create folder"_s, path, ENOENT);
    QList<NativePath> missing;
    NativePath existing = path;
    struct stat info = {};
    while (::stat(existing.c_str(), &info) != 0) {
        if (errno != ENOENT)
            return FileResult::failure(u"create folder"_s, existing, errno);
        missing.prepend(existing);
        const NativePath parent = existing.parent();
        if (parent == existing)
            return FileResult::failure(u"create folder"_s, existing, ENOENT);
        existing = parent;
    }
    if (!S_ISDIR(info.st_mode))
        return FileResult::failure(u"create folder"_s, existing, existing == path ? EEXIST : ENOTDIR);
    for (const NativePath &folder : std::as_const(missing)) {
        if (::mkdir(folder.c_str(), mode_t(mode)) != 0) {
            const int error = errno;
            // Someone else made it meanwhile: fine, as long as it is a folder.
            if (error != EEXIST || ::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
                return FileResult::failure(u"create folder"_s, folder, error);
            continue;
        }
        if (FileResult r = syncFolder(folder.parent()); !r)
            return r;
    }
    return {};
}

FileResult SafeFile::syncFolder(const NativePath &folder)
{
    Fd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.valid())
        return FileResult::failure(u"open folder"_s, folder, errno);
    // Some file systems cannot sync a folder at all and say so; that is not a failed sync.
    if (::fsync(fd.get()) != 0 && !isUnsupported(errno))
        return FileResult::failure(u"sync folder"_s, folder, errno);
    return {};
}

std::optional<std::uint64_t> SafeFile::hashFile(const NativePath &path, bool fromDisk, FileResult *error)
{
    const auto fail = [&](const QString &operation, int number) -> std::optional<std::uint64_t> {
        if (error)
            *error = FileResult::failure(operation, path, number);
        return std::nullopt;
    };
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid())
        return fail(u"open"_s, errno);
    if (fromDisk) {
        if (::fdatasync(fd.get()) != 0 && errno != EROFS && errno != EBADF && !isUnsupported(errno))
            return fail(u"sync"_s, errno);
        dropCachedPages(fd.get());
    }
    std::uint64_t hash = 0;
    std::int64_t size = 0;
    if (const int number = hashDescriptor(fd.get(), hash, size); number != 0)
        return fail(u"read"_s, number);
    if (error)
        *error = {};
    return hash;
}

std::optional<QList<SafeFile::Entry>> SafeFile::list(const NativePath &folder, const ListOptions &options,
                                                     FileResult *error, QList<FileResult> *errors)
{
    QList<Entry> entries;
    Visited visited;
    const FileResult r = listFolder(folder, options, true, visited, entries, errors);
    if (error)
        *error = r;
    if (!r)
        return std::nullopt;
    return entries;
}

bool SafeFile::isStaleTemporary(const QByteArray &name)
{
    return isLeftByGoneProcess(name, ".part");
}

namespace {
// The claims among a folder's entries whose records a gone process left; the records go
// in every case (their claim is gone, no longer ours, or freed now).
QList<NativePath> freeStaleClaims(const NativePath &folder, const QList<SafeFileEntry> &entries, bool &removedAny)
{
    QList<NativePath> freed;
    std::optional<bool> lastingInodes;
    for (const SafeFileEntry &entry : entries) {
        if (entry.type != SafeFileEntryType::Regular || !isLeftByGoneProcess(entry.name, cClaimSuffix))
            continue;
        struct stat recordInfo = {};
        if (const std::optional<ClaimRecordContents> record = readClaimRecord(entry.path, recordInfo)) {
            const NativePath claim = folder.child(record->name);
            if (!lastingInodes)
                lastingInodes = hasLastingInodeNumbers(folder);
            struct stat info = {};
            if (::lstat(claim.c_str(), &info) == 0 && isRecordedClaim(info, *record, recordInfo, *lastingInodes)
                && ::unlink(claim.c_str()) == 0)
                freed.append(claim);
        }
        removedAny |= ::unlink(entry.path.c_str()) == 0;
    }
    return freed;
}
} // namespace

QList<NativePath> SafeFile::removeStaleClaims(const NativePath &folder)
{
    bool removedAny = false;
    const QList<NativePath> freed =
        freeStaleClaims(folder, list(folder, {false, false, false}).value_or(QList<Entry>()), removedAny);
    if (removedAny)
        syncFolder(folder);
    return freed;
}

QList<NativePath> SafeFile::removeKilledLeftovers(const NativePath &folder)
{
    // One listing for both: this runs on every visit to a folder of thousands of photos.
    const QList<Entry> entries = list(folder, {false, false, false}).value_or(QList<Entry>());
    QList<NativePath> removed;
    for (const Entry &entry : entries) {
        if (entry.type == EntryType::Regular && isStaleTemporary(entry.name) && ::unlink(entry.path.c_str()) == 0)
            removed.append(entry.path);
    }
    bool removedRecords = false;
    removed.append(freeStaleClaims(folder, entries, removedRecords));
    if (!removed.isEmpty() || removedRecords)
        syncFolder(folder);
    return removed;
}

bool SafeFile::mayBeClaimInProgress(const NativePath &path)
{
    ListOptions everything;
    everything.skipHidden = false;
    const std::optional<QList<Entry>> entries = list(path.parent(), everything);
    if (!entries)
        return false;
    const QByteArray name = path.fileNameBytes();
    for (const Entry &entry : *entries) {
        if (entry.type != EntryType::Regular || !entry.name.startsWith(".lumisort-")
            || !entry.name.endsWith(cClaimSuffix) || isLeftByGoneProcess(entry.name, cClaimSuffix))
            continue;
        struct stat recordInfo = {};
        const std::optional<ClaimRecordContents> record = readClaimRecord(entry.path, recordInfo);
        if (record && record->name == name)
            return true;
    }
    return false;
}
