#pragma once

#include "NativePath.h"

#include <optional>
#include <sys/stat.h>

// What stat(2) says of a path (links followed), or nothing when it cannot be read.
class FileStatus
{
public:
    static std::optional<struct stat> of(const NativePath &path);
};
