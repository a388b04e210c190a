#pragma once

#include <QDBusConnection>
#include <QString>
#include <functional>

// Unmounting a card and powering its reader down once the photos are copied.
// Only a mount point that the user may unmount (see VolumeInfo) is touched,
// so a stale path in the settings can never unmount the system's own folders.
// Blocks until done: call it off the main thread. Results are logged, never shown.
class VolumeEjector
{
public:
    struct Result
    {
        bool unmounted = false;
        bool poweredOff = false;
        QString method; // "udisks2", "umount2", "umount", or empty when nothing was tried
        QString message; // what happened, for the log
    };

    static Result unmountAndEjectDeviceAtPath(const QString &path);
    // The same over a given bus (tests run a private one with a stand-in UDisks2).
    static Result unmountAndEjectDeviceAtPath(const QString &path, const QDBusConnection &bus);

    // Tests replace the whole operation; an empty function restores it.
    using Handler = std::function<Result(const QString &path)>;
    static void setHandlerForTesting(Handler handler);
};
