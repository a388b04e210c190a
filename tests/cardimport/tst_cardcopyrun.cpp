#include "DemoCard.h"
#include "ScopedMount.h"
#include "TestMain.h"
#include "cardimport/CardCopyRun.h"
#include "shell/SettingsKeys.h"
#include "shell/SettingsStore.h"
#include "support/SafeFile.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSet>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

bool writeRaw(const QByteArray &path, const QByteArray &bytes, qint64 mtime)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    const timespec times[2] = {{mtime, 0}, {mtime, 0}};
    return ::futimens(fd, times) == 0 && ::close(fd) == 0 && ok;
}

struct stat statOf(const QByteArray &path)
{
    struct stat info = {};
    ::stat(path.constData(), &info);
    return info;
}

QSet<QByteArray> namesIn(const QString &folder)
{
    SafeFileListOptions all;
    all.skipHidden = false;
    QSet<QByteArray> names;
    for (const SafeFileEntry &e : SafeFile::list(folder, all).value_or(QList<SafeFileEntry>()))
        names.insert(e.name);
    return names;
}

} // namespace

// The card run on demo cards: what is staged, when the working folder may be
// replaced, and which folders may never be emptied.
class TestCardCopyRun : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void replacesWorkingFolderWithTheCard_data();
    void replacesWorkingFolderWithTheCard();
    void fullStagingLeavesWorkingFolderAlone_data();
    void fullStagingLeavesWorkingFolderAlone();
    void removeFolderAtPathRefuses_data();
    void removeFolderAtPathRefuses();
};

void TestCardCopyRun::replacesWorkingFolderWithTheCard_data()
{
    QTest::addColumn<bool>("otherFileSystem");
    QTest::newRow("working folder beside the staging folder") << false;
    QTest::newRow("working folder on another file system") << true;
}

void TestCardCopyRun::replacesWorkingFolderWithTheCard()
{
    QFETCH(bool, otherFileSystem);
    TestSandbox &sandbox = TestSandbox::instance();
    const QString cardFolder = sandbox.makeFolder(u"card"_s);
    const DemoCard card = DemoCard::make(cardFolder, 2, 3);
    QVERIFY(card.isValid());
    const QByteArray dcim = QFile::encodeName(cardFolder + u"/DCIM"_s);
    QVERIFY(QDir().mkpath(cardFolder + u"/DCIM/101CANON"_s) && QDir().mkpath(cardFolder + u"/DCIM/.thumbs"_s));
    QVERIFY(writeRaw(dcim + "/101CANON/IMG_0001.JPG", "a later photo of the same name", 1600000000));
    QVERIFY(writeRaw(dcim + "/101CANON/IMG_0101.CR2", "raw photo", 1600000001));
    QVERIFY(writeRaw(dcim + "/100CANON/caf\xe9.JPG", "latin-1 name", 1600000002));
    QVERIFY(writeRaw(dcim + "/100CANON/NOTES.txt", "not a photo", 1600000003));
    QVERIFY(writeRaw(dcim + "/101CANON/SOUND.WAV", "RIFF", 1600000004));
    QVERIFY(writeRaw(dcim + "/100CANON/.hidden.JPG", "hidden", 1600000005));
    QVERIFY(writeRaw(dcim + "/.thumbs/IMG_9999.JPG", "in a hidden folder", 1600000006));

    std::optional<ScopedMount> otherFs;
    QString working = sandbox.makeFolder(u"work"_s);
    if (otherFileSystem) {
        otherFs = ScopedMount::tmpfs(sandbox.makeFolder(u"otherfs"_s), u"64m"_s);
        SKIP_UNLESS_MOUNTED(*otherFs);
        working = otherFs->folder() + u"/work"_s;
    }
    QVERIFY(writeFile(working + u"/OLD.JPG"_s, "last card") && writeFile(working + u"/sub/OLD2.JPG"_s, "x"));

    CardCopyRun::Options options;
    options.cardFolder = cardFolder;
    options.stagingFolder = sandbox.makeFolder(u"tmp"_s) + u"/copyOfCard"_s;
    // The sandbox is removed with Qt, which cannot name this file.
    const auto removeLatin1Names = qScopeGuard([&] {
        for (const QString &folder : QStringList {cardFolder + u"/DCIM/100CANON"_s, options.stagingFolder, working})
            ::unlink(QByteArray(QFile::encodeName(folder) + "/caf\xe9.JPG").constData());
    });
    options.workingFolder = working;
    options.ejectPath = cardFolder;
    options.settleMs = 0;
    QStringList ejected;
    QStringList statuses;
    options.eject = [&ejected](const QString &path) { ejected << path; };
    options.status = [&statuses](const QString &text) { statuses << text; };
    const CardCopyRun::Result r = CardCopyRun::run(options);

    QCOMPARE(r.outcome, CardCopyRun::Outcome::Transferred);
    QSet<QByteArray> expected {"IMG_0101.CR2", "caf\xe9.JPG"};
    for (const DemoCard::Photo &p : card.photos)
        expected.insert(QFile::encodeName(QFileInfo(p.path).fileName()));
    QCOMPARE(namesIn(working), expected);
    QCOMPARE(r.sameName.size(), 1);
    QCOMPARE(ejected, QStringList {cardFolder});
    QCOMPARE(statuses.constFirst(), u"Copying Files from Card..."_s);
    QCOMPARE(statuses.count(u"Done - Copying Files from Card..."_s), 2);
    QVERIFY(statuses.contains(u"Transferring Photo: IMG_0101.CR2"_s));

    // Every photo is its first occurrence on the card, byte for byte, with the card's time.
    const QByteArray workingBytes = QFile::encodeName(working);
    for (const QByteArray &name : std::as_const(expected)) {
        const QByteArray source = dcim + (name == "IMG_0101.CR2" ? "/101CANON/" : "/100CANON/") + name;
        const QByteArray target = workingBytes + '/' + name;
        QCOMPARE(readFile(QFile::decodeName(target)), readFile(QFile::decodeName(source)));
        QCOMPARE(statOf(target).st_mtim.tv_sec, statOf(source).st_mtim.tv_sec);
        QCOMPARE(statOf(target).st_mtim.tv_nsec, statOf(source).st_mtim.tv_nsec);
        // Beside the staging folder the photo is linked, not copied a second time.
        QCOMPARE(statOf(target).st_nlink, otherFileSystem ? nlink_t(1) : nlink_t(2));
    }
}

void TestCardCopyRun::fullStagingLeavesWorkingFolderAlone_data()
{
    QTest::addColumn<bool>("commandLine");
    QTest::newRow("run") << false;
    QTest::newRow("lumisort-cli import") << true;
}

void TestCardCopyRun::fullStagingLeavesWorkingFolderAlone()
{
    QFETCH(bool, commandLine);
    TestSandbox &sandbox = TestSandbox::instance();
    ScopedMount smallTmp = ScopedMount::tmpfs(sandbox.makeFolder(u"smalltmp"_s), u"1m"_s);
    SKIP_UNLESS_MOUNTED(smallTmp);
    const QString card = sandbox.makeFolder(u"card"_s);
    for (int i = 1; i <= 6; ++i) {
        QByteArray photo(300 * 1024, Qt::Uninitialized);
        QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(photo.data()), photo.size() / 4);
        QVERIFY(writeFile(card + u"/DCIM/100CANON/IMG_%1.JPG"_s.arg(i, 4, 10, QLatin1Char('0')), photo));
    }
    const QString working = sandbox.makeFolder(u"work"_s);
    QVERIFY(writeFile(working + u"/OLD.JPG"_s, "last card"));
    SettingsStore::standard().setString(working, cPrefSourcePath);
    SettingsStore::standard().removeObjectForKey(cPrefTempMountVolume);

    const QByteArray oldTmp = qgetenv("TMPDIR");
    qputenv("TMPDIR", QFile::encodeName(smallTmp.folder()));
    const auto restore = qScopeGuard([&oldTmp] { qputenv("TMPDIR", oldTmp); });
    QString report;
    if (commandLine) {
        QProcess cli;
        cli.start(TestSandbox::cliPath(), {u"--set"_s, u"prefSourcePath="_s + working, u"import"_s, card});
        QVERIFY(cli.waitForFinished(60000));
        QCOMPARE(cli.exitCode(), 1);
        report = QString::fromUtf8(cli.readAllStandardError());
    } else {
        CardCopyRun::Options options = CardCopyRun::Options::fromSettings(card);
        options.settleMs = 0;
        QVERIFY(options.stagingFolder.startsWith(smallTmp.folder()));
        const CardCopyRun::Result r = CardCopyRun::run(options);
        QCOMPARE(r.outcome, CardCopyRun::Outcome::StagingIncomplete);
        QVERIFY(r.staged > 0 && r.staged < 6);
        report = r.message;
    }
    QVERIFY2(report.contains(u"ENOSPC"_s) && report.contains(u"working folder was left as it was"_s),
             qPrintable(report));
    QCOMPARE(namesIn(working), QSet<QByteArray> {"OLD.JPG"});
    QCOMPARE(readFile(working + u"/OLD.JPG"_s), "last card");
}

void TestCardCopyRun::removeFolderAtPathRefuses_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("removed");
    QTest::newRow("the root folder") << u"root"_s << false;
    QTest::newRow("the home folder") << u"home"_s << false;
    QTest::newRow("a folder holding the home folder") << u"above home"_s << false;
    QTest::newRow("a mount point") << u"mount"_s << false;
    QTest::newRow("a folder holding a mount point") << u"above mount"_s << false;
    QTest::newRow("the destination folder") << u"destination"_s << false;
    QTest::newRow("a folder holding the destination") << u"above destination"_s << false;
    QTest::newRow("a missing folder") << u"missing"_s << false;
    QTest::newRow("a file") << u"file"_s << false;
    QTest::newRow("a working folder") << u"working"_s << true;
}

void TestCardCopyRun::removeFolderAtPathRefuses()
{
    QFETCH(QString, kind);
    QFETCH(bool, removed);
    TestSandbox &sandbox = TestSandbox::instance();
    SettingsStore &store = SettingsStore::standard();
    const QString destination = sandbox.makeFolder(u"above-destination"_s) + u"/destination"_s;
    QVERIFY(writeFile(destination + u"/filed.JPG"_s, "filed"));
    store.setString(destination, cPrefDestinationPath);
    std::optional<ScopedMount> mount;
    QString path;
    if (kind == u"root"_s) {
        path = u"/"_s;
    } else if (kind == u"home"_s) {
        path = u"~"_s;
    } else if (kind == u"above home"_s) {
        path = sandbox.root();
    } else if (kind == u"mount"_s || kind == u"above mount"_s) {
        const QString outer = sandbox.makeFolder(u"outer"_s);
        mount = ScopedMount::tmpfs(outer + u"/inner"_s);
        SKIP_UNLESS_MOUNTED(*mount);
        path = kind == u"mount"_s ? mount->folder() : outer;
    } else if (kind == u"destination"_s || kind == u"above destination"_s) {
        path = kind == u"destination"_s ? destination : QFileInfo(destination).path();
    } else if (kind == u"missing"_s) {
        path = sandbox.root() + u"/no-such-folder"_s;
    } else {
        path = sandbox.makeFolder(u"working"_s);
        if (kind == u"file"_s)
            path += u"/file.JPG"_s;
    }
    const QString marker = kind == u"working"_s ? path + u"/sub/.hidden/IMG_0001.JPG"_s
        : kind == u"file"_s                     ? path
                                                : QString();
    if (!marker.isEmpty())
        QVERIFY(writeFile(marker, "photo"));
    const ino_t inode = statOf(QFile::encodeName(path)).st_ino;

    QString reason;
    QCOMPARE(CardCopyRun::removeFolderAtPath(path, {}, &reason), removed);
    QCOMPARE(reason.isEmpty(), removed);
    QVERIFY(QFileInfo::exists(destination + u"/filed.JPG"_s));
    QVERIFY(QFileInfo::exists(QDir::homePath()));
    if (removed) {
        QCOMPARE(namesIn(path), QSet<QByteArray>());
        QCOMPARE(statOf(QFile::encodeName(path)).st_ino, inode);
    } else if (!marker.isEmpty()) {
        QCOMPARE(readFile(marker), "photo");
    }
    QCOMPARE(QFileInfo::exists(kind == u"home"_s ? QDir::homePath() : path), kind != u"missing"_s);
}

LUMISORT_CORE_TEST_MAIN(TestCardCopyRun)
#include "tst_cardcopyrun.moc"
