#pragma once

#include "FileIdentity.h"
#include "support/NativePath.h"

#include <QDateTime>
#include <QTimeZone>
#include <optional>

// When a photo was taken, as its camera recorded it: EXIF DateTimeOriginal,
// refined by SubSecTimeOriginal and placed in time by OffsetTimeOriginal where
// the camera wrote them (the computer's local time otherwise, as cameras keep
// the local time of the place they shoot in). Only the metadata is read: JPEG
// and TIFF-based files (most raw formats) by a few small reads of their first
// bytes, other containers (HEIF, CR3 ...) through exiv2. Thread-safe.
class ShootingTime
{
public:
    // Nothing when the file has no usable shooting time or cannot be read. A time
    // the camera wrote without an offset is taken in localZone (the system's time
    // zone, asked for once by a caller that reads many files: asking costs more
    // than reading a photo).
    static std::optional<QDateTime> read(const NativePath &path,
                                         const QTimeZone &localZone = QTimeZone::systemTimeZone());

    // The same, what the camera wrote remembered for the file content the identity
    // names, in memory and (after flush) on disk: a folder listed again after renames
    // or a correction, or by the program started anew, reads no photo twice.
    static std::optional<QDateTime> of(const NativePath &path, const FileIdentity &identity,
                                       const QTimeZone &localZone);

    // The store on disk of what cameras wrote, by file identity: "<XDG cache>/Lumisort/shooting-times".
    static QString standardStorePath();
    // Writes what was read since the last call to the store; the loader calls it after each listing.
    static void flush();

    // How many files were really read since the last reset (cache misses included, hits not).
    static qint64 readsForTesting();
    // Forgets what is in memory, as a program started anew; the store is read again when next needed.
    static void resetForTesting();
};
