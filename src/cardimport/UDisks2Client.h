#pragma once

#include <QByteArrayList>
#include <QDBusConnection>
#include <QHash>
#include <QString>
#include <optional>

// The few UDisks2 calls the card import needs, on whichever bus it is given
// (the system bus in the program, a private bus in tests). Every call has a
// timeout and reports failure as text: the program works without UDisks2.
class UDisks2Client
{
public:
    static const QString cService; // "org.freedesktop.UDisks2"

    struct Block
    {
        QString objectPath;
        QByteArray device; // "/dev/sdb1"
        QByteArrayList mountPoints;
        QString idLabel;
        QString drivePath; // "/" when the block has no drive
    };
    struct Drive
    {
        QString objectPath;
        QString vendor;
        QString model;
        bool canPowerOff = false;
        bool removable = false;
    };

    explicit UDisks2Client(const QDBusConnection &bus = QDBusConnection::systemBus());

    // Whether UDisks2 is running now (asking does not start it).
    bool isRunning() const;
    // Reads every UDisks2 object in one call (starting UDisks2 where the bus can);
    // false, with the reason, when UDisks2 is not there.
    bool load(QString *error = nullptr);
    std::optional<Block> blockMountedAt(const QByteArray &mountPoint) const;
    std::optional<Block> blockForDevice(const QByteArray &deviceNode) const;
    std::optional<Drive> drive(const QString &objectPath) const;

    bool unmount(const QString &blockPath, QString *error) const;
    bool powerOff(const QString &drivePath, QString *error) const;

private:
    bool callWithOptions(const QString &path, const QString &interface, const QString &method, int timeoutMs,
                         QString *error) const;
    QDBusConnection m_bus;
    QList<Block> m_blocks;
    QHash<QString, Drive> m_drives;
};
