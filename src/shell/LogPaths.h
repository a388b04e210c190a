#pragma once

#include <QString>

// Where the program's log lives: "~/Library/Logs/Vimo/<bundle name>.log" and the
// rolled-over "_old.log" beside it.
class LogPaths
{
public:
    static QString logFolder();
    static QString logFile();
    static QString oldLogFile();
};
