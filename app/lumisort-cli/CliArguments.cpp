#include "CliArguments.h"

#include "support/NativePath.h"

#include <algorithm>
#include <cerrno>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {
bool isOption(const QString &arg)
{
    return arg.size() > 1 && arg.startsWith(u'-') && !arg.at(1).isDigit();
}
} // namespace

QStringList CliArguments::fromArgv(int argc, char **argv)
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args.append(NativePath::decode(QByteArray(argv[i])));
    return args;
}

CliArguments::CliArguments(const QStringList &args, const QList<Option> &options)
{
    bool optionsEnded = false;
    for (qsizetype i = 0; i < args.size() && m_error.isEmpty(); ++i) {
        const QString &arg = args.at(i);
        if (optionsEnded || !isOption(arg)) {
            m_operands.append(arg);
            continue;
        }
        if (arg == u"--"_s) {
            optionsEnded = true;
            continue;
        }
        const qsizetype eq = arg.startsWith(u"--"_s) ? arg.indexOf(u'=') : -1;
        const QString name = eq < 0 ? arg : arg.left(eq);
        const auto option =
            std::find_if(options.cbegin(), options.cend(), [&name](const Option &o) { return o.name == name; });
        if (option == options.cend()) {
            m_error = u"unknown option "_s + NativePath::forDisplay(name);
        } else if (!option->takesValue && eq >= 0) {
            m_error = name + u" takes no value"_s;
        } else if (!option->takesValue) {
            m_values[name].append(QString());
        } else if (eq >= 0) {
            m_values[name].append(arg.mid(eq + 1));
        } else if (i + 1 < args.size()) {
            m_values[name].append(args.at(++i));
        } else {
            m_error = name + u" needs a value"_s;
        }
    }
}

QString CliArguments::value(const QString &name) const
{
    const auto found = m_values.constFind(name);
    return found == m_values.cend() ? QString() : found->constLast();
}

QString CliArguments::absolutePath(const QString &argument)
{
    QByteArray bytes = NativePath::encode(argument);
    if (bytes.isEmpty())
        return argument;
    if (!bytes.startsWith('/')) {
        QByteArray folder(4096, '\0');
        while (!::getcwd(folder.data(), size_t(folder.size()))) {
            if (errno != ERANGE)
                return argument;
            folder.resize(folder.size() * 2);
        }
        folder.truncate(qsizetype(qstrlen(folder.constData())));
        bytes = folder + '/' + bytes;
    }
    // "." and empty components go; ".." stays, as the kernel would follow it through links.
    QByteArrayList kept;
    for (const QByteArray &component : bytes.split('/')) {
        if (!component.isEmpty() && component != ".")
            kept.append(component);
    }
    return NativePath::decode('/' + kept.join('/'));
}
