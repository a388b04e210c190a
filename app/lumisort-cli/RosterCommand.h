#pragma once

#include "CliIo.h"

// lumisort-cli roster
class RosterCommand
{
public:
    static QString usage();
    static int run(const QStringList &args, CliIo &io);
};
