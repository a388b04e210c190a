#pragma once

#include "CliIo.h"
#include "roster/Roster.h"

#include <optional>

class CliArguments;

// A roster named on the command line, read the one way every verb that takes one reports it:
// the columns to choose from when no header names the ids, a refusal, and each row left out as
// a warning (the rest of the roster is used).
class CliRoster
{
public:
    // --id-column N, counted from 1 as people count, into a column index; column is left as it is
    // when the option is not given. False when its value is no column number.
    static bool readIdColumn(const CliArguments &parsed, int *column);
    static std::optional<Roster> load(const QString &path, int idColumn, Roster::Header header, CliIo &io);
};
