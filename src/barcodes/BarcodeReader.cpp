#define ZX_USE_UTF8 1

#include "BarcodeReader.h"

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
// Neighbouring pieces share a third of their size, so a code cut by one edge lies whole in the next piece.
constexpr int cTileStep = cTilePixels * 2 / 3;

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

// Starts of the pieces along one side: evenly spread, the last one ending at the edge.
QList<int> tileStarts(int length)
{
    if (length <= cTilePixels)
        return {0};
    QList<int> starts;
    for (int start = 0; start + cTilePixels < length; start += cTileStep)
        starts.append(start);
    starts.append(length - cTilePixels);
    return starts;
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
            // The photo at (up to) full size, read piece by piece: a code of a few percent of the
            // photo's width has too few pixels per bar at the first size. Codes large enough to be
            // seen whole were found by the first pass. Larger only when the photo has more pixels
            // than the first look used.
            const bool larger = std::max(stored.width(), stored.height()) > cFirstPassPixels;
            const QImage second = larger ? greyPicture(path, cSecondPassPixels) : first;
            const bool severalTiles = second.width() > cTilePixels || second.height() > cTilePixels;
            if (!second.isNull() && reading.codes.isEmpty() && severalTiles) {
                for (const int top : tileStarts(second.height()))
                    for (const int left : tileStarts(second.width()))
                        appendNew(
                            reading.codes,
                            readPart(
                                second,
                                QRect(QPoint(left, top), QSize(cTilePixels, cTilePixels)).intersected(second.rect())));
            }
            if (!reading.codes.isEmpty())
                reading.pass = 2;
        }
    }
    reading.ms = timer.elapsed();
    return reading;
}
