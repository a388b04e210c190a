#pragma once

#include "CliIo.h"

// lumisort-cli reassign (--barcode B | --unknown) [--] FILE...
// lumisort-cli auto [--reverse] [--dry-run] [--] DIR CODE-PHOTO=BARCODE...
// lumisort-cli auto --detect [--reverse] [--dry-run] [--] DIR
// A barcode that BarcodeText refuses is a bad argument: nothing is renamed. With
// --detect the barcodes read from the photos stand for the typed ones.
class ReassignCommand
{
public:
    static QString usage();
    static int runOneBarcode(const QStringList &args, CliIo &io);
    static int runAutomatic(const QStringList &args, CliIo &io);
};
