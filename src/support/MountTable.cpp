#include "MountTable.h"

#include <QFile>
#include <sys/sysmacros.h>

namespace {

// The kernel writes space, tab, newline and backslash in paths as "\ooo" so
// that a line always splits into the same fields.
QByteArray unescaped(const QByteArray &field)
{
    if (!field.contains('\\'))
        return field;
    QByteArray out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        const char c = field.at(i);
        if (c == '\\' && i + 3 < field.size()) {
            const char a = field.at(i + 1), b = field.at(i + 2), d = field.at(i + 3);
            const auto isOctal = [](char x) { return x >= '0' && x <= '7'; };
            if (isOctal(a) && isOctal(b) && isOctal(d)) {
                out.append(char(((a - '0') << 6) | ((b - '0') << 3) | (d - '0')));
                i += 3;
                continue;
            }
        }
        out.append(c);
    }
    return out;
}

std::optional<MountTable::Mount> parseLine(const QByteArray &line)
{
    const QList<QByteArray> fields = line.simplified().split(' ');
    const qsizetype dash = fields.indexOf(QByteArrayLiteral("-"));
    // Six fixed fields before the separator, three after it.
    if (dash < 6 || fields.size() < dash + 3)
        return std::nullopt;

    MountTable::Mount m;
    bool okId = false, okParent = false, okMajor = false, okMinor = false;
    m.id = fields.at(0).toInt(&okId);
    m.parentId = fields.at(1).toInt(&okParent);
    const QList<QByteArray> majorMinor = fields.at(2).split(':');
    if (majorMinor.size() != 2)
        return std::nullopt;
    const uint major = majorMinor.at(0).toUInt(&okMajor);
    const uint minor = majorMinor.at(1).toUInt(&okMinor);
    if (!okId || !okParent || !okMajor || !okMinor)
        return std::nullopt;
    m.device = makedev(major, minor);
    m.root = unescaped(fields.at(3));
    m.mountPoint = unescaped(fields.at(4));
    m.options = fields.at(5);
    m.fsType = unescaped(fields.at(dash + 1));
    m.source = unescaped(fields.at(dash + 2));
    if (fields.size() > dash + 3)
        m.superOptions = unescaped(fields.at(dash + 3));
    return m;
}

bool isPrefixOnComponents(const QByteArray &mountPoint, const QByteArray &path)
{
    if (mountPoint == "/")
        return path.startsWith('/');
    if (!path.startsWith(mountPoint))
        return false;
    return path.size() == mountPoint.size() || path.at(mountPoint.size()) == '/';
}

} // namespace

bool MountTable::Mount::isReadOnly() const
{
    return options.split(',').contains(QByteArrayLiteral("ro"));
}

std::optional<MountTable> MountTable::read(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    // readAll, unlike a read by size, copes with /proc files that report size 0.
    const QByteArray text = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    return parse(text);
}

MountTable MountTable::parse(const QByteArray &text)
{
    MountTable table;
    for (const QByteArray &line : text.split('\n')) {
        if (line.trimmed().isEmpty())
            continue;
        if (std::optional<Mount> m = parseLine(line))
            table.m_mounts.append(*m);
    }
    return table;
}

std::optional<MountTable::Mount> MountTable::mountFor(const QByteArray &absolutePath) const
{
    QByteArray path = absolutePath;
    while (path.size() > 1 && path.endsWith('/'))
        path.chop(1);
    const Mount *best = nullptr;
    for (const Mount &m : m_mounts) {
        // ">=" so that of several mounts on one point the later, visible one wins.
        if (isPrefixOnComponents(m.mountPoint, path) && (!best || m.mountPoint.size() >= best->mountPoint.size()))
            best = &m;
    }
    if (!best)
        return std::nullopt;
    return *best;
}

std::optional<MountTable::Mount> MountTable::mountAt(const QByteArray &mountPoint) const
{
    for (auto it = m_mounts.crbegin(); it != m_mounts.crend(); ++it) {
        if (it->mountPoint == mountPoint)
            return *it;
    }
    return std::nullopt;
}

QList<MountTable::Mount> MountTable::mountsOfDevice(dev_t device) const
{
    QList<Mount> result;
    for (const Mount &m : m_mounts) {
        if (m.device == device)
            result.append(m);
    }
    return result;
}
