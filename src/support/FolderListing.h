#pragma once

#include "SafeFile.h"

// Walks a folder on raw byte names for SafeFile::list.
class FolderListing
{
public:
    static FileResult list(const NativePath &folder, const SafeFileListOptions &options, QList<SafeFileEntry> &entries,
                           QList<FileResult> *errors);
};
