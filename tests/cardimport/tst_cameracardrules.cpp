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
        QTest::addColumn<QStringList>("folders"); // on the card; "file:" makes a plain file
        QTest::addColumn<bool>("userVolume"); // the volumes root is a removable-media root
        QTest::addColumn<bool>("atMount");
        QTest::addColumn<bool>("atStartUp");

        QTest::newRow("camera folder") << std::optional(u"DCIM,PRIVATE"_s) << QStringList {u"DCIM"_s} << true << true
                                       << true;
        QTest::newRow("second name") << std::optional(u"DCIM,PRIVATE"_s) << QStringList {u"PRIVATE"_s} << true << true
                                     << true;
        QTest::newRow("space after comma: trimmed at mount only")
            << std::optional(u"DCIM, PRIVATE"_s) << QStringList {u"PRIVATE"_s} << true << true << false;
        QTest::newRow("line ends around a name")
            << std::optional(u" \r\n DCIM \r\n"_s) << QStringList {u"DCIM"_s} << true << true << false;
        QTest::newRow("trailing comma: the volume itself at start-up")
            << std::optional(u"DCIM,PRIVATE,"_s) << QStringList {u"MISC"_s} << true << false << true;
        QTest::newRow("trailing comma on a volume the user may not unmount")
            << std::optional(u"DCIM,PRIVATE,"_s) << QStringList {u"MISC"_s} << false << false << false;
        QTest::newRow("camera folder on a volume the user may not unmount")
            << std::optional(u"DCIM"_s) << QStringList {u"DCIM"_s} << false << true << false;
        QTest::newRow("a plain file named like a camera folder")
            << std::optional(u"DCIM,PRIVATE"_s) << QStringList {u"file:DCIM"_s} << true << false << false;
        QTest::newRow("names are case-sensitive")
            << std::optional(u"DCIM"_s) << QStringList {u"dcim"_s} << true << false << false;
        QTest::newRow("no setting") << std::optional<QString>() << QStringList {u"DCIM"_s} << true << false << false;
        QTest::newRow("empty setting: the volume itself at start-up")
            << std::optional(u""_s) << QStringList {u"MISC"_s} << true << false << true;
    }
    void cardAtMountAndAtStartUp()
    {
        QFETCH(std::optional<QString>, names);
        QFETCH(QStringList, folders);
        QFETCH(bool, userVolume);
        QFETCH(bool, atMount);
        QFETCH(bool, atStartUp);
        const QString root = TestSandbox::instance().makeFolder(u"volumes"_s);
        VolumeInfo::setRemovableMediaRoots({userVolume ? root : TestSandbox::instance().makeFolder(u"other-root"_s)});
        const QString volume = root + u"/EOS_DIGITAL"_s;
        for (const QString &f : std::as_const(folders)) {
            if (f.startsWith(u"file:"_s))
                QVERIFY(writeFile(volume + u'/' + f.mid(5), "x"));
            else
                QVERIFY(QDir().mkpath(volume + u'/' + f));
        }

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
