#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// The two folders the operator chooses, the working folder and the destination,
// each kept as a path, a folder reference and a found flag that change together:
// the start-up check trusts the reference, so a path stored alone would be
// overwritten by the folder it replaced. Also the one rule for the places no
// photo may be kept in, whichever of the two folders is meant.
class FolderSettings
{
public:
    enum class Folder
    {
        Working,
        Destination
    };
    struct Keys
    {
        QString path;
        QString alias;
        QString valid;
    };
    static Keys keysFor(Folder folder);
    // The folder whose path is stored under the key; nothing for any other key.
    static std::optional<Folder> folderForPathKey(const QString &key);

    // Why photos may not be kept in the folder, as one sentence naming it: it is or
    // lies in a trash folder (emptying the trash deletes them without a word), it is
    // the home folder or the root folder itself, or, for the destination, it is on a
    // camera card (cards are formatted after the day). Links are resolved; a folder not
    // made yet is judged by where it would be made. Nothing when the folder may be used.
    static std::optional<QString> refusal(Folder folder, const QString &path);

    // Path, reference and flag at once, saved now. Without a reference for the path
    // (a folder still to be made) the old one goes rather than bring the old folder back.
    static void store(Folder folder, const QString &path);
    // The same for this run only (the command line's --set).
    static void storeForThisRun(Folder folder, const QString &path);
    // All three keys go.
    static void remove(Folder folder);

    // The camera folder names of "prefCameraCardFolderNames" as a card just put in is
    // checked against them: trimmed, empty parts skipped.
    static QStringList cameraFolderNames(const QString &folderNames);
    // The first of those names present as a folder directly under the volume's root.
    static std::optional<QString> cameraFolderOn(const QString &volumeRoot, const QString &folderNames);
};
