#include "DemoCardWriter.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QFont>
#include <QImage>
#include <QImageWriter>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLinearGradient>
#include <QPainter>
#include <QRadialGradient>
#include <QSaveFile>
#include <QSet>
#include <QThread>
#include <QTransform>
#include <ZXing/BitMatrix.h>
#include <ZXing/MultiFormatWriter.h>

// exiv2 0.27 still spells its smart pointers std::auto_ptr.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <exiv2/exiv2.hpp>
#pragma GCC diagnostic pop

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

// Scenes are painted up to this many times smaller and enlarged while the noise
// goes in: painting is the slow part, enlarging and adding noise one cheap pass.
constexpr int cMaxScaleDown = 8;
constexpr int cMinSceneSide = 240;
// Blending weights in sixteenths keep every intermediate within 16 bits.
constexpr int cWeightOne = 16;
// Independent per-channel noise is what makes a JPEG as large as a camera's.
constexpr int cNoiseLength = 1 << 20;
constexpr double cNoiseAmplitude = 20;
constexpr QSize cThumbnailSize {160, 120};
// Per thread a few copies of the picture are alive; stay within this much memory.
constexpr qint64 cMemoryBudget = qint64(2) << 30;

// The barcode card in units of one barcode module, laid out like a printed EAN-13.
constexpr double cQuiet = 12;
constexpr int cBarModules = 95;
constexpr double cCardWidth = 2 * cQuiet + cBarModules;
constexpr double cCardHeight = 76;
constexpr double cBarsTop = 12;
constexpr double cBarsBottom = 58;
constexpr double cGuardBottom = 63;
constexpr double cDigitTop = 58.5;
constexpr double cDigitWidth = 7;
constexpr double cDigitHeight = 11;

quint64 mix(quint64 x)
{
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

quint64 hashOf(quint64 seed, quint64 a, quint64 b)
{
    return mix(mix(mix(seed + 0x9e3779b97f4a7c15ULL) ^ a) + b);
}

class Random
{
public:
    explicit Random(quint64 state)
        : m_state(state)
    { }
    quint64 next()
    {
        m_state += 0x9e3779b97f4a7c15ULL;
        return mix(m_state);
    }
    double uniform(double low, double high) { return low + (high - low) * double(next() >> 11) * 0x1.0p-53; }

private:
    quint64 m_state;
};

// What every photo of one card shares, prepared once before the workers start.
struct Canvas
{
    QSize stored;
    QSize upright;
    QSize small;
    int scaleDown = 1;
    QTransform uprightToStored;
    std::vector<int> x0, x1, xWeight;
    std::vector<qint8> noise;
    double modulePx = 1;
    QList<QImage> digits; // fonts are only safe on the main thread
    int orientation = 1;
    int quality = 90;
    bool thumbnail = true;
};

// A viewer turns the stored pixels upright with the EXIF orientation; the
// card stores the upright picture through the inverse of that.
QTransform uprightToStored(int orientation, QSize stored)
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
    const QSize cell(std::max(1, int(std::ceil(cDigitWidth * modulePx))),
                     std::max(1, int(std::ceil(cDigitHeight * modulePx))));
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

// Into a buffer kept across photos: growing a fresh one copies megabytes each time.
bool encodeJpeg(const QImage &image, int quality, QByteArray *bytes)
{
    QBuffer buffer(bytes);
    buffer.open(QIODevice::WriteOnly | QIODevice::Truncate);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(quality);
    return writer.write(image);
}

QByteArray encodeJpeg(const QImage &image, int quality)
{
    QByteArray bytes;
    return encodeJpeg(image, quality, &bytes) ? bytes : QByteArray();
}

Canvas makeCanvas(const DemoCardOptions &options)
{
    Canvas c;
    c.stored = options.size;
    c.upright = options.orientation >= 5 ? options.size.transposed() : options.size;
    c.scaleDown = std::clamp(std::min(c.stored.width(), c.stored.height()) / cMinSceneSide, 1, cMaxScaleDown);
    c.small =
        QSize((c.stored.width() + c.scaleDown - 1) / c.scaleDown, (c.stored.height() + c.scaleDown - 1) / c.scaleDown);
    c.uprightToStored = uprightToStored(options.orientation, options.size);
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
    Random rng(0x6e6f697365ULL);
    c.noise.resize(size_t(cNoiseLength) + size_t(3 * width));
    for (qint8 &n : c.noise)
        n = qint8(std::lround((rng.uniform(0, 1) + rng.uniform(0, 1) - 1) * cNoiseAmplitude));

    c.modulePx = 0.62 * std::min(double(c.upright.width()), 1.5 * c.upright.height()) / cCardWidth;
    c.digits = renderDigits(c.modulePx);
    // Loads the JPEG plugin here rather than racing for it in the workers.
    encodeJpeg(QImage(8, 8, QImage::Format_RGB888), 50);
    return c;
}

QRectF generous(QSizeF upright)
{
    return QRectF(QPointF(0, 0), upright)
        .adjusted(-upright.width() * 0.05, -upright.height() * 0.05, upright.width() * 0.05, upright.height() * 0.05);
}

void paintBlobs(QPainter &p, QSizeF upright, Random &rng, double hue, int count)
{
    const double extent = std::max(upright.width(), upright.height());
    for (int i = 0; i < count; ++i) {
        const QPointF centre(rng.uniform(0, upright.width()), rng.uniform(0, upright.height()));
        const double radius = rng.uniform(0.08, 0.3) * extent;
        QColor colour = QColor::fromHsvF(std::fmod(hue + rng.uniform(-0.08, 0.08) + 1, 1), rng.uniform(0.1, 0.5),
                                         rng.uniform(0.3, 0.9), 0.35f);
        QRadialGradient blob(centre, radius);
        blob.setColorAt(0, colour);
        colour.setAlpha(0);
        blob.setColorAt(1, colour);
        p.setBrush(blob);
        p.drawEllipse(centre, radius, radius);
    }
}

// The key light comes from the upper left and the lens darkens the corners:
// that makes top, bottom, left and right of every picture tell apart.
void paintLightAndVignette(QPainter &p, QSizeF upright)
{
    const double w = upright.width();
    const double h = upright.height();
    QRadialGradient light(QPointF(w * 0.15, h * 0.1), std::max(w, h) * 0.7);
    light.setColorAt(0, QColor(255, 250, 235, 120));
    light.setColorAt(1, QColor(255, 250, 235, 0));
    p.setBrush(light);
    p.drawRect(generous(upright));
    QRadialGradient vignette(QPointF(w / 2, h / 2), std::hypot(w, h) / 2);
    vignette.setColorAt(0.55, QColor(0, 0, 0, 0));
    vignette.setColorAt(1, QColor(0, 0, 0, 120));
    p.setBrush(vignette);
    p.drawRect(generous(upright));
}

void paintBackdrop(QPainter &p, QSizeF upright, Random &rng, double hue, double saturation, double value)
{
    QLinearGradient backdrop(0, 0, upright.width() * 0.3, upright.height());
    backdrop.setColorAt(0, QColor::fromHsvF(hue, saturation, value));
    backdrop.setColorAt(1, QColor::fromHsvF(hue, saturation, value * 0.45));
    p.fillRect(generous(upright), backdrop);
    paintBlobs(p, upright, rng, hue, 10);
}

// A pupil in front of the group's backdrop, posing a little differently per photo.
void paintSubject(QPainter &p, QSizeF upright, Random &group, Random &photo)
{
    const double w = upright.width();
    const double h = upright.height();
    paintBackdrop(p, upright, group, group.uniform(0, 1), group.uniform(0.15, 0.45), group.uniform(0.55, 0.85));
    const QColor cloth = QColor::fromHsvF(group.uniform(0, 1), group.uniform(0.3, 0.8), group.uniform(0.25, 0.7));
    const QColor skin =
        QColor::fromHsvF(group.uniform(0.03, 0.09), group.uniform(0.25, 0.55), group.uniform(0.45, 0.92));
    const QColor hair = QColor::fromHsvF(0.07f, 0.5f, group.uniform(0.08, 0.5));

    const double s = std::min(h, w * 1.1) * photo.uniform(0.94, 1.06);
    const double cx = w * (0.5 + photo.uniform(-0.06, 0.06));
    const double shoulders = h - 0.42 * s;
    QLinearGradient shade(cx - 0.3 * s, 0, cx + 0.3 * s, 0);
    shade.setColorAt(0, cloth.lighter(130));
    shade.setColorAt(1, cloth.darker(170));
    p.setBrush(shade);
    p.drawEllipse(QRectF(cx - 0.32 * s, shoulders, 0.64 * s, 0.7 * s));
    p.setBrush(skin.darker(118));
    p.drawRect(QRectF(cx - 0.05 * s, shoulders - 0.08 * s, 0.1 * s, 0.12 * s));

    const double hx = cx + photo.uniform(-0.015, 0.015) * s;
    const double hy = shoulders - 0.17 * s;
    p.setBrush(hair);
    p.drawEllipse(QPointF(hx, hy - 0.04 * s), 0.115 * s, 0.12 * s);
    QRadialGradient face(QPointF(hx - 0.03 * s, hy - 0.03 * s), 0.16 * s);
    face.setColorAt(0, skin.lighter(112));
    face.setColorAt(1, skin.darker(130));
    p.setBrush(face);
    p.drawEllipse(QPointF(hx, hy + 0.01 * s), 0.095 * s, 0.125 * s);
    p.setBrush(QColor(40, 30, 25));
    p.drawEllipse(QPointF(hx - 0.035 * s, hy - 0.005 * s), 0.012 * s, 0.007 * s);
    p.drawEllipse(QPointF(hx + 0.035 * s, hy - 0.005 * s), 0.012 * s, 0.007 * s);
    p.setBrush(skin.darker(150));
    p.drawEllipse(QPointF(hx, hy + 0.065 * s), 0.03 * s, 0.008 * s);
    paintLightAndVignette(p, upright);
}

// The surface the barcode card is photographed on: neutral grey with a tint.
void paintCardSurface(QPainter &p, QSizeF upright, Random &group)
{
    paintBackdrop(p, upright, group, group.uniform(0, 1), group.uniform(0.03, 0.12), group.uniform(0.5, 0.7));
    paintLightAndVignette(p, upright);
}

QTransform cardToUpright(const Canvas &c, quint64 seed, int group)
{
    Random rng(hashOf(seed, quint64(group), 0xca7d));
    const double width = cCardWidth * c.modulePx;
    const double height = cCardHeight * c.modulePx;
    const double slackX = std::max(0.0, (c.upright.width() - width * 1.08) / 2);
    const double slackY = std::max(0.0, (c.upright.height() - height * 1.2) / 2);
    const QPointF centre(c.upright.width() / 2.0 + rng.uniform(-0.7, 0.7) * slackX,
                         c.upright.height() / 2.0 + rng.uniform(-0.7, 0.7) * slackY);
    return QTransform::fromTranslate(-cCardWidth / 2, -cCardHeight / 2) * QTransform::fromScale(c.modulePx, c.modulePx)
        * QTransform().rotate(rng.uniform(-3.5, 3.5)) * QTransform::fromTranslate(centre.x(), centre.y());
}

bool paintCard(QPainter &p, const QTransform &toStored, const QString &barcode, const Canvas &c)
{
    ZXing::BitMatrix modules;
    try {
        modules =
            ZXing::MultiFormatWriter(ZXing::BarcodeFormat::EAN13).setMargin(0).encode(barcode.toStdString(), 0, 1);
    } catch (const std::exception &) {
        return false;
    }
    if (modules.width() != cBarModules)
        return false;
    p.setTransform(toStored);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.setPen(Qt::NoPen);
    const QRectF card(0, 0, cCardWidth, cCardHeight);
    p.setBrush(QColor(0, 0, 0, 80));
    p.drawRoundedRect(card.translated(1.0, 1.6), 3, 3);
    p.setBrush(QColor(246, 245, 240));
    p.drawRoundedRect(card, 3, 3);
    p.setBrush(QColor(30, 70, 140));
    p.drawRect(QRectF(cQuiet, 4, 26, 3.5));
    p.setBrush(QColor(170, 170, 170));
    p.drawRect(QRectF(cQuiet + 32, 7, cBarModules - 32, 0.4));

    // One rectangle per bar: touching antialiased rectangles would leave seams.
    p.setBrush(QColor(20, 20, 20));
    for (int x = 0; x < cBarModules;) {
        if (!modules.get(x, 0)) {
            ++x;
            continue;
        }
        const int start = x;
        while (x < cBarModules && modules.get(x, 0))
            ++x;
        const bool guard = start < 3 || (start >= 45 && start < 50) || start >= 92;
        p.drawRect(QRectF(cQuiet + start, cBarsTop, x - start, (guard ? cGuardBottom : cBarsBottom) - cBarsTop));
    }
    for (int i = 0; i < barcode.size(); ++i) {
        const double x = i == 0 ? cQuiet - cDigitWidth - 1 : cQuiet + 3 + (i - 1) * cDigitWidth + (i >= 7 ? 5 : 0);
        p.drawImage(QRectF(x, cDigitTop, cDigitWidth, cDigitHeight), c.digits.at(barcode.at(i).digitValue()));
    }
    return true;
}

// Per worker thread: a full-size picture costs page faults every time it is allocated.
struct Scratch
{
    QImage small;
    QImage image;
    std::vector<quint16> upper, lower;
    QByteArray jpeg;
};

// Sixteen lanes at a time: the compiler's default cost model leaves this loop
// scalar, and it touches every byte of every photo.
using U16x16 = quint16 __attribute__((vector_size(32)));
using I16x16 = qint16 __attribute__((vector_size(32)));
using I8x16 = qint8 __attribute__((vector_size(16)));
using U8x16 = quint8 __attribute__((vector_size(16)));

void blendRow(const quint16 *a, const quint16 *b, const qint8 *noise, uchar *out, int count, int weightB)
{
    const quint16 weightA = quint16(cWeightOne - weightB);
    const quint16 wb = quint16(weightB);
    int i = 0;
    const I16x16 zero = {};
    const I16x16 white = zero + 255;
    for (; i + 16 <= count; i += 16) {
        U16x16 va;
        U16x16 vb;
        I8x16 vn;
        std::memcpy(&va, a + i, sizeof va);
        std::memcpy(&vb, b + i, sizeof vb);
        std::memcpy(&vn, noise + i, sizeof vn);
        const U16x16 mixed = (va * weightA + vb * wb + quint16(128)) >> 8;
        I16x16 v = __builtin_convertvector(mixed, I16x16) + __builtin_convertvector(vn, I16x16);
        v = v < zero ? zero : v;
        v = v > white ? white : v;
        const U8x16 bytes = __builtin_convertvector(v, U8x16);
        std::memcpy(out + i, &bytes, sizeof bytes);
    }
    for (; i < count; ++i) {
        const int v = ((a[i] * weightA + b[i] * wb + 128) >> 8) + noise[i];
        out[i] = uchar(std::clamp(v, 0, 255));
    }
}

void enlargeWithNoise(Scratch &s, const Canvas &c, quint64 noiseSeed)
{
    const int width = c.stored.width();
    const int rowBytes = 3 * width;
    s.upper.resize(size_t(rowBytes));
    s.lower.resize(size_t(rowBytes));
    int upperRow = -1;
    int lowerRow = -1;
    const auto spread = [&](int row, std::vector<quint16> &into) {
        const QRgb *source = reinterpret_cast<const QRgb *>(s.small.constScanLine(row));
        quint16 *d = into.data();
        for (int x = 0; x < width; ++x) {
            const QRgb a = source[c.x0[x]];
            const QRgb b = source[c.x1[x]];
            const int wb = c.xWeight[x];
            const int wa = cWeightOne - wb;
            d[3 * x] = quint16(qRed(a) * wa + qRed(b) * wb);
            d[3 * x + 1] = quint16(qGreen(a) * wa + qGreen(b) * wb);
            d[3 * x + 2] = quint16(qBlue(a) * wa + qBlue(b) * wb);
        }
    };
    uchar *bits = s.image.bits();
    const qsizetype stride = s.image.bytesPerLine();
    for (int y = 0; y < c.stored.height(); ++y) {
        const double source = std::max(0.0, (y + 0.5) / c.scaleDown - 0.5);
        const int top = std::min(int(source), c.small.height() - 1);
        const int bottom = std::min(top + 1, c.small.height() - 1);
        if (upperRow != top) {
            if (lowerRow == top) {
                s.upper.swap(s.lower);
                std::swap(upperRow, lowerRow);
            } else {
                spread(top, s.upper);
                upperRow = top;
            }
        }
        if (lowerRow != bottom) {
            spread(bottom, s.lower);
            lowerRow = bottom;
        }
        blendRow(s.upper.data(), s.lower.data(), c.noise.data() + hashOf(noiseSeed, quint64(y), 0) % cNoiseLength,
                 bits + y * stride, rowBytes, int(std::lround((source - top) * cWeightOne)));
    }
}

// Letterboxed like a camera's: the stored pixels, in the stored orientation.
QImage thumbnailOf(const QImage &stored)
{
    QImage reduced = stored;
    if (stored.width() > 4 * cThumbnailSize.width() || stored.height() > 4 * cThumbnailSize.height())
        reduced = stored.scaled(cThumbnailSize * 4, Qt::KeepAspectRatio, Qt::FastTransformation);
    const QImage fitted = reduced.scaled(cThumbnailSize, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    QImage thumbnail(cThumbnailSize, QImage::Format_RGB888);
    thumbnail.fill(Qt::black);
    QPainter p(&thumbnail);
    p.drawImage((cThumbnailSize.width() - fitted.width()) / 2, (cThumbnailSize.height() - fitted.height()) / 2, fitted);
    return thumbnail;
}

// The EXIF block as a camera writes it, an APP1 segment for the start of the file.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
QByteArray exifSegment(const DemoCardWriter::Photo &photo, const Canvas &c, const QByteArray &thumbnail, QString *error)
{
    Exiv2::Blob blob;
    try {
        Exiv2::ExifData exif;
        const std::string when = photo.shot.toString(u"yyyy:MM:dd HH:mm:ss"_s).toStdString();
        exif["Exif.Image.Make"] = std::string("Canon");
        exif["Exif.Image.Model"] = std::string("Canon EOS 5D Mark IV");
        exif["Exif.Image.Orientation"] = uint16_t(c.orientation);
        exif["Exif.Image.XResolution"] = Exiv2::URational(72, 1);
        exif["Exif.Image.YResolution"] = Exiv2::URational(72, 1);
        exif["Exif.Image.ResolutionUnit"] = uint16_t(2);
        exif["Exif.Image.DateTime"] = when;
        exif["Exif.Photo.ExposureTime"] = Exiv2::URational(1, 125);
        exif["Exif.Photo.FNumber"] = Exiv2::URational(56, 10);
        exif["Exif.Photo.ISOSpeedRatings"] = uint16_t(100);
        exif["Exif.Photo.DateTimeOriginal"] = when;
        exif["Exif.Photo.DateTimeDigitized"] = when;
        exif["Exif.Photo.FocalLength"] = Exiv2::URational(85, 1);
        exif["Exif.Photo.ColorSpace"] = uint16_t(1);
        exif["Exif.Photo.PixelXDimension"] = uint32_t(c.stored.width());
        exif["Exif.Photo.PixelYDimension"] = uint32_t(c.stored.height());
        if (!thumbnail.isEmpty()) {
            Exiv2::ExifThumb(exif).setJpegThumbnail(reinterpret_cast<const Exiv2::byte *>(thumbnail.constData()),
                                                    long(thumbnail.size()), Exiv2::URational(72, 1),
                                                    Exiv2::URational(72, 1), 2);
        }
        Exiv2::ExifParser::encode(blob, Exiv2::littleEndian, exif);
    } catch (const std::exception &e) {
        *error =
            u"could not make the EXIF data of "_s + photo.relativePath + u": "_s + QString::fromStdString(e.what());
        return {};
    }
    static constexpr char cHeader[] = "Exif\0";
    const qsizetype length = 2 + qsizetype(sizeof cHeader) + qsizetype(blob.size());
    if (length > 0xffff) {
        *error = u"the EXIF data of "_s + photo.relativePath + u" is too large"_s;
        return {};
    }
    QByteArray segment;
    segment.reserve(2 + length);
    segment.append(char(0xff)).append(char(0xe1)).append(char(length >> 8)).append(char(length & 0xff));
    segment.append(cHeader, sizeof cHeader);
    segment.append(reinterpret_cast<const char *>(blob.data()), qsizetype(blob.size()));
    return segment;
}
#pragma GCC diagnostic pop

// Where the picture continues after the start-of-image marker and the JFIF
// header Qt writes, which a camera's file does not have.
qsizetype jpegBodyOffset(const QByteArray &jpeg)
{
    const auto byte = [&](qsizetype i) { return uchar(jpeg.at(i)); };
    if (jpeg.size() > 6 && byte(2) == 0xff && byte(3) == 0xe0)
        return std::min(jpeg.size(), 4 + (qsizetype(byte(4)) << 8 | byte(5)));
    return 2;
}

struct Rendered
{
    QByteArray exif;
    QByteArrayView start, body; // in the worker's scratch buffer
    qint64 size() const { return start.size() + exif.size() + body.size(); }
};

bool renderPhoto(Scratch &s, const Canvas &c, quint64 seed, const DemoCardWriter::Photo &photo, int index,
                 Rendered *out, QString *error)
{
    if (s.image.isNull()) {
        s.small = QImage(c.small, QImage::Format_RGB32);
        s.image = QImage(c.stored, QImage::Format_RGB888);
    }
    if (s.small.isNull() || s.image.isNull()) {
        *error = u"not enough memory for a "_s + QString::number(c.stored.width()) + u"x"_s
            + QString::number(c.stored.height()) + u" photo"_s;
        return false;
    }
    {
        QPainter p(&s.small);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setTransform(c.uprightToStored * QTransform::fromScale(1.0 / c.scaleDown, 1.0 / c.scaleDown));
        Random group(hashOf(seed, quint64(photo.group), 0x67));
        Random shot(hashOf(seed, quint64(index), 0x70));
        if (photo.barcodePhoto)
            paintCardSurface(p, c.upright, group);
        else
            paintSubject(p, c.upright, group, shot);
    }
    enlargeWithNoise(s, c, hashOf(seed, quint64(index), 0x6e));
    if (photo.barcodePhoto) {
        QPainter p(&s.image);
        if (!paintCard(p, cardToUpright(c, seed, photo.group) * c.uprightToStored, photo.barcode, c)) {
            *error = u"could not draw barcode "_s + photo.barcode;
            return false;
        }
    }
    const QByteArray thumbnail = c.thumbnail ? encodeJpeg(thumbnailOf(s.image), 85) : QByteArray();
    if (!encodeJpeg(s.image, c.quality, &s.jpeg) || (c.thumbnail && thumbnail.isEmpty())) {
        *error = u"could not encode "_s + photo.relativePath;
        return false;
    }
    out->exif = exifSegment(photo, c, thumbnail, error);
    const qsizetype body = jpegBodyOffset(s.jpeg);
    out->start = QByteArrayView(s.jpeg).first(2);
    out->body = QByteArrayView(s.jpeg).sliced(body);
    return !out->exif.isEmpty();
}

// Written under a hidden temporary name and renamed, so a failed or
// interrupted run never leaves a cut-off JPEG that looks like a photo.
bool writePhotoFile(const QString &path, const Rendered &photo, const QDateTime &shot, QString *error)
{
    const QFileInfo info(path);
    const QByteArray finalName = QFile::encodeName(path);
    const QByteArray tempName = QFile::encodeName(info.absolutePath() + u"/."_s + info.fileName() + u".part"_s);
    const auto fail = [&](int fd) {
        const int code = errno;
        if (fd >= 0)
            ::close(fd);
        ::unlink(tempName.constData());
        *error = u"could not write "_s + path + u": "_s + qt_error_string(code);
        return false;
    };
    const int fd = ::open(tempName.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        return fail(-1);
    for (const QByteArrayView piece : {photo.start, QByteArrayView(photo.exif), photo.body}) {
        const char *data = piece.data();
        qsizetype left = piece.size();
        while (left > 0) {
            const ssize_t written = ::write(fd, data, size_t(left));
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0)
                return fail(fd);
            data += written;
            left -= written;
        }
    }
    // The files sort in shooting order by time, as on a real card.
    timespec times[2];
    times[0].tv_sec = time_t(shot.toSecsSinceEpoch());
    times[0].tv_nsec = 0;
    times[1] = times[0];
    if (::futimens(fd, times) != 0)
        return fail(fd);
    if (::close(fd) != 0)
        return fail(-1);
    if (::rename(tempName.constData(), finalName.constData()) != 0)
        return fail(-1);
    return true;
}

int ean13CheckDigit(const QString &twelveDigits)
{
    int sum = 0;
    for (int i = 0; i < 12; ++i)
        sum += twelveDigits.at(i).digitValue() * (i % 2 ? 3 : 1);
    return (10 - sum % 10) % 10;
}

} // namespace

DemoCardWriter::DemoCardWriter(const DemoCardOptions &options)
    : m_options(options)
{
    const int perGroup = options.photosPerGroup + 1;
    const int total = options.groups * perGroup;
    m_photos.reserve(total);
    // A school day; no daylight-saving change for weeks either side.
    QDateTime shot(QDate(2026, 5, 12), QTime(9, 0), Qt::LocalTime);
    for (int i = 0; i < total; ++i) {
        Photo photo;
        photo.group = i / perGroup;
        photo.barcodePhoto = i % perGroup == 0;
        const int serial = options.startNumber - 1 + i;
        photo.relativePath = u"DCIM/%1CANON/IMG_%2.JPG"_s.arg(100 + serial / cFilesPerFolder)
                                 .arg(serial % cFilesPerFolder + 1, 4, 10, QChar(u'0'));
        if (photo.barcodePhoto)
            photo.barcode = barcodeForGroup(options.seed, photo.group);
        // A few seconds between shots, a pause while the next pupil comes in.
        if (i > 0) {
            const quint64 h = hashOf(options.seed, quint64(i), 0x74);
            shot = shot.addSecs(qint64(2 + h % 4 + (photo.barcodePhoto ? 30 + (h >> 8) % 90 : 0)));
        }
        photo.shot = shot;
        m_photos.append(photo);
    }
}

QString DemoCardWriter::manifestFileName()
{
    return u"lumisort-card.json"_s;
}

QString DemoCardWriter::barcodeForGroup(quint64 seed, int group)
{
    const quint64 body = (seed * 100000 + quint64(group) + 1) % 100000000000ULL;
    const QString twelve = u"2"_s + QString::number(body).rightJustified(11, u'0');
    return twelve + QString::number(ean13CheckDigit(twelve));
}

bool DemoCardWriter::write(QString *error)
{
    m_bytesWritten = 0;
    const QDir root(m_options.dir);
    // A manifest left from an earlier run must not vouch for a card this run fails to finish.
    if (root.exists(manifestFileName()) && !QFile::remove(root.filePath(manifestFileName()))) {
        *error = u"could not replace "_s + root.filePath(manifestFileName());
        return false;
    }
    QSet<QString> folders;
    for (const Photo &photo : std::as_const(m_photos))
        folders.insert(photo.relativePath.section(u'/', 0, 1));
    for (const QString &folder : std::as_const(folders)) {
        if (!root.mkpath(folder)) {
            *error = u"could not create the folder "_s + root.filePath(folder);
            return false;
        }
    }

    const Canvas canvas = makeCanvas(m_options);
    const qint64 perThread = qint64(canvas.stored.width()) * canvas.stored.height() * 8;
    const int threads = int(std::clamp<qint64>(cMemoryBudget / std::max<qint64>(perThread, 1), 1,
                                               std::max(1, QThread::idealThreadCount())));
    std::atomic<int> next {0};
    std::atomic<bool> failed {false};
    std::atomic<qint64> bytes {0};
    std::mutex errorLock;
    QString firstError;
    const auto work = [&] {
        Scratch scratch;
        for (;;) {
            const int index = next++;
            if (index >= m_photos.size() || failed)
                return;
            const Photo &photo = m_photos.at(index);
            QString message;
            Rendered data;
            if (!renderPhoto(scratch, canvas, m_options.seed, photo, index, &data, &message)
                || !writePhotoFile(root.filePath(photo.relativePath), data, photo.shot, &message)) {
                const std::lock_guard lock(errorLock);
                if (!failed.exchange(true))
                    firstError = message;
                return;
            }
            bytes += data.size();
        }
    };
    std::vector<std::thread> pool;
    for (int t = 1; t < threads; ++t)
        pool.emplace_back(work);
    work();
    for (std::thread &thread : pool)
        thread.join();
    m_bytesWritten = bytes;
    if (failed) {
        *error = firstError;
        return false;
    }
    return writeManifest(error);
}

bool DemoCardWriter::writeManifest(QString *error) const
{
    QJsonArray photos;
    for (const Photo &photo : m_photos) {
        QJsonObject entry {{u"path"_s, photo.relativePath},
                           {u"group"_s, photo.group},
                           {u"barcodePhoto"_s, photo.barcodePhoto},
                           {u"shot"_s, photo.shot.toString(Qt::ISODate)}};
        if (photo.barcodePhoto)
            entry.insert(u"barcode"_s, photo.barcode);
        photos.append(entry);
    }
    const QString size = QString::number(m_options.size.width()) + u"x"_s + QString::number(m_options.size.height());
    const QJsonObject manifest {
        {u"photos"_s, photos},
        {u"groups"_s, m_options.groups},
        {u"photosPerGroup"_s, m_options.photosPerGroup},
        {u"size"_s, size},
        {u"orientation"_s, m_options.orientation},
        {u"exifThumbnail"_s, m_options.exifThumbnail},
        {u"seed"_s, QString::number(m_options.seed)},
    };
    QSaveFile file(QDir(m_options.dir).filePath(manifestFileName()));
    if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(manifest).toJson()) < 0 || !file.commit()) {
        *error = u"could not write "_s + file.fileName() + u": "_s + file.errorString();
        return false;
    }
    return true;
}
