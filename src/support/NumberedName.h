#pragma once

#include <QByteArray>
#include <QtGlobal>
#include <optional>

// The name a photo takes when another photo already has its own: "IMG_0001-2.JPG"
// for 2. The barcode id stays in front, so the photo stays in its group, and the
// extension at the end, so it keeps its type. Filing into a destination and
// importing a card with repeated names both number photos this way.
class NumberedName
{
public:
    static constexpr qsizetype cLongestName = 255; // bytes in one name on the common file systems
    static constexpr int cMostNumbers = 9999; // tried before a name counts as having no free number

    // Nothing when the name would grow past cLongestName.
    static std::optional<QByteArray> make(const QByteArray &name, int number);
};
