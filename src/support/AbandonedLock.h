#pragma once

#include <QString>

// The lock files that keep runs apart (QLockFile). A process killed after creating
// its lock file but before writing its process id into it leaves an empty file
// that names nobody: it is never judged stale, and every later run would be
// refused, or wait, for good.
class AbandonedLock
{
public:
    // Removes the lock file when it is such a leftover: empty, held by no process
    // (no lock on it), and older than the moment a live process needs between
    // creating the file and locking it. True when it was removed.
    static bool removeIfAbandoned(const QString &lockPath);

    static constexpr int cGraceSeconds = 1;
};
