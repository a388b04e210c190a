#include "ImageTypes.h"

#include <QMimeDatabase>

using namespace Qt::StringLiterals;

bool ImageTypes::isImageFile(const QString &path)
{
    static const QMimeDatabase database; // thread-safe for lookups
    const QMimeType type = database.mimeTypeForFile(path, QMimeDatabase::MatchDefault);
    if (type.name().startsWith(u"image/"_s))
        return true;
    const QStringList ancestors = type.allAncestors();
    for (const QString &ancestor : ancestors) {
        if (ancestor.startsWith(u"image/"_s))
            return true;
    }
    return false;
}
