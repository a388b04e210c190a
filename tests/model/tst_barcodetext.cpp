#include "TestMain.h"
#include "model/BarcodeText.h"

using namespace Qt::StringLiterals;

class TestBarcodeText : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void rule_data()
    {
        QTest::addColumn<QString>("barcode");
        QTest::addColumn<QString>("problem"); // a word of the reason; empty: accepted
        QTest::newRow("EAN-13") << u"4006381333931"_s << QString();
        QTest::newRow("Code 39 with dot, dash, space") << u"AB-12.3 $%+"_s << QString();
        QTest::newRow("letters beyond ASCII") << u"Größe"_s << QString();
        QTest::newRow("empty is asked elsewhere") << QString() << QString();
        QTest::newRow("slash") << u"12/34"_s << u"\"/\""_s;
        QTest::newRow("dot dot alone") << u".."_s << u"\"..\""_s;
        QTest::newRow("dot dot inside") << u"12..34"_s << u"\"..\""_s;
        QTest::newRow("hidden") << u".12"_s << u"hidden"_s;
        QTest::newRow("NUL") << u"12\u0000034"_s << u"control"_s;
        QTest::newRow("DEL") << u"12\u007f"_s << u"control"_s;
        QTest::newRow("C1 control") << u"12\u0085"_s << u"control"_s;
        // Options to every command that lists the photos; names memory cards and shares refuse.
        QTest::newRow("leading dash") << u"-123"_s << u"\"-\""_s;
        for (const QString &c : {u"*"_s, u"a:b"_s, u"a\\b"_s, u"?"_s, u"\"1\""_s, u"<1>"_s, u"a|b"_s})
            QTest::newRow(qPrintable(u"not on exFAT: "_s + c)) << c << u"memory cards"_s;
        // Shown reversed, or two names that look the same and differ.
        QTest::newRow("right-to-left override") << u"12\u202e34"_s << u"invisible"_s;
        QTest::newRow("zero-width space") << u"12\u200b34"_s << u"invisible"_s;
        QTest::newRow("undecodable byte") << (u"12"_s + QChar(0xDCFF)) << u"valid text"_s;
        QTest::newRow("longest") << QString(BarcodeText::cMaxBytes, u'7') << QString();
        QTest::newRow("too long") << QString(BarcodeText::cMaxBytes + 1, u'7') << u"bytes"_s;
        QTest::newRow("too long in bytes") << QString(BarcodeText::cMaxBytes / 2 + 1, u'ß') << u"bytes"_s;
    }
    void rule()
    {
        QFETCH(QString, barcode);
        QFETCH(QString, problem);
        const std::optional<QString> found = BarcodeText::problem(barcode);
        QCOMPARE(found.has_value(), !problem.isEmpty());
        if (found)
            QVERIFY2(found->contains(problem), qPrintable(*found));
        QCOMPARE(BarcodeText::isAcceptable(barcode), problem.isEmpty());
    }
};

LUMISORT_CORE_TEST_MAIN(TestBarcodeText)
#include "tst_barcodetext.moc"
