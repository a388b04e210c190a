#pragma once

#include "CliIo.h"

// lumisort-cli sections [--single] [--json] DIR
class SectionsCommand
{
public:
    static QString usage();
    static int run(const QStringList &args, CliIo &io);
};
