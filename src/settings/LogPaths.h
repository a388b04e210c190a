#pragma once

#include <QString>

// Where the program keeps its own records: the log "<bundle name>.log", the rolled-over
// "_old.log" beside it and the reassignment journals, all in "$XDG_STATE_HOME/Lumisort"
// ("~/.local/state/Lumisort" when the variable is unset or not an absolute path).
class LogPaths
{
public:
    static QString stateFolder();
    static QString logFolder();
    static QString logFile();
    static QString oldLogFile();
    static QString journalFolder();
    // Where earlier versions kept all of it; start-up moves it over (StateFolderMove).
    static QString formerLogFolder();
};
