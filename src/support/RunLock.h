#pragma once

#include <QLockFile>
#include <QString>
#include <functional>

// The lock files that keep runs apart, within the program and across programs
// (the window and the command-line tool). A crashed holder is recognised by its
// process id, one killed before writing it by its empty file (AbandonedLock).
class RunLock
{
public:
    explicit RunLock(const QString &path);

    // Takes the lock when no live run holds it.
    bool tryTake();
    // Takes the lock, waiting while another run holds it; waiting() is called once
    // when it has to. A lock that cannot be made at all (a full or read-only folder)
    // only loses the exclusion: false, logged, and the caller goes on.
    bool takeOrWait(const std::function<void()> &waiting);
    QString path() const { return m_lock.fileName(); }

    // One card import at a time per user.
    static QString cardImportPath();
    // One filing run per working folder, however the folder's path is spelt; the card
    // import takes it too, so a folder is never emptied while it is being filed.
    static QString filingPath(const QString &workingFolder);

private:
    QLockFile m_lock;
};
