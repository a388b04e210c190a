#include "CompanionSettings.h"

#include "support/PathUtils.h"
#include "support/PlistCodec.h"
#include "support/SystemLog.h"

#include <QFileInfo>

using namespace Qt::StringLiterals;

QString CompanionSettings::preferencesFilePath()
{
    return PathUtils::expandTilde(u"~/Library/Preferences"_s) + u"/com.apple.java.util.prefs.plist"_s;
}

std::optional<QString> CompanionSettings::objectForKey(const std::optional<QString> &key)
{
    if (!key)
        return std::nullopt;
    const QString path = preferencesFilePath();
    logLine(u"pathtopref = "_s + path);
    if (!QFileInfo::exists(path)) {
        logLine(u"BAD - cannot find the pref yet...."_s);
        return std::nullopt;
    }
    const QVariant root = PlistCodec::readFile(path);
    const QVariant top = root.toMap().value(u"/"_s);
    if (top.typeId() != QMetaType::QVariantMap)
        return std::nullopt;
    const QVariant node = top.toMap().value(u"Mainstay/"_s);
    if (node.typeId() != QMetaType::QVariantMap) {
        logLine(u"Mainstay pref does NOT exist YET???"_s);
        return std::nullopt;
    }
    const QVariant value = node.toMap().value(*key);
    if (value.typeId() != QMetaType::QString)
        return std::nullopt;
    return value.toString();
}

std::optional<QString> CompanionSettings::savePath()
{
    return objectForKey(u"savepath"_s);
}
