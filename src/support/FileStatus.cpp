#include "FileStatus.h"

std::optional<struct stat> FileStatus::of(const NativePath &path)
{
    struct stat info = {};
    if (path.isEmpty() || ::stat(path.c_str(), &info) != 0)
        return std::nullopt;
    return info;
}
