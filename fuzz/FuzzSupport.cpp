#include "FuzzSupport.h"

#include "support/SystemLog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <memory>

using namespace Qt::StringLiterals;

namespace {
std::unique_ptr<QTemporaryDir> g_sandbox;

void setEnv(const char *name, const QString &value)
{
    qputenv(name, QFile::encodeName(value));
}

void setUp()
{
    g_sandbox = std::make_unique<QTemporaryDir>(QDir::tempPath() + u"/lumisort-fuzz-XXXXXX"_s);
    if (!g_sandbox->isValid()) {
        std::fprintf(stderr, "cannot create the fuzzing sandbox folder\n");
        std::abort();
    }
    const QString root = g_sandbox->path();
    for (const char *sub : {"home/.config", "home/.local/share", "home/.local/state", "home/.cache", "runtime", "tmp"})
        QDir().mkpath(root + u'/' + QString::fromLatin1(sub));
    QFile::setPermissions(root + u"/runtime"_s,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    setEnv("HOME", root + u"/home"_s);
    setEnv("XDG_CONFIG_HOME", root + u"/home/.config"_s);
    setEnv("XDG_DATA_HOME", root + u"/home/.local/share"_s);
    setEnv("XDG_STATE_HOME", root + u"/home/.local/state"_s);
    setEnv("XDG_CACHE_HOME", root + u"/home/.cache"_s);
    setEnv("XDG_RUNTIME_DIR", root + u"/runtime"_s);
    setEnv("TMPDIR", root + u"/tmp"_s);
    qunsetenv("XDG_CONFIG_DIRS");
    qunsetenv("XDG_DATA_DIRS");

    static int argc = 1;
    static char name[] = "lumisort-fuzz";
    static char *argv[] = {name, nullptr};
    new QCoreApplication(argc, argv); // lives as long as the process
    // A line per rejected input would cost more than the parsing itself.
    SystemLog::setEnabled(false);
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    setUp();
    return 0;
}

namespace FuzzSupport {

QString sandbox()
{
    return g_sandbox->path();
}

QString writeScratchFile(const QString &relativePath, const QByteArray &bytes)
{
    const QString path = sandbox() + u'/' + relativePath;
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "cannot write the scratch file %s\n", qPrintable(path));
        std::abort();
    }
    return path;
}

QByteArray bytes(const uint8_t *data, size_t size)
{
    return QByteArray(reinterpret_cast<const char *>(data), qsizetype(size));
}

QString text(const uint8_t *data, size_t size)
{
    if (size == 0)
        return {};
    const auto *rest = reinterpret_cast<const char *>(data + 1);
    const qsizetype restSize = qsizetype(size - 1);
    if ((data[0] & 1) == 0)
        return QString::fromUtf8(rest, restSize);
    QString utf16(restSize / 2, Qt::Uninitialized);
    for (qsizetype i = 0; i < utf16.size(); ++i)
        utf16[i] = QChar(char16_t(uchar(rest[2 * i]) | (uchar(rest[2 * i + 1]) << 8)));
    return utf16;
}

void fail(const char *what, const QString &detail)
{
    std::fprintf(stderr, "\nproperty failed: %s\n%s\n", what, qPrintable(detail));
    std::fflush(stderr);
    std::abort();
}

} // namespace FuzzSupport
