#include "ScopedMount.h"
#include "TestMain.h"
#include "support/SafeFile.h"

#include <QDir>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QUrl>
#include <fcntl.h>
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

bool exists(const NativePath &path)
{
    struct stat info = {};
    return ::lstat(path.c_str(), &info) == 0;
}

bool putBytes(const NativePath &path, const QByteArray &data)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    const bool written = fd >= 0 && ::write(fd, data.constData(), std::size_t(data.size())) == data.size();
    return ::close(fd) == 0 && written;
}

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
    switch (op) {
    case Op::Rename:
        return SafeFile::renameNoReplace(from, to);
    case Op::Move:
        return SafeFile::move(from, to, options);
    case Op::Copy:
        return SafeFile::copy(from, to, options);
    case Op::Remove:
        return SafeFile::remove(from);
    }
    return {};
}

} // namespace

class TestSafeFile : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void existingTarget_data()
    {
        QTest::addColumn<Op>("op");
        QTest::addColumn<SafeFile::Replace>("replace");
        QTest::addColumn<bool>("replaced");
        QTest::newRow("rename refuses") << Op::Rename << SafeFile::Replace::Never << false;
        QTest::newRow("move refuses") << Op::Move << SafeFile::Replace::Never << false;
        QTest::newRow("copy refuses") << Op::Copy << SafeFile::Replace::Never << false;
        QTest::newRow("move replaces when asked") << Op::Move << SafeFile::Replace::Atomically << true;
        QTest::newRow("copy replaces when asked") << Op::Copy << SafeFile::Replace::Atomically << true;
    }
    void existingTarget()
    {
        QFETCH(Op, op);
        QFETCH(SafeFile::Replace, replace);
        QFETCH(bool, replaced);
        const QString folder = TestSandbox::instance().makeFolder(u"existing"_s);
        QVERIFY(writeFile(folder + u"/a.jpg"_s, "new photo"));
        QVERIFY(writeFile(folder + u"/b.jpg"_s, "old photo"));

        const FileResult r =
            run(op, QString(folder + u"/a.jpg"_s), QString(folder + u"/b.jpg"_s), {replace, true, true, true, {}});
        if (!replaced) {
            QCOMPARE(r.errorNumber(), EEXIST);
            QVERIFY2(r.text().contains(u"EEXIST"_s), qPrintable(r.text()));
            QCOMPARE(readFile(folder + u"/a.jpg"_s), "new photo");
            QCOMPARE(readFile(folder + u"/b.jpg"_s), "old photo");
            return;
        }
        QVERIFY2(r.ok(), qPrintable(r.text()));
        QCOMPARE(readFile(folder + u"/b.jpg"_s), "new photo");
        QCOMPARE(QFile::exists(folder + u"/a.jpg"_s), op == Op::Copy);
        QCOMPARE(everythingIn(folder).size(), op == Op::Copy ? 2 : 1);
    }

    void nameLength_data()
    {
        QTest::addColumn<Op>("op");
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("error");
        QTest::newRow("rename 255") << Op::Rename << 255 << 0;
        QTest::newRow("copy 255") << Op::Copy << 255 << 0;
        QTest::newRow("rename 256") << Op::Rename << 256 << ENAMETOOLONG;
        QTest::newRow("copy 256") << Op::Copy << 256 << ENAMETOOLONG;
    }
    void nameLength()
    {
        QFETCH(Op, op);
        QFETCH(int, length);
        QFETCH(int, error);
        const NativePath folder(TestSandbox::instance().makeFolder(u"length"_s));
        const NativePath source = folder.child(QByteArrayLiteral("a.jpg"));
        const NativePath target = folder.child(QByteArray(length - 4, 'x') + ".jpg");
        QVERIFY(putBytes(source, "photo"));

        const FileResult r = run(op, source, target);
        QCOMPARE(r.errorNumber(), error);
        QCOMPARE(getBytes(target), error ? QByteArray() : QByteArrayLiteral("photo"));
        if (error) {
            QVERIFY2(r.text().contains(u"ENAMETOOLONG"_s) && !r.text().contains(u"Unknown error"_s),
                     qPrintable(r.text()));
            QCOMPARE(getBytes(source), "photo");
        }
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
        const NativePath folder(TestSandbox::instance().makeFolder(u"odd"_s));
        const NativePath other(TestSandbox::instance().makeFolder(u"odd-target"_s));
        // Qt's own recursive removal of the sandbox skips such names.
        const auto cleanUp = qScopeGuard([&] {
            ::unlink(folder.child(name).c_str());
            ::unlink(other.child(name).c_str());
        });
        QVERIFY(putBytes(folder.child(name), name));

        const auto listed = SafeFile::list(folder);
        QVERIFY(listed);
        QCOMPARE(listed->size(), 1);
        QCOMPARE(listed->first().name, name);
        QCOMPARE(listed->first().path, folder.child(name));
        QCOMPARE(listed->first().displayName, QString::fromUtf8(name));
        // As text (a QUrl, a notification) the path still comes back to the same bytes,
        // and never to the valid name it looks like.
        const QString asText = listed->first().path.toString();
        QCOMPARE(NativePath(QUrl::fromLocalFile(asText).toLocalFile()), folder.child(name));
        QVERIFY(NativePath(QString::fromUtf8(name)).bytes() != name || listed->first().path.isValidUtf8());

        const FileResult moved = SafeFile::move(listed->first().path, other.child(name));
        QVERIFY2(moved.ok(), qPrintable(moved.text()));
        const FileResult copied = SafeFile::copy(other.child(name), folder.child(name));
        QVERIFY2(copied.ok(), qPrintable(copied.text()));
        QCOMPARE(getBytes(folder.child(name)), name);
        QCOMPARE(getBytes(other.child(name)), name);
    }

    void recursiveListingSkipsHiddenAndLinks()
    {
        const QString folder = TestSandbox::instance().makeFolder(u"tree"_s);
        QVERIFY(writeFile(folder + u"/a.jpg"_s, "a"));
        QVERIFY(writeFile(folder + u"/sub/b.jpg"_s, "b"));
        QVERIFY(writeFile(folder + u"/.thumbs/c.jpg"_s, "c"));
        QVERIFY(QFile::link(folder, folder + u"/sub/loop"_s));

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
    }

    void makeFolders_data()
    {
        QTest::addColumn<QString>("relative");
        QTest::addColumn<int>("error");
        QTest::newRow("new nested") << u"x/y/z"_s << 0;
        QTest::newRow("existing folder") << u"folder"_s << 0;
        QTest::newRow("existing file") << u"file"_s << EEXIST;
        QTest::newRow("below a file") << u"file/sub"_s << ENOTDIR;
    }
    void makeFolders()
    {
        QFETCH(QString, relative);
        QFETCH(int, error);
        const QString root = TestSandbox::instance().makeFolder(u"mkdir"_s);
        QVERIFY(QDir().mkpath(root + u"/folder"_s));
        QVERIFY(writeFile(root + u"/file"_s, "photo"));
        QCOMPARE(SafeFile::makeFolders(QString(root + u'/' + relative)).errorNumber(), error);
        QCOMPARE(QFileInfo(root + u'/' + relative).isDir(), error == 0);
        QCOMPARE(readFile(root + u"/file"_s), "photo");
    }

    void failedCopyLeavesNothingBehind_data()
    {
        QTest::addColumn<Op>("op");
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("cancel");
        QTest::addColumn<int>("error");
        QTest::newRow("copy into a full disk") << Op::Copy << 200 * 1024 << false << ENOSPC;
        QTest::newRow("move into a full disk") << Op::Move << 200 * 1024 << false << ENOSPC;
        QTest::newRow("move cancelled") << Op::Move << 16 * 1024 << true << ECANCELED;
    }
    void failedCopyLeavesNothingBehind()
    {
        QFETCH(Op, op);
        QFETCH(int, size);
        QFETCH(bool, cancel);
        QFETCH(int, error);
        const QString source = TestSandbox::instance().makeFolder(u"full-source"_s) + u"/photo.jpg"_s;
        const QByteArray photo = randomBytes(size);
        QVERIFY(writeFile(source, photo));
        const ScopedMount full = ScopedMount::tmpfs(TestSandbox::instance().makeFolder(u"full"_s), u"64k"_s);
        SKIP_UNLESS_MOUNTED(full);

        SafeFile::CopyOptions options;
        options.progress = [cancel](std::int64_t, std::int64_t) { return !cancel; };
        const FileResult r = run(op, source, QString(full.folder() + u"/photo.jpg"_s), options);
        QCOMPARE(r.errorNumber(), error);
        QVERIFY2(r.text().contains(QString::fromLatin1(strerrorname_np(error))), qPrintable(r.text()));
        QCOMPARE(everythingIn(full.folder()), QStringList());
        QCOMPARE(readFile(source), photo);
    }

    void moveAcrossFileSystems()
    {
        const ScopedMount a = ScopedMount::tmpfs(TestSandbox::instance().makeFolder(u"fs-a"_s), u"8m"_s);
        const ScopedMount b = ScopedMount::tmpfs(TestSandbox::instance().makeFolder(u"fs-b"_s), u"8m"_s);
        SKIP_UNLESS_MOUNTED(a);
        SKIP_UNLESS_MOUNTED(b);
        const NativePath source(a.folder() + u"/IMG_0001.CR3"_s);
        const NativePath target(b.folder() + u"/IMG_0001.CR3"_s);
        const QByteArray photo = randomBytes(3 * 1024 * 1024 + 7);
        QVERIFY(putBytes(source, photo));
        QCOMPARE(::chmod(source.c_str(), 0777), 0); // as every file on an exFAT card shows
        const timespec shot[2] = {{1500000000, 5}, {1400000000, 123456789}};
        QCOMPARE(::utimensat(AT_FDCWD, source.c_str(), shot, 0), 0);

        bool sourceKeptWhileCopying = true;
        SafeFile::CopyOptions options;
        options.progress = [&](std::int64_t, std::int64_t) { return sourceKeptWhileCopying &= exists(source); };
        SafeFile::CopyReport report;
        const FileResult r = SafeFile::move(source, target, options, &report);
        QVERIFY2(r.ok(), qPrintable(r.text()));
        QVERIFY(sourceKeptWhileCopying);
        QVERIFY(!exists(source));
        // Before reading the copy, which moves its access time.
        struct stat info = {};
        QCOMPARE(::stat(target.c_str(), &info), 0);
        const mode_t mask = ::umask(0);
        ::umask(mask);
        QCOMPARE(info.st_mode & 07777, 0666u & ~mask); // a new file of the user's, not the card's 0777
        QCOMPARE(info.st_mtim.tv_sec, shot[1].tv_sec);
        QCOMPARE(info.st_mtim.tv_nsec, shot[1].tv_nsec);
        QCOMPARE(info.st_atim.tv_sec, shot[0].tv_sec);

        QCOMPARE(getBytes(target), photo);
        QVERIFY(report.crossedFileSystems);
        QCOMPARE(report.bytes, photo.size());
        QCOMPARE(SafeFile::hashFile(target, true), std::optional<std::uint64_t>(report.hash));
        QCOMPARE(everythingIn(b.folder()), QStringList {u"IMG_0001.CR3"_s});
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
        const QString base =
            TestSandbox::instance().makeFolder(u"fuse-"_s + QString::fromLatin1(QTest::currentDataTag()));
        const ScopedMount card = ScopedMount::fuseImage(kind, base + u"/card.img"_s, base + u"/mnt"_s, 16);
        SKIP_UNLESS_MOUNTED(card);
        const NativePath folder(card.folder());
        const qsizetype label = everythingIn(card.folder()).size(); // fusefat lists the volume label
        const NativePath a = folder.child(u"IMG_0001.JPG"_s);
        const NativePath b = folder.child(u"IMG_0002.JPG"_s);
        QVERIFY(putBytes(a, "first photo"));
        QVERIFY(putBytes(b, "second photo"));

        // Renamed where nothing has the name.
        const NativePath renamed = folder.child(u"2000000000015_IMG_0001.JPG"_s);
        FileResult r = SafeFile::renameNoReplace(a, renamed);
        QVERIFY2(r.ok(), qPrintable(r.text()));
        QVERIFY(!exists(a));
        QCOMPARE(getBytes(renamed), QByteArray("first photo"));

        // Refused where a photo has the name, and where one has it in other letter case.
        for (const QString &taken : {u"IMG_0002.JPG"_s, u"img_0002.jpg"_s}) {
            r = SafeFile::renameNoReplace(renamed, folder.child(taken));
            QVERIFY2(!r.ok(), qPrintable(taken));
            QCOMPARE(r.errorNumber(), EEXIST);
            QCOMPARE(getBytes(renamed), QByteArray("first photo"));
            QCOMPARE(getBytes(b), QByteArray("second photo"));
        }
        QCOMPARE(everythingIn(card.folder()).size(), label + 2);

        // A move onto the card from another file system takes the name the same way.
        const NativePath outside(base + u"/IMG_0003.JPG"_s);
        QVERIFY(putBytes(outside, "third photo"));
        r = SafeFile::move(outside, folder.child(u"IMG_0003.JPG"_s));
        QVERIFY2(r.ok(), qPrintable(r.text()));
        QCOMPARE(getBytes(folder.child(u"IMG_0003.JPG"_s)), QByteArray("third photo"));
        QVERIFY(putBytes(outside, "other third photo"));
        QVERIFY(!SafeFile::move(outside, folder.child(u"IMG_0003.JPG"_s)).ok());
        QCOMPARE(getBytes(folder.child(u"IMG_0003.JPG"_s)), QByteArray("third photo"));
        QVERIFY(exists(outside));
        QCOMPARE(everythingIn(card.folder()).size(), label + 3); // no temporary left behind
    }

    void targetAppearsDuringCopy_data()
    {
        QTest::addColumn<SafeFile::Replace>("replace");
        QTest::newRow("never replace") << SafeFile::Replace::Never;
        QTest::newRow("replace atomically") << SafeFile::Replace::Atomically;
    }
    void targetAppearsDuringCopy()
    {
        QFETCH(SafeFile::Replace, replace);
        const QString source = TestSandbox::instance().makeFolder(u"race-source"_s) + u"/photo.jpg"_s;
        const QByteArray photo = randomBytes(512 * 1024);
        QVERIFY(writeFile(source, photo));
        const ScopedMount other = ScopedMount::tmpfs(TestSandbox::instance().makeFolder(u"race"_s));
        SKIP_UNLESS_MOUNTED(other);
        const QString target = other.folder() + u"/photo.jpg"_s;

        SafeFile::CopyOptions options;
        options.replace = replace;
        options.progress = [&](std::int64_t, std::int64_t) {
            return QFile::exists(target) || writeFile(target, "intruder");
        };
        const FileResult r = SafeFile::move(source, target, options);
        if (replace == SafeFile::Replace::Never) {
            QCOMPARE(r.errorNumber(), EEXIST);
            QCOMPARE(readFile(target), "intruder");
            QCOMPARE(readFile(source), photo);
        } else {
            QVERIFY2(r.ok(), qPrintable(r.text()));
            QCOMPARE(readFile(target), photo);
            QVERIFY(!QFile::exists(source));
        }
        QCOMPARE(everythingIn(other.folder()), QStringList {u"photo.jpg"_s});
    }

    void readOnlyFileSystem_data()
    {
        QTest::addColumn<Op>("op");
        QTest::addColumn<bool>("targetOutside");
        QTest::newRow("rename inside") << Op::Rename << false;
        QTest::newRow("move inside") << Op::Move << false;
        QTest::newRow("move out") << Op::Move << true;
        QTest::newRow("copy inside") << Op::Copy << false;
        QTest::newRow("remove") << Op::Remove << false;
    }
    void readOnlyFileSystem()
    {
        QFETCH(Op, op);
        QFETCH(bool, targetOutside);
        const QString folder = TestSandbox::instance().makeFolder(u"readonly"_s);
        const QString outside = TestSandbox::instance().makeFolder(u"outside"_s);
        QVERIFY(writeFile(folder + u"/a.jpg"_s, "photo"));
        const ScopedMount readOnly = ScopedMount::readOnlyBind(folder);
        SKIP_UNLESS_MOUNTED(readOnly);

        const FileResult r =
            run(op, QString(folder + u"/a.jpg"_s), QString((targetOutside ? outside : folder) + u"/b.jpg"_s));
        QCOMPARE(r.errorNumber(), EROFS);
        QVERIFY2(r.text().contains(u"EROFS"_s), qPrintable(r.text()));
        QCOMPARE(everythingIn(folder), QStringList {u"a.jpg"_s});
        QCOMPARE(readFile(folder + u"/a.jpg"_s), "photo");
        QCOMPARE(everythingIn(outside), QStringList());
    }
};

LUMISORT_CORE_TEST_MAIN(TestSafeFile)
#include "tst_safefile.moc"
