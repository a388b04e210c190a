#include "PhotoNameRule.h"

#include "FileNameConvention.h"
#include "settings/SettingsKeys.h"
#include "settings/SettingsStore.h"
#include "settings/SharedConstants.h"
#include "support/PathUtils.h"
#include "support/SystemLog.h"

using namespace Qt::StringLiterals;

PhotoNameRule::PhotoNameRule(const QString &folder)
    : m_record(PhotoNameRecord::load(folder))
{ }

PhotoNameRule::PhotoNameRule(PhotoNameRecord record)
    : m_record(std::move(record))
{ }

bool PhotoNameRule::isOriginalByPartCount(const QString &fileNameOrPath)
{
    const int count = PhotoNameRecord::namePartCount(fileNameOrPath);
    const qint64 tag = SettingsStore::standard().integerForKey(cPrefOriginalNameFormatTag);
    switch (tag) {
    case 0:
        return count == 1;
    case 1:
        return count <= 2;
    case 2:
        return count <= 3;
    default:
        logLine(u"DestinationPathRules -> checkIfIsOriginal.... unknown prefOriginalNameFormatTag "_s
                + QString::number(tag));
        return false;
    }
}

PhotoNameRule::Reading PhotoNameRule::read(const QString &fileNameOrPath) const
{
    const QString name = PathUtils::fileName(fileNameOrPath);
    if (FileNameConvention::isUnknownPhoto(name)) {
        const QString base = PathUtils::baseName(name);
        const qsizetype separator = base.indexOf(cDefaultComponentSeparator1);
        return {Kind::Unknown, separator < 0 ? base : base.left(separator)};
    }
    if (m_record.originals.contains(name))
        return {Kind::Original, QString()};
    if (const auto given = m_record.given.constFind(name); given != m_record.given.cend())
        return {Kind::Barcoded, *given};
    for (qsizetype separator = name.indexOf(cDefaultComponentSeparator1); separator > 0;
         separator = name.indexOf(cDefaultComponentSeparator1, separator + 1)) {
        if (m_record.originals.contains(name.mid(separator + 1)))
            return {Kind::Barcoded, name.left(separator)};
    }
    const bool original =
        m_record.nameParts ? PhotoNameRecord::namePartCount(name) <= *m_record.nameParts : isOriginalByPartCount(name);
    const bool hasSeparator = FileNameConvention::barcodeIdForName(name) != FileNameConvention::cOriginalFileNameMarker;
    if (original)
        return {Kind::Original, QString(), hasSeparator};
    return {Kind::Barcoded, FileNameConvention::barcodeIdForName(name), true};
}

QString PhotoNameRule::sectionId(const QString &fileNameOrPath) const
{
    const Reading reading = read(fileNameOrPath);
    switch (reading.kind) {
    case Kind::Original:
        return FileNameConvention::cOriginalFileNameMarker;
    case Kind::Barcoded:
        return reading.barcode;
    case Kind::Unknown:
        break;
    }
    return FileNameConvention::barcodeIdForName(fileNameOrPath);
}
