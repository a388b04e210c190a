#include "PlistCodec.h"

#include <QDateTime>
#include <QFile>
#include <QHash>
#include <QList>
#include <QTimeZone>
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <memory>
#include <plist/plist.h>

using namespace Qt::StringLiterals;

namespace {
// Property-list dates count from 2001-01-01 UTC.
const QDateTime &plistEpoch()
{
    static const QDateTime epoch(QDate(2001, 1, 1), QTime(0, 0), QTimeZone::utc());
    return epoch;
}

// libplist builds, frees and (for binary lists) parses nested containers by
// recursion, and so do we: a file nested tens of thousands deep overflows the
// stack. No setting comes near this depth.
constexpr int cMaxDepth = 512;

// Nesting of <array> and <dict> elements, counted before the parser sees them.
int xmlDepth(const QByteArray &bytes)
{
    int depth = 0;
    int deepest = 0;
    const qsizetype size = bytes.size();
    for (qsizetype i = bytes.indexOf('<'); i >= 0 && i < size; i = bytes.indexOf('<', i + 1)) {
        if (QByteArrayView(bytes).sliced(i).startsWith("<!--")) {
            i = bytes.indexOf("-->", i + 4);
            if (i < 0)
                break;
            continue;
        }
        if (QByteArrayView(bytes).sliced(i).startsWith("<![CDATA[")) {
            i = bytes.indexOf("]]>", i + 9);
            if (i < 0)
                break;
            continue;
        }
        const bool closing = i + 1 < size && bytes.at(i + 1) == '/';
        const qsizetype nameAt = i + (closing ? 2 : 1);
        qsizetype nameEnd = nameAt;
        while (nameEnd < size && std::isalnum(static_cast<unsigned char>(bytes.at(nameEnd))))
            ++nameEnd;
        const QByteArrayView name = QByteArrayView(bytes).sliced(nameAt, nameEnd - nameAt);
        if (name != "array" && name != "dict")
            continue;
        const qsizetype end = bytes.indexOf('>', nameEnd);
        if (end < 0)
            break;
        if (closing)
            --depth;
        else if (bytes.at(end - 1) != '/')
            deepest = std::max(deepest, ++depth);
        i = end;
    }
    return deepest;
}

// Reads a binary list's trailer, offset table and object headers, every read
// checked against the size. What it cannot read is left for the parser to reject.
struct BinaryList
{
    const unsigned char *data = nullptr;
    quint64 size = 0;
    unsigned offsetWidth = 0;
    unsigned refWidth = 0;
    quint64 count = 0;
    quint64 root = 0;
    quint64 table = 0;

    // False when the bytes hold no readable trailer.
    bool open(const QByteArray &bytes)
    {
        data = reinterpret_cast<const unsigned char *>(bytes.constData());
        size = quint64(bytes.size());
        if (size < 8 + 32)
            return false;
        const quint64 trailer = size - 32;
        offsetWidth = data[trailer + 6];
        refWidth = data[trailer + 7];
        return number(trailer + 8, 8, &count) && number(trailer + 16, 8, &root) && number(trailer + 24, 8, &table);
    }
    // A big-endian unsigned number of width bytes.
    bool number(quint64 at, unsigned width, quint64 *value) const
    {
        if (width == 0 || width > 8 || at > size || size - at < width)
            return false;
        *value = 0;
        for (unsigned k = 0; k < width; ++k)
            *value = (*value << 8) | data[at + k];
        return true;
    }
    // The k-th reference of a container whose references start at first.
    bool reference(quint64 first, quint64 k, quint64 *value) const
    {
        return number(first + k * refWidth, refWidth, value);
    }
    // Object index's marker kind and the place and length of its content.
    bool object(quint64 index, unsigned *kind, quint64 *content, quint64 *length) const
    {
        quint64 at = 0;
        if (table > size || !number(table + index * offsetWidth, offsetWidth, &at) || at >= size)
            return false;
        *kind = data[at] >> 4;
        *length = data[at] & 0xF;
        *content = at + 1;
        if (*length == 0xF) {
            if (*content >= size || (data[*content] >> 4) != 0x1)
                return false;
            const unsigned width = 1u << (data[*content] & 0xF);
            if (!number(*content + 1, width, length))
                return false;
            *content += 1 + width;
        }
        return true;
    }
};

// Nesting of a binary list's containers, following references from the root
// without recursion. A reference loop counts as too deep. What this walk
// cannot read is left for the parser to reject.
int binaryDepth(const QByteArray &bytes)
{
    BinaryList list;
    if (!list.open(bytes) || list.count == 0 || list.count > list.size || list.root >= list.count)
        return 0;

    // The references held by container object i; empty for any other object.
    auto children = [&list](quint64 i, quint64 *first, quint64 *n) {
        unsigned kind = 0;
        quint64 refs = 0;
        quint64 items = 0;
        *n = 0;
        if (!list.object(i, &kind, &refs, &items) || (kind != 0xA && kind != 0xC && kind != 0xD))
            return;
        if (kind == 0xD)
            items *= 2;
        if (list.refWidth == 0 || items > (list.size - std::min(list.size, refs)) / list.refWidth)
            return;
        *first = refs;
        *n = items;
    };

    // Height of every object reached, worked out after its children.
    constexpr int cOnPath = -1;
    QHash<quint64, int> height;
    struct Step
    {
        quint64 object;
        quint64 first;
        quint64 count;
        quint64 next;
    };
    QList<Step> path;
    auto enter = [&](quint64 object) {
        Step step {object, 0, 0, 0};
        children(object, &step.first, &step.count);
        height.insert(object, cOnPath);
        path.append(step);
    };
    enter(list.root);
    while (!path.isEmpty()) {
        if (path.size() > cMaxDepth)
            return path.size();
        Step &top = path.last();
        if (top.next == top.count) {
            int deepest = 0;
            for (quint64 k = 0; k < top.count; ++k) {
                quint64 child = 0;
                list.reference(top.first, k, &child);
                deepest = std::max(deepest, height.value(child, 0));
            }
            height.insert(top.object, deepest + (top.count > 0 ? 1 : 0));
            path.removeLast();
            continue;
        }
        quint64 child = 0;
        list.reference(top.first, top.next, &child);
        ++top.next;
        if (child >= list.count)
            continue;
        const auto known = height.constFind(child);
        if (known == height.cend())
            enter(child);
        else if (*known == cOnPath)
            return cMaxDepth + 1;
        else if (path.size() + *known > cMaxDepth)
            return path.size() + *known;
    }
    return height.value(list.root, 0) + 1;
}

// libplist aborts the whole program (an assertion) when it hands out a
// dictionary key holding a NUL character, which a binary list can encode. Such
// a list is refused before it is parsed. What this scan cannot read is left for
// the parser to reject.
bool binaryKeyHoldsNul(const QByteArray &bytes)
{
    BinaryList list;
    if (!list.open(bytes) || list.count > list.size || list.table > list.size || list.refWidth == 0)
        return false;
    const unsigned char *data = list.data;
    const quint64 size = list.size;
    // A well-formed list refers to each object about once: more references than
    // bytes means overlapping containers, which are refused rather than walked.
    quint64 budget = size;
    for (quint64 i = 0; i < list.count; ++i) {
        unsigned kind = 0;
        quint64 refs = 0, items = 0;
        if (!list.object(i, &kind, &refs, &items) || kind != 0xD)
            continue;
        if (items > (size - std::min(size, refs)) / list.refWidth || items > budget)
            return true;
        budget -= items;
        for (quint64 k = 0; k < items; ++k) {
            quint64 key = 0, content = 0, length = 0;
            unsigned keyKind = 0;
            if (!list.reference(refs, k, &key) || key >= list.count || !list.object(key, &keyKind, &content, &length))
                continue;
            const quint64 unit = keyKind == 0x5 ? 1 : keyKind == 0x6 ? 2 : 0;
            if (unit == 0 || content > size || length > (size - content) / unit)
                continue;
            for (quint64 c = 0; c < length; ++c) {
                if (data[content + c * unit] == 0 && (unit == 1 || data[content + c * unit + 1] == 0))
                    return true;
            }
        }
    }
    return false;
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

// Writing builds C nodes too: a libplist++ 2.2 array copies every item it is
// given, and those copies of nested arrays are never freed.
struct NodeFree
{
    void operator()(plist_t node) const { plist_free(node); }
};
using NodePtr = std::unique_ptr<void, NodeFree>;

NodePtr toNode(const QVariant &value, QString *error)
{
    switch (value.typeId()) {
    case QMetaType::Bool:
        return NodePtr(plist_new_bool(value.toBool() ? 1 : 0));
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
        return NodePtr(plist_new_uint(uint64_t(value.toLongLong())));
    case QMetaType::ULong:
    case QMetaType::ULongLong:
        return NodePtr(plist_new_uint(uint64_t(value.toULongLong())));
    case QMetaType::Double:
    case QMetaType::Float:
        return NodePtr(plist_new_real(value.toDouble()));
    case QMetaType::QString:
        return NodePtr(plist_new_string(value.toString().toUtf8().constData()));
    case QMetaType::QByteArray: {
        const QByteArray bytes = value.toByteArray();
        return NodePtr(plist_new_data(bytes.constData(), uint64_t(bytes.size())));
    }
    case QMetaType::QDateTime: {
        const qint64 ms = plistEpoch().msecsTo(value.toDateTime());
        const qint64 sec = ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);
        const qint64 usec = (ms - sec * 1000) * 1000;
        return NodePtr(plist_new_date(int32_t(sec), int32_t(usec)));
    }
    case QMetaType::QStringList:
    case QMetaType::QVariantList: {
        NodePtr array(plist_new_array());
        for (const QVariant &item : value.toList()) {
            NodePtr node = toNode(item, error);
            if (!node)
                return nullptr;
            plist_array_append_item(array.get(), node.release()); // the array owns it now
        }
        return array;
    }
    case QMetaType::QVariantMap:
    case QMetaType::QVariantHash: {
        NodePtr dict(plist_new_dict());
        const QVariantMap map = value.toMap();
        for (auto it = map.cbegin(); it != map.cend(); ++it) {
            NodePtr node = toNode(it.value(), error);
            if (!node)
                return nullptr;
            plist_dict_set_item(dict.get(), it.key().toUtf8().constData(), node.release()); // owned by the dictionary
        }
        return dict;
    }
    default:
        if (error)
            *error = u"a property list cannot hold a value of type %1"_s.arg(QString::fromLatin1(value.typeName()));
        return nullptr;
    }
}

// The root of a property list: a dictionary or a list.
NodePtr rootNode(const QVariant &value, QString *error)
{
    NodePtr node = toNode(value, error);
    if (node && plist_get_node_type(node.get()) != PLIST_DICT && plist_get_node_type(node.get()) != PLIST_ARRAY) {
        if (error)
            *error = u"the root of a property list must be a dictionary or a list"_s;
        return nullptr;
    }
    return node;
}
} // namespace

QVariant PlistCodec::parse(const QByteArray &bytes, QString *error)
{
    if (bytes.isEmpty()) {
        if (error)
            *error = u"empty property list"_s;
        return {};
    }
    const int depth = bytes.startsWith("bplist") ? binaryDepth(bytes) : xmlDepth(bytes);
    if (depth > cMaxDepth) {
        if (error)
            *error = u"containers nested deeper than %1 levels"_s.arg(cMaxDepth);
        return {};
    }
    if (bytes.startsWith("bplist") && binaryKeyHoldsNul(bytes)) {
        if (error)
            *error = u"a dictionary key holds a NUL character"_s;
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
    const NodePtr root = rootNode(value, error);
    if (!root)
        return {};
    char *xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(root.get(), &xml, &length);
    const QByteArray bytes(xml, qsizetype(length));
    plist_to_xml_free(xml);
    return bytes;
}

QByteArray PlistCodec::toBinary(const QVariant &value, QString *error)
{
    const NodePtr root = rootNode(value, error);
    if (!root)
        return {};
    char *bin = nullptr;
    uint32_t length = 0;
    plist_to_bin(root.get(), &bin, &length);
    const QByteArray bytes(bin, qsizetype(length));
    plist_to_bin_free(bin);
    return bytes;
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
