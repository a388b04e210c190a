#include "CompanionCommand.h"

#include "CliArguments.h"
#include "shell/CompanionSettings.h"

using namespace Qt::StringLiterals;

QString CompanionCommand::usage()
{
    return u"usage: lumisort-cli companion\n"
           "  reads "_s
        + CompanionSettings::preferencesFilePath() + u" and changes nothing"_s;
}

int CompanionCommand::run(const QStringList &args, CliIo &io)
{
    const CliArguments parsed(args, {});
    if (!parsed.error().isEmpty() || !parsed.operands().isEmpty())
        return io.usageError(u"companion takes no arguments"_s, usage());
    for (const QString &key : {u"savepath"_s, u"reversescan"_s, u"disablescan"_s})
        io.out << key << '\t' << CompanionSettings::objectForKey(key).value_or(u"absent"_s) << Qt::endl;
    return CliIo::cOk;
}
