#include "DemoCard.h"
#include "TestMain.h"
#include "model/FileNameConvention.h"
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
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QSignalSpy>
#include <QThread>
#include <fcntl.h>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

class TestImageDirectoryLoader : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void sections_data();
    void sections();
    void sectionsFollowTheImportedNames();
    void outOfRangeAnswersEmptyAndVanishedFolder();
    void listingLeavesOutWhatIsNoPhoto();
    void sortChoiceFallsBackToName_data();
    void sortChoiceFallsBackToName();
    void shootingTimeIsTheCamerasElseTheFiles();
    void progressiveLoadEndsWithWhatTheRecordWouldMake();
    void loadsBackToBackAllFinishAndTheLastWins_data();
    void loadsBackToBackAllFinishAndTheLastWins();
    void namesThatAreNotUtf8ActOnTheirOwnFile();

private:
    // Files in the order given, shot one minute apart (modification time), born now.
    QString makeFolder(const QStringList &names, int secondsApart = 60);
    static QStringList describe(const ImageDirectoryLoader &loader);
    void sortBy(int index) { SettingsStore::standard().setInteger(index, cPrefInputFolderSortKeySelectedIndex); }
};

void TestImageDirectoryLoader::init()
{
    SettingsStore &store = SettingsStore::standard();
    store.setObject(QVariantList {QVariantMap {{u"key"_s, u"NSURLLocalizedNameKey"_s}},
                                  QVariantMap {{u"key"_s, u"NSURLCreationDateKey"_s}}},
                    cPrefInputFolderSortKeyList);
    sortBy(0);
    // A camera's names have one part: "A_1.jpg" carries the barcode A.
    store.setInteger(0, cPrefOriginalNameFormatTag);
}

QString TestImageDirectoryLoader::makeFolder(const QStringList &names, int secondsApart)
{
    const QString folder = TestSandbox::instance().makeFolder(u"photos"_s);
    qint64 shot = 1700000000;
    for (const QString &name : names) {
        const QString path = folder + u'/' + name;
        writeFile(path, "not really a jpeg");
        const timespec times[2] = {{shot, 0}, {shot, 0}};
        ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0);
        shot += secondsApart;
    }
    return folder;
}

// "barcode:count:first..last" per section, and every record's own barcode id checked.
QStringList TestImageDirectoryLoader::describe(const ImageDirectoryLoader &loader)
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

void TestImageDirectoryLoader::sections_data()
{
    QTest::addColumn<QStringList>("files"); // in shooting order
    QTest::addColumn<int>("sortIndex");
    QTest::addColumn<bool>("single");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<int>("secondsApart");
    const QStringList abba {u"A_1.jpg"_s, u"A_2.jpg"_s, u"B_1.jpg"_s, u"A_3.jpg"_s};
    QTest::newRow("by name") << abba << 0 << false << QStringList {u"A:A_1.jpg,A_2.jpg,A_3.jpg"_s, u"B:B_1.jpg"_s}
                             << 60;
    QTest::newRow("by creation date: the barcode returns later")
        << abba << 1 << false << QStringList {u"A:A_1.jpg,A_2.jpg"_s, u"B:B_1.jpg"_s, u"A:A_3.jpg"_s} << 60;
    QTest::newRow("creation date ties broken by name")
        << QStringList {u"b_2.jpg"_s, u"a_1.jpg"_s} << 1 << false << QStringList {u"a:a_1.jpg"_s, u"b:b_2.jpg"_s} << 0;
    QTest::newRow("plain character order")
        << QStringList {u"IMG_9.JPG"_s, u"IMG_10.JPG"_s, u"img_1.jpg"_s} << 0 << false
        << QStringList {u"IMG:IMG_10.JPG,IMG_9.JPG"_s, u"img:img_1.jpg"_s} << 60;
    QTest::newRow("every photo its own id") << QStringList {u"1_a.jpg"_s, u"2_a.jpg"_s, u"3_a.jpg"_s} << 0 << false
                                            << QStringList {u"1:1_a.jpg"_s, u"2:2_a.jpg"_s, u"3:3_a.jpg"_s} << 60;
    QTest::newRow("names without separator")
        << QStringList {u"DSC1.JPG"_s, u"DSC2.JPG"_s, u"Z_1.JPG"_s} << 0 << false
        << QStringList {u"?originalFileName?:DSC1.JPG,DSC2.JPG"_s, u"Z:Z_1.JPG"_s} << 60;
    QTest::newRow("a leading separator makes no second part")
        << QStringList {u"_1.jpg"_s, u"_2.jpg"_s} << 0 << false << QStringList {u"?originalFileName?:_1.jpg,_2.jpg"_s}
        << 60;
    QTest::newRow("ids differing in case") << QStringList {u"ABC_2.jpg"_s, u"abc_1.jpg"_s} << 0 << false
                                           << QStringList {u"ABC:ABC_2.jpg"_s, u"abc:abc_1.jpg"_s} << 60;
    QTest::newRow("single-section mode") << abba << 1 << true
                                         << QStringList {u"singleMode:A_1.jpg,A_2.jpg,B_1.jpg,A_3.jpg"_s} << 60;
}

void TestImageDirectoryLoader::sections()
{
    QFETCH(QStringList, files);
    QFETCH(int, sortIndex);
    QFETCH(bool, single);
    QFETCH(QStringList, expected);
    QFETCH(int, secondsApart);
    sortBy(sortIndex);
    ImageDirectoryLoader loader;
    loader.setSingleSectionMode(single);
    loader.loadDataForFolderWithUrl(QUrl::fromLocalFile(makeFolder(files, secondsApart)));
    QCOMPARE(describe(loader), expected);
    QCOMPARE(loader.fSortedUrls()->size(), files.size());
}

// A card mixing naming styles: the names it brought in have no barcode yet whatever their
// count of parts, and one given a barcode in front of such a name carries it.
void TestImageDirectoryLoader::sectionsFollowTheImportedNames()
{
    const QStringList imported {u"DSCN0010.JPG"_s, u"IMG_0001.JPG"_s, u"IMG_20261207_093012.jpg"_s};
    const QString folder = makeFolder(imported + QStringList {u"B_IMG_20261207_093012.jpg"_s});
    QVERIFY(PhotoNameRecord::recordImport(folder, imported));
    ImageDirectoryLoader loader;
    loader.loadDataForFolderWithUrl(QUrl::fromLocalFile(folder));
    QCOMPARE(describe(loader),
             QStringList({u"B:B_IMG_20261207_093012.jpg"_s,
                          u"?originalFileName?:DSCN0010.JPG,IMG_0001.JPG,IMG_20261207_093012.jpg"_s}));
}

void TestImageDirectoryLoader::outOfRangeAnswersEmptyAndVanishedFolder()
{
    ImageDirectoryLoader loader;
    const QString vanishing = makeFolder({u"A_1.jpg"_s});
    loader.loadDataForFolderWithUrl(QUrl::fromLocalFile(vanishing));
    loader.loadDataForFolderWithUrl(QUrl()); // no enumeration at all: nothing changes
    QCOMPARE(loader.numberOfItems(), 1);
    QDir(vanishing).removeRecursively();
    loader.loadDataForFolderWithUrl(QUrl::fromLocalFile(vanishing));
    QCOMPARE(loader.numberOfItems(), 0);
    loader.loadDataForFolderWithUrl(QUrl::fromLocalFile(makeFolder({})));
    QCOMPARE(loader.numberOfSections(), 1);
    QCOMPARE(loader.numberOfItemsInSection(0), 0);
    QVERIFY(!loader.barcodeidForSection(0));
    QVERIFY(!loader.imageFileForIndexPath({0, 0}));

    loader.loadDataForFolderWithUrl(QUrl::fromLocalFile(makeFolder({u"A_1.jpg"_s, u"B_1.jpg"_s})));
    QCOMPARE(loader.numberOfItemsInSection(2), 0);
    QCOMPARE(loader.numberOfItemsInSection(-1), 0);
    QVERIFY(!loader.imageFileForIndexPath({5, 0}));
    QVERIFY(!loader.imageFileForIndexPath({1, 1})); // past the last photo
    QVERIFY(!loader.barcodeidForSection(2));
    QCOMPARE(loader.imageFileForIndexPath({1, 0})->fileName(), u"B_1.jpg"_s);

    // Rebuilding from the same list after a mode change touches only the sections.
    loader.setSingleSectionMode(true);
    loader.setupDataForUrls(std::nullopt);
    QCOMPARE(loader.numberOfSections(), 1);
    QCOMPARE(loader.numberOfItemsInSection(0), 2);
}

void TestImageDirectoryLoader::listingLeavesOutWhatIsNoPhoto()
{
    const QString folder = makeFolder({u"A_1.jpg"_s, u"A_2.CR2"_s, u"A_3.HEIC"_s, u"A_4.tif"_s, u"A_5.png"_s,
                                       u"notes.txt"_s, u"clip.mov"_s, u".hidden_1.jpg"_s});
    QDir(folder).mkdir(u"sub"_s);
    writeFile(folder + u"/sub/A_9.jpg"_s, "x");
    QFile::link(folder + u"/A_1.jpg"_s, folder + u"/A_0link.jpg"_s);
    // A video's thumbnail sidecar is a real JPEG, yet no photo; a photo without
    // an extension is recognised by its content.
    QImage small(160, 120, QImage::Format_RGB32);
    small.fill(Qt::darkGreen);
    QVERIFY(small.save(folder + u"/MVI_0099.THM"_s, "JPEG"));
    QVERIFY(small.save(folder + u"/A_6"_s, "JPEG"));
    writeFile(folder + u"/MVI_0099.XMP"_s, "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"/>");
    const QString viaLink = TestSandbox::instance().makeFolder(u"links"_s) + u"/work"_s;
    QFile::link(folder, viaLink);

    ImageDirectoryLoader loader;
    loader.loadDataForFolderWithUrl(QUrl::fromLocalFile(viaLink));
    QCOMPARE(describe(loader), QStringList {u"A:A_1.jpg,A_2.CR2,A_3.HEIC,A_4.tif,A_5.png,A_6"_s});
    // The folder's link is resolved: records point into the real folder.
    QVERIFY(loader.imageFileForIndexPath({0, 0})->fileurl().toLocalFile().startsWith(folder));
}

void TestImageDirectoryLoader::sortChoiceFallsBackToName_data()
{
    QTest::addColumn<QVariantList>("choices");
    QTest::addColumn<int>("index");
    const QVariantMap byDate {{u"key"_s, u"NSURLCreationDateKey"_s}};
    QTest::newRow("index past the list") << QVariantList {QVariantMap {{u"key"_s, u"NSURLLocalizedNameKey"_s}}, byDate}
                                         << 9;
    QTest::newRow("entry without key") << QVariantList {QVariantMap {{u"title"_s, u"x"_s}}, byDate} << 0;
    QTest::newRow("no list") << QVariantList() << 1;
}

void TestImageDirectoryLoader::sortChoiceFallsBackToName()
{
    QFETCH(QVariantList, choices);
    QFETCH(int, index);
    SettingsStore::standard().setObject(choices, cPrefInputFolderSortKeyList);
    sortBy(index);
    ImageDirectoryLoader loader;
    loader.loadDataForFolderWithUrl(QUrl::fromLocalFile(makeFolder({u"B_1.jpg"_s, u"A_1.jpg"_s})));
    QCOMPARE(describe(loader), (QStringList {u"A:A_1.jpg"_s, u"B:B_1.jpg"_s}));
}

namespace {
bool setFileTime(const QString &path, qint64 seconds)
{
    const timespec times[2] = {{seconds, 0}, {seconds, 0}};
    return ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) == 0;
}
} // namespace

// Copies of camera photos whose file times run against their EXIF times sort as
// they were shot; a photo without EXIF takes its place by its file time. The
// metadata is read once per photo, and only for this order.
void TestImageDirectoryLoader::shootingTimeIsTheCamerasElseTheFiles()
{
    const QString card = TestSandbox::instance().makeFolder(u"card"_s);
    QVERIFY(DemoCard::make(card, 1, 3).isValid());
    const QString folder = card + u"/DCIM/100CANON"_s;
    const QStringList shot {u"IMG_0001.JPG"_s, u"IMG_0002.JPG"_s, u"IMG_0003.JPG"_s, u"IMG_0004.JPG"_s};
    // make-card gives each file its EXIF time as file time: note them, then run the file times backwards.
    QList<qint64> exifSeconds;
    for (const QString &name : shot)
        exifSeconds << QFileInfo(folder + u'/' + name).lastModified().toSecsSinceEpoch();
    QVERIFY(std::is_sorted(exifSeconds.cbegin(), exifSeconds.cend()) && exifSeconds.first() < exifSeconds.last());
    for (qsizetype i = 0; i < shot.size(); ++i)
        QVERIFY(setFileTime(folder + u'/' + shot.at(i), exifSeconds.first() - 3600 - i * 60));
    // A camera's photo of 2008 copied just now; a photo without EXIF taken between the second and third.
    QVERIFY(QFile::copy(TestSandbox::testDataFile(u"camera/Canon_40D.jpg"_s), folder + u"/Z_40D.jpg"_s));
    QVERIFY(QFile::copy(TestSandbox::testDataFile(u"orientation/Landscape_1.jpg"_s), folder + u"/A_plain.jpg"_s));
    QVERIFY(setFileTime(folder + u"/A_plain.jpg"_s, exifSeconds.at(1) + 1));

    sortBy(1);
    ShootingTime::resetForTesting();
    ImageDirectoryLoader loader;
    loader.loadDataForFolderWithUrl(QUrl::fromLocalFile(folder));
    QCOMPARE(describe(loader),
             (QStringList {u"Z:Z_40D.jpg"_s, u"IMG:IMG_0001.JPG,IMG_0002.JPG"_s, u"A:A_plain.jpg"_s,
                           u"IMG:IMG_0003.JPG,IMG_0004.JPG"_s}));
    QCOMPARE(ShootingTime::readsForTesting(), 6);

    // Listed again after a correction renamed a photo: nothing is read twice.
    QVERIFY(SafeFile::renameNoReplace(QString(folder + u"/IMG_0004.JPG"_s), QString(folder + u"/777_IMG_0004.JPG"_s)));
    loader.loadDataForFolderWithUrl(QUrl::fromLocalFile(folder));
    QCOMPARE(describe(loader).constLast(), u"777:777_IMG_0004.JPG"_s);
    QCOMPARE(ShootingTime::readsForTesting(), 6);

    // Ordered by name, no photo is opened.
    sortBy(0);
    ShootingTime::resetForTesting();
    loader.loadDataForFolderWithUrl(QUrl::fromLocalFile(folder));
    QCOMPARE(describe(loader).constFirst(), u"777:777_IMG_0004.JPG"_s);
    QCOMPARE(ShootingTime::readsForTesting(), 0);
}

void TestImageDirectoryLoader::progressiveLoadEndsWithWhatTheRecordWouldMake()
{
    const QString folder = makeFolder({u"Z_empty.jpg"_s});
    const QStringList sources {u"camera/Canon_40D.jpg"_s, u"camera/Reconyx_HC500_Hyperfire.jpg"_s,
                               u"orientation/Portrait_6.jpg"_s, u"camera/IMG_5195.HEIC"_s, u"camera/BSG1.tiff"_s};
    for (const QString &source : sources)
        QVERIFY(QFile::copy(TestSandbox::testDataFile(source), folder + u"/A_"_s + source.section(u'/', 1)));
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
        const ImageFile direct(file->fileurl());
        QVERIFY(!file->isThumbnailPending());
        QCOMPARE(file->compactThumbnail().bytes(), direct.compactThumbnail().bytes());
        QCOMPARE(file->thumbnail().isNull(), file->fileName() == u"Z_empty.jpg"_s);
        QCOMPARE(file->basecode(), std::optional<QString>(FileNameConvention::barcodeIdForName(file->fileName())));
    }
    QCOMPARE(cache.decodedCount(), 6);
    QCOMPARE(arrived.size(), 6);

    // The same folder again, unchanged: nothing is replaced.
    loader.beginLoadingFolder(QUrl::fromLocalFile(folder), true);
    QTRY_VERIFY(!loader.isLoading());
    QCOMPARE(listed.size(), 1);
    QCOMPARE(cache.decodedCount(), 6);
}

void TestImageDirectoryLoader::loadsBackToBackAllFinishAndTheLastWins_data()
{
    QTest::addColumn<int>("threads");
    QTest::newRow("one listing thread") << 1;
    QTest::newRow("two listing threads") << 2;
}

// A second start handing over a folder, or Refresh right after the window appears:
// loads overlap, and none may wait for another, however few threads there are.
void TestImageDirectoryLoader::loadsBackToBackAllFinishAndTheLastWins()
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

namespace {
QByteArray bytesOf(const NativePath &path)
{
    QFile in;
    if (!in.open(::open(path.c_str(), O_RDONLY), QIODevice::ReadOnly, QFile::AutoCloseHandle))
        return {};
    return in.readAll();
}
} // namespace

// A name that is no valid UTF-8 and a valid name that looks the same once the
// bad byte is shown as U+FFFD: each action must reach the file it was meant for.
void TestImageDirectoryLoader::namesThatAreNotUtf8ActOnTheirOwnFile()
{
    const NativePath folder(TestSandbox::instance().makeFolder(u"odd-names"_s));
    const QByteArray odd("0\xff.jpg");
    const QByteArray lookAlike("0\xef\xbf\xbd.jpg");
    const QByteArray subject("1_IMG_0002.jpg");
    QImage small(64, 48, QImage::Format_RGB32);
    QByteArray contents[3];
    const QByteArray names[3] = {odd, lookAlike, subject};
    for (int i = 0; i < 3; ++i) {
        small.fill(QColor(40 * i, 90, 200));
        QFile out;
        QVERIFY(out.open(::open(folder.child(names[i]).c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644),
                         QIODevice::WriteOnly, QFile::AutoCloseHandle));
        QVERIFY(small.save(&out, "JPEG"));
        out.close();
        contents[i] = bytesOf(folder.child(names[i]));
        QVERIFY(!contents[i].isEmpty());
    }

    ImageDirectoryLoader loader;
    loader.loadDataForFolderWithUrl(QUrl::fromLocalFile(folder.toString()));
    QList<QUrl> urls;
    for (qsizetype s = 0; s < loader.numberOfSections(); ++s) {
        for (qsizetype i = 0; i < loader.numberOfItemsInSection(s); ++i)
            urls.append(loader.imageFileForIndexPath({s, i})->fileurl());
    }
    QCOMPARE(urls.size(), 3);
    QUrl oddUrl;
    for (const QUrl &url : std::as_const(urls)) {
        if (NativePath(url.toLocalFile()).fileNameBytes() == odd)
            oddUrl = url;
    }
    QVERIFY2(oddUrl.isValid(), "the odd name did not come back byte for byte");
    QVERIFY(!ImageFile(oddUrl).thumbnail().isNull());

    // The odd one is the barcode photo: it goes to the trash, the look-alike is only renamed.
    const ReassignRun::Report report =
        ReassignRun::automatic(urls, {{oddUrl.toLocalFile(), u"2000000000015"_s}}, false);
    QCOMPARE(report.trashed.size(), 1);
    const std::optional<QList<SafeFileEntry>> left = SafeFile::list(folder);
    QVERIFY(left);
    QByteArrayList remaining;
    for (const SafeFileEntry &entry : *left)
        remaining.append(bytesOf(entry.path));
    QCOMPARE(remaining.size(), 2);
    QVERIFY(!remaining.contains(contents[0]));
    QVERIFY(remaining.contains(contents[1]));
    QVERIFY(remaining.contains(contents[2]));
    QVERIFY(NativePath(report.trashed.first()).fileNameBytes().endsWith(odd));
}

LUMISORT_CORE_TEST_MAIN(TestImageDirectoryLoader)
#include "tst_imagedirectoryloader.moc"
