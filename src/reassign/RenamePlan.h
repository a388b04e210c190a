#pragma once

#include <QList>
#include <QString>

// Renames a set of photos without ever losing or overwriting one. Renames that
// collide with each other are settled first (the first claim on a name wins);
// chains and cycles among the photos of the run (two photos swapping names) go
// through a temporary name; a photo whose rename cannot be done keeps its old
// name. Every rename refuses to replace an existing file.
class RenamePlan
{
public:
    struct Step
    {
        QString from;
        QString to;
    };
    struct Outcome
    {
        QString from;
        QString to; // intended
        QString finalPath; // where the photo is now (to, or from when it stayed)
        bool renamed = false;
        QString error; // why it stayed (empty when renamed or a no-op)
    };

    // The prefix of a photo hidden while it swaps names with another; a journaled run cut
    // short finds it again by its identity.
    static constexpr QLatin1StringView cParkPrefix {".lumisort-swap-"};

    // Outcomes in the order of the steps. Logged as "oops somethign went wrong " + error
    // for each rename that fails. A step whose new name is too long for a file name is
    // not tried; its error says so.
    static QList<Outcome> execute(const QList<Step> &steps);

    // The longest file name, in bytes, that the file systems of a work station take.
    static constexpr qsizetype cMaxNameBytes = 255;
    // The last component of path is longer than a file name can be.
    static bool isNameTooLong(const QString &path);
    // A free name that shows the photo is there ("NAME-kept-N.EXT"), for the rare photo
    // that can take neither its new name nor its old one back; empty when none is free.
    static QString visibleFallback(const QString &path);
};
