#include "CompanionSettings.h"

#include "ForeignFile.h"
#include "JavaPreferences.h"
#include "support/PathUtils.h"
#include "support/PlistCodec.h"
#include "support/SystemLog.h"

using namespace Qt::StringLiterals;

namespace {

const QString cNode = u"Mainstay"_s;

// The node's values in a property list; nothing when the list lacks the node.
std::optional<QHash<QString, QString>> propertyListNode(const QByteArray &bytes, QString *problem)
{
    const QVariant root = PlistCodec::parse(bytes, problem);
    if (!root.isValid()) {
        if (problem->isEmpty())
            *problem = u"not a property list"_s;
        return std::nullopt;
    }
    problem->clear();
    const QVariant top = root.toMap().value(u"/"_s);
    const QVariant node = top.toMap().value(cNode + u'/');
    if (top.typeId() != QMetaType::QVariantMap || node.typeId() != QMetaType::QVariantMap)
        return std::nullopt;
    QHash<QString, QString> values;
    const QVariantMap map = node.toMap();
    for (auto it = map.cbegin(); it != map.cend(); ++it)
        if (it.value().typeId() == QMetaType::QString)
            values.insert(it.key(), it.value().toString());
    return values;
}

} // namespace

QString CompanionSettings::userPreferencesFile()
{
    return JavaPreferences::nodeFile(PathUtils::expandTilde(u"~/.java/.userPrefs"_s), cNode);
}

QString CompanionSettings::preferencesFilePath()
{
    return PathUtils::expandTilde(u"~/Library/Preferences"_s) + u"/com.apple.java.util.prefs.plist"_s;
}

QString CompanionSettings::systemPreferencesFile()
{
    QString root = qEnvironmentVariable("LUMISORT_JAVA_SYSTEM_PREFS");
    if (root.isEmpty())
        root = u"/etc/.java/.systemPrefs"_s;
    return JavaPreferences::nodeFile(root, cNode);
}

QStringList CompanionSettings::searchedFiles()
{
    return {userPreferencesFile(), preferencesFilePath(), systemPreferencesFile()};
}

CompanionSettings::Reading CompanionSettings::read()
{
    Reading reading;
    const QString propertyList = preferencesFilePath();
    for (const QString &path : searchedFiles()) {
        const ForeignFile::Content content = ForeignFile::read(path, JavaPreferences::cMaxFileBytes);
        if (content.status == ForeignFile::Status::Absent)
            continue;
        QString problem = content.problem;
        std::optional<QHash<QString, QString>> values;
        if (content.status == ForeignFile::Status::Read) {
            if (path == propertyList) {
                values = propertyListNode(content.bytes, &problem);
                if (!values && problem.isEmpty())
                    logLine(u"Companion settings: "_s + path + u" has no Mainstay node"_s);
            } else {
                JavaPreferences::Node node = JavaPreferences::parse(content.bytes);
                if (node.usable)
                    values = std::move(node.values);
                problem = node.problem;
            }
        }
        if (!problem.isEmpty()) {
            reading.problems += path + u": "_s + problem;
            logLine(u"Companion settings: passed over "_s + reading.problems.last());
            continue;
        }
        if (values) {
            reading.file = path;
            reading.values = std::move(*values);
            logLine(u"Companion settings read from "_s + path);
            return reading;
        }
    }
    logLine(u"Companion settings: none found"_s);
    return reading;
}

std::optional<QString> CompanionSettings::objectForKey(const std::optional<QString> &key)
{
    if (!key)
        return std::nullopt;
    const Reading reading = read();
    const auto it = reading.values.constFind(*key);
    if (it == reading.values.cend())
        return std::nullopt;
    return *it;
}

std::optional<QString> CompanionSettings::savePath()
{
    return objectForKey(u"savepath"_s);
}
