#pragma once

#include "DemoCanvas.h"

#include <QImage>
#include <vector>

// Enlarges the small painted scene to the full picture and adds the sensor
// noise in the same pass; one per worker thread, as it keeps its row buffers.
class NoisyEnlarger
{
public:
    void enlarge(const QImage &small, QImage &image, const DemoCanvas &c, quint64 noiseSeed);

private:
    std::vector<quint16> m_upper, m_lower;
};
