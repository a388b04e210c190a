#include "FileNameConvention.h"

#include "settings/SharedConstants.h"
#include "support/PathUtils.h"

using namespace Qt::StringLiterals;

const QString FileNameConvention::cOriginalFileNameMarker = u"?originalFileName?"_s;

QString FileNameConvention::barcodeIdForName(const QString &fileNameOrPath)
{
    QString base = PathUtils::baseName(fileNameOrPath);
    base.replace(u' ', cDefaultComponentSeparator1);
    // Empty components count: "_0001" has an empty barcode id.
    const qsizetype separator = base.indexOf(cDefaultComponentSeparator1);
    if (separator < 0)
        return cOriginalFileNameMarker;
    return base.left(separator);
}

QString FileNameConvention::barcodeIdForUrl(const QUrl &url)
{
    return barcodeIdForName(url.isLocalFile() ? url.toLocalFile() : url.path(QUrl::FullyDecoded));
}

bool FileNameConvention::isUnknownPhoto(const QString &path)
{
    const QString base = PathUtils::baseName(path).toLower();
    return base.startsWith(u'?') || base.startsWith(u"unknown"_s);
}
