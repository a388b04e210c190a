#pragma once

#include <QString>

// English counts in the interface: "1 photo", "3 photos". Qt's tr("%n photo(s)", "", n) only
// pluralises through a translation file, and the interface ships none, so the choice is made here.
class Plural
{
public:
    // The number followed by the word that agrees with it: "1 photo", "0 photos", "12 photos".
    static QString count(qint64 n, const QString &singular, const QString &plural);
    // Only the word that agrees with n, for sentences that place the number themselves.
    static QString word(qint64 n, const QString &singular, const QString &plural);
};
