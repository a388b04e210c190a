#include "SectionedGridLayout.h"

#include <Qt>
#include <algorithm>
#include <cmath>

void SectionedGridLayout::prepare(qreal width, qsizetype sections,
                                  const std::function<qsizetype(qsizetype)> &itemsInSection,
                                  const std::function<QSizeF(const IndexPath &)> &sizeForItem,
                                  const std::function<qreal(qsizetype)> &headerHeight)
{
    // Sections are reused rather than cleared so that a relayout on resize keeps
    // the lists' capacity and allocates nothing.
    m_sections.resize(std::max<qsizetype>(0, sections));
    const qreal left = sectionInset.left();
    const qreal rightEdge = width - sectionInset.right();
    m_sectionStarts.resize(m_sections.size());
    m_itemCount = 0;
    qreal y = 0;
    for (qsizetype s = 0; s < m_sections.size(); ++s) {
        Section &section = m_sections[s];
        section.top = y;
        m_sectionStarts[s] = m_itemCount;
        const qreal header = headerHeight ? std::max<qreal>(0, headerHeight(s)) : 0;
        section.headerFrame = QRectF(0, y, width, header);
        y += header + sectionInset.top();

        const qsizetype count = itemsInSection ? std::max<qsizetype>(0, itemsInSection(s)) : 0;
        section.itemFrames.clear();
        section.rowStarts.clear();
        section.rowTops.clear();
        section.rowBottoms.clear();
        section.itemFrames.reserve(count);
        // The columns that fit are centred, so the spare width is shared by both
        // sides instead of lying as a band at the right. Every section gets the
        // same columns, short ones included, so the grid lines up down the window.
        qreal rowLeft = left;
        if (count > 0) {
            const QSizeF first = sizeForItem ? sizeForItem(IndexPath {s, 0}) : itemSize;
            const qreal available = rightEdge - left;
            const qreal pitch = first.width() + minimumInteritemSpacing;
            if (first.width() > 0 && available > first.width() && pitch > 0) {
                const qreal columns = std::floor((available + minimumInteritemSpacing) / pitch);
                const qreal used = columns * first.width() + (columns - 1) * minimumInteritemSpacing;
                rowLeft = left + std::floor((available - used) / 2);
            }
        }
        qreal x = rowLeft;
        qreal rowTop = y;
        qreal rowHeight = 0;
        for (qsizetype i = 0; i < count; ++i) {
            const QSizeF size = sizeForItem ? sizeForItem(IndexPath {s, i}) : itemSize;
            const bool wraps = i > 0 && x + size.width() > rightEdge;
            if (wraps) {
                section.rowBottoms.append(rowTop + rowHeight);
                rowTop += rowHeight + minimumLineSpacing;
                rowHeight = 0;
                x = rowLeft;
            }
            if (i == 0 || wraps) {
                section.rowStarts.append(i);
                section.rowTops.append(rowTop);
            }
            section.itemFrames.append(QRectF(QPointF(x, rowTop), size));
            x += size.width() + minimumInteritemSpacing;
            rowHeight = std::max(rowHeight, size.height());
        }
        if (count > 0) {
            section.rowBottoms.append(rowTop + rowHeight);
            y = rowTop + rowHeight;
        }
        y += sectionInset.bottom();
        section.bottom = y;
        m_itemCount += count;
    }
    m_contentSize = QSizeF(width, y);
}

bool SectionedGridLayout::isValid(const IndexPath &indexPath) const
{
    return indexPath.section >= 0 && indexPath.section < m_sections.size() && indexPath.item >= 0
        && indexPath.item < m_sections.at(indexPath.section).itemFrames.size();
}

QRectF SectionedGridLayout::frameForItem(const IndexPath &indexPath) const
{
    return isValid(indexPath) ? m_sections.at(indexPath.section).itemFrames.at(indexPath.item) : QRectF();
}

QRectF SectionedGridLayout::frameForHeader(qsizetype section) const
{
    if (section < 0 || section >= m_sections.size())
        return {};
    return m_sections.at(section).headerFrame;
}

QRectF SectionedGridLayout::frameForRun(qsizetype section, qsizetype first, qsizetype last) const
{
    const QRectF from = frameForItem({section, first});
    const QRectF to = frameForItem({section, last});
    if (from.top() == to.top())
        return from.united(to);
    return {0, from.top(), m_contentSize.width(), to.bottom() - from.top()};
}

QList<IndexPath> SectionedGridLayout::itemsInRect(const QRectF &rect) const
{
    QList<IndexPath> result;
    auto section = std::partition_point(m_sections.cbegin(), m_sections.cend(),
                                        [&](const Section &s) { return s.bottom <= rect.top(); });
    for (; section != m_sections.cend() && section->top < rect.bottom(); ++section) {
        const qsizetype s = section - m_sections.cbegin();
        auto row = std::partition_point(section->rowBottoms.cbegin(), section->rowBottoms.cend(),
                                        [&](qreal bottom) { return bottom <= rect.top(); });
        for (qsizetype r = row - section->rowBottoms.cbegin();
             r < section->rowTops.size() && section->rowTops.at(r) < rect.bottom(); ++r) {
            const qsizetype end =
                r + 1 < section->rowStarts.size() ? section->rowStarts.at(r + 1) : section->itemFrames.size();
            for (qsizetype i = section->rowStarts.at(r); i < end; ++i) {
                if (section->itemFrames.at(i).intersects(rect))
                    result.append(IndexPath {s, i});
            }
        }
    }
    return result;
}

QList<qsizetype> SectionedGridLayout::headersInRect(const QRectF &rect) const
{
    QList<qsizetype> result;
    auto section = std::partition_point(m_sections.cbegin(), m_sections.cend(),
                                        [&](const Section &s) { return s.bottom <= rect.top(); });
    for (; section != m_sections.cend() && section->top < rect.bottom(); ++section) {
        if (section->headerFrame.intersects(rect))
            result.append(section - m_sections.cbegin());
    }
    return result;
}

std::optional<qsizetype> SectionedGridLayout::sectionAt(qreal y) const
{
    auto section =
        std::partition_point(m_sections.cbegin(), m_sections.cend(), [&](const Section &s) { return s.bottom <= y; });
    if (section == m_sections.cend() || section->top > y)
        return std::nullopt;
    return section - m_sections.cbegin();
}

QRectF SectionedGridLayout::pinnedFrameForHeader(qsizetype section, qreal top) const
{
    QRectF frame = frameForHeader(section);
    if (frame.isNull() || frame.top() >= top)
        return frame;
    const Section &s = m_sections.at(section);
    if (top >= s.bottom)
        return frame;
    frame.moveTop(std::min(top, s.bottom - frame.height()));
    return frame;
}

std::optional<IndexPath> SectionedGridLayout::itemAt(const QPointF &point) const
{
    auto section = std::partition_point(m_sections.cbegin(), m_sections.cend(),
                                        [&](const Section &s) { return s.bottom < point.y(); });
    if (section == m_sections.cend() || section->top > point.y())
        return std::nullopt;
    auto row = std::partition_point(section->rowBottoms.cbegin(), section->rowBottoms.cend(),
                                    [&](qreal bottom) { return bottom < point.y(); });
    const qsizetype r = row - section->rowBottoms.cbegin();
    if (r >= section->rowTops.size() || section->rowTops.at(r) > point.y())
        return std::nullopt;
    const qsizetype end = r + 1 < section->rowStarts.size() ? section->rowStarts.at(r + 1) : section->itemFrames.size();
    for (qsizetype i = section->rowStarts.at(r); i < end; ++i) {
        if (section->itemFrames.at(i).contains(point))
            return IndexPath {section - m_sections.cbegin(), i};
    }
    return std::nullopt;
}

qsizetype SectionedGridLayout::rowOf(const Section &section, qsizetype item)
{
    return std::upper_bound(section.rowStarts.cbegin(), section.rowStarts.cend(), item) - section.rowStarts.cbegin()
        - 1;
}

std::optional<IndexPath> SectionedGridLayout::nearestInRow(const Section &section, qsizetype sectionIndex,
                                                           qsizetype row, qreal centreX)
{
    const qsizetype end =
        row + 1 < section.rowStarts.size() ? section.rowStarts.at(row + 1) : section.itemFrames.size();
    std::optional<IndexPath> best;
    qreal bestDistance = 0;
    for (qsizetype i = section.rowStarts.at(row); i < end; ++i) {
        const qreal distance = std::abs(section.itemFrames.at(i).center().x() - centreX);
        if (!best || distance < bestDistance) {
            best = IndexPath {sectionIndex, i};
            bestDistance = distance;
        }
    }
    return best;
}

std::optional<IndexPath> SectionedGridLayout::itemAbove(const IndexPath &from) const
{
    if (!isValid(from))
        return std::nullopt;
    const QRectF frame = frameForItem(from);
    const qsizetype row = rowOf(m_sections.at(from.section), from.item);
    if (row > 0)
        return nearestInRow(m_sections.at(from.section), from.section, row - 1, frame.center().x());
    for (qsizetype s = from.section - 1; s >= 0; --s) {
        const Section &section = m_sections.at(s);
        if (!section.rowStarts.isEmpty())
            return nearestInRow(section, s, section.rowStarts.size() - 1, frame.center().x());
    }
    return std::nullopt;
}

std::optional<IndexPath> SectionedGridLayout::itemBelow(const IndexPath &from) const
{
    if (!isValid(from))
        return std::nullopt;
    const QRectF frame = frameForItem(from);
    const qsizetype row = rowOf(m_sections.at(from.section), from.item);
    if (row + 1 < m_sections.at(from.section).rowStarts.size())
        return nearestInRow(m_sections.at(from.section), from.section, row + 1, frame.center().x());
    for (qsizetype s = from.section + 1; s < m_sections.size(); ++s) {
        const Section &section = m_sections.at(s);
        if (!section.rowStarts.isEmpty())
            return nearestInRow(section, s, 0, frame.center().x());
    }
    return std::nullopt;
}

qsizetype SectionedGridLayout::readingIndex(const IndexPath &indexPath) const
{
    return m_sectionStarts.at(indexPath.section) + indexPath.item;
}

IndexPath SectionedGridLayout::itemAtReadingIndex(qsizetype index) const
{
    // Empty sections share their start with the next one; the last of those is the one holding the item.
    const qsizetype section =
        std::upper_bound(m_sectionStarts.cbegin(), m_sectionStarts.cend(), index) - m_sectionStarts.cbegin() - 1;
    return {section, index - m_sectionStarts.at(section)};
}

QSet<IndexPath> SectionedGridLayout::itemsBetween(const IndexPath &from, const IndexPath &to) const
{
    const qsizetype first = std::min(readingIndex(from), readingIndex(to));
    const qsizetype last = std::max(readingIndex(from), readingIndex(to));
    QSet<IndexPath> range;
    range.reserve(last - first + 1);
    for (qsizetype index = first; index <= last; ++index)
        range.insert(itemAtReadingIndex(index));
    return range;
}

std::optional<IndexPath> SectionedGridLayout::itemForKey(int key, const std::optional<IndexPath> &from) const
{
    if (m_itemCount == 0)
        return std::nullopt;
    const qsizetype at = from ? readingIndex(*from) : -1;
    switch (key) {
    case Qt::Key_Left:
        return at != 0 ? std::optional(itemAtReadingIndex(std::max<qsizetype>(at - 1, 0))) : std::nullopt;
    case Qt::Key_Right:
        return at + 1 < m_itemCount ? std::optional(itemAtReadingIndex(at + 1)) : std::nullopt;
    case Qt::Key_Up:
        return from ? itemAbove(*from) : itemAtReadingIndex(0);
    case Qt::Key_Down:
        return from ? itemBelow(*from) : itemAtReadingIndex(0);
    case Qt::Key_Home:
        return itemAtReadingIndex(0);
    case Qt::Key_End:
        return itemAtReadingIndex(m_itemCount - 1);
    default:
        return std::nullopt;
    }
}

int SectionedGridLayout::topShowing(const IndexPath &indexPath, int top, int height) const
{
    if (!isValid(indexPath))
        return top;
    const QRectF frame = frameForItem(indexPath);
    const Section &section = m_sections.at(indexPath.section);
    if (frame.bottom() > top + height)
        top = int(std::ceil(frame.bottom())) - height;
    // An item is only seen below the pinned header; a first row brings its header along.
    const qreal header = section.headerFrame.height();
    if (frame.top() - header < top)
        top = int(std::floor(indexPath.item < section.rowStarts.value(1, section.itemFrames.size())
                                 ? section.top
                                 : frame.top() - header));
    return top;
}
