// What a scanner or a typing operator may enter as a barcode. Every entry the
// check lets through must make a photo name that fits in one path component
// and reads back as the same barcode.
#include "FuzzSupport.h"
#include "model/BarcodeText.h"
#include "model/FileNameConvention.h"
#include "support/NativePath.h"

using namespace Qt::StringLiterals;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString barcode = FuzzSupport::text(data, size);
    if (!BarcodeText::isAcceptable(barcode))
        return 0;
    const QString photoName = barcode + u"_x"_s;
    const NativePath native(photoName);
    FUZZ_REQUIRE(native.bytes().size() <= 255, photoName);
    FUZZ_REQUIRE(!native.bytes().contains('/') && !native.bytes().contains('\0'), photoName);
    FUZZ_REQUIRE(NativePath::fromBytes(native.bytes()).toString() == photoName, photoName);
    if (!barcode.contains(u'_') && !barcode.contains(u' ') && !barcode.contains(u'.'))
        FUZZ_REQUIRE(FileNameConvention::barcodeIdForName(photoName + u".jpg"_s) == barcode, photoName);
    return 0;
}
