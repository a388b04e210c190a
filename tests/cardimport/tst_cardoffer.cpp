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
        QStringList events; // posted from the thread that looked into the card
        QObject observer;
        NotificationCenter &center = NotificationCenter::defaultCenter();
        for (const QString &name : {NotificationNames::mycardoffered, NotificationNames::mycardwithdrawn})
            center.addObserver(&observer, name, [&lock, &events, name](const Notification &n) {
                QMutexLocker locker(&lock);
                events << name + u' ' + n.userInfo.value(NotificationKeys::NSDevicePath).toString() + u'|'
                        + n.userInfo.value(NotificationKeys::volumename).toString();
            });
        const auto seen = [&] {
            QMutexLocker locker(&lock);
            return events;
        };
        const QString offered = u"mycardoffered "_s + root + u"/EOS_DIGITAL|EOS_DIGITAL"_s;

        CardOffer offer;
        QVERIFY(offer.start());
        // Folders made first, then mounted over themselves: the card's contents are there at the mount.
        QVERIFY(QDir().mkpath(root + u"/USB_STICK/Documents"_s));
        QVERIFY(QDir().mkpath(root + u"/EOS_DIGITAL/DCIM/100CANON"_s));
        ScopedMount stick = ScopedMount::readOnlyBind(root + u"/USB_STICK"_s);
        SKIP_UNLESS_MOUNTED(stick);
        ScopedMount card = ScopedMount::readOnlyBind(root + u"/EOS_DIGITAL"_s);
        SKIP_UNLESS_MOUNTED(card);
        QTRY_COMPARE(seen(), QStringList {offered});
        QVERIFY(card.unmount());
        QTRY_COMPARE(seen(), (QStringList {offered, u"mycardwithdrawn "_s + root + u"/EOS_DIGITAL|"_s}));
        center.removeObserver(&observer);
        VolumeInfo::setRemovableMediaRoots({});
    }
};

LUMISORT_CORE_TEST_MAIN(TestCardOffer)
#include "tst_cardoffer.moc"
