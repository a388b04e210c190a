#pragma once

#include <QHash>
#include <QList>
#include <QModelIndex>

class QAbstractItemModel;
#include <functional>

class HeaderView;
class SectionedGridLayout;
class QRectF;
class QWidget;

// The header bands of a sectioned grid as widgets over its viewport: only those of
// the sections in view exist, reused as the view scrolls, and the one of the section
// at the top stays pinned there (its buttons always at hand) over the photos.
class SectionHeaderBands
{
public:
    using Filler = std::function<void(HeaderView *header, const QModelIndex &section)>;

    explicit SectionHeaderBands(QWidget *viewport);

    void setFiller(Filler filler) { m_filler = std::move(filler); }
    // Places the bands for the part of the content in view (content coordinates);
    // refill asks the filler again for those already shown.
    void place(const SectionedGridLayout &layout, const QRectF &inView, const QAbstractItemModel *model, bool refill);
    HeaderView *header(qsizetype section) const { return m_shown.value(section); }

private:
    QWidget *m_viewport;
    Filler m_filler;
    QHash<qsizetype, HeaderView *> m_shown;
    QList<HeaderView *> m_spare;
};
