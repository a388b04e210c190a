#include "NativePath.h"

#include <QFile>
#include <QStringDecoder>

namespace {

constexpr char16_t kEscapeBase = 0xDC00; // a lone low surrogate carries one raw byte 0x80..0xFF

bool isContinuation(unsigned char c)
{
    return (c & 0xC0) == 0x80;
}

// Length of the valid UTF-8 sequence starting at bytes[i] (and its code point), or 0.
// Overlong forms, encoded surrogates and values past U+10FFFF are not valid.
int validSequence(const QByteArray &bytes, qsizetype i, char32_t &codePoint)
{
    const auto at = [&bytes](qsizetype k) { return static_cast<unsigned char>(bytes.at(k)); };
    const unsigned char c = at(i);
    const qsizetype left = bytes.size() - i;
    if (c < 0x80) {
        codePoint = c;
        return 1;
    }
    if (c >= 0xC2 && c <= 0xDF && left >= 2 && isContinuation(at(i + 1))) {
        codePoint = char32_t(c & 0x1F) << 6 | (at(i + 1) & 0x3F);
        return 2;
    }
    if (c >= 0xE0 && c <= 0xEF && left >= 3 && isContinuation(at(i + 1)) && isContinuation(at(i + 2))) {
        const char32_t cp = char32_t(c & 0x0F) << 12 | char32_t(at(i + 1) & 0x3F) << 6 | (at(i + 2) & 0x3F);
        if (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))
            return 0;
        codePoint = cp;
        return 3;
    }
    if (c >= 0xF0 && c <= 0xF4 && left >= 4 && isContinuation(at(i + 1)) && isContinuation(at(i + 2))
        && isContinuation(at(i + 3))) {
        const char32_t cp = char32_t(c & 0x07) << 18 | char32_t(at(i + 1) & 0x3F) << 12
            | char32_t(at(i + 2) & 0x3F) << 6 | (at(i + 3) & 0x3F);
        if (cp < 0x10000 || cp > 0x10FFFF)
            return 0;
        codePoint = cp;
        return 4;
    }
    return 0;
}

bool isEscapedByte(char16_t unit)
{
    return unit >= kEscapeBase + 0x80 && unit <= kEscapeBase + 0xFF;
}

} // namespace

QString NativePath::decode(const QByteArray &bytes)
{
    QString text;
    text.reserve(bytes.size());
    for (qsizetype i = 0; i < bytes.size();) {
        char32_t cp = 0;
        const int n = validSequence(bytes, i, cp);
        if (n == 0) {
            text.append(QChar(char16_t(kEscapeBase + static_cast<unsigned char>(bytes.at(i)))));
            ++i;
            continue;
        }
        if (cp < 0x10000) {
            text.append(QChar(char16_t(cp)));
        } else {
            text.append(QChar(QChar::highSurrogate(cp)));
            text.append(QChar(QChar::lowSurrogate(cp)));
        }
        i += n;
    }
    return text;
}

QByteArray NativePath::encode(const QString &text)
{
    QByteArray bytes;
    bytes.reserve(text.size());
    qsizetype runStart = 0;
    const auto flush = [&](qsizetype end) {
        if (end > runStart)
            bytes.append(QStringView(text).mid(runStart, end - runStart).toUtf8());
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t unit = text.at(i).unicode();
        // A low surrogate that follows a high one is half of a real character.
        const bool paired = i > 0 && QChar::isHighSurrogate(text.at(i - 1).unicode());
        if (isEscapedByte(unit) && !paired) {
            flush(i);
            bytes.append(char(unit - kEscapeBase));
            runStart = i + 1;
        }
    }
    flush(text.size());
    return bytes;
}

QString NativePath::forDisplay(const QString &text)
{
    QString shown = text;
    for (qsizetype i = 0; i < shown.size(); ++i) {
        const bool paired = i > 0 && QChar::isHighSurrogate(text.at(i - 1).unicode());
        if (isEscapedByte(shown.at(i).unicode()) && !paired)
            shown[i] = QChar::ReplacementCharacter;
    }
    return shown;
}

NativePath::NativePath(const QString &path)
    : m_bytes(encode(path))
{ }

NativePath NativePath::fromBytes(const QByteArray &bytes)
{
    NativePath p;
    p.m_bytes = bytes;
    return p;
}

QString NativePath::toString() const
{
    return decode(m_bytes);
}

QString NativePath::displayString() const
{
    return QString::fromUtf8(m_bytes);
}

bool NativePath::isValidUtf8() const
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString decoded = decoder.decode(m_bytes);
    return !decoder.hasError();
}

QByteArray NativePath::fileNameBytes() const
{
    QByteArray b = m_bytes;
    while (b.size() > 1 && b.endsWith('/'))
        b.chop(1);
    const qsizetype slash = b.lastIndexOf('/');
    return slash < 0 ? b : b.mid(slash + 1);
}

NativePath NativePath::parent() const
{
    QByteArray b = m_bytes;
    while (b.size() > 1 && b.endsWith('/'))
        b.chop(1);
    const qsizetype slash = b.lastIndexOf('/');
    if (slash < 0)
        return fromBytes(QByteArrayLiteral("."));
    if (slash == 0)
        return fromBytes(QByteArrayLiteral("/"));
    return fromBytes(b.left(slash));
}

NativePath NativePath::child(const QByteArray &nameBytes) const
{
    if (m_bytes.isEmpty() || m_bytes.endsWith('/'))
        return fromBytes(m_bytes + nameBytes);
    return fromBytes(m_bytes + '/' + nameBytes);
}

NativePath NativePath::child(const QString &name) const
{
    return child(encode(name));
}
