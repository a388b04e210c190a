#include "SafeFile.h"

#include "ClaimedRename.h"
#include "FileDescriptor.h"
#include "FolderListing.h"
#include "OwnHiddenName.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <xxhash.h>
#if defined(__x86_64__) && __has_include(<xxh_x86dispatch.h>)
// The library picks its widest vector code for this processor at run time (AVX2 where
// there is one): hashing both the original and the copy read back is a good part of
// the CPU a move across file systems costs. Same hash values either way.
#include <xxh_x86dispatch.h>
#endif

using namespace Qt::StringLiterals;

namespace {

// Large enough that the system call overhead vanishes next to the disk, small
// enough that a progress bar moves and a cancel is heard promptly.
constexpr qsizetype kChunkSize = qsizetype(1) << 20;

using HashState = std::unique_ptr<XXH3_state_t, decltype(&XXH3_freeState)>;

HashState newHashState()
{
    HashState state(XXH3_createState(), &XXH3_freeState);
    if (state)
        XXH3_64bits_reset(state.get());
    return state;
}

// One per thread for the thread's life: a megabyte allocated per file costs more in
// page faults than a small photo's copy itself.
char *chunkBuffer()
{
    thread_local const std::unique_ptr<char[]> buffer(new char[kChunkSize]);
    return buffer.get();
}

// Returns 0 or the errno of the failed read.
int hashDescriptor(int fd, std::uint64_t &hash, std::int64_t &size)
{
    HashState state = newHashState();
    if (!state)
        return ENOMEM;
    char *buffer = chunkBuffer();
    size = 0;
    for (;;) {
        const ssize_t n = FileDescriptor::readSome(fd, buffer, std::size_t(kChunkSize));
        if (n < 0)
            return errno;
        if (n == 0)
            break;
        XXH3_64bits_update(state.get(), buffer, std::size_t(n));
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
        return FileResult::renameFailure(from, to, errno);
    return syncFolders ? syncFoldersOf(from, to) : FileResult::success();
}

// ".lumisort-<host>-": the host keeps a shared destination's temporaries of other
// stations (whose process ids mean nothing here) apart from this one's.
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
            const NativePath path = folder.child(OwnHiddenName::make(".part"));
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
    FileDescriptor m_fd;
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
    // Without touching its access time where the file system lets us (the copy gets the
    // times read before): a read that moved it would dirty the inode, one more journal
    // write for a file that a move then removes anyway.
    const int sourceFlags = O_RDONLY | O_CLOEXEC | (removeSource ? O_NOFOLLOW : 0);
    FileDescriptor source(::open(from.c_str(), sourceFlags | O_NOATIME));
    if (!source.valid() && errno == EPERM)
        source.reset(::open(from.c_str(), sourceFlags));
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

    char *buffer = chunkBuffer();
    const std::int64_t total = sourceInfo.st_size;
    std::int64_t done = 0;
    for (;;) {
        const ssize_t n = FileDescriptor::readSome(source.get(), buffer, std::size_t(kChunkSize));
        if (n < 0)
            return FileResult::failure(u"read"_s, from, errno);
        if (n == 0)
            break;
        XXH3_64bits_update(state.get(), buffer, std::size_t(n));
        if (!SafeFile::writeAll(temporary.fd(), buffer, std::size_t(n)))
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
    // Closed before its removal, so that the unlink frees it at once: removed while
    // still open, ext4 parks it on the orphan list, one lock for the whole file system.
    // (Its inode number may then go to a new file: the removal below also compares the
    // change time, which a new file cannot carry over.)
    source.close();

    // A copy is a new file of this user's: ordinary permissions, whatever the card's
    // file system claimed (exFAT and FAT show every file as 0777). A target file
    // system that cannot store permission bits is no reason to refuse the copy.
    if (::fchmod(temporary.fd(), ordinaryFileMode()) != 0 && errno != EPERM && !FileDescriptor::isUnsupported(errno))
        return FileResult::failure(u"set permissions"_s, to, errno);
    // Before the sync, so that one sync makes the times durable with the bytes.
    const timespec times[2] = {sourceInfo.st_atim, sourceInfo.st_mtim};
    if (::futimens(temporary.fd(), times) != 0 && !FileDescriptor::isUnsupported(errno))
        return FileResult::failure(u"set times"_s, to, errno);
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
        // Without touching its access time where the file system lets us (it is ours), so
        // that the times set above need no second sync.
        constexpr int readBackFlags = O_RDONLY | O_CLOEXEC | O_NOFOLLOW;
        FileDescriptor readBack(::open(temporary.path().c_str(), readBackFlags | O_NOATIME));
        if (!readBack.valid() && errno == EPERM)
            readBack.reset(::open(temporary.path().c_str(), readBackFlags));
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
    // Reading the copy back may still have moved its access time (O_NOATIME refused).
    struct stat readBackInfo = {};
    if (::fstat(temporary.fd(), &readBackInfo) != 0)
        return FileResult::failure(u"stat"_s, to, errno);
    if (!sameTime(readBackInfo.st_atim, sourceInfo.st_atim) || !sameTime(readBackInfo.st_mtim, sourceInfo.st_mtim)) {
        if (::futimens(temporary.fd(), times) != 0 && !FileDescriptor::isUnsupported(errno))
            return FileResult::failure(u"set times"_s, to, errno);
        if (::fsync(temporary.fd()) != 0)
            return FileResult::failure(u"sync"_s, to, errno);
    }
    if (temporary.close() != 0)
        return FileResult::failure(u"close"_s, to, errno);

    // A copy that keeps its source may leave the folder sync to the caller's batch end; a
    // move syncs it here, as its source goes only once the copy's name is durable.
    const bool syncTarget = removeSource || options.syncFolders;
    const FileResult placed = options.replace == SafeFileReplace::Atomically
        ? renameReplacing(temporary.path(), to, syncTarget)
        : SafeFile::renameNoReplace(temporary.path(), to, syncTarget);
    if (!placed)
        return placed;
    temporary.keep();

    if (removeSource) {
        // The name might have been given to another file while we copied: remove only what was copied.
        struct stat current = {};
        if (::lstat(from.c_str(), &current) != 0 || !unchanged(sourceInfo, current)
            || !sameTime(sourceInfo.st_ctim, current.st_ctim))
            return FileResult::failure(u"remove"_s, from,
                                       u"the original changed while it was being copied; the copy is at "_s
                                           + to.displayString());
        if (::unlink(from.c_str()) != 0)
            return FileResult::failure(u"remove"_s, from,
                                       u"the copy is complete at "_s + to.displayString()
                                           + u" but the original could not be removed"_s,
                                       errno);
        // A removal lost to a crash leaves a duplicate, never a loss: a batch syncs the
        // source folder once at its end.
        if (options.syncFolders) {
            if (FileResult r = SafeFile::syncFolder(from.parent()); !r)
                return r;
        }
    }
    if (report) {
        report->bytes = done;
        report->hash = sourceHash;
        report->crossedFileSystems = folderInfo.st_dev != sourceInfo.st_dev;
    }
    return {};
}

} // namespace

FileResult SafeFile::renameNoReplace(const NativePath &from, const NativePath &to, bool syncFolders)
{
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) != 0) {
        const int error = errno;
        if (error != EINVAL && error != ENOSYS)
            return FileResult::renameFailure(from, to, error);
        // EINVAL also means "into itself", which no fallback may try to do.
        if (to.bytes().startsWith(QByteArray(from.bytes() + '/')))
            return FileResult::renameFailure(from, to, EINVAL);
        if (FileResult r = ClaimedRename::rename(from, to); !r)
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
    if (::fchmod(temporary.fd(), ordinaryFileMode()) != 0 && errno != EPERM && !FileDescriptor::isUnsupported(errno))
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
    FileDescriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.valid())
        return FileResult::failure(u"open folder"_s, folder, errno);
    // Some file systems cannot sync a folder at all and say so; that is not a failed sync.
    if (::fsync(fd.get()) != 0 && !FileDescriptor::isUnsupported(errno))
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
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid())
        return fail(u"open"_s, errno);
    if (fromDisk) {
        if (::fdatasync(fd.get()) != 0 && errno != EROFS && errno != EBADF && !FileDescriptor::isUnsupported(errno))
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
    const FileResult r = FolderListing::list(folder, options, entries, errors);
    if (error)
        *error = r;
    if (!r)
        return std::nullopt;
    return entries;
}

bool SafeFile::isStaleTemporary(const QByteArray &name)
{
    return OwnHiddenName::isLeftByGoneProcess(name, ".part");
}

QList<NativePath> SafeFile::removeStaleClaims(const NativePath &folder)
{
    bool removedAny = false;
    const QList<NativePath> freed =
        ClaimedRename::freeStale(folder, list(folder, {false, false, false}).value_or(QList<Entry>()), removedAny);
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
    removed.append(ClaimedRename::freeStale(folder, entries, removedRecords));
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
    return ClaimedRename::isInProgress(path.fileNameBytes(), *entries);
}
