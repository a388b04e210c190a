#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

// A roster as school systems write it: whatever their spreadsheet or database
// chose for text encoding, separator and line ends, with names that hold the
// separator or a line break inside quotes.
class RosterCsv
{
public:
    struct Decoded
    {
        QString text;
        QString encoding; // for the operator, when names come out wrong
    };
    // UTF-8 (a byte-order mark or not), UTF-16 with its mark (Excel's "Unicode Text"),
    // else Windows-1252: files exported on Windows in the older way, where a lone
    // accented byte is no valid UTF-8.
    static Decoded decode(const QByteArray &bytes);

    // The separator of the header line, among comma, semicolon and tab, counted outside quotes;
    // a single-column file has none, and the comma stands for it.
    static QChar separatorOf(QStringView text);

    struct Record
    {
        int line = 0; // of the file, where the record starts
        QStringList fields;
        bool unclosedQuote = false; // took the rest of the file
    };
    // RFC 4180 fields; CRLF, LF and a lone CR end a record. Lines with nothing but
    // separators (spreadsheets write them for empty rows) yield no record.
    static QList<Record> records(QStringView text, QChar separator);
};
