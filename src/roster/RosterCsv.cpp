#include "RosterCsv.h"

#include <QStringConverter>
#include <QStringDecoder>
#include <algorithm>

using namespace Qt::StringLiterals;

RosterCsv::Decoded RosterCsv::decode(const QByteArray &bytes)
{
    // A mark decides; without one, text that is valid UTF-8 is taken as such (ASCII is both).
    if (const std::optional<QStringConverter::Encoding> marked = QStringConverter::encodingForData(bytes)) {
        QStringDecoder decoder(*marked);
        QString text = decoder(bytes);
        if (text.startsWith(QChar::ByteOrderMark))
            text.remove(0, 1);
        return {text, QString::fromLatin1(QStringConverter::nameForEncoding(*marked))};
    }
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString text = utf8(bytes);
    if (!utf8.hasError())
        return {text, u"UTF-8"_s};
    QStringDecoder windows("windows-1252");
    if (windows.isValid())
        return {windows(bytes), u"Windows-1252"_s};
    // Without ICU Qt knows no Windows-1252; Latin-1 differs from it only in quotes, dashes and the euro sign.
    QStringDecoder latin1(QStringDecoder::Latin1);
    return {latin1(bytes), u"ISO-8859-1"_s};
}

QChar RosterCsv::separatorOf(QStringView text)
{
    qsizetype commas = 0, semicolons = 0, tabs = 0;
    bool quoted = false;
    for (const QChar c : text) {
        if (c == u'"')
            quoted = !quoted;
        else if (quoted)
            continue;
        else if (c == u'\n' || c == u'\r')
            break;
        else if (c == u',')
            ++commas;
        else if (c == u';')
            ++semicolons;
        else if (c == u'\t')
            ++tabs;
    }
    // "Last, First" is quoted when it holds the separator, so the separator outnumbers the others.
    if (tabs > commas && tabs >= semicolons)
        return u'\t';
    if (semicolons > commas)
        return u';';
    return u',';
}

QList<RosterCsv::Record> RosterCsv::records(QStringView text, QChar separator)
{
    QList<Record> records;
    Record record;
    QString field;
    bool quoted = false;
    bool wasQuoted = false; // the field began with a quote: spaces before the next separator are dropped
    bool blank = true; // nothing but separators so far in this record
    int line = 1;
    record.line = 1;

    // One buffer for every field keeps its capacity: a field costs one allocation of its own size.
    const auto endField = [&] {
        record.fields.append(QString(field.constData(), field.size()));
        field.resize(0);
        wasQuoted = false;
    };
    qsizetype width = 0;
    const auto endRecord = [&] {
        endField();
        width = std::max(width, record.fields.size());
        if (!blank)
            records.append(std::move(record));
        record = Record();
        record.line = line;
        record.fields.reserve(width);
        blank = true;
    };

    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        const QChar c = text[i];
        if (quoted) {
            if (c == u'"') {
                if (i + 1 < size && text[i + 1] == u'"') {
                    field += u'"';
                    ++i;
                } else {
                    quoted = false;
                }
                continue;
            }
            if (c == u'\n' || (c == u'\r' && !(i + 1 < size && text[i + 1] == u'\n')))
                ++line;
            field += c;
            continue;
        }
        if (c == separator) {
            endField();
        } else if (c == u'\n' || c == u'\r') {
            if (c == u'\r' && i + 1 < size && text[i + 1] == u'\n')
                ++i;
            ++line;
            endRecord();
        } else if (c == u'"' && field.trimmed().isEmpty() && !wasQuoted) {
            // Some exporters write a space after the separator and then quote the field.
            field.resize(0);
            quoted = wasQuoted = true;
            blank = false;
        } else if (wasQuoted && (c == u' ' || c == u'\t')) {
            continue;
        } else {
            field += c;
            blank = blank && c.isSpace();
        }
    }
    if (quoted)
        record.unclosedQuote = true;
    endRecord();
    return records;
}
