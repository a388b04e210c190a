#include "TALVIK_Log.h"

#include "NotificationCenter.h"
#include "SafeFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRecursiveMutex>
#include <QSysInfo>
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unicode/locid.h>
#include <unicode/smpdtfmt.h>
#include <unicode/unistr.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// Log files stay group-writable whatever the process umask is.
constexpr mode_t cLogFileMode = 0664;

QString processName()
{
    QByteArray exe(4096, '\0');
    const ssize_t n = ::readlink("/proc/self/exe", exe.data(), size_t(exe.size()));
    if (n > 0)
        return QFileInfo(QString::fromUtf8(exe.left(n))).fileName();
    return QCoreApplication::applicationName();
}

std::unique_ptr<icu::SimpleDateFormat> makeFormatter()
{
    // "YYYY" is deliberate: the week-based year, as the log readers expect.
    UErrorCode status = U_ZERO_ERROR;
    auto formatter = std::make_unique<icu::SimpleDateFormat>(icu::UnicodeString(u"[YYYY/MM/dd HH:mm:ss.SSS Z]"),
                                                             icu::Locale("en_US_POSIX"), status);
    if (U_FAILURE(status))
        return nullptr;
    return formatter;
}

struct LogState
{
    // Recursive: rolling during setLogFile writes lines of its own.
    QRecursiveMutex lock;
    QString path;
    int fd = -1;
    // Present until a file opens; holds what was written before that.
    std::optional<QString> pending = QString();
    std::unique_ptr<icu::SimpleDateFormat> formatter = makeFormatter();
    QString applicationName = processName();
    bool logAppName = false;
    bool logToStdErr = false;
    bool notify = false;
};

LogState &state()
{
    static LogState s;
    return s;
}

void setLogFileMode(const QString &path)
{
    ::chmod(QFile::encodeName(path).constData(), cLogFileMode);
}

QByteArray readWholeFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString standardisedPath(const QString &path)
{
    QString expanded = path;
    if (path.startsWith(u'~')) {
        const qsizetype slash = path.indexOf(u'/');
        const QString user = path.mid(1, slash < 0 ? -1 : slash - 1);
        QString home;
        if (user.isEmpty())
            home = QDir::homePath();
        else if (const passwd *pw = ::getpwnam(QFile::encodeName(user).constData()))
            home = QFile::decodeName(pw->pw_dir);
        if (!home.isEmpty())
            expanded = home + (slash < 0 ? QString() : path.mid(slash));
    }
    return expanded.isEmpty() ? QString() : QDir::cleanPath(expanded);
}

QString readFirstLine(const QString &path)
{
    // The device-tree model ends in a NUL byte.
    QByteArray bytes = readWholeFile(path);
    const qsizetype end = bytes.indexOf('\0');
    if (end >= 0)
        bytes.truncate(end);
    return QString::fromUtf8(bytes.split('\n').value(0)).trimmed();
}

qint64 pageSize()
{
    const long size = ::sysconf(_SC_PAGESIZE);
    return size > 0 ? qint64(size) : 4096;
}

QString hexByte(uchar byte)
{
    return QString::number(byte, 16).rightJustified(2, u'0');
}

} // namespace

bool TALVIK_Log::setLogFile(const QString &path)
{
    LogState &s = state();
    QMutexLocker locker(&s.lock);
    s.path = standardisedPath(path);
    rollLogFileIfNecessary(s.path);
    if (s.fd >= 0 || s.path.isEmpty())
        return false;

    const int fd =
        ::open(QFile::encodeName(s.path).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, cLogFileMode);
    if (fd < 0) {
        const int error = errno;
        logLevel(1,
                 u"Failed to open log file at "_s + s.path + u"; error "_s + QString::number(error) + u" \""_s
                     + qt_error_string(error) + u'"');
        return false;
    }
    ::fchmod(fd, cLogFileMode);
    if (s.pending)
        SafeFile::writeAll(fd, s.pending->toUtf8());
    s.pending.reset();
    s.fd = fd;
    // dup2 leaves fd 2 without close-on-exec, so child processes log here too.
    if (!s.logToStdErr)
        ::dup2(fd, STDERR_FILENO);
    return true;
}

void TALVIK_Log::rollLogFileIfNecessary(const QString &path)
{
    rollLogFile(path, QString(), cRollSize);
}

void TALVIK_Log::rollLogFile(const QString &path, const QString &toPath, qint64 atSize)
{
    struct stat info = {};
    if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &info) != 0 || info.st_size < atSize)
        return;

    QMutexLocker locker(&state().lock);
    logLevel(1, u"Rolling log file."_s);
    const QString destination = toPath.isEmpty() ? oldLogFilePath(path) : toPath;
    QByteArray bytes = readWholeFile(destination);
    bytes += readWholeFile(path);
    if (bytes.size() > cOldFileLimit) {
        // Cut at a line start so the old file never begins mid-line.
        const qsizetype newline = bytes.indexOf('\n', bytes.size() - cOldFileLimit - 1);
        bytes.remove(0, newline < 0 ? bytes.size() : newline + 1);
    }

    QFile out(destination);
    bool written = out.open(QIODevice::WriteOnly | QIODevice::Truncate) && out.write(bytes) == bytes.size();
    written = written && out.flush();
    out.close();
    if (written) {
        logLevel(1, u"Rolled previous log file into "_s + destination);
        setLogFileMode(destination);
    } else {
        logLevel(1, u"Error writing old log file to "_s + destination);
    }

    QFile current(path);
    if (current.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        current.close();
        logLevel(1, u"Starting new log file at "_s + path);
    }
}

void TALVIK_Log::setShouldLogToStdErr(bool on)
{
    QMutexLocker locker(&state().lock);
    state().logToStdErr = on;
}

void TALVIK_Log::setShouldLogAppName(bool on)
{
    QMutexLocker locker(&state().lock);
    state().logAppName = on;
}

void TALVIK_Log::setShouldNotifyForLogUpdates(bool on)
{
    QMutexLocker locker(&state().lock);
    state().notify = on;
}

void TALVIK_Log::setApplicationName(const QString &name)
{
    QMutexLocker locker(&state().lock);
    state().applicationName = name;
}

QString TALVIK_Log::logDateString()
{
    return logDateString(QDateTime::currentDateTime());
}

QString TALVIK_Log::logDateString(const QDateTime &moment)
{
    LogState &s = state();
    QMutexLocker locker(&s.lock); // SimpleDateFormat is not safe to share between threads
    if (!s.formatter)
        return QString();
    icu::UnicodeString text;
    s.formatter->format(UDate(moment.toMSecsSinceEpoch()), text);
    return QString::fromUtf16(text.getBuffer(), text.length());
}

void TALVIK_Log::logLevel(int level, const QString &message)
{
    LogState &s = state();
    QMutexLocker locker(&s.lock);
    if (!s.logToStdErr && s.fd < 0)
        return;

    QString letter;
    QString name;
    switch (level) {
    case 0:
        letter = u"I"_s;
        name = u"INFO"_s;
        break;
    case 2:
        letter = u"D2"_s;
        name = u"DEBUG2: "_s + s.applicationName;
        break;
    case 3:
        letter = u"E"_s;
        name = u"ERROR"_s;
        break;
    case 4:
        letter = u"W"_s;
        name = u"WARN"_s;
        break;
    default:
        letter = u"D"_s;
        name = u"DEBUG: "_s + s.applicationName;
        break;
    }

    if (s.logToStdErr)
        SafeFile::writeAll(STDERR_FILENO, (name + u": "_s + message + u'\n').toUtf8());
    if (!s.pending && s.fd < 0)
        return;

    const QString appPart = s.logAppName ? u' ' + s.applicationName + u':' : QString();
    const QString line = letter + u' ' + logDateString() + appPart + u' ' + message + u'\n';
    if (s.pending) {
        if (s.pending->size() > cPendingLimit)
            s.pending->remove(0, cPendingCut);
        s.pending->append(line);
    } else {
        SafeFile::writeAll(s.fd, line.toUtf8());
    }
    if (!s.notify)
        return;

    const QString path = s.path;
    // Observers may log themselves or wait on other threads that do.
    locker.unlock();
    NotificationCenter::defaultCenter().post(u"TALVIK_LogFileDidUpdate"_s,
                                             QVariantMap {{u"TALVIK_LogFileAddedString"_s, line}}, QVariant(path));
}

void TALVIK_Log::debug(const QString &message)
{
    for (const QString &part : message.split(u'\n'))
        logLevel(1, part);
}

void TALVIK_Log::err(const QString &message)
{
    logLevel(3, message);
}

void TALVIK_Log::logData(const QByteArray &data)
{
    for (qsizetype offset = 0; offset < data.size(); offset += 16) {
        QString line = QString::number(offset, 16).rightJustified(8, u'0') + u"  "_s;
        QString text;
        for (qsizetype i = 0; i < 16; ++i) {
            if (offset + i < data.size()) {
                const uchar byte = uchar(data.at(offset + i));
                line += hexByte(byte) + u' ';
                // '%' is written doubled: existing log readers expect the dump in that form.
                if (byte == '%')
                    text += u"%%"_s;
                else
                    text += (byte >= 0x20 && byte <= 0x7e) ? QChar(ushort(byte)) : QChar(u'.');
            } else {
                line += u"   "_s;
            }
            if (i == 7)
                line += u' ';
        }
        debug(line + u" |"_s + text + u'|');
    }
}

QString TALVIK_Log::startupInfo()
{
    return QString(80, u'^') + u'\n' + processName() + u" starting up"_s + u'\n' + systemVersionInfo();
}

QString TALVIK_Log::systemVersionInfo()
{
    const qint64 physicalPages = ::sysconf(_SC_PHYS_PAGES);
    const qint64 physicalMB = physicalPages > 0 ? (physicalPages * pageSize()) >> 20 : 0;
    const long processors = ::sysconf(_SC_NPROCESSORS_ONLN);
    QString byteOrder = u"Unknown"_s;
    if (QSysInfo::ByteOrder == QSysInfo::LittleEndian)
        byteOrder = u"LittleEndian"_s;
    else if (QSysInfo::ByteOrder == QSysInfo::BigEndian)
        byteOrder = u"BigEndian"_s;

    return u"Linux "_s + QSysInfo::prettyProductName() + u" ("_s + QSysInfo::kernelVersion() + u") qt ("_s
        + QString::fromLatin1(qVersion()) + u");\n"_s + QString::number(physicalMB) + u"MB ("_s
        + QString::number(vmStats().value(u"freeMB"_s).toLongLong()) + u"MB free); "_s + QString::number(processors)
        + u" CPU; "_s + byteOrder + u" ("_s + QString::number(64) + u"-bit); "_s + hostModelAndArch();
}

QString TALVIK_Log::hostModelAndArch()
{
    QString model = readFirstLine(u"/sys/devices/virtual/dmi/id/product_name"_s);
    if (model.isEmpty())
        model = readFirstLine(u"/proc/device-tree/model"_s);
    if (model.isEmpty())
        model = u"unknown"_s;
    struct utsname names = {};
    const QString machine = ::uname(&names) == 0 ? QString::fromLatin1(names.machine) : QString();
    return model + u" ("_s + machine + u')';
}

QVariantMap TALVIK_Log::vmStats()
{
    const QList<QByteArray> lines = readWholeFile(u"/proc/meminfo"_s).split('\n');
    for (const QByteArray &line : lines) {
        if (!line.startsWith("MemFree:"))
            continue;
        bool ok = false;
        const qint64 freeKiB = line.mid(8).simplified().split(' ').value(0).toLongLong(&ok);
        if (!ok)
            return {};
        const qint64 page = pageSize();
        const qint64 freePages = freeKiB * 1024 / page;
        const qint64 freeBytes = freePages * page;
        return {{u"freePages"_s, freePages}, {u"freeBytes"_s, freeBytes}, {u"freeMB"_s, freeBytes >> 20}};
    }
    return {};
}

QString TALVIK_Log::logFilePath()
{
    QMutexLocker locker(&state().lock);
    return state().path;
}

QString TALVIK_Log::oldLogFilePath(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(u'/');
    const QString folder = path.left(slash + 1);
    const QString name = path.mid(slash + 1);
    // A leading dot marks a hidden file, not an extension.
    const qsizetype dot = name.lastIndexOf(u'.');
    const QString base = dot > 0 ? name.left(dot) : name;
    QString extension = dot > 0 ? name.mid(dot + 1) : QString();
    if (extension.isEmpty())
        extension = u"log"_s;
    return folder + base + u"_old."_s + extension;
}

void TALVIK_Log::resetForTesting()
{
    LogState &s = state();
    QMutexLocker locker(&s.lock);
    if (s.fd >= 0)
        ::close(s.fd);
    s.fd = -1;
    s.path.clear();
    s.pending = QString();
    s.applicationName = processName();
    s.logAppName = false;
    s.logToStdErr = false;
    s.notify = false;
}

void TALVIK_Log::logFileDidUpdate(const QVariant &notification)
{
    Q_UNUSED(notification);
}
