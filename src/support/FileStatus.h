#pragma once

#include "NativePath.h"

#include <optional>
#include <sys/stat.h>

// What stat(2) says of a path (links followed), or nothing when it cannot be read.
class FileStatus
{
public:
    static std::optional<struct stat> of(const NativePath &path);
    // False on FUSE file systems, which number their files themselves, afresh after a
    // remount and whenever the kernel forgot a file: there the inode number does not
    // tell a file from one that took its name (true when it cannot be told).
    static bool hasLastingInodeNumbers(const NativePath &folder);
};
