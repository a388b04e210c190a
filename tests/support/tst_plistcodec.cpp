#include "TestMain.h"
#include "support/PlistCodec.h"

#include <QDateTime>
#include <QTimeZone>

using namespace Qt::StringLiterals;

namespace {
QVariant nestedLists(int depth)
{
    QVariant value = QVariantList {u"bottom"_s};
    for (int i = 1; i < depth; ++i)
        value = QVariantList {value, qint64(i)};
    return value;
}

// A binary list whose root holds a list holding a list... depth times, one object each.
QByteArray deepBinary(quint32 depth)
{
    QByteArray bytes("bplist00");
    QList<quint64> offsets;
    auto appendBigEndian = [&bytes](quint64 value, int width) {
        for (int k = width - 1; k >= 0; --k)
            bytes.append(char((value >> (8 * k)) & 0xff));
    };
    for (quint32 i = 0; i < depth; ++i) {
        offsets.append(bytes.size());
        bytes.append(char(0xA1));
        appendBigEndian(i + 1, 4);
    }
    offsets.append(bytes.size());
    bytes.append(char(0xA0));
    const quint64 table = bytes.size();
    for (quint64 offset : offsets)
        appendBigEndian(offset, 8);
    bytes.append(QByteArray(6, 0)).append(char(8)).append(char(4));
    appendBigEndian(offsets.size(), 8);
    appendBigEndian(0, 8);
    appendBigEndian(table, 8);
    return bytes;
}
} // namespace

class TestPlistCodec : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void roundTrip_data()
    {
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<bool>("binary");
        const QDateTime when(QDate(2026, 12, 6), QTime(18, 32, 7), QTimeZone::utc());
        const QVariantMap nested {{u"text"_s, u"héllo <&> \"quoted\""_s},
                                  {u"yes"_s, true},
                                  {u"no"_s, false},
                                  {u"negative"_s, qint64(-5)},
                                  {u"big"_s, qint64(1) << 40},
                                  {u"real"_s, 0.75},
                                  {u"bytes"_s, QByteArray("a\0b\xff", 4)},
                                  {u"when"_s, when},
                                  {u"list"_s, QVariantList {u"a"_s, qint64(1), QVariantMap {{u"200"_s, u"x"_s}}}},
                                  {u"empty"_s, QVariantMap()}};
        for (bool binary : {false, true}) {
            const char *kind = binary ? "binary" : "xml";
            QTest::addRow("%s dictionary of every type", kind) << QVariant(nested) << binary;
            QTest::addRow("%s list at the root", kind) << QVariant(QVariantList {u"DCIM"_s, qint64(13)}) << binary;
            QTest::addRow("%s lists nested 300 deep", kind) << nestedLists(300) << binary;
        }
    }
    void roundTrip()
    {
        QFETCH(QVariant, value);
        QFETCH(bool, binary);
        QString error;
        const QByteArray bytes = binary ? PlistCodec::toBinary(value, &error) : PlistCodec::toXml(value, &error);
        QVERIFY2(!bytes.isEmpty(), qPrintable(error));
        QCOMPARE(bytes.startsWith("bplist"), binary);
        const QVariant back = PlistCodec::parse(bytes, &error);
        QVERIFY2(back.isValid(), qPrintable(error));
        QCOMPARE(back, value);
    }
    void damagedInputIsRejected_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        const QByteArray good = PlistCodec::toBinary(QVariantMap {{u"k"_s, u"v"_s}, {u"n"_s, qint64(3)}});
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("garbage") << QByteArray("not a property list at all");
        QTest::newRow("unclosed xml") << QByteArray("<?xml version=\"1.0\"?><plist><dict><key>a</key></plist>");
        QTest::newRow("truncated binary") << good.left(good.size() / 2);
        // Deep enough to overflow the stack of whoever recurses through it.
        QTest::newRow("xml nested 50,000 deep") << "<plist><dict><key>k</key>" + QByteArray("<array>").repeated(50000)
                + QByteArray("</array>").repeated(50000) + "</dict></plist>";
        QTest::newRow("binary nested 1,000,000 deep") << deepBinary(1000000);
    }
    void damagedInputIsRejected()
    {
        QFETCH(QByteArray, bytes);
        QString error;
        QVERIFY(!PlistCodec::parse(bytes, &error).isValid());
        QVERIFY(!error.isEmpty());
    }
};

LUMISORT_CORE_TEST_MAIN(TestPlistCodec)
#include "tst_plistcodec.moc"
