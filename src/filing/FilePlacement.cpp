#include "FilePlacement.h"

#include "support/NumberedName.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>

using namespace Qt::StringLiterals;

namespace {

constexpr int cMostNumbers = 9999;
constexpr qsizetype cChunkSize = qsizetype(1) << 20;

class Descriptor
{
public:
    Descriptor() = default;
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    void reset(int fd)
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }
    int get() const { return m_fd; }

private:
    int m_fd = -1;
};

enum class Opened
{
    Regular,
    NotRegular,
    Failed
};

// Never follows a link, and never waits on a pipe or a device that happens to carry the name.
Opened openRegular(const NativePath &path, Descriptor &fd, struct stat &info)
{
    fd.reset(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
    if (fd.get() < 0)
        return errno == ELOOP || errno == ENXIO ? Opened::NotRegular : Opened::Failed;
    if (::fstat(fd.get(), &info) != 0)
        return Opened::Failed;
    return S_ISREG(info.st_mode) ? Opened::Regular : Opened::NotRegular;
}

// Fills the buffer unless the file ends first; the count read, or -1 with errno.
qsizetype readChunk(int fd, char *buffer, qsizetype size)
{
    qsizetype done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd, buffer + done, std::size_t(size - done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (n == 0)
            break;
        done += n;
    }
    return done;
}

// Long enough for another station's rename over its claim on a busy network
// file system; a claim whose station died keeps its name no longer than this.
constexpr auto cClaimPatience = std::chrono::seconds(15);
constexpr auto cClaimPoll = std::chrono::milliseconds(5);
constexpr int cMostVanished = 100;

bool sameState(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size && a.st_mode == b.st_mode
        && a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

enum class Settled
{
    Identical,
    Different,
    SameFile,
    Unreadable,
    Vanished // the name is free again
};

// What holds a taken name once any rename under way there has ended. Where renames
// cannot refuse to replace, another station claims a name with an empty file and
// then renames over it (or takes the claim back when its rename fails): compared
// in between, the claim would pass for a different photo (ours would get a
// numbered name beside its own copy), or vanish under the comparison.
Settled settledComparison(const NativePath &file, const NativePath &target, FileResult *error)
{
    const auto deadline = std::chrono::steady_clock::now() + cClaimPatience;
    for (;;) {
        struct stat seen = {};
        if (::lstat(target.c_str(), &seen) != 0) {
            if (errno == ENOENT)
                return Settled::Vanished;
            if (error)
                *error = FileResult::failure(u"compare"_s, target, errno);
            return Settled::Unreadable;
        }
        const bool mayBeClaim = S_ISREG(seen.st_mode) && seen.st_size == 0;
        if (mayBeClaim && std::chrono::steady_clock::now() < deadline && SafeFile::mayBeClaimInProgress(target)) {
            struct stat now = seen;
            while (std::chrono::steady_clock::now() < deadline && ::lstat(target.c_str(), &now) == 0
                   && sameState(seen, now))
                std::this_thread::sleep_for(cClaimPoll);
            continue;
        }
        FileResult compareError;
        const FilePlacement::Comparison comparison = FilePlacement::compare(file, target, &compareError);
        if (comparison == FilePlacement::Comparison::Unreadable && compareError.path() == target
            && compareError.errorNumber() == ENOENT)
            return Settled::Vanished;
        // An empty file whose record was gone by the time we looked was a claim
        // renamed over meanwhile, or another claim took its place: look again.
        struct stat after = {};
        if (mayBeClaim && std::chrono::steady_clock::now() < deadline
            && (::lstat(target.c_str(), &after) != 0 || !sameState(seen, after)))
            continue;
        if (error)
            *error = compareError;
        switch (comparison) {
        case FilePlacement::Comparison::Identical:
            return Settled::Identical;
        case FilePlacement::Comparison::Different:
            return Settled::Different;
        case FilePlacement::Comparison::SameFile:
            return Settled::SameFile;
        case FilePlacement::Comparison::Unreadable:
            break;
        }
        return Settled::Unreadable;
    }
}

} // namespace

std::optional<QByteArray> FilePlacement::numberedName(const QByteArray &name, int number)
{
    return NumberedName::make(name, number);
}

FilePlacement::Comparison FilePlacement::compare(const NativePath &a, const NativePath &b, FileResult *error)
{
    const auto unreadable = [error](const NativePath &path, int number) {
        if (error)
            *error = FileResult::failure(u"compare"_s, path, number);
        return Comparison::Unreadable;
    };
    Descriptor first;
    Descriptor second;
    struct stat firstInfo = {};
    struct stat secondInfo = {};
    const Opened firstOpened = openRegular(a, first, firstInfo);
    if (firstOpened == Opened::Failed)
        return unreadable(a, errno);
    const Opened secondOpened = openRegular(b, second, secondInfo);
    if (secondOpened == Opened::Failed)
        return unreadable(b, errno);
    if (firstOpened != Opened::Regular || secondOpened != Opened::Regular)
        return Comparison::Different;
    if (firstInfo.st_dev == secondInfo.st_dev && firstInfo.st_ino == secondInfo.st_ino)
        return Comparison::SameFile;
    if (firstInfo.st_size != secondInfo.st_size)
        return Comparison::Different;

    QByteArray firstBuffer(cChunkSize, Qt::Uninitialized);
    QByteArray secondBuffer(cChunkSize, Qt::Uninitialized);
    for (;;) {
        const qsizetype n = readChunk(first.get(), firstBuffer.data(), cChunkSize);
        if (n < 0)
            return unreadable(a, errno);
        const qsizetype m = readChunk(second.get(), secondBuffer.data(), cChunkSize);
        if (m < 0)
            return unreadable(b, errno);
        if (n != m || std::memcmp(firstBuffer.constData(), secondBuffer.constData(), std::size_t(n)) != 0)
            return Comparison::Different;
        if (n == 0)
            return Comparison::Identical;
    }
}

FilePlacement::Result FilePlacement::place(const NativePath &file, const NativePath &folder, const QByteArray &name,
                                           const SafeFileCopyOptions &options)
{
    Result result;
    SafeFileCopyOptions neverReplacing = options;
    neverReplacing.replace = SafeFileReplace::Never;
    const NativePath ownName = folder.child(name);
    int vanished = 0;
    for (int number = 1; number <= cMostNumbers; ++number) {
        const std::optional<QByteArray> candidate = number == 1 ? name : numberedName(name, number);
        if (!candidate) {
            result.reason = u"a different file is already at "_s + ownName.displayString()
                + u" and the name is too long for a numbered one"_s;
            return result;
        }
        const NativePath target = folder.child(*candidate);
        result.target = target;
        // The rename itself refuses a taken name, so a name claimed by another
        // station a moment ago is noticed here and never replaced.
        const FileResult moved = SafeFile::move(file, target, neverReplacing);
        if (moved) {
            result.outcome = number == 1 ? Outcome::Moved : Outcome::MovedUnderNewName;
            return result;
        }
        if (moved.errorNumber() == ENAMETOOLONG && number > 1) {
            result.reason = u"a different file is already at "_s + ownName.displayString()
                + u" and the name is too long for a numbered one on this file system"_s;
            return result;
        }
        if (moved.errorNumber() != EEXIST) {
            result.reason = moved.text();
            return result;
        }
        FileResult compareError;
        switch (settledComparison(file, target, &compareError)) {
        case Settled::Identical:
            // Only now, with every byte known to be at the destination, may the working copy go.
            if (const FileResult removed = SafeFile::remove(file); !removed) {
                result.reason = u"an identical copy is already at "_s + target.displayString()
                    + u" but the working copy could not be removed: "_s + removed.text();
                return result;
            }
            result.outcome = Outcome::AlreadyFiled;
            return result;
        case Settled::Different:
            continue;
        case Settled::Vanished:
            // Another station took its claim back: the name is free again.
            if (++vanished <= cMostVanished) {
                --number;
                continue;
            }
            result.reason = target.displayString() + u" keeps appearing and vanishing"_s;
            return result;
        case Settled::SameFile:
            result.reason = target.displayString() + u" is the same file as the working copy"_s;
            return result;
        case Settled::Unreadable:
            result.reason = u"a file is already at "_s + target.displayString()
                + u" and the two could not be compared: "_s + compareError.text();
            return result;
        }
    }
    result.reason = u"no free numbered name for "_s + ownName.displayString();
    return result;
}
