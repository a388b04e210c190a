#include "NoisyEnlarger.h"

#include "DemoRandom.h"

#include <cmath>
#include <cstring>

namespace {

// Sixteen lanes at a time: the compiler's default cost model leaves this loop
// scalar, and it touches every byte of every photo.
using U16x16 = quint16 __attribute__((vector_size(32)));
using I16x16 = qint16 __attribute__((vector_size(32)));
using I8x16 = qint8 __attribute__((vector_size(16)));
using U8x16 = quint8 __attribute__((vector_size(16)));

void blendRow(const quint16 *a, const quint16 *b, const qint8 *noise, uchar *out, int count, int weightB)
{
    const quint16 weightA = quint16(DemoCanvas::cWeightOne - weightB);
    const quint16 wb = quint16(weightB);
    int i = 0;
    const I16x16 zero = {};
    const I16x16 white = zero + 255;
    for (; i + 16 <= count; i += 16) {
        U16x16 va;
        U16x16 vb;
        I8x16 vn;
        std::memcpy(&va, a + i, sizeof va);
        std::memcpy(&vb, b + i, sizeof vb);
        std::memcpy(&vn, noise + i, sizeof vn);
        const U16x16 mixed = (va * weightA + vb * wb + quint16(128)) >> 8;
        I16x16 v = __builtin_convertvector(mixed, I16x16) + __builtin_convertvector(vn, I16x16);
        v = v < zero ? zero : v;
        v = v > white ? white : v;
        const U8x16 bytes = __builtin_convertvector(v, U8x16);
        std::memcpy(out + i, &bytes, sizeof bytes);
    }
    for (; i < count; ++i) {
        const int v = ((a[i] * weightA + b[i] * wb + 128) >> 8) + noise[i];
        out[i] = uchar(std::clamp(v, 0, 255));
    }
}

} // namespace

void NoisyEnlarger::enlarge(const QImage &small, QImage &image, const DemoCanvas &c, quint64 noiseSeed)
{
    const int width = c.stored.width();
    const int rowBytes = 3 * width;
    m_upper.resize(size_t(rowBytes));
    m_lower.resize(size_t(rowBytes));
    int upperRow = -1;
    int lowerRow = -1;
    const auto spread = [&](int row, std::vector<quint16> &into) {
        const QRgb *source = reinterpret_cast<const QRgb *>(small.constScanLine(row));
        quint16 *d = into.data();
        for (int x = 0; x < width; ++x) {
            const QRgb a = source[c.x0[x]];
            const QRgb b = source[c.x1[x]];
            const int wb = c.xWeight[x];
            const int wa = DemoCanvas::cWeightOne - wb;
            d[3 * x] = quint16(qRed(a) * wa + qRed(b) * wb);
            d[3 * x + 1] = quint16(qGreen(a) * wa + qGreen(b) * wb);
            d[3 * x + 2] = quint16(qBlue(a) * wa + qBlue(b) * wb);
        }
    };
    uchar *bits = image.bits();
    const qsizetype stride = image.bytesPerLine();
    for (int y = 0; y < c.stored.height(); ++y) {
        const double source = std::max(0.0, (y + 0.5) / c.scaleDown - 0.5);
        const int top = std::min(int(source), c.small.height() - 1);
        const int bottom = std::min(top + 1, c.small.height() - 1);
        if (upperRow != top) {
            if (lowerRow == top) {
                m_upper.swap(m_lower);
                std::swap(upperRow, lowerRow);
            } else {
                spread(top, m_upper);
                upperRow = top;
            }
        }
        if (lowerRow != bottom) {
            spread(bottom, m_lower);
            lowerRow = bottom;
        }
        blendRow(m_upper.data(), m_lower.data(),
                 c.noise.data() + DemoRandom::hashOf(noiseSeed, quint64(y), 0) % DemoCanvas::cNoiseLength,
                 bits + y * stride, rowBytes, int(std::lround((source - top) * DemoCanvas::cWeightOne)));
    }
}
