#include "TestMain.h"
#include "settings/CompanionSettings.h"
#include "settings/JavaPreferences.h"
#include "support/PlistCodec.h"

#include <QDir>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {

QByteArray javaMap(const QByteArray &entries, const QByteArray &version = "1.0")
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>\n"
           "<!DOCTYPE map SYSTEM \"http://java.sun.com/dtd/preferences.dtd\">\n<map MAP_XML_VERSION=\""
        + version + "\">\n" + entries + "</map>\n";
}

// Puts one kind of file (or what stands in its place) at path; a usable one says savepath=label.
bool place(const QString &path, const QString &kind, const QString &label)
{
    const QByteArray savepath = "  <entry key=\"savepath\" value=\"" + label.toUtf8() + "\"/>\n";
    const bool plist = path == CompanionSettings::preferencesFilePath();
    QDir().mkpath(QFileInfo(path).path());
    if (kind == u"ok"_s && plist)
        return writeFile(path,
                         PlistCodec::toBinary(QVariantMap {
                             {u"/"_s, QVariantMap {{u"Mainstay/"_s, QVariantMap {{u"savepath"_s, label}}}}}}));
    if (kind == u"no node"_s)
        return writeFile(path, PlistCodec::toXml(QVariantMap {{u"/"_s, QVariantMap {{u"Other/"_s, QVariantMap()}}}}));
    if (kind == u"folder"_s)
        return QDir().mkpath(path);
    if (kind == u"pipe"_s)
        return ::mkfifo(QFile::encodeName(path).constData(), 0644) == 0;
    const QHash<QString, QByteArray> bytes {
        {u"ok"_s, javaMap(savepath)},
        {u"malformed"_s, javaMap(savepath).replace("/>", ">")},
        {u"properties"_s, "<?xml version=\"1.0\"?>\n<properties><entry key=\"savepath\">x</entry></properties>\n"},
        {u"too large"_s, javaMap(savepath + QByteArray(JavaPreferences::cMaxFileBytes, ' '))},
        {u"newer"_s, javaMap(savepath, "2.0")},
        {u"no value"_s, javaMap("  <entry key=\"savepath\"/>\n")},
        {u"text"_s, javaMap(savepath + "savepath=x\n")},
        {u"empty"_s, {}},
        {u"garbage"_s, "bplist00\x01\x02garbage"},
    };
    return bytes.contains(kind) && writeFile(path, bytes.value(kind));
}

} // namespace

class TestCompanionSettings : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_systemRoot = TestSandbox::instance().makeFolder(u"etc-java-systemPrefs"_s);
        qputenv("LUMISORT_JAVA_SYSTEM_PREFS", QFile::encodeName(m_systemRoot));
        QDir(TestSandbox::instance().home() + u"/.java"_s).removeRecursively();
        QDir(TestSandbox::instance().home() + u"/Library"_s).removeRecursively();
    }

    // A file Java wrote, kept with the tests.
    void javaFileAsJavaWritesIt()
    {
        const QString source = QStringLiteral(LUMISORT_SETTINGS_TEST_DIR) + u"/data/mainstay-prefs.xml"_s;
        QVERIFY(writeFile(CompanionSettings::userPreferencesFile(), readFile(source)));
        const CompanionSettings::Reading reading = CompanionSettings::read();
        QCOMPARE(reading.file, CompanionSettings::userPreferencesFile());
        QCOMPARE(reading.problems, QStringList());
        const QHash<QString, QString> expected {{u"savepath"_s, u"/srv/studio/Zoë/Été 東京"_s},
                                                {u"reversescan"_s, u"true"_s},
                                                {u"disablescan"_s, u"false"_s},
                                                {u"folder/Été"_s, u"Zoë/Été 東京 <&\"'>\nx\ty 😀"_s}};
        QCOMPARE(reading.values, expected);
        QCOMPARE(CompanionSettings::savePath(), expected.value(u"savepath"_s));
    }

    void folderNamesAsJavaMakesThem_data()
    {
        // Folder names as Java 17 made them; the three lengths give every Base64 ending.
        QTest::addColumn<QString>("node");
        QTest::addColumn<QString>("folder");
        QTest::newRow("plain") << u"Mainstay"_s << u"Mainstay"_s;
        QTest::newRow("space and tilde stay") << u"a b~"_s << u"a b~"_s;
        QTest::newRow("dot") << u"."_s << u"_!#4="_s;
        QTest::newRow("leading underscore") << u"_a"_s << u"_!&8!}@=="_s;
        QTest::newRow("accent and dot") << u"é.x"_s << u"_!<k!.g\"4"_s;
        QTest::newRow("path of two") << u"Zoë/Été 東京"_s << u"_!&o!bw$r/_!:k!d!$p!#\"nc`6s"_s;
    }

    void folderNamesAsJavaMakesThem()
    {
        QFETCH(QString, node);
        QFETCH(QString, folder);
        QCOMPARE(JavaPreferences::nodeFile(u"/r"_s, node), u"/r/"_s + folder + u"/prefs.xml"_s);
    }

    void firstUsableSourceWins_data()
    {
        // What is at each place ("" nothing), which place is read, how many are passed over.
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("plist");
        QTest::addColumn<QString>("system");
        QTest::addColumn<QString>("used");
        QTest::addColumn<int>("passedOver");
        const QString none, ok = u"ok"_s, sys = u"system"_s;
        QTest::newRow("nothing anywhere") << none << none << none << none << 0;
        QTest::newRow("machine's only") << none << none << ok << sys << 0;
        QTest::newRow("property list before machine's") << none << ok << ok << u"plist"_s << 0;
        QTest::newRow("user's before both") << ok << ok << ok << u"user"_s << 0;
        QTest::newRow("property list without the node") << none << u"no node"_s << ok << sys << 0;
        QTest::newRow("malformed") << u"malformed"_s << none << ok << sys << 1;
        QTest::newRow("a Java properties file") << u"properties"_s << ok << none << u"plist"_s << 1;
        QTest::newRow("a folder") << u"folder"_s << none << ok << sys << 1;
        QTest::newRow("a pipe, never waited on") << u"pipe"_s << none << ok << sys << 1;
        QTest::newRow("over the size limit") << u"too large"_s << none << ok << sys << 1;
        QTest::newRow("newer map format") << u"newer"_s << none << ok << sys << 1;
        QTest::newRow("entry without a value") << u"no value"_s << none << ok << sys << 1;
        QTest::newRow("text among entries") << u"text"_s << none << ok << sys << 1;
        QTest::newRow("empty file") << u"empty"_s << none << ok << sys << 1;
        QTest::newRow("damaged property list") << none << u"garbage"_s << ok << sys << 1;
        QTest::newRow("all damaged") << u"malformed"_s << u"garbage"_s << u"pipe"_s << none << 3;
    }

    void firstUsableSourceWins()
    {
        QFETCH(QString, user);
        QFETCH(QString, plist);
        QFETCH(QString, system);
        QFETCH(QString, used);
        QFETCH(int, passedOver);
        const QHash<QString, QString> paths {{u"user"_s, CompanionSettings::userPreferencesFile()},
                                             {u"plist"_s, CompanionSettings::preferencesFilePath()},
                                             {u"system"_s, CompanionSettings::systemPreferencesFile()}};
        QVERIFY(paths.value(u"system"_s).startsWith(m_systemRoot + u"/Mainstay/"_s));
        for (const auto &[where, kind] : {std::pair {u"user"_s, user}, {u"plist"_s, plist}, {u"system"_s, system}})
            QVERIFY(kind.isEmpty() || place(paths.value(where), kind, where));

        const CompanionSettings::Reading reading = CompanionSettings::read();
        QCOMPARE(reading.file, paths.value(used));
        QCOMPARE(CompanionSettings::savePath(), used.isEmpty() ? std::nullopt : std::optional<QString>(used));
        QCOMPARE(reading.problems.size(), passedOver);
        for (const QString &problem : reading.problems)
            QVERIFY2(std::any_of(paths.cbegin(), paths.cend(),
                                 [&](const QString &path) { return problem.startsWith(path + u": "_s); }),
                     qPrintable(problem));
    }

private:
    QString m_systemRoot;
};

LUMISORT_CORE_TEST_MAIN(TestCompanionSettings)
#include "tst_companionsettings.moc"
