#include "DemoCanvas.h"

#include "DemoRandom.h"
#include "PhotoRenderer.h"

#include <QFont>
#include <QPainter>
#include <cmath>

using namespace Qt::StringLiterals;

namespace {

// Scenes are painted up to this many times smaller and enlarged while the noise
// goes in: painting is the slow part, enlarging and adding noise one cheap pass.
constexpr int cMaxScaleDown = 8;
constexpr int cMinSceneSide = 240;
constexpr double cNoiseAmplitude = 20;

// A viewer turns the stored pixels upright with the EXIF orientation; the
// card stores the upright picture through the inverse of that.
QTransform storedOrientation(int orientation, QSize stored)
{
    const qreal w = stored.width();
    const qreal h = stored.height();
    QTransform storedToUpright;
    switch (orientation) {
    case 2:
        storedToUpright = QTransform(-1, 0, 0, 1, w, 0);
        break;
    case 3:
        storedToUpright = QTransform(-1, 0, 0, -1, w, h);
        break;
    case 4:
        storedToUpright = QTransform(1, 0, 0, -1, 0, h);
        break;
    case 5:
        storedToUpright = QTransform(0, 1, 1, 0, 0, 0);
        break;
    case 6:
        storedToUpright = QTransform(0, 1, -1, 0, h, 0);
        break;
    case 7:
        storedToUpright = QTransform(0, -1, -1, 0, h, w);
        break;
    case 8:
        storedToUpright = QTransform(0, -1, 1, 0, 0, w);
        break;
    default:
        break;
    }
    return storedToUpright.inverted();
}

QList<QImage> renderDigits(double modulePx)
{
    const QSize cell(std::max(1, int(std::ceil(DemoCanvas::cDigitWidth * modulePx))),
                     std::max(1, int(std::ceil(DemoCanvas::cDigitHeight * modulePx))));
    QFont font(u"DejaVu Sans Mono"_s);
    font.setStyleHint(QFont::Monospace);
    font.setPixelSize(std::max(1, int(std::lround(9 * modulePx))));
    QList<QImage> digits;
    for (int d = 0; d < 10; ++d) {
        QImage glyph(cell, QImage::Format_ARGB32_Premultiplied);
        glyph.fill(Qt::transparent);
        QPainter p(&glyph);
        p.setFont(font);
        p.setPen(QColor(25, 25, 25));
        p.drawText(glyph.rect(), Qt::AlignCenter, QString(QChar(u'0' + d)));
        digits.append(glyph);
    }
    return digits;
}

} // namespace

DemoCanvas DemoCanvas::make(const DemoCardOptions &options)
{
    DemoCanvas c;
    c.stored = options.size;
    c.upright = options.orientation >= 5 ? options.size.transposed() : options.size;
    c.scaleDown = std::clamp(std::min(c.stored.width(), c.stored.height()) / cMinSceneSide, 1, cMaxScaleDown);
    c.small =
        QSize((c.stored.width() + c.scaleDown - 1) / c.scaleDown, (c.stored.height() + c.scaleDown - 1) / c.scaleDown);
    c.uprightToStored = storedOrientation(options.orientation, options.size);
    c.orientation = options.orientation;
    c.quality = options.quality;
    c.thumbnail = options.exifThumbnail;

    const int width = c.stored.width();
    c.x0.resize(width);
    c.x1.resize(width);
    c.xWeight.resize(width);
    for (int x = 0; x < width; ++x) {
        const double source = std::max(0.0, (x + 0.5) / c.scaleDown - 0.5);
        const int left = std::min(int(source), c.small.width() - 1);
        c.x0[x] = left;
        c.x1[x] = std::min(left + 1, c.small.width() - 1);
        c.xWeight[x] = int(std::lround((source - left) * cWeightOne));
    }

    // Rows read the table at random offsets, so it needs a row's worth of slack.
    DemoRandom rng(0x6e6f697365ULL);
    c.noise.resize(size_t(cNoiseLength) + size_t(3 * width));
    for (qint8 &n : c.noise)
        n = qint8(std::lround((rng.uniform(0, 1) + rng.uniform(0, 1) - 1) * cNoiseAmplitude));

    c.modulePx = 0.62 * std::min(double(c.upright.width()), 1.5 * c.upright.height()) / cCardWidth;
    c.digits = renderDigits(c.modulePx);
    // Loads the JPEG plugin here rather than racing for it in the workers.
    PhotoRenderer::encodeJpeg(QImage(8, 8, QImage::Format_RGB888), 50);
    return c;
}
