#include "OwnHiddenName.h"

#include <QList>
#include <QRandomGenerator>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <unistd.h>

QByteArray OwnHiddenName::prefix()
{
    static const QByteArray prefix = []() -> QByteArray {
        char host[256] = {};
        QByteArray name;
        if (::gethostname(host, sizeof host - 1) == 0) {
            for (const char *c = host; *c && name.size() < 32; ++c)
                name += (std::isalnum(static_cast<unsigned char>(*c)) || *c == '.') ? *c : '_';
        }
        return ".lumisort-" + (name.isEmpty() ? QByteArray("host") : name) + '-';
    }();
    return prefix;
}

QByteArray OwnHiddenName::make(const QByteArray &suffix)
{
    return prefix() + QByteArray::number(::getpid()) + '-'
        + QByteArray::number(QRandomGenerator::global()->generate64(), 36) + suffix;
}

bool OwnHiddenName::isLeftByGoneProcess(const QByteArray &name, const QByteArray &suffix)
{
    if (!name.startsWith(prefix()) || !name.endsWith(suffix))
        return false;
    const QList<QByteArray> rest = name.mid(prefix().size()).chopped(suffix.size()).split('-');
    bool isNumber = false;
    const qint64 pid = rest.value(0).toLongLong(&isNumber);
    if (rest.size() != 2 || !isNumber || pid <= 0 || pid == ::getpid())
        return false;
    // A process id taken again by another process keeps the file until a later run: the safe side.
    return ::kill(pid_t(pid), 0) != 0 && errno == ESRCH;
}
