#pragma once

#include <QString>
#include <optional>

// The daily folder's name as the preferences choose it: a choice (0 none, 1 the
// default pattern, 2 to 5 the date styles, 6 the operator's own pattern) sets the
// stored pattern and today's example of it. The styles only name the example:
// the folders keep the stored pattern.
class DailyFolderChoice
{
public:
    static const QString cDefaultPattern;
    static const QString cDefaultOwnPattern;
    static const QString cNoFolderExample;

    // False when the own pattern was chosen but cannot name a folder of its own:
    // then the folders keep the last pattern that could.
    static bool apply(qint64 choice);
    // Why the own pattern typed cannot be stored; an empty one stands for the default.
    static std::optional<QString> ownPatternProblem(const QString &text);
};
