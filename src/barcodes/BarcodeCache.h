#pragma once

#include "BarcodeReader.h"
#include "model/FileIdentity.h"

#include <QHash>
#include <QMutex>
#include <atomic>
#include <optional>

// What was read from each photo, kept by file content rather than by name:
// renaming a photo (which is what giving it a barcode does) does not read it
// again, while a file written anew under the same name is read afresh. Kept in
// memory for the life of the cache only. Thread-safe.
class BarcodeCache
{
public:
    BarcodeReader::Reading read(const NativePath &path);
    // The reading kept for the file as it is now, without reading it.
    std::optional<BarcodeReader::Reading> known(const NativePath &path) const;
    // Reads the photos on the global thread pool (every core), in the order given.
    QList<BarcodeReader::Reading> readAll(const QList<NativePath> &paths);

    // How many photos were decoded rather than taken from the cache.
    int decodedCount() const { return m_decoded.load(); }

private:
    mutable QMutex m_mutex;
    QHash<FileIdentity, BarcodeReader::Reading> m_readings;
    std::atomic<int> m_decoded = 0;
};
