#include "RosterCommand.h"

#include "CliArguments.h"
#include "CliRoster.h"
#include "filing/DestinationPathRules.h"
#include "roster/RosterReport.h"
#include "settings/SettingsKeys.h"
#include "settings/SettingsStore.h"
#include "support/NativePath.h"
#include "support/PathUtils.h"

#include <QDir>
#include <QFileInfo>
#include <cstdio>

using namespace Qt::StringLiterals;

QString RosterCommand::usage()
{
    return u"usage: lumisort-cli roster [--json|--csv] [--minimum N] [--id-column N] [--] [ROSTER.csv [DIR...]]\n"
           "  ROSTER.csv      without it, the day's roster (setting prefRosterPath, as File > Open Roster chose it)\n"
           "  --json          print the report as JSON\n"
           "  --csv           print the report as a spreadsheet (UTF-8, CRLF)\n"
           "  --minimum N     photos each subject needs (default: the setting prefRosterMinimumPhotos)\n"
           "  --id-column N   the roster's column of ids, counted from 1, when no header names it\n"
           "  DIR...          the folders to count; without any, the working folder and today's daily folder"_s;
}

int RosterCommand::run(const QStringList &args, CliIo &io)
{
    const CliArguments parsed(args, {{u"--json"_s}, {u"--csv"_s}, {u"--minimum"_s, true}, {u"--id-column"_s, true}});
    if (!parsed.error().isEmpty())
        return io.usageError(parsed.error(), usage());
    if (parsed.isSet(u"--json"_s) && parsed.isSet(u"--csv"_s))
        return io.usageError(u"--json and --csv exclude each other"_s, usage());
    const QStringList operands = parsed.operands();
    const SettingsStore &store = SettingsStore::standard();
    const QString dayRoster = store.stringForKey(cPrefRosterPath).value_or(QString());
    if (operands.isEmpty() && dayRoster.isEmpty())
        return io.usageError(u"no roster given, and none is open for the day"_s, usage());

    int minimum = int(SettingsStore::standard().integerForKey(cPrefRosterMinimumPhotos));
    if (parsed.isSet(u"--minimum"_s)) {
        bool ok = false;
        minimum = parsed.value(u"--minimum"_s).toInt(&ok);
        if (!ok || minimum < 1)
            return io.usageError(u"--minimum needs a whole number of at least 1"_s, usage());
    }
    const QString rosterPath = operands.isEmpty() ? dayRoster : CliArguments::absolutePath(operands.first());
    // The day's roster is read as the operator answered for it in the window.
    const bool asOpened = rosterPath == dayRoster;
    int idColumn = asOpened ? int(store.integerForKey(cPrefRosterIdColumn)) : -1;
    const Roster::Header header =
        asOpened && !store.boolForKey(cPrefRosterHasHeader) ? Roster::Header::None : Roster::Header::FirstRow;
    if (!CliRoster::readIdColumn(parsed, &idColumn))
        return io.usageError(u"--id-column needs a column number of at least 1"_s, usage());

    const std::optional<Roster> read = CliRoster::load(rosterPath, idColumn, header, io);
    if (!read)
        return CliIo::cFailed;
    const Roster &roster = *read;

    QList<RosterReport::Folder> folders;
    if (operands.size() > 1) {
        for (const QString &folder : operands.mid(1)) {
            // Paths typed on the command line mean what a shell means by them ("../x").
            const QString absolute = QDir::cleanPath(CliArguments::absolutePath(folder));
            folders.append({QFileInfo(absolute).fileName(), absolute});
        }
    } else {
        const QString working =
            PathUtils::expandTilde(SettingsStore::standard().stringForKey(cPrefSourcePath).value_or(QString()));
        if (working.isEmpty()) {
            io.err << "lumisort-cli: no working folder is set; name the folders to count" << Qt::endl;
            return CliIo::cFailed;
        }
        folders.append({u"Working folder"_s, working});
        // Where the filing puts today's photos: without a daily folder pattern, the destination itself.
        if (const std::optional<QString> today =
                DestinationPathRules::getDuplicateFolderPath(cPrefDestinationPath, cPrefDailyFolderDateFormat);
            today && QDir::isAbsolutePath(*today))
            folders.append({DestinationPathRules::getDailyFolderName() ? u"Today"_s : u"Destination"_s, *today, true});
    }

    const RosterReport report = RosterReport::make(roster, folders, minimum);
    for (const QString &problem : report.problems())
        io.err << "lumisort-cli: warning: " << problem << Qt::endl;
    if (parsed.isSet(u"--json"_s) || parsed.isSet(u"--csv"_s)) {
        // Written as bytes: the spreadsheet's byte-order mark must reach the file as it is.
        const QByteArray bytes = parsed.isSet(u"--json"_s) ? report.toJson() : report.toCsv();
        io.out.flush();
        if (std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout) != size_t(bytes.size())
            || std::fflush(stdout) != 0) {
            io.err << "lumisort-cli: the report could not be written to standard output" << Qt::endl;
            return CliIo::cFailed;
        }
    } else {
        io.out << report.toText();
        io.out.flush();
    }
    return CliIo::cOk;
}
