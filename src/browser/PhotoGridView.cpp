#include "PhotoGridView.h"

#include "HeaderView.h"
#include "PhotoItemDelegate.h"
#include "SelectionRuns.h"

#include <QApplication>
#include <QDrag>
#include <QDragEnterEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QRubberBand>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QTimer>
#include <algorithm>
#include <cmath>

PhotoGridView::PhotoGridView(QWidget *parent)
    : QAbstractItemView(parent)
    , m_headers(viewport())
{
    setFrameShape(QFrame::NoFrame);
    setFocusPolicy(Qt::StrongFocus);
    // Items always fit the width, so there is never anything to scroll sideways.
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollMode(ScrollPerPixel);
    setSelectionMode(ExtendedSelection);
    setEditTriggers(NoEditTriggers);
    verticalScrollBar()->setSingleStep(40);
    viewport()->setAcceptDrops(true);
    setItemDelegate(new PhotoItemDelegate(this));
    m_autoScrollTimer = new QTimer(this);
    m_autoScrollTimer->setInterval(30);
    connect(m_autoScrollTimer, &QTimer::timeout, this, &PhotoGridView::autoScrollStep);
}

void PhotoGridView::setItemSize(const QSizeF &size)
{
    if (size == m_itemSize)
        return;
    m_itemSize = size;
    updateGeometries();
}

void PhotoGridView::setHeaderHeight(qreal height)
{
    if (height == m_headerHeight)
        return;
    m_headerHeight = height;
    updateGeometries();
}

void PhotoGridView::setHeaderFiller(SectionHeaderBands::Filler filler)
{
    m_headers.setFiller(std::move(filler));
    updateHeaders(true);
}

void PhotoGridView::setBackgroundColor(const QColor &color)
{
    QPalette palette = viewport()->palette();
    palette.setColor(viewport()->backgroundRole(), color);
    viewport()->setPalette(palette);
    viewport()->setAutoFillBackground(true);
}

qsizetype PhotoGridView::numberOfItemsInSection(qsizetype section) const
{
    return section >= 0 && section < m_layout.sections().size() ? m_layout.sections().at(section).itemFrames.size() : 0;
}

QModelIndex PhotoGridView::modelIndex(const IndexPath &path) const
{
    if (!model() || !m_layout.isValid(path))
        return {};
    return model()->index(int(path.item), 0, model()->index(int(path.section), 0));
}

IndexPath PhotoGridView::pathOf(const QModelIndex &index)
{
    return {index.parent().row(), index.row()};
}

QRectF PhotoGridView::viewRect() const
{
    return {QPointF(0, verticalOffset()), QSizeF(viewport()->size())};
}

QList<IndexPath> PhotoGridView::indexPathsForVisibleItems() const
{
    return m_layout.itemsInRect(viewRect());
}

// --- layout -------------------------------------------------------------------

void PhotoGridView::prepareLayout()
{
    m_layoutWidth = viewport()->width();
    QList<qsizetype> counts;
    if (model()) {
        const int sections = model()->rowCount();
        counts.reserve(sections);
        for (int s = 0; s < sections; ++s)
            counts.append(model()->rowCount(model()->index(s, 0)));
    }
    m_layout.prepare(
        m_layoutWidth, counts.size(), [&](qsizetype s) { return counts.at(s); },
        [this](const IndexPath &) { return m_itemSize; }, [this](qsizetype) { return m_headerHeight; });
}

void PhotoGridView::updateScrollBars()
{
    QScrollBar *bar = verticalScrollBar();
    const int height = viewport()->height();
    bar->setPageStep(height);
    bar->setRange(0, std::max(0, int(std::ceil(m_layout.contentSize().height())) - height));
}

void PhotoGridView::relayout()
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

void PhotoGridView::updateGeometries()
{
    if (m_inLayout) {
        m_layoutPending = true;
        return;
    }
    relayout();
    updateHeaders(true);
    viewport()->update();
    noteVisibleItems();
}

void PhotoGridView::reset()
{
    QAbstractItemView::reset();
    m_anchor.reset();
    m_cursor.reset();
    resetPressState();
    updateGeometries();
}

void PhotoGridView::rowsInserted(const QModelIndex &parent, int start, int end)
{
    QAbstractItemView::rowsInserted(parent, start, end);
    updateGeometries();
}

void PhotoGridView::rowsAboutToBeRemoved(const QModelIndex &parent, int start, int end)
{
    QAbstractItemView::rowsAboutToBeRemoved(parent, start, end);
    // The rows are still there now: the layout follows once they are gone.
    m_anchor.reset();
    m_cursor.reset();
    scheduleDelayedItemsLayout();
}

void PhotoGridView::updateHeaders(bool refill)
{
    m_headers.place(m_layout, viewRect(), model(), refill);
    if (m_rubberBand && m_rubberBand->isVisible())
        m_rubberBand->raise();
}

void PhotoGridView::noteVisibleItems()
{
    QList<IndexPath> visible = indexPathsForVisibleItems();
    if (visible == m_visibleItems)
        return;
    m_visibleItems = std::move(visible);
    Q_EMIT visibleItemsChanged();
}

void PhotoGridView::setContentOffset(const QPointF &offset)
{
    verticalScrollBar()->setValue(qRound(offset.y()));
}

int PhotoGridView::verticalOffset() const
{
    return verticalScrollBar()->value();
}

void PhotoGridView::scrollToItem(const IndexPath &path)
{
    verticalScrollBar()->setValue(m_layout.topShowing(path, verticalOffset(), viewport()->height()));
}

void PhotoGridView::scrollTo(const QModelIndex &index, ScrollHint)
{
    if (index.isValid() && index.parent().isValid())
        scrollToItem(pathOf(index));
}

QRect PhotoGridView::visualRect(const QModelIndex &index) const
{
    if (!index.isValid())
        return {};
    const QRectF frame =
        index.parent().isValid() ? m_layout.frameForItem(pathOf(index)) : m_layout.frameForHeader(index.row());
    return frame.translated(0, -verticalOffset()).toRect();
}

QModelIndex PhotoGridView::indexAt(const QPoint &point) const
{
    const std::optional<IndexPath> path = m_layout.itemAt(QPointF(point) + QPointF(0, verticalOffset()));
    return path ? modelIndex(*path) : QModelIndex();
}

QModelIndex PhotoGridView::moveCursor(CursorAction, Qt::KeyboardModifiers)
{
    // Keys are handled in keyPressEvent, in reading order across sections.
    return {};
}

void PhotoGridView::setSelection(const QRect &rect, QItemSelectionModel::SelectionFlags command)
{
    QItemSelection selection;
    for (const IndexPath &path : m_layout.itemsInRect(QRectF(rect).translated(0, verticalOffset()))) {
        const QModelIndex index = modelIndex(path);
        selection.select(index, index);
    }
    selectionModel()->select(selection, command);
}

QRegion PhotoGridView::visualRegionForSelection(const QItemSelection &selection) const
{
    QRegion region;
    const QRectF view = viewRect();
    for (const QItemSelectionRange &range : selection) {
        const QRectF run = range.parent().isValid()
            ? m_layout.frameForRun(range.parent().row(), range.top(), range.bottom()).intersected(view)
            : QRectF();
        if (!run.isEmpty())
            region += run.translated(0, -view.top()).toAlignedRect();
    }
    return region;
}

void PhotoGridView::dataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight, const QList<int> &)
{
    if (!topLeft.isValid() || !topLeft.parent().isValid()) {
        updateHeaders(true);
        return;
    }
    viewport()->update(visualRegionForSelection(QItemSelection(topLeft, bottomRight)));
}

void PhotoGridView::selectionChanged(const QItemSelection &selected, const QItemSelection &deselected)
{
    viewport()->update(visualRegionForSelection(selected) + visualRegionForSelection(deselected));
}

void PhotoGridView::resizeEvent(QResizeEvent *event)
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
        const int top = verticalOffset();
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
    updateHeaders(false);
    viewport()->update();
    noteVisibleItems();
}

void PhotoGridView::scrollContentsBy(int dx, int dy)
{
    // During a relayout everything is placed and painted afterwards anyway.
    if (m_inLayout)
        return;
    // Scrolling the viewport moves the pixels and the header widgets along; only the
    // band that came into view is painted.
    if (viewport()->isVisible())
        viewport()->scroll(dx, dy);
    updateHeaders(false);
    if (m_bandActive)
        updateRubberBand();
    noteVisibleItems();
}

void PhotoGridView::paintEvent(QPaintEvent *event)
{
    if (!model())
        return;
    QPainter painter(viewport());
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    const QItemSelectionModel *selection = selectionModel();
    const QStyle::State base = option.state & ~QStyle::State_Selected;
    const qreal top = verticalOffset();
    for (const IndexPath &path : m_layout.itemsInRect(QRectF(event->rect()).translated(0, top))) {
        const QModelIndex index = modelIndex(path);
        if (!index.isValid())
            continue; // rows removed, the layout not yet redone
        option.rect = m_layout.frameForItem(path).translated(0, -top).toRect();
        option.state = selection->isSelected(index) ? base | QStyle::State_Selected : base;
        itemDelegateForIndex(index)->paint(&painter, option, index);
    }
}

// --- selection ------------------------------------------------------------------

QSet<IndexPath> PhotoGridView::selectionIndexPaths() const
{
    return selectionModel() ? SelectionRuns::paths(selectionModel()->selection()) : QSet<IndexPath>();
}

void PhotoGridView::changeSelection(const QSet<IndexPath> &paths)
{
    if (selectionModel() && paths != selectionIndexPaths())
        selectionModel()->select(SelectionRuns::ranges(paths, [this](const IndexPath &p) { return modelIndex(p); }),
                                 QItemSelectionModel::ClearAndSelect);
}

void PhotoGridView::selectItems(const QSet<IndexPath> &paths)
{
    changeSelection(selectionIndexPaths().unite(paths));
}

void PhotoGridView::deselectItems(const QSet<IndexPath> &paths)
{
    changeSelection(selectionIndexPaths().subtract(paths));
}

void PhotoGridView::selectAll()
{
    QItemSelection all;
    for (qsizetype s = 0; s < numberOfSections(); ++s) {
        if (const qsizetype count = numberOfItemsInSection(s))
            all.append(QItemSelectionRange(modelIndex({s, 0}), modelIndex({s, count - 1})));
    }
    if (selectionModel())
        selectionModel()->select(all, QItemSelectionModel::ClearAndSelect);
}

void PhotoGridView::deselectAll()
{
    if (selectionModel() && selectionModel()->hasSelection())
        selectionModel()->clearSelection();
}

void PhotoGridView::moveCursorTo(const IndexPath &target, bool extend)
{
    if (extend) {
        if (!m_anchor)
            m_anchor = m_cursor.value_or(target);
        changeSelection(m_layout.itemsBetween(*m_anchor, target));
    } else {
        m_anchor = target;
        changeSelection({target});
    }
    m_cursor = target;
    scrollToItem(target);
}

// --- mouse ----------------------------------------------------------------------

void PhotoGridView::resetPressState()
{
    m_pressedItem.reset();
    m_pendingPlainClick = false;
    m_dragCandidate = false;
    m_bandCandidate = false;
    m_bandActive = false;
    m_autoScrollTimer->stop();
    if (m_rubberBand)
        m_rubberBand->hide();
}

void PhotoGridView::mousePressEvent(QMouseEvent *event)
{
    event->accept();
    resetPressState();
    setFocus(Qt::MouseFocusReason);
    m_pressPosition = event->position().toPoint();
    m_lastMousePosition = m_pressPosition;
    m_pressContentPoint = event->position() + QPointF(0, verticalOffset());
    m_pressedItem = m_layout.itemAt(m_pressContentPoint);
    const QSet<IndexPath> selection = selectionIndexPaths();
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    const bool shift = event->modifiers() & Qt::ShiftModifier;

    if (event->button() != Qt::LeftButton) {
        // A context menu acts on what is under the mouse.
        if (event->button() == Qt::RightButton && m_pressedItem && !selection.contains(*m_pressedItem)) {
            m_anchor = m_cursor = m_pressedItem;
            changeSelection({*m_pressedItem});
        }
        return;
    }
    if (!m_pressedItem) {
        if (!ctrl)
            deselectAll();
        m_selectionAtPress = selectionIndexPaths();
        m_bandCandidate = true;
        m_bandAdds = ctrl;
        return;
    }
    const IndexPath item = *m_pressedItem;
    if (shift) {
        if (!m_anchor)
            m_anchor = item;
        const QSet<IndexPath> range = m_layout.itemsBetween(*m_anchor, item);
        changeSelection(ctrl ? QSet<IndexPath>(selection).unite(range) : range);
    } else if (ctrl) {
        QSet<IndexPath> toggled = selection;
        if (!toggled.remove(item))
            toggled.insert(item);
        changeSelection(toggled);
        m_anchor = item;
    } else {
        // A marked item stays part of the marks until release, so all of them can be dragged.
        if (selection.contains(item))
            m_pendingPlainClick = selection.size() > 1;
        else
            changeSelection({item});
        m_anchor = item;
    }
    m_cursor = item;
    m_dragCandidate = selectionModel()->isSelected(modelIndex(item));
}

void PhotoGridView::mouseMoveEvent(QMouseEvent *event)
{
    event->accept();
    if (!(event->buttons() & Qt::LeftButton))
        return;
    m_lastMousePosition = event->position().toPoint();
    const bool farEnough =
        (m_lastMousePosition - m_pressPosition).manhattanLength() >= QApplication::startDragDistance();
    if (m_dragCandidate) {
        if (farEnough)
            startPhotoDrag();
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

void PhotoGridView::mouseReleaseEvent(QMouseEvent *event)
{
    event->accept();
    if (m_pendingPlainClick && m_pressedItem)
        changeSelection({*m_pressedItem});
    resetPressState();
}

void PhotoGridView::mouseDoubleClickEvent(QMouseEvent *event)
{
    // Opening a photo leaves the marks alone; elsewhere a double click is a press.
    const QModelIndex index = indexAt(event->position().toPoint());
    if (event->button() == Qt::LeftButton && index.isValid()) {
        event->accept();
        Q_EMIT doubleClicked(index);
        return;
    }
    mousePressEvent(event);
}

void PhotoGridView::updateRubberBand()
{
    const QPointF current = QPointF(m_lastMousePosition) + QPointF(0, verticalOffset());
    const QRectF band = QRectF(m_pressContentPoint, current).normalized();
    if (!m_rubberBand)
        m_rubberBand = new QRubberBand(QRubberBand::Rectangle, viewport());
    m_rubberBand->setGeometry(band.translated(0, -verticalOffset()).toRect());
    m_rubberBand->show();
    m_rubberBand->raise();
    QSet<IndexPath> selection = m_bandAdds ? m_selectionAtPress : QSet<IndexPath> {};
    for (const IndexPath &path : m_layout.itemsInRect(band))
        selection.insert(path);
    changeSelection(selection);
}

void PhotoGridView::autoScrollStep()
{
    const int y = m_lastMousePosition.y();
    const int height = viewport()->height();
    const int beyond = y < 0 ? y : (y > height ? y - height : 0);
    if (!m_bandActive || beyond == 0) {
        m_autoScrollTimer->stop();
        return;
    }
    // Faster the further the mouse is past the edge, as in file managers.
    verticalScrollBar()->setValue(verticalOffset() + std::clamp(beyond, -80, 80));
}

void PhotoGridView::startPhotoDrag()
{
    const std::optional<IndexPath> pressed = m_pressedItem;
    m_dragCandidate = false;
    m_pendingPlainClick = false;
    QList<IndexPath> paths = selectionIndexPaths().values();
    std::sort(paths.begin(), paths.end());
    QModelIndexList indexes;
    for (const IndexPath &path : std::as_const(paths))
        indexes.append(modelIndex(path));
    QMimeData *mimeData = model()->mimeData(indexes);
    if (!mimeData)
        return;
    auto *drag = new QDrag(this);
    drag->setMimeData(mimeData);
    if (pressed) {
        const QPixmap image = viewport()
                                  ->grab(visualRect(modelIndex(*pressed)))
                                  .scaled(QSize(128, 128), Qt::KeepAspectRatio, Qt::SmoothTransformation);
        drag->setPixmap(image);
        drag->setHotSpot(QPoint(image.width() / 2, image.height() / 2));
    }
    drag->exec(Qt::CopyAction);
    // The drag swallowed the release.
    resetPressState();
}

// Drops are welcome and change nothing: the grid shows the folder, it is not a target.
void PhotoGridView::dragEnterEvent(QDragEnterEvent *event)
{
    event->acceptProposedAction();
}

void PhotoGridView::dragMoveEvent(QDragMoveEvent *event)
{
    event->acceptProposedAction();
}

void PhotoGridView::dropEvent(QDropEvent *event)
{
    event->acceptProposedAction();
}

// --- keys -----------------------------------------------------------------------

void PhotoGridView::keyPressEvent(QKeyEvent *event)
{
    if (m_layout.itemCount() > 0 && event->matches(QKeySequence::SelectAll)) {
        selectAll();
        event->accept();
        return;
    }
    std::optional<IndexPath> from = m_cursor;
    const QSet<IndexPath> selection = selectionIndexPaths();
    if (!from && !selection.isEmpty())
        from = *std::min_element(selection.cbegin(), selection.cend());
    static const QList<int> moves {Qt::Key_Left, Qt::Key_Right, Qt::Key_Up, Qt::Key_Down, Qt::Key_Home, Qt::Key_End};
    if (m_layout.itemCount() == 0 || !moves.contains(event->key())) {
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    event->accept();
    if (const std::optional<IndexPath> target = m_layout.itemForKey(event->key(), from))
        moveCursorTo(*target, event->modifiers() & Qt::ShiftModifier);
}
