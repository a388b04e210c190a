#pragma once

#include "CliIo.h"

// lumisort-cli thumbs [--out DIR] PATH...
class ThumbsCommand
{
public:
    static QString usage();
    static int run(const QStringList &args, CliIo &io);
};
