#define ZX_USE_UTF8 1

#include "DemoCard.h"
#include "ScopedMount.h"
#include "TestMain.h"

#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QProcess>
#include <QRegularExpression>
#include <ZXing/BitMatrix.h>
#include <ZXing/MultiFormatWriter.h>
#include <optional>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

// Every option of every verb through the real executable, each checked by what
// it does. The working folder of each run is a fresh copy of a demo card as shot:
// IMG_0001 (barcode photo) 0002 0003, IMG_0004 (barcode photo) 0005 0006.
class TestCommandLine : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        TestSandbox &sandbox = TestSandbox::instance();
        m_card = DemoCard::make(sandbox.makeFolder(u"card"_s), 2, 2);
        QVERIFY(m_card.isValid());
        // A camera card and a backup disk, for the folders a setting must refuse.
        const QString media = sandbox.makeFolder(u"media"_s);
        m_camera.emplace(ScopedMount::tmpfs(media + u"/EOS_DIGITAL"_s));
        m_disk.emplace(ScopedMount::tmpfs(media + u"/BACKUP"_s));
        QVERIFY(!m_camera->ok() || QDir().mkpath(m_camera->folder() + u"/DCIM/100CANON"_s));
        QVERIFY(QFile::link(media + u"/EOS_DIGITAL"_s, sandbox.root() + u"/link"_s));
        QVERIFY(QDir().mkpath(sandbox.dataHome() + u"/Trash/files"_s));
        qputenv("LUMISORT_JAVA_SYSTEM_PREFS", QFile::encodeName(sandbox.root() + u"/java"_s)); // the machine's
        m_before = sandbox.makeFolder(u"before"_s);
    }

    void options_data()
    {
        // prepare: "mv:A|B" renames in the working folder, "mkdir:P" makes a folder, "cli:ARGS" runs the tool first,
        // "qr:A|T" makes A a photo of a QR code holding T, "write:P|T" writes T to file P, "tmpfs:P|SIZE" mounts one.
        // args: split at spaces.
        // expect: "out:T" / "err:T" the output holds T ("!" in front: does not), "file:P" exists, "files:A B" all there
        // is, "text:P|T" file P holds T, "image:P|WxH", "smaller:P|N" bytes, "whole:P|N" fewer than N photos, all
        // whole, "json:K|N" the output is JSON with number N at key K, "get:KEY|V" and "list:T" read the settings
        // afterwards, "aside:N" the settings file kept aside is N bytes long. P is relative to the working folder;
        // {camera} is a card, {disk} a backup disk, {link} a link to the card, {settings} the settings file, {java} the
        // machine's Java settings. Several steps or expectations are separated by "; ".
        QTest::addColumn<QStringList>("prepare");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("expect");
        const QString codes = u" IMG_0001.JPG=111 IMG_0004.JPG=444"_s;
        const QString longBarcode(200, u'7');
        const QString longName = QString(60, u'x') + u"_0002.JPG"_s; // two pieces: all of it stays
        const auto row = [](const auto &name, const auto &prepare, const auto &args, int status, const auto &expect) {
            const auto steps = [](const QString &all) { return all.split(u"; "_s, Qt::SkipEmptyParts); };
            QTest::newRow(QByteArray(name).constData())
                << steps(text(prepare)) << text(args).split(u' ', Qt::SkipEmptyParts) << status << steps(text(expect));
        };

        // The program's own options, and those a Qt application would have taken.
        row("--help", "", "--help", 0, "out:verbs:; out:--set KEY=VALUE");
        row("--verbose", "", "--verbose reassign --barcode 9 IMG_0002.JPG", 0,
            "err:ReassignRun -> oneBarcode; file:9_IMG_0002.JPG");
        // The override lasts one run: the next one reads the stored value again.
        row("--set=KEY=VALUE", "",
            "--set=prefInputFolderSortKeySelectedIndex=0 settings get prefInputFolderSortKeySelectedIndex", 0,
            "out:0\n; get:prefInputFolderSortKeySelectedIndex|1");
        row("-reverse is no option of the program", "", "-reverse barcode a_1.jpg", 2, "err:unknown option -reverse");
        row("--platform is no option of the program", "", "--platform offscreen barcode a_1.jpg", 2,
            "err:unknown option --platform");
        row("-style is no option of a verb", "", "barcode -style fusion", 2, "err:unknown option -style");
        for (const auto &[name, args] : {std::pair {"no verb", ""},
                                         {"unknown verb", "frobnicate"},
                                         {"unknown option", "--colour settings"},
                                         {"--set without value", "--set prefX settings"},
                                         {"settings get without key", "settings get"},
                                         {"settings set of an unknown type", "settings set k v --type blob"}})
            row(name, "", args, 2, "err:usage:");

        // settings
        row("settings set --type", "", "settings set cliT1 12 --type string", 0, "list:cliT1\tstring\tstored\t12\n");
        row("settings set --type= first", "", "settings set --type=int cliT2 7", 0, "list:cliT2\tint\tstored\t7\n");
        row("settings set a negative number", "", "settings set cliT3 -5", 0, "list:cliT3\tint\tstored\t-5\n");
        row("settings set a value after --", "", "settings set cliT4 -- -x", 0, "get:cliT4|-x");
        QTest::newRow("settings set, get")
            << QStringList() << QStringList {u"settings"_s, u"set"_s, u"cliT5"_s, u"/srv/work space"_s} << 0
            << QStringList {u"get:cliT5|/srv/work space"_s};
        // A key with a registered integer default keeps the integer type (13 is the default's own value).
        row("settings set a key with an integer default", "", "settings set prefReassignedBarcodeRequiredLength 13", 0,
            "list:prefReassignedBarcodeRequiredLength\tint\tstored\t13\n; "
            "list:prefCameraCardFolderNames\tstring\tdefault\t");
        row("settings set refuses text for an integer", "", "settings set prefReassignedBarcodeRequiredLength twelve",
            2, "");
        QTest::newRow("settings set --type plist")
            << QStringList()
            << QStringList {u"settings"_s, u"set"_s,
                            u"cliT6"_s,    u"<plist><dict><key>sectionid</key><string>3</string></dict></plist>"_s,
                            u"--type"_s,   u"plist"_s}
            << 0 << QStringList {u"get:cliT6|{\"sectionid\":\"3\"}"_s};
        row("settings remove", "cli:settings set cliT7 x", "settings remove cliT7", 0, "get:cliT7|");
        row("settings get of a missing key", "", "settings get cliT8", 1, "err:no value");
        // Removing the stored pattern must mean "no daily folder": no factory default stands behind it.
        row("settings get of the daily folder pattern", "", "settings get prefDailyFolderDateFormat", 1,
            "err:no value");
        const QString plist =
            u"write:{settings}|<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>%1</dict></plist>"_s;
        // A settings file nested too deep to read is kept aside, told once in one line and in the log.
        const int depth = 50000;
        row("settings file nested too deep",
            plist.arg(u"<key>k</key>"_s + u"<array>"_s.repeated(depth) + u"</array>"_s.repeated(depth)),
            "settings get prefCameraCardFolderNames", 0,
            u"out:DCIM,PRIVATE\n; !file:{settings}; aside:%1; err:the factory settings are in use (the working and "
            "destination folders must be chosen again)\n"_s.arg(qint64(depth) * 15 + 75));
        // An integer too large for its type, as a hand edit leaves it, gives way to the text set.
        for (const auto &[name, key, value] :
             {std::tuple {"settings set over a value of another type", u"prefSourcePath"_s, u"/srv/work"_s},
              {"settings set over a value of another type, text default", u"prefCameraCardFolderNames"_s, u"DCIM"_s}})
            row(name, plist.arg(u"<key>%1</key><integer>99999999999999999999999</integer>"_s.arg(key)),
                u"settings set %1 %2"_s.arg(key, value), 0,
                u"get:%1|%2; list:%1\tstring\tstored\t%2\n"_s.arg(key, value));
        // Every route that sets a folder judges it by the same rule, and a folder taken is stored with its
        // reference, so that the start-up check cannot bring another back.
        const QString work = u"prefSourcePath"_s, dest = u"prefDestinationPath"_s;
        for (const auto &[name, key, folder, reason] :
             {std::tuple {"home trash", work, "{data}/Trash/files", "in the trash"},
              {"volume trash of the user", work, "{disk}/.Trash-0/files", "in the trash"},
              {"volume trash shared", dest, "{disk}/.Trash/0/files/day", "in the trash"},
              {"home folder itself", dest, "{home}", "home folder itself"},
              {"root folder", work, "/", "root folder"},
              {"camera card", dest, "{camera}", "camera card"},
              {"folder to be made on the card", dest, "{camera}/DCIM/sorted", "camera card"},
              {"link to the card", dest, "{link}", "camera card"},
              {"disk without a camera folder", dest, "{disk}/sorted", ""},
              {"working folder in a card's folder", work, "{camera}/DCIM/100CANON", ""}}) {
            const bool taken = !*reason;
            const QString path = QString::fromUtf8(folder);
            const QString said = taken ? u"out:"_s + path : u"err:"_s + QString::fromUtf8(reason);
            const bool valid = !taken || path.endsWith(u"100CANON"_s);
            const QString before = u"cli:settings set %1 {before}"_s.arg(key);
            row("settings set, "_ba + name, before, u"settings set %1 %2"_s.arg(key, path), !taken,
                u"err:%1; get:%2|%3; %4list:%2AliasData\tdata\tstored\t; list:%2IsValid\tbool\tstored\t%5"_s.arg(
                    QString::fromUtf8(reason), key, taken ? path : u"{before}"_s, valid ? u""_s : u"!"_s,
                    valid ? u"true"_s : u"false"_s));
            row("--set, "_ba + name, before, u"--set %1=%2 settings get %1"_s.arg(key, path), !taken,
                said + u"; get:%1|{before}"_s.arg(key));
        }

        // sections
        const char *reassigned5 = "cli:reassign --barcode 5 IMG_0005.JPG IMG_0006.JPG";
        row("sections", reassigned5, "sections {work}", 0,
            "out:0\t?originalFileName?\t4\tIMG_0001.JPG\tIMG_0004.JPG\n; "
            "out:1\t5\t2\t5_IMG_0005.JPG\t5_IMG_0006.JPG\n");
        row("sections --single", reassigned5, "sections --single .", 0, "out:0\tsingleMode\t6\t; !out:1\t");
        row("sections --json", "", "sections --json {work}", 0,
            "out:\"barcodeid\": \"?originalFileName?\"; out:\"folder\": \"{work}\"");
        row("sections --stats", "", "sections --stats {work}", 0, "out:photos 6 decoded 6 reused 0");
        row("sections --stats reuses thumbnails", "cli:sections {work}", "sections --stats {work}", 0,
            "out:decoded 0 reused 6");
        row("sections --no-cache", "cli:sections {work}", "sections --no-cache --stats {work}", 0,
            "out:decoded 6 reused 0");

        // barcode
        row("barcode", "", "barcode 12345_0007.JPG DSC0001.JPG unknown_1.jpg", 0,
            "out:12345_0007.JPG\t12345\tknown\n; out:DSC0001.JPG\t?originalFileName?\tknown\n; "
            "out:unknown_1.jpg\tunknown\tunknown\n");
        row("barcode --", "", "barcode -- -IMG_0001.JPG", 0, "out:-IMG_0001.JPG\t-IMG\tknown\n");
        row("barcode of a name with a dash, without --", "", "barcode -IMG_0001.JPG", 2,
            "err:unknown option -IMG_0001.JPG");

        // thumbs
        const char *dashName = "mv:IMG_0002.JPG|-IMG_0002.JPG";
        row("thumbs, one file missing", "", "thumbs IMG_0002.JPG IMG_0009.JPG", 1,
            "out:IMG_0002.JPG\tembedded\t160x120\n");
        row("thumbs --out", "", "thumbs --out {out} IMG_0002.JPG", 0, "image:{out}/IMG_0002.png|160x120");
        row("thumbs --", dashName, "thumbs -- -IMG_0002.JPG", 0, "out:-IMG_0002.JPG\tembedded\t160x120\n");
        row("thumbs --out without folder", "", "thumbs IMG_0002.JPG --out", 2, "err:needs a value");

        // detect: the barcode photos show EAN-13 cards, the others no code at all
        row("detect --json", "", "detect --json {work}", 0,
            "out:{\"photos\":[{\"codes\"; "
            "out:{\"codes\":[{\"format\":\"EAN-13\",\"text\":\"2000000000015\"}],\"file\":\"{work}/IMG_0001.JPG\"; "
            "out:2000000000022; out:{\"codes\":[],\"file\":\"{work}/IMG_0002.JPG\",\"ms\":");
        row("detect", "", "detect IMG_0002.JPG IMG_0004.JPG", 0,
            "out:IMG_0004.JPG\t2000000000022 (EAN-13)\t; !out:IMG_0002");
        row("detect missing file", "", "detect IMG_0009.JPG IMG_0001.JPG", 1,
            "err:no such file or folder: IMG_0009.JPG; out:IMG_0001.JPG\t2000000000015");
        row("detect without photos", "", "detect --json", 2, "err:usage: lumisort-cli detect");

        // make-card
        row("make-card --seed", "", "make-card {out} --groups 1 --photos 0 --seed 5 --size 64x48", 0,
            "text:{out}/lumisort-card.json|\"seed\": \"5\"; !text:{out}/lumisort-card.json|2000000000015");
        row("make-card --quality", "", "make-card {out} --groups 1 --photos 0 --size 320x240 --quality 5", 0,
            "smaller:{out}/DCIM/100CANON/IMG_0001.JPG|15000");
        for (const auto &[name, args] :
             {std::pair {"make-card without a folder", "--groups 1 --photos 1"},
              {"make-card with two folders", "dir --groups 1 --photos 1 other"},
              {"make-card of zero groups", "dir --groups 0 --photos 1"},
              {"make-card of a size too large", "dir --groups 1 --photos 1 --size 100x20001"},
              {"make-card of a garbled size", "dir --groups 1 --photos 1 --size 100by100"},
              {"make-card missing a value", "dir --groups 1 --photos 1 --seed"},
              {"make-card unknown option", "dir --groups 1 --photos 1 --colour red"}})
            row(name, "", u"make-card "_s + QString::fromUtf8(args), 2, "err:usage:; !file:dir");
        row("make-card on a full disk", "tmpfs:{out}|1m", "make-card {out} --groups 4 --photos 5 --size 640x480", 1,
            "err:could not write; !file:{out}/lumisort-card.json; whole:{out}/DCIM|24");
        row("make-card where a file is", "write:{out}|not a folder", "make-card {out}/card --groups 1 --photos 0", 1,
            "err:could not");
        row("make-card --no-exif-thumbnail",
            "cli:make-card {out} --groups 1 --photos 0 --size 64x48 --no-exif-thumbnail",
            "thumbs {out}/DCIM/100CANON/IMG_0001.JPG", 0,
            "!out:embedded; out:64x48; text:{out}/lumisort-card.json|\"exifThumbnail\": false");
        row("make-card -- -folder", "", "make-card --groups 1 --photos 0 --size 64x48 -- -card", 0,
            "file:-card/DCIM/100CANON/IMG_0001.JPG");

        // reassign
        row("reassign --barcode", "", "reassign --barcode 9 IMG_0002.JPG {work}/IMG_0003.JPG", 0,
            "file:9_IMG_0002.JPG; file:9_IMG_0003.JPG; !file:IMG_0002.JPG; out:IMG_0002.JPG -> 9_IMG_0002.JPG; "
            "!err:ReassignRun");
        // Codes a command would take for options, or that the barcode rule refuses (each kind is in the rule's own
        // test).
        row("reassign --barcode taking a dash", "", "reassign --barcode -5 IMG_0002.JPG", 2,
            "err:cannot begin with \"-\"; file:IMG_0002.JPG");
        row("reassign --barcode taking an option", "", "reassign --barcode --unknown IMG_0002.JPG", 2,
            "err:cannot begin with \"-\"; file:IMG_0002.JPG; !file:UNKNOWN_IMG_0002.JPG");
        row("reassign --unknown", "", "reassign IMG_0002.JPG --unknown", 0, "file:UNKNOWN_IMG_0002.JPG");
        row("reassign --", dashName, "reassign --barcode 9 -- -IMG_0002.JPG", 0,
            "file:9_-IMG_0002.JPG; !file:-IMG_0002.JPG");
        row("reassign a dash name without --", dashName, "reassign --barcode 9 -IMG_0002.JPG", 2, "file:-IMG_0002.JPG");
        const QString tooLong = longName + u" kept: the new name would be 270 bytes long"_s;
        row("reassign a name too long", u"mv:IMG_0002.JPG|"_s + longName,
            u"reassign --barcode %1 %2 IMG_0003.JPG"_s.arg(longBarcode, longName), 1,
            u"file:%1; out:%2; file:%3_IMG_0003.JPG"_s.arg(longName, tooLong, longBarcode));
        row("reassign --barcode refused: parent folder", "", "reassign --barcode ../x IMG_0002.JPG", 2,
            "err:barcode refused: A barcode cannot contain \"/\"; file:IMG_0002.JPG; !file:../x_IMG_0002.JPG");

        // auto
        row("auto", "", u"auto {work}"_s + codes, 0,
            "files:111_IMG_0002.JPG 111_IMG_0003.JPG 444_IMG_0005.JPG 444_IMG_0006.JPG; out:111_IMG_0001.JPG -> trash");
        // Each photo takes the barcode of the barcode photo after it; those after the last keep their names.
        row("auto --reverse", "", u"auto --reverse {work}"_s + codes, 0,
            "files:444_IMG_0002.JPG 444_IMG_0003.JPG IMG_0005.JPG IMG_0006.JPG");
        row("auto --reverse last", "", u"auto {work}"_s + codes + u" --reverse"_s, 0,
            "file:444_IMG_0002.JPG; file:IMG_0006.JPG");
        row("auto --dry-run", "", u"auto --dry-run {work}"_s + codes, 0,
            "out:IMG_0002.JPG -> 111_IMG_0002.JPG\n; out:IMG_0004.JPG -> 444_IMG_0004.JPG (barcode photo; "
            "file:IMG_0001.JPG; file:IMG_0002.JPG");
        row("auto --", "mv:IMG_0004.JPG|-IMG_0004.JPG", "auto -- . -IMG_0004.JPG=444", 0,
            "file:444_IMG_0005.JPG; !file:-IMG_0004.JPG; file:IMG_0002.JPG");
        row("auto refuses a barcode with a slash", "", "auto {work} IMG_0001.JPG=12/34 IMG_0004.JPG=4", 2,
            "err:barcode for IMG_0001.JPG refused; file:IMG_0002.JPG; file:IMG_0005.JPG");
        row("auto --dry-run refuses ..", "", "auto --dry-run {work} IMG_0001.JPG=..", 2,
            "err:\"..\"; !out:IMG_0002.JPG");
        row("auto name too long", u"mv:IMG_0003.JPG|"_s + longName,
            u"auto {work} IMG_0001.JPG=%1 IMG_0004.JPG=4"_s.arg(longBarcode), 1,
            u"out:%1; file:%2; file:%3_IMG_0002.JPG; file:4_IMG_0005.JPG"_s.arg(tooLong, longName, longBarcode));
        row("auto --dry-run name too long", u"mv:IMG_0003.JPG|"_s + longName,
            u"auto --dry-run {work} IMG_0001.JPG="_s + longBarcode, 0,
            u"out:%1 -> %2_%1 (would be kept"_s.arg(longName, longBarcode));
        // auto --detect: the cards shown read 2000000000015 and 2000000000022, 13 characters each
        const QString longerRule = u"--set prefReassignedBarcodeRequiredLength=14 "_s;
        row("auto --detect refuses codes shorter than the rule", "", longerRule + u"auto --detect {work}"_s, 1,
            "err:IMG_0001.JPG: \"2000000000015\" was read: The barcode length rule asks for at least 14 characters; "
            "err:IMG_0004.JPG: \"2000000000022\"; err:set in Preferences, Reassignment; err:nothing renamed; "
            "!out:->; file:IMG_0001.JPG; file:IMG_0002.JPG");
        row("auto --detect refuses a web address read", "qr:IMG_0004.JPG|https://studio.example/order/2000000000022",
            "auto --detect {work}", 1,
            "err:IMG_0004.JPG: \"https://studio.example/order/2000000000022\" was read: A barcode cannot contain "
            "\"/\"; err:nothing renamed; !out:->; file:IMG_0001.JPG; file:IMG_0005.JPG");
        row("auto --detect with the rule off", "",
            longerRule + u"--set prefCheckReassignedBarcodeLength=false auto --detect {work}"_s, 0,
            "file:2000000000015_IMG_0002.JPG; file:2000000000022_IMG_0006.JPG");
        // Reading the codes from the barcode photos plans and renames as typing them does.
        row("auto --detect", "", "auto --detect {work}", 0,
            "files:2000000000015_IMG_0002.JPG 2000000000015_IMG_0003.JPG 2000000000022_IMG_0005.JPG "
            "2000000000022_IMG_0006.JPG; out:2000000000015_IMG_0001.JPG -> trash");
        row("auto --detect --reverse", "", "auto --detect --reverse {work}", 0,
            "files:2000000000022_IMG_0002.JPG 2000000000022_IMG_0003.JPG IMG_0005.JPG IMG_0006.JPG");
        row("auto --detect --dry-run", "", "auto --detect --dry-run {work}", 0,
            "out:IMG_0002.JPG -> 2000000000015_IMG_0002.JPG\n; out:IMG_0004.JPG -> 2000000000022_IMG_0004.JPG (barcode "
            "photo; file:IMG_0001.JPG; file:IMG_0002.JPG");
        row("auto --detect --dry-run --reverse", "", "auto --detect --dry-run --reverse {work}", 0,
            "out:IMG_0002.JPG -> 2000000000022_IMG_0002.JPG\n; !out:IMG_0005.JPG ->; file:IMG_0002.JPG");
        row("auto --detect takes no typed codes", "", "auto --detect {work} IMG_0001.JPG=5", 2,
            "err:give the folder only; file:IMG_0002.JPG");
        row("auto -reverse", "", u"auto -reverse {work}"_s + codes, 2, "file:IMG_0002.JPG");

        // undo, after an automatic run that sent the barcode photo IMG_0001 to the trash
        const char *autoRun = "cli:auto {work} IMG_0001.JPG=222";
        row("undo --dry-run", autoRun, "undo --dry-run {work}", 0,
            "out:trash -> IMG_0001.JPG\n; !file:IMG_0001.JPG; file:222_IMG_0002.JPG");
        row("undo of the working folder by default", autoRun, "--set prefSourcePath={work} undo", 0,
            "out:222_IMG_0002.JPG -> IMG_0002.JPG\n; file:IMG_0001.JPG; file:IMG_0002.JPG; !file:222_IMG_0002.JPG");
        row("undo refused: a photo renamed since",
            "cli:auto {work} IMG_0001.JPG=222; mv:222_IMG_0002.JPG|3_IMG_0002.JPG", "undo {work}", 1,
            "err:222_IMG_0002.JPG was renamed again since (now 3_IMG_0002.JPG); file:3_IMG_0002.JPG; "
            "file:222_IMG_0003.JPG; !file:IMG_0001.JPG");

        // companion, daily-folder, file, import
        const char *filedLater = "cli:reassign --barcode 9 IMG_0002.JPG; mkdir:{out}";
        row("companion takes nothing", "", "companion x", 2, "");
        // A file passed over goes to standard error; the output names the one read.
        const QString map =
            u"<?xml version=\"1.0\"?><map MAP_XML_VERSION=\"1.0\"><entry key=\"savepath\" value=\"%1\"%2></map>"_s;
        row("companion names the file read",
            u"write:{home}/.java/.userPrefs/Mainstay/prefs.xml|%1; write:{java}/Mainstay/prefs.xml|%2"_s.arg(
                map.arg(u"user"_s, QString()), map.arg(u"/srv/Zoë"_s, u"/"_s)),
            "companion", 0,
            "out:from\t{java}/Mainstay/prefs.xml\nsavepath\t/srv/Zoë\nreversescan\tabsent\ndisablescan\tabsent\n; "
            "err:passed over {home}/.java/.userPrefs/Mainstay/prefs.xml: line ");
        row("daily-folder", "", "daily-folder", 0, "out:daily folder name\t");
        row("file SRC DEST", filedLater, "file {work} {out}", 0, "!file:9_IMG_0002.JPG; file:IMG_0003.JPG");
        row("file -- SRC DEST", filedLater, "file -- {work} {out}", 0, "!file:9_IMG_0002.JPG");
        row("file takes no options", "", "file --reverse", 2, "err:unknown option --reverse");
        row("import --threads= --", "mkdir:{out}", "--set prefSourcePath={out} import --threads=2 -- {card}", 0,
            "file:{out}/IMG_0006.JPG");
        row("import takes one card", "mkdir:{out}", "import {card} {card}", 2, "err:bad arguments for import");

        // roster: the card's IMG_0002 is filed under A1; B2 has no photo, and 9Z is on no roster.
        const char *roster = "mv:IMG_0002.JPG|A1_IMG_0002.JPG; mv:IMG_0003.JPG|9Z_IMG_0003.JPG; "
                             "write:{work}/roster.csv|Id,Name\nA1,Ann\nB2,Bo\n";
        row("roster", roster, "roster roster.csv .", 0,
            "out:B2; out:No photos; !out:Ann; out:2 subjects: 1 with photos, 1 without; out:1 code not on the roster");
        row("roster --json of the working folder and today's", roster,
            "--set prefSourcePath={work} roster --json --minimum 2 roster.csv", 0,
            "json:missing|1; json:short|1; out:\"Working folder\"; out:\"9Z\"");
        row("roster without an id column", "write:{work}/roster.csv|Name,Class\nAnn,3\n", "roster roster.csv", 1,
            "err:Pass --id-column");
    }

    void options()
    {
        QFETCH(QStringList, prepare);
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(QStringList, expect);
        m_rowMount.reset();
        m_work = TestSandbox::instance().makeFolder(u"work"_s);
        m_out = TestSandbox::instance().makeFolder(u"out"_s);
        QVERIFY(QDir(m_out).removeRecursively()); // made by the verb that writes it
        QCOMPARE(m_card.copyAsShot(m_work).size(), 6);
        if ((prepare + args + expect).join(u' ').contains(QRegularExpression(u"\\{(camera|disk|link)}"_s))) {
            SKIP_UNLESS_MOUNTED(*m_camera);
            SKIP_UNLESS_MOUNTED(*m_disk);
        }
        for (const QString &step : prepare) {
            const QString what = expand(step.section(u':', 1)), from = m_work + u'/' + what.section(u'|', 0, 0);
            if (step.startsWith(u"mv:"_s)) {
                const QString to = m_work + u'/' + what.section(u'|', 1);
                QCOMPARE(::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()), 0);
            } else if (step.startsWith(u"qr:"_s)) {
                QVERIFY(qrPhoto(what.section(u'|', 1)).save(from, "JPEG", 95));
            } else if (step.startsWith(u"tmpfs:"_s)) {
                QVERIFY(QDir().mkpath(what.section(u'|', 0, 0)));
                m_rowMount.emplace(ScopedMount::tmpfs(what.section(u'|', 0, 0), what.section(u'|', 1)));
                SKIP_UNLESS_MOUNTED(*m_rowMount);
            } else if (step.startsWith(u"write:"_s)) {
                QVERIFY(writeFile(what.section(u'|', 0, 0), what.section(u'|', 1).toUtf8()));
            } else if (step.startsWith(u"mkdir:"_s)) {
                QVERIFY(QDir().mkpath(what));
            } else {
                QCOMPARE(cli(what.split(u' ')).status, 0);
            }
        }
        for (QString &arg : args)
            arg = expand(arg);
        const CliRun run = cli(args);
        QVERIFY2(run.status == status, qPrintable(u"status "_s + QString::number(run.status) + u"\nerr: "_s + run.err));
        for (const QString &expectation : std::as_const(expect))
            check(expectation, run);
    }

    // Names arrive as bytes: one that is not UTF-8 must reach the file it names.
    void namesThatAreNotUtf8_data()
    {
        QTest::addColumn<QString>("command"); // for sh, NAME standing for the photo's name in printf form
        QTest::addColumn<QByteArray>("renamed");
        QTest::newRow("reassign") << u"\"$CLI\" reassign --barcode 9 -- \"$NAME\""_s
                                  << QByteArray("9_IMG_\xff\xfe.JPG");
        // The barcode photo named by bytes is found: the photos after it take its barcode.
        QTest::newRow("auto") << u"\"$CLI\" auto . \"$NAME=9\" IMG_0004.JPG=4"_s << QByteArray("9_IMG_0002.JPG");
    }

    void namesThatAreNotUtf8()
    {
        QFETCH(QString, command);
        QFETCH(QByteArray, renamed);
        m_work = TestSandbox::instance().makeFolder(u"bytes"_s);
        QCOMPARE(m_card.copyAsShot(m_work).size(), 6);
        const auto at = [this](const QByteArray &name) { return QByteArray(QFile::encodeName(m_work) + '/' + name); };
        QCOMPARE(::rename(at("IMG_0001.JPG").constData(), at("IMG_\xff\xfe.JPG").constData()), 0);
        QProcess sh;
        sh.setWorkingDirectory(m_work);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"CLI"_s, TestSandbox::cliPath());
        sh.setProcessEnvironment(env);
        sh.start(u"/bin/sh"_s, {u"-c"_s, u"NAME=$(printf 'IMG_\\377\\376.JPG'); "_s + command});
        QVERIFY(sh.waitForFinished(60000));
        const QByteArray err = sh.readAllStandardError();
        QVERIFY2(sh.exitCode() == 0, err.constData());
        struct stat st = {};
        QVERIFY2(::lstat(at(renamed).constData(), &st) == 0, QByteArray(sh.readAllStandardOutput() + err).constData());
        QVERIFY(::lstat(at("IMG_\xff\xfe.JPG").constData(), &st) != 0);
        // QDir cannot see such names, so the sandbox could not remove them.
        QCOMPARE(QProcess::execute(u"rm"_s, {u"-rf"_s, m_work, TestSandbox::instance().dataHome() + u"/Trash"_s}), 0);
    }

private:
    // Table text written either way: a plain literal or a string made from parts.
    static QString text(const char *text) { return QString::fromUtf8(text); }
    static QString text(const QString &text) { return text; }
    CliRun cli(const QStringList &args) const { return runCli(args, m_work); }
    static QString settingsFile()
    {
        return TestSandbox::instance().configHome() + u"/Lumisort/org.lumisort.Lumisort.plist"_s;
    }
    QString expand(QString text) const
    {
        TestSandbox &sandbox = TestSandbox::instance();
        text.replace(u"{work}"_s, m_work).replace(u"{out}"_s, m_out).replace(u"{card}"_s, m_card.folder);
        text.replace(u"{settings}"_s, settingsFile()).replace(u"{before}"_s, m_before);
        text.replace(u"{java}"_s, sandbox.root() + u"/java"_s)
            .replace(u"{data}"_s, sandbox.dataHome())
            .replace(u"{home}"_s, sandbox.home());
        text.replace(u"{link}"_s, sandbox.root() + u"/link"_s).replace(u"{disk}"_s, m_disk->folder());
        return text.replace(u"{camera}"_s, m_camera->folder());
    }
    // A photo of a QR code holding the text.
    static QImage qrPhoto(const QString &text)
    {
        const ZXing::BitMatrix modules =
            ZXing::MultiFormatWriter(ZXing::BarcodeFormat::QRCode).encode(text.toStdString(), 0, 0);
        QImage photo(1200, 900, QImage::Format_RGB32);
        photo.fill(Qt::white);
        QPainter painter(&photo);
        for (int y = 0; y < modules.height(); ++y)
            for (int x = 0; x < modules.width(); ++x)
                if (modules.get(x, y))
                    painter.fillRect(400 + x * 10, 200 + y * 10, 10, 10, Qt::black);
        painter.end();
        return photo;
    }

    void check(const QString &expectation, const CliRun &run) const
    {
        const bool negated = expectation.startsWith(u'!');
        const QString e = expand(negated ? expectation.mid(1) : expectation);
        const QString kind = e.section(u':', 0, 0), what = e.section(u':', 1), value = what.section(u'|', 1);
        QString path = what.section(u'|', 0, 0);
        path = path.startsWith(u'/') ? path : m_work + u'/' + path;
        bool holds = false;
        struct stat st = {};
        if (kind == u"out"_s)
            holds = run.out.contains(what);
        else if (kind == u"err"_s)
            holds = run.err.contains(what);
        else if (kind == u"json"_s) // standard output is one JSON object holding this number
            holds = QJsonDocument::fromJson(run.out.toUtf8()).object().value(what.section(u'|', 0, 0))
                == QJsonValue(value.toInt());
        else if (kind == u"file"_s)
            holds = ::lstat(QFile::encodeName(path).constData(), &st) == 0;
        else if (kind == u"files"_s) // all the working folder holds, in name order
            holds = QDir(m_work).entryList(QDir::Files, QDir::Name).join(u' ') == what;
        else if (kind == u"text"_s)
            holds = QString::fromUtf8(readFile(path)).contains(value);
        else if (kind == u"image"_s)
            holds =
                QImageReader(path).size() == QSize(value.section(u'x', 0, 0).toInt(), value.section(u'x', 1).toInt());
        else if (kind == u"smaller"_s)
            holds = QFileInfo(path).size() > 0 && QFileInfo(path).size() < value.toLongLong();
        else if (kind == u"get"_s)
            holds = cli({u"settings"_s, u"get"_s, what.section(u'|', 0, 0)}).out.trimmed() == value;
        else if (kind == u"list"_s)
            holds = cli({u"settings"_s, u"list"_s}).out.contains(what);
        else if (kind == u"whole"_s) { // some photos, fewer than N, and every one left whole
            const QStringList photos = filesWithContents(path);
            holds = !photos.isEmpty() && photos.size() < value.toInt()
                && std::all_of(photos.cbegin(), photos.cend(), [&](const QString &photo) {
                       const QString name = photo.section(u'=', 0, 0);
                       return name.endsWith(u".JPG"_s) && readFile(path + u'/' + name).endsWith("\xff\xd9");
                   });
        } else if (kind == u"aside"_s) { // named in the one line of the run, in the log, and by no later run
            const QFileInfo settings(settingsFile());
            const QFileInfoList aside = settings.dir().entryInfoList({settings.fileName() + u".damaged-*"_s});
            const QString kept = aside.value(0).absoluteFilePath();
            const QByteArray log = readFile(TestSandbox::instance().home() + u"/.local/state/Lumisort/Lumisort.log"_s);
            holds = aside.size() == 1 && aside.first().size() == what.toLongLong() && run.err.count(u'\n') == 1
                && run.err.contains(kept + u"; the factory"_s) && log.contains("lumisort-cli[")
                && log.contains(kept.toUtf8())
                && cli({u"settings"_s, u"get"_s, u"prefCameraCardFolderNames"_s}).err.isEmpty();
            QFile::remove(kept);
        } else
            QFAIL(qPrintable(u"unknown expectation "_s + expectation));
        QVERIFY2(holds != negated,
                 qPrintable(expectation + u"\nstatus "_s + QString::number(run.status) + u"\nout: "_s + run.out
                            + u"\nerr: "_s + run.err + u"\nworking folder: "_s
                            + QDir(m_work).entryList(QDir::Files).join(u' ')));
    }

    DemoCard m_card;
    std::optional<ScopedMount> m_camera, m_disk, m_rowMount;
    QString m_work;
    QString m_before;
    QString m_out;
};

LUMISORT_CORE_TEST_MAIN(TestCommandLine)
#include "tst_commandline.moc"
