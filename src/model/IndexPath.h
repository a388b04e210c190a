#pragma once

#include <QMetaType>
#include <QtGlobal>

// A photo's place in the sectioned grid: the section, and the item within it.
struct IndexPath
{
    qsizetype section = 0;
    qsizetype item = 0;

    friend bool operator==(const IndexPath &, const IndexPath &) = default;
    friend auto operator<=>(const IndexPath &, const IndexPath &) = default;
};

inline size_t qHash(const IndexPath &path, size_t seed = 0)
{
    return qHashMulti(seed, path.section, path.item);
}

Q_DECLARE_METATYPE(IndexPath)
