#include "CompanionCommand.h"

using namespace Qt::StringLiterals;

QString CompanionCommand::usage()
{
    return {};
}

int CompanionCommand::run(const QStringList &, CliIo &io)
{
    return io.usageError(u"not built yet"_s, usage());
}
