#include "UDisks2Client.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QVariantMap>

using namespace Qt::StringLiterals;

const QString UDisks2Client::cService = u"org.freedesktop.UDisks2"_s;

namespace {

const QString kBlock = u"org.freedesktop.UDisks2.Block"_s;
const QString kFilesystem = u"org.freedesktop.UDisks2.Filesystem"_s;
const QString kDrive = u"org.freedesktop.UDisks2.Drive"_s;

// UDisks2 sends paths as NUL-terminated byte arrays.
QByteArray withoutNul(QByteArray bytes)
{
    while (bytes.endsWith('\0'))
        bytes.chop(1);
    return bytes;
}

// "aay" arrives as a D-Bus argument still to be taken apart, or already as a list
// when the type was registered by someone else in the process.
QByteArrayList byteArrays(const QVariant &value)
{
    QByteArrayList out;
    if (value.metaType() == QMetaType::fromType<QDBusArgument>()) {
        const QDBusArgument argument = value.value<QDBusArgument>();
        argument.beginArray();
        while (!argument.atEnd()) {
            QByteArray item;
            argument >> item;
            out.append(withoutNul(item));
        }
        argument.endArray();
    } else {
        for (const QByteArray &item : value.value<QByteArrayList>())
            out.append(withoutNul(item));
    }
    return out;
}

QString objectPath(const QVariant &value)
{
    if (value.metaType() == QMetaType::fromType<QDBusObjectPath>())
        return value.value<QDBusObjectPath>().path();
    return value.toString();
}

QString trimmedText(const QVariant &value)
{
    return value.toString().trimmed();
}

} // namespace

UDisks2Client::UDisks2Client(const QDBusConnection &bus)
    : m_bus(bus)
{ }

bool UDisks2Client::isRunning() const
{
    const QDBusConnectionInterface *bus = m_bus.isConnected() ? m_bus.interface() : nullptr;
    return bus && bus->isServiceRegistered(cService).value();
}

bool UDisks2Client::load(QString *error)
{
    m_blocks.clear();
    m_drives.clear();
    if (!m_bus.isConnected()) {
        if (error)
            *error = u"no D-Bus connection: "_s + m_bus.lastError().message();
        return false;
    }
    const QDBusMessage call = QDBusMessage::createMethodCall(
        cService, u"/org/freedesktop/UDisks2"_s, u"org.freedesktop.DBus.ObjectManager"_s, u"GetManagedObjects"_s);
    const QDBusMessage reply = m_bus.call(call, QDBus::Block, 5000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        if (error)
            *error = reply.errorName() + u": "_s + reply.errorMessage();
        return false;
    }
    const QDBusArgument objects = reply.arguments().constFirst().value<QDBusArgument>();
    objects.beginMap();
    while (!objects.atEnd()) {
        objects.beginMapEntry();
        QDBusObjectPath path;
        objects >> path;
        QHash<QString, QVariantMap> interfaces;
        objects.beginMap();
        while (!objects.atEnd()) {
            objects.beginMapEntry();
            QString name;
            QVariantMap properties;
            objects >> name >> properties;
            objects.endMapEntry();
            interfaces.insert(name, properties);
        }
        objects.endMap();
        objects.endMapEntry();

        if (interfaces.contains(kBlock)) {
            const QVariantMap block = interfaces.value(kBlock);
            Block b;
            b.objectPath = path.path();
            b.device = withoutNul(block.value(u"Device"_s).toByteArray());
            b.idLabel = trimmedText(block.value(u"IdLabel"_s));
            b.drivePath = objectPath(block.value(u"Drive"_s));
            if (interfaces.contains(kFilesystem))
                b.mountPoints = byteArrays(interfaces.value(kFilesystem).value(u"MountPoints"_s));
            m_blocks.append(b);
        }
        if (interfaces.contains(kDrive)) {
            const QVariantMap drive = interfaces.value(kDrive);
            Drive d;
            d.objectPath = path.path();
            d.vendor = trimmedText(drive.value(u"Vendor"_s));
            d.model = trimmedText(drive.value(u"Model"_s));
            d.canPowerOff = drive.value(u"CanPowerOff"_s).toBool();
            d.removable = drive.value(u"Removable"_s).toBool() || drive.value(u"MediaRemovable"_s).toBool();
            m_drives.insert(d.objectPath, d);
        }
    }
    objects.endMap();
    return true;
}

std::optional<UDisks2Client::Block> UDisks2Client::blockMountedAt(const QByteArray &mountPoint) const
{
    for (const Block &b : m_blocks) {
        if (b.mountPoints.contains(mountPoint))
            return b;
    }
    return std::nullopt;
}

std::optional<UDisks2Client::Block> UDisks2Client::blockForDevice(const QByteArray &deviceNode) const
{
    for (const Block &b : m_blocks) {
        if (b.device == deviceNode)
            return b;
    }
    return std::nullopt;
}

std::optional<UDisks2Client::Drive> UDisks2Client::drive(const QString &objectPath) const
{
    const auto it = m_drives.constFind(objectPath);
    if (it == m_drives.constEnd())
        return std::nullopt;
    return *it;
}

bool UDisks2Client::callWithOptions(const QString &path, const QString &interface, const QString &method, int timeoutMs,
                                    QString *error) const
{
    QDBusMessage call = QDBusMessage::createMethodCall(cService, path, interface, method);
    call << QVariantMap();
    const QDBusMessage reply = m_bus.call(call, QDBus::Block, timeoutMs);
    if (reply.type() == QDBusMessage::ReplyMessage)
        return true;
    if (error)
        *error = reply.errorName() + u": "_s + reply.errorMessage();
    return false;
}

bool UDisks2Client::unmount(const QString &blockPath, QString *error) const
{
    // A card still flushing its last writes can take a while to let go.
    return callWithOptions(blockPath, kFilesystem, u"Unmount"_s, 60000, error);
}

bool UDisks2Client::powerOff(const QString &drivePath, QString *error) const
{
    return callWithOptions(drivePath, kDrive, u"PowerOff"_s, 20000, error);
}
