#include "AbandonedLock.h"

#include "NativePath.h"
#include "SystemLog.h"

#include <QLockFile>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

bool AbandonedLock::removeIfAbandoned(const QString &lockPath)
{
    const NativePath path(lockPath);
    struct stat info = {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size != 0
        || std::time(nullptr) - info.st_mtime < cGraceSeconds)
        return false;
    // QLockFile's own removal of a stale lock goes through this one too, so two
    // runs never remove a lock that one of them has just taken.
    QLockFile removal(lockPath + u".rmlock"_s);
    if (!removal.tryLock(0))
        return false;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return false;
    struct stat now = {};
    // A live holder keeps its file locked from the moment it made it.
    const bool abandoned = ::fstat(fd, &now) == 0 && now.st_ino == info.st_ino && now.st_dev == info.st_dev
        && now.st_size == 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    const bool removed = abandoned && ::unlink(path.c_str()) == 0;
    ::close(fd);
    if (removed)
        logLine(u"AbandonedLock.... removed the empty lock file of a killed run: "_s + lockPath);
    return removed;
}
