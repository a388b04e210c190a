#pragma once

#include <QByteArrayView>
#include <QImage>
#include <QSize>

// Decodes a whole JPEG held in memory straight to about thumbnail size: libjpeg
// shrinks while it decodes (at the smallest of its M/8 scales that still covers
// the wanted size), with its fast integer DCT and plain upsampling when the
// result is scaled down smoothly afterwards anyway. Gives a null image for
// anything it does not handle (CMYK, damage libjpeg stops on, over the pixel
// limit) so the caller can fall back to a general decoder. Thread-safe.
class JpegScaledDecoder
{
public:
    // The picture as stored (not turned), its longer side at least maxPixelSize
    // unless the photo is smaller; storedSize gets the full size when the header reads.
    static QImage decode(QByteArrayView jpeg, int maxPixelSize, QSize *storedSize = nullptr);
    // The picture's brightness alone, as stored, at the smallest scale that covers maxPixelSize,
    // decoded exactly (what is read from it, barcodes, wants the true steps between bars): colour is
    // neither upsampled nor converted, which saves a third of a full-size decode. Null as decode() gives null.
    static QImage decodeGrey(QByteArrayView jpeg, int maxPixelSize, QSize *storedSize = nullptr);
    // The stored size, once the header reads and the decoder is set up to decode it (which checks
    // its tables), without decoding any of it; empty when either fails or as decode() gives null.
    static QSize checkedSize(QByteArrayView jpeg);
    // The smallest scale numerator M (of M/8) whose output covers target.
    static int scaleNumerator(QSize stored, QSize target);
};
