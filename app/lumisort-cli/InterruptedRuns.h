#pragma once

#include "CliIo.h"

#include <QString>

// Every verb that acts on a folder first finishes the runs on it that a kill or a power
// cut left half done, and tells the operator on standard error.
class InterruptedRuns
{
public:
    static void finish(const QString &folder, CliIo &io);
};
