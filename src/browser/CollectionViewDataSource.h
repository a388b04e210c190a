#pragma once

#include "model/IndexPath.h"

#include <QString>

class CollectionView;
class QWidget;

// What the grid shows: sections, their items and one header per section.
// Items and headers are made through CollectionView::makeItem and
// makeSupplementaryView, which hand out recycled widgets.
class CollectionViewDataSource
{
public:
    virtual ~CollectionViewDataSource() = default;
    virtual qsizetype numberOfSections(CollectionView *collectionView) = 0;
    virtual qsizetype numberOfItemsInSection(CollectionView *collectionView, qsizetype section) = 0;
    virtual QWidget *itemForRepresentedObjectAt(CollectionView *collectionView, const IndexPath &indexPath) = 0;
    // kind is CollectionView::cSectionHeaderKind; the index path's item is 0.
    virtual QWidget *viewForSupplementaryElementOfKind(CollectionView *collectionView, const QString &kind,
                                                       const IndexPath &indexPath) = 0;
};
