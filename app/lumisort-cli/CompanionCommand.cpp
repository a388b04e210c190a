#include "CompanionCommand.h"

#include "CliArguments.h"
#include "settings/CompanionSettings.h"

using namespace Qt::StringLiterals;

QString CompanionCommand::usage()
{
    return u"usage: lumisort-cli companion\n"
           "  shows the companion's settings that start-up would use, from the first of\n"_s
        + u"    "_s + CompanionSettings::searchedFiles().join(u"\n    "_s)
        + u"\n  that holds them: \"from\" and that file, then each value or \"absent\";\n"
          "  \"from\" then \"none\" when none does. A file there but unusable (damaged, unreadable,\n"
          "  too large) is named with its fault on standard error and passed over.\n"
          "  Exits 0 either way; changes nothing."_s;
}

int CompanionCommand::run(const QStringList &args, CliIo &io)
{
    const CliArguments parsed(args, {});
    if (!parsed.error().isEmpty() || !parsed.operands().isEmpty())
        return io.usageError(u"companion takes no arguments"_s, usage());
    const CompanionSettings::Reading reading = CompanionSettings::read();
    for (const QString &problem : reading.problems)
        io.err << "lumisort-cli: passed over " << problem << Qt::endl;
    io.out << "from\t" << (reading.file.isEmpty() ? u"none"_s : reading.file) << Qt::endl;
    for (const QString &key : {u"savepath"_s, u"reversescan"_s, u"disablescan"_s})
        io.out << key << '\t' << reading.values.value(key, u"absent"_s) << Qt::endl;
    return CliIo::cOk;
}
