#define ZX_USE_UTF8 1

#include "BarcodeReader.h"

#include "BarcodeRegions.h"
#include "model/ThumbnailMaker.h"
#include "reassign/BarcodeText.h"
#include "support/SystemLog.h"

#include <QElapsedTimer>
#include <ZXing/ReadBarcode.h>
#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

// A piece of the second pass: large enough to hold a whole barcode card seen
// from close up, small enough that a code filling a tenth of the photo stands
// out from its surroundings for the binarizer.
constexpr int cTilePixels = 1500;
// The most pieces read again: a label seldom shows more codes, and each piece costs about 50 ms.
constexpr int cMostPieces = 4;

ZXing::DecodeHints hints()
{
    using F = ZXing::BarcodeFormat;
    return ZXing::DecodeHints()
        .setFormats(F::Code128 | F::Code39 | F::EAN13 | F::EAN8 | F::UPCA | F::ITF | F::QRCode | F::DataMatrix)
        .setTryHarder(true)
        .setTryRotate(true)
        // The library's own smaller copies are left out: merging what it finds at two sizes aborts
        // the program on a failed assertion in zxing 1.4 (a 24 MP barcode card photo does it).
        // The two passes here look at several sizes anyway.
        .setTryDownscale(false);
}

QString formatName(ZXing::BarcodeFormat format)
{
    return QString::fromLatin1(ZXing::ToString(format));
}

void appendNew(QList<BarcodeReader::Code> &codes, const QList<BarcodeReader::Code> &found)
{
    for (const BarcodeReader::Code &code : found) {
        const bool seen = std::any_of(codes.cbegin(), codes.cend(), [&](const BarcodeReader::Code &c) {
            return c.text == code.text && c.format == code.format;
        });
        if (!seen)
            codes.append(code);
    }
}

// Adds what zxing found in the part of picture at offset, in fractions of the whole picture.
void collect(const ZXing::Results &results, QPoint offset, QSize whole, QList<BarcodeReader::Code> &codes)
{
    for (const ZXing::Result &result : results) {
        if (!result.isValid())
            continue;
        BarcodeReader::Code code;
        code.text = QString::fromStdString(result.text());
        code.format = formatName(result.format());
        if (const auto problem = BarcodeText::problem(code.text)) {
            logLine(u"BarcodeReader -> refused "_s + code.format + u" barcode: "_s + *problem);
            continue;
        }
        if (code.text.isEmpty())
            continue;
        for (const ZXing::PointI &corner : result.position())
            code.position << QPointF(double(corner.x + offset.x()) / whole.width(),
                                     double(corner.y + offset.y()) / whole.height());
        appendNew(codes, {code});
    }
}

QList<BarcodeReader::Code> readPart(const QImage &grey, const QRect &part)
{
    const uchar *start = grey.constScanLine(part.top()) + part.left();
    const ZXing::ImageView view(start, part.width(), part.height(), ZXing::ImageFormat::Lum, int(grey.bytesPerLine()));
    QList<BarcodeReader::Code> codes;
    collect(ZXing::ReadBarcodes(view, hints()), part.topLeft(), grey.size(), codes);
    return codes;
}

QImage greyPicture(const NativePath &path, int pixels, QSize *wholeSize = nullptr)
{
    ThumbnailMaker::Result result = ThumbnailMaker::picture(path, pixels);
    if (wholeSize)
        *wholeSize = result.imageSize;
    if (result.image.isNull())
        return {};
    return result.image.convertToFormat(QImage::Format_Grayscale8);
}

} // namespace

BarcodeReader::Reading BarcodeReader::read(const NativePath &path)
{
    QElapsedTimer timer;
    timer.start();
    Reading reading;
    QSize stored;
    const QImage first = greyPicture(path, cFirstPassPixels, &stored);
    reading.readable = !first.isNull();
    if (reading.readable) {
        reading.codes = readPart(first, first.rect());
        if (!reading.codes.isEmpty()) {
            reading.pass = 1;
        } else {
            // Only the parts of the photo that look like a printed code are read again, at (up to) full
            // size: a code of a few percent of the photo's width has too few pixels per bar at the first
            // size. Most photos show no label at all, and reading the whole photo in pieces costs seconds.
            const QList<BarcodeRegions::Region> regions = BarcodeRegions::find(first, cMostPieces);
            const bool larger = std::max(stored.width(), stored.height()) > cFirstPassPixels;
            const QImage second = regions.isEmpty() ? QImage() : larger ? greyPicture(path, cSecondPassPixels) : first;
            for (const BarcodeRegions::Region &region : regions) {
                const QPointF centre = region.area.center();
                const QSize size(std::min(cTilePixels, second.width()), std::min(cTilePixels, second.height()));
                const int left = std::clamp(qRound(centre.x() * second.width()) - size.width() / 2, 0,
                                            second.width() - size.width());
                const int top = std::clamp(qRound(centre.y() * second.height()) - size.height() / 2, 0,
                                           second.height() - size.height());
                appendNew(reading.codes, readPart(second, QRect(QPoint(left, top), size)));
                ++reading.pieces;
            }
            if (!reading.codes.isEmpty())
                reading.pass = 2;
        }
    }
    reading.ms = timer.elapsed();
    return reading;
}
