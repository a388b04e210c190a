#include "Plural.h"

QString Plural::count(qint64 n, const QString &singular, const QString &plural)
{
    return QString::number(n) + QLatin1Char(' ') + word(n, singular, plural);
}

QString Plural::word(qint64 n, const QString &singular, const QString &plural)
{
    return n == 1 ? singular : plural;
}
