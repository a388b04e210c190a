#include "ImportCommand.h"

using namespace Qt::StringLiterals;

QString ImportCommand::usage()
{
    return {};
}

int ImportCommand::run(const QStringList &, CliIo &io)
{
    return io.usageError(u"not built yet"_s, usage());
}
