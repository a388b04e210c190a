#include "TestSandbox.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTest>
#include <algorithm>
#include <cstdio>

using namespace Qt::StringLiterals;

TestSandbox::TestSandbox()
    : m_dir(QDir::tempPath() + u"/lumisort-test-XXXXXX"_s)
{
    if (!m_dir.isValid()) {
        std::fprintf(stderr, "cannot create the test sandbox folder\n");
        std::abort();
    }
    const QString r = m_dir.path();
    for (const auto &[variable, sub] : {std::pair {"HOME", "home"},
                                        {"XDG_CONFIG_HOME", "home/.config"},
                                        {"XDG_DATA_HOME", "home/.local/share"},
                                        {"XDG_CACHE_HOME", "home/.cache"},
                                        {"XDG_STATE_HOME", "home/.local/state"},
                                        {"XDG_RUNTIME_DIR", "runtime"},
                                        {"TMPDIR", "tmp"},
                                        {"", "work"}}) {
        const QString path = r + u'/' + QString::fromLatin1(sub);
        QDir().mkpath(path);
        if (*variable)
            qputenv(variable, QFile::encodeName(path));
    }
    QFile::setPermissions(r + u"/runtime"_s, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qunsetenv("XDG_CONFIG_DIRS");
    qunsetenv("XDG_DATA_DIRS");
}

TestSandbox::~TestSandbox()
{
    // Whatever a test left mounted below the sandbox goes first, deepest first: the
    // mount table lists a mount after the one it sits on.
    QFile mountinfo(u"/proc/self/mountinfo"_s);
    const QString prefix = QFileInfo(root()).canonicalFilePath() + u'/';
    QList<QByteArray> lines =
        mountinfo.open(QIODevice::ReadOnly) ? mountinfo.readAll().split('\n') : QList<QByteArray>();
    std::reverse(lines.begin(), lines.end());
    for (const QByteArray &line : lines) {
        const QString point = QString::fromUtf8(line.split(' ').value(4).replace("\\040", " "));
        if (prefix.size() > 1 && point.startsWith(prefix))
            QProcess::execute(u"umount"_s, {u"-l"_s, point});
    }
    // Qt's recursive removal passes over names that are no valid UTF-8, which
    // tests make on purpose; rm removes every name, and stays on this file system.
    QProcess::execute(u"rm"_s, {u"-rf"_s, u"--one-file-system"_s, u"--"_s, m_dir.path()});
}

void TestSandbox::setUpProcess()
{
    instance();
}

TestSandbox &TestSandbox::instance()
{
    static TestSandbox sandbox; // removed at exit
    return sandbox;
}

QString TestSandbox::makeFolder(const QString &name)
{
    const QString path = root() + u"/work/"_s + name + u'-' + QString::number(++m_counter);
    QDir().mkpath(path);
    return path;
}

QString TestSandbox::testDataDir()
{
    const QString dir = qEnvironmentVariable("LUMISORT_TESTDATA_DIR", QStringLiteral(LUMISORT_DEFAULT_TESTDATA_DIR));
    if (!QFileInfo(dir).isDir()) {
        std::fprintf(stderr, "test photos not found at %s (set LUMISORT_TESTDATA_DIR)\n", qPrintable(dir));
        return {};
    }
    return QFileInfo(dir).canonicalFilePath();
}

QString TestSandbox::testDataFile(const QString &relativePath)
{
    const QString dir = testDataDir();
    return dir.isEmpty() ? QString() : dir + u'/' + relativePath;
}

QString TestSandbox::cliPath()
{
    return qEnvironmentVariable("LUMISORT_CLI");
}

bool waitUntil(const std::function<bool()> &predicate, int timeoutMs)
{
    return QTest::qWaitFor(predicate, timeoutMs);
}

QStringList filesWithContents(const QString &folder)
{
    QStringList found;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        found << QDir(folder).relativeFilePath(path) + u'=' + QString::fromUtf8(readFile(path));
    }
    found.sort();
    return found;
}

CliRun runCli(const QStringList &args, const QString &workingFolder, int timeoutMs)
{
    QProcess p;
    if (!workingFolder.isEmpty())
        p.setWorkingDirectory(workingFolder);
    p.start(TestSandbox::cliPath(), args);
    const bool ended = p.waitForFinished(timeoutMs);
    return {ended && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
