#include "PathRelation.h"

#include "NativePath.h"

#include <sys/stat.h>

bool PathRelation::isSameOrInside(const QByteArray &inner, const QByteArray &outer)
{
    if (inner == outer || outer == "/" || inner.startsWith(QByteArray(outer + '/')))
        return true;
    struct stat outerInfo = {};
    if (::stat(outer.constData(), &outerInfo) != 0)
        return false;
    QByteArray folder = inner;
    for (;;) {
        struct stat info = {};
        if (::stat(folder.constData(), &info) == 0 && info.st_dev == outerInfo.st_dev
            && info.st_ino == outerInfo.st_ino)
            return true;
        if (folder == "/" || folder.isEmpty())
            return false;
        const qsizetype slash = folder.lastIndexOf('/');
        if (slash < 0)
            return false;
        folder = slash == 0 ? QByteArray("/") : folder.left(slash);
    }
}

bool PathRelation::isSameOrInside(const QString &inner, const QString &outer)
{
    return isSameOrInside(NativePath(inner).bytes(), NativePath(outer).bytes());
}
