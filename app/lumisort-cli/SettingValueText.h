#pragma once

#include <QString>
#include <QVariant>

// Setting values as text on the command line: parsing a typed value and
// printing any property-list value on one line.
class SettingValueText
{
public:
    // Types: string, bool, int, real, data (base64), date (ISO 8601), plist (XML
    // property-list text of a list or dictionary). An empty type takes the type of
    // the example (the key's current value), else infers bool, int, real or string.
    static QVariant parse(const QString &text, const QString &type, const QVariant &example, QString *error);
    static QString format(const QVariant &value);
    static QString typeName(const QVariant &value);
};
