#include "SettingsQueries.h"

#include "BundleInfo.h"
#include "ReassignMode.h"
#include "SettingsKeys.h"
#include "SettingsStore.h"

using namespace Qt::StringLiterals;

void SettingsQueries::validateReassignMode()
{
    SettingsStore &store = SettingsStore::standard();
    const qint64 tag = store.integerForKey(cPrefRadioSet1SelectedTag);
    if (tag == rawValue(ReassignMode::defaultmode) || tag == rawValue(ReassignMode::mode202))
        return;
    store.setInteger(rawValue(ReassignMode::defaultmode), cPrefRadioSet1SelectedTag);
}

bool SettingsQueries::isAutoReassignMode()
{
    validateReassignMode();
    const qint64 tag = SettingsStore::standard().integerForKey(cPrefRadioSet1SelectedTag);
    return tag == rawValue(ReassignMode::mode201) || tag == rawValue(ReassignMode::mode202);
}

bool SettingsQueries::isStandaloneApp()
{
    return isStandaloneApp(BundleInfo::infoDictionary());
}

bool SettingsQueries::isStandaloneApp(const QVariantMap &infoDictionary)
{
    const QVariant executable = infoDictionary.value(u"CFBundleExecutable"_s);
    if (executable.typeId() != QMetaType::QString)
        return false;
    return executable.toString().toLower().startsWith(u"vimo"_s);
}

bool SettingsQueries::alwaysPromptSettingApplies()
{
    return isStandaloneApp();
}
