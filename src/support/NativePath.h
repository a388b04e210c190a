#pragma once

#include <QByteArray>
#include <QString>

// A path exactly as the kernel sees it: raw bytes. File names on a camera card
// or a network share need not be valid UTF-8. Such a name still travels through
// the program's QStrings and QUrls unchanged: each byte that is no part of valid
// UTF-8 is carried as a lone surrogate U+DC80..U+DCFF (Python's
// "surrogateescape"), and turned back into the same byte here. QFile::encodeName
// and decodeName lose those bytes; paths go through this class instead.
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

    // The path as text that converts back to the same bytes: for QUrl, settings,
    // notifications and every place a path is handed on.
    QString toString() const;
    // For the operator's eyes and the log: bytes that are no valid UTF-8 show as
    // replacement characters.
    QString displayString() const;
    bool isValidUtf8() const;

    // Lossless conversions for code that holds text and bytes separately.
    static QString decode(const QByteArray &bytes);
    static QByteArray encode(const QString &text);
    // Text made by decode() shown to a person: escaped bytes become U+FFFD.
    static QString forDisplay(const QString &text);

    // The last component and the folder part, on bytes ("/a/b" gives "b" and "/a").
    QByteArray fileNameBytes() const;
    NativePath parent() const;
    NativePath child(const QByteArray &nameBytes) const;
    NativePath child(const QString &name) const;

    friend bool operator==(const NativePath &a, const NativePath &b) { return a.m_bytes == b.m_bytes; }

private:
    QByteArray m_bytes;
};
