#include "BarcodeCache.h"

#include <QThreadPool>
#include <QtConcurrent/QtConcurrentMap>

BarcodeReader::Reading BarcodeCache::read(const NativePath &path)
{
    const std::optional<FileIdentity> identity = FileIdentity::of(path.bytes());
    if (identity) {
        const QMutexLocker locker(&m_mutex);
        const auto found = m_readings.constFind(*identity);
        if (found != m_readings.cend())
            return *found;
    }
    const BarcodeReader::Reading reading = BarcodeReader::read(path);
    ++m_decoded;
    // A file changed while it was read keeps no reading: its identity no longer names what was read.
    if (identity && reading.readable && FileIdentity::of(path.bytes()) == identity) {
        const QMutexLocker locker(&m_mutex);
        m_readings.insert(*identity, reading);
    }
    return reading;
}

std::optional<BarcodeReader::Reading> BarcodeCache::known(const NativePath &path) const
{
    const std::optional<FileIdentity> identity = FileIdentity::of(path.bytes());
    if (!identity)
        return std::nullopt;
    const QMutexLocker locker(&m_mutex);
    const auto found = m_readings.constFind(*identity);
    if (found == m_readings.cend())
        return std::nullopt;
    return *found;
}

QList<BarcodeReader::Reading> BarcodeCache::readAll(const QList<NativePath> &paths)
{
    return QtConcurrent::blockingMapped<QList<BarcodeReader::Reading>>(
        QThreadPool::globalInstance(), paths, [this](const NativePath &path) { return read(path); });
}
