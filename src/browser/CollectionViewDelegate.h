#pragma once

#include "model/IndexPath.h"

#include <QSet>
#include <QSizeF>

class CollectionView;
class QMimeData;

// Sizes, selection and drag-and-drop answers for the grid.
class CollectionViewDelegate
{
public:
    virtual ~CollectionViewDelegate() = default;
    virtual QSizeF sizeForItemAt(CollectionView *collectionView, const IndexPath &indexPath) = 0;
    // The header's height; its width is the view's width.
    virtual QSizeF referenceSizeForHeaderInSection(CollectionView *collectionView, qsizetype section) = 0;
    // Called after the selection changed by the operator's hand (click, keys, rubber
    // band) or by selectItems/deselectItems with notify set.
    virtual void didSelectItemsAt(CollectionView *, const QSet<IndexPath> &) { }
    virtual void didDeselectItemsAt(CollectionView *, const QSet<IndexPath> &) { }
    // Drag and drop. writeItemsAt fills the drag's data; returning false cancels the drag.
    virtual bool canDragItemsAt(CollectionView *, const QSet<IndexPath> &) { return false; }
    virtual bool writeItemsAt(CollectionView *, const QSet<IndexPath> &, QMimeData *) { return false; }
    virtual bool validateDrop(CollectionView *, const QMimeData *) { return false; }
    virtual bool acceptDrop(CollectionView *, const QMimeData *) { return false; }
};
