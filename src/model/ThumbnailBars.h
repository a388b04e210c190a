#pragma once

#include <QImage>
#include <QRect>
#include <QSize>
#include <optional>

// The black bars a camera pads its thumbnail with when the thumbnail's shape is
// not the photo's (160x120 for a 3:2 photo): found from the lines at the
// thumbnail's edges, and left out of what is shown.
class ThumbnailBars
{
public:
    // Where the bars would be, were the thumbnail padded to its shape rather than stretched.
    struct Layout
    {
        bool rows = true; // bars above and below
        int length = 0; // lines across the bars
        int content = 0; // lines of picture
        int bars = 0; // lines of both bars together
    };

    // Nothing when the thumbnail has the photo's shape.
    static std::optional<Layout> layout(QSize thumbnail, QSize mainSize);
    // The part of thumbnail (RGB32 or grey) that is picture: all of it when it is stretched rather than padded.
    static QRect picture(const QImage &thumbnail, const Layout &layout);
    // The thumbnail without its bars, when they are clearly there.
    static QImage without(const QImage &thumbnail, QSize mainSize);
};
