#pragma once

#include <QDateTime>
#include <QString>
#include <functional>
#include <optional>

// How the destination tree is named: today's daily folder (from a date pattern,
// with the day ending at 03:00), the daily destination folder, the folder of
// unassigned photos, and the two name tests that decide whether a photo still
// lacks a barcode. Pure functions of the settings, the name and the clock, except
// that the unassigned folder is created on the way.
class DestinationPathRules
{
public:
    static constexpr qint64 cDayShiftSeconds = 10800; // work before 03:00 belongs to the day before

    // Nothing without a pattern, and nothing for a pattern whose name is refused
    // (see dailyFolderPatternProblem): no rule ever names a folder outside the destination.
    static std::optional<QString> performDateFormatString(const std::optional<QString> &format);
    // Why a pattern cannot name the daily folder today (it gives "..", "." or no name at all);
    // nothing when it can.
    static std::optional<QString> dailyFolderPatternProblem(const QString &pattern);
    // The same for the stored pattern; nothing when none is stored.
    static std::optional<QString> storedDailyFolderPatternProblem();
    static std::optional<QString> getDailyFolderName(const std::optional<QString> &key = std::nullopt);
    static std::optional<QString> getDuplicateFolderPath(const QString &pathKey,
                                                         const std::optional<QString> &withDateFormat);
    static std::optional<QString> formPathToImageInsideMainImagesFolder(const std::optional<QString> &name);
    static std::optional<QString> getDestinationPathForUnknown();
    // The same folder without creating it.
    static std::optional<QString> unassignedFolderPath();
    static bool checkIfIsOriginal(const std::optional<QString> &path);
    static std::optional<QString> checkIfIsUnknown(const std::optional<QString> &path);

    // Joins a folder and one path component with exactly one "/" between them.
    static QString join(const QString &folder, const QString &component);

    // Date formatting with the Unicode date field symbols (ICU), default locale and time zone.
    static QString formatDate(const QDateTime &moment, const QString &pattern);
    enum class DateStyle
    {
        Short,
        Medium,
        Long,
        Full
    };
    static QString formatDate(const QDateTime &moment, DateStyle style);

    // The clock the rules read; tests stand at 02:59 and 03:00.
    static QDateTime now();
    static void setClockForTesting(std::function<QDateTime()> clock);
};
