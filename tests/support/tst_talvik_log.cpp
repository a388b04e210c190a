#include "TestMain.h"
#include "support/SystemLog.h"
#include "support/TALVIK_Log.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {
const QString cStampPattern = u"\\[\\d{4}/\\d{2}/\\d{2} \\d{2}:\\d{2}:\\d{2}\\.\\d{3} [+-]\\d{4}\\]"_s;

// `size` bytes of lines `lineLength` bytes long; the last line may be cut short.
QByteArray lineBytes(qsizetype size, qsizetype lineLength)
{
    const QByteArray line = QByteArray(lineLength - 1, 'o') + '\n';
    QByteArray bytes;
    while (bytes.size() < size)
        bytes += line;
    bytes.truncate(size);
    return bytes;
}

int fileMode(const QString &path)
{
    struct stat info = {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 0777) : -1;
}

} // namespace

class TestTALVIK_Log : public QObject
{
    Q_OBJECT

    int m_savedStdErr = -1;

    // Points fd 2 at a file of its own so that standard-error lines can be read back.
    static QString captureStdErr()
    {
        const QString path = TestSandbox::instance().makeFolder(u"stderr"_s) + u"/stderr.txt"_s;
        const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        ::dup2(fd, STDERR_FILENO);
        ::close(fd);
        return path;
    }

private Q_SLOTS:
    // Without a restrictive umask a forgotten chmod would go unnoticed.
    void initTestCase() { ::umask(022); }

    void init()
    {
        m_savedStdErr = ::dup(STDERR_FILENO);
        TALVIK_Log::resetForTesting();
    }

    void cleanup()
    {
        ::dup2(m_savedStdErr, STDERR_FILENO);
        ::close(m_savedStdErr);
    }

    void rollsAtTheLimit_data()
    {
        QTest::addColumn<qsizetype>("size");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("oldName"); // empty: not rolled
        QTest::newRow("one byte short") << qsizetype(TALVIK_Log::cRollSize - 1) << u"Lumisort.log"_s << QString();
        QTest::newRow("at the limit") << qsizetype(TALVIK_Log::cRollSize) << u"Lumisort.log"_s << u"Lumisort_old.log"_s;
        QTest::newRow("without an extension") << qsizetype(TALVIK_Log::cRollSize) << u"app"_s << u"app_old.log"_s;
    }

    void rollsAtTheLimit()
    {
        QFETCH(qsizetype, size);
        QFETCH(QString, name);
        QFETCH(QString, oldName);
        const QString folder = TestSandbox::instance().makeFolder(u"roll"_s), path = folder + u'/' + name;
        const QByteArray original = lineBytes(size, 100);
        QVERIFY(writeFile(path, original) && TALVIK_Log::setLogFile(path));
        SystemLog::write(u"after opening"_s);

        const QByteArray current = readFile(path);
        QVERIFY(current.endsWith(" after opening\n"));
        QVERIFY(oldName.isEmpty() ? current.startsWith(original) : current.size() < 200);
        if (oldName.isEmpty()) {
            QVERIFY(!QFileInfo::exists(folder + u"/Lumisort_old.log"_s));
        } else {
            QCOMPARE(readFile(folder + u'/' + oldName), original);
            QCOMPARE(std::pair(fileMode(path), fileMode(folder + u'/' + oldName)), std::pair(0664, 0664));
        }
        QCOMPARE(TALVIK_Log::oldLogFilePath(u"/a/b.c/my.app.txt"_s), u"/a/b.c/my.app_old.txt"_s);
    }

    void oldFileKeepsNewestWholeLines_data()
    {
        QTest::addColumn<qsizetype>("lineLength");
        QTest::addColumn<qsizetype>("keptSize");
        // The cut searches from one byte before the limit: a line break there keeps exactly the limit.
        QTest::newRow("line break right before the cut") << qsizetype(TALVIK_Log::cRollSize) << qsizetype(10485760);
        QTest::newRow("short lines") << qsizetype(100) << qsizetype(10485736);
    }

    void oldFileKeepsNewestWholeLines()
    {
        QFETCH(qsizetype, lineLength);
        QFETCH(qsizetype, keptSize);
        const QString folder = TestSandbox::instance().makeFolder(u"trim"_s);
        const QString path = folder + u"/Lumisort.log"_s;
        const QByteArray older = lineBytes(TALVIK_Log::cOldFileLimit, lineLength);
        const QByteArray newer(TALVIK_Log::cRollSize, 'n');
        QVERIFY(writeFile(folder + u"/Lumisort_old.log"_s, older));
        QVERIFY(writeFile(path, newer));

        TALVIK_Log::rollLogFileIfNecessary(path);

        const QByteArray kept = readFile(folder + u"/Lumisort_old.log"_s);
        QCOMPARE(kept.size(), keptSize);
        QVERIFY(kept == QByteArray(older + newer).right(keptSize));
        QCOMPARE(readFile(path).size(), 0);
    }

    void standardErrorLandsInFile()
    {
        const QString folder = TestSandbox::instance().makeFolder(u"stderr-file"_s), path = folder + u"/Lumisort.log"_s;
        QVERIFY(!TALVIK_Log::setLogFile(folder + u"/absent/Lumisort.log"_s));
        QVERIFY(!QFileInfo::exists(folder + u"/absent"_s));
        // The failure must not leave the facility thinking a file is open.
        QVERIFY(TALVIK_Log::setLogFile(path));

        QCOMPARE(::write(STDERR_FILENO, "raw bytes\n", 10), ssize_t(10));
        SystemLog::write(u"through the system log"_s);

        const QByteArray text = readFile(path);
        QVERIFY(text.startsWith("raw bytes\n"));
        QVERIFY(text.endsWith(" through the system log\n"));

        // Control characters a name or a setting may carry never reach the file as they are.
        SystemLog::write(u"name \x1b[2J with NUL "_s + QChar(0) + u" and CR \r, kept:\ttab\nnext"_s);
        const QByteArray last = readFile(path).mid(text.size());
        QVERIFY2(!last.contains('\0') && !last.contains('\x1b') && !last.contains('\r'), last.constData());
        QVERIFY(last.endsWith(" name \\x1b[2J with NUL \\x00 and CR \\x0d, kept:\ttab\nnext\n"));
    }

    void secondLogFileOnlyRolls()
    {
        const QString folder = TestSandbox::instance().makeFolder(u"second"_s);
        const QString first = folder + u"/first.log"_s, second = folder + u"/second.log"_s;
        const QByteArray original(TALVIK_Log::cRollSize, 's');
        QVERIFY(writeFile(second, original) && TALVIK_Log::setLogFile(first));

        const QString viaHome = u"~/"_s + QDir(QDir::homePath()).relativeFilePath(second);
        QVERIFY(viaHome.contains(u"/../"_s));
        QVERIFY(!TALVIK_Log::setLogFile(viaHome));
        SystemLog::write(u"still the first file"_s);

        QCOMPARE(TALVIK_Log::logFilePath(), second);
        QVERIFY(readFile(folder + u"/second_old.log"_s) == original);
        QCOMPARE(readFile(second).size(), 0);
        QVERIFY(readFile(first).contains(
            QByteArray(" Rolled previous log file into " + QFile::encodeName(folder) + "/second_old.log\n")));
        QVERIFY(readFile(first).endsWith(" still the first file\n"));
    }

    void lineFormat_data()
    {
        QTest::addColumn<int>("level");
        QTest::addColumn<bool>("withAppName");
        QTest::addColumn<QString>("letter");
        QTest::addColumn<QString>("stdErrLine");
        QTest::newRow("info") << 0 << false << u"I"_s << u"INFO: msg\n"_s;
        QTest::newRow("debug2, app name") << 2 << true << u"D2"_s << u"DEBUG2: Cam: msg\n"_s;
        QTest::newRow("warning, app name") << 4 << true << u"W"_s << u"WARN: msg\n"_s;
        QTest::newRow("error") << 3 << false << u"E"_s << u"ERROR: msg\n"_s;
        QTest::newRow("unknown level") << 9 << false << u"D"_s << u"DEBUG: Cam: msg\n"_s;
    }

    void lineFormat()
    {
        QFETCH(int, level);
        QFETCH(bool, withAppName);
        QFETCH(QString, letter);
        QFETCH(QString, stdErrLine);
        const QString stdErrPath = captureStdErr();
        const QString path = TestSandbox::instance().makeFolder(u"format"_s) + u"/Lumisort.log"_s;
        TALVIK_Log::setApplicationName(u"Cam"_s);
        TALVIK_Log::setShouldLogAppName(withAppName);
        TALVIK_Log::setShouldLogToStdErr(true);
        QVERIFY(TALVIK_Log::setLogFile(path));

        TALVIK_Log::logLevel(level, u"msg"_s);

        QCOMPARE(QString::fromUtf8(readFile(stdErrPath)), stdErrLine);
        const QString text = QString::fromUtf8(readFile(path));
        const QRegularExpression expected(QRegularExpression::anchoredPattern(
            letter + u' ' + cStampPattern + (withAppName ? u" Cam:"_s : QString()) + u" msg\n"_s));
        QVERIFY2(expected.match(text).hasMatch(), qPrintable(text));
    }

    void dateStamp_data()
    {
        QTest::addColumn<QDateTime>("moment");
        QTest::addColumn<QString>("prefix");
        QTest::newRow("week-based year ahead")
            << QDateTime(QDate(2018, 12, 31), QTime(10, 11, 12, 345)) << u"[2019/12/31 10:11:12.345 "_s;
        QTest::newRow("saturday before") << QDateTime(QDate(2018, 12, 29), QTime(23, 59, 59, 999))
                                         << u"[2018/12/29 23:59:59.999 "_s;
        QTest::newRow("midsummer") << QDateTime(QDate(2018, 7, 25), QTime(0, 0, 0, 7))
                                   << u"[2018/07/25 00:00:00.007 "_s;
    }

    void dateStamp()
    {
        QFETCH(QDateTime, moment);
        QFETCH(QString, prefix);
        const QString stamp = TALVIK_Log::logDateString(moment);
        QVERIFY2(stamp.startsWith(prefix), qPrintable(stamp));

        const int offset = moment.offsetFromUtc();
        const QString zone = (offset < 0 ? u'-' : u'+') + QTime(0, 0).addSecs(qAbs(offset)).toString(u"HHmm"_s);
        QVERIFY2(stamp.endsWith(u' ' + zone + u']'), qPrintable(stamp));
        const QRegularExpression shape(QRegularExpression::anchoredPattern(cStampPattern));
        QVERIFY(shape.match(TALVIK_Log::logDateString()).hasMatch());
    }

    void pendingBuffer_data()
    {
        QTest::addColumn<bool>("toStdErr");
        QTest::newRow("logging to standard error") << true;
        QTest::newRow("defaults") << false;
    }

    void pendingBuffer()
    {
        QFETCH(bool, toStdErr);
        const QString stdErrPath = captureStdErr();
        const QString path = TestSandbox::instance().makeFolder(u"pending"_s) + u"/Lumisort.log"_s;
        TALVIK_Log::setShouldLogToStdErr(toStdErr);

        TALVIK_Log::logLevel(0, u"early"_s);
        QVERIFY(TALVIK_Log::setLogFile(path));
        TALVIK_Log::logLevel(0, u"late"_s);

        const QStringList lines = QString::fromUtf8(readFile(path)).split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), toStdErr ? 2 : 1);
        QVERIFY2(lines.first().endsWith(toStdErr ? u"] early"_s : u"] late"_s), qPrintable(lines.first()));
        QCOMPARE(readFile(stdErrPath).contains("INFO: early\n"), toStdErr);
    }
};

LUMISORT_CORE_TEST_MAIN(TestTALVIK_Log)
#include "tst_talvik_log.moc"
