#pragma once

#include "FileResult.h"

#include <QString>

// The program's everyday logging: one line on standard error in the usual
// platform form ("2026-12-06 18:32:00.123 lumisort[4242:4243] message").
// After TALVIK_Log::setLogFile standard error is the log file, so every line
// lands there.
class SystemLog
{
public:
    static void write(const QString &message);
    // The line as it would be written, without the trailing newline.
    static QString formatLine(const QString &message);
    // Routes qDebug/qWarning/... through write(), so Qt's own messages share the format.
    static void installQtMessageHandler();
    // The command-line tool keeps its terminal for its own output unless asked.
    static void setEnabled(bool enabled);
    static bool isEnabled();
    // The command-line tool's own lines also go into the application's log file (appended
    // beside whatever the application writes), whether or not they go to standard error.
    // Rolls the file first as the application's start does.
    static FileResult openLogFile(const QString &path);
};

// Shorthand used throughout the program.
inline void logLine(const QString &message)
{
    SystemLog::write(message);
}
