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

    // Outcomes in the order of the steps. Logged as "oops somethign went wrong " + error
    // for each rename that fails.
    static QList<Outcome> execute(const QList<Step> &steps);
};
