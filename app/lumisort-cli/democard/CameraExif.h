#pragma once

#include "DemoCanvas.h"

#include <QByteArray>
#include <QImage>
#include <QString>

// What a camera puts in front of the picture: the EXIF block with its letterboxed thumbnail.
class CameraExif
{
public:
    // Letterboxed like a camera's: the stored pixels, in the stored orientation.
    static QImage thumbnailOf(const QImage &stored);
    // An APP1 segment for the start of the file; empty, with the reason, on failure.
    static QByteArray segment(const DemoCardPlan::Photo &photo, const DemoCanvas &c, const QByteArray &thumbnail,
                              QString *error);
    // Where the picture continues after the start-of-image marker and the JFIF
    // header Qt writes, which a camera's file does not have.
    static qsizetype jpegBodyOffset(const QByteArray &jpeg);
};
