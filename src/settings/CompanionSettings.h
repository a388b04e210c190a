#pragma once

#include <QHash>
#include <QString>
#include <QStringList>
#include <optional>

// The settings of the companion application Mainstay, a Java program that keeps
// them through the Java preferences under node "Mainstay": text values
// "savepath", "reversescan", "disablescan". Read only. Three places are looked at,
// and the first that holds the node gives every value:
//   1. the user's own Java preferences, ~/.java/.userPrefs/Mainstay/prefs.xml;
//   2. the property list a Mac keeps them in,
//      ~/Library/Preferences/com.apple.java.util.prefs.plist (node "/" then "Mainstay/"),
//      still honoured for homes carried over from one;
//   3. the machine's Java preferences, /etc/.java/.systemPrefs/Mainstay/prefs.xml
//      (LUMISORT_JAVA_SYSTEM_PREFS, when set, stands for "/etc/.java/.systemPrefs").
// The user's own files come before the machine's because what an administrator
// sets for everyone is only a default; of the two user files the one Java writes
// on this system is the current one, the property list at most a leftover. The
// values never mix across files, so what is shown as read is what is used.
// A file that is there but damaged, unreadable or oversized is logged and passed over.
class CompanionSettings
{
public:
    static QString userPreferencesFile();
    // The property list (the name is kept for its callers).
    static QString preferencesFilePath();
    static QString systemPreferencesFile();
    // In the order they are looked at.
    static QStringList searchedFiles();

    struct Reading
    {
        QString file; // where the values come from; empty when no file holds the node
        QHash<QString, QString> values;
        QStringList problems; // "<path>: <what is wrong>" for each file passed over
    };
    static Reading read();

    // The node's text value for the key, or nothing.
    static std::optional<QString> objectForKey(const std::optional<QString> &key);
    static std::optional<QString> savePath();
};
