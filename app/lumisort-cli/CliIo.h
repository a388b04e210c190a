#pragma once

#include <QStringList>
#include <QTextStream>

// Standard output and error of the command-line tool, and its exit codes.
struct CliIo
{
    QTextStream &out;
    QTextStream &err;

    static constexpr int cOk = 0;
    static constexpr int cFailed = 1; // the operation ran and did not succeed
    static constexpr int cUsage = 2; // bad arguments

    int usageError(const QString &message, const QString &usage)
    {
        err << "lumisort-cli: " << message << Qt::endl << usage << Qt::endl;
        return cUsage;
    }
};
