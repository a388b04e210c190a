#pragma once

#include <QByteArray>
#include <QString>

// A small file another program writes (its settings), read without trusting it:
// only a regular file is read, never a pipe or device that could block start-up,
// and never more than a limit, so a runaway file cannot fill memory.
class ForeignFile
{
public:
    enum class Status
    {
        Absent,
        Read,
        Unusable, // there, but not a readable regular file of acceptable size
    };

    struct Content
    {
        Status status = Status::Absent;
        QByteArray bytes;
        QString problem; // for Unusable: what is wrong, for the log and the operator
    };

    static Content read(const QString &path, qint64 maxBytes);
};
