#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QVariantMap>

// The program's log facility: one rolling log file per application, into
// which standard error is redirected once the file is open, plus leveled,
// time-stamped lines of its own. Class-wide state only.
class TALVIK_Log
{
public:
    static constexpr qint64 cRollSize = 0x100000; // 1,048,576 bytes
    static constexpr qint64 cOldFileLimit = 0xA00000; // 10,485,760 bytes
    static constexpr qsizetype cPendingLimit = 1000000;
    static constexpr qsizetype cPendingCut = 10000;

    static bool setLogFile(const QString &path);
    static void rollLogFileIfNecessary(const QString &path);
    static void rollLogFile(const QString &path, const QString &toPath, qint64 atSize);

    static void setShouldLogToStdErr(bool on);
    static void setShouldLogAppName(bool on);
    static void setShouldNotifyForLogUpdates(bool on);
    static void setApplicationName(const QString &name);

    static QString logDateString();
    static QString logDateString(const QDateTime &moment);

    static void logLevel(int level, const QString &message);
    static void debug(const QString &message);
    static void err(const QString &message);
    static void logData(const QByteArray &data);

    static QString startupInfo();
    static QString systemVersionInfo();
    static QString hostModelAndArch();
    static QVariantMap vmStats();

    // The path given to the last setLogFile:, standardised; empty before.
    static QString logFilePath();
    // "<folder>/<name>_old.<ext>" for a log file path ("log" when it has no extension).
    static QString oldLogFilePath(const QString &path);

    // Back to the state of a fresh process (closes the file, keeps standard error
    // where it is). Only tests call it.
    static void resetForTesting();

    void logFileDidUpdate(const QVariant &notification);
};
