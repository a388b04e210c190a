#pragma once

#include <QString>

// The program's own temporary folder: the system temporary folder (which honours
// TMPDIR) joined with the bundle identifier. Not created here; start-up makes it.
class AppPaths
{
public:
    static QString temporaryDirectoryForThisApp();
};
