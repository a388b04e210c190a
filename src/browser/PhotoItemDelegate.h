#pragma once

#include <QStyledItemDelegate>

// Paints one photo of the grid: its thumbnail fitted inside a padding, its name
// under it, the code read in it as a badge over the foot of the thumbnail, and a
// red frame while it is marked.
class PhotoItemDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    static constexpr qreal cHighlightWidth = 5.0;

    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
};
