#define ZX_USE_UTF8 1

#include "BarcodeReader.h"

#include "BarcodeRegions.h"
#include "model/ThumbnailMaker.h"
#include "support/SystemLog.h"

#include <QElapsedTimer>
#include <QTransform>
#include <ZXing/ReadBarcode.h>
#include <algorithm>
#include <array>
#include <cmath>

using namespace Qt::StringLiterals;

namespace {

// A piece of the second pass: large enough to hold a whole barcode card seen
// from close up, small enough that a code filling a tenth of the photo stands
// out from its surroundings for the binarizer.
constexpr int cTilePixels = 1500;
// The most pieces read again: a label seldom shows more codes, and each piece costs about 50 ms.
constexpr int cMostPieces = 4;
// A retail code (EAN, UPC) or ITF narrower than this in the first-look copy has two pixels
// or fewer per bar, and its single check digit lets a misread pass as another valid number:
// it is read again at full size. Code 128 carries a stronger check and needs no second look.
constexpr int cSmallCheckDigitPixels = 200;

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
        .setTryDownscale(false)
        // Three scan lines must agree on a linear code, not two: a small EAN-13 once read as
        // another valid number, and a wrong code would name a customer's photos wrongly.
        .setMinLineCount(3);
}

// A dim photo (a card in the shade, a flash that did not fire) spreads its greys over a
// narrow band; stretched to the full range, its bars stand out for the binarizer and
// for the search for code-like parts alike.
void stretchContrast(QImage &grey)
{
    std::array<qint64, 256> histogram {};
    for (int y = 0; y < grey.height(); ++y) {
        const uchar *line = grey.constScanLine(y);
        for (int x = 0; x < grey.width(); ++x)
            ++histogram[line[x]];
    }
    const qint64 total = qint64(grey.width()) * grey.height();
    qint64 seen = 0;
    int low = 0;
    while (low < 255 && (seen += histogram[size_t(low)]) < total / 200)
        ++low;
    seen = 0;
    int high = 255;
    while (high > 0 && (seen += histogram[size_t(high)]) < total / 200)
        --high;
    if (high - low >= 160 || high <= low)
        return;
    std::array<uchar, 256> map {};
    for (int v = 0; v < 256; ++v)
        map[size_t(v)] = uchar(std::clamp((v - low) * 255 / (high - low), 0, 255));
    for (int y = 0; y < grey.height(); ++y) {
        uchar *line = grey.scanLine(y);
        for (int x = 0; x < grey.width(); ++x)
            line[x] = map[line[x]];
    }
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

// A piece whose bars run askew, turned so that they stand upright: a scan line then crosses
// every bar of a code turned further than its height allows (about 30 degrees for a label).
QList<BarcodeReader::Code> readTurned(const QImage &grey, const QRect &part, double angle)
{
    QImage piece = grey.copy(part);
    QTransform turn;
    turn.rotate(-angle);
    piece = piece.transformed(turn, Qt::SmoothTransformation).convertToFormat(QImage::Format_Grayscale8);
    QList<BarcodeReader::Code> codes;
    const ZXing::ImageView view(piece.constBits(), piece.width(), piece.height(), ZXing::ImageFormat::Lum,
                                int(piece.bytesPerLine()));
    // Positions in a turned piece would mislead: the piece as a whole stands for where it was found.
    const QRectF where(QPointF(double(part.left()) / grey.width(), double(part.top()) / grey.height()),
                       QSizeF(double(part.width()) / grey.width(), double(part.height()) / grey.height()));
    collect(ZXing::ReadBarcodes(view, hints()), QPoint(), piece.size(), codes);
    for (BarcodeReader::Code &code : codes)
        code.position = QPolygonF(where);
    return codes;
}

QImage greyPicture(const NativePath &path, int pixels, QSize *wholeSize = nullptr)
{
    ThumbnailMaker::Result result = ThumbnailMaker::picture(path, pixels);
    if (wholeSize)
        *wholeSize = result.imageSize;
    if (result.image.isNull())
        return {};
    QImage grey = result.image.convertToFormat(QImage::Format_Grayscale8);
    stretchContrast(grey);
    return grey;
}

bool hasWeakCheck(const BarcodeReader::Code &code)
{
    return code.format == u"EAN-13"_s || code.format == u"EAN-8"_s || code.format == u"UPC-A"_s
        || code.format == u"ITF"_s;
}

// The piece of the full-size picture centred on a point given in fractions of the photo.
QRect pieceAround(const QImage &picture, QPointF centre)
{
    const QSize size(std::min(cTilePixels, picture.width()), std::min(cTilePixels, picture.height()));
    const int left =
        std::clamp(qRound(centre.x() * picture.width()) - size.width() / 2, 0, picture.width() - size.width());
    const int top =
        std::clamp(qRound(centre.y() * picture.height()) - size.height() / 2, 0, picture.height() - size.height());
    return QRect(QPoint(left, top), size);
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
        const bool larger = std::max(stored.width(), stored.height()) > cFirstPassPixels;
        if (!reading.codes.isEmpty()) {
            reading.pass = 1;
            // A small code with a weak check is read again where it was found, at full size; what is
            // read there is what counts. Codes of a fair size, the usual barcode card, need no second look.
            QList<Code> checked;
            QImage second;
            for (const Code &code : std::as_const(reading.codes)) {
                const QRectF bounds = code.position.boundingRect();
                if (!larger || !hasWeakCheck(code) || bounds.width() * first.width() >= cSmallCheckDigitPixels) {
                    appendNew(checked, {code});
                    continue;
                }
                if (second.isNull())
                    second = greyPicture(path, cSecondPassPixels);
                const QList<Code> again =
                    second.isNull() ? QList<Code>() : readPart(second, pieceAround(second, bounds.center()));
                ++reading.pieces;
                if (again.isEmpty()) {
                    appendNew(checked, {code});
                } else {
                    if (!std::any_of(again.cbegin(), again.cend(), [&](const Code &c) { return c.text == code.text; }))
                        logLine(u"BarcodeReader -> a small "_s + code.format + u" read as "_s + code.text
                                + u" reads otherwise at full size"_s);
                    appendNew(checked, again);
                }
            }
            reading.codes = checked;
        } else {
            // Only the parts of the photo that look like a printed code are read again, at (up to) full
            // size: a code of a few percent of the photo's width has too few pixels per bar at the first
            // size. Most photos show no label at all, and reading the whole photo in pieces costs seconds.
            const QList<BarcodeRegions::Region> regions = BarcodeRegions::find(first, cMostPieces);
            const QImage second = regions.isEmpty() ? QImage() : larger ? greyPicture(path, cSecondPassPixels) : first;
            for (const BarcodeRegions::Region &region : regions) {
                const QRect part = pieceAround(second, region.area.center());
                QList<Code> found = readPart(second, part);
                // Upright and sideways codes were read as they are; only askew ones are worth turning.
                const double askew = std::fmod(region.angle, 90.0);
                if (found.isEmpty() && askew > 10 && askew < 80)
                    found = readTurned(second, part, region.angle > 90 ? region.angle - 180 : region.angle);
                appendNew(reading.codes, found);
                ++reading.pieces;
            }
            if (!reading.codes.isEmpty())
                reading.pass = 2;
        }
    }
    reading.ms = timer.elapsed();
    return reading;
}
