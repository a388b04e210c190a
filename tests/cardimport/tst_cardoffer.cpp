#include "ScopedMount.h"
#include "TestMain.h"
#include "cardimport/CardOffer.h"
#include "cardimport/VolumeInfo.h"
#include "settings/FactoryDefaults.h"
#include "settings/SettingsStore.h"
#include "support/NotificationCenter.h"
#include "support/NotificationNames.h"

#include <QDir>
#include <QMutex>

using namespace Qt::StringLiterals;

// Cards put in while no card sheet is open are noticed and offered, never imported.
class TestCardOffer : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void offersCameraCardsOnly()
    {
        FactoryDefaults::registerInto(SettingsStore::standard());
        const QString root = TestSandbox::instance().makeFolder(u"media"_s);
        VolumeInfo::setRemovableMediaRoots({root});
        QMutex lock;
        QStringList offered;
        QStringList withdrawn;
        QObject observer;
        NotificationCenter &center = NotificationCenter::defaultCenter();
        center.addObserver(&observer, NotificationNames::mycardoffered, [&](const Notification &n) {
            QMutexLocker locker(&lock);
            offered << n.userInfo.value(NotificationKeys::NSDevicePath).toString() + u'|'
                    + n.userInfo.value(NotificationKeys::volumename).toString();
        });
        center.addObserver(&observer, NotificationNames::mycardwithdrawn, [&](const Notification &n) {
            QMutexLocker locker(&lock);
            withdrawn << n.userInfo.value(NotificationKeys::NSDevicePath).toString();
        });
        const auto seen = [&](const QStringList &list) {
            QMutexLocker locker(&lock);
            return list;
        };

        CardOffer offer;
        QVERIFY(offer.start());
        // Folders made first, then mounted over themselves: the card's contents are there at the mount.
        QVERIFY(QDir().mkpath(root + u"/USB_STICK/Documents"_s));
        QVERIFY(QDir().mkpath(root + u"/EOS_DIGITAL/DCIM/100CANON"_s));
        ScopedMount stick = ScopedMount::readOnlyBind(root + u"/USB_STICK"_s);
        SKIP_UNLESS_MOUNTED(stick);
        ScopedMount card = ScopedMount::readOnlyBind(root + u"/EOS_DIGITAL"_s);
        SKIP_UNLESS_MOUNTED(card);
        QTRY_COMPARE(seen(offered), QStringList {root + u"/EOS_DIGITAL|EOS_DIGITAL"_s});

        QVERIFY(card.unmount());
        QTRY_COMPARE(seen(withdrawn), QStringList {root + u"/EOS_DIGITAL"_s});
        QCOMPARE(seen(offered).size(), 1);
        center.removeObserver(&observer);
        VolumeInfo::setRemovableMediaRoots({});
    }
};

LUMISORT_CORE_TEST_MAIN(TestCardOffer)
#include "tst_cardoffer.moc"
