#include "SettingValueText.h"

#include "support/PlistCodec.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using namespace Qt::StringLiterals;

namespace {
std::optional<bool> parseBool(const QString &text)
{
    const QString t = text.trimmed().toLower();
    if (t == u"true"_s || t == u"yes"_s || t == u"1"_s)
        return true;
    if (t == u"false"_s || t == u"no"_s || t == u"0"_s)
        return false;
    return std::nullopt;
}

QJsonValue toJson(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::QByteArray:
        return QString::fromLatin1(value.toByteArray().toBase64());
    case QMetaType::QDateTime:
        return value.toDateTime().toString(Qt::ISODateWithMs);
    case QMetaType::QVariantList: {
        QJsonArray array;
        for (const QVariant &item : value.toList())
            array.append(toJson(item));
        return array;
    }
    case QMetaType::QVariantMap: {
        QJsonObject object;
        const QVariantMap map = value.toMap();
        for (auto it = map.cbegin(); it != map.cend(); ++it)
            object.insert(it.key(), toJson(it.value()));
        return object;
    }
    default:
        return QJsonValue::fromVariant(value);
    }
}
} // namespace

QVariant SettingValueText::parse(const QString &text, const QString &type, const QVariant &example, QString *error)
{
    QString t = type;
    if (t.isEmpty() && example.isValid())
        t = typeName(example);
    if (t.isEmpty()) {
        if (const auto b = parseBool(text); b && !text.trimmed().isEmpty() && !text.at(0).isDigit())
            return *b;
        bool ok = false;
        const qint64 i = text.toLongLong(&ok);
        if (ok)
            return i;
        const double d = text.toDouble(&ok);
        if (ok)
            return d;
        return text;
    }
    bool ok = false;
    if (t == u"string"_s)
        return text;
    if (t == u"bool"_s) {
        if (const auto b = parseBool(text))
            return *b;
    } else if (t == u"int"_s) {
        const qint64 i = text.toLongLong(&ok);
        if (ok)
            return i;
    } else if (t == u"real"_s) {
        const double d = text.toDouble(&ok);
        if (ok)
            return d;
    } else if (t == u"data"_s) {
        const auto decoded = QByteArray::fromBase64Encoding(text.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
        if (decoded)
            return *decoded;
    } else if (t == u"date"_s) {
        const QDateTime d = QDateTime::fromString(text, Qt::ISODateWithMs);
        if (d.isValid())
            return d;
    } else if (t == u"plist"_s || t == u"list"_s || t == u"dict"_s) {
        QString parseError;
        const QVariant v = PlistCodec::parse(text.toUtf8(), &parseError);
        if (v.isValid())
            return v;
        *error = u"not a property list: "_s + parseError;
        return {};
    } else {
        *error = u"unknown type \""_s + t + u"\" (string, bool, int, real, data, date, plist)"_s;
        return {};
    }
    *error = u"\""_s + text + u"\" is not a valid "_s + t;
    return {};
}

QString SettingValueText::format(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool() ? u"true"_s : u"false"_s;
    case QMetaType::QByteArray:
        return QString::fromLatin1(value.toByteArray().toBase64());
    case QMetaType::QDateTime:
        return value.toDateTime().toString(Qt::ISODateWithMs);
    case QMetaType::QVariantList:
        return QString::fromUtf8(QJsonDocument(toJson(value).toArray()).toJson(QJsonDocument::Compact));
    case QMetaType::QVariantMap:
        return QString::fromUtf8(QJsonDocument(toJson(value).toObject()).toJson(QJsonDocument::Compact));
    default:
        return value.toString();
    }
}

QString SettingValueText::typeName(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::QString:
        return u"string"_s;
    case QMetaType::Bool:
        return u"bool"_s;
    case QMetaType::LongLong:
        return u"int"_s;
    case QMetaType::Double:
        return u"real"_s;
    case QMetaType::QByteArray:
        return u"data"_s;
    case QMetaType::QDateTime:
        return u"date"_s;
    case QMetaType::QVariantList:
    case QMetaType::QVariantMap:
        return u"plist"_s;
    default:
        return {};
    }
}
