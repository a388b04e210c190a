#pragma once

#include "CliIo.h"

// lumisort-cli companion: what start-up would import from the companion's settings file.
class CompanionCommand
{
public:
    static QString usage();
    static int run(const QStringList &args, CliIo &io);
};
