#include "ClaimedRename.h"

#include "FileDescriptor.h"
#include "OwnHiddenName.h"

#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>
#include <utility>

using namespace Qt::StringLiterals;

namespace {

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
            const NativePath path = folder.child(OwnHiddenName::make(cClaimSuffix));
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
    FileDescriptor m_fd;
    NativePath m_path;
};

struct ClaimRecordContents
{
    QByteArray name;
    std::optional<struct stat> claim; // st_dev, st_ino and st_mtim only
};

std::optional<ClaimRecordContents> readClaimRecord(const NativePath &path, struct stat &recordInfo)
{
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
    if (!fd.valid() || ::fstat(fd.get(), &recordInfo) != 0 || !S_ISREG(recordInfo.st_mode))
        return std::nullopt;
    QByteArray bytes(cLongestClaimRecord, Qt::Uninitialized);
    const ssize_t n = FileDescriptor::readSome(fd.get(), bytes.data(), std::size_t(bytes.size()));
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
        return FileResult::renameFailure(from, to, errno);
    // The record may only be written while the name is free (see isRecordedClaim).
    struct stat existing = {};
    if (::lstat(to.c_str(), &existing) == 0)
        return FileResult::renameFailure(from, to, EEXIST);
    if (errno != ENOENT)
        return FileResult::renameFailure(from, to, errno);
    ClaimRecord record;
    // A full disk may have room for a name but not for the record: the rename
    // still never replaces anything, only a kill would leave its claim unrecorded.
    if (!record.create(to) && errno != ENOSPC && errno != EDQUOT)
        return FileResult::failure(u"create"_s, to.parent(), u"no record of the claim on "_s + to.displayString(),
                                   errno);
    FileDescriptor claim(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!claim.valid())
        return FileResult::renameFailure(from, to, errno);
    struct stat claimed = {};
    const bool known = ::fstat(claim.get(), &claimed) == 0;
    claim.close();
    if (known)
        record.noteClaim(claimed);
    // On a file system that ignores case the claim may be the source itself.
    if (known && claimed.st_dev == source.st_dev && claimed.st_ino == source.st_ino)
        return FileResult::renameFailure(from, to, EEXIST);
    if (::rename(from.c_str(), to.c_str()) != 0) {
        const int error = errno;
        // Take back only the claim, and only while it is still the empty file we made.
        struct stat now = {};
        if (known && ::lstat(to.c_str(), &now) == 0 && now.st_ino == claimed.st_ino && now.st_dev == claimed.st_dev
            && now.st_size == 0)
            ::unlink(to.c_str());
        return FileResult::renameFailure(from, to, error);
    }
    return FileResult::success();
}

} // namespace

// For file systems without RENAME_NOREPLACE: link() refuses an existing name
// just as reliably. Where there are no hard links either, the name is claimed first.
FileResult ClaimedRename::rename(const NativePath &from, const NativePath &to)
{
    if (::link(from.c_str(), to.c_str()) != 0) {
        const int error = errno;
        if (error == EPERM || FileDescriptor::isUnsupported(error))
            return renameOverClaim(from, to);
        return FileResult::renameFailure(from, to, error);
    }
    if (::unlink(from.c_str()) != 0) {
        const int error = errno;
        ::unlink(to.c_str());
        return FileResult::failure(u"remove"_s, from, error);
    }
    return FileResult::success();
}

QList<NativePath> ClaimedRename::freeStale(const NativePath &folder, const QList<SafeFileEntry> &entries,
                                           bool &removedAny)
{
    QList<NativePath> freed;
    std::optional<bool> lastingInodes;
    for (const SafeFileEntry &entry : entries) {
        if (entry.type != SafeFileEntryType::Regular || !OwnHiddenName::isLeftByGoneProcess(entry.name, cClaimSuffix))
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

bool ClaimedRename::isInProgress(const QByteArray &name, const QList<SafeFileEntry> &entries)
{
    for (const SafeFileEntry &entry : entries) {
        if (entry.type != SafeFileEntryType::Regular || !entry.name.startsWith(".lumisort-")
            || !entry.name.endsWith(cClaimSuffix) || OwnHiddenName::isLeftByGoneProcess(entry.name, cClaimSuffix))
            continue;
        struct stat recordInfo = {};
        const std::optional<ClaimRecordContents> record = readClaimRecord(entry.path, recordInfo);
        if (record && record->name == name)
            return true;
    }
    return false;
}
