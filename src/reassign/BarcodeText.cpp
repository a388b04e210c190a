#include "BarcodeText.h"

#include <QStringView>

using namespace Qt::StringLiterals;

std::optional<QString> BarcodeText::problem(const QString &barcode)
{
    if (barcode.contains(u'/'))
        return u"A barcode cannot contain \"/\": the photos would be moved into another folder."_s;
    for (const QChar c : barcode) {
        // Tabs, line breaks, NUL, DEL and the C1 controls: no file name should carry them.
        if (c.category() == QChar::Other_Control)
            return u"A barcode cannot contain control characters (tab, line break, NUL ...)."_s;
    }
    // A name that is not valid text (bytes that were not UTF-8) cannot be shown or scanned back.
    if (!QStringView(barcode).isValidUtf16())
        return u"A barcode must be valid text."_s;
    if (barcode.contains(u".."_s))
        return u"A barcode cannot contain \"..\"."_s;
    if (barcode.startsWith(u'.'))
        return u"A barcode cannot begin with \".\": the photos would become hidden files."_s;
    if (barcode.toUtf8().size() > cMaxBytes)
        return u"A barcode cannot be longer than "_s + QString::number(cMaxBytes)
            + u" bytes: it would not fit in a file name."_s;
    return std::nullopt;
}
