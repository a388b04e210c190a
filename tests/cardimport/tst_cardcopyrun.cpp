#include "CardImportTesting.h"
#include "DemoCard.h"
#include "ScopedMount.h"
#include "TestMain.h"
#include "barcodes/BarcodeCache.h"
#include "barcodes/BarcodeScanScheduler.h"
#include "cardimport/CardCopyRun.h"
#include "settings/SettingsKeys.h"
#include "settings/SettingsStore.h"
#include "support/SafeFile.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSet>
#include <QSignalSpy>
#include <QStandardPaths>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace CardImportTesting;

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

QByteArray randomBytes(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(bytes.data()), bytes.size() / 4);
    return bytes;
}

QString makeFolder(const QString &name)
{
    return TestSandbox::instance().makeFolder(name);
}

// A run of the card into the working folder, with consent to clear it, ejecting the card's folder.
CardCopyRun::Options consentedRun(const QString &card, const QString &working)
{
    CardCopyRun::Options options;
    options.cardFolder = card;
    options.workingFolder = working;
    options.discardWorkingFolder = true;
    options.ejectPath = card;
    options.settleMs = 0;
    return options;
}

} // namespace

// The card run on demo cards and real mounts: what is staged and where, when the
// working folder may be cleared (into the trash), and which folders are never touched.
class TestCardCopyRun : public QObject
{
    Q_OBJECT

private Q_SLOTS:

    void init()
    {
        SettingsStore::standard().removeObjectForKey(cPrefTempMountVolume);
        SettingsStore::standard().removeObjectForKey(cPrefDestinationPath);
    }

    void replacesWorkingFolderWithTheCard_data()
    {
        QTest::addColumn<bool>("otherFileSystem");
        QTest::newRow("working folder on the cache's file system") << false;
        QTest::newRow("working folder on a file system of its own") << true;
    }

    void replacesWorkingFolderWithTheCard()
    {
        QFETCH(bool, otherFileSystem);
        const QString cardFolder = makeFolder(u"card"_s);
        const DemoCard card = DemoCard::make(cardFolder, 2, 3);
        QVERIFY(card.isValid());
        const QByteArray dcim = QFile::encodeName(cardFolder + u"/DCIM"_s);
        // "file below DCIM>name it takes in the working folder"; no name: not imported. The later
        // IMG_0001.JPG takes the first free number, past the card's own IMG_0001-2.JPG.
        const QByteArrayList files {"/101CANON/IMG_0001.JPG>IMG_0001-3.JPG",
                                    "/101CANON/IMG_0101.CR2>IMG_0101.CR2",
                                    "/100CANON/caf\xe9.JPG>caf\xe9.JPG",
                                    "/100CANON/NOTES.txt",
                                    "/101CANON/SOUND.WAV",
                                    "/100CANON/.hidden.JPG",
                                    "/.thumbs/IMG_9999.JPG",
                                    "/101CANON/IMG_0001-2.JPG>IMG_0001-2.JPG"};
        QMap<QByteArray, QByteArray> sourceOf;
        for (qsizetype i = 0; i < files.size(); ++i) {
            const QByteArray path = files[i].split('>').constFirst();
            QVERIFY(QDir().mkpath(QFile::decodeName(dcim + path.left(path.lastIndexOf('/')))));
            QVERIFY(writeRaw(dcim + path, path, 1600000000 + i));
            if (files[i].contains('>'))
                sourceOf.insert(files[i].split('>').constLast(), path);
        }
        // As an exFAT card shows every file.
        QCOMPARE(QProcess::execute(u"chmod"_s, {u"-R"_s, u"0777"_s, QFile::decodeName(dcim)}), 0);

        std::optional<ScopedMount> otherFs;
        QString working = makeFolder(u"work"_s);
        if (otherFileSystem) {
            otherFs = ScopedMount::tmpfs(makeFolder(u"otherfs"_s), u"64m"_s);
            SKIP_UNLESS_MOUNTED(*otherFs);
            working = otherFs->folder() + u"/work"_s;
        }
        QVERIFY(writeFile(working + u"/OLD.JPG"_s, "last card") && writeFile(working + u"/sub/OLD2.JPG"_s, "x"));

        CardCopyRun::Options options = consentedRun(cardFolder, working);
        const QString staging = CardCopyRun::stagingFolderFor(working);
        // The sandbox is removed with Qt, which cannot name this file.
        const auto removeLatin1Names = qScopeGuard([&] {
            for (const QString &folder : QStringList {cardFolder + u"/DCIM/100CANON"_s, staging, working})
                ::unlink(QByteArray(QFile::encodeName(folder) + "/caf\xe9.JPG").constData());
        });
        QStringList ejected;
        std::optional<struct stat> stagingWhileCopying;
        options.eject = [&ejected](const QString &path) { ejected << path; };
        options.copied = [&](const QString &, qint64) {
            if (!stagingWhileCopying)
                stagingWhileCopying = statOf(QFile::encodeName(staging));
        };
        BarcodeCache barcodes;
        options.barcodes = &barcodes;
        const CardCopyRun::Result r = CardCopyRun::run(options);

        QCOMPARE(r.outcome, CardCopyRun::Outcome::Transferred);
        // Read beside the copy under the identity the photo keeps in the working folder: the
        // folder's reading finds them all known, and none is read again.
        QList<NativePath> imported;
        for (const DemoCard::Photo &p : card.photos)
            imported.append(NativePath(working + u'/' + QFileInfo(p.path).fileName()));
        barcodes.waitForReadingsLater();
        QVERIFY(std::all_of(imported.cbegin(), imported.cend(),
                            [&](const NativePath &path) { return barcodes.knownInMemory(path); }));
        BarcodeScanScheduler scanner(barcodes);
        QSignalSpy arrived(&scanner, &BarcodeScanScheduler::arrived);
        scanner.start(imported);
        QCOMPARE(scanner.toReadCount(), 0);
        for (const auto &result : arrived.at(0).at(0).value<QList<BarcodeScanScheduler::Result>>()) {
            const DemoCard::Photo &p = card.photos.at(imported.indexOf(result.path));
            QCOMPARE(result.reading.codes.value(0).text, p.barcodePhoto ? p.barcode : QString());
        }
        for (const DemoCard::Photo &p : card.photos) {
            const QByteArray name = QFile::encodeName(QFileInfo(p.path).fileName());
            sourceOf.insert(name, "/100CANON/" + name);
        }
        const QList<QByteArray> names = sourceOf.keys();
        QCOMPARE(namesIn(working), QSet<QByteArray>(names.cbegin(), names.cend()));
        QCOMPARE(ejected, QStringList {cardFolder});
        // What the working folder held is in the trash, not gone.
        QCOMPARE(trashedContent(working + u"/OLD.JPG"_s), QByteArray("last card"));
        QVERIFY(trashedContent(working + u"/sub"_s).has_value());

        // Staged privately on the working folder's file system, moved in by renames, nothing left behind.
        QVERIFY(stagingWhileCopying.has_value());
        QCOMPARE(stagingWhileCopying->st_mode & 07777, mode_t(0700));
        QCOMPARE(stagingWhileCopying->st_dev, statOf(QFile::encodeName(working)).st_dev);
        QCOMPARE(r.stagingFolder, staging);
        QVERIFY2(!QFileInfo::exists(staging), qPrintable(staging));
        QVERIFY(!staging.startsWith(QDir::tempPath()));

        // Every photo is the one on the card, byte for byte, with the card's time.
        const mode_t mask = ::umask(0);
        ::umask(mask);
        const mode_t ordinaryMode = 0666 & ~mask;
        for (const QByteArray &name : names) {
            const QByteArray source = dcim + sourceOf.value(name);
            const QByteArray target = QFile::encodeName(working) + '/' + name;
            QCOMPARE(readFile(QFile::decodeName(target)), readFile(QFile::decodeName(source)));
            QCOMPARE(statOf(target).st_mtim.tv_sec, statOf(source).st_mtim.tv_sec);
            QCOMPARE(statOf(target).st_mtim.tv_nsec, statOf(source).st_mtim.tv_nsec);
            QCOMPARE(statOf(target).st_nlink, nlink_t(1));
            QCOMPARE(statOf(target).st_mode & 07777, ordinaryMode); // the user's own file, not the card's 0777
        }
    }

    void importCommand_data()
    {
        // "": card and working folder are folders of the disk; "small": the working folder is on a 1 MiB disk;
        // "card:C:W": the card is a mounted volume, C the folder imported and W the working folder inside it
        // ("<card>/.." or, after "bound/", inside a second mount of the card); "killed:NAME=BYTES": an import
        // killed first, then that file written into its staging folder.
        QTest::addColumn<QString>("layout");
        QTest::addColumn<QStringList>("card"); // below DCIM, 300 KiB of random bytes each
        QTest::addColumn<QByteArrayList>("held"); // in the working folder before the import
        QTest::addColumn<bool>("consent"); // --discard-working-folder
        // Parts of the reason when refused, of the output when imported ("KEPT\t{kept}": a staging folder kept).
        QTest::addColumn<QStringList>("said");
        // What the working folder holds afterwards, each the card's file of that name (the first) or "name=file".
        // Empty: refused, and nothing on the disk changed.
        QTest::addColumn<QStringList>("imported");
        const auto row = [](const char *name, const QString &layout, const QStringList &card,
                            const QByteArrayList &held, bool consent, const QStringList &said,
                            const QStringList &imported) {
            QTest::newRow(name) << layout << card << held << consent << said << imported;
        };
        const QStringList three {u"IMG_0001.JPG"_s, u"IMG_0002.JPG"_s, u"IMG_0003.JPG"_s};
        QStringList card3, card6;
        for (int i = 1; i <= 6; ++i)
            (i <= 3 ? card3 : card6) << u"100CANON/IMG_%1.JPG"_s.arg(i, 4, 10, QLatin1Char('0'));
        card6 = card3 + card6;
        row("photos held, no consent", QString(), card3, {"OLD.JPG", "sub/OLD2.CR2", "notes.txt"}, false,
            {u"holds 2 photos"_s, u"--discard-working-folder"_s}, {});
        row("no photos held: nothing to ask", QString(), card3, {"notes.txt"}, false, {}, three);
        row("no room", u"small"_s, card6, {"OLD.JPG"}, true,
            {u"not enough room"_s, u"working folder was left as it was"_s}, {});

        // Four photos, a same-named one in another folder and a video: none may ever leave the card.
        const QStringList onCard =
            card3 + QStringList {u"100CANON/IMG_0004.JPG"_s, u"101CANON/IMG_0001.JPG"_s, u"100CANON/MVI_0005.MOV"_s};
        row("working folder is the card", u"card::"_s, onCard, {}, true, {u"is the folder being imported"_s}, {});
        row("working folder inside the card", u"card::DCIM"_s, onCard, {}, true,
            {u"lies inside the folder being imported"_s}, {});
        row("working folder on the card's volume", u"card:DCIM:work"_s, onCard, {}, true, {u"on the same volume"_s},
            {});
        row("working folder holding the card", u"card::.."_s, onCard, {}, true, {u"lies inside the working folder"_s},
            {});
        row("working folder inside a second mount of the card", u"card::bound/work"_s, onCard, {}, true,
            {u"lies inside the folder being"_s}, {});
        row("working folder in the card's trash", u"card:DCIM:.Trash-0/files"_s, onCard, {}, true, {u"in the trash"_s},
            {});

        // Kills once left a kept staging folder each (thousands of copies), though the card held every photo.
        const QStringList five = three + QStringList {u"IMG_0004.JPG"_s, u"IMG_0005.JPG"_s};
        const QStringList card5 = card6.mid(0, 5);
        const QString kept = u"KEPT\t{kept}"_s;
        row("killed import: every file on the card", u"killed:"_s, card5, {"OLD.JPG"}, true, {}, five);
        row("killed import, a file found in the working folder", u"killed:COPY.JPG=unfiled OLD.JPG"_s, card5,
            {"OLD.JPG"}, true, {}, five);
        row("killed import, a file that differs from the card's", u"killed:IMG_0001.JPG=not the card's"_s, card5,
            {"OLD.JPG"}, true, {kept}, five);
        row("killed import, a file found only there", u"killed:IMG_9999.JPG=only here"_s, card5, {"OLD.JPG"}, true,
            {kept}, five);

        // A card formatted after an import loses what the import left on it.
        for (const QString &stem : {u"IMG_000"_s, QString(250, u'L')}) {
            QStringList card, imported;
            for (const QString &folder : {u"100CANON/"_s, u"101CANON/"_s}) {
                for (int i = 1; i <= 5; ++i) {
                    card << folder + stem + QString::number(i) + u".JPG"_s;
                    imported << (folder.startsWith(u"100"_s)
                                     ? card.constLast().mid(9)
                                     : stem + QString::number(i) + u"-2.JPG="_s + card.constLast());
                }
            }
            if (stem.size() > 10)
                row("255-byte names twice: no numbered name is free", QString(), card, {}, false,
                    {u"no numbered name is free"_s, u"{card}/DCIM/101CANON/L"_s}, {});
            else
                row("the same names in two camera folders", QString(), card, {}, false,
                    {u"Done - 10 photos imported, 5 of them under a numbered name"_s}, imported);
        }
    }

    void importCommand()
    {
        QFETCH(QString, layout);
        QFETCH(QStringList, card);
        QFETCH(QByteArrayList, held);
        QFETCH(bool, consent);
        QFETCH(QStringList, said);
        QFETCH(QStringList, imported);
        const QStringList parts = layout.split(u':');
        const bool onCard = parts.constFirst() == u"card"_s, killed = parts.constFirst() == u"killed"_s;
        const QString outer = makeFolder(u"media"_s);
        std::optional<ScopedMount> mount, bound;
        if (onCard || layout == u"small"_s) {
            mount.emplace(
                ScopedMount::tmpfs(outer + (onCard ? u"/EOS_DIGITAL"_s : u"/small"_s), onCard ? u"16m"_s : u"1m"_s));
            SKIP_UNLESS_MOUNTED(*mount);
        }
        const QString volume = onCard ? mount->folder() : makeFolder(u"card"_s);
        QMap<QByteArray, QByteArray> files;
        for (const QString &file : std::as_const(card)) {
            files.insert(file.toUtf8(), randomBytes(300 * 1024));
            QVERIFY(writeFile(volume + u"/DCIM/"_s + file, files.value(file.toUtf8())));
        }
        QVERIFY(!onCard || QDir().mkpath(volume + u"/work"_s));
        const QString cardFolder = onCard ? QDir::cleanPath(volume + u'/' + parts.value(1)) : volume;
        QString working = onCard ? QDir::cleanPath(volume + u'/' + parts.value(2))
            : mount              ? mount->folder() + u"/work"_s
                                 : makeFolder(u"work"_s);
        if (parts.value(2).startsWith(u"bound/"_s)) {
            bound.emplace(ScopedMount::bind(volume, makeFolder(u"bound"_s)));
            SKIP_UNLESS_MOUNTED(*bound);
            working = bound->folder() + parts.value(2).mid(5);
        }
        for (const QByteArray &name : held)
            QVERIFY(writeFile(working + u'/' + QString::fromUtf8(name), "unfiled " + name));
        const QString disk = mount ? outer : working; // nothing on it may change when refused
        const QMap<QByteArray, QByteArray> before = contentsOf(disk);
        const QStringList import = QStringList {u"--set"_s, u"prefSourcePath="_s + working, u"import"_s, cardFolder}
            + (consent ? QStringList {u"--discard-working-folder"_s} : QStringList());
        const QString staging = CardCopyRun::stagingFolderFor(working);
        QMap<QByteArray, QByteArray> left; // in the killed import's staging folder, but for its half-made copy
        if (killed) {
            const QString strace = QStandardPaths::findExecutable(u"strace"_s);
            if (strace.isEmpty())
                QSKIP("strace is not installed");
            // Killed as the third staged copy takes its name: two copies and a half-made one stay.
            QProcess process;
            process.start(strace,
                          QStringList {u"-f"_s, u"-qq"_s, u"-o"_s, u"/dev/null"_s, u"-e"_s, u"trace=renameat2"_s,
                                       u"-e"_s, u"inject=renameat2:signal=KILL:when=3"_s, u"--"_s,
                                       TestSandbox::cliPath()}
                              + import.mid(0, 3) + QStringList {u"--threads"_s, u"1"_s} + import.mid(3));
            QVERIFY(process.waitForFinished(60000));
            QVERIFY2(namesIn(staging).contains("IMG_0002.JPG"), qPrintable(QString::fromUtf8(process.readAll())));
            const QString written = parts.value(1);
            QVERIFY(written.isEmpty()
                    || writeFile(staging + u'/' + written.section(u'=', 0, 0), written.section(u'=', 1).toUtf8()));
            left = contentsOf(staging);
            left.removeIf([](const auto &file) { return file.key().startsWith('.'); });
        }
        // Rows share the cache folder: what one keeps is no business of the next.
        const auto removeKept = qScopeGuard([&working] {
            for (const QString &folder : CardCopyRun::keptStagingFolders(working))
                QDir(folder).removeRecursively();
        });

        const CliRun cli = runCli(import);
        if (bound)
            QVERIFY(bound->unmount());
        QCOMPARE(cli.status, imported.isEmpty() ? 1 : 0);
        const QStringList kept = CardCopyRun::keptStagingFolders(working);
        for (QString part : std::as_const(said)) {
            part.replace(u"{card}"_s, cardFolder).replace(u"{kept}"_s, kept.value(0));
            QVERIFY2((imported.isEmpty() ? cli.err : cli.out).contains(part), qPrintable(cli.out + cli.err));
        }
        QVERIFY2(!QFileInfo::exists(staging), qPrintable(staging));
        if (imported.isEmpty()) {
            // Refused before any copying.
            QVERIFY2(!cli.out.contains(u"copied\t"_s) && !cli.out.contains(u"Done"_s), qPrintable(cli.out));
            QCOMPARE(contentsOf(disk), before);
            return;
        }
        QMap<QByteArray, QByteArray> expected;
        for (const QString &name : std::as_const(imported)) {
            const auto from = std::find_if(card.cbegin(), card.cend(), [&name](const QString &file) {
                return file.endsWith(u'/' + name) || name.endsWith(u'=' + file);
            });
            expected.insert(name.section(u'=', 0, 0).toUtf8(), files.value(from->toUtf8()));
        }
        QCOMPARE(contentsOf(working), expected);
        for (const QByteArray &name : held)
            QVERIFY2(trashedContent(working + u'/' + QString::fromUtf8(name.split('/').constFirst())),
                     name.constData());
        QCOMPARE(kept.size(), said.contains(u"KEPT\t{kept}"_s) ? 1 : 0);
        if (kept.isEmpty())
            return;
        QVERIFY(kept.constFirst().startsWith(staging + u"-kept-"_s));
        QCOMPARE(contentsOf(kept.constFirst()), left);
        QVERIFY2(cli.err.contains(kept.constFirst()), qPrintable(cli.err));
    }

    void onlyCopyOfACardIsKept_data()
    {
        QTest::addColumn<bool>("readOnly"); // the working folder unwritable once the card is ejected; else immutable
        QTest::newRow("working folder cannot be cleared") << false;
        QTest::newRow("working folder unwritable once the card is ejected") << true;
    }

    // Whatever stops a run, photos of an ejected card stay where the message says, and later runs leave them
    // alone. (Photos an earlier run left in staging: TestCardCopyRun::keptStagingOfAKilledImport.)
    void onlyCopyOfACardIsKept()
    {
        QFETCH(bool, readOnly);
        const QString cardA = makeFolder(u"cardA"_s);
        const DemoCard first = DemoCard::make(cardA, 1, 2);
        const QString cardB = makeFolder(u"cardB"_s);
        QVERIFY(first.isValid() && DemoCard::make(cardB, 1, 1).isValid());
        const QString working = makeFolder(u"work"_s);
        const QString stuck = working + u"/STUCK.JPG"_s;
        QVERIFY(writeFile(stuck, "cannot move"));
        const QString staging = makeFolder(u"cache"_s) + u"/staging"_s;
        const auto chattr = [&](const char *flag) {
            return QProcess::execute(u"chattr"_s, {QString::fromLatin1(flag), stuck}) == 0;
        };
        if (!readOnly && !chattr("+i"))
            QSKIP("chattr +i is not permitted here");
        const auto mutableAgain = qScopeGuard([&] { chattr("-i"); });
        std::optional<ScopedMount> unwritable;

        CardCopyRun::Options options = consentedRun(cardA, working);
        options.stagingFolder = staging;
        bool ejected = false;
        options.eject = [&](const QString &) {
            ejected = true;
            if (readOnly)
                unwritable = ScopedMount::readOnlyBind(working);
        };
        const CardCopyRun::Result r = CardCopyRun::run(options);
        if (unwritable)
            SKIP_UNLESS_MOUNTED(*unwritable);
        QCOMPARE(ejected, r.ejected);
        QCOMPARE(ejected, readOnly);
        QVERIFY(r.outcome != CardCopyRun::Outcome::Transferred);
        // An ejected card's photos that are not in the working folder are kept, and the message says where.
        if (ejected) {
            QVERIFY2(!r.keptFolder.isEmpty() && r.message.contains(r.keptFolder), qPrintable(r.message));
            QVERIFY(r.keptFolder != staging);
        } else {
            QVERIFY2(r.message.contains(u"not ejected"_s), qPrintable(r.message));
        }

        // The next card, once the trouble is gone, must not take them.
        QVERIFY(readOnly || chattr("-i"));
        unwritable.reset();
        options.cardFolder = cardB;
        options.ejectPath.clear();
        QCOMPARE(CardCopyRun::run(options).outcome, CardCopyRun::Outcome::Transferred);
        for (const DemoCard::Photo &p : first.photos)
            QVERIFY(!ejected || readFile(r.keptFolder + u'/' + QFileInfo(p.path).fileName()) == readFile(p.path));
    }

    void removeFolderAtPathRefuses_data()
    {
        // {root}, {home}, {mount} (a tmpfs inside {outer}), {destination} and {working} stand for folders.
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("removed");
        QTest::newRow("the root folder") << u"{root}"_s << false;
        QTest::newRow("the home folder") << u"{home}"_s << false;
        QTest::newRow("a folder holding the home folder") << u"{home}/.."_s << false;
        QTest::newRow("a mount point") << u"{mount}"_s << false;
        QTest::newRow("a folder holding a mount point") << u"{outer}"_s << false;
        QTest::newRow("the destination folder") << u"{destination}"_s << false;
        QTest::newRow("a folder holding the destination") << u"{destination}/.."_s << false;
        QTest::newRow("a missing folder") << u"{working}/no-such-folder"_s << false;
        QTest::newRow("a file") << u"{working}/file.JPG"_s << false;
        // The volume's trash folder name is taken by a file, and the home trash is on another file system.
        QTest::newRow("a folder the trash does not take") << u"{mount}/work"_s << false;
        QTest::newRow("a working folder") << u"{working}"_s << true;
    }

    void removeFolderAtPathRefuses()
    {
        QFETCH(QString, path);
        QFETCH(bool, removed);
        const QString destination = makeFolder(u"above-destination"_s) + u"/destination"_s;
        QVERIFY(writeFile(destination + u"/filed.JPG"_s, "filed"));
        SettingsStore::standard().setString(destination, cPrefDestinationPath);
        // Stand-ins play "/" and the home folder: should the guard fail, only they are emptied.
        const CardCopyRun::ProtectedRoots roots {makeFolder(u"stand-in-root"_s),
                                                 makeFolder(u"stand-in-homes/operator"_s)};
        QVERIFY(writeFile(roots.root + u"/etc/fstab"_s, "system") && writeFile(roots.home + u"/IMG_0001.JPG"_s, "own"));
        std::optional<ScopedMount> mount;
        if (path.contains(u"{mount}"_s) || path.contains(u"{outer}"_s)) {
            const QString outer = makeFolder(u"outer"_s);
            mount = ScopedMount::tmpfs(outer + u"/inner"_s);
            SKIP_UNLESS_MOUNTED(*mount);
            if (path.endsWith(u"/work"_s))
                QVERIFY(writeFile(mount->folder() + u"/.Trash-"_s + QString::number(::getuid()), "not a folder"));
            path.replace(u"{mount}"_s, mount->folder()).replace(u"{outer}"_s, outer);
        }
        path = QDir::cleanPath(path.replace(u"{root}"_s, roots.root)
                                   .replace(u"{home}"_s, roots.home)
                                   .replace(u"{destination}"_s, destination)
                                   .replace(u"{working}"_s, makeFolder(u"working"_s)));
        const bool missing = path.endsWith(u"/no-such-folder"_s);
        const QString marker = path.endsWith(u".JPG"_s) ? path
            : removed || path.endsWith(u"/work"_s)      ? path + u"/sub/.hidden/IMG_0001.JPG"_s
                                                        : QString();
        if (!marker.isEmpty())
            QVERIFY(writeFile(marker, "photo"));
        const ino_t inode = statOf(QFile::encodeName(path)).st_ino;

        QString reason;
        QCOMPARE(CardCopyRun::removeFolderAtPath(path, {}, &reason, roots), removed);
        QCOMPARE(reason.isEmpty(), removed);
        QVERIFY(QFileInfo::exists(destination + u"/filed.JPG"_s));
        QVERIFY(QFileInfo::exists(roots.root + u"/etc/fstab"_s) && QFileInfo::exists(roots.home + u"/IMG_0001.JPG"_s));
        if (removed) {
            QCOMPARE(namesIn(path), QSet<QByteArray>());
            QCOMPARE(statOf(QFile::encodeName(path)).st_ino, inode);
            QVERIFY(trashedContent(path + u"/sub"_s).has_value());
        } else if (!marker.isEmpty()) {
            QCOMPARE(readFile(marker), "photo");
        }
        QCOMPARE(QFileInfo::exists(path), !missing);
    }

    // The real folders, asked of the check alone: nothing here can empty them. Other guards (mount
    // points) would refuse "/" too: the reason shows which one held.
    void realRootAndHomeAreRefused()
    {
        for (const auto &[path, because] : {std::pair {u"/"_s, u"root folder"_s},
                                            {u"/usr/.."_s, u"root folder"_s},
                                            {u"~"_s, u"home folder"_s},
                                            {QDir::homePath() + u"/"_s, u"home folder"_s}})
            QVERIFY2(CardCopyRun::refusalToEmpty(path).value_or(QString()).contains(because), qPrintable(path));
        QVERIFY(!CardCopyRun::refusalToEmpty(makeFolder(u"working"_s)).has_value());
    }
};

LUMISORT_CORE_TEST_MAIN(TestCardCopyRun)
#include "tst_cardcopyrun.moc"
