#include "DemoCard.h"
#include "TestMain.h"
#include "reassign/ReassignRun.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using namespace Qt::StringLiterals;

// The runs on a demo card copied into a sandbox working folder.
class TestReassignRun : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        m_card = DemoCard::make(TestSandbox::instance().makeFolder(u"card"_s), 2, 2);
        QVERIFY(m_card.isValid());
    }
    void oneBarcodeRunWithACollision()
    {
        const QString folder = TestSandbox::instance().makeFolder(u"one"_s);
        writeFile(folder + u"/111_IMG_0001.JPG"_s, "first");
        writeFile(folder + u"/222_IMG_0001.JPG"_s, "second");
        writeFile(folder + u"/333_IMG_0002.JPG"_s, "already");
        const ReassignRun::Report report = ReassignRun::oneBarcode(
            {QUrl::fromLocalFile(folder + u"/111_IMG_0001.JPG"_s), QUrl::fromLocalFile(folder + u"/222_IMG_0001.JPG"_s),
             QUrl::fromLocalFile(folder + u"/333_IMG_0002.JPG"_s)},
            u"333"_s);
        QCOMPARE(report.renames.size(), 2); // the photo already on 333 is not even planned

        const QJsonObject written = QJsonDocument::fromJson(readFile(report.journalPath)).object();
        QCOMPARE(written.value(u"state"_s).toString(), u"complete"_s);
        const QJsonArray entries = written.value(u"entries"_s).toArray();
        QCOMPARE(entries.size(), 2);
        QCOMPARE(entries.at(1).toObject().value(u"final"_s).toString(), folder + u"/222_IMG_0001.JPG"_s);
    }
    void barcodePhotoThatCouldNotBeRenamedStays()
    {
        const QString folder = TestSandbox::instance().makeFolder(u"blocked"_s);
        const QList<QUrl> urls = asShot(folder);
        const QString code = m_card.photos.at(0).barcode;
        // A file already holds the name meant for the barcode photo.
        const QString holder = folder + u'/' + code + u"_IMG_0001.JPG"_s;
        QVERIFY(writeFile(holder, "someone else's photo"));
        const ReassignRun::Report report = ReassignRun::automatic(urls, {{urls.first().toLocalFile(), code}}, false);
        QVERIFY(QFileInfo::exists(urls.first().toLocalFile())); // stays under its old name
        QCOMPARE(readFile(holder), QByteArray("someone else's photo")); // never discarded
        QVERIFY(report.trashed.isEmpty());
        QVERIFY(QFileInfo::exists(folder + u'/' + code + u"_IMG_0006.JPG"_s));
    }
    void refusedBarcodeRenamesNothing_data()
    {
        QTest::addColumn<bool>("automatic");
        QTest::addColumn<QString>("barcode");
        // Each kind of refused code is a row of the barcode text's own test.
        QTest::newRow("one barcode, parent folder") << false << u"../out"_s;
        QTest::newRow("automatic, slash") << true << u"12/34"_s;
    }
    void refusedBarcodeRenamesNothing()
    {
        QFETCH(bool, automatic);
        QFETCH(QString, barcode);
        const QString outer = TestSandbox::instance().makeFolder(u"outer"_s);
        const QString folder = outer + u"/work"_s;
        const QList<QUrl> urls = asShot(folder);
        QDir(folder).mkdir(u"12"_s); // where "12/34" would lead
        const QStringList before = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        const ReassignRun::Report report = automatic
            ? ReassignRun::automatic(urls, {{urls.first().toLocalFile(), barcode}}, false)
            : ReassignRun::oneBarcode(urls, barcode);
        QVERIFY(!report.refusal.isEmpty());
        QVERIFY(report.renames.isEmpty());
        QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), before);
        QCOMPARE(QDir(outer).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList {u"work"_s});
        QVERIFY(QDir(folder + u"/12"_s).isEmpty());
    }

private:
    DemoCard m_card;
    QList<QUrl> asShot(const QString &folder) const
    {
        QList<QUrl> urls;
        for (const QString &path : m_card.copyAsShot(folder))
            urls << QUrl::fromLocalFile(path);
        return urls;
    }
};

LUMISORT_CORE_TEST_MAIN(TestReassignRun)
#include "tst_reassignrun.moc"
