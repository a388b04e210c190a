#define ZX_USE_UTF8 1

#include "BarcodeReader.h"

#include "BarcodeRegions.h"
#include "model/ImageFitting.h"
#include "model/ThumbnailMaker.h"
#include "support/SystemLog.h"

#include <QElapsedTimer>
#include <QTransform>
#include <ZXing/ReadBarcode.h>
#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

// A piece of the second pass: large enough to hold a whole barcode card seen
// from close up, small enough that a code filling a tenth of the photo stands
// out from its surroundings for the binarizer.
constexpr int cTilePixels = 1500;
// The least piece over bars: their region spans the code, and the piece's cost goes with its area. A matrix
// code's edges run every way and only part of it may score as a region: it keeps the larger piece (a Data
// Matrix turned 135 degrees at 12% of the width was cut in two at 1,000 and 1,200 on a side).
constexpr int cBarsPixels = 1000;
constexpr double cBarsCoherence = 0.5;
// The most pieces read again: a label seldom shows more codes, and each piece costs about 50 ms.
constexpr int cMostPieces = 4;
// The largest code-like area read whole at full size: a code a third of the photo wide, turned.
constexpr int cLargestPiece = 2600;
// Around a region, parts of the first look read again for matrix codes: the region with this margin (half a
// window of the region finder), and a part this wide, about the size of a code a quarter of the photo wide
// turned and seen at a slant.
constexpr int cAroundMargin = 20;
constexpr int cAroundWide = 700;
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
        // A quarter-turned linear code is looked for here (readView), not by the library: merging what it
        // finds both ways aborts the program on a failed assertion in zxing 1.4 (a Code 39 turned 45 degrees
        // does it).
        .setTryRotate(false)
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
    // QImage::width() is not inline: called per pixel it cost as much as the counting.
    const int width = grey.width();
    // Four counts kept apart and added at the end: neighbouring pixels are mostly the same grey, and one
    // count each waited for the previous pixel's addition to the same counter.
    std::array<std::array<qint64, 256>, 4> counts {};
    for (int y = 0; y < grey.height(); ++y) {
        const uchar *line = grey.constScanLine(y);
        int x = 0;
        for (; x + 4 <= width; x += 4) {
            ++counts[0][line[x]];
            ++counts[1][line[x + 1]];
            ++counts[2][line[x + 2]];
            ++counts[3][line[x + 3]];
        }
        for (; x < width; ++x)
            ++counts[0][line[x]];
    }
    std::array<qint64, 256> histogram {};
    for (size_t v = 0; v < histogram.size(); ++v)
        histogram[v] = counts[0][v] + counts[1][v] + counts[2][v] + counts[3][v];
    const qint64 total = qint64(width) * grey.height();
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
        for (int x = 0; x < width; ++x)
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

bool isItf14(const QString &text)
{
    if (text.size() != 14 || !std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.isDigit(); }))
        return false;
    int sum = 0;
    for (int i = 0; i < 13; ++i)
        sum += text.at(i).digitValue() * (i % 2 == 0 ? 3 : 1);
    return (10 - sum % 10) % 10 == text.at(13).digitValue();
}

// Adds what zxing found in the part of picture at offset, in fractions of the whole picture; turned: read
// from the part a quarter turn clockwise, whose height is partHeight.
void collect(const ZXing::Results &results, QPoint offset, QSize whole, QList<BarcodeReader::Code> &codes,
             bool turned = false, int partHeight = 0)
{
    for (const ZXing::Result &result : results) {
        if (!result.isValid())
            continue;
        BarcodeReader::Code code;
        code.text = QString::fromStdString(result.text());
        code.format = formatName(result.format());
        // A Code 39 of a character or two is what stray stripes of a turned code read as; a card's id is longer.
        if (code.text.isEmpty() || (result.format() == ZXing::BarcodeFormat::Code39 && code.text.size() < 3))
            continue;
        // Interleaved 2 of 5 carries no check of its own: scan lines across part of a slanted ITF-14 give
        // shorter valid-looking numbers. Only the whole 14 digits with their check digit name a photo.
        if (result.format() == ZXing::BarcodeFormat::ITF && !isItf14(code.text))
            continue;
        for (const ZXing::PointI &seen : result.position()) {
            const QPoint corner = turned ? QPoint(seen.y, partHeight - 1 - seen.x) : QPoint(seen.x, seen.y);
            code.position << QPointF(double(corner.x() + offset.x()) / whole.width(),
                                     double(corner.y() + offset.y()) / whole.height());
        }
        appendNew(codes, {code});
    }
}

// Which way scan lines must cross a linear code's bars: the reads of a piece cost about the same each way.
enum class Lines
{
    Across,
    Down,
    Both
};

// A region's direction across its bars (degrees, 0 to 180) says which way they run; within this of upright
// or sideways, scan lines one way cross every bar of a card's code, and near 45 degrees it takes both.
constexpr double cOneWayDegrees = 30;

Lines linesFor(double across)
{
    const double fromUpright = std::min(across, 180 - across);
    if (fromUpright <= cOneWayDegrees)
        return Lines::Across;
    if (std::abs(across - 90) <= cOneWayDegrees)
        return Lines::Down;
    return Lines::Both;
}

QList<BarcodeReader::Code> readView(const ZXing::ImageView &view, QPoint offset, QSize whole,
                                    ZXing::BarcodeFormats formats = hints().formats(), Lines lines = Lines::Both,
                                    ZXing::Binarizer binarizer = ZXing::Binarizer::LocalAverage)
{
    QList<BarcodeReader::Code> codes;
    const ZXing::DecodeHints chosen = ZXing::DecodeHints(hints()).setBinarizer(binarizer);
    // A matrix code reads in every direction; a linear one turned a quarter needs scan lines the other way.
    const ZXing::BarcodeFormats linear = formats & ZXing::BarcodeFormats(ZXing::BarcodeFormat::LinearCodes);
    if (lines != Lines::Down || linear.empty())
        collect(ZXing::ReadBarcodes(view, ZXing::DecodeHints(chosen).setFormats(formats)), offset, whole, codes);
    if (!linear.empty() && lines != Lines::Across)
        collect(ZXing::ReadBarcodes(view.rotated(90),
                                    ZXing::DecodeHints(chosen).setFormats(lines == Lines::Down ? formats : linear)),
                offset, whole, codes, true, view.height());
    return codes;
}

// A piece of the full-size picture, where part says it lies in the whole of size whole.
QList<BarcodeReader::Code> readPiece(const QImage &piece, const QRect &part, QSize whole,
                                     ZXing::BarcodeFormats formats = hints().formats(), Lines lines = Lines::Both,
                                     ZXing::Binarizer binarizer = ZXing::Binarizer::LocalAverage)
{
    const ZXing::ImageView view(piece.constBits(), piece.width(), piece.height(), ZXing::ImageFormat::Lum,
                                int(piece.bytesPerLine()));
    return readView(view, part.topLeft(), whole, formats, lines, binarizer);
}

// The part of a picture, up to side pixels on a side, centred on a point given in fractions of it.
QRect pieceAround(QSize picture, QPointF centre, int side = cTilePixels)
{
    const QSize size(std::min(side, picture.width()), std::min(side, picture.height()));
    const int left =
        std::clamp(qRound(centre.x() * picture.width()) - size.width() / 2, 0, picture.width() - size.width());
    const int top =
        std::clamp(qRound(centre.y() * picture.height()) - size.height() / 2, 0, picture.height() - size.height());
    return QRect(QPoint(left, top), size);
}

// A rectangle given in fractions of a picture, in its pixels.
QRectF inPixels(const QRectF &fraction, QSize picture)
{
    return {fraction.x() * picture.width(), fraction.y() * picture.height(), fraction.width() * picture.width(),
            fraction.height() * picture.height()};
}

// The grey piece turned by degrees about its centre, sampled between its pixels, black where the turn
// leaves nothing. Qt turns a grey picture through 32-bit colour and back, which cost four times as much
// as this and more than reading the turned piece.
QImage turnedGrey(const QImage &piece, double degrees)
{
    QTransform turn;
    turn.rotate(degrees);
    const QRect box = turn.mapRect(QRectF(piece.rect())).toAlignedRect();
    QImage out(box.size(), QImage::Format_Grayscale8);
    if (out.isNull() || piece.width() < 2 || piece.height() < 2)
        return {};
    out.fill(0);
    const QTransform back = (turn * QTransform::fromTranslate(-box.left(), -box.top())).inverted();
    // Positions in 16.16 fixed point, stepped along each line of the result.
    constexpr double cOne = 1 << 16;
    const qint64 stepX = qRound64(back.m11() * cOne);
    const qint64 stepY = qRound64(back.m12() * cOne);
    const qint64 lastX = qint64(piece.width() - 1) << 16;
    const qint64 lastY = qint64(piece.height() - 1) << 16;
    const qsizetype stride = piece.bytesPerLine();
    const uchar *bits = piece.constBits();
    // QImage::width() is not inline: called per pixel it cost a third as much as the turn itself.
    const int width = out.width();
    for (int v = 0; v < out.height(); ++v) {
        // Pixel centres, as Qt samples them.
        const QPointF start = back.map(QPointF(0.5, v + 0.5)) - QPointF(0.5, 0.5);
        qint64 x = qRound64(start.x() * cOne);
        qint64 y = qRound64(start.y() * cOne);
        uchar *line = out.scanLine(v);
        for (int u = 0; u < width; ++u, x += stepX, y += stepY) {
            if (x < 0 || y < 0 || x >= lastX || y >= lastY)
                continue;
            const int fx = int(x & 0xffff) >> 8;
            const int fy = int(y & 0xffff) >> 8;
            const uchar *at = bits + (y >> 16) * stride + (x >> 16);
            const int top = at[0] * (256 - fx) + at[1] * fx;
            const int bottom = at[stride] * (256 - fx) + at[stride + 1] * fx;
            line[u] = uchar((top * (256 - fy) + bottom * fy + (1 << 15)) >> 16);
        }
    }
    return out;
}

constexpr size_t cBlock = 16;
using Bytes = uchar __attribute__((vector_size(cBlock)));
using Sums16 = quint16 __attribute__((vector_size(cBlock * sizeof(quint16))));
using Sums32 = int __attribute__((vector_size(cBlock * sizeof(int))));

// Sums: sixteen column sums, of a type wide enough for a block's.
template<typename Sums>
void averageBlocks(const QImage &grey, int factor, QImage &small)
{
    // The compiler leaves these sums scalar at -O2, and they were most of the time here with the division
    // per pixel: columns are summed sixteen at a time, and a block of a power of two pixels is divided by a shift.
    using Sum = std::remove_cvref_t<decltype(Sums()[0])>;
    const int width = small.width();
    const size_t used = size_t(width * factor);
    std::vector<Sum> columns((used + cBlock - 1) / cBlock * cBlock);
    const int area = factor * factor;
    const int shift = (area & (area - 1)) == 0 ? std::countr_zero(unsigned(area)) : -1;
    for (int y = 0; y < small.height(); ++y) {
        std::fill(columns.begin(), columns.end(), Sum(0));
        for (int dy = 0; dy < factor; ++dy) {
            const uchar *line = grey.constScanLine(y * factor + dy);
            Sum *sums = columns.data();
            size_t x = 0;
            for (; x + cBlock <= used; x += cBlock) {
                Bytes bytes;
                Sums block;
                std::memcpy(&bytes, line + x, sizeof bytes);
                std::memcpy(&block, sums + x, sizeof block);
                block += __builtin_convertvector(bytes, Sums);
                std::memcpy(sums + x, &block, sizeof block);
            }
            for (; x < used; ++x)
                sums[x] = Sum(sums[x] + line[x]);
        }
        uchar *out = small.scanLine(y);
        for (int x = 0; x < width; ++x) {
            int sum = area / 2;
            for (int dx = 0; dx < factor; ++dx)
                sum += columns[size_t(x * factor + dx)];
            out[x] = uchar(shift >= 0 ? sum >> shift : sum / area);
        }
    }
}

// A quarter of the picture's size (or less) by averaging blocks of pixels: libjpeg's own scaling would
// decode the file a second time, and most of a decode is unpacking the file, whatever the scale.
QImage shrunk(const QImage &grey, int pixels)
{
    const int factor = (std::max(grey.width(), grey.height()) + pixels - 1) / pixels;
    if (factor <= 1)
        return grey;
    QImage small(grey.width() / factor, grey.height() / factor, QImage::Format_Grayscale8);
    // Sixteen bits hold the sum of a block of up to 16 x 16 pixels, and half the width of the sums more
    // than halves their cost.
    if (factor <= 16)
        averageBlocks<Sums16>(grey, factor, small);
    else
        averageBlocks<Sums32>(grey, factor, small);
    return small;
}

QImage halved(const QImage &picture)
{
    return shrunk(picture, (std::max(picture.width(), picture.height()) + 1) / 2);
}

// A piece whose bars run askew, turned so that they stand upright: a scan line then crosses
// every bar of a code turned further than its height allows (about 30 degrees for a label).
QList<BarcodeReader::Code> readTurned(const QImage &piece, const QRect &part, QSize whole, double angle, bool bars)
{
    const QImage turned = turnedGrey(piece, -angle);
    const ZXing::ImageView view(turned.constBits(), turned.width(), turned.height(), ZXing::ImageFormat::Lum,
                                int(turned.bytesPerLine()));
    // Positions in a turned piece would mislead: the piece as a whole stands for where it was found.
    const QRectF where(QPointF(double(part.left()) / whole.width(), double(part.top()) / whole.height()),
                       QSizeF(double(part.width()) / whole.width(), double(part.height()) / whole.height()));
    // Every format: a Data Matrix turned 135 degrees (12% of the width) was read only once turned upright.
    QList<BarcodeReader::Code> codes = readView(view, QPoint(), turned.size(), hints().formats(), Lines::Across);
    // Grain on a dim card frays its bars at full size, the more so once turned: where the region shows bars, half
    // the size averages it out (EAN-13 and UPC-A at 8%, turned 45 degrees in dim light, read only so). Unlike an
    // unturned half (readHalf), codes with a weak check are taken: askew stripes, fences and text in 88 photos without
    // a code gave none. Matrix codes at half size are looked for unturned.
    if (codes.isEmpty() && bars) {
        const QImage half = halved(turned);
        codes = readPiece(half, half.rect(), half.size(),
                          hints().formats() & ZXing::BarcodeFormats(ZXing::BarcodeFormat::LinearCodes), Lines::Across);
    }
    for (BarcodeReader::Code &code : codes)
        code.position = QPolygonF(where);
    return codes;
}

// Within this of a direction already turned upright, turning again gains nothing.
constexpr double cSameDirection = 5;

bool isAskew(double angle)
{
    const double askew = std::fmod(angle, 90.0);
    return askew > 10 && askew < 80;
}

// The bars' direction measured again at full size over the region alone, and its part of the piece turned
// by that, where the region's edges run several ways: at the first look a small code's windows take in the card's
// edge and printed number too, and their direction was 20 degrees off for a Code 128 at 4% turned 30; turned by
// that, scan lines ran off its bars. A region of bars gives their direction well enough.
QList<BarcodeReader::Code> readTurnedAgain(const QImage &piece, const QRect &part, QSize whole,
                                           const BarcodeRegions::Region &region)
{
    if (region.coherence >= cBarsCoherence)
        return {};
    const double margin = region.best.width() * whole.width() / 2;
    const QRect own = inPixels(region.area, whole).adjusted(-margin, -margin, margin, margin).toAlignedRect() & part;
    const QImage cut = piece.copy(own.translated(-part.topLeft()));
    const QList<BarcodeRegions::Region> bars = BarcodeRegions::find(cut, 1);
    if (bars.isEmpty() || bars.first().coherence < cBarsCoherence)
        return {};
    const double angle = bars.first().angle;
    const double off = std::abs(angle - region.angle);
    if (!isAskew(angle) || (isAskew(region.angle) && std::min(off, 180 - off) <= cSameDirection))
        return {};
    return readTurned(cut, own, whole, angle > 90 ? angle - 180 : angle, false);
}

// A piece read again at half its size. Grain on a dim or noisy card frays the edges of its bars at full size;
// half the size averages it out (a dim 12% Code 128 read only so). Stripes read so once gave an EAN-13: only
// codes with a strong check are taken from here.
QList<BarcodeReader::Code> readHalf(const QImage &piece, const QRect &part, QSize whole, Lines lines, bool bars)
{
    using F = ZXing::BarcodeFormat;
    const QImage half = halved(piece);
    const QRect at(part.topLeft() / 2, half.size());
    // One threshold for the whole piece rather than the local average: a matrix code's dark patches, modules of
    // 20 pixels and more here, are wider than the neighbourhood the local one averages; dim and grey-printed
    // Data Matrix and QR codes at 12% read only so. Linear codes are thresholded so by zxing either way.
    QList<BarcodeReader::Code> found =
        readPiece(half, at, whole / 2, F::Code128 | F::Code39 | F::QRCode | F::DataMatrix, lines,
                  ZXing::Binarizer::GlobalHistogram);
    // Blur leaves a narrow space between wide bars darker than the paper, and the histogram's threshold falls
    // among such spaces; mid-grey of the stretched piece does not (a blurred Code 39 at 12% read only so).
    if (found.isEmpty() && bars)
        found = readPiece(half, at, whole / 2, F::Code128 | F::Code39, lines, ZXing::Binarizer::FixedThreshold);
    return found;
}

// zxing's matrix detectors work outwards from the middle of what they are given: a Data Matrix beside
// clutter (lamp posts) or turned in perspective, missed in the first look and in the piece, was read in a part of
// the first look centred on its region: the region itself for a small code, a wider part for a code larger than
// the windows that scored. Parts of the first look cost little, and only matrix codes, whose error correction
// lets no misread through, are looked for there. A wider part already read around a region is not read again.
QList<BarcodeReader::Code> readMatrixAround(const QImage &first, const BarcodeRegions::Region &region,
                                            QList<QRect> &readWide)
{
    using F = ZXing::BarcodeFormat;
    const QRect own = inPixels(region.area, first.size())
                          .toAlignedRect()
                          .adjusted(-cAroundMargin, -cAroundMargin, cAroundMargin, cAroundMargin)
        & first.rect();
    QList<BarcodeReader::Code> found = readPiece(first.copy(own), own, first.size(), F::QRCode | F::DataMatrix);
    const QPoint centre(qRound(region.area.center().x() * first.width()),
                        qRound(region.area.center().y() * first.height()));
    const bool seen = std::any_of(readWide.cbegin(), readWide.cend(), [&](const QRect &wide) {
        return wide.adjusted(wide.width() / 4, wide.height() / 4, -wide.width() / 4, -wide.height() / 4)
            .contains(centre);
    });
    if (found.isEmpty() && !seen) {
        const QRect wide = pieceAround(first.size(), region.area.center(), cAroundWide);
        readWide << wide;
        found = readPiece(first.copy(wide), wide, first.size(), F::QRCode | F::DataMatrix);
    }
    return found;
}

// The photo's brightness at full size (a JPEG decoded once, without its colour, and left as stored), a
// first look at it upright at a modest size, and upright pieces of it: turning a 24 MP picture costs more
// than turning the few pieces that are read.
class Photo
{
public:
    explicit Photo(const NativePath &path)
    {
        const ThumbnailMaker::Result result =
            ThumbnailMaker::greyPicture(path, BarcodeReader::cSecondPassPixels, &m_toTurn);
        m_stored = result.image;
        if (m_stored.isNull())
            return;
        first = ImageFitting::upright(shrunk(m_stored, BarcodeReader::cFirstPassPixels), m_toTurn);
        stretchContrast(first);
        whole = m_toTurn >= 5 ? m_stored.size().transposed() : m_stored.size();
        m_toStored = uprightToStored(m_stored.size());
    }

    QImage first; // upright, up to cFirstPassPixels
    QSize whole; // the upright picture at full size (up to cSecondPassPixels)

    // The upright piece at part (within whole), its contrast stretched on its own: a dim card in a
    // bright scene is brought out where the whole picture's range would leave it grey.
    QImage piece(const QRect &part) const
    {
        QImage cut = ImageFitting::upright(m_stored.copy(m_toStored.mapRect(QRectF(part)).toAlignedRect()), m_toTurn);
        stretchContrast(cut);
        return cut;
    }

private:
    // Undoes ImageFitting::upright: its mirror or flip first, then its quarter turns clockwise.
    QTransform uprightToStored(QSize stored) const
    {
        const double w = stored.width();
        const double h = stored.height();
        QTransform toUpright;
        switch (m_toTurn) {
        case 2:
            toUpright = QTransform(-1, 0, 0, 1, w, 0);
            break;
        case 3:
            toUpright = QTransform(-1, 0, 0, -1, w, h);
            break;
        case 4:
            toUpright = QTransform(1, 0, 0, -1, 0, h);
            break;
        case 5:
            toUpright = QTransform(0, 1, 1, 0, 0, 0);
            break;
        case 6:
            toUpright = QTransform(0, 1, -1, 0, h, 0);
            break;
        case 7:
            toUpright = QTransform(0, -1, -1, 0, h, w);
            break;
        case 8:
            toUpright = QTransform(0, -1, 1, 0, 0, w);
            break;
        default:
            break;
        }
        return toUpright.inverted();
    }

    QImage m_stored;
    int m_toTurn = 0;
    QTransform m_toStored;
};

bool hasWeakCheck(const BarcodeReader::Code &code)
{
    return code.format == u"EAN-13"_s || code.format == u"EAN-8"_s || code.format == u"UPC-A"_s
        || code.format == u"ITF"_s;
}

// The piece of the full-size picture over a code-like region: all of it with a margin, so that a code
// larger than one window is not cut in two, unless it spans more than a code could (foliage, a fence),
// where the piece centred on its best window stands for it.
QRect pieceOver(QSize picture, const BarcodeRegions::Region &region)
{
    const QRectF span = inPixels(region.area, picture);
    const double margin = region.best.width() * picture.width();
    const QRect whole = span.adjusted(-margin, -margin, margin, margin).toAlignedRect() & QRect(QPoint(), picture);
    if (whole.width() > cLargestPiece || whole.height() > cLargestPiece)
        return pieceAround(picture, region.best.center());
    const int side = region.coherence >= cBarsCoherence ? cBarsPixels : cTilePixels;
    if (whole.width() >= side && whole.height() >= side)
        return whole;
    const QRect piece = pieceAround(
        picture, QPointF(double(whole.center().x()) / picture.width(), double(whole.center().y()) / picture.height()),
        side);
    return piece | whole;
}

} // namespace

BarcodeReader::Reading BarcodeReader::read(const NativePath &path)
{
    QElapsedTimer timer;
    timer.start();
    Reading reading;
    Photo photo(path);
    const QImage &first = photo.first;
    reading.readable = !first.isNull();
    if (reading.readable) {
        // Most photos of a card show a subject before a plain backdrop, with nothing that looks like a
        // printed code: for them the search for code-like parts, a fifth of the cost of reading the first
        // look, is all there is to do.
        const QList<BarcodeRegions::Region> regions = BarcodeRegions::find(first, cMostPieces);
        if (!regions.isEmpty()) {
            reading.codes = readPiece(first, first.rect(), first.size());
        } else {
            // A code filling the frame shows so few edges to a window of the search that it may not count
            // as code-like; at a third of the first look's size it does, and is read there. A photo that
            // small is read as it is: it costs next to nothing.
            const QImage small = shrunk(first, cFirstPassPixels / 3);
            if (small.size() == first.size() || !BarcodeRegions::find(small, 1).isEmpty())
                reading.codes = readPiece(small, small.rect(), small.size());
        }
        const bool larger = std::max(photo.whole.width(), photo.whole.height()) > cFirstPassPixels;
        if (!reading.codes.isEmpty()) {
            reading.pass = 1;
            // A small code with a weak check is read again where it was found, at full size; what is
            // read there is what counts. Codes of a fair size, the usual barcode card, need no second look.
            QList<Code> checked;
            for (const Code &code : std::as_const(reading.codes)) {
                const QRectF bounds = code.position.boundingRect();
                if (!larger || !hasWeakCheck(code) || bounds.width() * first.width() >= cSmallCheckDigitPixels) {
                    appendNew(checked, {code});
                    continue;
                }
                const QRect part = pieceAround(photo.whole, bounds.center());
                const QList<Code> again = readPiece(photo.piece(part), part, photo.whole);
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
            QList<QRect> readWide;
            for (const BarcodeRegions::Region &region : regions) {
                const QRect part = pieceOver(photo.whole, region);
                const QImage piece = photo.piece(part);
                const Lines lines = linesFor(region.angle);
                QList<Code> found = readPiece(piece, part, photo.whole, hints().formats(), lines);
                // Upright and sideways codes were read as they are; only askew ones are worth turning.
                if (found.isEmpty() && isAskew(region.angle))
                    found = readTurned(piece, part, photo.whole, region.angle > 90 ? region.angle - 180 : region.angle,
                                       region.coherence >= cBarsCoherence);
                if (found.isEmpty())
                    found = readHalf(piece, part, photo.whole, lines, region.coherence >= cBarsCoherence);
                if (found.isEmpty())
                    found = readMatrixAround(first, region, readWide);
                if (found.isEmpty())
                    found = readTurnedAgain(piece, part, photo.whole, region);
                appendNew(reading.codes, found);
                ++reading.pieces;
            }
            // A matrix code a fifth of the photo wide has modules too large for the windows of the region finder
            // at the first look's size, and scores below the camera's printed text (a Data Matrix turned 70 or
            // 160 degrees went unread so): at half that size it stands out. A photo where nothing at all looked
            // code-like is left alone: a large code before a plain backdrop reads at a third of the size.
            if (reading.codes.isEmpty() && !regions.isEmpty()) {
                for (const BarcodeRegions::Region &region :
                     BarcodeRegions::find(shrunk(first, cFirstPassPixels / 2), 1))
                    appendNew(reading.codes, readMatrixAround(first, region, readWide));
            }
            if (!reading.codes.isEmpty())
                reading.pass = 2;
        }
    }
    reading.ms = timer.elapsed();
    return reading;
}
