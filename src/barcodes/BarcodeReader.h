#pragma once

#include "support/NativePath.h"

#include <QList>
#include <QPolygonF>
#include <QString>

// Finds the barcodes shown in a photo. The photo is decoded once, as grey at
// full size; a first look at a modest size finds a barcode card photographed
// the usual way cheaply; only a photo where nothing was found gets a second
// look at full size, only at the few parts that look like a printed code,
// which finds small and turned codes. Thread-safe.
class BarcodeReader
{
public:
    static constexpr int cFirstPassPixels = 1500;
    static constexpr int cSecondPassPixels = 6000;

    struct Code
    {
        QString text;
        QString format; // "Code128", "EAN-13", "QRCode" ...
        QPolygonF position; // corners in the upright photo, as fractions of its width and height
    };

    struct Reading
    {
        // Each text once, as the photo shows it: whether it may serve as a barcode is for the
        // caller to ask (BarcodeText), so that a card showing a web address is not mistaken
        // for a photo without a barcode.
        QList<Code> codes;
        bool readable = false; // the file gave a picture at all
        int pass = 0; // the pass that found the codes (1 or 2); 0 when none was found
        int pieces = 0; // parts of the photo read again at full size by the second pass
        qint64 ms = 0;
    };

    static Reading read(const NativePath &path);
};
