#pragma once

#include "support/FileResult.h"
#include "support/NativePath.h"
#include "support/SafeFile.h"

#include <QByteArray>
#include <QString>
#include <optional>

// Puts one photo into a destination folder that other work stations may be
// filing into at the same moment, and never replaces or removes anything there.
// When the name is taken, a byte-identical file means the photo is already
// filed (only then is the working copy removed); a different file sends the
// photo to the first free numbered name ("123_IMG_0004-2.JPG"), claimed by a
// rename that refuses to replace, so two stations never take the same name.
// A name that another station has claimed and is about to rename over is waited
// for, so a photo both stations file lands once.
class FilePlacement
{
public:
    enum class Outcome
    {
        Moved, // under its own name
        MovedUnderNewName, // a different file had its name
        AlreadyFiled, // an identical file had its name; the working copy is gone
        Failed
    };
    struct Result
    {
        Outcome outcome = Outcome::Failed;
        NativePath target; // where the photo is now (for a failure: the name last tried)
        QString reason; // for a failure
    };

    static Result place(const NativePath &file, const NativePath &folder, const QByteArray &name,
                        const SafeFileCopyOptions &options);

    // "name-2.ext" for 2: the barcode id stays in front and the extension at the end.
    // Nothing when the name would grow past what a file system allows.
    static std::optional<QByteArray> numberedName(const QByteArray &name, int number);

    enum class Comparison
    {
        Identical,
        Different, // includes anything that is not a regular file
        SameFile, // one file under two names: never a reason to remove either
        Unreadable
    };
    // Compares two files byte for byte (symbolic links are not followed).
    static Comparison compare(const NativePath &a, const NativePath &b, FileResult *error = nullptr);
};
