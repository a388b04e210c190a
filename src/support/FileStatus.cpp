#include "FileStatus.h"

#include <sys/statfs.h>

std::optional<struct stat> FileStatus::of(const NativePath &path)
{
    struct stat info = {};
    if (path.isEmpty() || ::stat(path.c_str(), &info) != 0)
        return std::nullopt;
    return info;
}

bool FileStatus::hasLastingInodeNumbers(const NativePath &folder)
{
    constexpr decltype(statfs::f_type) fuseSuperMagic = 0x65735546;
    struct statfs info = {};
    return ::statfs(folder.c_str(), &info) != 0 || info.f_type != fuseSuperMagic;
}
