#include "FileCommand.h"

#include "CliArguments.h"
#include "InterruptedRuns.h"
#include "filing/DestinationPathRules.h"
#include "filing/FilingRun.h"
#include "settings/SettingsKeys.h"
#include "settings/SettingsStore.h"
#include "support/NativePath.h"
#include "support/PathUtils.h"

#include <QDir>
#include <QFileInfo>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

QString FileCommand::usage()
{
    return u"usage: lumisort-cli file [--] [SRC [DEST]]\n"
           "  SRC defaults to the working folder (prefSourcePath), DEST to today's destination folder\n"
           "  files the photos that carry a barcode; photos with none stay or go to UNASSIGNED_PHOTOS (as the\n"
           "  settings say), files that are not photos stay; exit status 1 when a file could not be moved"_s;
}

int FileCommand::run(const QStringList &args, CliIo &io)
{
    const CliArguments parsed(args, {});
    if (!parsed.error().isEmpty())
        return io.usageError(parsed.error(), usage());
    const QStringList operands = parsed.operands();
    if (operands.size() > 2)
        return io.usageError(u"bad arguments for file"_s, usage());
    QString source = operands.value(0);
    if (source.isEmpty())
        source = PathUtils::expandTilde(SettingsStore::standard().stringForKey(cPrefSourcePath).value_or(QString()));
    QString destination = operands.value(1);
    if (destination.isEmpty())
        destination = DestinationPathRules::formPathToImageInsideMainImagesFolder(QString()).value_or(QString());
    // Paths typed on the command line mean what a shell means by them ("../x"); the
    // destination worked out from the settings is passed on as it is, for the run to judge.
    if (!source.isEmpty())
        source = QDir::cleanPath(QFileInfo(source).absoluteFilePath());
    if (!operands.value(1).isEmpty())
        destination = QDir::cleanPath(QFileInfo(destination).absoluteFilePath());
    struct stat sourceInfo = {};
    if (source.isEmpty() || ::stat(NativePath(source).c_str(), &sourceInfo) != 0 || !S_ISDIR(sourceInfo.st_mode)) {
        io.err << "lumisort-cli: no working folder to file from: "
               << (source.isEmpty() ? u"none is set (prefSourcePath)"_s : source) << Qt::endl;
        return CliIo::cFailed;
    }
    if (destination.isEmpty()) {
        io.err << "lumisort-cli: no destination folder is set (prefDestinationPath)" << Qt::endl;
        return CliIo::cFailed;
    }
    InterruptedRuns::finish(source, io);
    io.out << "filing " << source << " into " << destination << Qt::endl;
    const auto placement = [](const FilingRun::Event &e) -> QString {
        switch (e.placement) {
        case FilingRun::Placement::AsNamed:
            break;
        case FilingRun::Placement::UnderNewName:
            return u"\tnew name: a different photo already had its name"_s;
        case FilingRun::Placement::AlreadyFiled:
            return u"\talready filed: an identical copy was there; the working copy was removed"_s;
        }
        return {};
    };
    const FilingRun::Result result = FilingRun::run(source, destination, [&io, &placement](const FilingRun::Event &e) {
        switch (e.kind) {
        case FilingRun::EventKind::Moving:
            break;
        case FilingRun::EventKind::Moved:
            io.out << "moved\t" << e.name << '\t' << e.target << placement(e) << Qt::endl;
            break;
        case FilingRun::EventKind::MovedUnassigned:
            io.out << "unassigned\t" << e.name << '\t' << e.target << placement(e) << Qt::endl;
            break;
        case FilingRun::EventKind::LeftInPlace:
            io.out << "left\t" << e.name << '\t' << e.detail << Qt::endl;
            break;
        case FilingRun::EventKind::Failed:
            io.out << "FAILED\t" << e.name << '\t' << e.detail << Qt::endl;
            break;
        }
    });
    if (!result.summary) {
        io.err << "lumisort-cli: the run stopped: " << result.reason << Qt::endl;
        return CliIo::cFailed;
    }
    io.out << result.summary->title << Qt::endl << result.summary->text << Qt::endl;
    return result.summary->failures == 0 ? CliIo::cOk : CliIo::cFailed;
}
