#include "NumberedName.h"

std::optional<QByteArray> NumberedName::make(const QByteArray &name, int number)
{
    // A leading dot starts a hidden name, not an extension.
    const qsizetype dot = name.lastIndexOf('.');
    const qsizetype split = dot > 0 ? dot : name.size();
    QByteArray numbered = name.left(split);
    numbered.append('-').append(QByteArray::number(number)).append(name.mid(split));
    if (numbered.size() > cLongestName)
        return std::nullopt;
    return numbered;
}
