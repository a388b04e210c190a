#pragma once

#include <QString>
#include <optional>

// The settings of the companion application Mainstay, which it keeps (through the
// Java preferences) in "~/Library/Preferences/com.apple.java.util.prefs.plist":
// node "/" then "Mainstay/", text values "savepath", "reversescan", "disablescan".
// Read only; XML and binary property lists both.
class CompanionSettings
{
public:
    static QString preferencesFilePath();
    // The node's text value for the key, or nothing.
    static std::optional<QString> objectForKey(const std::optional<QString> &key);
    static std::optional<QString> savePath();
};
