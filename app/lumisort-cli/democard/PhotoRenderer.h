#pragma once

#include "DemoCanvas.h"
#include "NoisyEnlarger.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QImage>
#include <QString>

// Paints, enlarges and encodes one photo of the card at a time. One per worker
// thread: a full-size picture costs page faults every time it is allocated, so
// the pictures and the JPEG buffer are kept across photos.
class PhotoRenderer
{
public:
    struct Rendered
    {
        QByteArray exif;
        QByteArrayView start, body; // in the renderer's buffer, until the next photo
        qint64 size() const { return start.size() + exif.size() + body.size(); }
    };

    PhotoRenderer(const DemoCanvas &canvas, quint64 seed);

    bool render(const DemoCardPlan::Photo &photo, int index, Rendered *out, QString *error);

    // Into a buffer kept across photos: growing a fresh one copies megabytes each time.
    static bool encodeJpeg(const QImage &image, int quality, QByteArray *bytes);
    static QByteArray encodeJpeg(const QImage &image, int quality);

private:
    const DemoCanvas &m_canvas;
    quint64 m_seed;
    QImage m_small;
    QImage m_image;
    NoisyEnlarger m_enlarger;
    QByteArray m_jpeg;
};
