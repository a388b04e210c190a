#include "FileDescriptor.h"

#include <cerrno>
#include <unistd.h>
#include <utility>

int FileDescriptor::close()
{
    const int fd = std::exchange(m_fd, -1);
    if (fd < 0 || ::close(fd) == 0 || errno == EINTR)
        return 0;
    return -1;
}

ssize_t FileDescriptor::readSome(int fd, char *buffer, std::size_t size)
{
    for (;;) {
        const ssize_t n = ::read(fd, buffer, size);
        if (n >= 0 || errno != EINTR)
            return n;
    }
}

bool FileDescriptor::isUnsupported(int error)
{
#if EOPNOTSUPP != ENOTSUP
    if (error == EOPNOTSUPP)
        return true;
#endif
    return error == EINVAL || error == ENOTSUP || error == ENOSYS;
}
