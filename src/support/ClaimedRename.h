#pragma once

#include "SafeFile.h"

// Renames that never replace on file systems without RENAME_NOREPLACE: a hard
// link where there are links, else a claim of the target name made with an
// exclusive create and recorded beside it, so that one left by a kill can be
// taken back by a later run.
class ClaimedRename
{
public:
    static FileResult rename(const NativePath &from, const NativePath &to);

    // The claims among a folder's entries whose records a gone process left; the records go
    // in every case (their claim is gone, no longer ours, or freed now).
    static QList<NativePath> freeStale(const NativePath &folder, const QList<SafeFileEntry> &entries, bool &removedAny);

    // Whether a live record among the folder's entries names this file.
    static bool isInProgress(const QByteArray &name, const QList<SafeFileEntry> &entries);
};
