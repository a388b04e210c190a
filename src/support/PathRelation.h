#pragma once

#include <QByteArray>
#include <QString>

// How two folders lie to each other on disk. The paths alone cannot tell that a
// folder is mounted a second time elsewhere (a bind mount); the identity of each
// folder enclosing the inner one can.
class PathRelation
{
public:
    // Whether inner is outer or lies below it, by the path or through a second mount of
    // outer. Both absolute and resolved; a path that does not exist is judged by its text.
    static bool isSameOrInside(const QByteArray &inner, const QByteArray &outer);
    static bool isSameOrInside(const QString &inner, const QString &outer);
};
