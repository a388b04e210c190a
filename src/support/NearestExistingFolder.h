#pragma once

#include "NativePath.h"

#include <QByteArray>
#include <optional>
#include <sys/types.h>

// A folder that does not exist yet (a daily folder, a staging or trash folder about
// to be made) is judged by the part of its path that does: that part's file system
// is where it will live, and that part's links are where it will be met.
class NearestExistingFolder
{
public:
    // The path itself when it exists, else its nearest existing ancestor; empty when none is.
    static NativePath of(const NativePath &path);
    // Absolute, every link of the existing part resolved, the missing rest appended as written.
    static NativePath resolved(const NativePath &path);
    // The device of the file system the path lives on, or will live on once made.
    static std::optional<dev_t> deviceOf(const NativePath &path);
};
