#include "ScopedMount.h"
#include "TestMain.h"
#include "filing/FilingRun.h"
#include "shell/SettingsKeys.h"
#include "shell/SettingsStore.h"

#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QStandardPaths>

using namespace Qt::StringLiterals;

class TestFilingRun : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void filing_data();
    void filing();
    void replacesWhatTheDestinationHolds();
    void failedUnassignedMoveIsNeverAllFine();
    void stopsWithoutSummary();
    void acrossFileSystemsWithAFullDestination();

private:
    QString m_source;
    QString m_root; // destination root
    static QStringList namesIn(const QString &folder)
    {
        return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }
};

void TestFilingRun::init()
{
    m_source = TestSandbox::instance().makeFolder(u"work"_s);
    m_root = TestSandbox::instance().makeFolder(u"dest"_s);
    SettingsStore &store = SettingsStore::standard();
    store.setString(m_root, cPrefDestinationPath);
    store.removeObjectForKey(cPrefDailyFolderDateFormat);
    store.setInteger(1, cPrefOriginalNameFormatTag);
    store.setBool(false, cPrefDoUnassignedProcess);
    store.setInteger(0, cPrefMoveUnasignedPhotoMethodTag);
}

void TestFilingRun::filing_data()
{
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<bool>("unassignedFolder");
    QTest::addColumn<int>("moveTag");
    QTest::addColumn<QStringList>("filed"); // in the daily folder afterwards
    QTest::addColumn<QStringList>("unassigned"); // in UNASSIGNED_PHOTOS afterwards
    QTest::addColumn<QStringList>("stayed"); // still in the working folder
    QTest::addColumn<QString>("title");
    const QString none = u"Somehow NO Files to Move/Copy..."_s;
    const QString all = u"Finished Moving ALL ReAssigned Files..."_s;
    const QStringList mixed {u"123_IMG_0001.JPG"_s, u"IMG_0002.JPG"_s, u"UNKNOWN_IMG_0003.JPG"_s,
                             u"unknown_a_b_c_d.jpg"_s, u"123_IMG_notes.txt"_s};
    QTest::newRow("empty folder") << QStringList() << false << 0 << QStringList() << QStringList() << QStringList()
                                  << none;
    QTest::newRow("all unassigned, left in place")
        << QStringList {u"IMG_0002.JPG"_s, u"UNKNOWN_IMG_0003.JPG"_s} << true << 0 << QStringList() << QStringList()
        << QStringList {u"IMG_0002.JPG"_s, u"UNKNOWN_IMG_0003.JPG"_s} << none;
    QTest::newRow("unassigned left in place, the rest filed")
        << mixed << false << 0 << QStringList {u"123_IMG_0001.JPG"_s, u"123_IMG_notes.txt"_s} << QStringList()
        << QStringList {u"IMG_0002.JPG"_s, u"UNKNOWN_IMG_0003.JPG"_s, u"unknown_a_b_c_d.jpg"_s} << all;
    QTest::newRow("unassigned to their folder")
        << mixed << true << 1 << QStringList {u"123_IMG_0001.JPG"_s, u"123_IMG_notes.txt"_s}
        << QStringList {u"IMG_0002.JPG"_s, u"UNKNOWN_IMG_0003.JPG"_s, u"unknown_a_b_c_d.jpg"_s} << QStringList() << all;
    QTest::newRow("unassigned to be moved but no folder: daily folder")
        << mixed << false << 1 << mixed << QStringList() << QStringList() << all;
}

void TestFilingRun::filing()
{
    QFETCH(QStringList, files);
    QFETCH(bool, unassignedFolder);
    QFETCH(int, moveTag);
    QFETCH(QStringList, filed);
    QFETCH(QStringList, unassigned);
    QFETCH(QStringList, stayed);
    QFETCH(QString, title);
    SettingsStore::standard().setBool(unassignedFolder, cPrefDoUnassignedProcess);
    SettingsStore::standard().setInteger(moveTag, cPrefMoveUnasignedPhotoMethodTag);
    for (const QString &name : files)
        QVERIFY(writeFile(m_source + u'/' + name, name.toUtf8()));
    // Folders are never filed nor entered.
    QVERIFY(writeFile(m_source + u"/_extras/123_x.jpg"_s, "x"));
    QVERIFY(writeFile(m_source + u"/sub/123_y.jpg"_s, "y"));

    const QString daily = m_root + u"/daily"_s;
    const FilingRun::Result result = FilingRun::run(m_source, daily);
    QVERIFY(result.summary);
    QCOMPARE(result.summary->title, title);
    QCOMPARE(result.summary->total, files.size());
    QCOMPARE(result.summary->moved, filed.size());
    std::sort(filed.begin(), filed.end());
    std::sort(unassigned.begin(), unassigned.end());
    std::sort(stayed.begin(), stayed.end());
    QCOMPARE(namesIn(daily), filed);
    QCOMPARE(namesIn(m_root + u"/UNASSIGNED_PHOTOS"_s), unassigned);
    QCOMPARE(namesIn(m_source), stayed);
    QVERIFY(QFileInfo::exists(m_source + u"/_extras/123_x.jpg"_s));
    QVERIFY(QFileInfo::exists(m_source + u"/sub/123_y.jpg"_s));
    for (const QString &name : std::as_const(filed))
        QCOMPARE(readFile(daily + u'/' + name), name.toUtf8());
}

void TestFilingRun::replacesWhatTheDestinationHolds()
{
    const QString daily = m_root + u"/daily"_s;
    QVERIFY(writeFile(daily + u"/123_IMG_0001.JPG"_s, "old"));
    QVERIFY(writeFile(m_source + u"/123_IMG_0001.JPG"_s, "new"));
    const FilingRun::Result result = FilingRun::run(m_source, daily);
    QCOMPARE(result.summary->title, u"Finished Moving ALL ReAssigned Files..."_s);
    QCOMPARE(result.summary->text, u"Moved 1 out of 1 Allowed Files.\nFolder has Total of 1 Files"_s);
    QCOMPARE(readFile(daily + u"/123_IMG_0001.JPG"_s), QByteArray("new"));
    QCOMPARE(namesIn(daily), QStringList {u"123_IMG_0001.JPG"_s}); // no temporary left behind
}

void TestFilingRun::failedUnassignedMoveIsNeverAllFine()
{
    SettingsStore::standard().setBool(true, cPrefDoUnassignedProcess);
    SettingsStore::standard().setInteger(1, cPrefMoveUnasignedPhotoMethodTag);
    QVERIFY(writeFile(m_root + u"/UNASSIGNED_PHOTOS"_s, "a file where the folder should be"));
    QVERIFY(writeFile(m_source + u"/IMG_0002.JPG"_s, "photo"));
    const FilingRun::Result result = FilingRun::run(m_source, m_root + u"/daily"_s);
    // The photo reached the daily folder instead, but the failed move shows.
    QCOMPARE(readFile(m_root + u"/daily/IMG_0002.JPG"_s), QByteArray("photo"));
    QCOMPARE(result.summary->title, u"Possible Issue(s) with Moving ReAssigned Files..."_s);
}

void TestFilingRun::stopsWithoutSummary()
{
    QCOMPARE(FilingRun::run(QString(), m_root).stop, FilingRun::Stop::MissingSource);
    QCOMPARE(FilingRun::run(m_source, QString()).stop, FilingRun::Stop::MissingDestination);
    const FilingRun::Result unlistable = FilingRun::run(m_source + u"/gone"_s, m_root + u"/daily"_s);
    QCOMPARE(unlistable.stop, FilingRun::Stop::Unlistable);
    QVERIFY(unlistable.reason.contains(u"ENOENT"_s));

    // A second run on the same folder while one holds it is refused.
    QVERIFY(writeFile(m_source + u"/123_a.jpg"_s, "a"));
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    QDir runtimeDir(runtime);
    FilingRun::Result nested;
    FilingRun::run(m_source, m_root + u"/daily"_s, [&](const FilingRun::Event &) {
        if (nested.stop == FilingRun::Stop::None)
            nested = FilingRun::run(m_source, m_root + u"/other"_s);
    });
    QCOMPARE(nested.stop, FilingRun::Stop::AlreadyRunning);
    QVERIFY(!QFileInfo::exists(m_root + u"/other/123_a.jpg"_s));
    QVERIFY(runtimeDir.entryList({u"lumisort-filing-*.lock"_s}, QDir::Files).isEmpty()); // released
}

void TestFilingRun::acrossFileSystemsWithAFullDestination()
{
    // Working folder and destination on two file systems; the destination fills up mid-run.
    ScopedMount source = ScopedMount::tmpfs(TestSandbox::instance().makeFolder(u"srcfs"_s), u"8m"_s);
    SKIP_UNLESS_MOUNTED(source);
    ScopedMount destination = ScopedMount::tmpfs(TestSandbox::instance().makeFolder(u"dstfs"_s), u"1m"_s);
    SKIP_UNLESS_MOUNTED(destination);
    QHash<QString, QByteArray> photos;
    for (int i = 1; i <= 12; ++i) {
        const QString name = u"123_IMG_%1.JPG"_s.arg(i, 4, 10, QLatin1Char('0'));
        QByteArray bytes(200 * 1024, char('a' + i));
        photos.insert(name, bytes);
        QVERIFY(writeFile(source.folder() + u'/' + name, bytes));
    }
    const QString daily = destination.folder() + u"/daily"_s;
    const FilingRun::Result result = FilingRun::run(source.folder(), daily);
    QVERIFY(result.summary);
    QVERIFY(result.summary->moved > 0);
    QVERIFY(result.summary->moved < 12);
    QCOMPARE(result.summary->title, u"Possible Issue(s) with Moving ReAssigned Files..."_s);
    // Nothing lost: every photo is whole in exactly one place, and no temporary is left.
    for (auto it = photos.cbegin(); it != photos.cend(); ++it) {
        const bool filed = QFileInfo::exists(daily + u'/' + it.key());
        const bool kept = QFileInfo::exists(source.folder() + u'/' + it.key());
        QVERIFY2(filed != kept, qPrintable(it.key()));
        QCOMPARE(readFile((filed ? daily : source.folder()) + u'/' + it.key()), it.value());
    }
    QCOMPARE(namesIn(daily).size(), result.summary->moved);
}

LUMISORT_CORE_TEST_MAIN(TestFilingRun)
#include "tst_filingrun.moc"
