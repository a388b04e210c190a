#pragma once

#include "CliIo.h"

class CompanionCommand
{
public:
    static QString usage();
    static int run(const QStringList &args, CliIo &io);
};
