#include "ScopedMount.h"
#include "TestMain.h"
#include "settings/MyAliasKit.h"
#include "settings/SettingsStore.h"

#include <QDir>
#include <QFileInfo>
#include <functional>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

// What happens to a reference, or to what it points at, between saving and resolving.
using Damage = std::function<QByteArray(QByteArray)>;
using Change = std::function<bool(const QString &target, const QString &base)>;
Q_DECLARE_METATYPE(Damage)
Q_DECLARE_METATYPE(Change)

namespace {

QByteArray referenceTo(const QString &path)
{
    return MyAliasKit::aliasDataForPath(path).value_or(QByteArray());
}

// The reference resolves to expected; an updated reference must itself resolve
// there without needing another update. expectChanged: 0 no, 1 yes, -1 either.
void verifyResolvesTo(const QByteArray &data, const QString &expected, int expectChanged)
{
    QString path, again;
    QByteArray changed("untouched"), changedAgain;
    QVERIFY(MyAliasKit::resolveAliasFromData(data, &path, &changed));
    QCOMPARE(path, QFileInfo(expected).canonicalFilePath());
    if (expectChanged >= 0)
        QCOMPARE(!changed.isEmpty(), expectChanged == 1);
    if (changed.isEmpty())
        return;
    QVERIFY(MyAliasKit::resolveAliasFromData(changed, &again, &changedAgain));
    QCOMPARE(again, path);
    QVERIFY(changedAgain.isEmpty());
}

QString sandboxFolder(const QString &name)
{
    return TestSandbox::instance().makeFolder(name);
}

} // namespace

class tst_MyAliasKit : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void rejectsDamagedData_data()
    {
        QTest::addColumn<Damage>("damage"); // done to a good reference
        const auto flip = [](int at) { return [at](QByteArray d) { return d[at] = char(d[at] ^ 0x20), d; }; };
        QTest::newRow("empty") << Damage([](QByteArray) { return QByteArray(); });
        QTest::newRow("garbage") << Damage([](QByteArray) { return "not a folder reference at all"_ba; });
        QTest::newRow("wrong magic") << Damage(flip(0));
        QTest::newRow("unknown version") << Damage(flip(5));
        QTest::newRow("truncated") << Damage([](QByteArray d) { return d.left(40); });
        QTest::newRow("trailing bytes") << Damage([](QByteArray d) { return d.append("xx"); });
    }
    void rejectsDamagedData()
    {
        QFETCH(Damage, damage);
        const QByteArray data = referenceTo(sandboxFolder(u"damaged"_s));
        QVERIFY(MyAliasKit::resolveAliasFromData(data, nullptr));
        QString path = u"before"_s;
        QVERIFY(!MyAliasKit::resolveAliasFromData(damage(data), &path));
        QCOMPARE(path, u"before"_s);
    }

    void followsObjectOnItsVolume_data()
    {
        QTest::addColumn<Change>("change");
        QTest::addColumn<bool>("isFile");
        QTest::addColumn<QString>("expected"); // below the test folder; empty when it must not resolve
        QTest::addColumn<int>("expectChanged");
        QTest::addColumn<QString>("parent"); // below the test folder, wherever that is on its volume
        const Change rename = [](const QString &t, const QString &) {
            return QDir().rename(t, QFileInfo(t).path() + u"/renamed"_s);
        };
        const QString a = u"a"_s, deep = u"a/1/2/3/4/5/6/7/8/9"_s;
        QTest::newRow("untouched") << Change([](const QString &, const QString &) { return true; }) << false
                                   << u"a/target"_s << 0 << a;
        QTest::newRow("folder renamed") << rename << false << u"a/renamed"_s << 1 << a;
        QTest::newRow("folder moved into sibling") << Change([](const QString &t, const QString &base) {
            return QDir().rename(t, base + u"/a/sibling/target"_s);
        }) << false << u"a/sibling/target"_s << 1 << a;
        QTest::newRow("file renamed") << rename << true << u"a/renamed"_s << 1 << a;
        QTest::newRow("folder deleted") << Change([](const QString &t, const QString &) {
            return QDir(t).removeRecursively();
        }) << false << QString() << 0 << a;
        // The file system may hand the freed inode number straight back, so either is right.
        QTest::newRow("folder made again")
            << Change([](const QString &t, const QString &) { return QDir(t).removeRecursively() && QDir().mkpath(t); })
            << false << u"a/target"_s << -1 << a;
        QTest::newRow("folder renamed ten levels down") << rename << false << deep + u"/renamed"_s << 1 << deep;
        // The volume is the test's own, so the search covers only what the test made.
        for (const int depth : {MyAliasKit::cSearchMaxDepth, MyAliasKit::cSearchMaxDepth + 1}) {
            QString below;
            for (int level = 1; level < depth; ++level)
                below += u"d"_s + QString::number(level) + u'/';
            const Change sink = [below](const QString &t, const QString &base) {
                return QDir().mkpath(base + u'/' + below) && QDir().rename(t, base + u'/' + below + u"target"_s);
            };
            QTest::addRow("folder moved %d levels down", depth)
                << sink << false << (depth > MyAliasKit::cSearchMaxDepth ? QString() : below + u"target"_s) << 1
                << u"."_s;
        }
    }
    void followsObjectOnItsVolume()
    {
        QFETCH(Change, change);
        QFETCH(bool, isFile);
        QFETCH(QString, expected);
        QFETCH(int, expectChanged);
        QFETCH(QString, parent);
        const QString base = sandboxFolder(u"volume"_s), target = base + u'/' + parent + u"/target"_s;
        ScopedMount volume = ScopedMount::tmpfs(base);
        SKIP_UNLESS_MOUNTED(volume);
        QVERIFY(QDir().mkpath(base + u"/a/sibling"_s) && QDir().mkpath(base + u'/' + parent));
        QVERIFY(isFile ? writeFile(target, "photo") : QDir().mkpath(target));
        const QByteArray data = referenceTo(target);
        QVERIFY(!data.isEmpty());
        QVERIFY(change(target, base));
        if (expected.isEmpty())
            QVERIFY(!MyAliasKit::resolveAliasFromData(data, nullptr));
        else
            verifyResolvesTo(data, base + u'/' + expected, expectChanged);
    }

    void followsVolumeToAnotherMountPoint()
    {
        const QString base = sandboxFolder(u"loop"_s), image = base + u"/card.img"_s;
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

        // ext4 hands a freed inode number to the next new folder: that folder must
        // not pass for the deleted one.
        const QString work = base + u"/second/work"_s, next = base + u"/second/next"_s;
        QVERIFY(QDir().mkpath(work));
        const QByteArray workData = referenceTo(work);
        const auto inodeOf = [](const QString &path) {
            struct stat st = {};
            return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : ino_t(0);
        };
        const ino_t before = inodeOf(work);
        QVERIFY(QDir().rmdir(work) && QDir().mkpath(next));
        if (inodeOf(next) != before)
            QSKIP("the file system did not reuse the inode number this time");
        QVERIFY(!MyAliasKit::resolveAliasFromData(workData, nullptr));
    }

    void savePathKeepsOldValueWhenNothingExists()
    {
        QVERIFY(!MyAliasKit::aliasDataForPath(QString()));
        const QString key = u"TestFolderReference"_s, folder = sandboxFolder(u"saved"_s);
        MyAliasKit::savePath(folder, key);
        const std::optional<QByteArray> stored = SettingsStore::standard().dataForKey(key);
        QVERIFY(stored);
        verifyResolvesTo(*stored, folder, -1);
        MyAliasKit::savePath(folder + u"/missing"_s, key);
        QCOMPARE(SettingsStore::standard().dataForKey(key), stored);
    }
};

LUMISORT_CORE_TEST_MAIN(tst_MyAliasKit)
#include "tst_myaliaskit.moc"
