#include "UndoCommand.h"

#include "CliArguments.h"
#include "InterruptedRuns.h"
#include "reassign/ReassignUndo.h"
#include "settings/SettingsKeys.h"
#include "settings/SettingsStore.h"
#include "support/NativePath.h"
#include "support/PathUtils.h"

#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {
QString shown(const QString &path)
{
    return NativePath::forDisplay(PathUtils::fileName(path));
}

void printPlan(const ReassignUndo::Plan &plan, CliIo &io)
{
    for (const ReassignUndo::Step &step : plan.steps) {
        switch (step.kind) {
        case ReassignUndo::Kind::Rename:
        case ReassignUndo::Kind::Discard:
            io.out << shown(step.from) << " -> " << shown(step.to) << Qt::endl;
            break;
        case ReassignUndo::Kind::Restore:
            io.out << "trash -> " << shown(step.to) << Qt::endl;
            break;
        case ReassignUndo::Kind::Trash:
            io.out << shown(step.from) << " -> trash" << Qt::endl;
            break;
        }
    }
}
} // namespace

QString UndoCommand::usage()
{
    return u"usage: lumisort-cli undo [--dry-run] [--] [DIR]\n"
           "  gives the photos of DIR back the names they had before its last reassignment\n"
           "  (barcode photos come back from the trash); run again, it redoes that reassignment\n"
           "  DIR defaults to the working folder (prefSourcePath)\n"
           "  --dry-run  show what would be renamed and change nothing"_s;
}

int UndoCommand::run(const QStringList &args, CliIo &io)
{
    const CliArguments parsed(args, {{u"--dry-run"_s}});
    if (!parsed.error().isEmpty())
        return io.usageError(parsed.error(), usage());
    if (parsed.operands().size() > 1)
        return io.usageError(u"unexpected argument "_s + NativePath::forDisplay(parsed.operands().at(1)), usage());
    QString folder = parsed.operands().value(0);
    if (folder.isEmpty())
        folder = PathUtils::expandTilde(SettingsStore::standard().stringForKey(cPrefSourcePath).value_or(QString()));
    else
        folder = CliArguments::absolutePath(folder);
    struct stat info = {};
    if (folder.isEmpty() || ::stat(NativePath(folder).c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        io.err << "lumisort-cli: not a folder: " << NativePath::forDisplay(folder) << Qt::endl;
        return CliIo::cFailed;
    }

    InterruptedRuns::finish(folder, io);
    const bool dryRun = parsed.isSet(u"--dry-run"_s);
    const ReassignUndo::Report report =
        dryRun ? ReassignUndo::Report {{}, ReassignUndo::plan(folder)} : ReassignUndo::run(folder);
    if (!report.plan.isSound()) {
        io.err << "lumisort-cli: nothing undone:" << Qt::endl;
        for (const QString &reason : report.plan.refusals)
            io.err << "  " << reason << Qt::endl;
        return CliIo::cFailed;
    }
    io.out << (report.plan.mode == u"undo"_s ? "redoing " : "undoing ") << report.plan.journalPath << Qt::endl;
    if (dryRun) {
        printPlan(report.plan, io);
        return CliIo::cOk;
    }
    for (const RenamePlan::Outcome &o : report.renames) {
        if (o.renamed)
            io.out << shown(o.from) << " -> " << shown(o.finalPath) << Qt::endl;
        else if (!o.error.isEmpty())
            io.out << shown(o.from) << " kept: " << NativePath::forDisplay(o.error) << Qt::endl;
    }
    for (const QString &path : report.restored)
        io.out << "trash -> " << shown(path) << Qt::endl;
    for (const QString &path : report.trashed)
        io.out << shown(path) << " -> trash" << Qt::endl;
    for (const QString &path : report.kept)
        io.out << shown(path) << " kept: the trash would not take it (see the log)" << Qt::endl;
    for (const QString &path : report.stuck)
        io.out << shown(path) << " stays in the trash: it could not be brought back (see the log)" << Qt::endl;
    if (!report.journalError.isEmpty())
        io.err << "lumisort-cli: "
               << (report.started ? "the record of the undo could not be completed: "
                                  : "nothing undone: the journal cannot be written: ")
               << report.journalError << Qt::endl;
    if (!report.journalPath.isEmpty())
        io.out << "journal: " << report.journalPath << Qt::endl;
    return report.failed() ? CliIo::cFailed : CliIo::cOk;
}
