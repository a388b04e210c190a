#include "RunLock.h"

#include "support/AbandonedLock.h"
#include "support/SystemLog.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <cstdlib>

using namespace Qt::StringLiterals;

namespace {

QString runtimeFolder()
{
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return runtime.isEmpty() ? QDir::tempPath() : runtime;
}

} // namespace

RunLock::RunLock(const QString &path)
    : m_lock(path)
{
    m_lock.setStaleLockTime(0);
}

bool RunLock::tryTake()
{
    AbandonedLock::removeIfAbandoned(m_lock.fileName());
    return m_lock.tryLock(0);
}

bool RunLock::takeOrWait(const std::function<void()> &waiting)
{
    if (m_lock.tryLock(0))
        return true;
    bool told = false;
    // A holder killed while taking the lock may have left it empty, naming nobody.
    while (m_lock.error() == QLockFile::LockFailedError) {
        if (!told && waiting)
            waiting();
        told = true;
        if (m_lock.tryLock(250))
            return true;
        AbandonedLock::removeIfAbandoned(m_lock.fileName());
    }
    logLine(u"RunLock.... cannot take the lock "_s + m_lock.fileName());
    return false;
}

QString RunLock::cardImportPath()
{
    return runtimeFolder() + u"/lumisort-card-import.lock"_s;
}

QString RunLock::filingPath(const QString &workingFolder)
{
    // Through a symbolic link, with a trailing slash or "..", the folder meets the same lock.
    QByteArray folder = QFile::encodeName(QDir::cleanPath(QFileInfo(workingFolder).absoluteFilePath()));
    if (char *real = ::realpath(folder.constData(), nullptr)) {
        folder = real;
        std::free(real);
    }
    const QByteArray key = QCryptographicHash::hash(folder, QCryptographicHash::Sha1).toHex().left(16);
    return runtimeFolder() + u"/lumisort-filing-"_s + QString::fromLatin1(key) + u".lock"_s;
}
