#pragma once

#include <QString>
#include <QTemporaryDir>
#include <functional>

// Every test process runs inside its own temporary folder: HOME, the XDG
// folders and TMPDIR point into it before any Qt object exists, so no test
// ever reads or writes the real home folder.
class TestSandbox
{
public:
    // Called by the test main before the application object is made.
    static void setUpProcess();
    static TestSandbox &instance();

    QString root() const { return m_dir.path(); }
    QString home() const { return root() + QStringLiteral("/home"); }
    QString configHome() const { return home() + QStringLiteral("/.config"); }
    QString dataHome() const { return home() + QStringLiteral("/.local/share"); }
    // A fresh, empty folder under the sandbox ("name-1", "name-2" ... on reuse).
    QString makeFolder(const QString &name);

    // The shared real camera photos; empty with a message when missing.
    static QString testDataDir();
    static QString testDataFile(const QString &relativePath);
    // The command-line tool built beside the tests.
    static QString cliPath();

    ~TestSandbox();

private:
    TestSandbox();
    QTemporaryDir m_dir;
    int m_counter = 0;
};

// Waits (processing events) until the predicate holds or the time is up.
bool waitUntil(const std::function<bool()> &predicate, int timeoutMs = 5000);

// A finished run of the command-line tool; status -1 when it crashed or did not end in time.
struct CliRun
{
    int status = -1;
    QString out;
    QString err;
};
// Runs the command-line tool (in workingFolder when given) and waits for it to end.
CliRun runCli(const QStringList &args, const QString &workingFolder = QString(), int timeoutMs = 120000);

// Writes a file with the given bytes, creating parent folders.
bool writeFile(const QString &path, const QByteArray &bytes);
QByteArray readFile(const QString &path);
// Every file below the folder, hidden ones too, as sorted "relative/path=contents" lines.
QStringList filesWithContents(const QString &folder);
