#pragma once

#include "DemoCardPlan.h"

#include <QImage>
#include <QList>
#include <QSize>
#include <QTransform>
#include <vector>

// What every photo of one card shares, prepared once before the workers start.
struct DemoCanvas
{
    // Blending weights in sixteenths keep every intermediate within 16 bits.
    static constexpr int cWeightOne = 16;
    // Independent per-channel noise is what makes a JPEG as large as a camera's.
    static constexpr int cNoiseLength = 1 << 20;

    // The barcode card in units of one barcode module, laid out like a printed EAN-13.
    static constexpr double cQuiet = 12;
    static constexpr int cBarModules = 95;
    static constexpr double cCardWidth = 2 * cQuiet + cBarModules;
    static constexpr double cCardHeight = 76;
    static constexpr double cDigitWidth = 7;
    static constexpr double cDigitHeight = 11;

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

    // On the main thread: it draws the digits with a font.
    static DemoCanvas make(const DemoCardOptions &options);
};
