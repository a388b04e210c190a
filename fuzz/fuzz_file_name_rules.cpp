// Barcode ids and unknown photos are read from file names found on cards and
// shares: any text, any bytes. The browser reads them from URLs and the rest of
// the program from paths; both must give the same group.
#include "FuzzSupport.h"
#include "model/FileNameConvention.h"

#include <QStringView>
#include <QUrl>

using namespace Qt::StringLiterals;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString name = FuzzSupport::text(data, size);
    const QString id = FileNameConvention::barcodeIdForName(name);
    FileNameConvention::isUnknownPhoto(name);
    if (id != FileNameConvention::cOriginalFileNameMarker)
        FUZZ_REQUIRE(!id.contains(u'_') && !id.contains(u' ') && !id.contains(u'/'), name);

    FileNameConvention::barcodeIdForUrl(QUrl(name));
    // Paths that are valid text; names carrying raw bytes are the path class's business.
    if (QStringView(name).isValidUtf16() && !name.contains(QChar(0))) {
        const QString path = u"/card/DCIM/"_s + name.section(u'/', -1);
        const QString fromUrl = FileNameConvention::barcodeIdForUrl(QUrl::fromLocalFile(path));
        FUZZ_REQUIRE(fromUrl == FileNameConvention::barcodeIdForName(path), path + u" gives "_s + fromUrl);
    }
    return 0;
}
