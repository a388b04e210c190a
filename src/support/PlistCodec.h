#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

// Property lists (XML and binary) to and from QVariant through libplist's C API.
// Types: QString, bool, qint64, double, QByteArray, QDateTime, QVariantList, QVariantMap.
class PlistCodec
{
public:
    // Parses XML or binary (detected from the bytes). Invalid on failure, with a reason.
    static QVariant parse(const QByteArray &bytes, QString *error = nullptr);
    static QByteArray toXml(const QVariant &value, QString *error = nullptr);
    static QByteArray toBinary(const QVariant &value, QString *error = nullptr);
    // Reads a whole file; invalid when missing or damaged.
    static QVariant readFile(const QString &path, QString *error = nullptr);
};
