#include "TestMain.h"
#include "settings/SettingsStore.h"
#include "support/PlistCodec.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTimeZone>
#include <QtConcurrent>
#include <cmath>
#include <limits>

using namespace Qt::StringLiterals;

class TestSettingsStore : public QObject
{
    Q_OBJECT

    static QString freshStorePath() { return TestSandbox::instance().makeFolder(u"store"_s) + u"/settings.plist"_s; }

private Q_SLOTS:
    void layersAndMissingKeys()
    {
        SettingsStore store(freshStorePath());
        store.registerDefaults({{u"prefMainstayDisableScan"_s, true}, {u"prefDateFormatterTag"_s, 1}});

        // Missing keys: false, 0, nothing; a value of another type reads as nothing too.
        const QString absent = u"absent"_s;
        QVERIFY(!store.boolForKey(absent) && store.integerForKey(absent) == 0 && !store.stringForKey(absent));
        QVERIFY(!store.dataForKey(absent) && !store.arrayForKey(absent) && !store.dictionaryForKey(absent));
        QVERIFY(!store.stringForKey(u"prefDateFormatterTag"_s) && !store.arrayForKey(u"prefDateFormatterTag"_s));

        QVERIFY(store.boolForKey(u"prefMainstayDisableScan"_s));
        store.setBool(false, u"prefMainstayDisableScan"_s);
        QVERIFY(!store.boolForKey(u"prefMainstayDisableScan"_s));
        store.removeObjectForKey(u"prefMainstayDisableScan"_s);
        QVERIFY(store.boolForKey(u"prefMainstayDisableScan"_s)); // the registered default shows again

        store.setInteger(4, u"prefDateFormatterTag"_s);
        store.setOverride(u"prefDateFormatterTag"_s, 6);
        QCOMPARE(store.integerForKey(u"prefDateFormatterTag"_s), 6);
        QVERIFY(store.synchronize());
        SettingsStore reread(store.filePath());
        QCOMPARE(reread.integerForKey(u"prefDateFormatterTag"_s), 4); // overrides are never saved
        store.setOverride(u"prefDateFormatterTag"_s, QVariant());
        QCOMPARE(store.integerForKey(u"prefDateFormatterTag"_s), 4);
        QCOMPARE(store.dictionaryRepresentation().value(u"prefMainstayDisableScan"_s), QVariant(true));
    }
    void numbersAndTextsConvertLikeThePlatform_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<bool>("asBool");
        QTest::addColumn<qint64>("asInteger");
        QTest::newRow("text digits") << QVariant(u"202"_s) << true << qint64(202);
        QTest::newRow("text YES") << QVariant(u"YES"_s) << true << qint64(0);
        QTest::newRow("text true") << QVariant(u"true"_s) << true << qint64(0);
        QTest::newRow("text other") << QVariant(u"yes please"_s) << false << qint64(0);
        QTest::newRow("boolean") << QVariant(true) << true << qint64(1);
        QTest::newRow("real") << QVariant(2.9) << true << qint64(2);
        QTest::newRow("real too large") << QVariant(1e300) << true << std::numeric_limits<qint64>::max();
        QTest::newRow("real too small") << QVariant(-1e300) << true << std::numeric_limits<qint64>::min();
        QTest::newRow("real not a number") << QVariant(std::nan("")) << true << qint64(0);
        QTest::newRow("zero") << QVariant(qint64(0)) << false << qint64(0);
        QTest::newRow("data") << QVariant(QByteArray("1")) << false << qint64(0);
    }
    void numbersAndTextsConvertLikeThePlatform()
    {
        QFETCH(QVariant, stored);
        QFETCH(bool, asBool);
        QFETCH(qint64, asInteger);
        SettingsStore store(freshStorePath());
        store.setObject(stored, u"k"_s);
        QCOMPARE(store.boolForKey(u"k"_s), asBool);
        QCOMPARE(store.integerForKey(u"k"_s), asInteger);
    }
    void concurrentWritersAndReaders()
    {
        const QString path = freshStorePath();
        constexpr int cThreads = 6, cRounds = 400;
        {
            SettingsStore store(path);
            store.registerDefaults({{u"shared"_s, -1}});
            QList<QFuture<void>> jobs;
            for (int t = 0; t < cThreads; ++t) {
                jobs << QtConcurrent::run([&store, t] {
                    const QString own = u"thread%1"_s.arg(t);
                    for (int i = 0; i < cRounds; ++i) {
                        store.setInteger(i, own);
                        store.setObject(QVariantMap {{u"t"_s, t}, {u"i"_s, i}}, u"shared"_s);
                        // Every read sees a whole value: either a default or one thread's map.
                        const QVariant shared = store.objectForKey(u"shared"_s);
                        if (shared.typeId() == QMetaType::QVariantMap && shared.toMap().size() != 2)
                            qFatal("torn value");
                        if (store.integerForKey(own) != i)
                            qFatal("lost own write");
                        if (i % 50 == 0)
                            store.synchronize();
                    }
                });
            }
            for (QFuture<void> &job : jobs)
                job.waitForFinished();
        }
        SettingsStore reloaded(path);
        for (int t = 0; t < cThreads; ++t)
            QCOMPARE(reloaded.integerForKey(u"thread%1"_s.arg(t)), cRounds - 1);
        QCOMPARE(reloaded.dictionaryForKey(u"shared"_s)->value(u"i"_s).toLongLong(), cRounds - 1);
    }
    void damagedFileIsKeptAsideAndNeverOverwritten()
    {
        const QString path = freshStorePath();
        const QByteArray damaged = "<?xml version=\"1.0\"?><plist><dict><key>prefSourcePath</key><str";
        QVERIFY(writeFile(path, damaged));
        SettingsStore store(path);
        store.registerDefaults({{u"prefSourcePathFactory"_s, u"~/Pictures/Lumisort"_s}});
        QVERIFY(!store.stringForKey(u"prefSourcePath"_s));
        QCOMPARE(*store.stringForKey(u"prefSourcePathFactory"_s), u"~/Pictures/Lumisort"_s);
        const QString aside = store.damagedFileKeptAt();
        QVERIFY(!aside.isEmpty());
        QCOMPARE(readFile(aside), damaged);

        store.setString(u"/srv/work"_s, u"prefSourcePath"_s);
        QVERIFY(store.synchronize());
        QCOMPARE(readFile(aside), damaged);
        QCOMPARE(*SettingsStore(path).stringForKey(u"prefSourcePath"_s), u"/srv/work"_s);
    }
    void twoProcessesWritingOtherKeysKeepBothAndSaveOnTheirOwn()
    {
        // The application and the command-line tool share one file.
        const QString path = freshStorePath();
        SettingsStore gui(path), cli(path);
        gui.setString(u"gui"_s, u"prefWindowTitle"_s);
        QVERIFY(gui.synchronize());
        cli.setInteger(13, u"prefReassignedBarcodeRequiredLength"_s);
        QVERIFY(cli.synchronize());
        gui.removeObjectForKey(u"prefStatusString"_s);
        QVERIFY(gui.synchronize());
        const QVariantMap onDisk = PlistCodec::readFile(path).toMap();
        QCOMPARE(onDisk.value(u"prefWindowTitle"_s).toString(), u"gui"_s);
        QCOMPARE(onDisk.value(u"prefReassignedBarcodeRequiredLength"_s).toLongLong(), 13);
        QVERIFY(readFile(path).startsWith("<?xml")); // a file a person can read

        // A write is saved on its own, and no temporary file is left beside the store.
        cli.setString(u"x"_s, u"prefStatusString"_s);
        QTRY_VERIFY_WITH_TIMEOUT(PlistCodec::readFile(path).toMap().value(u"prefStatusString"_s) == u"x"_s, 3000);
        QCOMPARE(QDir(QFileInfo(path).absolutePath()).entryList(QDir::Files | QDir::Hidden).size(), 1);
    }
};

LUMISORT_CORE_TEST_MAIN(TestSettingsStore)
#include "tst_settingsstore.moc"
