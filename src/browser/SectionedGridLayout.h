#pragma once

#include "model/IndexPath.h"

#include <QList>
#include <QMarginsF>
#include <QRectF>
#include <QSet>
#include <QSizeF>
#include <functional>
#include <optional>

// Where every header and item of a sectioned grid goes: each section is its
// header (the full width), then its items flowing left to right in rows inside
// the section insets, rows separated by the line spacing, items by at least the
// inter-item spacing. Pure geometry: no widgets.
class SectionedGridLayout
{
public:
    QSizeF itemSize {250, 250}; // used when no size function is set
    QMarginsF sectionInset {20, 30, 20, 30}; // left, top, right, bottom
    qreal minimumInteritemSpacing = 10;
    qreal minimumLineSpacing = 10;

    struct Section
    {
        QRectF headerFrame;
        QList<QRectF> itemFrames;
        QList<qsizetype> rowStarts; // index of the first item of each row
        QList<qreal> rowTops;
        QList<qreal> rowBottoms;
        qreal top = 0;
        qreal bottom = 0;
    };

    // Lays out every section for a view of the given width.
    void prepare(qreal width, qsizetype sections, const std::function<qsizetype(qsizetype)> &itemsInSection,
                 const std::function<QSizeF(const IndexPath &)> &sizeForItem,
                 const std::function<qreal(qsizetype)> &headerHeight);

    QSizeF contentSize() const { return m_contentSize; }
    const QList<Section> &sections() const { return m_sections; }
    // Whether the index path names an item of the last prepare().
    bool isValid(const IndexPath &indexPath) const;
    QRectF frameForItem(const IndexPath &indexPath) const;
    QRectF frameForHeader(qsizetype section) const;
    // What a run of neighbours of a section covers: whole rows between its ends when it wraps.
    QRectF frameForRun(qsizetype section, qsizetype first, qsizetype last) const;
    // Everything that meets the rectangle, in order.
    QList<IndexPath> itemsInRect(const QRectF &rect) const;
    QList<qsizetype> headersInRect(const QRectF &rect) const;
    // The section whose span holds the height y, if any.
    std::optional<qsizetype> sectionAt(qreal y) const;
    // Where a section's header is drawn when the view's top edge is at y: pinned to
    // that edge while its section is in view, pushed up by the next section's header.
    QRectF pinnedFrameForHeader(qsizetype section, qreal top) const;
    // The item at a point, if any.
    std::optional<IndexPath> itemAt(const QPointF &point) const;
    // Neighbours for keyboard moves (nullopt at the edges).
    std::optional<IndexPath> itemAbove(const IndexPath &from) const;
    std::optional<IndexPath> itemBelow(const IndexPath &from) const;

    // Where a key moves the cursor from an item (or from nowhere): arrows, Home and
    // End; nullopt at the edges and for other keys.
    std::optional<IndexPath> itemForKey(int key, const std::optional<IndexPath> &from) const;
    // The view's top edge after scrolling the least from top so that the item shows
    // whole in a view of that height, clear of its section's header pinned over the top.
    int topShowing(const IndexPath &indexPath, int top, int height) const;

    // Reading order: section by section, item by item, as Shift ranges and the
    // Left/Right keys go across sections.
    qsizetype itemCount() const { return m_itemCount; }
    qsizetype readingIndex(const IndexPath &indexPath) const;
    IndexPath itemAtReadingIndex(qsizetype index) const;
    QSet<IndexPath> itemsBetween(const IndexPath &from, const IndexPath &to) const;

private:
    // The row of an item, found in rowStarts.
    static qsizetype rowOf(const Section &section, qsizetype item);
    static std::optional<IndexPath> nearestInRow(const Section &section, qsizetype sectionIndex, qsizetype row,
                                                 qreal centreX);

    QList<Section> m_sections;
    QList<qsizetype> m_sectionStarts; // reading index of each section's first item
    qsizetype m_itemCount = 0;
    QSizeF m_contentSize;
};
