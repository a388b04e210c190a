#include "NearestExistingFolder.h"

#include "FileStatus.h"

#include <QDir>
#include <QList>
#include <cstdlib>
#include <sys/stat.h>

NativePath NearestExistingFolder::of(const NativePath &path)
{
    NativePath existing = path;
    struct stat info = {};
    while (::stat(existing.c_str(), &info) != 0) {
        const NativePath parent = existing.parent();
        if (parent == existing || parent.isEmpty())
            return {};
        existing = parent;
    }
    return existing;
}

NativePath NearestExistingFolder::resolved(const NativePath &path)
{
    QByteArray absolute = path.bytes();
    if (!absolute.startsWith('/'))
        absolute = NativePath(QDir::currentPath()).bytes() + '/' + absolute;
    QList<QByteArray> missing;
    QByteArray existing = absolute;
    for (;;) {
        while (existing.size() > 1 && existing.endsWith('/'))
            existing.chop(1);
        if (char *real = ::realpath(existing.constData(), nullptr)) {
            QByteArray result(real);
            ::free(real);
            for (const QByteArray &part : std::as_const(missing)) {
                if (!result.endsWith('/'))
                    result += '/';
                result += part;
            }
            return NativePath::fromBytes(result);
        }
        const qsizetype slash = existing.lastIndexOf('/');
        if (existing == "/" || slash < 0)
            return NativePath::fromBytes(absolute);
        if (const QByteArray part = existing.mid(slash + 1); !part.isEmpty())
            missing.prepend(part);
        existing = slash == 0 ? QByteArray("/") : existing.left(slash);
    }
}

std::optional<dev_t> NearestExistingFolder::deviceOf(const NativePath &path)
{
    const std::optional<struct stat> info = FileStatus::of(of(path));
    return info ? std::optional<dev_t>(info->st_dev) : std::nullopt;
}
