#include "NativePath.h"

#include <QFile>
#include <QStringDecoder>

NativePath::NativePath(const QString &path)
    : m_bytes(QFile::encodeName(path))
{ }

NativePath NativePath::fromBytes(const QByteArray &bytes)
{
    NativePath p;
    p.m_bytes = bytes;
    return p;
}

QString NativePath::toString() const
{
    return QString::fromUtf8(m_bytes);
}

bool NativePath::isValidUtf8() const
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString decoded = decoder.decode(m_bytes);
    return !decoder.hasError();
}

QByteArray NativePath::fileNameBytes() const
{
    QByteArray b = m_bytes;
    while (b.size() > 1 && b.endsWith('/'))
        b.chop(1);
    const qsizetype slash = b.lastIndexOf('/');
    return slash < 0 ? b : b.mid(slash + 1);
}

NativePath NativePath::parent() const
{
    QByteArray b = m_bytes;
    while (b.size() > 1 && b.endsWith('/'))
        b.chop(1);
    const qsizetype slash = b.lastIndexOf('/');
    if (slash < 0)
        return fromBytes(QByteArrayLiteral("."));
    if (slash == 0)
        return fromBytes(QByteArrayLiteral("/"));
    return fromBytes(b.left(slash));
}

NativePath NativePath::child(const QByteArray &nameBytes) const
{
    if (m_bytes.isEmpty() || m_bytes.endsWith('/'))
        return fromBytes(m_bytes + nameBytes);
    return fromBytes(m_bytes + '/' + nameBytes);
}

NativePath NativePath::child(const QString &name) const
{
    return child(QFile::encodeName(name));
}
