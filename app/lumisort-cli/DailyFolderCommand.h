#pragma once

#include "CliIo.h"

// lumisort-cli daily-folder
class DailyFolderCommand
{
public:
    static QString usage();
    static int run(const QStringList &args, CliIo &io);
};
