#pragma once

#include <QString>
#include <QStringList>

// Hands files and folders to the desktop: open with the default application,
// or show them selected in the file manager. Tests record instead of opening.
class DesktopOpener
{
public:
    static bool openFile(const QString &path);
    // Selects the items in the file manager (FileManager1 over D-Bus); where no file
    // manager answers, opens their folder instead.
    static bool revealInFileManager(const QStringList &paths);

    static void setTestMode(bool on);
    static QStringList openedForTesting();
    static QStringList revealedForTesting();
};
