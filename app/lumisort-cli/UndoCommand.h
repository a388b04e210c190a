#pragma once

#include "CliIo.h"

// lumisort-cli undo [--dry-run] [--] [DIR]
// Gives the photos of DIR (the working folder by default) back the names they had
// before the last reassignment run on it; run again, it redoes that run.
class UndoCommand
{
public:
    static QString usage();
    static int run(const QStringList &args, CliIo &io);
};
