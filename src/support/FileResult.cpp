#include "FileResult.h"

#include <cstring>

using namespace Qt::StringLiterals;

FileResult FileResult::failure(const QString &operation, const NativePath &path, int errorNumber)
{
    FileResult r;
    r.m_failed = true;
    r.m_errno = errorNumber;
    r.m_operation = operation;
    r.m_path = path;
    return r;
}

FileResult FileResult::failure(const QString &operation, const NativePath &path, const QString &reason, int errorNumber)
{
    FileResult r = failure(operation, path, errorNumber);
    r.m_reason = reason;
    return r;
}

QString FileResult::errorName() const
{
    if (m_errno == 0)
        return {};
    const char *name = strerrorname_np(m_errno);
    return name ? QString::fromLatin1(name) : u"errno %1"_s.arg(m_errno);
}

FileResult FileResult::renameFailure(const NativePath &from, const NativePath &to, int errorNumber)
{
    return failure(u"rename"_s, from, u"to "_s + to.displayString(), errorNumber);
}

QString FileResult::describeErrno(int errorNumber)
{
    const char *name = strerrorname_np(errorNumber);
    const char *description = strerrordesc_np(errorNumber);
    const QString n = name ? QString::fromLatin1(name) : u"errno %1"_s.arg(errorNumber);
    return description ? n % u" ("_s % QString::fromLocal8Bit(description) % u')' : n;
}

QString FileResult::text() const
{
    if (!m_failed)
        return {};
    QString t = m_operation % u' ' % m_path.displayString() % u": "_s;
    if (!m_reason.isEmpty()) {
        t += m_reason;
        if (m_errno != 0)
            t += u" ["_s % describeErrno(m_errno) % u']';
    } else {
        t += describeErrno(m_errno);
    }
    return t;
}
