#include "DailyFolderChoice.h"

#include "filing/DestinationPathRules.h"
#include "settings/SettingsKeys.h"
#include "settings/SettingsStore.h"
#include "support/SystemLog.h"

#include <functional>

using namespace Qt::StringLiterals;

const QString DailyFolderChoice::cDefaultPattern = u"MM-dd-yyyy"_s;
const QString DailyFolderChoice::cDefaultOwnPattern = u"yyyyMMdd"_s;
const QString DailyFolderChoice::cNoFolderExample = u"< NOT Creating SubFolder>"_s;

std::optional<QString> DailyFolderChoice::ownPatternProblem(const QString &text)
{
    const QString pattern = text.trimmed();
    return pattern.isEmpty() ? std::nullopt : DestinationPathRules::dailyFolderPatternProblem(pattern);
}

bool DailyFolderChoice::apply(qint64 choice)
{
    using DateStyle = DestinationPathRules::DateStyle;
    SettingsStore &store = SettingsStore::standard();
    QString pattern = store.stringForKey(cPrefDailyFolderDateFormat).value_or(cDefaultPattern);
    store.setBool(true, cPrefEnableUserDefinedDateFormatter);
    std::function<QString(const QDateTime &)> formatter;
    const auto withStyle = [](DateStyle style) {
        return [style](const QDateTime &moment) { return DestinationPathRules::formatDate(moment, style); };
    };
    const auto withPattern = [](const QString &text) {
        return [text](const QDateTime &moment) { return DestinationPathRules::formatDate(moment, text); };
    };
    switch (choice) {
    case 1:
        pattern = cDefaultPattern;
        formatter = withPattern(pattern);
        break;
    case 2:
        formatter = withStyle(DateStyle::Short);
        break;
    case 3:
        formatter = withStyle(DateStyle::Medium);
        break;
    case 4:
        formatter = withStyle(DateStyle::Long);
        break;
    case 5:
        formatter = withStyle(DateStyle::Full);
        break;
    case 6: {
        store.setBool(false, cPrefEnableUserDefinedDateFormatter);
        QString own = store.stringForKey(cPrefUserDefinedDateFormatter).value_or(QString()).trimmed();
        if (own.isEmpty())
            own = cDefaultOwnPattern;
        if (DestinationPathRules::dailyFolderPatternProblem(own)) {
            logLine(u"PreferencesViewController -> ibClickOnDateFormatter.... own pattern refused: "_s + own);
            return false;
        }
        pattern = own;
        formatter = withPattern(pattern);
        break;
    }
    default:
        break;
    }
    const std::optional<QString> example =
        formatter ? std::optional<QString>(formatter(DestinationPathRules::now())) : std::nullopt;
    if (choice == 0) {
        store.setString(cNoFolderExample, cPrefDailyFolderDateFormatExample);
        // Removed rather than emptied: no stored pattern is what means "no daily folder".
        store.removeObjectForKey(cPrefDailyFolderDateFormat);
    } else {
        store.setObject(example ? QVariant(*example) : QVariant(), cPrefDailyFolderDateFormatExample);
        store.setString(pattern, cPrefDailyFolderDateFormat);
    }
    logLine(u"PreferencesViewController -> ibClickOnDateFormatter.... tag="_s + QString::number(choice) + u" pattern="_s
            + store.stringForKey(cPrefDailyFolderDateFormat).value_or(QString()) + u" example="_s
            + example.value_or(cNoFolderExample));
    return true;
}
