#pragma once

#include "CliIo.h"

class SettingsStore;

// lumisort-cli settings [get KEY | set KEY VALUE [--type T] | remove KEY | list]
class SettingsCommand
{
public:
    static QString usage();
    static int run(const QStringList &args, SettingsStore &store, CliIo &io);
};
