#include "ScopedMount.h"
#include "TestMain.h"
#include "settings/MyAliasKit.h"
#include "settings/SettingsStore.h"

#include <QDir>
#include <QFileInfo>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {

enum class Change
{
    None,
    Rename,
    MoveIntoSibling,
    Delete,
    Recreate
};

QByteArray referenceTo(const QString &path)
{
    const std::optional<QByteArray> data = MyAliasKit::aliasDataForPath(path);
    return data.value_or(QByteArray());
}

// The reference resolves to expected; an updated reference must itself resolve
// there without needing another update. expectChanged: 0 no, 1 yes, -1 either.
void verifyResolvesTo(const QByteArray &data, const QString &expected, int expectChanged)
{
    QString path;
    QByteArray changed("untouched");
    QVERIFY(MyAliasKit::resolveAliasFromData(data, &path, &changed));
    QCOMPARE(path, QFileInfo(expected).canonicalFilePath());
    if (expectChanged >= 0)
        QCOMPARE(!changed.isEmpty(), expectChanged == 1);
    if (changed.isEmpty())
        return;
    QString again;
    QByteArray changedAgain;
    QVERIFY(MyAliasKit::resolveAliasFromData(changed, &again, &changedAgain));
    QCOMPARE(again, path);
    QVERIFY(changedAgain.isEmpty());
}

} // namespace

Q_DECLARE_METATYPE(Change)

class tst_MyAliasKit : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void nothingToReference();
    void rejectsDamagedData_data();
    void rejectsDamagedData();
    void followsObjectOnItsVolume_data();
    void followsObjectOnItsVolume();
    void followsVolumeToAnotherMountPoint();
    void reusedInodeIsNotTheFolder();
    void searchStopsAtDepthBound_data();
    void searchStopsAtDepthBound();
    void savePathKeepsOldValueWhenNothingExists();
};

void tst_MyAliasKit::nothingToReference()
{
    QVERIFY(!MyAliasKit::aliasDataForPath(QString()));
    QVERIFY(!MyAliasKit::aliasDataForPath(TestSandbox::instance().makeFolder(u"none"_s) + u"/missing"_s));
    QVERIFY(!MyAliasKit::aliasDataForAliasHandle(nullptr));
}

void tst_MyAliasKit::rejectsDamagedData_data()
{
    // Damage applied to a good reference: bytes kept from its start, byte flipped, bytes appended.
    QTest::addColumn<QByteArray>("replacement");
    QTest::addColumn<int>("keep");
    QTest::addColumn<int>("flipByte");
    QTest::addColumn<QByteArray>("appended");

    QTest::newRow("empty") << QByteArray() << 0 << -1 << QByteArray();
    QTest::newRow("garbage") << QByteArray("not a folder reference at all") << 0 << -1 << QByteArray();
    QTest::newRow("wrong magic") << QByteArray() << -1 << 0 << QByteArray();
    QTest::newRow("unknown version") << QByteArray() << -1 << 5 << QByteArray();
    QTest::newRow("truncated") << QByteArray() << 40 << -1 << QByteArray();
    QTest::newRow("trailing bytes") << QByteArray() << -1 << -1 << QByteArray("xx");
}

void tst_MyAliasKit::rejectsDamagedData()
{
    QFETCH(QByteArray, replacement);
    QFETCH(int, keep);
    QFETCH(int, flipByte);
    QFETCH(QByteArray, appended);

    QByteArray data = referenceTo(TestSandbox::instance().makeFolder(u"damaged"_s));
    QVERIFY(MyAliasKit::resolveAliasFromData(data, nullptr));
    if (keep >= 0)
        data = replacement.isEmpty() ? data.left(keep) : replacement;
    if (flipByte >= 0)
        data[flipByte] = char(data[flipByte] ^ 0x20);
    data += appended;

    QString path = u"before"_s;
    QVERIFY(!MyAliasKit::resolveAliasFromData(data, &path));
    QCOMPARE(path, u"before"_s);
}

void tst_MyAliasKit::followsObjectOnItsVolume_data()
{
    QTest::addColumn<Change>("change");
    QTest::addColumn<bool>("isFile");
    QTest::addColumn<QString>("expected"); // below the test folder; empty when it must not resolve
    QTest::addColumn<int>("expectChanged");
    QTest::addColumn<QString>("parent"); // below the test folder, wherever that is on its volume

    const QString a = u"a"_s;
    QTest::newRow("untouched") << Change::None << false << u"a/target"_s << 0 << a;
    QTest::newRow("folder renamed") << Change::Rename << false << u"a/renamed"_s << 1 << a;
    QTest::newRow("folder moved into sibling") << Change::MoveIntoSibling << false << u"a/sibling/target"_s << 1 << a;
    QTest::newRow("file renamed") << Change::Rename << true << u"a/renamed"_s << 1 << a;
    QTest::newRow("folder deleted") << Change::Delete << false << QString() << 0 << a;
    // The file system may hand the freed inode number straight back, so either is right.
    QTest::newRow("folder made again") << Change::Recreate << false << u"a/target"_s << -1 << a;
    const QString deep = u"a/1/2/3/4/5/6/7/8/9"_s;
    QTest::newRow("folder renamed ten levels down") << Change::Rename << false << deep + u"/renamed"_s << 1 << deep;
}

void tst_MyAliasKit::followsObjectOnItsVolume()
{
    QFETCH(Change, change);
    QFETCH(bool, isFile);
    QFETCH(QString, expected);
    QFETCH(int, expectChanged);
    QFETCH(QString, parent);

    const QString base = TestSandbox::instance().makeFolder(u"volume"_s);
    const QString target = base + u'/' + parent + u"/target"_s;
    QVERIFY(QDir().mkpath(base + u"/a/sibling"_s));
    QVERIFY(QDir().mkpath(base + u'/' + parent));
    QVERIFY(isFile ? writeFile(target, "photo") : QDir().mkpath(target));
    const QByteArray data = referenceTo(target);
    QVERIFY(!data.isEmpty());

    switch (change) {
    case Change::None:
        break;
    case Change::Rename:
        QVERIFY(QDir().rename(target, base + u'/' + parent + u"/renamed"_s));
        break;
    case Change::MoveIntoSibling:
        QVERIFY(QDir().rename(target, base + u"/a/sibling/target"_s));
        break;
    case Change::Delete:
        QVERIFY(QDir(target).removeRecursively());
        break;
    case Change::Recreate:
        QVERIFY(QDir(target).removeRecursively());
        QVERIFY(QDir().mkpath(target));
        break;
    }

    if (expected.isEmpty()) {
        QString path;
        QVERIFY(!MyAliasKit::resolveAliasFromData(data, &path));
        return;
    }
    verifyResolvesTo(data, base + u'/' + expected, expectChanged);
}

void tst_MyAliasKit::followsVolumeToAnotherMountPoint()
{
    const QString base = TestSandbox::instance().makeFolder(u"loop"_s);
    const QString image = base + u"/card.img"_s;
    ScopedMount first = ScopedMount::loopExt4(image, base + u"/first"_s);
    SKIP_UNLESS_MOUNTED(first);
    QVERIFY(QDir().mkpath(base + u"/first/DCIM/100"_s));
    const QByteArray data = referenceTo(base + u"/first/DCIM/100"_s);
    QVERIFY(!data.isEmpty());

    QVERIFY(first.unmount());
    // Same name on the file system underneath: another volume, so not the folder.
    QVERIFY(QDir().mkpath(base + u"/first/DCIM/100"_s));
    QVERIFY(!MyAliasKit::resolveAliasFromData(data, nullptr));

    // Another card takes the freed loop device, and with it the old device
    // number, and holds the same folder: only the volume's UUID tells them apart.
    ScopedMount other = ScopedMount::loopExt4(base + u"/other.img"_s, base + u"/other"_s);
    SKIP_UNLESS_MOUNTED(other);
    QVERIFY(QDir().mkpath(base + u"/other/DCIM/100"_s));
    ScopedMount second = ScopedMount::loopExt4(image, base + u"/second"_s);
    SKIP_UNLESS_MOUNTED(second);
    verifyResolvesTo(data, base + u"/second/DCIM/100"_s, 1);
}

void tst_MyAliasKit::reusedInodeIsNotTheFolder()
{
    // ext4 hands a freed inode number to the next new folder: that folder must
    // not pass for the deleted one.
    const QString base = TestSandbox::instance().makeFolder(u"reuse"_s);
    ScopedMount volume = ScopedMount::loopExt4(base + u"/v.img"_s, base + u"/v"_s);
    SKIP_UNLESS_MOUNTED(volume);
    QVERIFY(QDir().mkpath(base + u"/v/work"_s));
    const QByteArray data = referenceTo(base + u"/v/work"_s);
    const auto inodeOf = [](const QString &path) {
        struct stat st = {};
        return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : ino_t(0);
    };
    const ino_t before = inodeOf(base + u"/v/work"_s);
    QVERIFY(QDir().rmdir(base + u"/v/work"_s));
    QVERIFY(QDir().mkpath(base + u"/v/other"_s));
    if (inodeOf(base + u"/v/other"_s) != before)
        QSKIP("the file system did not reuse the inode number this time");
    QVERIFY(!MyAliasKit::resolveAliasFromData(data, nullptr));
}

void tst_MyAliasKit::searchStopsAtDepthBound_data()
{
    QTest::addColumn<int>("depth");
    QTest::newRow("at the bound") << MyAliasKit::cSearchMaxDepth;
    QTest::newRow("beyond the bound") << MyAliasKit::cSearchMaxDepth + 1;
}

void tst_MyAliasKit::searchStopsAtDepthBound()
{
    QFETCH(int, depth);
    // A volume of its own, so the search covers only what the test made.
    const QString root = TestSandbox::instance().makeFolder(u"deep"_s);
    ScopedMount volume = ScopedMount::tmpfs(root);
    SKIP_UNLESS_MOUNTED(volume);
    QVERIFY(QDir().mkpath(root + u"/target"_s));
    const QByteArray data = referenceTo(root + u"/target"_s);
    QVERIFY(!data.isEmpty());

    QString deep = root;
    for (int level = 1; level < depth; ++level)
        deep += u"/d"_s + QString::number(level);
    QVERIFY(QDir().mkpath(deep));
    QVERIFY(QDir().rename(root + u"/target"_s, deep + u"/target"_s));

    QString path;
    const bool found = MyAliasKit::resolveAliasFromData(data, &path);
    QCOMPARE(found, depth <= MyAliasKit::cSearchMaxDepth);
    if (found)
        QCOMPARE(path, deep + u"/target"_s);
}

void tst_MyAliasKit::savePathKeepsOldValueWhenNothingExists()
{
    const QString key = u"TestFolderReference"_s;
    const QString folder = TestSandbox::instance().makeFolder(u"saved"_s);
    MyAliasKit::savePath(folder, key);
    const std::optional<QByteArray> stored = SettingsStore::standard().dataForKey(key);
    QVERIFY(stored);
    QString path;
    QVERIFY(MyAliasKit::resolveAliasFromData(*stored, &path));
    QCOMPARE(path, QFileInfo(folder).canonicalFilePath());

    MyAliasKit::savePath(folder + u"/missing"_s, key);
    QCOMPARE(SettingsStore::standard().dataForKey(key), stored);
}

LUMISORT_CORE_TEST_MAIN(tst_MyAliasKit)
#include "tst_myaliaskit.moc"
