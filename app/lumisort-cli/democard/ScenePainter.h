#pragma once

#include "DemoCanvas.h"

class QPainter;

// The pictures of a demo card: a pupil before the group's backdrop, or the
// group's barcode card on a grey surface, lit and vignetted like a studio shot.
class ScenePainter
{
public:
    // The scene without the card, into the small picture (stored orientation, scaled down).
    static void paintScene(QPainter &p, const DemoCanvas &c, quint64 seed, const DemoCardPlan::Photo &photo, int index);
    // The barcode card, sharp, onto the full-size picture; false when the barcode cannot be drawn.
    static bool paintBarcodeCard(QPainter &p, const DemoCanvas &c, quint64 seed, const DemoCardPlan::Photo &photo);
};
