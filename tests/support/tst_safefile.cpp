#include "ScopedMount.h"
#include "TestMain.h"
#include "support/SafeFile.h"

#include <QDir>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QUrl>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

enum class Op
{
    Rename,
    Move,
    Copy,
    Remove
};

QByteArray getBytes(const NativePath &path)
{
    QByteArray data;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    char buffer[65536];
    for (ssize_t n; fd >= 0 && (n = ::read(fd, buffer, sizeof buffer)) > 0;)
        data.append(buffer, n);
    ::close(fd);
    return data;
}

QStringList everythingIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

QByteArray randomBytes(qsizetype size)
{
    QByteArray data(size, Qt::Uninitialized);
    QRandomGenerator(size).fillRange(reinterpret_cast<quint32 *>(data.data()), size / 4);
    return data;
}

FileResult run(Op op, const NativePath &from, const NativePath &to, const SafeFile::CopyOptions &options = {})
{
    return op == Op::Rename ? SafeFile::renameNoReplace(from, to)
        : op == Op::Move    ? SafeFile::move(from, to, options)
        : op == Op::Copy    ? SafeFile::copy(from, to, options)
                            : SafeFile::remove(from);
}

// A failure that names the system's error, never "Unknown error".
bool failedWith(const FileResult &r, int error)
{
    return !r.ok() && r.errorNumber() == error && r.text().contains(QLatin1StringView(strerrorname_np(error)))
        && !r.text().contains(u"Unknown error"_s);
}

QString sandboxFolder(const QString &name)
{
    return TestSandbox::instance().makeFolder(name);
}

} // namespace

class TestSafeFile : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // A target that exists, a name too long, a read-only disk: refused with the source
    // kept, and nothing replaced unless asked.
    void operations_data()
    {
        QTest::addColumn<Op>("op");
        QTest::addColumn<SafeFile::Replace>("replace");
        QTest::addColumn<QString>("target");
        QTest::addColumn<int>("error");
        QTest::addColumn<QStringList>("after");
        using R = SafeFile::Replace;
        const QString a = u"in/a.jpg=new photo"_s, b = u"in/b.jpg=old photo"_s;
        const QString n255 = u"in/"_s + QString(251, u'x') + u".jpg"_s,
                      n256 = u"in/"_s + QString(252, u'x') + u".jpg"_s;
        QTest::newRow("rename refuses") << Op::Rename << R::Never << u"in/b.jpg"_s << EEXIST << QStringList {a, b};
        QTest::newRow("move refuses") << Op::Move << R::Never << u"in/b.jpg"_s << EEXIST << QStringList {a, b};
        QTest::newRow("copy refuses") << Op::Copy << R::Never << u"in/b.jpg"_s << EEXIST << QStringList {a, b};
        QTest::newRow("move replaces when asked")
            << Op::Move << R::Atomically << u"in/b.jpg"_s << 0 << QStringList {u"in/b.jpg=new photo"_s};
        QTest::newRow("copy replaces when asked")
            << Op::Copy << R::Atomically << u"in/b.jpg"_s << 0 << QStringList {a, u"in/b.jpg=new photo"_s};
        QTest::newRow("rename 255") << Op::Rename << R::Never << n255 << 0 << QStringList {b, n255 + u"=new photo"_s};
        QTest::newRow("copy 255") << Op::Copy << R::Never << n255 << 0 << QStringList {a, b, n255 + u"=new photo"_s};
        QTest::newRow("rename 256") << Op::Rename << R::Never << n256 << ENAMETOOLONG << QStringList {a, b};
        QTest::newRow("copy 256") << Op::Copy << R::Never << n256 << ENAMETOOLONG << QStringList {a, b};
        for (const auto &[name, op, target] : {std::tuple {"rename inside read-only", Op::Rename, u"in/c.jpg"_s},
                                               {"move inside read-only", Op::Move, u"in/c.jpg"_s},
                                               {"move out of read-only", Op::Move, u"out/c.jpg"_s},
                                               {"copy inside read-only", Op::Copy, u"in/c.jpg"_s},
                                               {"remove on read-only", Op::Remove, u"in/c.jpg"_s}})
            QTest::newRow(name) << op << R::Never << target << EROFS << QStringList {a, b};
    }
    void operations()
    {
        QFETCH(Op, op);
        QFETCH(SafeFile::Replace, replace);
        QFETCH(QString, target);
        QFETCH(int, error);
        QFETCH(QStringList, after);
        const QString base = sandboxFolder(u"operations"_s);
        QVERIFY(writeFile(base + u"/in/a.jpg"_s, "new photo") && writeFile(base + u"/in/b.jpg"_s, "old photo"));
        QVERIFY(QDir(base).mkdir(u"out"_s));
        std::optional<ScopedMount> mount;
        if (error == EROFS) // "in" read-only
            SKIP_UNLESS_MOUNTED(mount.emplace(ScopedMount::readOnlyBind(base + u"/in"_s)));

        const FileResult r = run(op, QString(base + u"/in/a.jpg"_s), QString(base + u'/' + target),
                                 {.replace = replace, .progress = {}});
        QVERIFY2(error ? failedWith(r, error) : r.ok(), qPrintable(r.text()));
        QCOMPARE(filesWithContents(base), after);
    }

    void oddNamesAreListedAndMovedByteExact_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::newRow("invalid UTF-8") << QByteArray("\xff\xfe.jpg");
        QTest::newRow("newline") << QByteArray("line\nbreak.jpg");
        QTest::newRow("truncated sequence") << QByteArray("caf\xc3.jpg");
        QTest::newRow("encoded surrogate") << QByteArray("a\xed\xb3\xbf.jpg");
        QTest::newRow("overlong slash") << QByteArray("a\xc0\xaf.jpg");
        QTest::newRow("four-byte character") << QByteArray("\xf0\x9f\x93\xb7\xff.jpg");
    }
    void oddNamesAreListedAndMovedByteExact()
    {
        QFETCH(QByteArray, name);
        const NativePath folder(sandboxFolder(u"odd"_s)), other(sandboxFolder(u"odd-target"_s));
        // Qt's own recursive removal of the sandbox skips such names.
        const auto cleanUp =
            qScopeGuard([&] { ::unlink(folder.child(name).c_str()), ::unlink(other.child(name).c_str()); });
        QVERIFY(SafeFile::writeDurably(folder.child(name), name).ok());

        const auto listed = SafeFile::list(folder);
        QVERIFY(listed && listed->size() == 1);
        const SafeFile::Entry &entry = listed->first();
        QCOMPARE(entry.name, name);
        QCOMPARE(entry.path, folder.child(name));
        QCOMPARE(entry.displayName, QString::fromUtf8(name));
        // As text (a QUrl, a notification) the path still comes back to the same bytes,
        // and never to the valid name it looks like.
        QCOMPARE(NativePath(QUrl::fromLocalFile(entry.path.toString()).toLocalFile()), folder.child(name));
        QVERIFY(NativePath(QString::fromUtf8(name)).bytes() != name || entry.path.isValidUtf8());

        const FileResult moved = SafeFile::move(entry.path, other.child(name));
        QVERIFY2(moved.ok(), qPrintable(moved.text()));
        const FileResult copied = SafeFile::copy(other.child(name), folder.child(name));
        QVERIFY2(copied.ok(), qPrintable(copied.text()));
        QCOMPARE(getBytes(folder.child(name)), name);
        QCOMPARE(getBytes(other.child(name)), name);
    }

    void listingAndFolders()
    {
        const QString folder = sandboxFolder(u"tree"_s);
        QVERIFY(writeFile(folder + u"/a.jpg"_s, "a") && writeFile(folder + u"/sub/b.jpg"_s, "b"));
        QVERIFY(writeFile(folder + u"/.thumbs/c.jpg"_s, "c") && QFile::link(folder, folder + u"/sub/loop"_s));
        // Recursive listing skips hidden names and never descends through a link.
        const auto listed = SafeFile::list(folder, {true, true, false});
        QVERIFY(listed);
        QStringList names;
        for (const SafeFile::Entry &e : *listed)
            names << e.path.toString().mid(folder.size() + 1);
        names.sort();
        QCOMPARE(names, (QStringList {u"a.jpg"_s, u"sub"_s, u"sub/b.jpg"_s, u"sub/loop"_s}));
        FileResult error;
        QVERIFY(!SafeFile::list(QString(folder + u"/missing"_s), {}, &error));
        QCOMPARE(error.errorNumber(), ENOENT);

        for (const auto &[relative, expected] :
             {std::pair {u"x/y/z"_s, 0}, {u"sub"_s, 0}, {u"a.jpg"_s, EEXIST}, {u"a.jpg/sub"_s, ENOTDIR}}) {
            QCOMPARE(SafeFile::makeFolders(QString(folder + u'/' + relative)).errorNumber(), expected);
            QCOMPARE(QFileInfo(folder + u'/' + relative).isDir(), expected == 0);
        }
        QCOMPARE(readFile(folder + u"/a.jpg"_s), "a");
    }

    // A move or copy onto another disk: whole, verified, with the photo's times and a new
    // file's mode; or interrupted by a full disk, a cancel, a target made meanwhile, with
    // nothing half-written left, the source kept, and what appeared never replaced unless asked.
    void acrossFileSystems_data()
    {
        QTest::addColumn<Op>("op");
        QTest::addColumn<SafeFile::Replace>("replace");
        QTest::addColumn<bool>("intruder"); // the target appears while the photo is copied
        QTest::addColumn<int>("error"); // ECANCELED: cancelled by the progress callback
        QTest::addColumn<int>("photoSize");
        QTest::addColumn<QString>("diskSize");
        using R = SafeFile::Replace;
        QTest::newRow("move") << Op::Move << R::Never << false << 0 << 3 * 1024 * 1024 + 7 << u"8m"_s;
        QTest::newRow("copy into a full disk") << Op::Copy << R::Never << false << ENOSPC << 200 * 1024 << u"64k"_s;
        QTest::newRow("move into a full disk") << Op::Move << R::Never << false << ENOSPC << 200 * 1024 << u"64k"_s;
        QTest::newRow("move cancelled") << Op::Move << R::Never << false << ECANCELED << 16 * 1024 << u"64k"_s;
        QTest::newRow("target appears") << Op::Move << R::Never << true << EEXIST << 512 * 1024 << u"1m"_s;
        QTest::newRow("target appears, replaced") << Op::Move << R::Atomically << true << 0 << 512 * 1024 << u"1m"_s;
    }
    void acrossFileSystems()
    {
        QFETCH(Op, op);
        QFETCH(SafeFile::Replace, replace);
        QFETCH(bool, intruder);
        QFETCH(int, error);
        QFETCH(int, photoSize);
        QFETCH(QString, diskSize);
        const QString source = sandboxFolder(u"across-source"_s) + u"/IMG_0001.CR3"_s;
        const QByteArray photo = randomBytes(photoSize);
        const timespec shot[2] = {{1500000000, 5}, {1400000000, 123456789}};
        // Mode 0777 as every file on an exFAT card shows.
        QVERIFY(writeFile(source, photo) && ::chmod(QFile::encodeName(source).constData(), 0777) == 0
                && ::utimensat(AT_FDCWD, QFile::encodeName(source).constData(), shot, 0) == 0);
        const ScopedMount disk = ScopedMount::tmpfs(sandboxFolder(u"across"_s), diskSize);
        SKIP_UNLESS_MOUNTED(disk);
        const QString target = disk.folder() + u"/IMG_0001.CR3"_s;

        bool sourceKeptWhileCopying = true;
        const auto progress = [&](std::int64_t, std::int64_t) {
            sourceKeptWhileCopying &= QFile::exists(source);
            return intruder ? QFile::exists(target) || writeFile(target, "intruder") : error != ECANCELED;
        };
        SafeFile::CopyReport report;
        const SafeFile::CopyOptions options {.replace = replace, .progress = progress};
        const FileResult r = op == Op::Copy ? SafeFile::copy(source, target, options, &report)
                                            : SafeFile::move(source, target, options, &report);
        QVERIFY2(error ? failedWith(r, error) : r.ok(), qPrintable(r.text()));
        QVERIFY(sourceKeptWhileCopying);
        QCOMPARE(readFile(source), error ? photo : QByteArray());
        QCOMPARE(everythingIn(disk.folder()),
                 error && error != EEXIST ? QStringList() : QStringList {u"IMG_0001.CR3"_s});
        if (error) {
            QCOMPARE(readFile(target), error == EEXIST ? "intruder"_ba : QByteArray());
            return;
        }
        // Before reading the copy, which moves its access time.
        struct stat info = {};
        QCOMPARE(::stat(QFile::encodeName(target).constData(), &info), 0);
        const mode_t mask = ::umask(0);
        ::umask(mask);
        // A new file of the user's, not the card's 0777, with the photo's times.
        QCOMPARE(std::tuple(info.st_mode & 07777, info.st_mtim.tv_sec, info.st_mtim.tv_nsec, info.st_atim.tv_sec),
                 std::tuple(0666u & ~mask, shot[1].tv_sec, shot[1].tv_nsec, shot[0].tv_sec));
        QCOMPARE(readFile(target), photo);
        QVERIFY(report.crossedFileSystems);
        QCOMPARE(report.bytes, photo.size());
        QCOMPARE(SafeFile::hashFile(QString(target), true), std::optional<std::uint64_t>(report.hash));
    }

    // Card file systems through FUSE have neither RENAME_NOREPLACE nor hard links.
    void cardFileSystemsWithoutNoReplace_data()
    {
        QTest::addColumn<ScopedMount::FuseKind>("kind");
        QTest::newRow("exFAT") << ScopedMount::FuseKind::ExFat;
        QTest::newRow("FAT") << ScopedMount::FuseKind::Fat;
    }
    void cardFileSystemsWithoutNoReplace()
    {
        QFETCH(ScopedMount::FuseKind, kind);
        const QString base = sandboxFolder(u"fuse-"_s + QString::fromLatin1(QTest::currentDataTag()));
        const ScopedMount card = ScopedMount::fuseImage(kind, base + u"/card.img"_s, base + u"/mnt"_s, 16);
        SKIP_UNLESS_MOUNTED(card);
        const QString folder = card.folder();
        const qsizetype label = everythingIn(folder).size(); // fusefat lists the volume label
        QVERIFY(writeFile(folder + u"/IMG_0001.JPG"_s, "first photo")
                && writeFile(folder + u"/IMG_0002.JPG"_s, "second photo"));
        const QString renamed = folder + u"/2000000000015_IMG_0001.JPG"_s;
        FileResult r = SafeFile::renameNoReplace(QString(folder + u"/IMG_0001.JPG"_s), renamed);
        QVERIFY2(r.ok(), qPrintable(r.text()));
        // Refused where a photo has the name, and where one has it in other letter case.
        for (const QString &taken : {u"IMG_0002.JPG"_s, u"img_0002.jpg"_s}) {
            r = SafeFile::renameNoReplace(renamed, QString(folder + u'/' + taken));
            QVERIFY2(failedWith(r, EEXIST), qPrintable(taken + r.text()));
        }
        // A move onto the card from another file system takes the name the same way.
        const QString outside = base + u"/IMG_0003.JPG"_s, onCard = folder + u"/IMG_0003.JPG"_s;
        QVERIFY(writeFile(outside, "third photo"));
        QVERIFY2((r = SafeFile::move(outside, onCard)).ok(), qPrintable(r.text()));
        QVERIFY(writeFile(outside, "other third photo"));
        QVERIFY(!SafeFile::move(outside, onCard).ok());
        QCOMPARE(readFile(outside), "other third photo");
        for (const auto &[name, bytes] : {std::pair {u"2000000000015_IMG_0001.JPG"_s, "first photo"_ba},
                                          {u"IMG_0002.JPG"_s, "second photo"_ba},
                                          {u"IMG_0003.JPG"_s, "third photo"_ba}})
            QCOMPARE(readFile(folder + u'/' + name), bytes);
        QCOMPARE(everythingIn(folder).size(), label + 3); // nothing else, no temporary left behind
    }
};

LUMISORT_CORE_TEST_MAIN(TestSafeFile)
#include "tst_safefile.moc"
