#include "ScopedMount.h"
#include "TestMain.h"
#include "support/FreedesktopTrash.h"

#include <QDir>
#include <QScopeGuard>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

QStringList everythingIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

} // namespace

class TestFreedesktopTrash : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Where a photo goes: the home trash on the home file system, a volume's own trash
    // elsewhere (the shared .Trash only when it is sticky), or nowhere, with the failure
    // reported and the photo kept. What was trashed never comes back over a photo.
    void trashAndRestore_data()
    {
        QTest::addColumn<bool>("onVolume");
        QTest::addColumn<int>("sharedMode"); // of a shared .Trash made first: 0 none, -1 a file instead
        QTest::addColumn<QString>("trashName"); // on the volume; empty: the home trash
        QTest::addColumn<int>("error");
        const QString uid = QString::number(::getuid()), own = u".Trash-"_s + uid;
        QTest::newRow("home") << false << 0 << QString() << 0;
        QTest::newRow("volume, no shared trash") << true << 0 << own << 0;
        QTest::newRow("volume, shared, sticky") << true << 01777 << u".Trash/"_s + uid << 0;
        QTest::newRow("volume, shared, not sticky") << true << 0777 << own << 0;
        QTest::newRow("volume, shared is a file") << true << -1 << own << 0;
        QTest::newRow("XDG_DATA_HOME is a file") << false << -1 << QString() << ENOTDIR;
        QTest::newRow("read-only folder") << false << 0 << QString() << EROFS;
    }
    void trashAndRestore()
    {
        QFETCH(bool, onVolume);
        QFETCH(int, sharedMode);
        QFETCH(QString, trashName);
        QFETCH(int, error);
        const QString dataHome = TestSandbox::instance().makeFolder(u"data"_s) + u"/share"_s;
        QVERIFY(error == ENOTDIR ? writeFile(dataHome, "not a folder") : QDir().mkpath(dataHome));
        const QByteArray previous = qgetenv("XDG_DATA_HOME");
        const auto restore = qScopeGuard([&] { qputenv("XDG_DATA_HOME", previous); });
        qputenv("XDG_DATA_HOME", QFile::encodeName(dataHome));
        std::optional<ScopedMount> volume, readOnly;
        QString top = TestSandbox::instance().makeFolder(u"top"_s);
        if (onVolume) {
            volume.emplace(ScopedMount::tmpfs(top));
            SKIP_UNLESS_MOUNTED(*volume);
        }
        top = QFileInfo(top).canonicalFilePath();
        const QString folder = top + u"/DCIM/100"_s, photo = folder + u"/IMG 1%.jpg"_s;
        QVERIFY(writeFile(photo, "photo"));
        if (onVolume && sharedMode < 0) {
            QVERIFY(writeFile(top + u"/.Trash"_s, "not a folder"));
        } else if (sharedMode > 0) {
            QVERIFY(QDir().mkdir(top + u"/.Trash"_s));
            QCOMPARE(::chmod(QFile::encodeName(top + u"/.Trash"_s).constData(), mode_t(sharedMode)), 0);
        }
        if (error == EROFS) {
            readOnly.emplace(ScopedMount::readOnlyBind(folder));
            SKIP_UNLESS_MOUNTED(*readOnly);
        }

        if (error) {
            const auto outcome = FreedesktopTrash::moveToTrash(QString(photo));
            QVERIFY(!outcome.result.ok() && !outcome.result.text().isEmpty());
            QCOMPARE(outcome.result.errorNumber(), error);
            QCOMPARE(readFile(photo), "photo");
            QCOMPARE(everythingIn(dataHome + u"/Trash/info"_s), QStringList());
            return;
        }
        const QString trash = trashName.isEmpty() ? QString(dataHome + u"/Trash"_s) : QString(top + u'/' + trashName);
        const QByteArray infoPath =
            onVolume ? "DCIM/100/IMG%201%25.jpg" : QFile::encodeName(photo).toPercentEncoding("/");
        const QDateTime deleted(QDate(2024, 5, 6), QTime(7, 8, 9));
        QCOMPARE(FreedesktopTrash::trashFolderFor(QString(photo)).toString(), trash);
        FreedesktopTrash::Outcome first;
        for (const QString &suffix : {QString(), u".2"_s}) {
            QVERIFY(writeFile(photo, "photo" + suffix.toUtf8()));
            const auto outcome = FreedesktopTrash::moveToTrash(QString(photo), deleted);
            QVERIFY2(outcome.result.ok(), qPrintable(outcome.result.text()));
            QCOMPARE(outcome.trashedFile.toString(), trash + u"/files/IMG 1%.jpg"_s + suffix);
            QCOMPARE(outcome.infoFile.toString(), trash + u"/info/IMG 1%.jpg"_s + suffix + u".trashinfo"_s);
            QCOMPARE(readFile(outcome.trashedFile.toString()), "photo" + suffix.toUtf8());
            QCOMPARE(readFile(outcome.infoFile.toString()),
                     "[Trash Info]\nPath=" + infoPath + "\nDeletionDate=2024-05-06T07:08:09\n");
            QCOMPARE(everythingIn(folder), QStringList());
            first = suffix.isEmpty() ? outcome : first;
        }
        struct stat info = {};
        QCOMPARE(::stat(QFile::encodeName(trash).constData(), &info), 0);
        QCOMPARE(info.st_mode & 07777, 0700u);
        QVERIFY(writeFile(top + u"/DCIM/101/a.jpg"_s, "a"));
        QVERIFY(FreedesktopTrash::moveToTrash(QString(top + u"/DCIM/101"_s)).result.ok());
        QCOMPARE(readFile(trash + u"/files/101/a.jpg"_s), "a");

        QVERIFY(writeFile(photo, "a new photo"));
        QCOMPARE(FreedesktopTrash::restore(first.trashedFile, QString(photo)).errorNumber(), EEXIST);
        QCOMPARE(readFile(photo), "a new photo");
        QCOMPARE(readFile(first.trashedFile.toString()), "photo");
        QVERIFY(QFile::exists(first.infoFile.toString()));
        // Only a file of a trash comes out of one.
        QCOMPARE(FreedesktopTrash::restore(QString(photo), QString(folder + u"/x.jpg"_s)).errorNumber(), EINVAL);
        QVERIFY(!QFile::exists(folder + u"/x.jpg"_s));
    }
};

LUMISORT_CORE_TEST_MAIN(TestFreedesktopTrash)
#include "tst_freedesktoptrash.moc"
