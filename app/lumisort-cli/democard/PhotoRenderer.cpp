#include "PhotoRenderer.h"

#include "CameraExif.h"
#include "DemoRandom.h"
#include "ScenePainter.h"

#include <QBuffer>
#include <QImageWriter>
#include <QPainter>

using namespace Qt::StringLiterals;

PhotoRenderer::PhotoRenderer(const DemoCanvas &canvas, quint64 seed)
    : m_canvas(canvas)
    , m_seed(seed)
{ }

bool PhotoRenderer::render(const DemoCardPlan::Photo &photo, int index, Rendered *out, QString *error)
{
    const DemoCanvas &c = m_canvas;
    if (m_image.isNull()) {
        m_small = QImage(c.small, QImage::Format_RGB32);
        m_image = QImage(c.stored, QImage::Format_RGB888);
    }
    if (m_small.isNull() || m_image.isNull()) {
        *error = u"not enough memory for a "_s + QString::number(c.stored.width()) + u"x"_s
            + QString::number(c.stored.height()) + u" photo"_s;
        return false;
    }
    {
        QPainter p(&m_small);
        ScenePainter::paintScene(p, c, m_seed, photo, index);
    }
    m_enlarger.enlarge(m_small, m_image, c, DemoRandom::hashOf(m_seed, quint64(index), 0x6e));
    if (photo.barcodePhoto) {
        QPainter p(&m_image);
        if (!ScenePainter::paintBarcodeCard(p, c, m_seed, photo)) {
            *error = u"could not draw barcode "_s + photo.barcode;
            return false;
        }
    }
    const QByteArray thumbnail = c.thumbnail ? encodeJpeg(CameraExif::thumbnailOf(m_image), 85) : QByteArray();
    if (!encodeJpeg(m_image, c.quality, &m_jpeg) || (c.thumbnail && thumbnail.isEmpty())) {
        *error = u"could not encode "_s + photo.relativePath;
        return false;
    }
    out->exif = CameraExif::segment(photo, c, thumbnail, error);
    const qsizetype body = CameraExif::jpegBodyOffset(m_jpeg);
    out->start = QByteArrayView(m_jpeg).first(2);
    out->body = QByteArrayView(m_jpeg).sliced(body);
    return !out->exif.isEmpty();
}

bool PhotoRenderer::encodeJpeg(const QImage &image, int quality, QByteArray *bytes)
{
    QBuffer buffer(bytes);
    buffer.open(QIODevice::WriteOnly | QIODevice::Truncate);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(quality);
    return writer.write(image);
}

QByteArray PhotoRenderer::encodeJpeg(const QImage &image, int quality)
{
    QByteArray bytes;
    return encodeJpeg(image, quality, &bytes) ? bytes : QByteArray();
}
