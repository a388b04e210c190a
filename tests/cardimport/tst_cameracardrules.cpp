#include "TestMain.h"
#include "cardimport/CameraCardRules.h"
#include "cardimport/VolumeInfo.h"

#include <QDir>

using namespace Qt::StringLiterals;

// The two readings of "prefCameraCardFolderNames", on folders standing for volumes.
class TestCameraCardRules : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cardAtMountAndAtStartUp_data()
    {
        QTest::addColumn<std::optional<QString>>("names");
        QTest::addColumn<QString>("folder"); // on the card; "file:" makes a plain file
        QTest::addColumn<bool>("userVolume"); // the volumes root is a removable-media root
        QTest::addColumn<bool>("atMount");
        QTest::addColumn<bool>("atStartUp");

        const auto row = [](const char *name, const std::optional<QString> &names, const QString &folder,
                            bool userVolume, bool atMount, bool atStartUp) {
            QTest::newRow(name) << names << folder << userVolume << atMount << atStartUp;
        };
        const std::optional<QString> two = u"DCIM,PRIVATE"_s, trailing = u"DCIM,PRIVATE,"_s;
        row("camera folder", two, u"DCIM"_s, true, true, true);
        row("second name", two, u"PRIVATE"_s, true, true, true);
        row("space after comma: trimmed at mount only", u"DCIM, PRIVATE"_s, u"PRIVATE"_s, true, true, false);
        row("line ends around a name", u" \r\n DCIM \r\n"_s, u"DCIM"_s, true, true, false);
        row("trailing comma: the volume itself at start-up", trailing, u"MISC"_s, true, false, true);
        row("trailing comma on a volume the user may not unmount", trailing, u"MISC"_s, false, false, false);
        row("camera folder on a volume the user may not unmount", u"DCIM"_s, u"DCIM"_s, false, true, false);
        row("a plain file named like a camera folder", two, u"file:DCIM"_s, true, false, false);
        row("names are case-sensitive", u"DCIM"_s, u"dcim"_s, true, false, false);
        row("no setting", std::nullopt, u"DCIM"_s, true, false, false);
        row("empty setting: the volume itself at start-up", u""_s, u"MISC"_s, true, false, true);
    }
    void cardAtMountAndAtStartUp()
    {
        QFETCH(std::optional<QString>, names);
        QFETCH(QString, folder);
        QFETCH(bool, userVolume);
        QFETCH(bool, atMount);
        QFETCH(bool, atStartUp);
        const QString root = TestSandbox::instance().makeFolder(u"volumes"_s);
        VolumeInfo::setRemovableMediaRoots({userVolume ? root : TestSandbox::instance().makeFolder(u"other-root"_s)});
        const QString volume = root + u"/EOS_DIGITAL"_s;
        if (folder.startsWith(u"file:"_s))
            QVERIFY(writeFile(volume + u'/' + folder.mid(5), "x"));
        else
            QVERIFY(QDir().mkpath(volume + u'/' + folder));

        QCOMPARE(CameraCardRules::cameraFolderAtMount(volume, names.value_or(QString())).has_value(), atMount);
        QCOMPARE(CameraCardRules::isCameraCard(u"EOS_DIGITAL"_s, root, names), atStartUp);
        QCOMPARE(CameraCardRules::findExistingCard({root}, names), atStartUp ? std::optional(volume) : std::nullopt);
    }
    void startUpTakesTheFirstCardInNameOrder()
    {
        const QString media = TestSandbox::instance().makeFolder(u"media"_s);
        const QString user = media + u"/operator"_s;
        VolumeInfo::setRemovableMediaRoots({user, media});
        QVERIFY(QDir().mkpath(user + u"/B_CARD/DCIM"_s));
        QVERIFY(QDir().mkpath(user + u"/A_STICK/Documents"_s));
        QVERIFY(QDir().mkpath(media + u"/z_CARD/DCIM"_s));
        QCOMPARE(CameraCardRules::findExistingCard({user, media}, u"DCIM"_s), user + u"/B_CARD"_s);
        // /media holds /media/$USER, which is a root, not a volume, even for an empty part.
        QCOMPARE(CameraCardRules::findExistingCard({media, user}, u"DCIM,"_s), media + u"/z_CARD"_s);
        QCOMPARE(CameraCardRules::findExistingCard({user, media}, u"DCIM,"_s), user + u"/A_STICK"_s);
    }
};

LUMISORT_CORE_TEST_MAIN(TestCameraCardRules)
#include "tst_cameracardrules.moc"
