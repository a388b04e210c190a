#pragma once

#include <QStringList>

// Earlier versions kept the log and the reassignment journals in "~/Library/Logs/Vimo".
// Start-up moves those files into the state folder before the log is opened: nothing
// at the new place is replaced (a name already taken there gets the moved file under a
// "(moved)" name), a file that cannot be moved stays where it was, and the old folder
// (then "~/Library/Logs" and "~/Library") is removed only when nothing is left in it.
// Once the old folder is gone, later starts find nothing to do.
class StateFolderMove
{
public:
    // Moves what is there and appends what happened to the log in the state folder.
    // The lines written; none when there was nothing to move.
    static QStringList run();
};
