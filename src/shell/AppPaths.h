#pragma once

#include <QString>

// Folders the program picks by itself. The program's own temporary folder: the system temporary folder (which honours
// TMPDIR) joined with the bundle identifier. Not created here; start-up makes it.
class AppPaths
{
public:
    static QString temporaryDirectoryForThisApp();
    // The working folder of a first start: "Lumisort" in the pictures folder the desktop
    // names (xdg-user-dirs), or in ~/Pictures where it names none. Not created here.
    static QString defaultWorkingFolder();
};
