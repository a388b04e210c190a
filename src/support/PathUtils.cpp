#include "PathUtils.h"

#include "NativePath.h"

#include <QDir>
#include <cstdlib>

QString PathUtils::expandTilde(const QString &path)
{
    if (path == u'~')
        return QDir::homePath();
    if (path.startsWith(u"~/"))
        return QDir::homePath() + path.mid(1);
    return path;
}

QString PathUtils::standardize(const QString &path)
{
    if (path.isEmpty())
        return path;
    return QDir::cleanPath(expandTilde(path));
}

QString PathUtils::fileName(const QString &path)
{
    QString p = path;
    while (p.size() > 1 && p.endsWith(u'/'))
        p.chop(1);
    const qsizetype slash = p.lastIndexOf(u'/');
    return slash < 0 ? p : p.mid(slash + 1);
}

QString PathUtils::baseName(const QString &pathOrName)
{
    const QString name = fileName(pathOrName);
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot < 0 ? name : name.left(dot);
}

QString PathUtils::resolvedPath(const QString &path)
{
    char *real = ::realpath(NativePath(path).c_str(), nullptr);
    if (!real)
        return {};
    const QString text = NativePath::fromBytes(QByteArray(real)).toString();
    std::free(real);
    return text;
}
