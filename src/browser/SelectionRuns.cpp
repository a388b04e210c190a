#include "SelectionRuns.h"

#include <algorithm>

QSet<IndexPath> SelectionRuns::paths(const QItemSelection &selection)
{
    QSet<IndexPath> result;
    for (const QItemSelectionRange &range : selection) {
        // Section rows are not photos.
        if (!range.parent().isValid())
            continue;
        for (int row = range.top(); row <= range.bottom(); ++row)
            result.insert({range.parent().row(), row});
    }
    return result;
}

QItemSelection SelectionRuns::ranges(const QSet<IndexPath> &paths,
                                     const std::function<QModelIndex(const IndexPath &)> &indexOf)
{
    QList<IndexPath> sorted(paths.cbegin(), paths.cend());
    std::sort(sorted.begin(), sorted.end());
    QItemSelection selection;
    for (qsizetype first = 0; first < sorted.size();) {
        qsizetype last = first;
        while (last + 1 < sorted.size() && sorted.at(last + 1).section == sorted.at(first).section
               && sorted.at(last + 1).item == sorted.at(last).item + 1)
            ++last;
        const QModelIndex from = indexOf(sorted.at(first));
        const QModelIndex to = indexOf(sorted.at(last));
        if (from.isValid() && to.isValid())
            selection.append(QItemSelectionRange(from, to));
        first = last + 1;
    }
    return selection;
}
