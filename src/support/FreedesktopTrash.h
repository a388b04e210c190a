#pragma once

#include "FileResult.h"
#include "NativePath.h"

#include <QDateTime>
#include <optional>

// Moving a file to the user's trash the way freedesktop.org desktops share
// it: the home trash ($XDG_DATA_HOME/Trash) for files on
// the home trash's file system, the volume's own "$topdir/.Trash/$uid" or
// "$topdir/.Trash-$uid" for files elsewhere. Success is reported only when the
// file is really in the trash; the caller decides what to do otherwise.
class FreedesktopTrash
{
public:
    struct Outcome
    {
        FileResult result;
        NativePath trashedFile; // where the file is now (…/files/name)
        NativePath infoFile; // its .trashinfo
    };

    static Outcome moveToTrash(const NativePath &path, const QDateTime &deletionDate = QDateTime::currentDateTime());
    // Takes a trashed file ("…/files/name") back out to the given path, never replacing
    // what is there, then drops its .trashinfo.
    static FileResult restore(const NativePath &trashedFile, const NativePath &to);

    // The trash folder ("…/Trash") that would take a file at this path, without creating it.
    static NativePath trashFolderFor(const NativePath &path);
    static NativePath homeTrash();
    // The trash folder the path is or lies in: the home trash (wherever the session puts
    // it) or a volume's ".Trash" or ".Trash-$uid" at any depth, since a trash of another
    // user or an unmounted topdir is no safer. Links are resolved first; nothing when the
    // path is in no trash.
    static std::optional<NativePath> trashHolding(const NativePath &path);
};
