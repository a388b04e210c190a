#pragma once

#include "model/IndexPath.h"

#include <QItemSelection>
#include <QSet>
#include <functional>

// Marked photos of a sectioned grid as an item selection and back: one range per run
// of neighbours in a section, so that a rubber band or a select-all over thousands of
// photos stays a handful of ranges for the selection model to keep and test.
class SelectionRuns
{
public:
    static QSet<IndexPath> paths(const QItemSelection &selection);
    static QItemSelection ranges(const QSet<IndexPath> &paths,
                                 const std::function<QModelIndex(const IndexPath &)> &indexOf);
};
