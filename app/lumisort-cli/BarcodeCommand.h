#pragma once

#include "CliIo.h"

// lumisort-cli barcode NAME...
class BarcodeCommand
{
public:
    static QString usage();
    static int run(const QStringList &args, CliIo &io);
};
