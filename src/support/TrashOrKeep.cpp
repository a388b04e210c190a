#include "TrashOrKeep.h"

#include "FreedesktopTrash.h"
#include "SafeFile.h"
#include "SystemLog.h"

using namespace Qt::StringLiterals;

TrashOrKeep::Outcome TrashOrKeep::discard(const QString &path, const QString &returnTo)
{
    Outcome outcome;
    const FreedesktopTrash::Outcome trashed = FreedesktopTrash::moveToTrash(path);
    if (trashed.result) {
        outcome.trashed = true;
        outcome.trashedFile = trashed.trashedFile.toString();
        return outcome;
    }
    outcome.trashFailure = trashed.result;
    logLine(u"oops something went wrong with trashItemAtURL  "_s + trashed.result.text());
    outcome.keptAt = path;
    if (returnTo.isEmpty())
        return outcome;
    if (const FileResult back = SafeFile::renameNoReplace(path, returnTo); back) {
        outcome.keptAt = returnTo;
        logLine(u"TrashOrKeep.... "_s + path + u" stays as "_s + returnTo);
    } else {
        logLine(u"oops somethign went wrong TrashOrKeep.... "_s + path
                + u" could go neither to the trash nor back to its old name: "_s + back.text());
    }
    return outcome;
}
