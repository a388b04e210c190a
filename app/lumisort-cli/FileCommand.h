#pragma once

#include "CliIo.h"

// lumisort-cli file [SRC [DEST]]
class FileCommand
{
public:
    static QString usage();
    static int run(const QStringList &args, CliIo &io);
};
