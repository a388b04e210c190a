#include "CliRoster.h"

#include "CliArguments.h"
#include "support/NativePath.h"

using namespace Qt::StringLiterals;

bool CliRoster::readIdColumn(const CliArguments &parsed, int *column)
{
    if (!parsed.isSet(u"--id-column"_s))
        return true;
    bool ok = false;
    const int value = parsed.value(u"--id-column"_s).toInt(&ok);
    if (!ok || value < 1)
        return false;
    *column = value - 1;
    return true;
}

std::optional<Roster> CliRoster::load(const QString &path, int idColumn, Roster::Header header, CliIo &io)
{
    Roster roster = Roster::load(NativePath(path), idColumn, header);
    switch (roster.status()) {
    case Roster::Status::Loaded:
        break;
    case Roster::Status::NeedsIdColumn:
        io.err << "lumisort-cli: " << roster.error() << Qt::endl << "Its columns are:" << Qt::endl;
        for (qsizetype i = 0; i < roster.columns().size(); ++i)
            io.err << "  " << (i + 1) << ": " << roster.columns().at(i) << Qt::endl;
        io.err << "Pass --id-column N with the number of the column that holds the ids." << Qt::endl;
        return std::nullopt;
    case Roster::Status::Refused:
        io.err << "lumisort-cli: " << roster.error() << Qt::endl;
        return std::nullopt;
    }
    const QString shown = NativePath::forDisplay(path);
    for (const Roster::RowProblem &problem : roster.problems())
        io.err << "lumisort-cli: warning: " << shown << " line " << problem.line << ": " << problem.reason
               << " The row is left out." << Qt::endl;
    return roster;
}
