#pragma once

#include "CliIo.h"

// lumisort-cli make-card DIR --groups N --photos M [--size WxH] [--no-exif-thumbnail] [--orientation K]
//                        [--quality Q] [--seed S] [--start-number K]
class MakeCardCommand
{
public:
    static QString usage();
    static int run(const QStringList &args, CliIo &io);
};
