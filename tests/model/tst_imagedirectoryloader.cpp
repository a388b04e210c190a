#include "TestMain.h"
#include "model/ImageDirectoryLoader.h"
#include "model/ImageFile.h"
#include "model/PhotoListModel.h"
#include "model/PhotoNameRecord.h"
#include "model/ShootingTime.h"
#include "model/ThumbnailCache.h"
#include "reassign/ReassignRun.h"
#include "settings/SettingsKeys.h"
#include "settings/SettingsStore.h"
#include "support/SafeFile.h"

#include <QAbstractItemModelTester>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QSignalSpy>
#include <QThread>
#include <fcntl.h>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {
// A folder of the files given, their modification times secondsApart in the order given.
// "name=source" copies one of the shared test photos, "name>target" links to another file,
// other files hold no picture; "*name" is recorded as a name the card brought in.
QString makeFolder(const QStringList &files, int secondsApart = 60)
{
    const QString folder = TestSandbox::instance().makeFolder(u"photos"_s);
    QStringList imported;
    qint64 time = 1700000000;
    for (QString name : files) {
        if (name.startsWith(u'*'))
            imported << name.remove(0, 1);
        const QString path = folder + u'/' + name.section(u'=', 0, 0).section(u'>', 0, 0);
        const QString source = name.section(u'=', 1);
        if (name.contains(u'>')) {
            if (!QFile::link(name.section(u'>', 1), path))
                return {};
            continue;
        }
        if (!(source.isEmpty() ? writeFile(path, "not really a jpeg")
                               : QFile::copy(TestSandbox::testDataFile(source), path)))
            return {};
        const timespec times[2] = {{time, 0}, {time, 0}};
        ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0);
        time += secondsApart;
    }
    if (!imported.isEmpty() && !PhotoNameRecord::recordImport(folder, imported))
        return {};
    return folder;
}

// "barcode:first,second..." per section, each record's own barcode id checked against its section's.
QStringList describe(const ImageDirectoryLoader &loader)
{
    QStringList sections;
    qsizetype total = 0;
    for (qsizetype s = 0; s < loader.numberOfSections(); ++s) {
        QStringList names;
        for (qsizetype i = 0; i < loader.numberOfItemsInSection(s); ++i) {
            const ImageFilePtr file = loader.imageFileForIndexPath({s, i});
            if (!file || (!loader.singleSectionMode() && file->basecode() != loader.barcodeidForSection(s)))
                return {u"bad record"_s};
            names << file->fileName();
        }
        total += names.size();
        sections << loader.barcodeidForSection(s).value_or(u"-"_s) + u':' + names.join(u',');
    }
    if (total != loader.numberOfItems())
        return {u"lengths do not add up"_s};
    return sections;
}

// 0 by name, 1 by shooting time; past the list or with no list: by name.
void sortBy(int index)
{
    const QVariantList choices {QVariantMap {{u"key"_s, u"NSURLLocalizedNameKey"_s}},
                                QVariantMap {{u"key"_s, u"NSURLCreationDateKey"_s}}};
    SettingsStore::standard().setObject(index < 0 ? QVariantList() : choices, cPrefInputFolderSortKeyList);
    SettingsStore::standard().setInteger(std::max(index, 0), cPrefInputFolderSortKeySelectedIndex);
}
} // namespace

class TestImageDirectoryLoader : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        sortBy(0);
        // A camera's names have one part: "A_1.jpg" carries the barcode A.
        SettingsStore::standard().setInteger(0, cPrefOriginalNameFormatTag);
    }

    void sections_data()
    {
        QTest::addColumn<QStringList>("files"); // see makeFolder
        QTest::addColumn<int>("sortIndex");
        QTest::addColumn<int>("secondsApart");
        QTest::addColumn<bool>("single");
        QTest::addColumn<QStringList>("expected");
        const QStringList abba {u"A_1.jpg"_s, u"A_2.jpg"_s, u"B_1.jpg"_s, u"A_3.jpg"_s};
        const QStringList byName {u"A:A_1.jpg,A_2.jpg,A_3.jpg"_s, u"B:B_1.jpg"_s};
        QTest::newRow("by name") << abba << 0 << 60 << false << byName;
        QTest::newRow("sort choice past the list") << abba << 9 << 60 << false << byName;
        QTest::newRow("no sort choices") << abba << -1 << 60 << false << byName;
        QTest::newRow("by shooting time: the barcode returns later")
            << abba << 1 << 60 << false << QStringList {u"A:A_1.jpg,A_2.jpg"_s, u"B:B_1.jpg"_s, u"A:A_3.jpg"_s};
        QTest::newRow("single-section mode")
            << abba << 1 << 60 << true << QStringList {u"singleMode:A_1.jpg,A_2.jpg,B_1.jpg,A_3.jpg"_s};
        QTest::newRow("shooting time ties broken by name") << QStringList {u"b_2.jpg"_s, u"a_1.jpg"_s} << 1 << 0
                                                           << false << QStringList {u"a:a_1.jpg"_s, u"b:b_2.jpg"_s};
        // File times run against the camera's; a photo without a shooting time takes its place by its
        // file time, between the others (files from 2023 back to 1998, shot 2006 to 2015).
        QTest::newRow("shooting time: the camera's, else the file's")
            << QStringList {u"Z_1.jpg=camera/Canon_40D.jpg"_s, u"B_plain.jpg=orientation/Landscape_1.jpg"_s,
                            u"Y_1.jpg=camera/corrupted.jpg"_s, u"A_plain.jpg=orientation/Landscape_3.jpg"_s,
                            u"X_1.jpg=camera/Fujifilm_FinePix_E500.jpg"_s}
            << 1 << -200000000 << false
            << QStringList {u"A:A_plain.jpg"_s, u"X:X_1.jpg"_s, u"Z:Z_1.jpg"_s, u"Y:Y_1.jpg"_s, u"B:B_plain.jpg"_s};
        QTest::newRow("plain character order")
            << QStringList {u"IMG_9.JPG"_s, u"IMG_10.JPG"_s, u"img_1.jpg"_s} << 0 << 60 << false
            << QStringList {u"IMG:IMG_10.JPG,IMG_9.JPG"_s, u"img:img_1.jpg"_s};
        QTest::newRow("ids differing in case") << QStringList {u"ABC_2.jpg"_s, u"abc_1.jpg"_s} << 0 << 60 << false
                                               << QStringList {u"ABC:ABC_2.jpg"_s, u"abc:abc_1.jpg"_s};
        QTest::newRow("names without separator")
            << QStringList {u"DSC1.JPG"_s, u"DSC2.JPG"_s, u"Z_1.JPG"_s} << 0 << 60 << false
            << QStringList {u"?originalFileName?:DSC1.JPG,DSC2.JPG"_s, u"Z:Z_1.JPG"_s};
        QTest::newRow("a leading separator makes no second part")
            << QStringList {u"_1.jpg"_s, u"_2.jpg"_s} << 0 << 60 << false
            << QStringList {u"?originalFileName?:_1.jpg,_2.jpg"_s};
        // A card mixing naming styles: the names it brought in have no barcode yet whatever their
        // count of parts, and one given a barcode in front of such a name carries it.
        QTest::newRow("names the card brought in")
            << QStringList {u"*DSCN0010.JPG"_s, u"*IMG_0001.JPG"_s, u"*IMG_20261207_093012.jpg"_s,
                            u"B_IMG_20261207_093012.jpg"_s}
            << 0 << 60 << false
            << QStringList {u"B:B_IMG_20261207_093012.jpg"_s,
                            u"?originalFileName?:DSCN0010.JPG,IMG_0001.JPG,IMG_20261207_093012.jpg"_s};
        // A video's thumbnail sidecar is a real JPEG, yet no photo; a photo without an extension
        // is recognised by its content.
        const QStringList mixed = (u"A_1.jpg A_2.CR2 A_3.HEIC A_4.tif A_5.png notes.txt clip.mov .hidden_1.jpg "
                                   u"sub/A_9.jpg MVI_0099.XMP A_0link.jpg>A_1.jpg A_6=orientation/Landscape_1.jpg "
                                   u"MVI_0099.THM=orientation/Landscape_1.jpg"_s)
                                      .split(u' ');
        QTest::newRow("what is no photo")
            << mixed << 0 << 60 << false << QStringList {u"A:A_1.jpg,A_2.CR2,A_3.HEIC,A_4.tif,A_5.png,A_6"_s};
        QTest::newRow("empty folder") << QStringList() << 0 << 60 << false << QStringList {u"-:"_s};
    }

    // Listed through a link to the folder, as the records point into the real folder; past the
    // last section or photo nothing is answered. Metadata is read for the shooting-time order only.
    void sections()
    {
        QFETCH(QStringList, files);
        QFETCH(int, sortIndex);
        QFETCH(int, secondsApart);
        QFETCH(bool, single);
        QFETCH(QStringList, expected);
        const QString folder = makeFolder(files, secondsApart);
        const QString viaLink = TestSandbox::instance().makeFolder(u"links"_s) + u"/work"_s;
        QVERIFY(!folder.isEmpty() && QFile::link(folder, viaLink));
        sortBy(sortIndex);
        ShootingTime::resetForTesting();
        ImageDirectoryLoader loader;
        loader.setSingleSectionMode(single);
        loader.loadDataForFolderWithUrl(QUrl::fromLocalFile(viaLink));
        QCOMPARE(describe(loader), expected);
        for (const ImageFilePtr &file : loader.imageFiles())
            QVERIFY(file->fileurl().toLocalFile().startsWith(folder + u'/'));
        const qsizetype last = loader.numberOfSections() - 1;
        QVERIFY(!loader.imageFileForIndexPath({last, loader.numberOfItemsInSection(last)}));
        QVERIFY(!loader.imageFileForIndexPath({last + 1, 0}) && !loader.barcodeidForSection(last + 1));
        QCOMPARE(loader.numberOfItemsInSection(-1), 0);
        QCOMPARE(ShootingTime::readsForTesting(), sortIndex == 1 ? loader.numberOfItems() : 0);

        // Names read before are read anew once their rule changes: the operator's part count,
        // then what the folder's record says of a name.
        const QStringList names = QDir(folder).entryList(QDir::Files, QDir::Name);
        for (int change = 0; change < 2 && !names.isEmpty(); ++change) {
            if (change == 0)
                SettingsStore::standard().setInteger(2, cPrefOriginalNameFormatTag);
            else
                QVERIFY(PhotoNameRecord::update(folder,
                                                [&](PhotoNameRecord &r) { r.given.insert(names.first(), u"G"_s); }));
            loader.loadDataForFolderWithUrl(QUrl::fromLocalFile(viaLink));
            ImageDirectoryLoader fresh;
            fresh.setSingleSectionMode(single);
            fresh.loadDataForFolderWithUrl(QUrl::fromLocalFile(viaLink));
            QCOMPARE(describe(loader), describe(fresh));
        }
    }

    void vanishedFolderLeavesNothing()
    {
        ImageDirectoryLoader loader;
        const QString vanishing = makeFolder({u"A_1.jpg"_s, u"B_1.jpg"_s});
        loader.loadDataForFolderWithUrl(QUrl::fromLocalFile(vanishing));
        loader.loadDataForFolderWithUrl(QUrl()); // no enumeration at all: nothing changes
        QCOMPARE(loader.numberOfItems(), 2);
        QDir(vanishing).removeRecursively();
        loader.loadDataForFolderWithUrl(QUrl::fromLocalFile(vanishing));
        QCOMPARE(loader.numberOfItems(), 0);
    }

    void progressiveLoadEndsWithWhatTheRecordWouldMake()
    {
        const QString folder = makeFolder(
            {u"Z_empty.jpg"_s, u"A_Canon_40D.jpg=camera/Canon_40D.jpg"_s,
             u"A_Reconyx.jpg=camera/Reconyx_HC500_Hyperfire.jpg"_s, u"A_Portrait_6.jpg=orientation/Portrait_6.jpg"_s,
             u"A_IMG_5195.HEIC=camera/IMG_5195.HEIC"_s, u"A_BSG1.tiff=camera/BSG1.tiff"_s});
        ThumbnailCache cache(TestSandbox::instance().makeFolder(u"cache"_s) + u"/t.sqlite"_s);
        ImageDirectoryLoader loader(nullptr, &cache);
        // The grid's model stays consistent through the load, and every arrival repaints its photo.
        PhotoListModel model(&loader);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QSet<QPersistentModelIndex> arrived;
        connect(&model, &QAbstractItemModel::dataChanged, this, [&](const QModelIndex &from, const QModelIndex &to) {
            for (int row = from.row(); row <= to.row(); ++row)
                arrived.insert(from.siblingAtRow(row));
        });
        QSignalSpy listed(&loader, &ImageDirectoryLoader::folderListed);
        QSignalSpy finished(&loader, &ImageDirectoryLoader::thumbnailsFinished);
        loader.beginLoadingFolder(QUrl::fromLocalFile(folder));
        QCOMPARE(loader.numberOfItems(), 0); // nothing waits for the listing
        QVERIFY(listed.wait());
        QCOMPARE(loader.numberOfItems(), 6);
        QCOMPARE(model.rowCount(), 2);
        QCOMPARE(model.rowCount(model.index(0, 0)), 5);
        QCOMPARE(model.data(model.indexForPath({0, 0})).toString(), u"A_BSG1"_s);
        QVERIFY(loader.imageFiles().first()->isThumbnailPending());
        QVERIFY(finished.wait(20000));
        QVERIFY(!loader.isLoading());
        for (const ImageFilePtr &file : loader.imageFiles()) {
            QVERIFY(!file->isThumbnailPending());
            QCOMPARE(file->compactThumbnail().bytes(), ImageFile(file->fileurl()).compactThumbnail().bytes());
            QCOMPARE(file->thumbnail().isNull(), file->fileName() == u"Z_empty.jpg"_s);
        }
        QCOMPARE(cache.decodedCount(), 6);
        QCOMPARE(arrived.size(), 6);

        // The same folder again, unchanged: nothing is replaced.
        loader.beginLoadingFolder(QUrl::fromLocalFile(folder), true);
        QTRY_VERIFY(!loader.isLoading());
        QCOMPARE(listed.size(), 1);
        QCOMPARE(cache.decodedCount(), 6);
    }

    void loadsBackToBackAllFinishAndTheLastWins_data()
    {
        QTest::addColumn<int>("threads");
        QTest::newRow("one listing thread") << 1;
        QTest::newRow("two listing threads") << 2;
    }

    // A second start handing over a folder, or Refresh right after the window appears:
    // loads overlap, and none may wait for another, however few threads there are.
    void loadsBackToBackAllFinishAndTheLastWins()
    {
        QFETCH(int, threads);
        QStringList many;
        for (int i = 0; i < 300; ++i)
            many << u"A_%1.jpg"_s.arg(i, 4, 10, QLatin1Char('0'));
        const QString big = makeFolder(many, 1);
        const QString last = makeFolder({u"B_1.jpg"_s, u"C_1.jpg"_s});
        sortBy(1); // shooting time: the order whose listing reads every photo on several threads
        ImageDirectoryLoader::setMaxListingThreads(threads);
        ThumbnailCache cache(TestSandbox::instance().makeFolder(u"cache"_s) + u"/t.sqlite"_s);
        {
            ImageDirectoryLoader loader(nullptr, &cache);
            QSignalSpy listed(&loader, &ImageDirectoryLoader::folderListed);
            for (int i = 0; i < 4; ++i)
                loader.beginLoadingFolder(QUrl::fromLocalFile(big));
            loader.beginLoadingFolder(QUrl::fromLocalFile(last));
            QTRY_VERIFY_WITH_TIMEOUT(!loader.isLoading(), 10000);
            QCOMPARE(describe(loader), (QStringList {u"B:B_1.jpg"_s, u"C:C_1.jpg"_s}));
            QCOMPARE(listed.size(), 1); // the older loads show nothing
        }
        QVERIFY(ImageDirectoryLoader::waitForListings(10000));
        ImageDirectoryLoader::setMaxListingThreads(QThread::idealThreadCount());
    }

    // A name that is no valid UTF-8 and a valid name that looks the same once the
    // bad byte is shown as U+FFFD: each action must reach the file it was meant for.
    void namesThatAreNotUtf8ActOnTheirOwnFile()
    {
        const NativePath folder(TestSandbox::instance().makeFolder(u"odd-names"_s));
        const QByteArray names[3] = {"0\xff.jpg", "0\xef\xbf\xbd.jpg", "1_IMG_0002.jpg"}; // odd, look-alike, subject
        std::uint64_t contents[3];
        for (int i = 0; i < 3; ++i) {
            QImage small(64, 48, QImage::Format_RGB32);
            small.fill(QColor(40 * i, 90, 200));
            QByteArray jpeg;
            QBuffer buffer(&jpeg);
            QVERIFY(buffer.open(QIODevice::WriteOnly) && small.save(&buffer, "JPEG"));
            QVERIFY(SafeFile::writeDurably(folder.child(names[i]), jpeg));
            contents[i] = SafeFile::hashFile(folder.child(names[i])).value();
        }

        ImageDirectoryLoader loader;
        loader.loadDataForFolderWithUrl(QUrl::fromLocalFile(folder.toString()));
        QList<QUrl> urls;
        QUrl oddUrl;
        for (const ImageFilePtr &file : loader.imageFiles()) {
            urls.append(file->fileurl());
            if (NativePath(urls.constLast().toLocalFile()).fileNameBytes() == names[0])
                oddUrl = urls.constLast();
        }
        QCOMPARE(urls.size(), 3);
        QVERIFY2(oddUrl.isValid(), "the odd name did not come back byte for byte");
        QVERIFY(!ImageFile(oddUrl).thumbnail().isNull());

        // The odd one is the barcode photo: it goes to the trash, the look-alike is only renamed.
        const ReassignRun::Report report =
            ReassignRun::automatic(urls, {{oddUrl.toLocalFile(), u"2000000000015"_s}}, false);
        QCOMPARE(report.trashed.size(), 1);
        QVERIFY(NativePath(report.trashed.first()).fileNameBytes().endsWith(names[0]));
        QList<std::uint64_t> remaining;
        const QList<SafeFileEntry> left = SafeFile::list(folder).value();
        for (const SafeFileEntry &entry : left)
            remaining.append(SafeFile::hashFile(entry.path).value());
        QCOMPARE(remaining.size(), 2);
        QVERIFY(!remaining.contains(contents[0]));
        QVERIFY(remaining.contains(contents[1]));
        QVERIFY(remaining.contains(contents[2]));
    }
};

LUMISORT_CORE_TEST_MAIN(TestImageDirectoryLoader)
#include "tst_imagedirectoryloader.moc"
