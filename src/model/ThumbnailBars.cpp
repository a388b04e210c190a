#include "ThumbnailBars.h"

#include <QColor>
#include <algorithm>
#include <cmath>

namespace {

// Reads grey levels straight from the picture (RGB32 or Grayscale8): only the few lines at
// each edge are looked at, so converting the whole thumbnail first cost more than the search.
int greyAt(const uchar *line, bool rgb, int x)
{
    return rgb ? qGray(reinterpret_cast<const QRgb *>(line)[x]) : line[x];
}

int darkLinesFrom(const QImage &grey, bool rows, bool fromEnd, int limit)
{
    const bool rgb = grey.format() == QImage::Format_RGB32;
    const int lines = rows ? grey.height() : grey.width();
    const int across = rows ? grey.width() : grey.height();
    int count = 0;
    for (; count < limit; ++count) {
        const int line = fromEnd ? lines - 1 - count : count;
        int sum = 0;
        int peak = 0;
        const uchar *row = rows ? grey.constScanLine(line) : nullptr;
        if (row && !rgb) {
            // A grey picture: a plain loop the compiler turns into vector code.
            for (int i = 0; i < across; ++i) {
                sum += row[i];
                peak = std::max(peak, int(row[i]));
            }
        } else {
            for (int i = 0; i < across; ++i) {
                const int value = rows ? greyAt(row, rgb, i) : greyAt(grey.constScanLine(i), rgb, line);
                sum += value;
                peak = std::max(peak, value);
            }
        }
        if (sum > 16 * across || peak > 48)
            break;
    }
    return count;
}

// The first line of picture given the dark lines found at each end, or -1 when the
// thumbnail is stretched rather than padded. Counts past bars + 2 change nothing here,
// so the search may stop there.
int firstPictureLine(int start, int end, int bars)
{
    if (std::abs(start + end - bars) <= 2)
        return start; // exact bars, even when uneven
    if (start >= bars / 2 - 1 && end >= bars - bars / 2 - 1)
        return bars / 2; // dark picture edges continue the bars
    return -1;
}

} // namespace

std::optional<ThumbnailBars::Layout> ThumbnailBars::layout(QSize thumbnail, QSize mainSize)
{
    if (thumbnail.isEmpty() || mainSize.isEmpty())
        return std::nullopt;
    const double mainAspect = double(mainSize.width()) / mainSize.height();
    const double thumbAspect = double(thumbnail.width()) / thumbnail.height();
    if (std::abs(thumbAspect / mainAspect - 1.0) < 0.03)
        return std::nullopt;
    Layout layout;
    layout.rows = thumbAspect < mainAspect;
    layout.length = layout.rows ? thumbnail.height() : thumbnail.width();
    layout.content = layout.rows ? qRound(thumbnail.width() / mainAspect) : qRound(thumbnail.height() * mainAspect);
    layout.bars = layout.length - layout.content;
    if (layout.bars < 2 || layout.content < 1)
        return std::nullopt;
    return layout;
}

QRect ThumbnailBars::picture(const QImage &thumbnail, const Layout &layout)
{
    const bool rows = layout.rows;
    const int length = rows ? thumbnail.height() : thumbnail.width();
    if (thumbnail.isNull() || length != layout.length)
        return thumbnail.rect();
    const QImage grey = thumbnail.format() == QImage::Format_RGB32 || thumbnail.format() == QImage::Format_Grayscale8
        ? thumbnail
        : thumbnail.convertToFormat(QImage::Format_Grayscale8);
    const int first = firstPictureLine(darkLinesFrom(grey, rows, false, length / 2),
                                       darkLinesFrom(grey, rows, true, length / 2), layout.bars);
    if (first < 0)
        return thumbnail.rect(); // stretched rather than padded: leave it
    const int kept = std::min(layout.content, length - first);
    return rows ? QRect(0, first, thumbnail.width(), kept) : QRect(first, 0, kept, thumbnail.height());
}

QImage ThumbnailBars::without(const QImage &thumbnail, QSize mainSize)
{
    const std::optional<Layout> bars = layout(thumbnail.size(), mainSize);
    if (thumbnail.isNull() || !bars)
        return thumbnail;
    const QRect kept = picture(thumbnail, *bars);
    return kept == thumbnail.rect() ? thumbnail : thumbnail.copy(kept);
}
