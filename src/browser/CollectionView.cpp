#include "CollectionView.h"

#include "CollectionViewDataSource.h"
#include "CollectionViewDelegate.h"

#include <QApplication>
#include <QDrag>
#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPixmap>
#include <QResizeEvent>
#include <QRubberBand>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QTimer>
#include <algorithm>
#include <cmath>

using namespace Qt::StringLiterals;

const QString CollectionView::cSectionHeaderKind = u"UICollectionElementKindSectionHeader"_s;

CollectionView::CollectionView(QWidget *parent)
    : QAbstractScrollArea(parent)
{
    setFrameShape(QFrame::NoFrame);
    setFocusPolicy(Qt::StrongFocus);
    // Items always fit the width, so there is never anything to scroll sideways.
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    verticalScrollBar()->setSingleStep(40);
    viewport()->setAcceptDrops(true);
    m_autoScrollTimer = new QTimer(this);
    m_autoScrollTimer->setInterval(30);
    connect(m_autoScrollTimer, &QTimer::timeout, this, &CollectionView::autoScrollStep);
}

CollectionView::~CollectionView()
{
    // The viewport deletes its children after this object's members are gone;
    // their destroyed() must not reach forgetWidget() then.
    for (auto it = m_identifierOf.cbegin(); it != m_identifierOf.cend(); ++it)
        disconnect(it.key(), nullptr, this, nullptr);
}

void CollectionView::setDataSource(CollectionViewDataSource *dataSource)
{
    m_dataSource = dataSource;
    if (m_dataSource && m_delegate)
        reloadData();
}

void CollectionView::setDelegate(CollectionViewDelegate *delegate)
{
    m_delegate = delegate;
    if (m_dataSource && m_delegate)
        reloadData();
}

void CollectionView::registerClass(const QString &identifier, std::function<QWidget *(QWidget *)> factory)
{
    m_factories.insert(identifier, std::move(factory));
}

QWidget *CollectionView::makeItem(const QString &identifier, const IndexPath &indexPath)
{
    Q_UNUSED(indexPath)
    auto pool = m_reusePool.find(identifier);
    if (pool != m_reusePool.end() && !pool->isEmpty())
        return pool->takeLast();
    const auto factory = m_factories.constFind(identifier);
    if (factory == m_factories.cend() || !*factory) {
        qWarning("CollectionView: nothing registered for \"%s\"", qUtf8Printable(identifier));
        return nullptr;
    }
    QWidget *widget = (*factory)(viewport());
    if (!widget)
        return nullptr;
    if (widget->parentWidget() != viewport())
        widget->setParent(viewport());
    m_identifierOf.insert(widget, identifier);
    ++m_createdWidgets;
    connect(widget, &QObject::destroyed, this, &CollectionView::forgetWidget);
    return widget;
}

QWidget *CollectionView::makeSupplementaryView(const QString &kind, const QString &identifier,
                                               const IndexPath &indexPath)
{
    Q_UNUSED(kind)
    return makeItem(identifier, indexPath);
}

void CollectionView::forgetWidget(QObject *object)
{
    // Only addresses are compared: the widget part of the object is already gone.
    const auto isIt = [object](QWidget *widget) { return static_cast<QObject *>(widget) == object; };
    m_identifierOf.removeIf([&](const auto &it) { return isIt(it.key()); });
    for (auto &pool : m_reusePool)
        pool.removeIf(isIt);
    m_visibleItems.removeIf([&](const auto &it) { return isIt(it.value()); });
    m_visibleHeaders.removeIf([&](const auto &it) { return isIt(it.value()); });
}

void CollectionView::recycle(const QString &identifier, QWidget *widget)
{
    widget->hide();
    if (!identifier.isEmpty())
        m_reusePool[identifier].append(widget);
}

void CollectionView::recycleAll()
{
    for (auto it = m_visibleItems.cbegin(); it != m_visibleItems.cend(); ++it)
        recycle(m_identifierOf.value(it.value()), it.value());
    for (auto it = m_visibleHeaders.cbegin(); it != m_visibleHeaders.cend(); ++it)
        recycle(m_identifierOf.value(it.value()), it.value());
    m_visibleItems.clear();
    m_visibleHeaders.clear();
}

void CollectionView::reloadData()
{
    const bool hadItems = !m_visibleItems.isEmpty();
    recycleAll();
    loadSizes();
    relayout();
    m_selection.removeIf([this](const IndexPath &path) { return !m_layout.isValid(path); });
    if (m_anchor && !m_layout.isValid(*m_anchor))
        m_anchor.reset();
    if (m_cursor && !m_layout.isValid(*m_cursor))
        m_cursor.reset();
    updateVisibleWidgets(true);
    if (hadItems && m_visibleItems.isEmpty())
        Q_EMIT visibleItemsChanged();
}

void CollectionView::reloadItems(const QSet<IndexPath> &indexPaths)
{
    if (!m_dataSource)
        return;
    bool lost = false;
    for (const IndexPath &path : indexPaths) {
        const auto it = m_visibleItems.constFind(path);
        if (it == m_visibleItems.cend())
            continue;
        QWidget *widget = it.value();
        m_visibleItems.erase(it);
        // Back to the pool first, so the data source gets the same widget again.
        recycle(m_identifierOf.value(widget), widget);
        fetchItem(path);
        lost = lost || !m_visibleItems.contains(path);
    }
    if (lost)
        Q_EMIT visibleItemsChanged();
}

void CollectionView::invalidateLayout()
{
    loadSizes();
    relayout();
    updateVisibleWidgets(true);
}

void CollectionView::loadSizes()
{
    const qsizetype sections = m_dataSource ? std::max<qsizetype>(0, m_dataSource->numberOfSections(this)) : 0;
    m_itemSizes.resize(sections);
    m_headerHeights.resize(sections);
    for (qsizetype s = 0; s < sections; ++s) {
        const qsizetype count = std::max<qsizetype>(0, m_dataSource->numberOfItemsInSection(this, s));
        QList<QSizeF> &sizes = m_itemSizes[s];
        sizes.resize(count);
        for (qsizetype i = 0; i < count; ++i)
            sizes[i] = m_delegate ? m_delegate->sizeForItemAt(this, IndexPath {s, i}) : m_layout.itemSize;
        m_headerHeights[s] = m_delegate ? m_delegate->referenceSizeForHeaderInSection(this, s).height() : 0;
    }
}

void CollectionView::prepareLayout()
{
    m_layoutWidth = viewport()->width();
    m_layout.prepare(
        m_layoutWidth, m_itemSizes.size(), [this](qsizetype s) { return m_itemSizes.at(s).size(); },
        [this](const IndexPath &path) { return m_itemSizes.at(path.section).at(path.item); },
        [this](qsizetype s) { return m_headerHeights.at(s); });
    m_sectionStarts.resize(m_itemSizes.size());
    qsizetype start = 0;
    for (qsizetype s = 0; s < m_itemSizes.size(); ++s) {
        m_sectionStarts[s] = start;
        start += m_itemSizes.at(s).size();
    }
}

void CollectionView::updateScrollBars()
{
    QScrollBar *bar = verticalScrollBar();
    const int height = viewport()->height();
    bar->setPageStep(height);
    bar->setRange(0, std::max(0, int(std::ceil(m_layout.contentSize().height())) - height));
}

void CollectionView::relayout()
{
    if (m_inLayout) {
        m_layoutPending = true;
        return;
    }
    const QScopedValueRollback guard(m_inLayout, true);
    // Showing or hiding the scroll bar changes the width, which reflows the
    // content; a narrower grid is never shorter, so this settles at once.
    for (int pass = 0; pass < 3; ++pass) {
        m_layoutPending = false;
        prepareLayout();
        updateScrollBars();
        if (!m_layoutPending && viewport()->width() == m_layoutWidth)
            break;
    }
}

QPoint CollectionView::scrollOffset() const
{
    return {horizontalScrollBar()->value(), verticalScrollBar()->value()};
}

QRect CollectionView::viewportRectFor(const QRectF &contentFrame) const
{
    return contentFrame.translated(-QPointF(scrollOffset())).toRect();
}

QRectF CollectionView::preparedRect() const
{
    const qreal height = viewport()->height();
    const qreal width = std::max<qreal>(viewport()->width(), m_layout.contentSize().width());
    return {0, scrollOffset().y() - height / 2, width, height * 2};
}

void CollectionView::fetchItem(const IndexPath &indexPath)
{
    QWidget *widget = m_dataSource->itemForRepresentedObjectAt(this, indexPath);
    if (!widget)
        return;
    if (widget->parentWidget() != viewport())
        widget->setParent(viewport());
    widget->setGeometry(viewportRectFor(m_layout.frameForItem(indexPath)));
    widget->show();
    m_visibleItems.insert(indexPath, widget);
}

void CollectionView::fetchHeader(qsizetype section)
{
    QWidget *widget = m_dataSource->viewForSupplementaryElementOfKind(this, cSectionHeaderKind, IndexPath {section, 0});
    if (!widget)
        return;
    if (widget->parentWidget() != viewport())
        widget->setParent(viewport());
    widget->setGeometry(viewportRectFor(m_layout.pinnedFrameForHeader(section, scrollOffset().y())));
    widget->show();
    m_visibleHeaders.insert(section, widget);
}

void CollectionView::updateVisibleWidgets(bool repositionAll)
{
    const QRectF prepared = preparedRect();
    bool itemsChanged = false;
    for (auto it = m_visibleItems.begin(); it != m_visibleItems.end();) {
        const QRectF frame = m_layout.frameForItem(it.key());
        if (!m_layout.isValid(it.key()) || !frame.intersects(prepared)) {
            recycle(m_identifierOf.value(it.value()), it.value());
            it = m_visibleItems.erase(it);
            itemsChanged = true;
        } else {
            if (repositionAll)
                it.value()->setGeometry(viewportRectFor(frame));
            ++it;
        }
    }
    // Headers are few: each is placed on every pass, since the one of the section at
    // the top stays pinned there (its button always at hand) while the rest scroll.
    const qreal top = scrollOffset().y();
    const std::optional<qsizetype> pinned = m_layout.sectionAt(top);
    for (auto it = m_visibleHeaders.begin(); it != m_visibleHeaders.end();) {
        const QRectF frame = m_layout.pinnedFrameForHeader(it.key(), top);
        if (it.key() >= m_layout.sections().size() || !frame.intersects(prepared)) {
            recycle(m_identifierOf.value(it.value()), it.value());
            it = m_visibleHeaders.erase(it);
        } else {
            it.value()->setGeometry(viewportRectFor(frame));
            ++it;
        }
    }
    if (m_dataSource) {
        for (const IndexPath &path : m_layout.itemsInRect(prepared)) {
            if (!m_visibleItems.contains(path)) {
                fetchItem(path);
                itemsChanged = true;
            }
        }
        for (const qsizetype section : m_layout.headersInRect(prepared)) {
            if (!m_visibleHeaders.contains(section))
                fetchHeader(section);
        }
        if (pinned && !m_visibleHeaders.contains(*pinned))
            fetchHeader(*pinned);
    }
    // Above the photos that scroll under it.
    if (pinned) {
        if (QWidget *header = m_visibleHeaders.value(*pinned))
            header->raise();
    }
    if (m_rubberBand && m_rubberBand->isVisible())
        m_rubberBand->raise();
    if (itemsChanged)
        Q_EMIT visibleItemsChanged();
}

qsizetype CollectionView::numberOfSections() const
{
    return m_layout.sections().size();
}

qsizetype CollectionView::numberOfItemsInSection(qsizetype section) const
{
    return section >= 0 && section < m_layout.sections().size() ? m_layout.sections().at(section).itemFrames.size() : 0;
}

QWidget *CollectionView::itemAtIndexPath(const IndexPath &indexPath) const
{
    return m_visibleItems.value(indexPath);
}

QWidget *CollectionView::headerForSection(qsizetype section) const
{
    return m_visibleHeaders.value(section);
}

QList<IndexPath> CollectionView::indexPathsForVisibleItems() const
{
    const QRectF inView(QPointF(0, scrollOffset().y()), QSizeF(viewport()->width(), viewport()->height()));
    return m_layout.itemsInRect(inView);
}

QList<IndexPath> CollectionView::preparedIndexPaths() const
{
    QList<IndexPath> paths = m_visibleItems.keys();
    std::sort(paths.begin(), paths.end());
    return paths;
}

QList<qsizetype> CollectionView::visibleSections() const
{
    QSet<qsizetype> sections;
    for (auto it = m_visibleHeaders.cbegin(); it != m_visibleHeaders.cend(); ++it)
        sections.insert(it.key());
    for (auto it = m_visibleItems.cbegin(); it != m_visibleItems.cend(); ++it)
        sections.insert(it.key().section);
    QList<qsizetype> list = sections.values();
    std::sort(list.begin(), list.end());
    return list;
}

QPointF CollectionView::contentOffset() const
{
    return scrollOffset();
}

void CollectionView::setContentOffset(const QPointF &offset)
{
    verticalScrollBar()->setValue(qRound(offset.y()));
}

void CollectionView::scrollToItem(const IndexPath &indexPath)
{
    if (!m_layout.isValid(indexPath))
        return;
    const QRectF frame = m_layout.frameForItem(indexPath);
    const CollectionViewFlowLayout::Section &section = m_layout.sections().at(indexPath.section);
    const int height = viewport()->height();
    int top = verticalScrollBar()->value();
    if (frame.bottom() > top + height)
        top = int(std::ceil(frame.bottom())) - height;
    // The section's header is pinned over the top of the view while its items are
    // in view: an item is only seen below it. A first row brings its header along.
    const qreal header = section.headerFrame.height();
    if (frame.top() - header < top)
        top = int(std::floor(indexPath.item < section.rowStarts.value(1, section.itemFrames.size())
                                 ? section.top
                                 : frame.top() - header));
    verticalScrollBar()->setValue(top);
}

void CollectionView::setBackgroundColor(const QColor &color)
{
    QPalette palette = viewport()->palette();
    palette.setColor(viewport()->backgroundRole(), color);
    viewport()->setPalette(palette);
    viewport()->setAutoFillBackground(true);
}

void CollectionView::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    if (m_inLayout) {
        m_layoutPending = true;
        return;
    }
    if (viewport()->width() != m_layoutWidth) {
        // Reflowing moves everything; keep the item at the top of the view in place.
        std::optional<IndexPath> anchor;
        qreal anchorShift = 0;
        const int top = verticalScrollBar()->value();
        if (top > 0) {
            const QList<IndexPath> items =
                m_layout.itemsInRect(QRectF(0, top, m_layout.contentSize().width(), viewport()->height()));
            if (!items.isEmpty()) {
                anchor = items.constFirst();
                anchorShift = m_layout.frameForItem(*anchor).top() - top;
            }
        }
        relayout();
        if (anchor && m_layout.isValid(*anchor)) {
            const QScopedValueRollback guard(m_inLayout, true);
            verticalScrollBar()->setValue(qRound(m_layout.frameForItem(*anchor).top() - anchorShift));
        }
    } else {
        const QScopedValueRollback guard(m_inLayout, true);
        updateScrollBars();
    }
    updateVisibleWidgets(true);
}

void CollectionView::scrollContentsBy(int dx, int dy)
{
    // During a relayout every widget is placed afterwards anyway.
    if (m_inLayout)
        return;
    // Scrolling the viewport moves its children along with the pixels, which is
    // far cheaper than moving each widget; a hidden viewport does not scroll.
    if (viewport()->isVisible())
        viewport()->scroll(dx, dy);
    updateVisibleWidgets(!viewport()->isVisible());
    if (m_bandActive)
        updateRubberBand();
}

// Reading order: section by section, item by item.

qsizetype CollectionView::totalItems() const
{
    return m_sectionStarts.isEmpty() ? 0 : m_sectionStarts.constLast() + m_itemSizes.constLast().size();
}

qsizetype CollectionView::readingIndex(const IndexPath &indexPath) const
{
    return m_sectionStarts.at(indexPath.section) + indexPath.item;
}

IndexPath CollectionView::indexPathAtReadingIndex(qsizetype index) const
{
    // Empty sections share their start with the next one; the last of those is the one holding the item.
    const qsizetype section =
        std::upper_bound(m_sectionStarts.cbegin(), m_sectionStarts.cend(), index) - m_sectionStarts.cbegin() - 1;
    return {section, index - m_sectionStarts.at(section)};
}

QSet<IndexPath> CollectionView::rangeBetween(const IndexPath &from, const IndexPath &to) const
{
    const qsizetype first = std::min(readingIndex(from), readingIndex(to));
    const qsizetype last = std::max(readingIndex(from), readingIndex(to));
    QSet<IndexPath> range;
    range.reserve(last - first + 1);
    for (qsizetype index = first; index <= last; ++index)
        range.insert(indexPathAtReadingIndex(index));
    return range;
}

QList<IndexPath> CollectionView::allIndexPathsInOrder() const
{
    QList<IndexPath> paths;
    paths.reserve(totalItems());
    for (qsizetype s = 0; s < m_layout.sections().size(); ++s) {
        for (qsizetype i = 0; i < m_layout.sections().at(s).itemFrames.size(); ++i)
            paths.append(IndexPath {s, i});
    }
    return paths;
}

// Selection.

void CollectionView::changeSelection(const QSet<IndexPath> &newSelection, bool notify)
{
    if (newSelection == m_selection)
        return;
    const QSet<IndexPath> added = QSet<IndexPath>(newSelection).subtract(m_selection);
    const QSet<IndexPath> removed = QSet<IndexPath>(m_selection).subtract(newSelection);
    m_selection = newSelection;
    if (!notify || !m_delegate)
        return;
    if (!removed.isEmpty())
        m_delegate->didDeselectItemsAt(this, removed);
    if (!added.isEmpty())
        m_delegate->didSelectItemsAt(this, added);
}

void CollectionView::selectItems(const QSet<IndexPath> &indexPaths, bool notify)
{
    QSet<IndexPath> selection = m_selection;
    for (const IndexPath &path : indexPaths) {
        if (m_layout.isValid(path))
            selection.insert(path);
    }
    changeSelection(selection, notify);
}

void CollectionView::deselectItems(const QSet<IndexPath> &indexPaths, bool notify)
{
    changeSelection(QSet<IndexPath>(m_selection).subtract(indexPaths), notify);
}

void CollectionView::selectAll(bool notify)
{
    const QList<IndexPath> all = allIndexPathsInOrder();
    changeSelection(QSet<IndexPath>(all.cbegin(), all.cend()), notify);
}

void CollectionView::deselectAll(bool notify)
{
    changeSelection({}, notify);
}

void CollectionView::moveCursorTo(const IndexPath &target, bool extend)
{
    if (extend) {
        if (!m_anchor)
            m_anchor = m_cursor.value_or(target);
        changeSelection(rangeBetween(*m_anchor, target), true);
    } else {
        m_anchor = target;
        changeSelection({target}, true);
    }
    m_cursor = target;
    scrollToItem(target);
}

void CollectionView::resetPressState()
{
    m_pressedItem.reset();
    m_pendingPlainClick = false;
    m_dragCandidate = false;
    m_bandCandidate = false;
    m_bandActive = false;
    m_dragging = false;
    m_autoScrollTimer->stop();
    if (m_rubberBand)
        m_rubberBand->hide();
}

void CollectionView::mousePressEvent(QMouseEvent *event)
{
    event->accept();
    resetPressState();
    if (focusPolicy() & Qt::ClickFocus)
        setFocus(Qt::MouseFocusReason);
    m_pressPosition = event->position().toPoint();
    m_lastMousePosition = m_pressPosition;
    m_pressContentPoint = event->position() + scrollOffset();
    m_pressedItem = m_layout.itemAt(m_pressContentPoint);
    if (!m_selectable)
        return;
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    const bool shift = event->modifiers() & Qt::ShiftModifier;

    if (event->button() != Qt::LeftButton) {
        // A context menu acts on what is under the mouse.
        if (event->button() == Qt::RightButton && m_pressedItem && !m_selection.contains(*m_pressedItem)) {
            m_anchor = m_cursor = m_pressedItem;
            changeSelection({*m_pressedItem}, true);
        }
        return;
    }

    if (!m_pressedItem) {
        if (!ctrl && m_allowsEmpty)
            changeSelection({}, true);
        m_selectionAtPress = m_selection;
        m_bandCandidate = m_multiple;
        m_bandAdds = ctrl;
        return;
    }

    const IndexPath item = *m_pressedItem;
    if (shift && m_multiple) {
        if (!m_anchor)
            m_anchor = item;
        const QSet<IndexPath> range = rangeBetween(*m_anchor, item);
        changeSelection(ctrl ? QSet<IndexPath>(m_selection).unite(range) : range, true);
    } else if (ctrl) {
        QSet<IndexPath> selection = m_multiple ? m_selection : QSet<IndexPath> {};
        if (m_selection.contains(item))
            selection.remove(item);
        else
            selection.insert(item);
        if (!selection.isEmpty() || m_allowsEmpty)
            changeSelection(selection, true);
        m_anchor = item;
    } else {
        // A selected item stays part of the selection until release, so the whole selection can be dragged.
        if (m_selection.contains(item))
            m_pendingPlainClick = m_selection.size() > 1;
        else
            changeSelection({item}, true);
        m_anchor = item;
    }
    m_cursor = item;
    m_dragCandidate = m_selection.contains(item);
}

void CollectionView::mouseMoveEvent(QMouseEvent *event)
{
    event->accept();
    if (!(event->buttons() & Qt::LeftButton))
        return;
    m_lastMousePosition = event->position().toPoint();
    const bool farEnough =
        (m_lastMousePosition - m_pressPosition).manhattanLength() >= QApplication::startDragDistance();
    if (m_dragCandidate) {
        if (farEnough)
            startDrag();
        return;
    }
    if (!m_bandCandidate || (!m_bandActive && !farEnough))
        return;
    m_bandActive = true;
    updateRubberBand();
    const bool outside = m_lastMousePosition.y() < 0 || m_lastMousePosition.y() > viewport()->height();
    if (outside && !m_autoScrollTimer->isActive())
        m_autoScrollTimer->start();
    else if (!outside)
        m_autoScrollTimer->stop();
}

void CollectionView::mouseReleaseEvent(QMouseEvent *event)
{
    event->accept();
    if (m_pendingPlainClick && m_pressedItem)
        changeSelection({*m_pressedItem}, true);
    resetPressState();
}

void CollectionView::updateRubberBand()
{
    const QPointF current = QPointF(m_lastMousePosition) + scrollOffset();
    const QRectF band = QRectF(m_pressContentPoint, current).normalized();
    if (!m_rubberBand)
        m_rubberBand = new QRubberBand(QRubberBand::Rectangle, viewport());
    m_rubberBand->setGeometry(viewportRectFor(band));
    m_rubberBand->show();
    m_rubberBand->raise();
    QSet<IndexPath> selection = m_bandAdds ? m_selectionAtPress : QSet<IndexPath> {};
    for (const IndexPath &path : m_layout.itemsInRect(band))
        selection.insert(path);
    if (!selection.isEmpty() || m_allowsEmpty)
        changeSelection(selection, true);
}

void CollectionView::autoScrollStep()
{
    const int y = m_lastMousePosition.y();
    const int height = viewport()->height();
    const int beyond = y < 0 ? y : (y > height ? y - height : 0);
    if (!m_bandActive || beyond == 0) {
        m_autoScrollTimer->stop();
        return;
    }
    // Faster the further the mouse is past the edge, as in file managers.
    verticalScrollBar()->setValue(verticalScrollBar()->value() + std::clamp(beyond, -80, 80));
}

void CollectionView::startDrag()
{
    const std::optional<IndexPath> pressed = m_pressedItem;
    m_dragCandidate = false;
    m_pendingPlainClick = false;
    if (!m_delegate || m_dragging || !m_delegate->canDragItemsAt(this, m_selection))
        return;
    auto *mimeData = new QMimeData;
    if (!m_delegate->writeItemsAt(this, m_selection, mimeData)) {
        delete mimeData;
        return;
    }
    m_dragging = true;
    auto *drag = new QDrag(this);
    drag->setMimeData(mimeData);
    if (QWidget *widget = pressed ? m_visibleItems.value(*pressed) : nullptr) {
        const QPixmap image = widget->grab().scaled(QSize(128, 128), Qt::KeepAspectRatio, Qt::SmoothTransformation);
        drag->setPixmap(image);
        drag->setHotSpot(QPoint(image.width() / 2, image.height() / 2));
    }
    drag->exec(Qt::CopyAction);
    // The drag swallowed the release.
    resetPressState();
}

void CollectionView::keyPressEvent(QKeyEvent *event)
{
    const qsizetype total = totalItems();
    if (!m_selectable || total == 0) {
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    if (event->matches(QKeySequence::SelectAll)) {
        if (m_multiple)
            selectAll(true);
        event->accept();
        return;
    }
    std::optional<IndexPath> from = m_cursor;
    if (!from && !m_selection.isEmpty())
        from = *std::min_element(m_selection.cbegin(), m_selection.cend());
    std::optional<IndexPath> target;
    switch (event->key()) {
    case Qt::Key_Left:
        if (!from || readingIndex(*from) > 0)
            target = indexPathAtReadingIndex(from ? readingIndex(*from) - 1 : 0);
        break;
    case Qt::Key_Right:
        if (!from || readingIndex(*from) + 1 < total)
            target = indexPathAtReadingIndex(from ? readingIndex(*from) + 1 : 0);
        break;
    case Qt::Key_Up:
        target = from ? m_layout.itemAbove(*from) : indexPathAtReadingIndex(0);
        break;
    case Qt::Key_Down:
        target = from ? m_layout.itemBelow(*from) : indexPathAtReadingIndex(0);
        break;
    case Qt::Key_Home:
        target = indexPathAtReadingIndex(0);
        break;
    case Qt::Key_End:
        target = indexPathAtReadingIndex(total - 1);
        break;
    default:
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    event->accept();
    if (target)
        moveCursorTo(*target, (event->modifiers() & Qt::ShiftModifier) && m_multiple);
}

// Drag and drop.

void CollectionView::dragEnterEvent(QDragEnterEvent *event)
{
    if (m_delegate && m_delegate->validateDrop(this, event->mimeData()))
        event->acceptProposedAction();
    else
        event->ignore();
}

void CollectionView::dragMoveEvent(QDragMoveEvent *event)
{
    if (m_delegate && m_delegate->validateDrop(this, event->mimeData()))
        event->acceptProposedAction();
    else
        event->ignore();
}

void CollectionView::dropEvent(QDropEvent *event)
{
    if (m_delegate && m_delegate->acceptDrop(this, event->mimeData()))
        event->acceptProposedAction();
    else
        event->ignore();
}

bool CollectionView::viewportEvent(QEvent *event)
{
    // Presses that item widgets ignore reach the viewport with viewport
    // coordinates; the base class hands them to the mouse handlers above.
    return QAbstractScrollArea::viewportEvent(event);
}
