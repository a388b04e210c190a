#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// Emptying a folder (the working folder, before a card fills it) into the trash, and
// the folders that are never emptied: "/", the home folder or a folder holding it, a
// mount point or a folder holding one, the destination folder or one holding it, a
// folder in the trash, and any folder the caller protects or one holding it.
class FolderClearing
{
public:
    // The root and home folders compared against. Tests give stand-ins so that a
    // guard that stopped working empties nothing that matters.
    struct ProtectedRoots
    {
        QString root;
        QString home;
        static ProtectedRoots real(); // "/" and the user's home folder
    };

    // The path as it will be met on disk: links resolved when it exists, else cleaned.
    static QString comparable(const QString &path);

    // Why the folder would not be emptied, or nothing when it would; touches nothing.
    static std::optional<QString> refusal(const QString &path, const QStringList &alsoProtected = {},
                                          const ProtectedRoots &roots = ProtectedRoots::real());
    // Empties the folder into the trash; refuses (false, reason given and logged) as
    // refusal() says. Stops at the first entry the trash does not take: nothing is ever
    // deleted outright. The folder itself is kept, so its owner, permissions and
    // identity (stored folder references) survive.
    static bool empty(const QString &path, const QStringList &alsoProtected, QString *reason,
                      const ProtectedRoots &roots = ProtectedRoots::real());
};
