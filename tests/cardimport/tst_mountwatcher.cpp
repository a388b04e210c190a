#include "ScopedMount.h"
#include "TestMain.h"
#include "cardimport/MountWatcher.h"
#include "cardimport/VolumeEjector.h"
#include "cardimport/VolumeInfo.h"
#include "support/MountTable.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVirtualObject>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QThread>
#include <sys/mount.h>

using namespace Qt::StringLiterals;

using UDisksInterfaces = QMap<QString, QVariantMap>;
using UDisksObjects = QMap<QDBusObjectPath, UDisksInterfaces>;
Q_DECLARE_METATYPE(UDisksInterfaces)
Q_DECLARE_METATYPE(UDisksObjects)

namespace {

bool isMounted(const QString &folder)
{
    const std::optional<MountTable> table = MountTable::read();
    return table && table->mountAt(QFile::encodeName(folder)).has_value();
}

// A stand-in UDisks2 on a private bus: one card reader holding the card at mountPoint.
class FakeUDisks2 : public QDBusVirtualObject
{
public:
    QByteArray mountPoint;
    QStringList calls;
    QString introspect(const QString &) const override { return {}; }
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
    {
        calls << message.path() + u' ' + message.member();
        if (message.member() == u"GetManagedObjects"_s) {
            const auto block = [](const QByteArray &device, const QByteArray &point) {
                return UDisksInterfaces {
                    {u"org.freedesktop.UDisks2.Block"_s,
                     {{u"Device"_s, QByteArray(device + '\0')},
                      {u"IdLabel"_s, u"EOS_DIGITAL"_s},
                      {u"Drive"_s, QVariant::fromValue(QDBusObjectPath(u"/org/freedesktop/UDisks2/drives/Reader"_s))}}},
                    {u"org.freedesktop.UDisks2.Filesystem"_s,
                     {{u"MountPoints"_s, QVariant::fromValue(QByteArrayList {point + '\0'})}}}};
            };
            const UDisksObjects objects {
                {QDBusObjectPath(u"/org/freedesktop/UDisks2/block_devices/sda1"_s), block("/dev/sda1", "/")},
                {QDBusObjectPath(u"/org/freedesktop/UDisks2/block_devices/sdz1"_s), block("/dev/sdz1", mountPoint)},
                {QDBusObjectPath(u"/org/freedesktop/UDisks2/drives/Reader"_s),
                 {{u"org.freedesktop.UDisks2.Drive"_s, {{u"CanPowerOff"_s, true}, {u"Model"_s, u"Reader"_s}}}}}};
            connection.send(message.createReply(QVariant::fromValue(objects)));
        } else {
            if (message.member() == u"Unmount"_s)
                ::umount2(mountPoint.constData(), 0);
            connection.send(message.createReply());
        }
        return true;
    }
};

} // namespace

// Mounts as the kernel reports them, the facts of a volume, and ejecting it.
class TestMountWatcher : public QObject
{
    Q_OBJECT

private Q_SLOTS:

    // Only a mount under the removable-media root is reported, and only such a mount is ejected.
    void seesAndEjectsOnlyUserVolumes()
    {
        const QString root = TestSandbox::instance().makeFolder(u"media"_s);
        VolumeInfo::setRemovableMediaRoots({root});
        MountWatcher watcher(MountTable::defaultPath(), {root});
        QVERIFY(watcher.start());
        QSignalSpy mounted(&watcher, &MountWatcher::mounted);
        QSignalSpy unmounted(&watcher, &MountWatcher::unmounted);

        ScopedMount elsewhere = ScopedMount::tmpfs(TestSandbox::instance().makeFolder(u"elsewhere"_s));
        SKIP_UNLESS_MOUNTED(elsewhere);
        const QString cardFolder = root + u"/EOS_DIGITAL"_s;
        ScopedMount card = ScopedMount::tmpfs(cardFolder);
        SKIP_UNLESS_MOUNTED(card);
        QTRY_COMPARE(mounted.size(), 1);
        QCOMPARE(mounted.first().first().toString(), cardFolder);
        QCOMPARE(watcher.currentMounts(), QStringList {cardFolder});

        const QString folder = root + u"/FOLDER"_s; // no mount point
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(!VolumeEjector::unmountAndEjectDeviceAtPath(folder).unmounted);
        QVERIFY(!isMounted(folder));
        QVERIFY(!VolumeEjector::unmountAndEjectDeviceAtPath(elsewhere.folder()).unmounted);
        QVERIFY(isMounted(elsewhere.folder()));
        QVERIFY(VolumeEjector::unmountAndEjectDeviceAtPath(cardFolder).unmounted);
        QVERIFY(!isMounted(cardFolder));
        QVERIFY(elsewhere.unmount());
        QTRY_COMPARE(unmounted.size(), 1);
        QCOMPARE(unmounted.first().first().toString(), cardFolder);
        QCOMPARE(mounted.size(), 1);
    }

    void ejectThroughUDisks2()
    {
        qDBusRegisterMetaType<QByteArrayList>();
        qDBusRegisterMetaType<UDisksInterfaces>();
        qDBusRegisterMetaType<UDisksObjects>();
        QProcess daemon;
        daemon.start(u"dbus-daemon"_s, {u"--session"_s, u"--nofork"_s, u"--print-address=1"_s});
        if (!daemon.waitForStarted(5000))
            QSKIP("dbus-daemon is not available");
        QVERIFY(daemon.waitForReadyRead(5000));
        const QString address = QString::fromUtf8(daemon.readLine().trimmed());
        const auto stopDaemon = qScopeGuard([&daemon] {
            daemon.kill();
            daemon.waitForFinished(3000);
        });

        const QString root = TestSandbox::instance().makeFolder(u"media"_s);
        VolumeInfo::setRemovableMediaRoots({root});
        ScopedMount card = ScopedMount::tmpfs(root + u"/CARD"_s);
        SKIP_UNLESS_MOUNTED(card);

        FakeUDisks2 udisks;
        udisks.mountPoint = QFile::encodeName(root + u"/CARD"_s);
        QDBusConnection service = QDBusConnection::connectToBus(address, u"udisks"_s);
        QVERIFY(service.registerVirtualObject(u"/org/freedesktop/UDisks2"_s, &udisks, QDBusConnection::SubPath));
        QVERIFY(service.registerService(u"org.freedesktop.UDisks2"_s));
        const QDBusConnection client = QDBusConnection::connectToBus(address, u"client"_s);

        // The stand-in answers on this thread, so the eject runs on another, as in the program.
        VolumeEjector::Result result;
        QThread *ejecting =
            QThread::create([&] { result = VolumeEjector::unmountAndEjectDeviceAtPath(root + u"/CARD/"_s, client); });
        ejecting->start();
        QVERIFY(waitUntil([&] { return ejecting->isFinished(); }, 20000));
        delete ejecting;

        QCOMPARE(result.method, u"udisks2"_s);
        QVERIFY2(result.unmounted && result.poweredOff, qPrintable(result.message));
        QCOMPARE(udisks.calls,
                 (QStringList {u"/org/freedesktop/UDisks2 GetManagedObjects"_s,
                               u"/org/freedesktop/UDisks2/block_devices/sdz1 Unmount"_s,
                               u"/org/freedesktop/UDisks2/drives/Reader PowerOff"_s}));
        QVERIFY(!isMounted(root + u"/CARD"_s));
        QDBusConnection::disconnectFromBus(u"client"_s);
        QDBusConnection::disconnectFromBus(u"udisks"_s);
    }
};

LUMISORT_CORE_TEST_MAIN(TestMountWatcher)
#include "tst_mountwatcher.moc"
