#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// How a mounted volume is recognised as a camera card: it holds one of the
// folders named in "prefCameraCardFolderNames" (comma-separated). The check at
// mount time and the scan of volumes already there at start-up read the list
// differently, and both differences are kept on purpose: at mount time parts
// are trimmed and empty ones skipped; at start-up they are taken literally, so
// " PRIVATE" is another name and an empty part names the volume itself.
class CameraCardRules
{
public:
    // The camera folder found on a volume just mounted (the first name present as a folder).
    static std::optional<QString> cameraFolderAtMount(const QString &devicePath, const QString &folderNames);
    static QStringList namesAtMount(const QString &folderNames);

    static bool isRecoveryVolume(const QString &devicePath); // "/Volumes/Recovery HD", any case

    // The start-up test of one entry of a volumes root: some part names an existing
    // folder on a volume the user may unmount. Every part is tried and logged.
    // No setting has no parts; an empty one has one empty part.
    static bool isCameraCard(const QString &volumeName, const QString &volumesRoot,
                             const std::optional<QString> &folderNames);

    // The first card among the volumes under the roots, in listing order;
    // entries that are themselves roots (/media/$USER inside /media) are not volumes.
    static std::optional<QString> findExistingCard(const QStringList &volumesRoots,
                                                   const std::optional<QString> &folderNames);
};
