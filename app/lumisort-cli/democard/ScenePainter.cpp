#include "ScenePainter.h"

#include "DemoRandom.h"

#include <QLinearGradient>
#include <QPainter>
#include <QRadialGradient>
#include <ZXing/BitMatrix.h>
#include <ZXing/MultiFormatWriter.h>
#include <cmath>

namespace {

constexpr double cBarsTop = 12;
constexpr double cBarsBottom = 58;
constexpr double cGuardBottom = 63;
constexpr double cDigitTop = 58.5;

QRectF generous(QSizeF upright)
{
    return QRectF(QPointF(0, 0), upright)
        .adjusted(-upright.width() * 0.05, -upright.height() * 0.05, upright.width() * 0.05, upright.height() * 0.05);
}

void paintBlobs(QPainter &p, QSizeF upright, DemoRandom &rng, double hue, int count)
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

void paintBackdrop(QPainter &p, QSizeF upright, DemoRandom &rng, double hue, double saturation, double value)
{
    QLinearGradient backdrop(0, 0, upright.width() * 0.3, upright.height());
    backdrop.setColorAt(0, QColor::fromHsvF(hue, saturation, value));
    backdrop.setColorAt(1, QColor::fromHsvF(hue, saturation, value * 0.45));
    p.fillRect(generous(upright), backdrop);
    paintBlobs(p, upright, rng, hue, 10);
}

// A pupil in front of the group's backdrop, posing a little differently per photo.
void paintSubject(QPainter &p, QSizeF upright, DemoRandom &group, DemoRandom &photo)
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
void paintCardSurface(QPainter &p, QSizeF upright, DemoRandom &group)
{
    paintBackdrop(p, upright, group, group.uniform(0, 1), group.uniform(0.03, 0.12), group.uniform(0.5, 0.7));
    paintLightAndVignette(p, upright);
}

QTransform cardToUpright(const DemoCanvas &c, quint64 seed, int group)
{
    DemoRandom rng(DemoRandom::hashOf(seed, quint64(group), 0xca7d));
    const double width = DemoCanvas::cCardWidth * c.modulePx;
    const double height = DemoCanvas::cCardHeight * c.modulePx;
    const double slackX = std::max(0.0, (c.upright.width() - width * 1.08) / 2);
    const double slackY = std::max(0.0, (c.upright.height() - height * 1.2) / 2);
    const QPointF centre(c.upright.width() / 2.0 + rng.uniform(-0.7, 0.7) * slackX,
                         c.upright.height() / 2.0 + rng.uniform(-0.7, 0.7) * slackY);
    return QTransform::fromTranslate(-DemoCanvas::cCardWidth / 2, -DemoCanvas::cCardHeight / 2)
        * QTransform::fromScale(c.modulePx, c.modulePx) * QTransform().rotate(rng.uniform(-3.5, 3.5))
        * QTransform::fromTranslate(centre.x(), centre.y());
}

bool paintCard(QPainter &p, const QTransform &toStored, const QString &barcode, const DemoCanvas &c)
{
    ZXing::BitMatrix modules;
    try {
        modules =
            ZXing::MultiFormatWriter(ZXing::BarcodeFormat::EAN13).setMargin(0).encode(barcode.toStdString(), 0, 1);
    } catch (const std::exception &) {
        return false;
    }
    if (modules.width() != DemoCanvas::cBarModules)
        return false;
    p.setTransform(toStored);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.setPen(Qt::NoPen);
    const QRectF card(0, 0, DemoCanvas::cCardWidth, DemoCanvas::cCardHeight);
    p.setBrush(QColor(0, 0, 0, 80));
    p.drawRoundedRect(card.translated(1.0, 1.6), 3, 3);
    p.setBrush(QColor(246, 245, 240));
    p.drawRoundedRect(card, 3, 3);
    p.setBrush(QColor(30, 70, 140));
    p.drawRect(QRectF(DemoCanvas::cQuiet, 4, 26, 3.5));
    p.setBrush(QColor(170, 170, 170));
    p.drawRect(QRectF(DemoCanvas::cQuiet + 32, 7, DemoCanvas::cBarModules - 32, 0.4));

    // One rectangle per bar: touching antialiased rectangles would leave seams.
    p.setBrush(QColor(20, 20, 20));
    for (int x = 0; x < DemoCanvas::cBarModules;) {
        if (!modules.get(x, 0)) {
            ++x;
            continue;
        }
        const int start = x;
        while (x < DemoCanvas::cBarModules && modules.get(x, 0))
            ++x;
        const bool guard = start < 3 || (start >= 45 && start < 50) || start >= 92;
        p.drawRect(
            QRectF(DemoCanvas::cQuiet + start, cBarsTop, x - start, (guard ? cGuardBottom : cBarsBottom) - cBarsTop));
    }
    for (int i = 0; i < barcode.size(); ++i) {
        const double x = i == 0 ? DemoCanvas::cQuiet - DemoCanvas::cDigitWidth - 1
                                : DemoCanvas::cQuiet + 3 + (i - 1) * DemoCanvas::cDigitWidth + (i >= 7 ? 5 : 0);
        p.drawImage(QRectF(x, cDigitTop, DemoCanvas::cDigitWidth, DemoCanvas::cDigitHeight),
                    c.digits.at(barcode.at(i).digitValue()));
    }
    return true;
}

} // namespace

void ScenePainter::paintScene(QPainter &p, const DemoCanvas &c, quint64 seed, const DemoCardPlan::Photo &photo,
                              int index)
{
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setTransform(c.uprightToStored * QTransform::fromScale(1.0 / c.scaleDown, 1.0 / c.scaleDown));
    DemoRandom group(DemoRandom::hashOf(seed, quint64(photo.group), 0x67));
    DemoRandom shot(DemoRandom::hashOf(seed, quint64(index), 0x70));
    if (photo.barcodePhoto)
        paintCardSurface(p, c.upright, group);
    else
        paintSubject(p, c.upright, group, shot);
}

bool ScenePainter::paintBarcodeCard(QPainter &p, const DemoCanvas &c, quint64 seed, const DemoCardPlan::Photo &photo)
{
    return paintCard(p, cardToUpright(c, seed, photo.group) * c.uprightToStored, photo.barcode, c);
}
