#pragma once

#include "support/NativePath.h"

#include <QList>
#include <QString>
#include <QStringList>

// Staging folders that an import kept aside instead of clearing: the copies of a
// run that was killed, or photos that could not be put in the working folder.
// They hold copies of card photos, and may hold the only copy of one. A kept
// folder whose every file is, byte for byte, on the card or in the working
// folder holds nothing that is not elsewhere: it goes, so that kills do not pile
// up copies. Any file not shown to be elsewhere keeps the whole folder.
class KeptStaging
{
public:
    // "<staging name>-kept-<date>" (a leading dot dropped), beside the staging folder.
    static QByteArray keptPrefix(const NativePath &staging);

    // The kept folders of a staging folder, in name order (the date in the name: oldest first).
    static QStringList foldersBeside(const NativePath &staging);

    struct Kept
    {
        QString folder;
        QString reason; // the first file that is not elsewhere, and why
    };
    struct Sweep
    {
        QStringList removed;
        QList<Kept> kept;
    };

    // Removes each of the folders whose every file is byte-identical to one of the files
    // of elsewhere (the card's files and the working folder's): those files are
    // deleted outright, being this program's own scratch copies. Any other folder is
    // left exactly as it was.
    static Sweep clear(const QStringList &folders, const QList<NativePath> &elsewhere);
};
