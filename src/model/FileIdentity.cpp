#include "FileIdentity.h"

#include <fcntl.h>
#include <sys/stat.h>

std::optional<FileIdentity> FileIdentity::of(const QByteArray &nativePath)
{
    struct stat st = {};
    if (::stat(nativePath.constData(), &st) != 0)
        return std::nullopt;
    return FileIdentity {quint64(st.st_dev), quint64(st.st_ino), qint64(st.st_size),
                         qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}
