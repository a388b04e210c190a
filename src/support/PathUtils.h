#pragma once

#include <QString>

// Path text helpers shared by the settings, the log and the folder rules.
class PathUtils
{
public:
    // "~" and "~/x" become the home folder ("~user" is left alone).
    static QString expandTilde(const QString &path);
    // Tilde expanded, "." and ".." resolved, no trailing "/" (symbolic links untouched).
    static QString standardize(const QString &path);
    // The last path component without its last extension ("a.b.jpg" gives "a.b").
    static QString baseName(const QString &pathOrName);
    // The last path component.
    static QString fileName(const QString &path);
    // realpath(3) on the path's bytes (links and "." / ".." resolved, lossless for
    // names that are not UTF-8); empty when the path does not exist.
    static QString resolvedPath(const QString &path);
};
