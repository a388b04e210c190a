#include "TestMain.h"
#include "barcodes/BarcodeReader.h"
#include "roster/CameraCardSheet.h"
#include "roster/Roster.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QtMath>

using namespace Qt::StringLiterals;

namespace {
// As a school's system exports it: byte-order mark, semicolons, CRLF, quoted names with commas,
// three classes whose order needs numbers compared as numbers, and a row without an id.
const QByteArray cRoster =
    "\xEF\xBB\xBFStudent ID;Last Name;First Name;Homeroom;Teacher\r\n"
    "S1001;\xC3\x98\x64\x65g\xC3\xA5rd;S\xC3\xB8lvi;Grade 10;Mr. Kowalczyk\r\n"
    "S1002;\"N\xC3\xBA\xC3\xB1\x65z, Jr.\";Jos\xC3\xA9;Grade 2;Ms. Bront\xC3\xAB\r\n"
    "k-2024-0003;Zhang;Wei;Kindergarten;\r\n"
    "S1004;Lef\xC3\xA8vre;Ana\xC3\xAFs;Grade 2;Ms. Bront\xC3\xAB\r\n"
    "S1005;\xC3\x84hnlich;J\xC3\xBCrgen;Grade 10;Mr. Kowalczyk\r\n"
    "S1006;\xC3\x85\x62\x65rg;Linn\xC3\xA9\x61;Grade 2;Ms. Bront\xC3\xAB\r\n"
    "S1007;\"Castillo, de\";I\xC3\xB1igo;Kindergarten;\r\n"
    ";Nobody;Nemo;Grade 2;\r\n"
    "S1008;M\xC3\xBCller-L\xC3\xBC\x64\x65nscheidt;Maximiliane Theodora;Grade 10;Mr. Kowalczyk\r\n"
    "S1009;Dubois;Chlo\xC3\xA9;Grade 2;Ms. Bront\xC3\xAB\r\n"
    "S1010;\xC3\x98stergaard;S\xC3\xB8ren;Kindergarten;\r\n"
    "S1011;Brennan;Siobh\xC3\xA1n;Grade 10;Mr. Kowalczyk\r\n"
    "S1012;Y\xC4\xB1lmaz;\xC5\x9E\xC3\xBCkr\xC3\xBC;Grade 2;Ms. Bront\xC3\xAB\r\n";
// Class, then last and first name.
const QStringList cOrder {u"S1006"_s, u"S1009"_s, u"S1004"_s, u"S1002"_s, u"S1012"_s, u"S1005"_s,
                          u"S1011"_s, u"S1008"_s, u"S1001"_s, u"S1007"_s, u"S1010"_s, u"k-2024-0003"_s};

// The card as a camera sees it, held up before a backdrop: turned, foreshortened, a little soft and noisy.
QImage photograph(const QImage &card, int seed)
{
    QRandomGenerator random {quint32(seed)};
    QImage photo(2000, 1500, QImage::Format_RGB32);
    photo.fill(QColor(105, 108, 100));
    QPainter painter(&photo);
    for (int i = 0; i < 300; ++i) {
        const int grey = random.bounded(60, 170);
        painter.fillRect(random.bounded(2000), random.bounded(1500), random.bounded(20, 200), random.bounded(20, 200),
                         QColor(grey, grey, grey - 10, 90));
    }
    const double w = 950, h = w * card.height() / card.width(), angle = qDegreesToRadians(10.0 + seed % 10);
    QPolygonF quad;
    for (const QPointF &corner :
         {QPointF(-w / 2, -h / 2), QPointF(w / 2, -h * 0.46), QPointF(w / 2, h * 0.46), QPointF(-w / 2, h / 2)})
        quad << QPointF(1000 + corner.x() * qCos(angle) - corner.y() * qSin(angle),
                        750 + corner.x() * qSin(angle) + corner.y() * qCos(angle));
    QTransform transform;
    const QRectF from(card.rect());
    if (!QTransform::quadToQuad(QPolygonF {from.topLeft(), from.topRight(), from.bottomRight(), from.bottomLeft()},
                                quad, transform))
        return {};
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setTransform(transform);
    painter.drawImage(0, 0, card);
    painter.end();
    photo = photo.scaled(1500, 1125, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                .scaled(2000, 1500, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    for (int y = 0; y < photo.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(photo.scanLine(y));
        for (int x = 0; x < photo.width(); ++x) {
            const int n = random.bounded(-10, 11);
            line[x] = qRgb(qBound(0, qRed(line[x]) + n, 255), qBound(0, qGreen(line[x]) + n, 255),
                           qBound(0, qBlue(line[x]) + n, 255));
        }
    }
    return photo;
}
} // namespace

class TestCameraCardSheet : public QObject
{
    Q_OBJECT

    QString m_folder;
    QString m_rosterPath;

private Q_SLOTS:
    void initTestCase()
    {
        m_folder = TestSandbox::instance().makeFolder(u"cards"_s);
        m_rosterPath = m_folder + u"/Homerooms 2026.csv"_s;
        QVERIFY(writeFile(m_rosterPath, cRoster));
    }

    // Every card, printed and photographed, reads back as its subject's id, in the order of the day.
    void cardsReadBack_data()
    {
        QTest::addColumn<CameraCardSheet::Format>("format");
        QTest::addColumn<QPageSize::PageSizeId>("paper");
        for (const auto &[name, format] : {std::pair {"code128", CameraCardSheet::Format::Code128},
                                           std::pair {"datamatrix", CameraCardSheet::Format::DataMatrix},
                                           std::pair {"qr", CameraCardSheet::Format::QrCode}}) {
            QTest::addRow("%s A4", name) << format << QPageSize::A4;
            QTest::addRow("%s Letter", name) << format << QPageSize::Letter;
        }
    }

    void cardsReadBack()
    {
        QFETCH(CameraCardSheet::Format, format);
        QFETCH(QPageSize::PageSizeId, paper);
        const QString pdftoppm = QStandardPaths::findExecutable(u"pdftoppm"_s);
        if (pdftoppm.isEmpty())
            QSKIP("pdftoppm (poppler-utils) is not installed: the printed cards cannot be looked at");
        const Roster roster = Roster::load(m_rosterPath);
        QCOMPARE(roster.subjects().size(), cOrder.size());
        const CameraCardSheet::Options options {format, paper, u"Homerooms 2026.csv"_s};
        const QString folder = TestSandbox::instance().makeFolder(u"sheet"_s), pdf = folder + u"/cards.pdf"_s;
        QVERIFY(CameraCardSheet::write(roster, options, pdf));

        constexpr int dpi = 150;
        QCOMPARE(QProcess::execute(pdftoppm, {u"-r"_s, QString::number(dpi), u"-png"_s, pdf, folder + u"/page"_s}), 0);
        const QStringList pages = QDir(folder).entryList({u"page*.png"_s}, QDir::Files, QDir::Name);
        const QList<QList<QRectF>> layout = CameraCardSheet::layout(cOrder.size(), options);
        QVERIFY(pages.size() == 2 && layout.size() == 2);
        qsizetype card = 0;
        for (qsizetype p = 0; p < pages.size(); ++p) {
            const QImage page(folder + u'/' + pages[p]);
            for (const QRectF &rect : layout[p]) {
                const QRectF pixels(rect.topLeft() * dpi / 72, rect.size() * dpi / 72);
                const QString photo = folder + u"/IMG_"_s + QString::number(card) + u".JPG"_s;
                QVERIFY(photograph(page.copy(pixels.toRect()), int(card)).save(photo, "JPEG", 85));
                const BarcodeReader::Reading reading = BarcodeReader::read(photo);
                QStringList texts;
                for (const BarcodeReader::Code &code : reading.codes)
                    texts << code.text;
                QVERIFY2(texts == QStringList {cOrder[card]},
                         qPrintable(u"card "_s + QString::number(card) + u" read as "_s + texts.join(u", "_s)));
                ++card;
            }
        }
        QCOMPARE(card, cOrder.size());
    }

    void refusals()
    {
        // An existing file is kept as it is.
        const QString existing = m_folder + u"/kept.pdf"_s;
        QVERIFY(writeFile(existing, "mine"));
        const Roster roster = Roster::load(m_rosterPath);
        const FileResult refused = CameraCardSheet::write(roster, {}, existing);
        QVERIFY(!refused);
        QCOMPARE(refused.errorName(), u"EEXIST"_s);
        QCOMPARE(readFile(existing), "mine"_ba);

        // A roster whose every row was left out gives no empty sheet.
        const QString empty = m_folder + u"/empty.csv"_s;
        QVERIFY(writeFile(empty, "id;name\r\n;Nemo\r\n"));
        QString why;
        QVERIFY(CameraCardSheet::pdf(Roster::load(empty), {}, &why).isEmpty());
        QVERIFY2(why.contains(u"no subjects"_s), qPrintable(why));

        // An id a format cannot hold is named, not printed unreadable.
        QVERIFY(writeFile(empty, "id;name\r\n" + QByteArray(120, '7') + ";Long\r\n"));
        QVERIFY(CameraCardSheet::pdf(Roster::load(empty), {}, &why).isEmpty());
        QVERIFY2(why.contains(u"line 2"_s), qPrintable(why));
        QVERIFY(!CameraCardSheet::pdf(Roster::load(empty), {CameraCardSheet::Format::DataMatrix, QPageSize::A4, {}})
                     .isEmpty());
    }

    void commandLine()
    {
        const QString out = m_folder + u"/cli.pdf"_s;
        CliRun run =
            runCli({u"cards"_s, u"--out"_s, out, u"--format"_s, u"qr"_s, u"--paper"_s, u"letter"_s, m_rosterPath});
        QVERIFY2(run.status == 0, qPrintable(run.err));
        QVERIFY2(run.out.contains(u"12 cards on 2 pages"_s), qPrintable(run.out));
        QVERIFY2(run.err.contains(u"line 9: The row has no id"_s), qPrintable(run.err));
        QProcess text; // the footer and the names, accents and all
        text.start(u"pdftotext"_s, {out, u"-"_s});
        if (text.waitForFinished()) {
            const QString words = QString::fromUtf8(text.readAllStandardOutput());
            QVERIFY2(words.contains(u"Homerooms 2026.csv"_s) && words.contains(u"Page 2 of 2"_s)
                         && words.contains(u"Şükrü Yılmaz"_s) && words.contains(u"Grade 10 · Mr. Kowalczyk"_s),
                     qPrintable(words));
        }

        run = runCli({u"cards"_s, u"--out"_s, out, m_rosterPath});
        QCOMPARE(run.status, 1);
        QVERIFY2(run.err.contains(u"already exists"_s), qPrintable(run.err));

        // Without a header naming the ids the operator is shown the columns to choose from.
        const QString unnamed = m_folder + u"/unnamed.csv"_s;
        QVERIFY(writeFile(unnamed, "Number;Name\r\n77;Ann\r\n"));
        run = runCli({u"cards"_s, u"--out"_s, m_folder + u"/unnamed.pdf"_s, unnamed});
        QCOMPARE(run.status, 1);
        QVERIFY2(run.err.contains(u"--id-column"_s) && run.err.contains(u"1: Number"_s), qPrintable(run.err));
        run = runCli({u"cards"_s, u"--id-column"_s, u"1"_s, u"--out"_s, m_folder + u"/unnamed.pdf"_s, unnamed});
        QVERIFY2(run.status == 0 && run.out.contains(u"1 card on 1 page"_s), qPrintable(run.out + run.err));
    }
};

LUMISORT_TEST_MAIN(QGuiApplication, TestCameraCardSheet, qputenv("QT_QPA_PLATFORM", "offscreen"))
#include "tst_cameracardsheet.moc"
