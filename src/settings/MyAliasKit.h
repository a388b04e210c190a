#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// Persistent folder references: an opaque block of bytes that finds a folder
// again after it was renamed or moved on its volume, or after the volume was
// unmounted and mounted somewhere else. It holds the volume's identity (the
// file-system UUID where the system knows one, else the device number and
// mount point), the inode, the path relative to the mount point and the last
// full path. No state; callable from any thread.
class MyAliasKit
{
public:
    // What the reference bytes carry; the program itself never looks inside.
    struct AliasRecord
    {
        QByteArray volumeUuid; // empty when unknown
        quint64 device = 0; // st_dev when the reference was made
        QByteArray mountPoint; // where the volume was mounted then
        QByteArray fsType;
        quint64 inode = 0;
        qint64 birthTime = 0; // ns since the epoch; 0 where the file system keeps none
        QByteArray relativePath; // below the mount point, no leading "/"
        QByteArray lastPath; // full path when last resolved
        bool isDirectory = false;
    };

    static std::optional<QByteArray> aliasDataForPath(const QString &path);
    static std::optional<QByteArray> aliasDataForAliasHandle(const AliasRecord *record);
    // changedData gets the updated reference when the object moved (store it in
    // place of data) and is cleared when data is still current.
    static bool resolveAliasFromData(const QByteArray &data, QString *resolvedPath, QByteArray *changedData);
    static bool resolveAliasFromData(const QByteArray &data, QString *resolvedPath);
    static void savePath(const QString &path, const QString &key);

    // Bounds of the inode search over a volume (levels below the folder each search
    // starts from, entries read in all), so a huge volume cannot hang the program.
    static constexpr int cSearchMaxDepth = 8;
    static constexpr int cSearchMaxEntries = 200000;
};
