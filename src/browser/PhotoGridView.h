#pragma once

#include "SectionHeaderBands.h"
#include "SectionedGridLayout.h"
#include "model/IndexPath.h"

#include <QAbstractItemView>
#include <QHash>
#include <QList>
#include <QSet>
#include <functional>
#include <optional>

class HeaderView;
class QRubberBand;
class QTimer;

// The thumbnail grid over a two-level model: each top-level row is a section shown
// under a header band (with its buttons), its children are the photos, laid out in
// rows by SectionedGridLayout and painted by the item delegate. Only the headers in
// view are widgets; the one of the section at the top stays pinned there. Marking
// works as in a file manager: click, Ctrl+click, Shift+click ranges in reading
// order, rubber band, arrow keys (Shift extends), Home/End, Ctrl+A.
class PhotoGridView : public QAbstractItemView
{
    Q_OBJECT

public:
    explicit PhotoGridView(QWidget *parent = nullptr);

    void setItemSize(const QSizeF &size);
    void setHeaderHeight(qreal height);
    // Fills a header band for a section whenever it comes into view or the model changes.
    void setHeaderFiller(SectionHeaderBands::Filler filler);
    // The headers in view are filled again: what they show changed outside the model.
    void refillHeaders() { updateHeaders(true); }
    const SectionedGridLayout &gridLayout() const { return m_layout; }
    void setBackgroundColor(const QColor &color);

    qsizetype numberOfSections() const { return m_layout.sections().size(); }
    qsizetype numberOfItemsInSection(qsizetype section) const;
    QModelIndex modelIndex(const IndexPath &path) const;
    static IndexPath pathOf(const QModelIndex &index);
    QRectF frameForItem(const IndexPath &path) const { return m_layout.frameForItem(path); }
    // The items on screen (at least partly), in reading order.
    QList<IndexPath> indexPathsForVisibleItems() const;
    // The header band showing a section, when it is in view; null otherwise.
    HeaderView *headerForSection(qsizetype section) const { return m_headers.header(section); }

    QSet<IndexPath> selectionIndexPaths() const;
    void selectItems(const QSet<IndexPath> &paths);
    void deselectItems(const QSet<IndexPath> &paths);
    void selectAll() override;
    void deselectAll();

    QPointF contentOffset() const { return {0, qreal(verticalOffset())}; }
    void setContentOffset(const QPointF &offset);
    // Scrolls so that the item shows clear of the header pinned over the top.
    void scrollToItem(const IndexPath &path);

    QRect visualRect(const QModelIndex &index) const override;
    void scrollTo(const QModelIndex &index, ScrollHint hint = EnsureVisible) override;
    QModelIndex indexAt(const QPoint &point) const override;

Q_SIGNALS:
    // The items on screen changed (scrolling, resizing, a new listing).
    void visibleItemsChanged();

protected:
    QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;
    int horizontalOffset() const override { return 0; }
    int verticalOffset() const override;
    bool isIndexHidden(const QModelIndex &) const override { return false; }
    void setSelection(const QRect &rect, QItemSelectionModel::SelectionFlags command) override;
    QRegion visualRegionForSelection(const QItemSelection &selection) const override;
    void reset() override;
    void rowsInserted(const QModelIndex &parent, int start, int end) override;
    void rowsAboutToBeRemoved(const QModelIndex &parent, int start, int end) override;
    void dataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight,
                     const QList<int> &roles = QList<int>()) override;
    void selectionChanged(const QItemSelection &selected, const QItemSelection &deselected) override;
    void updateGeometries() override;
    void scrollContentsBy(int dx, int dy) override;
    void resizeEvent(QResizeEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void relayout();
    void prepareLayout();
    void updateScrollBars();
    void updateHeaders(bool refill);
    void noteVisibleItems();
    QRectF viewRect() const;
    void changeSelection(const QSet<IndexPath> &paths);
    void moveCursorTo(const IndexPath &target, bool extend);
    void updateRubberBand();
    void autoScrollStep();
    void startPhotoDrag();
    void resetPressState();

    SectionedGridLayout m_layout;
    QSizeF m_itemSize {200, 200};
    qreal m_headerHeight = 40;
    int m_layoutWidth = -1;
    bool m_inLayout = false;
    bool m_layoutPending = false;
    SectionHeaderBands m_headers;
    QList<IndexPath> m_visibleItems;

    std::optional<IndexPath> m_anchor;
    std::optional<IndexPath> m_cursor;
    std::optional<IndexPath> m_pressedItem;
    bool m_pendingPlainClick = false; // a plain press on a marked item, resolved on release
    bool m_dragCandidate = false;
    bool m_bandCandidate = false;
    bool m_bandActive = false;
    bool m_bandAdds = false;
    QPoint m_pressPosition; // viewport coordinates
    QPoint m_lastMousePosition;
    QPointF m_pressContentPoint;
    QSet<IndexPath> m_selectionAtPress;
    QRubberBand *m_rubberBand = nullptr;
    QTimer *m_autoScrollTimer = nullptr;
};
