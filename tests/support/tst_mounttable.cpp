#include "TestMain.h"
#include "support/MountTable.h"

#include <sys/sysmacros.h>

using namespace Qt::StringLiterals;

class tst_MountTable : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void parsesLine_data();
    void parsesLine();
    void rejectsBrokenLines();
    void mountForPicksLongestVisiblePrefix_data();
    void mountForPicksLongestVisiblePrefix();
};

void tst_MountTable::parsesLine_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QByteArray>("mountPoint");
    QTest::addColumn<QByteArray>("source");
    QTest::addColumn<bool>("readOnly");

    QTest::newRow("optional fields") << QByteArray("36 35 98:0 /mnt1 /mnt/parent rw,noatime master:1 - ext3 /dev/root "
                                                   "rw,errors=continue")
                                     << QByteArray("/mnt/parent") << QByteArray("/dev/root") << false;
    QTest::newRow("no optional fields, read-only")
        << QByteArray("40 27 7:0 / /media/card ro,relatime - vfat /dev/loop0 rw") << QByteArray("/media/card")
        << QByteArray("/dev/loop0") << true;
    QTest::newRow("escaped space, tab, newline, backslash")
        << QByteArray("41 27 7:0 / /media/A\\040B\\011C\\012D\\134E rw - ext4 /dev/my\\040disk rw")
        << QByteArray("/media/A B\tC\nD\\E") << QByteArray("/dev/my disk") << false;
    QTest::newRow("backslash not followed by octal stays")
        << QByteArray("42 27 7:0 / /media/x\\9y rw - ext4 /dev/loop1 rw") << QByteArray("/media/x\\9y")
        << QByteArray("/dev/loop1") << false;
}

void tst_MountTable::parsesLine()
{
    QFETCH(QByteArray, line);
    QFETCH(QByteArray, mountPoint);
    QFETCH(QByteArray, source);
    QFETCH(bool, readOnly);

    const MountTable table = MountTable::parse(line + '\n');
    QCOMPARE(table.mounts().size(), 1);
    const MountTable::Mount &m = table.mounts().constFirst();
    QCOMPARE(m.mountPoint, mountPoint);
    QCOMPARE(m.source, source);
    QCOMPARE(m.isReadOnly(), readOnly);
}

void tst_MountTable::rejectsBrokenLines()
{
    const MountTable table = MountTable::parse("x 1 8:1 / /a rw - ext4 /dev/a rw\n"
                                               "2 1 81 / /b rw - ext4 /dev/b rw\n"
                                               "3 1 8:3 / /c rw ext4 /dev/c rw\n"
                                               "\n"
                                               "4 1 8:4 /sub /d rw shared:2 - btrfs /dev/d rw\n");
    QCOMPARE(table.mounts().size(), 1);
    const MountTable::Mount &m = table.mounts().constFirst();
    QCOMPARE(m.id, 4);
    QCOMPARE(m.parentId, 1);
    QCOMPARE(m.device, makedev(8, 4));
    QCOMPARE(m.root, QByteArray("/sub"));
    QCOMPARE(m.fsType, QByteArray("btrfs"));
}

void tst_MountTable::mountForPicksLongestVisiblePrefix_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<int>("expectedId");

    QTest::newRow("root") << QByteArray("/etc/hosts") << 1;
    QTest::newRow("mount point itself") << QByteArray("/media/card") << 3;
    QTest::newRow("below mount point") << QByteArray("/media/card/DCIM/100") << 3;
    QTest::newRow("trailing slash") << QByteArray("/media/card/") << 3;
    QTest::newRow("prefix but not a component") << QByteArray("/media/cards/x") << 2;
    QTest::newRow("nested mount") << QByteArray("/media/card/inner/a") << 4;
    QTest::newRow("later mount on the same point wins") << QByteArray("/media/stack/a") << 6;
    QTest::newRow("escaped mount point") << QByteArray("/media/my card/a") << 7;
}

void tst_MountTable::mountForPicksLongestVisiblePrefix()
{
    QFETCH(QByteArray, path);
    QFETCH(int, expectedId);

    const MountTable table = MountTable::parse("1 0 8:1 / / rw - ext4 /dev/sda1 rw\n"
                                               "2 1 8:2 / /media rw - ext4 /dev/sda2 rw\n"
                                               "3 2 8:17 / /media/card rw - vfat /dev/sdb1 rw\n"
                                               "4 3 0:40 / /media/card/inner rw - tmpfs tmpfs rw\n"
                                               "5 2 0:41 / /media/stack rw - tmpfs tmpfs rw\n"
                                               "6 5 0:42 / /media/stack rw - tmpfs tmpfs rw\n"
                                               "7 2 8:33 / /media/my\\040card rw - ext4 /dev/sdc1 rw\n");
    const std::optional<MountTable::Mount> m = table.mountFor(path);
    QVERIFY(m);
    QCOMPARE(m->id, expectedId);
}

LUMISORT_CORE_TEST_MAIN(tst_MountTable)
#include "tst_mounttable.moc"
