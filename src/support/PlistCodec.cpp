#include "PlistCodec.h"

#include <QDateTime>
#include <QFile>
#include <QTimeZone>
#include <cstdlib>
#include <memory>
#include <plist/plist++.h>
#include <plist/plist.h>

using namespace Qt::StringLiterals;

namespace {
// Property-list dates count from 2001-01-01 UTC.
const QDateTime &plistEpoch()
{
    static const QDateTime epoch(QDate(2001, 1, 1), QTime(0, 0), QTimeZone::utc());
    return epoch;
}

// Reading walks the C nodes: libplist++ 2.2 wrappers of nested arrays come
// back without their items.
QVariant toVariant(plist_t node, QString *error)
{
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        uint8_t b = 0;
        plist_get_bool_val(node, &b);
        return b != 0;
    }
    case PLIST_UINT: {
        // Negative integers come back as their two's complement.
        uint64_t v = 0;
        plist_get_uint_val(node, &v);
        return qint64(v);
    }
    case PLIST_REAL: {
        double d = 0;
        plist_get_real_val(node, &d);
        return d;
    }
    case PLIST_STRING: {
        uint64_t length = 0;
        const char *text = plist_get_string_ptr(node, &length);
        return QString::fromUtf8(text, qsizetype(length));
    }
    case PLIST_DATA: {
        uint64_t length = 0;
        const char *bytes = plist_get_data_ptr(node, &length);
        return QByteArray(bytes, qsizetype(length));
    }
    case PLIST_DATE: {
        int32_t sec = 0, usec = 0;
        plist_get_date_val(node, &sec, &usec);
        return plistEpoch().addMSecs(qint64(sec) * 1000 + usec / 1000);
    }
    case PLIST_ARRAY: {
        const uint32_t size = plist_array_get_size(node);
        QVariantList list;
        list.reserve(size);
        for (uint32_t i = 0; i < size; ++i) {
            QVariant item = toVariant(plist_array_get_item(node, i), error);
            if (!item.isValid())
                return {};
            list.append(item);
        }
        return list;
    }
    case PLIST_DICT: {
        QVariantMap map;
        plist_dict_iter it = nullptr;
        plist_dict_new_iter(node, &it);
        for (;;) {
            char *key = nullptr;
            plist_t value = nullptr;
            plist_dict_next_item(node, it, &key, &value);
            if (!value) {
                free(key);
                break;
            }
            QVariant item = toVariant(value, error);
            const QString k = QString::fromUtf8(key);
            free(key);
            if (!item.isValid()) {
                free(it);
                return {};
            }
            map.insert(k, item);
        }
        free(it);
        return map;
    }
    default:
        if (error)
            *error = u"unsupported property-list node type %1"_s.arg(int(plist_get_node_type(node)));
        return {};
    }
}

std::unique_ptr<PList::Node> toNode(const QVariant &value, QString *error)
{
    switch (value.typeId()) {
    case QMetaType::Bool:
        return std::make_unique<PList::Boolean>(value.toBool());
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
        return std::make_unique<PList::Integer>(uint64_t(value.toLongLong()));
    case QMetaType::ULong:
    case QMetaType::ULongLong:
        return std::make_unique<PList::Integer>(uint64_t(value.toULongLong()));
    case QMetaType::Double:
    case QMetaType::Float:
        return std::make_unique<PList::Real>(value.toDouble());
    case QMetaType::QString:
        return std::make_unique<PList::String>(value.toString().toStdString());
    case QMetaType::QByteArray: {
        const QByteArray bytes = value.toByteArray();
        return std::make_unique<PList::Data>(std::vector<char>(bytes.begin(), bytes.end()));
    }
    case QMetaType::QDateTime: {
        // PList::Date(timeval) trips an assertion in libplist 2.2; wrap a C node instead.
        const qint64 ms = plistEpoch().msecsTo(value.toDateTime());
        const qint64 sec = ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);
        const qint64 usec = (ms - sec * 1000) * 1000;
        return std::make_unique<PList::Date>(plist_new_date(int32_t(sec), int32_t(usec)));
    }
    case QMetaType::QStringList:
    case QMetaType::QVariantList: {
        auto array = std::make_unique<PList::Array>();
        for (const QVariant &item : value.toList()) {
            std::unique_ptr<PList::Node> node = toNode(item, error);
            if (!node)
                return nullptr;
            array->Append(node.release());
        }
        return array;
    }
    case QMetaType::QVariantMap:
    case QMetaType::QVariantHash: {
        auto dict = std::make_unique<PList::Dictionary>();
        const QVariantMap map = value.toMap();
        for (auto it = map.cbegin(); it != map.cend(); ++it) {
            std::unique_ptr<PList::Node> node = toNode(it.value(), error);
            if (!node)
                return nullptr;
            dict->Set(it.key().toStdString(), node.get());
        }
        return dict;
    }
    default:
        if (error)
            *error = u"a property list cannot hold a value of type %1"_s.arg(QString::fromLatin1(value.typeName()));
        return nullptr;
    }
}
} // namespace

QVariant PlistCodec::parse(const QByteArray &bytes, QString *error)
{
    if (bytes.isEmpty()) {
        if (error)
            *error = u"empty property list"_s;
        return {};
    }
    plist_t root = nullptr;
    plist_from_memory(bytes.constData(), uint32_t(bytes.size()), &root);
    if (!root) {
        if (error)
            *error = u"not a valid XML or binary property list"_s;
        return {};
    }
    QVariant value = toVariant(root, error);
    plist_free(root);
    return value;
}

QByteArray PlistCodec::toXml(const QVariant &value, QString *error)
{
    std::unique_ptr<PList::Node> node = toNode(value, error);
    auto *structure = dynamic_cast<PList::Structure *>(node.get());
    if (!structure) {
        if (node && error)
            *error = u"the root of a property list must be a dictionary or a list"_s;
        return {};
    }
    return QByteArray::fromStdString(structure->ToXml());
}

QByteArray PlistCodec::toBinary(const QVariant &value, QString *error)
{
    std::unique_ptr<PList::Node> node = toNode(value, error);
    auto *structure = dynamic_cast<PList::Structure *>(node.get());
    if (!structure) {
        if (node && error)
            *error = u"the root of a property list must be a dictionary or a list"_s;
        return {};
    }
    const std::vector<char> bytes = structure->ToBin();
    return QByteArray(bytes.data(), qsizetype(bytes.size()));
}

QVariant PlistCodec::readFile(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = file.errorString();
        return {};
    }
    return parse(file.readAll(), error);
}
