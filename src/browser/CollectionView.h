#pragma once

#include "CollectionViewFlowLayout.h"
#include "model/IndexPath.h"

#include <QAbstractScrollArea>
#include <QColor>
#include <QHash>
#include <QList>
#include <QPointer>
#include <QSet>
#include <functional>

class CollectionViewDataSource;
class CollectionViewDelegate;
class QRubberBand;
class QTimer;

// A sectioned, virtualised thumbnail grid: only the item and header widgets in
// view (and a margin around it) exist; they are recycled while scrolling, so a
// folder of thousands of photos never makes thousands of widgets. Selection
// works as in a file manager: click, Ctrl+click, Shift+click ranges, rubber
// band, arrow keys (Shift extends), Ctrl+A.
class CollectionView : public QAbstractScrollArea
{
    Q_OBJECT

public:
    static const QString cSectionHeaderKind;

    // Both the data source and the delegate must be set before anything shows;
    // setting the second of them loads the data.
    explicit CollectionView(QWidget *parent = nullptr);
    ~CollectionView() override;

    void setDataSource(CollectionViewDataSource *dataSource);
    void setDelegate(CollectionViewDelegate *delegate);
    CollectionViewFlowLayout &collectionViewLayout() { return m_layout; }

    // How to make a fresh widget for an identifier ("CollectionViewItem", "HeaderView").
    void registerClass(const QString &identifier, std::function<QWidget *(QWidget *parent)> factory);
    // A recycled or new widget for the identifier, to be filled in by the data source.
    QWidget *makeItem(const QString &identifier, const IndexPath &indexPath);
    QWidget *makeSupplementaryView(const QString &kind, const QString &identifier, const IndexPath &indexPath);

    // Asks the data source for everything again; the scroll position is kept
    // (clamped to the new content).
    void reloadData();
    // Asks the data source again for these items only (when they are in view).
    void reloadItems(const QSet<IndexPath> &indexPaths);
    // Asks the delegate for the sizes again and moves the widgets in view,
    // without fetching them again (a thumbnail size change).
    void invalidateLayout();

    qsizetype numberOfSections() const;
    qsizetype numberOfItemsInSection(qsizetype section) const;
    // The widget showing an item or a header, when it is in view; null otherwise.
    QWidget *itemAtIndexPath(const IndexPath &indexPath) const;
    QWidget *headerForSection(qsizetype section) const;
    // Items and sections that have a widget now: those in view plus a margin.
    // The items on screen (at least partly), in order.
    QList<IndexPath> indexPathsForVisibleItems() const;
    // The items that have a widget: on screen and in the margin kept around it.
    QList<IndexPath> preparedIndexPaths() const;
    QList<qsizetype> visibleSections() const;
    // In content coordinates: the part of the content whose widgets are kept
    // (the viewport and half its height above and below).
    QRectF preparedRect() const;
    // How many item and header widgets exist at all (shown or waiting for reuse).
    int createdWidgetCount() const { return m_createdWidgets; }

    bool isSelectable() const { return m_selectable; }
    void setSelectable(bool on) { m_selectable = on; }
    bool allowsMultipleSelection() const { return m_multiple; }
    void setAllowsMultipleSelection(bool on) { m_multiple = on; }
    bool allowsEmptySelection() const { return m_allowsEmpty; }
    void setAllowsEmptySelection(bool on) { m_allowsEmpty = on; }

    const QSet<IndexPath> &selectionIndexPaths() const { return m_selection; }
    // Programmatic changes; the delegate hears of them only when notify is set.
    void selectItems(const QSet<IndexPath> &indexPaths, bool notify = false);
    void deselectItems(const QSet<IndexPath> &indexPaths, bool notify = false);
    void selectAll(bool notify = false);
    void deselectAll(bool notify = false);

    QPointF contentOffset() const;
    void setContentOffset(const QPointF &offset);
    void scrollToItem(const IndexPath &indexPath);
    QRectF frameForItem(const IndexPath &indexPath) const { return m_layout.frameForItem(indexPath); }

    void setBackgroundColor(const QColor &color);

Q_SIGNALS:
    // The set of items in view changed (scrolling, resizing, reloading).
    void visibleItemsChanged();

protected:
    void resizeEvent(QResizeEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    bool viewportEvent(QEvent *event) override;

private:
    void relayout();
    void updateVisibleWidgets(bool repositionAll);
    void recycle(const QString &identifier, QWidget *widget);
    void changeSelection(const QSet<IndexPath> &newSelection, bool notify);
    QList<IndexPath> allIndexPathsInOrder() const;

    void loadSizes();
    void prepareLayout();
    void updateScrollBars();
    void recycleAll();
    void fetchItem(const IndexPath &indexPath);
    void fetchHeader(qsizetype section);
    void forgetWidget(QObject *object);
    QPoint scrollOffset() const;
    QRect viewportRectFor(const QRectF &contentFrame) const;
    // Reading order over all sections.
    qsizetype totalItems() const;
    qsizetype readingIndex(const IndexPath &indexPath) const;
    IndexPath indexPathAtReadingIndex(qsizetype index) const;
    QSet<IndexPath> rangeBetween(const IndexPath &from, const IndexPath &to) const;
    void moveCursorTo(const IndexPath &target, bool extend);
    void updateRubberBand();
    void autoScrollStep();
    void startDrag();
    void resetPressState();

    QList<QList<QSizeF>> m_itemSizes;
    QList<qreal> m_headerHeights;
    QList<qsizetype> m_sectionStarts; // reading index of each section's first item
    int m_layoutWidth = -1;
    bool m_inLayout = false;
    bool m_layoutPending = false;
    bool m_pendingPlainClick = false; // a plain press on a selected item, resolved on release
    bool m_dragCandidate = false;
    bool m_bandCandidate = false;
    bool m_bandAdds = false;
    QPoint m_lastMousePosition; // viewport coordinates
    QTimer *m_autoScrollTimer = nullptr;

    CollectionViewDataSource *m_dataSource = nullptr;
    CollectionViewDelegate *m_delegate = nullptr;
    CollectionViewFlowLayout m_layout;
    QHash<QString, std::function<QWidget *(QWidget *)>> m_factories;
    QHash<QString, QList<QWidget *>> m_reusePool;
    QHash<IndexPath, QWidget *> m_visibleItems;
    QHash<qsizetype, QWidget *> m_visibleHeaders;
    QHash<QWidget *, QString> m_identifierOf;
    int m_createdWidgets = 0;
    bool m_selectable = true;
    bool m_multiple = true;
    bool m_allowsEmpty = true;
    QSet<IndexPath> m_selection;
    std::optional<IndexPath> m_anchor;
    std::optional<IndexPath> m_cursor;
    QRubberBand *m_rubberBand = nullptr;
    QPoint m_pressPosition; // viewport coordinates
    QPointF m_pressContentPoint; // content coordinates
    QSet<IndexPath> m_selectionAtPress;
    bool m_dragging = false;
    bool m_bandActive = false;
    std::optional<IndexPath> m_pressedItem;
};
