#pragma once

#include <QByteArray>
#include <QHashFunctions>
#include <QtGlobal>
#include <optional>

// Which file content a thumbnail belongs to: the same inode with the same size
// and modification time. A rename keeps it; a file written anew or replaced
// under the same name does not.
struct FileIdentity
{
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = 0;
    qint64 mtimeNs = 0;

    static std::optional<FileIdentity> of(const QByteArray &nativePath);
    friend bool operator==(const FileIdentity &, const FileIdentity &) = default;
};

inline size_t qHash(const FileIdentity &id, size_t seed = 0)
{
    return qHashMulti(seed, id.device, id.inode, id.size, id.mtimeNs);
}
