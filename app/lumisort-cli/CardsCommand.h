#pragma once

#include "CliIo.h"

// lumisort-cli cards --out FILE.pdf [--format code128|datamatrix|qr] [--paper a4|letter] [--id-column N] ROSTER
class CardsCommand
{
public:
    static QString usage();
    static int run(const QStringList &args, CliIo &io);
};
