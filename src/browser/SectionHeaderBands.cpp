#include "SectionHeaderBands.h"

#include "HeaderView.h"
#include "SectionedGridLayout.h"

#include <QAbstractItemModel>

SectionHeaderBands::SectionHeaderBands(QWidget *viewport)
    : m_viewport(viewport)
{ }

void SectionHeaderBands::place(const SectionedGridLayout &layout, const QRectF &inView, const QAbstractItemModel *model,
                               bool refill)
{
    // Bands are few: each is placed on every pass, since the pinned one stays while the rest scroll.
    const qreal top = inView.top();
    const std::optional<qsizetype> pinned = layout.sectionAt(top);
    QList<qsizetype> wanted = layout.headersInRect(inView);
    if (pinned && !wanted.contains(*pinned))
        wanted.append(*pinned);
    wanted.removeIf([&](qsizetype s) { return !layout.pinnedFrameForHeader(s, top).intersects(inView); });
    for (auto it = m_shown.begin(); it != m_shown.end();) {
        if (wanted.contains(it.key())) {
            ++it;
            continue;
        }
        it.value()->hide();
        m_spare.append(it.value());
        it = m_shown.erase(it);
    }
    for (const qsizetype section : std::as_const(wanted)) {
        HeaderView *band = m_shown.value(section);
        const bool fresh = !band;
        if (fresh) {
            band = m_spare.isEmpty() ? new HeaderView(m_viewport) : m_spare.takeLast();
            m_shown.insert(section, band);
        }
        if ((fresh || refill) && m_filler && model)
            m_filler(band, model->index(int(section), 0));
        band->setGeometry(layout.pinnedFrameForHeader(section, top).translated(0, -top).toRect());
        band->show();
    }
    // Above the photos that scroll under it.
    if (pinned) {
        if (HeaderView *band = m_shown.value(*pinned))
            band->raise();
    }
}
