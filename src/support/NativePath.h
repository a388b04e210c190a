#pragma once

#include <QByteArray>
#include <QString>

// A path exactly as the kernel sees it: raw bytes. File names on a camera card
// or a network share need not be valid UTF-8, and a QString cannot carry such
// bytes unchanged, so every file operation takes a NativePath. Ordinary names
// convert implicitly from QString.
class NativePath
{
public:
    NativePath() = default;
    NativePath(const QString &path); // NOLINT(google-explicit-constructor): the common case
    NativePath(const char *path) = delete; // say whether bytes or text are meant
    static NativePath fromBytes(const QByteArray &bytes);

    const QByteArray &bytes() const { return m_bytes; }
    const char *c_str() const { return m_bytes.constData(); }
    bool isEmpty() const { return m_bytes.isEmpty(); }

    // For display and logs: invalid UTF-8 shows as replacement characters.
    QString toString() const;
    bool isValidUtf8() const;

    // The last component and the folder part, on bytes ("/a/b" gives "b" and "/a").
    QByteArray fileNameBytes() const;
    NativePath parent() const;
    NativePath child(const QByteArray &nameBytes) const;
    NativePath child(const QString &name) const;

    friend bool operator==(const NativePath &a, const NativePath &b) { return a.m_bytes == b.m_bytes; }

private:
    QByteArray m_bytes;
};
