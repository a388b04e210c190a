#pragma once

#include "CliIo.h"

// lumisort-cli detect [--json] DIR|FILE...
class DetectCommand
{
public:
    static QString usage();
    static int run(const QStringList &args, CliIo &io);
};
