#include "FilePlacement.h"

#include "support/NumberedName.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
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
        switch (compare(file, target, &compareError)) {
        case Comparison::Identical:
            // Only now, with every byte known to be at the destination, may the working copy go.
            if (const FileResult removed = SafeFile::remove(file); !removed) {
                result.reason = u"an identical copy is already at "_s + target.displayString()
                    + u" but the working copy could not be removed: "_s + removed.text();
                return result;
            }
            result.outcome = Outcome::AlreadyFiled;
            return result;
        case Comparison::Different:
            continue;
        case Comparison::SameFile:
            result.reason = target.displayString() + u" is the same file as the working copy"_s;
            return result;
        case Comparison::Unreadable:
            result.reason = u"a file is already at "_s + target.displayString()
                + u" and the two could not be compared: "_s + compareError.text();
            return result;
        }
    }
    result.reason = u"no free numbered name for "_s + ownName.displayString();
    return result;
}
