#pragma once

#include "FileResult.h"

#include <QString>

// What a run or the operator discards leaves its folder only through the trash.
// When the trash does not take a file it is never deleted in its place: it stays
// (back under the name it had before the run, when one is given, so that nothing
// takes it for what it was renamed to) and the caller reports it.
class TrashOrKeep
{
public:
    struct Outcome
    {
        bool trashed = false;
        QString trashedFile; // in the trash, when trashed
        QString keptAt; // where it stays, when not trashed
        FileResult trashFailure; // why the trash did not take it
    };

    static Outcome discard(const QString &path, const QString &returnTo = {});
};
