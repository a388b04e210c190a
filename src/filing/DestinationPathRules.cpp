#include "DestinationPathRules.h"

#include "model/PhotoNameRule.h"
#include "settings/SettingsKeys.h"
#include "settings/SettingsStore.h"
#include "settings/SharedConstants.h"
#include "support/PathUtils.h"
#include "support/SafeFile.h"
#include "support/SystemLog.h"

#include <QMutex>
#include <QMutexLocker>
#include <memory>
#include <unicode/datefmt.h>
#include <unicode/locid.h>
#include <unicode/smpdtfmt.h>
#include <unicode/unistr.h>

using namespace Qt::StringLiterals;

namespace {
QMutex g_clockLock;
std::function<QDateTime()> g_clock;

icu::UnicodeString toIcu(const QString &text)
{
    return icu::UnicodeString(reinterpret_cast<const UChar *>(text.utf16()), int32_t(text.size()));
}

QString fromIcu(const icu::UnicodeString &text)
{
    return QString(reinterpret_cast<const QChar *>(text.getBuffer()), text.length());
}

UDate toUDate(const QDateTime &moment)
{
    return UDate(moment.toMSecsSinceEpoch());
}

QString format(icu::DateFormat *formatter, const QDateTime &moment)
{
    if (!formatter)
        return {};
    icu::UnicodeString out;
    formatter->format(toUDate(moment), out);
    return fromIcu(out);
}
} // namespace

QDateTime DestinationPathRules::now()
{
    QMutexLocker locker(&g_clockLock);
    return g_clock ? g_clock() : QDateTime::currentDateTime();
}

void DestinationPathRules::setClockForTesting(std::function<QDateTime()> clock)
{
    QMutexLocker locker(&g_clockLock);
    g_clock = std::move(clock);
}

QString DestinationPathRules::formatDate(const QDateTime &moment, const QString &pattern)
{
    UErrorCode status = U_ZERO_ERROR;
    icu::SimpleDateFormat formatter(toIcu(pattern), icu::Locale::getDefault(), status);
    if (U_FAILURE(status))
        return {};
    return format(&formatter, moment);
}

QString DestinationPathRules::formatDate(const QDateTime &moment, DateStyle style)
{
    icu::DateFormat::EStyle icuStyle = icu::DateFormat::kShort;
    switch (style) {
    case DateStyle::Short:
        icuStyle = icu::DateFormat::kShort;
        break;
    case DateStyle::Medium:
        icuStyle = icu::DateFormat::kMedium;
        break;
    case DateStyle::Long:
        icuStyle = icu::DateFormat::kLong;
        break;
    case DateStyle::Full:
        icuStyle = icu::DateFormat::kFull;
        break;
    }
    std::unique_ptr<icu::DateFormat> formatter(icu::DateFormat::createDateInstance(icuStyle));
    return format(formatter.get(), moment);
}

QString DestinationPathRules::join(const QString &folder, const QString &component)
{
    if (component.isEmpty())
        return folder;
    QString f = folder;
    while (f.size() > 1 && f.endsWith(u'/'))
        f.chop(1);
    QString c = component;
    while (c.startsWith(u'/'))
        c.remove(0, 1);
    if (f.isEmpty())
        return c;
    if (f.endsWith(u'/'))
        return f + c;
    return f + u'/' + c;
}

namespace {
constexpr qsizetype cLongestFolderName = 255; // bytes, as most file systems allow

QString dailyFolderNameFor(const QString &pattern)
{
    QString name = DestinationPathRules::formatDate(
        DestinationPathRules::now().addSecs(-DestinationPathRules::cDayShiftSeconds), pattern);
    // The name is one path component whatever the pattern says.
    name.replace(u'/', u':');
    return name;
}

// A daily folder must be a folder of its own below the destination: "." is the
// destination itself and ".." the folder above it, and a pattern that gives no
// name at all would file straight into the destination.
std::optional<QString> nameProblem(const QString &name)
{
    if (name.trimmed().isEmpty())
        return u"gives no folder name"_s;
    if (name == u"."_s || name == u".."_s)
        return u"gives \""_s + name + u"\", which is not a folder of its own: photos would land "_s
            + (name == u"."_s ? u"directly in the destination folder"_s : u"in the folder above the destination"_s);
    if (name.contains(QChar(0)))
        return u"gives a name with a null character"_s;
    if (name.toUtf8().size() > cLongestFolderName)
        return u"gives a name longer than a folder name may be"_s;
    return std::nullopt;
}
} // namespace

std::optional<QString> DestinationPathRules::dailyFolderPatternProblem(const QString &pattern)
{
    const std::optional<QString> problem = nameProblem(dailyFolderNameFor(pattern));
    if (!problem)
        return std::nullopt;
    return u"The daily folder pattern \""_s + pattern + u"\" "_s + *problem + u'.';
}

std::optional<QString> DestinationPathRules::storedDailyFolderPatternProblem()
{
    const std::optional<QString> pattern = SettingsStore::standard().stringForKey(cPrefDailyFolderDateFormat);
    if (!pattern || pattern->isEmpty())
        return std::nullopt;
    return dailyFolderPatternProblem(*pattern);
}

std::optional<QString> DestinationPathRules::performDateFormatString(const std::optional<QString> &pattern)
{
    if (!pattern || pattern->isEmpty())
        return std::nullopt;
    const QString name = dailyFolderNameFor(*pattern);
    if (const std::optional<QString> problem = nameProblem(name)) {
        logLine(u"DestinationPathRules -> performDateFormatString.... pattern \""_s + *pattern + u"\" "_s + *problem);
        return std::nullopt;
    }
    return name;
}

std::optional<QString> DestinationPathRules::getDailyFolderName(const std::optional<QString> &key)
{
    return performDateFormatString(SettingsStore::standard().stringForKey(key.value_or(cPrefDailyFolderDateFormat)));
}

std::optional<QString> DestinationPathRules::getDuplicateFolderPath(const QString &pathKey,
                                                                    const std::optional<QString> &withDateFormat)
{
    std::optional<QString> destination = SettingsStore::standard().stringForKey(pathKey);
    if (destination && destination->isEmpty())
        destination.reset();
    if (destination)
        destination = PathUtils::standardize(*destination);
    const std::optional<QString> daily = getDailyFolderName(withDateFormat);
    if (!daily)
        return destination;
    return destination ? join(*destination, *daily) : *daily;
}

std::optional<QString> DestinationPathRules::formPathToImageInsideMainImagesFolder(const std::optional<QString> &name)
{
    // Without a destination folder the daily folder's name alone would be a path
    // relative to wherever the program happens to run: nowhere to file into.
    const std::optional<QString> destination = SettingsStore::standard().stringForKey(cPrefDestinationPath);
    if (!destination || destination->isEmpty())
        return std::nullopt;
    const std::optional<QString> folder = getDuplicateFolderPath(cPrefDestinationPath, cPrefDailyFolderDateFormat);
    if (!folder)
        return std::nullopt;
    return join(*folder, name.value_or(QString()));
}

std::optional<QString> DestinationPathRules::unassignedFolderPath()
{
    SettingsStore &store = SettingsStore::standard();
    if (!store.boolForKey(cPrefDoUnassignedProcess))
        return std::nullopt;
    const std::optional<QString> destination = store.stringForKey(cPrefDestinationPath);
    if (!destination || destination->isEmpty()) {
        // Never create "UNASSIGNED_PHOTOS" in the current folder of the process.
        logLine(u"DestinationPathRules -> getDestinationPathForUnknown.... no destination folder is set"_s);
        return std::nullopt;
    }
    QString path = join(PathUtils::expandTilde(*destination), cStringForUNASSIGNED_PHOTOS);
    if (const std::optional<QString> daily = getDailyFolderName())
        path = join(path, *daily);
    return path;
}

std::optional<QString> DestinationPathRules::getDestinationPathForUnknown()
{
    const std::optional<QString> path = unassignedFolderPath();
    if (!path)
        return std::nullopt;
    if (const FileResult made = SafeFile::makeFolders(*path); !made)
        logLine(u"....Found Error = "_s + made.text());
    return path;
}

bool DestinationPathRules::checkIfIsOriginal(const std::optional<QString> &path)
{
    return path && PhotoNameRule::isOriginalByPartCount(*path);
}

std::optional<QString> DestinationPathRules::checkIfIsUnknown(const std::optional<QString> &path)
{
    if (!path)
        return std::nullopt;
    const QString name = PathUtils::baseName(*path);
    const QString lower = name.toLower();
    if (!lower.startsWith(u'?') && !lower.startsWith(u"unknown"_s))
        return std::nullopt;
    const qsizetype separator = name.indexOf(cDefaultComponentSeparator1);
    return separator < 0 ? name : name.left(separator);
}
