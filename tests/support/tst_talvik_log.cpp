#include "TestMain.h"
#include "support/SystemLog.h"
#include "support/TALVIK_Log.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {
const QString cStampPattern = u"\\[\\d{4}/\\d{2}/\\d{2} \\d{2}:\\d{2}:\\d{2}\\.\\d{3} [+-]\\d{4}\\]"_s;

// `size` bytes of lines `lineLength` bytes long; the last line may be cut short.
QByteArray lineBytes(qsizetype size, qsizetype lineLength)
{
    const QByteArray line = QByteArray(lineLength - 1, 'o') + '\n';
    return line.repeated(size / lineLength + 1).left(size);
}

int fileMode(const QString &path)
{
    struct stat info = {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 0777) : -1;
}

} // namespace

// Every test starts without a log file, in a folder of its own, with standard error
// given back afterwards.
class TestTALVIK_Log : public QObject
{
    Q_OBJECT

    int m_savedStdErr = -1;
    QString m_folder;

private Q_SLOTS:
    // Without a restrictive umask a forgotten chmod would go unnoticed.
    void initTestCase() { ::umask(022); }

    void init()
    {
        m_savedStdErr = ::dup(STDERR_FILENO);
        TALVIK_Log::resetForTesting();
        m_folder = TestSandbox::instance().makeFolder(u"log"_s);
    }

    void cleanup()
    {
        ::dup2(m_savedStdErr, STDERR_FILENO);
        ::close(m_savedStdErr);
    }

    // Opening a log file that reached the limit rolls it into the old file, which keeps
    // only the newest whole lines up to its own limit.
    void rolls_data()
    {
        QTest::addColumn<qsizetype>("size");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("oldName"); // empty: not rolled
        QTest::addColumn<qsizetype>("oldLineLength"); // 0: no old file yet
        QTest::addColumn<qsizetype>("keptSize");
        const qsizetype limit = TALVIK_Log::cRollSize;
        const QString log = u"Lumisort.log"_s, old = u"Lumisort_old.log"_s;
        QTest::newRow("one byte short") << limit - 1 << log << QString() << qsizetype(0) << qsizetype(0);
        QTest::newRow("at the limit") << limit << log << old << qsizetype(0) << limit;
        QTest::newRow("without an extension") << limit << u"app"_s << u"app_old.log"_s << qsizetype(0) << limit;
        QTest::newRow("dots in folder and name")
            << limit << u"b.c/my.app.txt"_s << u"b.c/my.app_old.txt"_s << qsizetype(0) << limit;
        // The cut searches from one byte before the limit: a line break there keeps exactly the limit.
        QTest::newRow("old file full, line break right before the cut")
            << limit << log << old << limit << qsizetype(10485760);
        QTest::newRow("old file full, short lines") << limit << log << old << qsizetype(100) << qsizetype(10485736);
    }
    void rolls()
    {
        QFETCH(qsizetype, size);
        QFETCH(QString, name);
        QFETCH(QString, oldName);
        QFETCH(qsizetype, oldLineLength);
        QFETCH(qsizetype, keptSize);
        const QString path = m_folder + u'/' + name, oldPath = m_folder + u'/' + oldName;
        const QByteArray older = oldLineLength ? lineBytes(TALVIK_Log::cOldFileLimit, oldLineLength) : QByteArray();
        const QByteArray original = lineBytes(size, 100);
        QVERIFY(writeFile(path, original) && (older.isEmpty() || writeFile(oldPath, older)));
        QVERIFY(TALVIK_Log::setLogFile(path));
        SystemLog::write(u"after opening"_s);

        const QByteArray current = readFile(path);
        QVERIFY(current.endsWith(" after opening\n"));
        if (oldName.isEmpty()) {
            QVERIFY(current.startsWith(original));
            QCOMPARE(QDir(m_folder).entryList(QDir::Files), QStringList {name});
            return;
        }
        QVERIFY(current.size() < 300);
        QVERIFY(readFile(oldPath) == QByteArray(older + original).right(keptSize));
        QCOMPARE(std::pair(fileMode(path), fileMode(oldPath)), std::pair(0664, 0664));
    }

    // Once a log file is open, standard error and the system log land in it as text; a path
    // refused as a log file (a missing folder, a second file) is still rolled, and the open
    // log says so in its own line format.
    void standardErrorLandsInFile()
    {
        const QString path = m_folder + u"/Lumisort.log"_s, second = m_folder + u"/second.log"_s;
        QVERIFY(!TALVIK_Log::setLogFile(m_folder + u"/absent/Lumisort.log"_s));
        QVERIFY(!QFileInfo::exists(m_folder + u"/absent"_s));
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

        const QByteArray original(TALVIK_Log::cRollSize, 's');
        QVERIFY(writeFile(second, original));
        const QString viaHome = u"~/"_s + QDir(QDir::homePath()).relativeFilePath(second);
        QVERIFY(viaHome.contains(u"/../"_s));
        QVERIFY(!TALVIK_Log::setLogFile(viaHome));
        SystemLog::write(u"still the first file"_s);
        QCOMPARE(TALVIK_Log::logFilePath(), second);
        QVERIFY(readFile(m_folder + u"/second_old.log"_s) == original);
        QCOMPARE(readFile(second).size(), 0);
        const QString log = QString::fromUtf8(readFile(path));
        const QRegularExpression rolled(u"^D "_s + cStampPattern + u" Rolled previous log file into "_s
                                            + QRegularExpression::escape(m_folder) + u"/second_old.log$"_s,
                                        QRegularExpression::MultilineOption);
        QVERIFY2(rolled.match(log).hasMatch(), qPrintable(log));
        QVERIFY(log.endsWith(u" still the first file\n"_s));
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
        const int offset = moment.offsetFromUtc();
        const QString zone = (offset < 0 ? u'-' : u'+') + QTime(0, 0).addSecs(qAbs(offset)).toString(u"HHmm"_s);
        QCOMPARE(stamp, prefix + zone + u']');
    }
};

LUMISORT_CORE_TEST_MAIN(TestTALVIK_Log)
#include "tst_talvik_log.moc"
