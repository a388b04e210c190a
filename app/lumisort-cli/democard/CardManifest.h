#pragma once

#include "DemoCardPlan.h"

#include <QList>
#include <QString>

// The card's own account of what it holds, beside its folders, for tests and benchmarks to read.
class CardManifest
{
public:
    static QString fileName();
    static bool write(const DemoCardOptions &options, const QList<DemoCardPlan::Photo> &photos, QString *error);
};
