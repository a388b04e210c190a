#include "TestMain.h"
#include "support/MountTable.h"

#include <sys/sysmacros.h>

using namespace Qt::StringLiterals;

class tst_MountTable : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Each table holds one mount, shown as "id parent major:minor root point type source ro|rw";
    // broken lines around it are passed over.
    void parse_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("mount");
        QTest::newRow("optional fields")
            << "36 35 98:0 /mnt1 /mnt/parent rw,noatime master:1 - ext3 /dev/root rw,errors=continue"_ba
            << "36 35 98:0 /mnt1 /mnt/parent ext3 /dev/root rw"_ba;
        QTest::newRow("no optional fields, read-only") << "40 27 7:0 / /media/card ro,relatime - vfat /dev/loop0 rw"_ba
                                                       << "40 27 7:0 / /media/card vfat /dev/loop0 ro"_ba;
        QTest::newRow("escaped space, tab, newline, backslash")
            << "41 27 7:0 / /media/A\\040B\\011C\\012D\\134E rw - ext4 /dev/my\\040disk rw"_ba
            << "41 27 7:0 / /media/A B\tC\nD\\E ext4 /dev/my disk rw"_ba;
        QTest::newRow("backslash not followed by octal stays") << "42 27 7:0 / /media/x\\9y rw - ext4 /dev/loop1 rw"_ba
                                                               << "42 27 7:0 / /media/x\\9y ext4 /dev/loop1 rw"_ba;
        QTest::newRow("broken lines") << "x 1 8:1 / /a rw - ext4 /dev/a rw\n"
                                         "2 1 81 / /b rw - ext4 /dev/b rw\n"
                                         "3 1 8:3 / /c rw ext4 /dev/c rw\n"
                                         "\n"
                                         "4 1 8:4 /sub /d rw shared:2 - btrfs /dev/d rw"_ba
                                      << "4 1 8:4 /sub /d btrfs /dev/d rw"_ba;
    }
    void parse()
    {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, mount);
        const MountTable table = MountTable::parse(text + '\n');
        QCOMPARE(table.mounts().size(), 1);
        const MountTable::Mount &m = table.mounts().constFirst();
        QCOMPARE(QByteArray::number(m.id) + ' ' + QByteArray::number(m.parentId) + ' '
                     + QByteArray::number(major(m.device)) + ':' + QByteArray::number(minor(m.device)) + ' ' + m.root
                     + ' ' + m.mountPoint + ' ' + m.fsType + ' ' + m.source + (m.isReadOnly() ? " ro" : " rw"),
                 mount);
    }

    void mountForPicksLongestVisiblePrefix_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<int>("expectedId");
        QTest::newRow("root") << "/etc/hosts"_ba << 1;
        QTest::newRow("mount point itself") << "/media/card"_ba << 3;
        QTest::newRow("below mount point") << "/media/card/DCIM/100"_ba << 3;
        QTest::newRow("trailing slash") << "/media/card/"_ba << 3;
        QTest::newRow("prefix but not a component") << "/media/cards/x"_ba << 2;
        QTest::newRow("nested mount") << "/media/card/inner/a"_ba << 4;
        QTest::newRow("later mount on the same point wins") << "/media/stack/a"_ba << 6;
        QTest::newRow("escaped mount point") << "/media/my card/a"_ba << 7;
    }
    void mountForPicksLongestVisiblePrefix()
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
};

LUMISORT_CORE_TEST_MAIN(tst_MountTable)
#include "tst_mounttable.moc"
