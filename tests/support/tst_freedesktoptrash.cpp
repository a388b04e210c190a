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

const QDateTime kDeleted(QDate(2024, 5, 6), QTime(7, 8, 9));

QByteArray expectedInfo(const QByteArray &encodedPath)
{
    return "[Trash Info]\nPath=" + encodedPath + "\nDeletionDate=2024-05-06T07:08:09\n";
}

QStringList everythingIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

} // namespace

class TestFreedesktopTrash : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void homeTrashTakesFilesAndFolders()
    {
        const QString folder = QFileInfo(TestSandbox::instance().makeFolder(u"pictures"_s)).canonicalFilePath();
        const QString name = u"Holiday 100%.jpg"_s;
        const QString trash = TestSandbox::instance().dataHome() + u"/Trash"_s;
        QCOMPARE(FreedesktopTrash::homeTrash().toString(), trash);

        const QByteArray encodedFolder = QFile::encodeName(folder).toPercentEncoding("/");
        for (const QString &suffix : {QString(), u".2"_s}) {
            QVERIFY(writeFile(folder + u'/' + name, "photo" + suffix.toUtf8()));
            QCOMPARE(FreedesktopTrash::trashFolderFor(QString(folder + u'/' + name)).toString(), trash);
            const auto outcome = FreedesktopTrash::moveToTrash(QString(folder + u'/' + name), kDeleted);
            QVERIFY2(outcome.result.ok(), qPrintable(outcome.result.text()));
            QCOMPARE(outcome.trashedFile.toString(), trash + u"/files/"_s + name + suffix);
            QCOMPARE(outcome.infoFile.toString(), trash + u"/info/"_s + name + suffix + u".trashinfo"_s);
            QCOMPARE(readFile(outcome.trashedFile.toString()), "photo" + suffix.toUtf8());
            QCOMPARE(readFile(outcome.infoFile.toString()), expectedInfo(encodedFolder + "/Holiday%20100%25.jpg"));
            QVERIFY(!QFile::exists(folder + u'/' + name));
        }

        QVERIFY(writeFile(folder + u"/Album/a.jpg"_s, "a"));
        const auto album = FreedesktopTrash::moveToTrash(QString(folder + u"/Album"_s), kDeleted);
        QVERIFY2(album.result.ok(), qPrintable(album.result.text()));
        QCOMPARE(readFile(trash + u"/files/Album/a.jpg"_s), "a");
        QCOMPARE(QFileInfo(trash + u"/files"_s).permissions() & QFile::ReadGroup, QFile::Permissions());
    }

    void volumeTrash_data()
    {
        QTest::addColumn<QString>("prepared");
        QTest::addColumn<int>("sharedMode");
        QTest::addColumn<QString>("expected");
        const QString uid = QString::number(::getuid());
        QTest::newRow("no shared trash") << QString() << 0 << u".Trash-"_s + uid;
        QTest::newRow("shared, sticky") << u".Trash"_s << 01777 << u".Trash/"_s + uid;
        QTest::newRow("shared, not sticky") << u".Trash"_s << 0777 << u".Trash-"_s + uid;
        QTest::newRow("shared is a file") << u".Trash"_s << -1 << u".Trash-"_s + uid;
    }
    void volumeTrash()
    {
        QFETCH(QString, prepared);
        QFETCH(int, sharedMode);
        QFETCH(QString, expected);
        const ScopedMount volume = ScopedMount::tmpfs(TestSandbox::instance().makeFolder(u"volume"_s));
        SKIP_UNLESS_MOUNTED(volume);
        const QString top = QFileInfo(volume.folder()).canonicalFilePath();
        if (sharedMode < 0) {
            QVERIFY(writeFile(top + u"/.Trash"_s, "not a folder"));
        } else if (!prepared.isEmpty()) {
            QVERIFY(QDir().mkdir(top + u'/' + prepared));
            QCOMPARE(::chmod(QFile::encodeName(top + u'/' + prepared).constData(), mode_t(sharedMode)), 0);
        }
        QVERIFY(writeFile(top + u"/DCIM/100/IMG 1.jpg"_s, "photo"));

        const auto outcome = FreedesktopTrash::moveToTrash(QString(top + u"/DCIM/100/IMG 1.jpg"_s), kDeleted);
        QVERIFY2(outcome.result.ok(), qPrintable(outcome.result.text()));
        const QString trash = top + u'/' + expected;
        QCOMPARE(outcome.trashedFile.toString(), trash + u"/files/IMG 1.jpg"_s);
        QCOMPARE(readFile(outcome.trashedFile.toString()), "photo");
        QCOMPARE(readFile(outcome.infoFile.toString()), expectedInfo("DCIM/100/IMG%201.jpg"));
        struct stat info = {};
        QCOMPARE(::stat(QFile::encodeName(trash).constData(), &info), 0);
        QCOMPARE(info.st_mode & 07777, 0700u);
        QCOMPARE(everythingIn(top + u"/DCIM/100"_s), QStringList());
    }

    void failureIsReported_data()
    {
        QTest::addColumn<bool>("dataHomeIsFile");
        QTest::newRow("XDG_DATA_HOME is a file") << true;
        QTest::newRow("read-only folder") << false;
    }
    void failureIsReported()
    {
        QFETCH(bool, dataHomeIsFile);
        const QString folder = TestSandbox::instance().makeFolder(u"kept"_s);
        QVERIFY(writeFile(folder + u"/keep.jpg"_s, "photo"));
        const QString dataHome = TestSandbox::instance().makeFolder(u"data"_s) + u"/share"_s;
        QVERIFY(dataHomeIsFile ? writeFile(dataHome, "not a folder") : QDir().mkpath(dataHome));
        const QByteArray previous = qgetenv("XDG_DATA_HOME");
        const auto restore = qScopeGuard([&] { qputenv("XDG_DATA_HOME", previous); });
        qputenv("XDG_DATA_HOME", QFile::encodeName(dataHome));
        std::optional<ScopedMount> readOnly;
        if (!dataHomeIsFile) {
            readOnly.emplace(ScopedMount::readOnlyBind(folder));
            SKIP_UNLESS_MOUNTED(*readOnly);
        }

        const auto outcome = FreedesktopTrash::moveToTrash(QString(folder + u"/keep.jpg"_s), kDeleted);
        QVERIFY(!outcome.result.ok());
        QVERIFY(!outcome.result.text().isEmpty());
        QCOMPARE(outcome.result.errorNumber(), dataHomeIsFile ? ENOTDIR : EROFS);
        QCOMPARE(readFile(folder + u"/keep.jpg"_s), "photo");
        if (!dataHomeIsFile)
            QCOMPARE(everythingIn(dataHome + u"/Trash/info"_s), QStringList());
    }

    void restoreNeverReplaces()
    {
        const QString folder = TestSandbox::instance().makeFolder(u"restore"_s);
        QVERIFY(writeFile(folder + u"/IMG_0001.JPG"_s, "barcode"));
        const auto trashed = FreedesktopTrash::moveToTrash(QString(folder + u"/IMG_0001.JPG"_s), kDeleted);
        QVERIFY(trashed.result.ok());
        QVERIFY(writeFile(folder + u"/IMG_0001.JPG"_s, "a new photo"));
        QCOMPARE(FreedesktopTrash::restore(trashed.trashedFile, QString(folder + u"/IMG_0001.JPG"_s)).errorNumber(),
                 EEXIST);
        QCOMPARE(readFile(folder + u"/IMG_0001.JPG"_s), "a new photo");
        QCOMPARE(readFile(trashed.trashedFile.toString()), "barcode");
        QVERIFY(QFile::exists(trashed.infoFile.toString()));
        // Only a file of a trash comes out of one.
        QCOMPARE(FreedesktopTrash::restore(QString(folder + u"/IMG_0001.JPG"_s), QString(folder + u"/x.JPG"_s))
                     .errorNumber(),
                 EINVAL);
        QVERIFY(!QFile::exists(folder + u"/x.JPG"_s));
    }
};

LUMISORT_CORE_TEST_MAIN(TestFreedesktopTrash)
#include "tst_freedesktoptrash.moc"
