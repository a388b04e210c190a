#include "ForeignFile.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

QString errorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

ForeignFile::Content ForeignFile::read(const QString &path, qint64 maxBytes)
{
    Content content;
    // Non-blocking: opening a FIFO put in the file's place would otherwise wait for a writer forever.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR)
            return content;
        content.status = Status::Unusable;
        content.problem = u"cannot be opened: "_s + errorText(error);
        return content;
    }
    content.status = Status::Unusable;
    struct stat info
    {
    };
    if (::fstat(fd, &info) != 0) {
        content.problem = u"cannot be examined: "_s + errorText(errno);
    } else if (S_ISDIR(info.st_mode)) {
        content.problem = u"is a folder, not a file"_s;
    } else if (!S_ISREG(info.st_mode)) {
        content.problem = u"is not a regular file"_s;
    } else if (info.st_size > maxBytes) {
        content.problem = u"is %1 bytes long, more than the %2 read"_s.arg(info.st_size).arg(maxBytes);
    } else {
        // One byte more than allowed tells a file that grew since fstat.
        QByteArray bytes(maxBytes + 1, Qt::Uninitialized);
        qint64 total = 0;
        while (total < bytes.size()) {
            const ssize_t n = ::read(fd, bytes.data() + total, size_t(bytes.size() - total));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                content.problem = u"cannot be read: "_s + errorText(errno);
                break;
            }
            if (n == 0)
                break;
            total += n;
        }
        if (content.problem.isEmpty() && total > maxBytes) {
            content.problem = u"is more than %1 bytes long"_s.arg(maxBytes);
        } else if (content.problem.isEmpty()) {
            bytes.truncate(total);
            content.bytes = bytes;
            content.status = Status::Read;
        }
    }
    ::close(fd);
    return content;
}
