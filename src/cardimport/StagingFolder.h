#pragma once

#include "support/FileResult.h"
#include "support/NativePath.h"

#include <QString>
#include <QStringList>

// Where a card's photos wait, synced and read back, until the working folder takes
// them: a folder private to the user, on the working folder's file system where
// possible. A staging folder that may hold the only copy of a photo is never
// cleared: it is kept aside under a dated name (KeptStaging).
class StagingFolder
{
public:
    // Under the user's cache folder when that shares the working folder's file system,
    // else a hidden folder of the user's beside the working folder, else the cache folder anyway.
    static QString folderFor(const QString &workingFolder);
    static QString cacheFolder();
    // The staging folders an import of this working folder may use.
    static QList<NativePath> placesFor(const NativePath &staging);
    // Folders where copies of card photos wait since an earlier import kept them (or
    // was killed while making them); a staging folder still holding files counts only
    // while no import runs.
    static QStringList keptFolders(const QString &workingFolder);

    // Made afresh and private. Photos another run left there are never cleared: the
    // card they came from may be gone, so they are kept aside (*earlierKept says where).
    static FileResult prepare(const NativePath &staging, QString *earlierKept);
    // Deletes the run's own copies (never anything of the operator's), on raw names,
    // never following links, and the folder with them.
    static FileResult removeCopies(const NativePath &folder);
    // Moves the folder out of the way of later runs, under a dated name beside it;
    // empty when it could not.
    static QString keepAside(const NativePath &staging);
    // Half-made copies and empty name claims of a run that was killed while copying: the
    // originals are still where they were copied from, so only a partial duplicate goes.
    static void removeKilledLeftovers(const NativePath &folder);
};
