#pragma once

#include "CliIo.h"

class ImportCommand
{
public:
    static QString usage();
    static int run(const QStringList &args, CliIo &io);
};
