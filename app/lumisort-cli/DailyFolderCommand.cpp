#include "DailyFolderCommand.h"

#include "CliArguments.h"
#include "filing/DestinationPathRules.h"
#include "settings/SettingsKeys.h"

using namespace Qt::StringLiterals;

QString DailyFolderCommand::usage()
{
    return u"usage: lumisort-cli daily-folder"_s;
}

int DailyFolderCommand::run(const QStringList &args, CliIo &io)
{
    const CliArguments parsed(args, {});
    if (!parsed.error().isEmpty() || !parsed.operands().isEmpty())
        return io.usageError(u"daily-folder takes no arguments"_s, usage());
    const auto show = [](const std::optional<QString> &value) { return value.value_or(u"(none)"_s); };
    io.out << "daily folder name\t" << show(DestinationPathRules::getDailyFolderName()) << Qt::endl;
    io.out << "daily destination folder\t"
           << show(DestinationPathRules::getDuplicateFolderPath(cPrefDestinationPath, cPrefDailyFolderDateFormat))
           << Qt::endl;
    io.out << "unassigned folder\t" << show(DestinationPathRules::unassignedFolderPath()) << Qt::endl;
    if (const std::optional<QString> problem = DestinationPathRules::storedDailyFolderPatternProblem()) {
        io.out << "refused pattern\t" << *problem << Qt::endl;
        return CliIo::cFailed;
    }
    return CliIo::cOk;
}
