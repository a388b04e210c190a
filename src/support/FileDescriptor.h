#pragma once

#include <cstddef>
#include <sys/types.h>

// An open file descriptor, closed when it goes.
class FileDescriptor
{
public:
    explicit FileDescriptor(int fd = -1)
        : m_fd(fd)
    { }
    ~FileDescriptor() { close(); }
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    void reset(int fd)
    {
        close();
        m_fd = fd;
    }
    // close()'s own answer matters: NFS and others report a deferred write error only there.
    // EINTR is no failure on Linux: the descriptor is gone and the data was synced before.
    int close();

    // read(2), retried after signals.
    static ssize_t readSome(int fd, char *buffer, std::size_t size);
    // Whether errno means the call or flag is not supported here, rather than that it failed.
    static bool isUnsupported(int error);

private:
    int m_fd;
};
