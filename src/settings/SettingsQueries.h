#pragma once

#include <QVariantMap>

// Queries over the settings that several parts of the program ask; each reads
// the store at every call. The preferences pane offers them as its own class
// operations.
class SettingsQueries
{
public:
    // Keeps "prefRadioSet1SelectedTag" at 200 or 202: anything else becomes 200.
    static void validateReassignMode();
    // After the rule: true for the automatic mode.
    static bool isAutoReassignMode();
    // True when the bundle's executable name, lower-cased, begins with "vimo".
    static bool isStandaloneApp();
    static bool isStandaloneApp(const QVariantMap &infoDictionary);
    // Whether "prefAlwaysPromptForReassignmentMode" decides if the reassignment-mode
    // prompt is shown: only in a standalone build. Otherwise the companion's
    // "prefMainstayDisableScan" decides and the setting is never read.
    static bool alwaysPromptSettingApplies();
};
