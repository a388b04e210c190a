#pragma once

#include "NativePath.h"

#include <QString>

// The outcome of one file operation. A failure carries the operation, the
// path and the system's own error (named, e.g. "ENOSPC"), so that a log
// line says exactly what went wrong; nothing is thrown.
class FileResult
{
public:
    FileResult() = default; // success
    static FileResult success() { return {}; }
    static FileResult failure(const QString &operation, const NativePath &path, int errorNumber);
    // A failure that no errno describes (a checksum mismatch, a refused operation).
    static FileResult failure(const QString &operation, const NativePath &path, const QString &reason,
                              int errorNumber = 0);
    static FileResult renameFailure(const NativePath &from, const NativePath &to, int errorNumber);

    bool ok() const { return !m_failed; }
    explicit operator bool() const { return ok(); }

    int errorNumber() const { return m_errno; }
    const QString &operation() const { return m_operation; }
    const NativePath &path() const { return m_path; }
    // "ENOSPC" for errno values, empty otherwise.
    QString errorName() const;
    // "rename /a/b: EEXIST (File exists)"; empty on success.
    QString text() const;

    // "ENOSPC (No space left on device)", never "Unknown error".
    static QString describeErrno(int errorNumber);

private:
    bool m_failed = false;
    int m_errno = 0;
    QString m_operation;
    NativePath m_path;
    QString m_reason;
};
