#include "SystemLog.h"

#include "SafeFile.h"
#include "TALVIK_Log.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {
std::atomic<bool> g_enabled {true};
std::atomic<int> g_logFile {-1};

QString processName()
{
    static const QString name = [] {
        QByteArray exe(4096, '\0');
        const ssize_t n = ::readlink("/proc/self/exe", exe.data(), size_t(exe.size()));
        if (n > 0)
            return QFileInfo(QString::fromUtf8(exe.left(n))).fileName();
        return QCoreApplication::applicationName();
    }();
    return name;
}

void qtMessageHandler(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    static const char *const prefixes[] = {"", "Warning: ", "Critical: ", "Fatal: ", "Info: "};
    const int index = (type >= QtDebugMsg && type <= QtInfoMsg) ? int(type) : 0;
    SystemLog::write(QString::fromLatin1(prefixes[index]) + message);
    if (type == QtFatalMsg)
        std::abort();
}
} // namespace

QString SystemLog::formatLine(const QString &message)
{
    // A log that people read and search must stay text: a NUL makes grep call it binary, and an
    // escape sequence or carriage return in a file name would rewrite what a terminal shows.
    // Line breaks and tabs stay, the program writes them on purpose.
    QString text;
    text.reserve(message.size());
    for (const QChar c : message) {
        const char16_t u = c.unicode();
        if ((u < 0x20 && u != u'\n' && u != u'\t') || u == 0x7f)
            text += u"\\x"_s + QString::number(u, 16).rightJustified(2, u'0');
        else
            text += c;
    }
    const QString stamp = QDateTime::currentDateTime().toString(u"yyyy-MM-dd HH:mm:ss.zzz"_s);
    return stamp % u' ' % processName() % u'[' % QString::number(::getpid()) % u':'
        % QString::number(long(::syscall(SYS_gettid))) % u"] "_s % text;
}

void SystemLog::write(const QString &message)
{
    const bool toStderr = g_enabled.load(std::memory_order_relaxed);
    const int file = g_logFile.load(std::memory_order_relaxed);
    if (!toStderr && file < 0)
        return;
    // One write(2) per line: lines from several threads (and processes) never interleave.
    const QByteArray line = formatLine(message).toUtf8() + '\n';
    if (file >= 0)
        SafeFile::writeAll(file, line);
    if (toStderr)
        SafeFile::writeAll(STDERR_FILENO, line);
}

FileResult SystemLog::openLogFile(const QString &path)
{
    TALVIK_Log::rollLogFileIfNecessary(path);
    const NativePath file(path);
    const int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0664);
    if (fd < 0)
        return FileResult::failure(u"open"_s, file, errno);
    const int previous = g_logFile.exchange(fd);
    if (previous >= 0)
        ::close(previous);
    return {};
}

void SystemLog::installQtMessageHandler()
{
    qInstallMessageHandler(qtMessageHandler);
}

void SystemLog::setEnabled(bool enabled)
{
    g_enabled.store(enabled);
}

bool SystemLog::isEnabled()
{
    return g_enabled.load();
}
