#pragma once

#include <QImage>
#include <QList>
#include <QRectF>

// Points out the parts of a small copy of a photo that look like a printed
// code: many strong edges packed close together, either parallel (bars) or in
// two directions (squares of a matrix code). Cheap, so that only those parts
// are worth looking at again at full size; a photo of a scene without a label
// usually has none.
class BarcodeRegions
{
public:
    struct Region
    {
        QRectF area; // as fractions of the picture's width and height, spanning the windows joined to the best
        QRectF best; // the best window, in the same fractions
        double score = 0; // share of strong edge pixels, weighted towards one direction
        // The direction of the edges across the area, in degrees from the horizontal (0 to 180):
        // for bars, the direction across them.
        double angle = 0;
        double coherence = 0; // of the best window: 1 for edges all one way (bars), 0 for every way (a matrix code)
    };

    // The most code-like parts of a greyscale picture, best first, at most count of them,
    // none where nothing looks like a code.
    static QList<Region> find(const QImage &grey, int count);
};
