#include "JavaPreferences.h"

#include <QStringList>
#include <QXmlStreamReader>

using namespace Qt::StringLiterals;

namespace {

bool isSafeFolderChar(QChar c)
{
    const char16_t u = c.unicode();
    return u > 0x1f && u < 0x7f && u != u'/' && u != u'.' && u != u'_';
}

// Java's Base64 variant without capital letters, so that the folder names survive
// a file system that folds case.
constexpr char cAltAlphabet[] = "!\"#$%&'(),-.:;<>@[]^`_{|}~abcdefghijklmnopqrstuvwxyz0123456789+?";
static_assert(sizeof(cAltAlphabet) == 65);

QString altBase64(const QByteArray &bytes)
{
    QString out;
    qsizetype i = 0;
    const auto at = [&](qsizetype k) { return quint8(bytes.at(k)); };
    for (; i + 2 < bytes.size(); i += 3) {
        const quint32 group = (at(i) << 16) | (at(i + 1) << 8) | at(i + 2);
        for (int shift = 18; shift >= 0; shift -= 6)
            out += QLatin1Char(cAltAlphabet[(group >> shift) & 0x3f]);
    }
    const qsizetype rest = bytes.size() - i;
    if (rest == 1) {
        out += QLatin1Char(cAltAlphabet[at(i) >> 2]);
        out += QLatin1Char(cAltAlphabet[(at(i) << 4) & 0x3f]);
        out += u"=="_s;
    } else if (rest == 2) {
        out += QLatin1Char(cAltAlphabet[at(i) >> 2]);
        out += QLatin1Char(cAltAlphabet[((at(i) << 4) & 0x3f) | (at(i + 1) >> 4)]);
        out += QLatin1Char(cAltAlphabet[(at(i + 1) << 2) & 0x3f]);
        out += u'=';
    }
    return out;
}

} // namespace

QString JavaPreferences::folderName(const QString &nodeName)
{
    if (std::all_of(nodeName.begin(), nodeName.end(), isSafeFolderChar))
        return nodeName;
    QByteArray units;
    units.reserve(nodeName.size() * 2);
    for (const QChar c : nodeName) {
        units.append(char(c.unicode() >> 8));
        units.append(char(c.unicode() & 0xff));
    }
    return u'_' + altBase64(units);
}

QString JavaPreferences::nodeFile(const QString &root, const QString &nodePath)
{
    QString path = root;
    for (const QString &name : nodePath.split(u'/', Qt::SkipEmptyParts))
        path += u'/' + folderName(name);
    return path + u"/prefs.xml"_s;
}

JavaPreferences::Node JavaPreferences::parse(const QByteArray &xml)
{
    Node node;
    QXmlStreamReader reader(xml);
    int depth = 0;
    const auto fail = [&](const QString &problem) {
        node.problem = u"line %1: "_s.arg(reader.lineNumber()) + problem;
        return node;
    };
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartElement: {
            ++depth;
            const QXmlStreamAttributes attributes = reader.attributes();
            if (depth == 1) {
                if (reader.name() != u"map"_s)
                    return fail(u"the document is <%1>, not a preferences map"_s.arg(reader.name()));
                // Java refuses a map written by a newer format, and so do we.
                const QString version = attributes.value(u"MAP_XML_VERSION"_s).toString();
                if (version.compare(u"1.0"_s) > 0)
                    return fail(u"map format %1 is newer than 1.0"_s.arg(version));
            } else if (depth == 2 && reader.name() == u"entry"_s) {
                if (!attributes.hasAttribute(u"key"_s) || !attributes.hasAttribute(u"value"_s))
                    return fail(u"an entry without a key or a value"_s);
                // A key given twice: the later one counts, as when Java loads the file.
                node.values.insert(attributes.value(u"key"_s).toString(), attributes.value(u"value"_s).toString());
            } else {
                return fail(u"unexpected <%1>"_s.arg(reader.name()));
            }
            break;
        }
        case QXmlStreamReader::EndElement:
            --depth;
            break;
        case QXmlStreamReader::Characters:
            if (!reader.isWhitespace())
                return fail(u"text where only entries belong"_s);
            break;
        default:
            break;
        }
    }
    if (reader.hasError())
        return fail(reader.errorString());
    node.usable = true;
    return node;
}
